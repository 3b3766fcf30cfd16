// Wall time and peak memory of quorvel-cli analyze on a batch of workbooks: the same
// batch with --jobs 1 and with --jobs 2, and one workbook on its own for the memory a
// single run takes. Each run is a child process measured from its start to its exit;
// peak memory is the child's maximum resident set (getrusage). Times are medians of the
// repeated runs, the two job counts taking turns so that a noisy neighbour hits both.
//
//   batch_bench [--runs N] [--workbooks N] [--cli PATH] [--workbook PATH]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Measure {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of the child
  double peakMiB = 0;
  int exitCode = -1;
};

// Runs the program with its output thrown away; wall time and the child's peak memory.
Measure RunChild(const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);

  Measure measure;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  measure.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  measure.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  measure.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  measure.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return measure;
}

// The first three fields of /proc/loadavg, with a line end.
std::string LoadAverage() {
  std::string text = "unknown\n";
  if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
    char line[128];
    if (std::fgets(line, sizeof line, file) != nullptr) {
      text = line;
      std::size_t end = 0;
      for (int field = 0; field < 3 && end != std::string::npos; ++field) {
        end = text.find(' ', end + (field > 0 ? 1 : 0));
      }
      if (end != std::string::npos) text = text.substr(0, end) + "\n";
    }
    std::fclose(file);
  }
  return text;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  int workbooks = 40;
  std::string cli = QUORVEL_CLI;
  std::string workbook = QUORVEL_DEFAULT_WORKBOOK;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg == "--runs" && k + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++k]));
    } else if (arg == "--workbooks" && k + 1 < argc) {
      workbooks = std::max(2, std::atoi(argv[++k]));
    } else if (arg == "--cli" && k + 1 < argc) {
      cli = argv[++k];
    } else if (arg == "--workbook" && k + 1 < argc) {
      workbook = argv[++k];
    } else {
      std::fprintf(
          stderr, "usage: batch_bench [--runs N] [--workbooks N] [--cli PATH] [--workbook PATH]\n");
      return 2;
    }
  }

  const fs::path folder = fs::temp_directory_path() / ("batch_bench_" + std::to_string(::getpid()));
  fs::create_directories(folder / "in");
  std::vector<std::string> books;
  for (int k = 0; k < workbooks; ++k) {
    const fs::path copy = folder / "in" / ("trial_" + std::to_string(k) + ".xls");
    fs::copy_file(workbook, copy);
    books.push_back(copy.string());
  }
  auto batchArgs = [&](int jobs) {
    std::vector<std::string> args{cli, "analyze"};
    args.insert(args.end(), books.begin(), books.end());
    for (const std::string& a :
         {std::string("--jobs"), std::to_string(jobs), std::string("--output-dir"),
          (folder / ("out" + std::to_string(jobs))).string(), std::string("--summary"),
          (folder / ("summary" + std::to_string(jobs) + ".csv")).string()}) {
      args.push_back(a);
    }
    return args;
  };
  fs::create_directories(folder / "single");
  const std::vector<std::string> singleArgs{cli, "analyze", books[0], "--output-dir",
                                            (folder / "single").string()};

  std::printf("batch of %d copies of %s, %d runs each\n", workbooks,
              fs::path(workbook).filename().c_str(), runs);
  std::vector<double> single, one, two, singlePeak, onePeak, twoPeak, oneCpu, twoCpu;
  for (int r = 0; r < runs; ++r) {
    const Measure s = RunChild(singleArgs);
    // Alternate which job count goes first.
    const Measure a = r % 2 == 0 ? RunChild(batchArgs(1)) : Measure{};
    const Measure b = RunChild(batchArgs(2));
    const Measure c = r % 2 == 0 ? a : RunChild(batchArgs(1));
    if (s.exitCode != 0 || c.exitCode != 0 || b.exitCode != 0) {
      std::fprintf(stderr, "a run failed (exit %d, %d, %d)\n", s.exitCode, c.exitCode, b.exitCode);
      fs::remove_all(folder);
      return 1;
    }
    single.push_back(s.seconds);
    singlePeak.push_back(s.peakMiB);
    one.push_back(c.seconds);
    onePeak.push_back(c.peakMiB);
    two.push_back(b.seconds);
    twoPeak.push_back(b.peakMiB);
    oneCpu.push_back(c.cpuSeconds);
    twoCpu.push_back(b.cpuSeconds);
    std::printf("  run %d: single %.2f s, --jobs 1 %.2f s, --jobs 2 %.2f s\n", r + 1, s.seconds,
                c.seconds, b.seconds);
  }
  const double t1 = Median(one);
  const double t2 = Median(two);
  std::printf("one workbook alone:   %7.2f s  peak %6.1f MiB\n", Median(single),
              Median(singlePeak));
  std::printf("batch --jobs 1:       %7.2f s  peak %6.1f MiB  (%.3f s per workbook)\n", t1,
              Median(onePeak), t1 / workbooks);
  std::printf("batch --jobs 2:       %7.2f s  peak %6.1f MiB  (%.1f MiB per job)\n", t2,
              Median(twoPeak), Median(twoPeak) / 2);
  std::printf("speed-up --jobs 2 over --jobs 1: %.2fx\n", t1 / t2);
  // On a machine others are using, the wall times say how much processor the batch got;
  // its own work is the processor time, which a second job should not raise.
  std::printf("processor time: --jobs 1 %.2f s, --jobs 2 %.2f s; load average now %s",
              Median(oneCpu), Median(twoCpu), LoadAverage().c_str());
  fs::remove_all(folder);
  return 0;
}
