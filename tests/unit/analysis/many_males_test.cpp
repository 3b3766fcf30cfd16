// Designs with thousands of males: the analysis grows with the number of male pairs, not
// faster (2,000 males once took more than three minutes, most of it in the fixed stage);
// the test's time limit is a run-away guard, the figures are the benchmark's.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "analysis/analyze_design.h"
#include "tests/support/design_generator.h"

namespace quorvel {
namespace {

// 2,000 males with 2 females of 2 progeny: every male difference is the difference of
// the male means over its standard error sqrt(2 MS_E / 4), the error on 4,000 DF.
TEST(ManyMales, TwoThousandMalesGiveTheMaleDifferencesOfTheirMeans) {
  const int males = 2000;
  const DesignData data =
      testing::GenerateDesign({"", ModelKind::Nested, true, 1, 3, 0, males, 2, 0, 2});
  AnalysisOptions options;
  options.diagnostics = nullptr;
  const AnalysisResult result = AnalyzeDesign(data, options);
  const FixedTraitResult& fixed = result.traits[0].fixed;
  ASSERT_EQ(fixed.maleT.size(), static_cast<std::size_t>(males) * (males - 1) / 2);
  std::map<int, double> mean;
  for (int i = 0; i < data.observationCount; ++i)
    mean[data.factorCodes[0][i]] += data.traitValues[0][i] / 4;
  EXPECT_EQ(fixed.errorDF, 4000);
  const double se = std::sqrt(2.0 * fixed.errorMS / 4.0);
  for (const auto& [i, j] :
       {std::pair{1, 0}, std::pair{999, 3}, std::pair{1999, 1998}, std::pair{1500, 700}}) {
    const double t = (mean[i + 1] - mean[j + 1]) / se;
    EXPECT_NEAR(fixed.maleT[MalePairIndex(i, j)], t, 1e-8 * std::max(1.0, std::fabs(t)))
        << i << "," << j;
  }
  // The exact male test of a balanced design is MS_M / MS_F.
  EXPECT_FALSE(std::isnan(result.traits[0].random.components[0].f));
}

}  // namespace
}  // namespace quorvel
