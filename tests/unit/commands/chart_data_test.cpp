// The charts' data: the male effects sorted and tested against the best male, intervals
// taken from the result or computed, heritabilities clipped to 0-1, correlation cells,
// and the colour scales' properties the charts rely on.
#include "app/commands/chart_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quorvel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Four males M1..M4 with estimates 1, 4, nan, -2 and SE 0.5 after the mean "u"; the
// pairwise p values are p(i, j) = (i + 1) / 100 + j / 1000 in the lower triangle.
AnalysisResult FourMales() {
  AnalysisResult result;
  result.kind = ModelKind::Nested;
  result.parameterNames = {"u", "M1", "M2", "M3", "M4"};
  result.maleStart = 1;
  result.maleCount = 4;
  TraitResult trait;
  trait.name = "Yield";
  trait.fixed.errorDF = 10;
  trait.fixed.estimates.resize(5);
  const double estimates[] = {1, 4, kNaN, -2};
  for (int m = 0; m < 4; ++m) {
    trait.fixed.estimates[static_cast<std::size_t>(m + 1)].estimate = estimates[m];
    trait.fixed.estimates[static_cast<std::size_t>(m + 1)].stdError = 0.5;
  }
  for (int i = 1; i < 4; ++i) {
    for (int j = 0; j < i; ++j) {
      const double p = (i + 1) / 100.0 + j / 1000.0;
      trait.fixed.maleP.push_back(p);
      trait.fixed.maleSignificance.push_back(p < 0.01    ? Significance::One
                                             : p <= 0.05 ? Significance::Five
                                                         : Significance::None);
      EXPECT_EQ(trait.fixed.maleP.size() - 1, MalePairIndex(i, j));
    }
  }
  result.traits.push_back(trait);
  return result;
}

TEST(MaleEffectChart, SortedHighestFirstWithTheBestMaleAndItsTests) {
  const MaleEffectChart chart = BuildMaleEffectChart(FourMales(), 0, 0.95);
  ASSERT_EQ(chart.rows.size(), 4u);
  EXPECT_EQ(chart.trait, "Yield");
  EXPECT_EQ(chart.rows[0].name, "M2");
  EXPECT_EQ(chart.rows[1].name, "M1");
  EXPECT_EQ(chart.rows[2].name, "M4");
  EXPECT_EQ(chart.rows[3].name, "M3");  // not estimable: last
  EXPECT_TRUE(chart.rows[0].best);
  EXPECT_FALSE(chart.rows[1].best);
  // M1 against M2 is the pair (row 1, column 0); M4 against M2 is (row 3, column 1).
  EXPECT_DOUBLE_EQ(chart.rows[1].pVersusBest, 0.02);
  EXPECT_EQ(chart.rows[1].versusBest, Significance::Five);
  EXPECT_DOUBLE_EQ(chart.rows[2].pVersusBest, 0.041);
  EXPECT_EQ(chart.rows[3].versusBest, Significance::Five);  // M3 vs M2: (2, 1), 0.031
  EXPECT_EQ(chart.significantCount, 3);
}

TEST(MaleEffectChart, IntervalsFromTheResultOrComputedAtTheFallbackLevel) {
  AnalysisResult result = FourMales();
  // Computed: estimate +- t(0.975, 10) SE, t = 2.228138851986274.
  MaleEffectChart chart = BuildMaleEffectChart(result, 0, 0.95);
  EXPECT_NEAR(chart.rows[0].lower, 4 - 2.228138851986274 * 0.5, 1e-12);
  EXPECT_NEAR(chart.rows[0].upper, 4 + 2.228138851986274 * 0.5, 1e-12);
  EXPECT_TRUE(std::isnan(chart.rows[3].lower));
  chart = BuildMaleEffectChart(result, 0, 0.90);  // t(0.95, 10) = 1.812461122811676
  EXPECT_NEAR(chart.rows[0].upper - chart.rows[0].lower, 2 * 1.812461122811676 * 0.5, 1e-12);

  // The result's own interval, and its level, win where the analysis computed one.
  ParameterEstimate& m2 = result.traits[0].fixed.estimates[2];
  m2.ci = Interval{3.1, 4.9, 0.99, "t"};
  chart = BuildMaleEffectChart(result, 0, 0.95);
  EXPECT_DOUBLE_EQ(chart.rows[0].lower, 3.1);
  EXPECT_DOUBLE_EQ(chart.rows[0].upper, 4.9);
  EXPECT_DOUBLE_EQ(chart.level, 0.99);
}

