// Test support: the in-place inversion of symmetric matrices that the reference
// computations of the fixed model use (the analysis itself factors its normal matrices by
// structure, analysis/arrow_cholesky.h).
#pragma once

#include <cstdio>

namespace quorvel::testing {

// Replaces the n x n symmetric matrix a (rows are separate arrays; only the lower
// triangle is read) by its inverse, by cyclic in-place elimination on the leading entry
// without pivot search, and mirrors the result into the upper triangle. Returns 2.
// When a leading entry w has |w| + 1 == 1 it writes "fail\n" to diag and returns -2,
// leaving a as far as it was transformed.
int InvertSymmetric(double** a, int n, std::FILE* diag = stdout);

}  // namespace quorvel::testing
