// The body of an analysis run's worker: the analysis, the report "result.txt" written
// whole, and the hand-off of both to the commands and the view.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "analysis/analysis_result.h"
#include "app/state/app_state.h"
#include "import/design_data.h"
#include "report/text_report.h"

namespace quorvel {

struct RunOptions {
  // Called with a short stage name ("coding", "fixed model", ...) as the run proceeds;
  // may be empty. Called on the thread that runs the analysis.
  std::function<void(std::string_view stage)> progress;
  // Raised (from any thread) to stop the run; may be null.
  const std::atomic<bool>* stop = nullptr;
  // Receives the analysis's numerical diagnostics.
  std::FILE* diagnostics = stdout;
  // The level of the run's confidence intervals and whether the report shows them.
  ReportOptions report;
};

// What a run leaves behind for the front ends: the result value, the report's text as it
// went to the file, and why the file could not be written when it could not.
struct RunOutput {
  std::shared_ptr<const AnalysisResult> result;
  std::shared_ptr<const std::string> report;
  std::string error;
};

// Runs the model of data.kind (not None) and writes the report to state.dataFolder +
// "result.txt", replacing the old file only when the new one is complete. Sets
// runStartTime first; then output, reportPath, reportLineCount and reportWidth (measured
// on the text in memory), runStatus Done and displayMode Report, and publishes
// finishTick = tickCount last (release order). When the report cannot be created or
// written, the previous file stays as it was, runStatus becomes ReportNotCreated,
// output.error says why, displayMode is left alone and finishTick is still published.
// A run stopped through options.stop ends the same way with runStatus Cancelled.
// `output` is assigned once, just before finishTick, so that the user-interface thread
// may read the previous run's output until the hand-off. Returns the status.
RunStatus RunModelAnalysis(const DesignData& data, AppState& state, RunOutput& output,
                           const RunOptions& options = {});

}  // namespace quorvel
