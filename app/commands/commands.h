// The commands of the menu, toolbar and keyboard, written against the Platform interface.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

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
  bool runInProgress = false;           // from a Model command until its timer stops
  DisplayMode modeBeforeRun = DisplayMode::Blank;
  // Told the stage names of a run as it proceeds, on the worker's thread; may be empty.
  std::function<void(std::string_view stage)> runProgress;
};

// Message texts of the commands.
inline constexpr const char* kMsgNotAppropriate = "The data is not appropriate to this model.";
inline constexpr const char* kMsgPerformComputing = "Please perform computing!";
inline constexpr const char* kMsgResultNotCreated = "Result file cannot be created!";

// View start-up: line metrics 100 x 200, programFolder from the executable, dialogFolder,
// scroll size 100 x 100.
void ViewStartUp(Session& session);
// The Open command.
void OpenCommand(Session& session);
// A Model command: starts the run of `required` on a worker when the data set fits.
void RunAnalysis(Session& session, ModelKind required);
// Handler of timer 1.
void OnAnalysisTick(Session& session);
// Save As: copies the report to a chosen file.
void SaveReportAs(Session& session);
// Help > Manual: asks the desktop to open Manual.pdf.
void OpenManual(Session& session);

}  // namespace quorvel
