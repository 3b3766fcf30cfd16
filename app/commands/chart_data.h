// What the desktop program's charts show, taken from an analysis result without any
// window system: the male effects of one trait with their intervals and their tests
// against the best male, the variance components and heritabilities of one trait, and
// the genetic correlation matrices; plus the colour scales and axis ticks the charts use.
#pragma once

#include <string>
#include <vector>

#include "analysis/analysis_result.h"

namespace quorvel {

// One male of the caterpillar plot: the fixed-model estimate of its effect (a deviation
// from the mean under the sum-to-zero restriction) with its confidence interval.
struct MaleEffectRow {
  std::string name;  // the parameter's name, e.g. "M12"
  int male = 0;      // index among the result's males
  double estimate = 0;
  double lower = 0;  // NaN when the interval is undefined
  double upper = 0;
  bool best = false;  // the highest finite estimate
  // The difference from the best male: its two-sided p and the report's significance
  // class (None for the best male itself and where the test is undefined).
  double pVersusBest = 0;
  Significance versusBest = Significance::None;
};

struct MaleEffectChart {
  std::string trait;
  double level = 0.95;  // confidence level of the intervals
  int errorDF = 0;
  // Sorted by estimate, highest first; males whose estimate is not finite come last.
  std::vector<MaleEffectRow> rows;
  int significantCount = 0;  // males that differ from the best at p <= 0.05
};

// The male effects of trait `trait`. Each interval is the result's own (estimate +-
// t(1 - alpha/2, error DF) SE) when the analysis computed it; otherwise it is computed
// here the same way at `fallbackLevel`.
MaleEffectChart BuildMaleEffectChart(const AnalysisResult& result, int trait, double fallbackLevel);

// A value with its interval, as a chart places it.
struct EstimateWithInterval {
  std::string name;
  double estimate = 0;
  double lower = 0;  // NaN when the interval is undefined
  double upper = 0;
  std::string method;  // how the interval was computed; empty when it was not
  bool IntervalDefined() const;
};

struct VarianceChart {
  std::string trait;
  double level = 0.95;
  std::vector<EstimateWithInterval> components;      // random terms from the top, residual last
  std::vector<EstimateWithInterval> heritabilities;  // Hi, Hm
};

VarianceChart BuildVarianceChart(const AnalysisResult& result, int trait);

// A heritability placed on the 0-1 scale: the position of each value clipped to [0, 1],
// and which of them lay outside and were clipped.
struct ClippedOnUnitScale {
  double estimate = 0, lower = 0, upper = 0;  // in [0, 1] (NaN stays NaN)
  bool estimateClipped = false, lowerClipped = false, upperClipped = false;
};
ClippedOnUnitScale ClipToUnitScale(const EstimateWithInterval& value);

struct CorrelationCell {
  double r = 0;
  double se = 0;
  bool Defined() const;  // r is a finite number
};

struct CorrelationChart {
  std::string effect;  // "male", "female", "female_by_repeat"
  std::string title;   // "Male", "Female", "Female by repeat"
  std::vector<std::string> traits;
  std::vector<CorrelationCell> cells;  // traits x traits, row-major
  int undefinedCount = 0;              // cells off the diagonal whose r is not a number
  const CorrelationCell& Cell(int i, int j) const {
    return cells[static_cast<std::size_t>(i) * traits.size() + static_cast<std::size_t>(j)];
  }
};

// One chart per correlation matrix of the result, from the top random term down.
std::vector<CorrelationChart> BuildCorrelationCharts(const AnalysisResult& result);

// Colours as 8-bit red, green, blue.
struct ChartColour {
  int red = 0;
  int green = 0;
  int blue = 0;
  bool operator==(const ChartColour&) const = default;
};

// The perceptually uniform viridis scale at t in [0, 1] (clamped): dark purple at 0,
// yellow at 1, its lightness rising throughout, so it stays ordered in greyscale.
ChartColour ViridisColour(double t);
// ColorBrewer's diverging red-blue scale (RdBu) at r in [-1, 1] (clamped): red for
// negative, blue for positive, near white at 0; safe for the common colour-vision
// deficiencies. NaN gives a neutral grey.
ChartColour DivergingColour(double r);
// Relative luminance in [0, 1] (sRGB, ITU-R BT.709 weights): decides whether text on a
// filled cell is drawn dark or light.
double Luminance(ChartColour colour);

// Axis ticks: "nice" steps (1, 2 or 5 times a power of ten) covering [low, high] with
// about `target` intervals; the first tick is <= low, the last >= high.
std::vector<double> NiceTicks(double low, double high, int target);

}  // namespace quorvel
