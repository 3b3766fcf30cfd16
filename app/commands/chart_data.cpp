// The charts' data, taken from the analysis result.
#include "app/commands/chart_data.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "numeric/probability.h"

namespace quorvel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Linear interpolation in a table of equally spaced colours at t in [0, 1].
template <std::size_t N>
ChartColour Interpolate(const std::array<ChartColour, N>& table, double t) {
  t = std::clamp(t, 0.0, 1.0);
  const double position = t * static_cast<double>(N - 1);
  const std::size_t k = std::min(static_cast<std::size_t>(position), N - 2);
  const double f = position - static_cast<double>(k);
  const auto mix = [f](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * f)); };
  return {mix(table[k].red, table[k + 1].red), mix(table[k].green, table[k + 1].green),
          mix(table[k].blue, table[k + 1].blue)};
}

// viridis (van der Walt and Smith, matplotlib) at t = 0, 1/8, ..., 1.
constexpr std::array<ChartColour, 9> kViridis = {{{68, 1, 84},
                                                  {71, 45, 123},
                                                  {59, 82, 139},
                                                  {44, 114, 142},
                                                  {33, 145, 140},
                                                  {40, 174, 128},
                                                  {94, 201, 98},
                                                  {173, 220, 48},
                                                  {253, 231, 37}}};

// ColorBrewer RdBu with 11 classes (Brewer, colorbrewer2.org), from -1 to 1.
constexpr std::array<ChartColour, 11> kRedBlue = {{{103, 0, 31},
                                                   {178, 24, 43},
                                                   {214, 96, 77},
                                                   {244, 165, 130},
                                                   {253, 219, 199},
                                                   {247, 247, 247},
                                                   {209, 229, 240},
                                                   {146, 197, 222},
                                                   {67, 147, 195},
                                                   {33, 102, 172},
                                                   {5, 48, 97}}};

EstimateWithInterval FromInterval(const std::string& name, double estimate, const Interval& ci) {
  return {name, estimate, ci.lower, ci.upper, ci.method == nullptr ? "" : ci.method};
}

}  // namespace

MaleEffectChart BuildMaleEffectChart(const AnalysisResult& result, int trait,
                                     double fallbackLevel) {
  MaleEffectChart chart;
  const TraitResult& source = result.traits.at(static_cast<std::size_t>(trait));
  const FixedTraitResult& fixed = source.fixed;
  chart.trait = source.name;
  chart.errorDF = fixed.errorDF;
  chart.level = fallbackLevel;

  // The t quantile of the fallback interval, computed once for all males.
  const double tQuantile =
      StudentTQuantile(1 - (1 - fallbackLevel) / 2, static_cast<double>(fixed.errorDF));
  for (int m = 0; m < result.maleCount; ++m) {
    const std::size_t k = static_cast<std::size_t>(result.maleStart + m);
    const ParameterEstimate& e = fixed.estimates.at(k);
    MaleEffectRow row;
    row.name = result.MaleName(m);
    row.male = m;
    row.estimate = e.estimate;
    if (e.ci.method != nullptr && e.ci.method[0] != '\0') {
      row.lower = e.ci.lower;
      row.upper = e.ci.upper;
      chart.level = e.ci.level;
    } else {
      row.lower = e.estimate - tQuantile * e.stdError;
      row.upper = e.estimate + tQuantile * e.stdError;
    }
    if (!std::isfinite(row.lower) || !std::isfinite(row.upper)) row.lower = row.upper = kNaN;
    chart.rows.push_back(row);
  }

  // Highest first; estimates that are not numbers sink to the end in male order.
  std::stable_sort(chart.rows.begin(), chart.rows.end(),
                   [](const MaleEffectRow& a, const MaleEffectRow& b) {
                     const bool fa = std::isfinite(a.estimate);
                     const bool fb = std::isfinite(b.estimate);
                     if (fa != fb) return fa;
                     return fa && a.estimate > b.estimate;
                   });
  if (chart.rows.empty() || !std::isfinite(chart.rows.front().estimate)) return chart;

  MaleEffectRow& best = chart.rows.front();
  best.best = true;
  best.pVersusBest = kNaN;
  for (MaleEffectRow& row : chart.rows) {
    if (row.best) continue;
    const int i = std::max(best.male, row.male);
    const int j = std::min(best.male, row.male);
    const std::size_t pair = MalePairIndex(i, j);
    row.pVersusBest = pair < fixed.maleP.size() ? fixed.maleP[pair] : kNaN;
    row.versusBest =
        pair < fixed.maleSignificance.size() ? fixed.maleSignificance[pair] : Significance::None;
    if (row.versusBest != Significance::None) ++chart.significantCount;
  }
  return chart;
}

