// Inner products and updates for the dense loops of the analysis.
#include "numeric/dense_kernels.h"

namespace quorvel {

__attribute__((target_clones("avx2", "default"))) double Dot(const double* a, const double* b,
                                                             std::size_t n) {
  double partial[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    for (std::size_t j = 0; j < 8; ++j) partial[j] += a[k + j] * b[k + j];
  }
  double sum = ((partial[0] + partial[4]) + (partial[1] + partial[5])) +
               ((partial[2] + partial[6]) + (partial[3] + partial[7]));
  for (; k < n; ++k) sum += a[k] * b[k];
  return sum;
}

__attribute__((target_clones("avx2", "default"))) void SubtractScaled(double* y, const double* x,
                                                                      double alpha, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) y[k] -= alpha * x[k];
}

}  // namespace quorvel
