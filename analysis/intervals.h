// Confidence intervals of the variance components, the heritabilities and the fixed-model
// parameter estimates, computed from the numbers the result already carries (estimates,
// standard errors, the error degrees of freedom). Every interval is two-sided at `level`.
#pragma once

#include "analysis/analysis_result.h"
#include "analysis/interval.h"

namespace quorvel {

// The exact interval of a residual variance s2 = SS_E / df from SS_E / sigma^2 ~ chi2(df):
// [df s2 / chi2(1 - a/2, df), df s2 / chi2(a/2, df)], a = 1 - level (Searle, Casella and
// McCulloch 1992). Undefined for s2 <= 0, df < 1 or any input not finite.
Interval ResidualVarianceInterval(double estimate, int df, double level);

// Satterthwaite's (1946) interval of a variance component estimated by a linear
// combination of mean squares: the estimate is taken as sigma^2 chi2(nu) / nu with
// nu = 2 estimate^2 / variance, variance the estimate's sampling variance, which gives
// [nu estimate / chi2(1 - a/2, nu), nu estimate / chi2(a/2, nu)] (Burdick and Graybill
// 1992). Undefined for an estimate <= 0, a variance <= 0 or not finite, or a
// bound that does not come out finite: never a made-up number.
Interval SatterthwaiteInterval(double estimate, double variance, double level);

// The Wald interval estimate +- z(1 - a/2) se from a first-order (delta-method) standard
// error; approximate: it is symmetric and may leave [0, 1] for a heritability near 0 or
// 1. Undefined for an estimate or se that is not finite, or se <= 0.
Interval WaldInterval(double estimate, double se, double level);

// The interval estimate +- t(1 - a/2, df) se of a least-squares parameter estimate with
// df error degrees of freedom. Undefined for df < 1 or an estimate or se that is not
// finite (or negative se).
Interval StudentTInterval(double estimate, double se, int df, double level);

// Fills the `ci` of every component (Sigma_E: ResidualVarianceInterval with the fixed
// model's error DF; the random terms: SatterthwaiteInterval with se^2 as the variance),
// every heritability (WaldInterval) and every parameter estimate (StudentTInterval with
// the error DF) of `result`, and sets result.confidenceLevel. A level outside (0, 1)
// leaves every interval undefined (with that level recorded).
void AddConfidenceIntervals(AnalysisResult& result, double level);

}  // namespace quorvel
