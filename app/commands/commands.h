// The commands of the menu, toolbar and keyboard, written against the Platform interface.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>

#include "app/commands/analysis_run.h"
#include "app/state/app_state.h"
#include "app/state/platform.h"
#include "import/design_data.h"

namespace quorvel {

// Everything the commands share for the life of the program.
struct Session {
  explicit Session(Platform& p) : platform(p) {}

  Platform& platform;
  AppState state;
  // The loaded data set, replaced whole by each accepted import. A run holds its own
  // reference, so an import can never change the data under a running analysis.
  std::shared_ptr<const DesignData> designData = std::make_shared<const DesignData>();
  bool runInProgress = false;  // from a Model command until its timer stops
  DisplayMode modeBeforeRun = DisplayMode::Blank;
  // Told the stage names of a run as it proceeds, on the worker's thread; may be empty.
  std::function<void(std::string_view stage)> runProgress;
  // Where a run writes its numerical diagnostics ("fail" for a singular normal matrix).
  std::FILE* runDiagnostics = stdout;
  // What the last run left: written by the worker before it publishes finishTick, read
  // by the user-interface thread once the run has been handed over.
  RunOutput lastRun;
  // Raised by CancelRun to stop the running analysis; lowered by each Model command.
  std::atomic<bool> stopRun{false};
  // The user's choice of confidence level and of the report's interval section, handed
  // to each run as it starts.
  ReportOptions reportOptions;

  // The result of the report the view shows: set when a finished run hands over, kept by
  // a run that is cancelled or cannot write its report (the previous report stays shown).
  // The charts and the exports read it; it counts only while the report is shown.
  std::shared_ptr<const AnalysisResult> shownResult;
  std::string shownSource;  // the workbook's file name that result came from
  std::string runSource;    // the workbook's file name of the run in progress
  // Where the last export went (with its trailing separator); empty before the first.
  std::string exportFolder;
};

// Message texts of the commands.
inline constexpr const char* kMsgNotAppropriate = "The data is not appropriate to this model.";
inline constexpr const char* kMsgPerformComputing = "Please perform computing!";
inline constexpr const char* kMsgResultNotCreated = "Result file cannot be created!";

// View start-up: line metrics 100 x 200 (left to the run while one is going on),
// programFolder = the executable's folder, dialogFolder = programFolder, scroll size 100 x 100.
void ViewStartUp(Session& session);
// The Open command (ImportDataSheet). Ignored while a run is in progress.
void OpenCommand(Session& session);
// A Model command: when the data set is of kind `required`, sets DisplayMode Waiting,
// starts timer 1 (200 ms) and the run on a worker holding its own reference to the data
// set; otherwise shows kMsgNotAppropriate. Ignored while a run is in progress.
void RunAnalysis(Session& session, ModelKind required);
// Handler of timer 1: repaints until five ticks after finishTick, then fits the scroll size
// to the report, stops the timer and ends the run. A report that could not be created ends
// the run at once with kMsgResultNotCreated and the DisplayMode of before the run; a
// cancelled run ends at once with the DisplayMode of before the run and no message.
void OnAnalysisTick(Session& session);
// Asks the running analysis to stop (Esc, Cancel, closing the window). The run ends at
// its next check, within a fraction of a second, leaving the previous report whole; the
// hand-off then restores the view of before the run without a message. Nothing happens
// when no run is in progress.
void CancelRun(Session& session);
// Save As: copies the report byte for byte to a chosen file and moves dialogFolder there;
// a file that cannot be read or written is named in a message. Refused with
// kMsgPerformComputing unless the report is shown; ignored while a run is in progress.
void SaveReportAs(Session& session);
// The result of the report the view shows, or null while none is shown (no run yet, a
// run in progress, or a data echo shown since).
const AnalysisResult* ShownResult(const Session& session);
// Opens the workbook at `path` (dropped on the window) as the Open command opens the one
// its dialog returns. Ignored while a run is in progress.
void OpenWorkbookAt(Session& session, const std::string& path);
// Help > Manual: asks the desktop to open programFolder/Manual.pdf, or when that does not
// exist the installed copy in programFolder/../share/quorvel.
void OpenManual(Session& session);

}  // namespace quorvel
