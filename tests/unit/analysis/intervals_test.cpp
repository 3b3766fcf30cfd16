// Confidence intervals: the fixture data sets of the three models against R's quantiles
// (frozen in interval_reference.inc), the cases where no interval exists, and the
// identities that tie the methods together.
#include "analysis/intervals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>

#include "analysis/analyze_design.h"
#include "tests/support/csv_design.h"

namespace quorvel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct IntervalReference {
  const char* dataSet;
  double level;
  int trait;
  const char* table;  // "estimates", "components" or "heritabilities"
  int row;
  double estimate, se;  // what R started from
  double lower, upper;  // NAN: no interval
};

#include "interval_reference.inc"

void ExpectRelativelyNear(double actual, double expected, double tolerance, const char* what) {
  EXPECT_LE(std::fabs(actual - expected), tolerance * std::fabs(expected))
      << what << ": " << actual << " against " << expected;
}

// The interval and its estimate and se in `result` that a reference row names.
struct Located {
  double estimate, se;
  Interval ci;
};
Located Locate(const AnalysisResult& result, const IntervalReference& r) {
  const TraitResult& trait = result.traits.at(static_cast<std::size_t>(r.trait));
  const auto row = static_cast<std::size_t>(r.row);
  if (std::strcmp(r.table, "estimates") == 0) {
    const ParameterEstimate& e = trait.fixed.estimates.at(row);
    return {e.estimate, e.stdError, e.ci};
  }
  if (std::strcmp(r.table, "components") == 0) {
    const ComponentEstimate& c = trait.random.components.at(row);
    return {c.estimate, c.stdError, c.ci};
  }
  const HeritabilityEstimate& h = trait.random.heritabilities.at(row);
  return {h.estimate, h.stdError, h.ci};
}

const char* ExpectedMethod(const AnalysisResult& result, const IntervalReference& r) {
  if (std::strcmp(r.table, "estimates") == 0) return "t";
  if (std::strcmp(r.table, "heritabilities") == 0) return "wald";
  const auto& components = result.traits.at(static_cast<std::size_t>(r.trait)).random.components;
  return components.at(static_cast<std::size_t>(r.row)).parameter == "Sigma_E" ? "chisq"
                                                                               : "satterthwaite";
}

TEST(Intervals, FixturesOfAllThreeModelsAgreeWithR) {
  std::map<std::pair<std::string, double>, AnalysisResult> results;
  int defined = 0;
  int undefined = 0;
  for (const IntervalReference& r : kIntervalReference) {
    auto key = std::make_pair(std::string(r.dataSet), r.level);
    if (results.count(key) == 0) {
      const DesignData data = testing::LoadDesignCsv(std::string(QUORVEL_TEST_DATA) + "/analysis/" +
                                                     r.dataSet + ".csv");
      ASSERT_NE(data.kind, ModelKind::None) << r.dataSet;
      AnalysisOptions options;
      options.diagnostics = nullptr;
      options.confidenceLevel = r.level;
      results.emplace(key, AnalyzeDesign(data, options));
    }
    const AnalysisResult& result = results.at(key);
    SCOPED_TRACE(std::string(r.dataSet) + " level " + std::to_string(r.level) + " trait " +
                 std::to_string(r.trait + 1) + " " + r.table + " " + std::to_string(r.row));
    const Located got = Locate(result, r);
    // The same starting point as R's (the workbook and its CSV source may differ in the
    // last bit of a value).
    ExpectRelativelyNear(got.estimate, r.estimate, 1e-10, "estimate");
    ExpectRelativelyNear(got.se, r.se, 1e-10, "se");
    EXPECT_STREQ(got.ci.method, ExpectedMethod(result, r));
    EXPECT_EQ(got.ci.level, r.level);
    EXPECT_EQ(result.confidenceLevel, r.level);
    if (std::isnan(r.lower)) {
      EXPECT_TRUE(std::isnan(got.ci.lower) && std::isnan(got.ci.upper))
          << "an interval where none exists: [" << got.ci.lower << ", " << got.ci.upper << "]";
      EXPECT_FALSE(got.ci.Defined());
      ++undefined;
    } else {
      ExpectRelativelyNear(got.ci.lower, r.lower, 1e-8, "lower");
      ExpectRelativelyNear(got.ci.upper, r.upper, 1e-8, "upper");
      EXPECT_TRUE(got.ci.Defined());
      ++defined;
    }
  }
  // Every model, and both kinds of outcome, were exercised.
  EXPECT_GT(defined, 100);
  EXPECT_GE(undefined, 5);
}

