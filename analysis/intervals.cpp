// Confidence intervals from the estimates, standard errors and degrees of freedom of the
// result. Quantiles come from numeric/probability.h, which returns NaN (never throws) for
// arguments outside a distribution's domain; every interval checks its bounds once more
// before it calls itself defined.
#include "analysis/intervals.h"

#include <cmath>
#include <limits>

#include "numeric/probability.h"

namespace quorvel {
namespace {

constexpr const char* kChiSquare = "chisq";
constexpr const char* kSatterthwaite = "satterthwaite";
constexpr const char* kWald = "wald";
constexpr const char* kStudentT = "t";

bool IsLevel(double level) { return level > 0.0 && level < 1.0; }

// An interval of `method` at `level`, undefined until its bounds are set.
Interval Undefined(const char* method, double level) {
  Interval interval;
  interval.level = level;
  interval.method = method;
  return interval;
}

// Sets both bounds when both are finite; otherwise leaves both undefined, so that an
// interval is either whole or absent.
Interval WithBounds(Interval interval, double lower, double upper) {
  if (std::isfinite(lower) && std::isfinite(upper)) {
    interval.lower = lower;
    interval.upper = upper;
  }
  return interval;
}

// [df s2 / chi2(1 - a/2, df), df s2 / chi2(a/2, df)] for a real df > 0.
Interval ChiSquareScaled(const char* method, double estimate, double df, double level) {
  Interval interval = Undefined(method, level);
  if (!IsLevel(level) || !(estimate > 0.0) || !std::isfinite(estimate) || !(df > 0.0) ||
      !std::isfinite(df)) {
    return interval;
  }
  const double alpha = 1.0 - level;
  const double upperQuantile = ChiSquareQuantile(1.0 - alpha / 2.0, df);
  const double lowerQuantile = ChiSquareQuantile(alpha / 2.0, df);
  if (!(upperQuantile > 0.0) || !(lowerQuantile > 0.0)) return interval;
  const double scaled = df * estimate;
  return WithBounds(interval, scaled / upperQuantile, scaled / lowerQuantile);
}

// estimate +- quantile se.
Interval Symmetric(const char* method, double estimate, double se, double quantile, double level) {
  const Interval interval = Undefined(method, level);
  if (!std::isfinite(estimate) || !std::isfinite(se) || !std::isfinite(quantile) || se < 0.0)
    return interval;
  const double half = quantile * se;
  return WithBounds(interval, estimate - half, estimate + half);
}

// t(1 - a/2, df), NaN where it does not exist.
double StudentTHalfWidthQuantile(int df, double level) {
  if (!IsLevel(level) || df < 1) return std::numeric_limits<double>::quiet_NaN();
  return StudentTQuantile(1.0 - (1.0 - level) / 2.0, static_cast<double>(df));
}

}  // namespace

Interval ResidualVarianceInterval(double estimate, int df, double level) {
  if (df < 1) return Undefined(kChiSquare, level);
  return ChiSquareScaled(kChiSquare, estimate, static_cast<double>(df), level);
}

Interval SatterthwaiteInterval(double estimate, double variance, double level) {
  if (!(variance > 0.0) || !std::isfinite(variance) || !(estimate > 0.0) ||
      !std::isfinite(estimate)) {
    return Undefined(kSatterthwaite, level);
  }
  // Satterthwaite's degrees of freedom: the nu for which nu estimate / sigma^2 ~ chi2(nu)
  // has the estimate's mean and variance.
  const double nu = 2.0 * estimate * estimate / variance;
  return ChiSquareScaled(kSatterthwaite, estimate, nu, level);
}

Interval WaldInterval(double estimate, double se, double level) {
  if (!IsLevel(level) || !(se > 0.0)) return Undefined(kWald, level);
  return Symmetric(kWald, estimate, se, NormalQuantile(1.0 - (1.0 - level) / 2.0), level);
}

Interval StudentTInterval(double estimate, double se, int df, double level) {
  return Symmetric(kStudentT, estimate, se, StudentTHalfWidthQuantile(df, level), level);
}

void AddConfidenceIntervals(AnalysisResult& result, double level) {
  result.confidenceLevel = level;
  for (TraitResult& trait : result.traits) {
    const int errorDF = trait.fixed.errorDF;
    // One quantile for all the parameters of the trait: there may be thousands.
    const double quantile = StudentTHalfWidthQuantile(errorDF, level);
    for (ParameterEstimate& e : trait.fixed.estimates)
      e.ci = Symmetric(kStudentT, e.estimate, e.stdError, quantile, level);
    for (ComponentEstimate& c : trait.random.components) {
      // The residual's estimate is the error mean square, on the fixed model's error
      // degrees of freedom (the random model's residual rows are the same N - rank).
      c.ci = c.parameter == "Sigma_E"
                 ? ResidualVarianceInterval(c.estimate, errorDF, level)
                 : SatterthwaiteInterval(c.estimate, c.stdError * c.stdError, level);
    }
    for (HeritabilityEstimate& h : trait.random.heritabilities)
      h.ci = WaldInterval(h.estimate, h.stdError, level);
  }
}

}  // namespace quorvel
