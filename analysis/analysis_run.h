// The analysis run of one model: coding, fixed- and random-model stages, correlations,
// the report "result.txt" and the hand-off to the display.
#pragma once

#include <functional>
#include <string_view>

#include "app/state/app_state.h"
#include "import/design_data.h"

namespace quorvel {

struct RunOptions {
  // Called with a short stage name ("coding", "fixed model", ...) as the run proceeds;
  // may be empty. Called on the thread that runs the analysis.
  std::function<void(std::string_view stage)> progress;
};

// Runs the model of `kind` on `data` (whose kind must be `kind`) and writes the report to
// state.dataFolder + "result.txt". Sets runStartTime and reportPath, measures the report
// into reportLineCount and reportWidth, sets runStatus Done and displayMode Report, and
// publishes finishTick = tickCount last (release order). When the report cannot be
// created, nothing is written: runStatus becomes ReportNotCreated, displayMode is left
// alone and finishTick is still published. Returns the status.
RunStatus RunModelAnalysis(ModelKind kind, const DesignData& data, AppState& state,
                           const RunOptions& options = {});

// The run procedures of the three models, bodies of the worker thread; 0 when done.
int RunNestedAnalysis(const DesignData& data, AppState& state);
int RunBlockedAnalysis(const DesignData& data, AppState& state);
int RunBlockedRepeatAnalysis(const DesignData& data, AppState& state);

}  // namespace quorvel
