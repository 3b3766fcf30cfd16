// analyze on many workbooks: a pool of threads, each running the single-workbook steps on
// a session of its own, and the summary across the workbooks.
#include "cli/batch_command.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "app/commands/commands.h"
#include "cli/console_platform.h"
#include "cli/stop_signals.h"
#include "export/summary_export.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProgramVersion = QUORVEL_VERSION;
constexpr const char* kStatusStopped = "stopped";

// Text written to a FILE* collected in memory: what a job's platform and analysis would
// have printed, kept apart from the other jobs'.
class MemoryStream {
 public:
  MemoryStream() : file_(::open_memstream(&buffer_, &size_)) {}
  ~MemoryStream() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(buffer_);
  }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  // The stream, or standard error when no memory stream could be made.
  std::FILE* File() const { return file_ != nullptr ? file_ : stderr; }
  std::string Text() {
    if (file_ == nullptr || std::fflush(file_) != 0) return {};
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

// The console platform of one job: a message the commands show is kept, not printed, so
// that it can go to the summary and to standard error with the workbook's name.
class JobPlatform : public ConsolePlatform {
 public:
  explicit JobPlatform(std::FILE* other) : ConsolePlatform(other), other_(other) {}
  void ShowMessage(const std::string& text, MessageIcon /*icon*/) override { message = text; }
  // A warning goes with the job's other output, to be printed after the workbook's path.
  void ShowStatus(const std::string& text) override {
    if (!text.empty()) std::fprintf(other_, "warning: %s\n", text.c_str());
  }
  // The run goes on the job's own thread: the console's worker thread would be a new
  // thread per workbook, and the allocator would keep an arena for each of them.
  void StartWorker(std::function<void()> body) override { body(); }
  std::string message;

 private:
  std::FILE* other_;
};

// What one workbook's job came to.
struct JobOutcome {
  bool finished = false;  // the job ran to its end (stopped ones included)
  bool succeeded = false;
  bool stopped = false;
  std::string message;  // why it failed
  std::string notes;    // warnings and diagnostics the job printed
  double seconds = 0;
  std::vector<SummaryRow> rows;
};

// The sessions running now, so that a stop reaches each of them.
class RunningSessions {
 public:
  void Add(Session* session) {
    const std::lock_guard lock(mutex_);
    sessions_.insert(session);
  }
  void Remove(Session* session) {
    const std::lock_guard lock(mutex_);
    sessions_.erase(session);
  }
  // Registers a session for its lifetime.
  class Entry {
   public:
    Entry(RunningSessions& sessions, Session& session) : sessions_(sessions), session_(&session) {
      sessions_.Add(session_);
    }
    ~Entry() { sessions_.Remove(session_); }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

   private:
    RunningSessions& sessions_;
    Session* session_;
  };

  void StopAll() {
    const std::lock_guard lock(mutex_);
    // The flag itself: CancelRun would read the session's other state, which belongs to
    // the job's thread.
    for (Session* session : sessions_) session->stopRun.store(true);
  }

 private:
  std::mutex mutex_;
  std::set<Session*> sessions_;
};

const char* ExportExtension(ExportFormat format) {
  switch (format) {
    case ExportFormat::Json:
      return "json";
    case ExportFormat::Csv:
      return "csv";
    case ExportFormat::Xlsx:
      break;
  }
  return "xlsx";
}

// A message on one line of standard error: the message box's lines, trimmed, joined by a
// blank.
std::string OneLine(const std::string& text) {
  std::string line;
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    const std::size_t first = text.find_first_not_of(" \t\r", from);
    if (first != std::string::npos && first < end) {
      const std::size_t last = text.find_last_not_of(" \t\r", end - 1);
      if (!line.empty()) line += ' ';
      line.append(text, first, last + 1 - first);
    }
    from = end + 1;
  }
  return line;
}

// Every workbook of the batch, the jobs that work through them and what they came to.
class Batch {
 public:
  Batch(const WorkbookCommandOptions& common, const BatchOptions& options)
      : common_(common),
        options_(options),
        folders_(BatchOutputFolders(options.workbooks, common.outputDir)),
        outcomes_(options.workbooks.size()) {}

