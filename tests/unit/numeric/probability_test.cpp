// The quantiles behind the confidence intervals against R's, their domains, and the
// program's own F tail against Boost.Math's t and F distributions: the report's p values
// and the intervals must come from distributions that agree.
#include "numeric/probability.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "numeric/f_distribution.h"

namespace quorvel {
namespace {

struct QuantileReference {
  double p;
  double df;
  double quantile;
};
struct NormalQuantileReference {
  double p;
  double quantile;
};
#include "tests/unit/numeric/quantile_reference.inc"

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string ThreeDigits(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

double RelativeError(double actual, double expected) {
  return std::fabs(actual - expected) / std::fabs(expected);
}

TEST(Quantiles, AgreeWithR) {
  // Chi-square down to df 0.05, where the lower quantiles are near 1e-92: Satterthwaite's
  // degrees of freedom of a poorly determined component are that small.
  for (const QuantileReference& r : kChiSquareQuantiles) {
    EXPECT_LE(RelativeError(ChiSquareQuantile(r.p, r.df), r.quantile), 1e-11)
        << "p=" << r.p << " df=" << r.df;
  }
  for (const QuantileReference& r : kStudentTQuantiles) {
    EXPECT_LE(RelativeError(StudentTQuantile(r.p, r.df), r.quantile), 1e-12)
        << "p=" << r.p << " df=" << r.df;
    // The t distribution is symmetric.
    EXPECT_LE(RelativeError(StudentTQuantile(1.0 - r.p, r.df), -r.quantile), 1e-12);
  }
  for (const NormalQuantileReference& r : kNormalQuantiles)
    EXPECT_LE(RelativeError(NormalQuantile(r.p), r.quantile), 1e-14) << "p=" << r.p;
}

TEST(Quantiles, OutsideTheDomainAreNaNNotExceptions) {
  for (const double p : {0.0, 1.0, -0.1, 1.5, kNaN}) {
    EXPECT_TRUE(std::isnan(ChiSquareQuantile(p, 3.0))) << p;
    EXPECT_TRUE(std::isnan(StudentTQuantile(p, 3.0))) << p;
    EXPECT_TRUE(std::isnan(NormalQuantile(p))) << p;
  }
  for (const double df : {0.0, -2.0, kNaN}) {
    EXPECT_TRUE(std::isnan(ChiSquareQuantile(0.5, df))) << df;
    EXPECT_TRUE(std::isnan(StudentTQuantile(0.5, df))) << df;
    EXPECT_TRUE(std::isnan(StudentTTwoSidedP(1.0, df))) << df;
  }
  EXPECT_TRUE(std::isnan(ChiSquareQuantile(0.5, std::numeric_limits<double>::infinity())));
  EXPECT_TRUE(std::isnan(StudentTTwoSidedP(kNaN, 4.0)));
}

// F(1, df) at t^2 is the two-sided t probability at t: the program's series against
// Boost's incomplete beta, over the degrees of freedom of real designs.
TEST(FUpperTail, AgreesWithBoostTwoSidedT) {
  double largest = 0.0;
  for (const int df : {1, 2, 3, 7, 30, 157, 1000, 9990, 65535}) {
    for (const double t : {0.0, 0.05, 0.7, 1.0, 1.96, 2.5, 4.0, 10.0, 50.0}) {
      const double series = FUpperTail(1, df, t * t);
      const double boost = StudentTTwoSidedP(t, df);
      EXPECT_NEAR(series, boost, 1e-10) << "df=" << df << " t=" << t;
      if (boost >= 1e-3) {
        EXPECT_LE(RelativeError(series, boost), 1e-9) << "df=" << df;
      }
      largest = std::max(largest, std::fabs(series - boost));
      EXPECT_EQ(StudentTTwoSidedP(-t, df), boost);
    }
  }
  RecordProperty("largest_absolute_difference", ThreeDigits(largest));
}

TEST(FUpperTail, AgreesWithBoostFisherF) {
  double largest = 0.0;
  for (const int df1 : {1, 2, 3, 5, 12, 99, 500}) {
    for (const int df2 : {1, 2, 4, 9, 40, 157, 2000, 65535}) {
      const boost::math::fisher_f_distribution<double> distribution(df1, df2);
      for (const double p : {0.9, 0.5, 0.05, 0.01, 1e-4}) {
        // The statistic at which Boost's upper tail is p.
        const double f = boost::math::quantile(boost::math::complement(distribution, p));
        const double boost = boost::math::cdf(boost::math::complement(distribution, f));
        const double series = FUpperTail(df1, df2, f);
        EXPECT_NEAR(series, boost, 1e-10) << df1 << "," << df2 << " f=" << f;
        EXPECT_LE(RelativeError(series, boost), 1e-8) << df1 << "," << df2 << " f=" << f;
        largest = std::max(largest, RelativeError(series, boost));
      }
    }
  }
  RecordProperty("largest_relative_difference", ThreeDigits(largest));
}

}  // namespace
}  // namespace quorvel
