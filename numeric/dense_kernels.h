// Inner products and updates for the dense loops of the analysis. A plain running sum is
// a chain of dependent additions that the compiler may not reorder; eight independent
// partial sums let it use vector registers and keep the adder busy. Both kernels are
// built for AVX2 as well and chosen at load time where the processor has it.
#pragma once

#include <cstddef>

namespace quorvel {

// Sum over k < n of a[k] * b[k].
double Dot(const double* a, const double* b, std::size_t n);

// y[k] -= alpha * x[k] for k < n.
void SubtractScaled(double* y, const double* x, double alpha, std::size_t n);

}  // namespace quorvel
