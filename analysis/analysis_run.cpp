// The analysis run: coding, report framing, the three stages, measuring and hand-off.
#include "analysis/analysis_run.h"

#include <algorithm>
#include <cstdio>

#include "analysis/fixed_model.h"
#include "analysis/model_coding.h"
#include "analysis/random_model.h"
#include "analysis/report_text.h"

namespace quorvel {
namespace {

const char* ModelLine(ModelKind kind) {
  switch (kind) {
    case ModelKind::Nested:
      return "                          yijk = u + Mi + Fij + eijk\r\n\r\n\r\n";
    case ModelKind::Blocked:
      return "                          yijkl = u + Bi + Mj + Fjk + eijkl\r\n\r\n\r\n";
    case ModelKind::BlockedRepeat:
      return "                 yijklt = u + Bi + Ril + Mij + Fijk + (FR)ijkl + eijklt\r\n\r\n\r\n";
    case ModelKind::None:
      break;
  }
  return "";
}

void WriteHeader(std::string& out, ModelKind kind, const std::string& timeText) {
  out += "\r\n                         Analysis of the Nested Design Model: \r\n";
  out += ModelLine(kind);
  out += "   ************************************************************************************* \r\n";
  out += "   *                                                                                   * \r\n";
  out += "   *  Result for the fixed model.                             ";
  out += timeText;
  out += " *\r\n   *                                                                                   * \r\n";
  out += "   ************************************************************************************* \r\n\r\n\r\n";
}

// Number of lines of a report file and the length of its longest line, without line ends.
bool MeasureReport(const std::string& path, int& lineCount, int& width) {
  lineCount = 0;
  width = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  int length = 0;
  bool open = false;  // characters seen since the last line end
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    for (std::size_t k = 0; k < got; ++k) {
      const char ch = buffer[k];
      if (ch == '\n') {
        ++lineCount;
        width = std::max(width, length);
        length = 0;
        open = false;
      } else if (ch != '\r') {
        ++length;
        open = true;
      } else {
        open = true;
      }
    }
  }
  if (open) {
    ++lineCount;
    width = std::max(width, length);
  }
  std::fclose(file);
  return true;
}

void Progress(const RunOptions& options, std::string_view stage) {
  if (options.progress) options.progress(stage);
}

}  // namespace

RunStatus RunModelAnalysis(ModelKind kind, const DesignData& data, AppState& state,
                           const RunOptions& options) {
  state.runStartTime = CurrentCalendarTime();
  const std::string timeText = CtimeText(state.runStartTime);

  Progress(options, "coding");
  const ModelCoding coding = BuildModelCoding(data);
  const DesignCells cells = BuildDesignCells(coding);

  const std::string reportPath = state.dataFolder + "result.txt";
  ReportStream report;
  if (!report.Open(reportPath)) {
    state.runStatus = RunStatus::ReportNotCreated;
    state.finishTick.store(state.tickCount.load(std::memory_order_relaxed),
                           std::memory_order_release);
    return state.runStatus;
  }
  state.reportPath = reportPath;
  WriteHeader(report.Text(), kind, timeText);
  report.Flush();

  Progress(options, "fixed model");
  int modelRank = 0;
  {
    const FixedModel fixed(coding, cells);
    modelRank = fixed.ModelRank();
    for (int t = 0; t < data.traitCount; ++t) {
      const FixedTraitResult result = fixed.Fit(data.traitValues[t]);
      WriteFixedTrait(report.Text(), coding, t + 1, result);
      report.Flush();
    }
  }

  Progress(options, "random model");
  const RandomModel random = EstimateComponents(coding, cells, data, modelRank);
  WriteRandomSections(report.Text(), coding, timeText, random);
  Progress(options, "genetic correlations");
  WriteCorrelations(report.Text(), random);
  report.Close();

  Progress(options, "measuring the report");
  int lineCount = 0;
  int width = 0;
  MeasureReport(reportPath, lineCount, width);
  state.reportLineCount = lineCount;
  state.reportWidth = width;
  state.runStatus = RunStatus::Done;
  state.displayMode.store(DisplayMode::Report, std::memory_order_relaxed);
  state.finishTick.store(state.tickCount.load(std::memory_order_relaxed), std::memory_order_release);
  return RunStatus::Done;
}

int RunNestedAnalysis(const DesignData& data, AppState& state) {
  RunModelAnalysis(ModelKind::Nested, data, state);
  return 0;
}

int RunBlockedAnalysis(const DesignData& data, AppState& state) {
  RunModelAnalysis(ModelKind::Blocked, data, state);
  return 0;
}

int RunBlockedRepeatAnalysis(const DesignData& data, AppState& state) {
  RunModelAnalysis(ModelKind::BlockedRepeat, data, state);
  return 0;
}

}  // namespace quorvel
