// The worker's run: analyse, write the report whole, publish.
#include "app/commands/analysis_run.h"

#include "analysis/analyze_design.h"
#include "io/atomic_file.h"
#include "report/text_report.h"

namespace quorvel {
namespace {

void Publish(AppState& state) {
  state.finishTick.store(state.tickCount.load(std::memory_order_relaxed),
                         std::memory_order_release);
}

}  // namespace

RunStatus RunModelAnalysis(const DesignData& data, AppState& state, RunOutput& output,
                           const RunOptions& options) {
  state.runStartTime = CurrentCalendarTime();
  const std::string timeText = CtimeText(state.runStartTime);

  // The new report's file is made first: a folder that takes no file fails the run
  // before the analysis, not after it.
  const std::string reportPath = state.dataFolder + "result.txt";
  AtomicFile file;
  if (!file.Create(reportPath)) {
    output = RunOutput{nullptr, nullptr, file.Error()};
    state.runStatus = RunStatus::ReportNotCreated;
    Publish(state);
    return state.runStatus;
  }

  AnalysisOptions analysisOptions;
  analysisOptions.progress = options.progress;
  analysisOptions.diagnostics = options.diagnostics;
  analysisOptions.stop = StopToken(options.stop);
  analysisOptions.confidenceLevel = options.report.level;
  std::shared_ptr<const AnalysisResult> result;
  std::shared_ptr<const std::string> report;
  try {
    result = std::make_shared<const AnalysisResult>(AnalyzeDesign(data, analysisOptions));
    if (options.progress) options.progress("writing the report");
    report =
        std::make_shared<const std::string>(FormatTextReport(*result, timeText, options.report));
    // The last moment a stop keeps the previous report.
    analysisOptions.stop.ThrowIfStopped();
  } catch (const AnalysisCancelled&) {
    file.Discard();
    output = RunOutput{nullptr, nullptr, "cancelled"};
    state.runStatus = RunStatus::Cancelled;
    Publish(state);
    return state.runStatus;
  }
  if (!file.Commit(*report)) {
    output = RunOutput{nullptr, nullptr, file.Error()};
    state.runStatus = RunStatus::ReportNotCreated;
    Publish(state);
    return state.runStatus;
  }

  const TextMetrics metrics = MeasureText(*report);
  output = RunOutput{std::move(result), std::move(report), {}};
  state.reportPath = reportPath;
  state.reportLineCount = metrics.lineCount;
  state.reportWidth = metrics.width;
  state.runStatus = RunStatus::Done;
  state.displayMode.store(DisplayMode::Report, std::memory_order_relaxed);
  Publish(state);
  return RunStatus::Done;
}

}  // namespace quorvel
