// Upper-tail probability of the F distribution with integer degrees of freedom.
#pragma once

#include <span>

namespace quorvel {

// P(F(df1, df2) > f) by the exact finite series of the F distribution; a result below 0
// is returned as 0. Evaluated with scaling so that no intermediate under- or overflows,
// for all degrees of freedom up to 65,535; beyond that by the regularised incomplete
// beta function (probability.h). A negative f gives 1.
double FUpperTail(int df1, int df2, double f);

// FUpperTail(df1, df2, f[j]) into p[j] for every j, with the same result, at a fraction
// of the cost when there are many: the series of all the statistics are summed side by
// side.
void FUpperTailMany(int df1, int df2, std::span<const double> f, std::span<double> p);

// 1 + t(start) + t(start+2) + ... over k = start, start+2, ... while k <= end, where each
// term is the previous one (1 for the first) times q * k / (k - offset). 1 when start > end.
double FTailSeries(int offset, double q, int start, int end);

}  // namespace quorvel
