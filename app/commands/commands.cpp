// The commands of the menu, toolbar and keyboard, and the timer hand-off of an analysis run.
#include "app/commands/commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/commands/open_command.h"
#include "io/whole_file.h"

namespace quorvel {
namespace {

constexpr int kAnalysisTimerId = 1;
constexpr int kAnalysisTimerPeriodMs = 200;
// Ticks (one second) between the run's end and the scroll size fitted to the report.
constexpr int kHandOffTicks = 5;

constexpr const char* kSaveFilter = "Text files(*.txt)|*.txt|All files(*.*)|*.*||";
constexpr const char* kReportCannotBeOpenedSuffix = " cannot be opened!";
constexpr const char* kCopyCannotBeCreatedSuffix = " cannot be created!";

// The folder part of a path, ending in a separator ("" when there is none).
std::string FolderWithSeparator(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// The run is over: the timer stops and the commands that waited for it come back.
void EndRun(Session& session) {
  AppState& state = session.state;
  session.platform.StopTimer(kAnalysisTimerId);
  state.finishTick.store(kFinishTickAfterRun, std::memory_order_relaxed);
  state.tickCount = 0;
  session.runInProgress = false;
  session.platform.RunStateChanged(false);
}

}  // namespace

void ViewStartUp(Session& session) {
  AppState& state = session.state;
  // During a run the worker owns the line metrics; the hand-off sets them.
  if (!session.runInProgress) {
    state.reportWidth = 100;
    state.reportLineCount = 200;
  }
  // The program's folder is the executable's, without a trailing separator.
  std::string folder =
      std::filesystem::path(session.platform.ExecutablePath()).parent_path().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  state.programFolder = folder;
  state.dialogFolder = folder;
  session.platform.SetScrollSize(100, 100);
}

void OpenCommand(Session& session) {
  if (session.runInProgress) return;
  ImportDataSheet(session.state, session.designData, session.platform);
}

void RunAnalysis(Session& session, ModelKind required) {
  if (session.runInProgress) return;
  AppState& state = session.state;
  state.runStartTime = CurrentCalendarTime();
  if (session.designData->kind != required) {
    session.platform.ShowMessage(kMsgNotAppropriate, MessageIcon::None);
    return;
  }

  session.runInProgress = true;
  session.runSource = state.dataFileName;
  session.modeBeforeRun = state.displayMode.load();
  session.platform.RunStateChanged(true);
  // "Please wait" is set before the worker starts, so that a run finishing at once cannot
  // have its Report overwritten.
  state.displayMode.store(DisplayMode::Waiting);
  session.platform.StartTimer(kAnalysisTimerId, kAnalysisTimerPeriodMs);

  // The worker holds its own reference to the data set: a later import replaces the
  // session's, never the one the run reads.
  std::shared_ptr<const DesignData> data = session.designData;
  RunOptions options;
  options.progress = session.runProgress;
  options.diagnostics = session.runDiagnostics;
  options.report = session.reportOptions;
  session.stopRun.store(false);
  options.stop = &session.stopRun;
  RunOutput& output = session.lastRun;
  session.platform.StartWorker(
      [&state, &output, data, options] { RunModelAnalysis(*data, state, output, options); });
  session.platform.InvalidateView();
}

void OnAnalysisTick(Session& session) {
  AppState& state = session.state;
  const int ticks = ++state.tickCount;
  // finishTick is the worker's last store: acquiring it makes the run's other results
  // (line metrics, status, DisplayMode) visible here.
  const int finishTick = state.finishTick.load(std::memory_order_acquire);
  const bool finished = ticks >= finishTick;

  // A report that could not be created: no "Please wait" second, the view goes back to
  // what it showed before the run (before the run's end is announced, so that the
  // commands offered then see it). The run ends before the message box, which is modal
  // and would otherwise see further ticks.
  if (finished && state.runStatus == RunStatus::ReportNotCreated) {
    state.displayMode.store(session.modeBeforeRun);
    EndRun(session);
    session.platform.InvalidateView();
    session.platform.ShowMessage(kMsgResultNotCreated, MessageIcon::None);
    return;
  }

  if (finished && state.runStatus == RunStatus::Cancelled) {
    state.displayMode.store(session.modeBeforeRun);
    EndRun(session);
    session.platform.InvalidateView();
    return;
  }

  if (ticks < finishTick + kHandOffTicks) {
    session.platform.InvalidateView();
    return;
  }
  session.platform.SetScrollSize(std::max(10 * state.reportWidth + 140, 1100),
                                 20 * state.reportLineCount + 50);
  session.shownResult = session.lastRun.result;
  session.shownSource = session.runSource;
  EndRun(session);
}

void CancelRun(Session& session) {
  if (session.runInProgress) session.stopRun.store(true);
}

void SaveReportAs(Session& session) {
  if (session.runInProgress) return;
  AppState& state = session.state;
  Platform& platform = session.platform;
  if (state.displayMode.load() != DisplayMode::Report) {
    platform.ShowMessage(kMsgPerformComputing, MessageIcon::None);
    return;
  }

  FileDialogSpec spec;
  spec.filter = kSaveFilter;
  spec.defaultExtension = "txt";
  spec.initialFileName = "*.txt";
  spec.startFolder = state.dialogFolder;
  spec.hideReadOnly = true;
  spec.promptOverwrite = true;
  const std::optional<ChosenFile> chosen = platform.ChooseSaveFile(spec);
  if (!chosen) return;

  // The report is read whole before the copy is created, so that choosing the report
  // itself as the target cannot empty it. The bytes are copied unchanged; only a last
  // line without a line end receives CR LF.
  std::string bytes;
  std::optional<std::string> failure;
  if (!ReadWholeFile(state.reportPath, bytes)) {
    failure = state.reportPath + kReportCannotBeOpenedSuffix;
  } else {
    if (!bytes.empty() && bytes.back() != '\n') bytes += "\r\n";
    if (!WriteWholeFile(chosen->fullPath, bytes))
      failure = chosen->fullPath + kCopyCannotBeCreatedSuffix;
  }
  state.dialogFolder = FolderWithSeparator(chosen->fullPath);
  if (failure) platform.ShowMessage(*failure, MessageIcon::None);
}

const AnalysisResult* ShownResult(const Session& session) {
  if (session.runInProgress || session.state.displayMode.load() != DisplayMode::Report) {
    return nullptr;
  }
  return session.shownResult.get();
}

void OpenWorkbookAt(Session& session, const std::string& path) {
  if (session.runInProgress) return;
  AppState& state = session.state;
  const std::size_t slash = path.find_last_of('/');
  state.dataFolder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  state.dataFileName = slash == std::string::npos ? path : path.substr(slash + 1);
  ImportWorkbook(state, session.designData, session.platform, path);
}

void OpenManual(Session& session) {
  const std::string beside = session.state.programFolder + "/Manual.pdf";
  std::error_code error;
  if (std::filesystem::exists(beside, error)) {
    session.platform.ShellOpen(beside);
    return;
  }
  // An installed program keeps its manual in <prefix>/share/quorvel beside <prefix>/bin.
  const std::filesystem::path installed = (std::filesystem::path(session.state.programFolder) /
                                           ".." / "share" / "quorvel" / "Manual.pdf")
                                              .lexically_normal();
  session.platform.ShellOpen(std::filesystem::exists(installed, error) ? installed.string()
                                                                       : beside);
}

}  // namespace quorvel
