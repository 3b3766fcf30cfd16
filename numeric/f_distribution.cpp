// Upper-tail probability of the F distribution by its exact finite series for integer
// degrees of freedom (Abramowitz and Stegun, Handbook of Mathematical Functions, section
// 26.6), evaluated with binary scaling so that large degrees of freedom neither
// underflow nor overflow.
#include "numeric/f_distribution.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/probability.h"

namespace quorvel {
namespace {

// The largest degrees of freedom evaluated by the series.
constexpr int kLargestSeriesDF = 65535;

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kPi = 3.141592653589793;

// A double with a separate binary exponent: the value m * 2^e. The mantissa is kept
// within [2^-kLimit, 2^kLimit], so the product of two mantissas is always a normal
// double. Rescaling multiplies by powers of two only, which is exact: wherever the plain
// computation stays within normal doubles, the scaled one rounds identically.
struct Scaled {
  double m = 1.0;
  long e = 0;
};

constexpr int kLimit = 500;
constexpr double kHigh = 0x1p500;  // 2^kLimit
constexpr double kLow = 0x1p-500;  // 2^-kLimit

void Normalise(Scaled& s) {
  const double magnitude = std::fabs(s.m);
  if (magnitude > kHigh || (magnitude < kLow && magnitude != 0.0)) {
    if (!std::isfinite(s.m)) return;
    int exponent = 0;
    s.m = std::frexp(s.m, &exponent);
    s.e += exponent;
  }
}

Scaled Mul(Scaled a, Scaled b) {
  Scaled r{a.m * b.m, a.e + b.e};
  Normalise(r);
  return r;
}

Scaled Mul(Scaled a, double b) {
  a.m *= b;
  Normalise(a);
  return a;
}

Scaled Div(Scaled a, double b) {
  a.m /= b;
  Normalise(a);
  return a;
}

double ToDouble(Scaled s) {
  if (s.e > 100000) return std::ldexp(s.m, 100000);
  if (s.e < -100000) return std::ldexp(s.m, -100000);
  return std::ldexp(s.m, static_cast<int>(s.e));
}

// 1 + t(start) + t(start + 2) + ..., t(k) = t(k - 2) * q * k / (k - offset), with the
// running term and sum sharing one scale. When the sum grows past 2^kLimit both are
// scaled down; a term far below the sum may then lose low bits, which cannot change
// the sum. The series of several q are summed side by side: each lane goes through
// exactly the operations of its own series, but the lanes are independent, so the
// loop over them pipelines (the series of one q is a chain of dependent divisions).
__attribute__((target_clones("avx2", "default"))) void SeriesScaledMany(int offset, const double* q,
                                                                        std::size_t lanes,
                                                                        int start, int end,
                                                                        Scaled* out) {
  std::vector<double> termStorage(lanes, 1.0);
  std::vector<double> sumStorage(lanes, 1.0);
  std::vector<long> e(lanes, 0);
  double* __restrict term = termStorage.data();
  double* __restrict sum = sumStorage.data();
  const double* __restrict factor = q;
  for (long long k = start; k <= end; k += 2) {
    const double kd = static_cast<double>(k);
    const double denominator = static_cast<double>(k - offset);
    int large = 0;
    for (std::size_t j = 0; j < lanes; ++j) {
      term[j] = term[j] * factor[j] * kd / denominator;
      sum[j] += term[j];
      large |= std::fabs(sum[j]) > kHigh;
    }
    if (large == 0) continue;
    for (std::size_t j = 0; j < lanes; ++j) {
      if (std::fabs(sum[j]) > kHigh && std::isfinite(sum[j])) {
        term[j] = std::ldexp(term[j], -kLimit);
        sum[j] = std::ldexp(sum[j], -kLimit);
        e[j] += kLimit;
      }
    }
  }
  for (std::size_t j = 0; j < lanes; ++j) {
    out[j] = {sum[j], e[j]};
    Normalise(out[j]);
  }
}

Scaled SeriesScaled(int offset, double q, int start, int end) {
  Scaled result;
  SeriesScaledMany(offset, &q, 1, start, end, &result);
  return result;
}

// x raised to the real power h. The library power where its result is a normal double;
// below that range, 2^(h log2 x) with the exact part h * exponent(x) kept apart from the
// rounded part h * log2(mantissa(x)).
Scaled PowScaled(double x, double h) {
  const double r = std::pow(x, h);
  if (std::isnormal(r) || !(x > 0.0) || !std::isfinite(x) || !std::isfinite(h)) return {r, 0};
  int ex = 0;
  const double mx = std::frexp(x, &ex);
  const double whole = h * ex;  // exact: an integer or a half-integer
  const double wholeFloor = std::floor(whole);
  const double fraction = (whole - wholeFloor) + h * std::log2(mx);
  const double fractionFloor = std::floor(fraction);
  Scaled s{std::exp2(fraction - fractionFloor),
           static_cast<long>(wholeFloor) + static_cast<long>(fractionFloor)};
  Normalise(s);
  return s;
}

// c raised to the integer power n >= 0 by repeated squaring.
Scaled IntPowScaled(double c, int n) {
  Scaled result;
  Scaled base{c, 0};
  Normalise(base);
  while (n > 0) {
    if (n & 1) result = Mul(result, base);
    base = Mul(base, base);
    n >>= 1;
  }
  return result;
}

}  // namespace

double FTailSeries(int offset, double q, int start, int end) {
  return ToDouble(SeriesScaled(offset, q, start, end));
}

double FUpperTail(int df1, int df2, double f) {
  double result = 0.0;
  FUpperTailMany(df1, df2, std::span<const double>(&f, 1), std::span<double>(&result, 1));
  return result;
}

void FUpperTailMany(int df1, int df2, std::span<const double> f, std::span<double> p) {
  const std::size_t n = std::min(f.size(), p.size());
  if (df1 > kLargestSeriesDF || df2 > kLargestSeriesDF) {
    // Beyond the rows a worksheet holds the series would take a term per two degrees of
    // freedom; the incomplete beta function gives the tail at a fixed cost.
    for (std::size_t j = 0; j < n; ++j) p[j] = FUpperTailReal(df1, df2, f[j]);
    return;
  }
  std::vector<double> x(n);
  std::vector<double> q(n);
  std::vector<Scaled> series(n);
  for (std::size_t j = 0; j < n; ++j) x[j] = df2 / (df1 * f[j] + df2);
  if (df1 % 2 == 0) {
    // Even numerator degrees of freedom: x^(df2/2) times a series in 1 - x.
    for (std::size_t j = 0; j < n; ++j) q[j] = 1.0 - x[j];
    SeriesScaledMany(df2 - 2, q.data(), n, df2, df1 + df2 - 4, series.data());
    for (std::size_t j = 0; j < n; ++j) p[j] = ToDouble(Mul(PowScaled(x[j], df2 * 0.5), series[j]));
  } else if (df2 % 2 == 0) {
    // Odd numerator, even denominator: 1 - (1 - x)^(df1/2) times a series in x.
    SeriesScaledMany(df1 - 2, x.data(), n, df1, df1 + df2 - 4, series.data());
    for (std::size_t j = 0; j < n; ++j) {
      p[j] = 1.0 - ToDouble(Mul(PowScaled(1.0 - x[j], df1 * 0.5), series[j]));
    }
  } else {
    // Both odd: the Student t probability a of angle theta, and the correction d.
    std::vector<double> s(n);
    std::vector<double> c(n);
    std::vector<double> theta(n);
    for (std::size_t j = 0; j < n; ++j) {
      theta[j] = std::atan(std::sqrt(df1 * f[j] / df2));
      s[j] = std::sin(theta[j]);
      c[j] = std::cos(theta[j]);
      q[j] = c[j] * c[j];
    }
    if (df2 > 1) SeriesScaledMany(-1, q.data(), n, 2, df2 - 3, series.data());
    std::vector<Scaled> second(n);
    if (df1 != 1) {
      for (std::size_t j = 0; j < n; ++j) q[j] = s[j] * s[j];
      SeriesScaledMany(df2 - 2, q.data(), n, df2 + 1, df1 + df2 - 4, second.data());
    }
    for (std::size_t j = 0; j < n; ++j) {
      double a = theta[j] / kHalfPi;
      if (df2 > 1) a = a + s[j] * c[j] * ToDouble(series[j]) / kHalfPi;
      if (df1 == 1) {
        p[j] = 1.0 - a;
        continue;
      }
      Scaled d = Mul(second[j], 4.0);
      d = Mul(d, s[j]);
      d = Mul(d, IntPowScaled(c[j], df2));
      d = Div(d, kPi);
      if (df2 == 1) {
        p[j] = (1.0 - a) + ToDouble(d) * 0.5;
      } else {
        for (int k = 2; k <= (df2 - 1) / 2; ++k) d = Div(Mul(d, static_cast<double>(k)), k - 0.5);
        p[j] = (1.0 - a) + ToDouble(d);
      }
    }
  }
  for (std::size_t j = 0; j < n; ++j) {
    if (f[j] < 0.0) {
      p[j] = 1.0;
    } else if (p[j] < 0.0) {
      p[j] = 0.0;
    }
  }
}

}  // namespace quorvel
