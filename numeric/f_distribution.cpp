// Upper-tail probability of the F distribution by its exact finite series for integer
// degrees of freedom (Abramowitz and Stegun, Handbook of Mathematical Functions, section
// 26.6), evaluated with binary scaling so that large degrees of freedom neither
// underflow nor overflow.
#include "numeric/f_distribution.h"

#include <cmath>

namespace quorvel {
namespace {

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
// the sum.
Scaled SeriesScaled(int offset, double q, int start, int end) {
  double term = 1.0;
  double sum = 1.0;
  long e = 0;
  for (long long k = start; k <= end; k += 2) {
    term = term * q * static_cast<double>(k) / static_cast<double>(k - offset);
    sum += term;
    if (std::fabs(sum) > kHigh && std::isfinite(sum)) {
      term = std::ldexp(term, -kLimit);
      sum = std::ldexp(sum, -kLimit);
      e += kLimit;
    }
  }
  Scaled s{sum, e};
  Normalise(s);
  return s;
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
  if (f < 0.0) return 1.0;
  const double x = df2 / (df1 * f + df2);
  double result;
  if (df1 % 2 == 0) {
    // Even numerator degrees of freedom: x^(df2/2) times a series in 1 - x.
    result =
        ToDouble(Mul(PowScaled(x, df2 * 0.5), SeriesScaled(df2 - 2, 1.0 - x, df2, df1 + df2 - 4)));
  } else if (df2 % 2 == 0) {
    // Odd numerator, even denominator: 1 - (1 - x)^(df1/2) times a series in x.
    result = 1.0 - ToDouble(Mul(PowScaled(1.0 - x, df1 * 0.5),
                                SeriesScaled(df1 - 2, x, df1, df1 + df2 - 4)));
  } else {
    // Both odd: the Student t probability a of angle theta, and the correction d.
    const double theta = std::atan(std::sqrt(df1 * f / df2));
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    double a = theta / kHalfPi;
    if (df2 > 1) a = a + s * c * ToDouble(SeriesScaled(-1, c * c, 2, df2 - 3)) / kHalfPi;
    if (df1 == 1) {
      result = 1.0 - a;
    } else {
      Scaled d = Mul(SeriesScaled(df2 - 2, s * s, df2 + 1, df1 + df2 - 4), 4.0);
      d = Mul(d, s);
      d = Mul(d, IntPowScaled(c, df2));
      d = Div(d, kPi);
      if (df2 == 1) {
        result = (1.0 - a) + ToDouble(d) * 0.5;
      } else {
        for (int k = 2; k <= (df2 - 1) / 2; ++k) d = Div(Mul(d, static_cast<double>(k)), k - 0.5);
        result = (1.0 - a) + ToDouble(d);
      }
    }
  }
  return result < 0.0 ? 0.0 : result;
}

}  // namespace quorvel