bool EstimateWithInterval::IntervalDefined() const {
  return std::isfinite(lower) && std::isfinite(upper);
}

VarianceChart BuildVarianceChart(const AnalysisResult& result, int trait) {
  VarianceChart chart;
  const TraitResult& source = result.traits.at(static_cast<std::size_t>(trait));
  chart.trait = source.name;
  for (const ComponentEstimate& c : source.random.components) {
    chart.components.push_back(FromInterval(c.parameter, c.estimate, c.ci));
    chart.level = c.ci.level;
  }
  for (const HeritabilityEstimate& h : source.random.heritabilities) {
    chart.heritabilities.push_back(FromInterval(h.parameter, h.estimate, h.ci));
  }
  return chart;
}

ClippedOnUnitScale ClipToUnitScale(const EstimateWithInterval& value) {
  ClippedOnUnitScale clipped;
  const auto clip = [](double v, bool& flagged) {
    if (std::isnan(v)) return v;
    flagged = v < 0 || v > 1;
    return std::clamp(v, 0.0, 1.0);
  };
  clipped.estimate = clip(value.estimate, clipped.estimateClipped);
  if (value.IntervalDefined()) {
    clipped.lower = clip(value.lower, clipped.lowerClipped);
    clipped.upper = clip(value.upper, clipped.upperClipped);
  } else {
    clipped.lower = clipped.upper = kNaN;
  }
  return clipped;
}

bool CorrelationCell::Defined() const { return std::isfinite(r); }

std::vector<CorrelationChart> BuildCorrelationCharts(const AnalysisResult& result) {
  std::vector<CorrelationChart> charts;
  for (const CorrelationMatrix& matrix : result.correlations) {
    CorrelationChart chart;
    chart.effect = matrix.effect;
    chart.title = matrix.effect == "male"     ? "Male"
                  : matrix.effect == "female" ? "Female"
                                              : "Female by repeat";
    const int t = std::min<int>(matrix.traits, static_cast<int>(result.traits.size()));
    for (int i = 0; i < t; ++i)
      chart.traits.push_back(result.traits[static_cast<std::size_t>(i)].name);
    for (int i = 0; i < t; ++i) {
      for (int j = 0; j < t; ++j) {
        const CorrelationCell cell{matrix.R(i, j), matrix.SE(i, j)};
        if (i != j && !cell.Defined()) ++chart.undefinedCount;
        chart.cells.push_back(cell);
      }
    }
    charts.push_back(std::move(chart));
  }
  return charts;
}

ChartColour ViridisColour(double t) { return Interpolate(kViridis, std::isnan(t) ? 0 : t); }

ChartColour DivergingColour(double r) {
  if (std::isnan(r)) return {189, 189, 189};
  return Interpolate(kRedBlue, (std::clamp(r, -1.0, 1.0) + 1) / 2);
}

double Luminance(ChartColour colour) {
  const auto linear = [](int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(colour.red) + 0.7152 * linear(colour.green) + 0.0722 * linear(colour.blue);
}

std::vector<double> NiceTicks(double low, double high, int target) {
  if (!std::isfinite(low) || !std::isfinite(high)) return {};
  if (low > high) std::swap(low, high);
  if (high - low < 1e-300) {
    // A single value: one unit of its own magnitude around it.
    const double span = low == 0 ? 1 : std::abs(low);
    low -= span / 2;
    high += span / 2;
  }
  target = std::max(target, 1);
  // step = factor x 10^exponent; ticks are i x factor scaled by the power of ten in one
  // exact operation, so that 3 x 0.2 prints as 0.6.
  const double rough = (high - low) / target;
  const int exponent = static_cast<int>(std::floor(std::log10(rough)));
  const double power = std::pow(10.0, std::abs(exponent));
  const auto scale = [&](double units) { return exponent < 0 ? units / power : units * power; };
  double factor = 10;
  for (double candidate : {1.0, 2.0, 5.0}) {
    if (scale(candidate) >= rough) {
      factor = candidate;
      break;
    }
  }
  const double step = scale(factor);
  const long long first = static_cast<long long>(std::floor(low / step));
  const long long last = static_cast<long long>(std::ceil(high / step));
  std::vector<double> ticks;
  for (long long i = first; i <= last; ++i) {
    ticks.push_back(i == 0 ? 0.0 : scale(static_cast<double>(i) * factor));
  }
  return ticks;
}

}  // namespace quorvel