  // Runs the jobs on `threads` threads; reports finished workbooks on `err` as they come.
  void Run(int threads, std::FILE* err) {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back([this] { Work(); });
    std::unique_lock lock(mutex_);
    while (true) {
      finishedCondition_.wait_for(lock, std::chrono::milliseconds(50), [this, &pool] {
        return !finishedQueue_.empty() || idle_ == pool.size();
      });
      while (!finishedQueue_.empty()) {
        const std::size_t index = finishedQueue_.front();
        finishedQueue_.pop_front();
        ++reported_;
        lock.unlock();
        Report(index, err);
        lock.lock();
      }
      if (StopSignals::ExitStatus() != 0) {
        stopping_.store(true);
        // Repeated while jobs run: a run that was just starting clears its flag once.
        running_.StopAll();
      }
      if (idle_ == pool.size() && finishedQueue_.empty()) break;
    }
    lock.unlock();
    for (std::thread& thread : pool) thread.join();
  }

  // The summary's rows, in the order the workbooks were given.
  std::vector<SummaryRow> SummaryRows() const {
    std::vector<SummaryRow> rows;
    for (std::size_t k = 0; k < outcomes_.size(); ++k) {
      const JobOutcome& outcome = outcomes_[k];
      if (!outcome.finished) {
        rows.push_back(FailedSummaryRow(options_.workbooks[k], ModelKind::None, kStatusStopped));
      } else {
        rows.insert(rows.end(), outcome.rows.begin(), outcome.rows.end());
      }
    }
    return rows;
  }

  bool AllSucceeded() const {
    return std::all_of(outcomes_.begin(), outcomes_.end(),
                       [](const JobOutcome& o) { return o.succeeded; });
  }
  std::size_t FinishedCount() const {
    return static_cast<std::size_t>(
        std::count_if(outcomes_.begin(), outcomes_.end(),
                      [](const JobOutcome& o) { return o.finished && !o.stopped; }));
  }

 private:
  // A pool thread: takes the next workbook until none is left or the batch stops.
  void Work() {
    while (!stopping_.load()) {
      const std::size_t index = next_.fetch_add(1);
      if (index >= outcomes_.size()) break;
      JobOutcome outcome = RunJob(index);
      const std::lock_guard lock(mutex_);
      outcomes_[index] = std::move(outcome);
      finishedQueue_.push_back(index);
      finishedCondition_.notify_one();
    }
    const std::lock_guard lock(mutex_);
    ++idle_;
    finishedCondition_.notify_one();
  }

  // Imports and analyses one workbook as analyze FILE --output-dir FOLDER does.
  JobOutcome RunJob(std::size_t index) {
    const auto start = std::chrono::steady_clock::now();
    const std::string& file = options_.workbooks[index];
    const std::string& folder = folders_[index];
    std::error_code error;
    const bool madeFolder = fs::create_directories(folder, error);

    JobOutcome outcome;
    MemoryStream printed;
    JobPlatform platform(printed.File());
    Session session(platform);
    session.runDiagnostics = printed.File();
    WorkbookCommandOptions options = common_;
    options.workbook = file;
    options.outputDir = folder;
    options.print = PrintFormat::Text;
    options.exportPath.reset();

    ModelKind model = common_.model.value_or(ModelKind::None);
    try {
      if (!stopping_.load()) {
        if (!ImportForCommand(session, platform, options)) {
          outcome.message = platform.message;
        } else if (!stopping_.load()) {
          model = common_.model.value_or(session.designData->kind);
          const RunningSessions::Entry running(running_, session);
          const RunEnd end = RunImportedModel(session, platform, options);
          if (end == RunEnd::Done) {
            FinishDone(session, file, folder, outcome);
          } else if (end == RunEnd::Cancelled) {
            outcome.stopped = true;
          } else {
            outcome.message = platform.message;
          }
        }
      }
    } catch (const std::exception& failure) {
      // Whatever goes wrong with one workbook (memory, above all) is its own failure,
      // not the batch's.
      outcome = JobOutcome{};
      outcome.message = std::string("quorvel-cli: ") + failure.what();
    }
    if (stopping_.load() && !outcome.succeeded && outcome.message.empty()) outcome.stopped = true;
    if (outcome.stopped) outcome.message = kStatusStopped;
    if (!outcome.succeeded && outcome.rows.empty()) {
      outcome.rows.push_back(FailedSummaryRow(file, model, outcome.message));
    }
    // A workbook that left nothing leaves no folder either.
    if (madeFolder && fs::is_empty(folder, error)) fs::remove(folder, error);

    outcome.finished = true;
    outcome.notes = printed.Text();
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
  }

  // The report is written: the summary's rows and, when asked for, the export.
  void FinishDone(const Session& session, const std::string& file, const std::string& folder,
                  JobOutcome& outcome) {
    const AnalysisResult& result = *session.lastRun.result;
    std::string status = kSummaryStatusOk;
    if (options_.exportFormat) {
      const std::string path = folder + "/results." + ExportExtension(*options_.exportFormat);
      const ExportContext context{session.state.dataFileName, kProgramVersion};
      std::string error;
      if (!WriteResultExport(result, context, *options_.exportFormat, path, error)) {
        status = path + " cannot be created: " + error;
      }
    }
    outcome.succeeded = status == kSummaryStatusOk;
    if (!outcome.succeeded) outcome.message = status;
    outcome.rows = SummaryRowsOf(file, result, status);
  }

