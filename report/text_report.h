// The fixed-width text report "result.txt", written from an analysis result.
#pragma once

#include <string>

#include "analysis/analysis_result.h"

namespace quorvel {

// The whole report: the header with the model line, for every trait the four fixed-model
// sections, the random-model box with every trait's components and heritabilities, and
// the genetic correlation matrices. timeText is the run's 24-character time stamp. Every
// line ends in CR LF.
std::string FormatTextReport(const AnalysisResult& result, const std::string& timeText);

// Parts of the report, for the tests of each section.
void AppendFixedTraitSections(std::string& out, const AnalysisResult& result, int trait);
void AppendRandomSections(std::string& out, const AnalysisResult& result,
                          const std::string& timeText);
void AppendCorrelationMatrices(std::string& out, const AnalysisResult& result);

// The number of lines of a text and the length of its longest line, line ends (CR, LF)
// not counted; a last line without a line end counts.
struct TextMetrics {
  int lineCount = 0;
  int width = 0;
};
TextMetrics MeasureText(const std::string& text);

}  // namespace quorvel