TEST(VarianceChart, ComponentsHeritabilitiesAndClippingToTheUnitScale) {
  AnalysisResult result = FourMales();
  RandomTraitResult& random = result.traits[0].random;
  random.components = {{"Sigma_M", -0.4, 0.3, true, 0.8, 0.6, Interval{}},
                       {"Sigma_E", 2.0, 0.2, false, kNaN, kNaN, Interval{1.6, 2.6, 0.9, "chisq"}}};
  random.heritabilities = {{"Hi", 1.3, 0.4, Interval{0.5, 2.1, 0.9, "wald"}},
                           {"Hm", 0.3, 0.1, Interval{-0.1, 0.7, 0.9, "wald"}}};
  const VarianceChart chart = BuildVarianceChart(result, 0);
  ASSERT_EQ(chart.components.size(), 2u);
  EXPECT_FALSE(chart.components[0].IntervalDefined());
  EXPECT_TRUE(chart.components[1].IntervalDefined());
  EXPECT_EQ(chart.components[1].method, "chisq");
  EXPECT_DOUBLE_EQ(chart.level, 0.9);

  const ClippedOnUnitScale hi = ClipToUnitScale(chart.heritabilities[0]);
  EXPECT_TRUE(hi.estimateClipped);
  EXPECT_DOUBLE_EQ(hi.estimate, 1);
  EXPECT_FALSE(hi.lowerClipped);
  EXPECT_DOUBLE_EQ(hi.lower, 0.5);
  EXPECT_TRUE(hi.upperClipped);
  const ClippedOnUnitScale hm = ClipToUnitScale(chart.heritabilities[1]);
  EXPECT_FALSE(hm.estimateClipped);
  EXPECT_TRUE(hm.lowerClipped);
  EXPECT_DOUBLE_EQ(hm.lower, 0);
  const ClippedOnUnitScale undefined = ClipToUnitScale({"Hi", kNaN, kNaN, kNaN, ""});
  EXPECT_TRUE(std::isnan(undefined.estimate));
  EXPECT_FALSE(undefined.estimateClipped);
}

TEST(CorrelationCharts, OnePerMatrixWithTheUndefinedCellsCounted) {
  AnalysisResult result = FourMales();
  result.traits.push_back(result.traits[0]);
  result.traits[1].name = "Height";
  result.correlations = {{"male", 2, {1, kNaN, kNaN, 1}, {0, kNaN, kNaN, 0}},
                         {"female_by_repeat", 2, {1, -0.5, -0.5, 1}, {0, 0.1, 0.1, 0}}};
  const std::vector<CorrelationChart> charts = BuildCorrelationCharts(result);
  ASSERT_EQ(charts.size(), 2u);
  EXPECT_EQ(charts[0].title, "Male");
  EXPECT_EQ(charts[0].undefinedCount, 2);
  EXPECT_EQ(charts[1].title, "Female by repeat");
  EXPECT_EQ(charts[1].undefinedCount, 0);
  EXPECT_EQ(charts[1].traits, (std::vector<std::string>{"Yield", "Height"}));
  EXPECT_DOUBLE_EQ(charts[1].Cell(1, 0).r, -0.5);
  EXPECT_DOUBLE_EQ(charts[1].Cell(0, 1).se, 0.1);
}

TEST(ChartColours, ScalesThatStayReadableInGreyscale) {
  // Viridis grows lighter all the way, so its order survives greyscale.
  double previous = -1;
  for (int k = 0; k <= 20; ++k) {
    const double luminance = Luminance(ViridisColour(k / 20.0));
    EXPECT_GT(luminance, previous) << k;
    previous = luminance;
  }
  EXPECT_EQ(ViridisColour(-3), ViridisColour(0));
  // The diverging scale: light at 0, dark at both ends, red below and blue above.
  EXPECT_GT(Luminance(DivergingColour(0)), 0.9);
  EXPECT_LT(Luminance(DivergingColour(-1)), 0.1);
  EXPECT_LT(Luminance(DivergingColour(1)), 0.1);
  EXPECT_GT(DivergingColour(-0.6).red, DivergingColour(-0.6).blue);
  EXPECT_GT(DivergingColour(0.6).blue, DivergingColour(0.6).red);
  for (double r : {0.2, 0.5, 0.9}) {
    EXPECT_NEAR(Luminance(DivergingColour(r)), Luminance(DivergingColour(-r)), 0.12) << r;
  }
  EXPECT_EQ(DivergingColour(1.7), DivergingColour(1));
  EXPECT_EQ(DivergingColour(kNaN), (ChartColour{189, 189, 189}));
}

TEST(NiceTicks, RoundStepsCoveringTheRange) {
  EXPECT_EQ(NiceTicks(0, 1, 5), (std::vector<double>{0, 0.2, 0.4, 0.6, 0.8, 1}));
  EXPECT_EQ(NiceTicks(-7.3, 5.1, 6), (std::vector<double>{-10, -5, 0, 5, 10}));
  EXPECT_EQ(NiceTicks(-7.3, 5.1, 7), (std::vector<double>{-8, -6, -4, -2, 0, 2, 4, 6}));
  const std::vector<double> single = NiceTicks(3, 3, 4);  // a range around a single value
  EXPECT_LT(single.front(), 3);
  EXPECT_GT(single.back(), 3);
  const std::vector<double> wide = NiceTicks(0.0013, 54321, 5);
  EXPECT_LE(wide.front(), 0.0013);
  EXPECT_GE(wide.back(), 54321);
  EXPECT_DOUBLE_EQ(wide[1] - wide[0], 20000);
  EXPECT_TRUE(NiceTicks(0, kNaN, 5).empty());
}

}  // namespace
}  // namespace quorvel