  // The lines of a finished workbook on standard error: what it printed, and its progress
  // line or, without progress, its failure.
  void Report(std::size_t index, std::FILE* err) const {
    const JobOutcome& outcome = outcomes_[index];
    const std::string& file = options_.workbooks[index];
    std::size_t from = 0;
    while (from < outcome.notes.size()) {
      std::size_t end = outcome.notes.find('\n', from);
      if (end == std::string::npos) end = outcome.notes.size();
      std::fprintf(err, "%s: %s\n", file.c_str(),
                   OneLine(outcome.notes.substr(from, end - from)).c_str());
      from = end + 1;
    }
    if (options_.progress) {
      if (outcome.succeeded) {
        std::fprintf(err, "[%zu/%zu] %s: done in %.1f s\n", reported_, outcomes_.size(),
                     file.c_str(), outcome.seconds);
      } else {
        std::fprintf(err, "[%zu/%zu] %s: %s\n", reported_, outcomes_.size(), file.c_str(),
                     OneLine(outcome.message).c_str());
      }
    } else if (!outcome.succeeded && !outcome.stopped) {
      std::fprintf(err, "%s: %s\n", file.c_str(), OneLine(outcome.message).c_str());
    }
    std::fflush(err);
  }

  const WorkbookCommandOptions& common_;
  const BatchOptions& options_;
  const std::vector<std::string> folders_;
  std::vector<JobOutcome> outcomes_;  // written under mutex_, read after the pool ends

  std::atomic<std::size_t> next_{0};
  std::atomic<bool> stopping_{false};
  RunningSessions running_;

  std::mutex mutex_;
  std::condition_variable finishedCondition_;
  std::deque<std::size_t> finishedQueue_;  // finished, not yet reported
  std::size_t idle_ = 0;                   // pool threads that have ended
  std::size_t reported_ = 0;               // finished workbooks reported so far
};

}  // namespace

std::vector<std::string> BatchOutputFolders(const std::vector<std::string>& workbooks,
                                            const std::optional<std::string>& outputDir) {
  std::vector<std::string> natural;
  for (const std::string& workbook : workbooks) {
    const fs::path path(workbook);
    std::string stem = path.stem().string();
    if (stem.empty() || stem == "." || stem == "..") stem = "workbook";
    const fs::path base = outputDir ? fs::path(*outputDir) : path.parent_path();
    natural.push_back((base / stem).lexically_normal().string());
  }
  // Every natural folder is claimed first, so that a suffix never takes the folder of a
  // workbook further down the list.
  std::set<std::string> claimed(natural.begin(), natural.end());
  std::set<std::string> given;
  std::vector<std::string> folders;
  for (const std::string& folder : natural) {
    std::string chosen = folder;
    if (!given.insert(folder).second) {
      for (int n = 2;; ++n) {
        chosen = folder + "-" + std::to_string(n);
        if (claimed.insert(chosen).second) break;
      }
      given.insert(chosen);
    }
    folders.push_back(chosen);
  }
  return folders;
}

int AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int RunBatchCommand(const WorkbookCommandOptions& common, const BatchOptions& options,
                    std::FILE* err) {
  const StopSignals signals;
  Batch batch(common, options);
  const int wanted = options.jobs > 0 ? options.jobs : AvailableCores();
  const int threads = static_cast<int>(
      std::clamp<std::size_t>(static_cast<std::size_t>(wanted), 1, options.workbooks.size()));
  batch.Run(threads, err);

  bool ok = batch.AllSucceeded();
  if (options.summaryPath) {
    std::string error;
    const std::optional<ExportFormat> format = ExportFormatOf(*options.summaryPath);
    if (!format ||
        !WriteSummary(batch.SummaryRows(), kProgramVersion, *format, *options.summaryPath, error)) {
      std::fprintf(err, "quorvel-cli: %s cannot be created: %s\n", options.summaryPath->c_str(),
                   error.c_str());
      ok = false;
    }
  }
  if (const int status = StopSignals::ExitStatus(); status != 0) {
    std::fprintf(err, "quorvel-cli: stopped; %zu of %zu workbooks finished, their files are kept\n",
                 batch.FinishedCount(), options.workbooks.size());
    return status;
  }
  return ok ? 0 : 1;
}

}  // namespace quorvel
