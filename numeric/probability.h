// Tail probabilities and quantiles of the Student t, chi-square and normal distributions,
// evaluated by Boost.Math. Arguments outside a distribution's domain (a degree of freedom
// that is not positive, a probability outside (0, 1), a NaN) give NaN; nothing throws.
#pragma once

namespace quorvel {

// P(|T| > |t|) for T with df degrees of freedom.
double StudentTTwoSidedP(double t, double df);

// The p-quantile of Student's t with df degrees of freedom.
double StudentTQuantile(double p, double df);

// The p-quantile of the chi-square distribution with df (real, positive) degrees of freedom.
double ChiSquareQuantile(double p, double df);

// The p-quantile of the standard normal distribution.
double NormalQuantile(double p);

// P(F(df1, df2) > f) for real degrees of freedom (for instance Satterthwaite's): 1 for a
// negative f, NaN for a NaN or a degree of freedom that is not positive.
double FUpperTailReal(double df1, double df2, double f);

}  // namespace quorvel
