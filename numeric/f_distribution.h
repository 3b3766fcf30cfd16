// Upper-tail probability of the F distribution with integer degrees of freedom.
#pragma once

namespace quorvel {

// P(F(df1, df2) > f) by the exact finite series of the F distribution; a result below 0
// is returned as 0. Evaluated with scaling so that no intermediate under- or overflows,
// for all degrees of freedom up to 65,535. A negative f gives 1.
double FUpperTail(int df1, int df2, double f);

// 1 + t(start) + t(start+2) + ... over k = start, start+2, ... while k <= end, where each
// term is the previous one (1 for the first) times q * k / (k - offset). 1 when start > end.
double FTailSeries(int offset, double q, int start, int end);

}  // namespace quorvel
