// Upper F tail: the scaled evaluation against the plain series, closed forms and values
// from an independent statistics library.
#include "numeric/f_distribution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace quorvel {
namespace {

struct FTailReference {
  int df1;
  int df2;
  double f;
  double p;
};
struct TTailReference {
  int n;
  double f;
  double p;
};
#include "tests/unit/numeric/f_tail_reference.inc"

// The series and the tail written out in plain doubles, step for step, with no scaling.
// `normal` tells whether every power, series sum and product stayed a finite normal
// double; only there must the scaled evaluation reproduce it.
double PlainSeries(int offset, double q, int start, int end) {
  double term = 1.0;
  double sum = 1.0;
  for (int k = start; k <= end; k += 2) {
    term = term * q * k / (k - offset);
    sum += term;
  }
  return sum;
}

double PlainIntPow(double base, int n) {
  double result = 1.0;
  while (n > 0) {
    if (n & 1) result *= base;
    base *= base;
    n >>= 1;
  }
  return result;
}

struct Plain {
  double value;
  bool normal;
};

Plain PlainTail(int df1, int df2, double f) {
  bool normal = true;
  auto power = [&](double v) {
    normal = normal && std::isnormal(v);
    return v;
  };
  auto finite = [&](double v) {
    normal = normal && std::isfinite(v);
    return v;
  };
  const double x = df2 / (df1 * f + df2);
  double result;
  if (df1 % 2 == 0) {
    result =
        power(std::pow(x, df2 * 0.5)) * finite(PlainSeries(df2 - 2, 1 - x, df2, df1 + df2 - 4));
  } else if (df2 % 2 == 0) {
    result =
        1 - power(std::pow(1 - x, df1 * 0.5)) * finite(PlainSeries(df1 - 2, x, df1, df1 + df2 - 4));
  } else {
    const double theta = std::atan(std::sqrt(df1 * f / df2));
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    double a = theta / 1.5707963267948966;
    if (df2 > 1) a = a + s * c * PlainSeries(-1, c * c, 2, df2 - 3) / 1.5707963267948966;
    if (df1 == 1) {
      result = 1 - a;
    } else {
      double d = 4.0 * finite(PlainSeries(df2 - 2, s * s, df2 + 1, df1 + df2 - 4)) * s *
                 power(PlainIntPow(c, df2)) / 3.141592653589793;
      if (df2 == 1) {
        result = (1 - a) + d * 0.5;
      } else {
        for (int k = 2; k <= (df2 - 1) / 2; ++k) d = d * k / (k - 0.5);
        result = (1 - a) + finite(d);
      }
    }
  }
  return {result < 0 ? 0 : result, normal && std::isfinite(result)};
}

std::string Scientific(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", v);
  return text;
}

TEST(FUpperTail, SmallCasesAndBoundaries) {
  EXPECT_DOUBLE_EQ(FUpperTail(1, 1, 1.0), 0.5);
  EXPECT_DOUBLE_EQ(FUpperTail(2, 2, 1.0), 0.5);
  EXPECT_NEAR(FUpperTail(1, 2, 1.0), 1 - std::sqrt(1.0 / 3.0), 1e-15);
  for (int df1 : {1, 2, 3, 4, 7, 100, 65535}) {
    for (int df2 : {1, 2, 3, 8, 101, 65534, 65535}) {
      EXPECT_EQ(FUpperTail(df1, df2, 0.0), 1.0) << df1 << "," << df2;
      for (double f : {-1e-300, -0.5, -1e300, -std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(FUpperTail(df1, df2, f), 1.0) << df1 << "," << df2 << " f=" << f;
      }
      EXPECT_NEAR(FUpperTail(df1, df2, std::numeric_limits<double>::infinity()), 0.0, 1e-12);
    }
  }
}

TEST(FUpperTail, DecreasesInFAndStaysAProbability) {
  for (int df1 : {1, 2, 5, 30, 499, 10000, 65535}) {
    for (int df2 : {1, 2, 7, 100, 9500, 65534, 65535}) {
      double previous = 1.0;
      for (double f = 0.05; f < 50.0; f *= 1.25) {
        const double p = FUpperTail(df1, df2, f);
        ASSERT_TRUE(p >= 0.0 && p <= 1.0 + 1e-11) << df1 << "," << df2 << " f=" << f << " p=" << p;
        ASSERT_LE(p, previous + 1e-11) << df1 << "," << df2 << " f=" << f;
        previous = p;
      }
    }
  }
}

TEST(FUpperTail, EqualsThePlainSeriesWhereverThatStaysNormal) {
  int compared = 0;
  double largest = 0.0;
  for (int df1 : {1,   2,   3,   4,   5,    6,    9,    10,   33,    64,
                  101, 250, 499, 500, 1000, 1001, 4096, 9999, 65534, 65535}) {
    for (int df2 : {1,   2,   3,   4,   5,    6,    9,    10,   33,    64,
                    101, 250, 499, 500, 1000, 1001, 4096, 9500, 65534, 65535}) {
      for (double f : {0.0, 0.01, 0.3, 0.9, 1.0, 1.05, 1.5, 2.0, 4.0, 10.0, 100.0, 1e4}) {
        const Plain plain = PlainTail(df1, df2, f);
        if (!plain.normal) continue;
        ++compared;
        const double scaled = FUpperTail(df1, df2, f);
        const double error = std::fabs(scaled - plain.value);
        ASSERT_LE(error, 1e-12 * std::fabs(plain.value)) << df1 << "," << df2 << " f=" << f;
        largest = std::max(largest, error / std::max(std::fabs(plain.value), 1e-300));
      }
    }
  }
  EXPECT_GT(compared, 2000);  // most of the grid stays within normal doubles
  RecordProperty("largest_relative_difference", Scientific(largest));
}

TEST(FTailSeries, SumsTheSeriesAndIsOneWhenEmpty) {
  EXPECT_EQ(FTailSeries(0, 0.5, 5, 3), 1.0);
  EXPECT_EQ(FTailSeries(3, 0.25, 9, 8), 1.0);
  // k = 1, 3, 5: terms 0.5, 0.25, 0.125.
  EXPECT_DOUBLE_EQ(FTailSeries(0, 0.5, 1, 5), 1.875);
  for (int offset : {-1, 0, 7, 98}) {
    for (double q : {0.0, 0.2, 0.5, 0.99}) {
      const int start = offset + 2;
      const double plain = PlainSeries(offset, q, start, start + 400);
      EXPECT_NEAR(FTailSeries(offset, q, start, start + 400), plain, 1e-13 * plain);
    }
  }
}

// The unscaled series underflows to 0 and overflows to not-a-number on these.
TEST(FUpperTail, LargeDesignsWhereThePlainSeriesFails) {
  for (const FTailReference& r : kLargeDesigns) {
    EXPECT_FALSE(PlainTail(r.df1, r.df2, r.f).normal);
    EXPECT_NEAR(FUpperTail(r.df1, r.df2, r.f), r.p, 1e-11 * r.p) << r.df1 << "," << r.df2;
  }
}

// F(2, n) at f is (1 + 2f/n)^(-n/2).
TEST(FUpperTail, TwoNumeratorDegreesOfFreedomInClosedForm) {
  for (int n = 1; n <= 65535; n += (n < 100 ? 1 : 997)) {
    for (double f : {0.01, 0.7, 1.0, 3.0, 8.0, 20.0}) {
      const double exact = std::exp(-0.5 * n * std::log1p(2.0 * f / n));
      EXPECT_NEAR(FUpperTail(2, n, f), exact, 1e-11 * exact) << n << " f=" << f;
    }
  }
}

// F(1, n) at f is the two-sided t probability at sqrt(f): closed forms for n = 1, 2, 3,
// values from an independent library beyond.
TEST(FUpperTail, OneNumeratorDegreeOfFreedomIsTheTwoSidedT) {
  const double pi = 3.141592653589793;
  for (double f : {0.001, 0.2, 1.0, 2.5, 7.0, 40.0, 1e4}) {
    const double t = std::sqrt(f);
    EXPECT_NEAR(FUpperTail(1, 1, f), 1 - 2 / pi * std::atan(t), 1e-15);
    EXPECT_NEAR(FUpperTail(1, 2, f), 1 - t / std::sqrt(2 + f), 1e-15);
    EXPECT_NEAR(FUpperTail(1, 3, f),
                1 - 2 / pi * (std::atan(t / std::sqrt(3.0)) + std::sqrt(3.0) * t / (f + 3)), 1e-15);
  }
  // For small f and large n, 1 - x = 1 - n / (f + n) cancels: the series then carries a
  // few units of 1e-11 (the largest here, 2.0e-11, at n = 65,534, f = 0.01).
  double largest = 0.0;
  for (const TTailReference& r : kTTailTable) {
    const double error = std::fabs(FUpperTail(1, r.n, r.f) - r.p);
    EXPECT_LE(error, 3e-11) << r.n << " f=" << r.f;
    largest = std::max(largest, error);
  }
  RecordProperty("largest_absolute_error", Scientific(largest));
}

// Against an independent incomplete-beta implementation over degrees of freedom from 1
// to 65,535. The series loses accuracy in proportion to the degrees of freedom (as do
// its inputs x and 1 - x, raised to powers up to 32,767): a few units of 1e-12 at most.
TEST(FUpperTail, MatchesIndependentValuesForAllDegreesOfFreedom) {
  double largestAbsolute = 0.0;
  double largestRelative = 0.0;
  for (const FTailReference& r : kFTailTable) {
    const double p = FUpperTail(r.df1, r.df2, r.f);
    const double error = std::fabs(p - r.p);
    EXPECT_LE(error, 1e-11) << r.df1 << "," << r.df2 << " f=" << r.f << " p=" << p << " want "
                            << r.p;
    if (r.p >= 1e-3) {
      EXPECT_LE(error, 1e-9 * r.p) << r.df1 << "," << r.df2 << " f=" << r.f;
    }
    largestAbsolute = std::max(largestAbsolute, error);
    if (r.p >= 1e-3) largestRelative = std::max(largestRelative, error / r.p);
  }
  RecordProperty("largest_absolute_error", Scientific(largestAbsolute));
  RecordProperty("largest_relative_error_p_above_1e-3", Scientific(largestRelative));
}

// Many statistics at once give, lane by lane, exactly the single evaluations, whatever
// mixture of values (negative, zero, huge, not a number) shares the batch.
TEST(FUpperTailMany, EqualsSingleEvaluationsBitForBit) {
  const std::vector<double> f = {-1.0, 0.0,  1e-9, 0.37,  1.0,
                                 2.5,  17.0, 1e6,  1e300, std::numeric_limits<double>::quiet_NaN()};
  const std::pair<int, int> degrees[] = {{1, 1},  {1, 2},  {1, 9},     {2, 7},     {3, 3},
                                         {4, 20}, {5, 58}, {1, 58499}, {7, 65535}, {499, 9500}};
  for (const auto& [df1, df2] : degrees) {
    std::vector<double> many(f.size());
    FUpperTailMany(df1, df2, f, many);
    for (std::size_t j = 0; j < f.size(); ++j) {
      const double single = FUpperTail(df1, df2, f[j]);
      if (std::isnan(single)) {
        EXPECT_TRUE(std::isnan(many[j])) << df1 << "," << df2 << " f=" << f[j];
      } else {
        EXPECT_EQ(many[j], single) << df1 << "," << df2 << " f=" << f[j];
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
