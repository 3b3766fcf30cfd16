// The fixed-width text report "result.txt", written from an analysis result.
#pragma once

#include <string>

#include "analysis/analysis_result.h"

namespace quorvel {

// What a run's report holds beyond its fixed sections, and the level of the run's
// confidence intervals. Front ends keep the user's choice in one of these and hand it to
// the run.
struct ReportOptions {
  // After each trait's box of variance components, a section with the confidence
  // intervals of the components and heritabilities. Off: the report of old, byte for byte.
  bool intervals = false;
  // The level of every confidence interval the analysis computes (report, exports, view),
  // strictly between 0 and 1. The report's section prints the level of the result.
  double level = 0.95;
};

// The whole report: the header with the model line, for every trait the four fixed-model
// sections, the random-model box with every trait's components and heritabilities (with
// options.intervals, each followed by its confidence intervals), and the genetic
// correlation matrices. timeText is the run's 24-character time stamp. Every line ends in
// CR LF.
std::string FormatTextReport(const AnalysisResult& result, const std::string& timeText,
                             const ReportOptions& options = {});

// Parts of the report, for the tests of each section.
void AppendFixedTraitSections(std::string& out, const AnalysisResult& result, int trait);
void AppendRandomSections(std::string& out, const AnalysisResult& result,
                          const std::string& timeText, const ReportOptions& options = {});
// "Approximate 95% confidence intervals for trait N:" (the result's level) with a line per
// component and heritability: estimate, lower and upper limit ("nan" where undefined),
// and the method.
void AppendIntervalSection(std::string& out, const AnalysisResult& result, int trait);
void AppendCorrelationMatrices(std::string& out, const AnalysisResult& result);

// The number of lines of a text and the length of its longest line, line ends (CR, LF)
// not counted; a last line without a line end counts.
struct TextMetrics {
  int lineCount = 0;
  int width = 0;
};
TextMetrics MeasureText(const std::string& text);

}  // namespace quorvel
