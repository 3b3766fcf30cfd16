// The analysis of one data set under its model: coding, the fixed-model fit of every
// trait, the random-model components, heritabilities and genetic correlations, returned
// as one result value. Reads nothing but the data set and writes no file.
#pragma once

#include <cstdio>
#include <functional>
#include <string_view>

#include "analysis/analysis_result.h"
#include "analysis/stop_token.h"
#include "import/design_data.h"

namespace quorvel {

struct AnalysisOptions {
  // Told a short stage name ("coding", "fixed model", ...) as the analysis proceeds, on
  // the thread that runs it; may be empty.
  std::function<void(std::string_view stage)> progress;
  // Receives "fail\n" for each normal matrix that is numerically singular (the analysis
  // goes on; the affected numbers are NaN).
  std::FILE* diagnostics = stdout;
  // Stops the analysis when raised: AnalyzeDesign then throws AnalysisCancelled.
  StopToken stop;
  // The level of the confidence intervals of the components, heritabilities and
  // parameter estimates, strictly between 0 and 1 (else every interval is undefined).
  double confidenceLevel = 0.95;
};

// Analyses `data` under the model of its kind, which must not be None. Throws
// AnalysisCancelled (and nothing else) when options.stop is raised during the analysis.
AnalysisResult AnalyzeDesign(const DesignData& data, const AnalysisOptions& options = {});

}  // namespace quorvel