TEST(Intervals, NoIntervalWhereTheMethodHasNone) {
  // Satterthwaite: a component at or below zero, a sampling variance that is zero,
  // negative, infinite or NaN, an estimate that is not finite.
  for (const auto& [estimate, variance] : {std::pair{-0.28, 0.07},
                                           {0.0, 0.07},
                                           {1.5, 0.0},
                                           {1.5, -0.2},
                                           {1.5, kInf},
                                           {1.5, kNaN},
                                           {kNaN, 0.07},
                                           {kInf, 0.07}}) {
    const Interval ci = SatterthwaiteInterval(estimate, variance, 0.95);
    EXPECT_TRUE(std::isnan(ci.lower) && std::isnan(ci.upper)) << estimate << " " << variance;
    EXPECT_STREQ(ci.method, "satterthwaite");
    EXPECT_EQ(ci.level, 0.95);
  }
  // Satterthwaite's df so small (2 (0.5 / 40)^2 = 3e-4) that the upper limit is beyond the
  // largest double: no interval rather than half of one.
  EXPECT_FALSE(SatterthwaiteInterval(0.5, 1600.0, 0.95).Defined());
  // The residual: no residual degrees of freedom, or no residual variance.
  EXPECT_FALSE(ResidualVarianceInterval(2.0, 0, 0.95).Defined());
  EXPECT_FALSE(ResidualVarianceInterval(0.0, 12, 0.95).Defined());
  EXPECT_FALSE(ResidualVarianceInterval(kNaN, 12, 0.95).Defined());
  // Wald and t: a standard error that is zero or not finite, no error degrees of freedom.
  EXPECT_FALSE(WaldInterval(0.3, kNaN, 0.95).Defined());
  EXPECT_FALSE(WaldInterval(0.3, 0.0, 0.95).Defined());
  EXPECT_FALSE(WaldInterval(kNaN, 0.1, 0.95).Defined());
  EXPECT_FALSE(StudentTInterval(3.0, 1.0, 0, 0.95).Defined());
  EXPECT_FALSE(StudentTInterval(3.0, kNaN, 10, 0.95).Defined());
  EXPECT_FALSE(StudentTInterval(3.0, -1.0, 10, 0.95).Defined());
  // A parameter fixed by the restrictions has se 0 and the (degenerate) interval of it.
  const Interval fixed = StudentTInterval(0.0, 0.0, 10, 0.95);
  EXPECT_EQ(fixed.lower, 0.0);
  EXPECT_EQ(fixed.upper, 0.0);
  // A level outside (0, 1) gives no interval of any kind.
  for (const double level : {0.0, 1.0, -0.5, 95.0, kNaN}) {
    EXPECT_FALSE(SatterthwaiteInterval(2.0, 1.0, level).Defined()) << level;
    EXPECT_FALSE(ResidualVarianceInterval(2.0, 12, level).Defined()) << level;
    EXPECT_FALSE(WaldInterval(0.3, 0.1, level).Defined()) << level;
    EXPECT_FALSE(StudentTInterval(3.0, 1.0, 12, level).Defined()) << level;
  }
}

TEST(Intervals, DegenerateFixtureHasNoMadeUpIntervals) {
  // One female per male: the male and female components and the heritabilities are not
  // numbers; the residual's exact interval and the estimates' t intervals remain.
  const DesignData data =
      testing::LoadDesignCsv(std::string(QUORVEL_TEST_DATA) + "/xls/fixtures/males_101.csv");
  ASSERT_EQ(data.kind, ModelKind::Nested);
  AnalysisOptions options;
  options.diagnostics = nullptr;
  const AnalysisResult result = AnalyzeDesign(data, options);
  for (const TraitResult& trait : result.traits) {
    for (const ComponentEstimate& c : trait.random.components) {
      EXPECT_EQ(c.ci.Defined(), c.parameter == "Sigma_E") << c.parameter;
      EXPECT_EQ(std::isnan(c.ci.lower), c.parameter != "Sigma_E") << c.parameter;
    }
    for (const HeritabilityEstimate& h : trait.random.heritabilities) {
      EXPECT_FALSE(h.ci.Defined()) << h.parameter;
      EXPECT_TRUE(std::isnan(h.ci.lower) && std::isnan(h.ci.upper)) << h.parameter;
    }
    EXPECT_TRUE(trait.fixed.estimates.front().ci.Defined());
  }
}

TEST(Intervals, MethodsAgreeWhereTheyMeet) {
  // The residual mean square on df degrees of freedom has sampling variance 2 s^4 / df, for
  // which Satterthwaite's df is df itself: both methods give the exact interval.
  for (const int df : {1, 3, 12, 157, 9990}) {
    const double s2 = 543.3325;
    const Interval exact = ResidualVarianceInterval(s2, df, 0.9);
    const Interval approximate = SatterthwaiteInterval(s2, 2.0 * s2 * s2 / df, 0.9);
    ExpectRelativelyNear(approximate.lower, exact.lower, 1e-12, "lower");
    ExpectRelativelyNear(approximate.upper, exact.upper, 1e-12, "upper");
    EXPECT_LT(exact.lower, s2);
    EXPECT_GT(exact.upper, s2);
  }
  // With many error degrees of freedom t approaches z: the t interval of a huge df and the
  // Wald interval coincide; a wider level gives a wider interval around the same centre.
  const Interval t = StudentTInterval(0.4, 0.1, 1 << 30, 0.95);
  const Interval z = WaldInterval(0.4, 0.1, 0.95);
  ExpectRelativelyNear(t.lower, z.lower, 1e-8, "lower");
  ExpectRelativelyNear(t.upper, z.upper, 1e-8, "upper");
  const Interval z99 = WaldInterval(0.4, 0.1, 0.99);
  EXPECT_LT(z99.lower, z.lower);
  EXPECT_GT(z99.upper, z.upper);
  ExpectRelativelyNear(z99.lower + z99.upper, 0.8, 1e-15, "centre");
}

}  // namespace
}  // namespace quorvel
