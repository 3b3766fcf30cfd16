// Test support: cyclic in-place inversion of symmetric matrices.
#include "tests/support/reference_inverse.h"

#include <cmath>
#include <vector>

namespace quorvel::testing {

int InvertSymmetric(double** a, int n, std::FILE* diag) {
  if (n <= 0) return 2;
  std::vector<double> work(static_cast<std::size_t>(n));

  // Each step eliminates on the leading entry, shifts the remaining block up and left
  // by one and appends the transformed row at the bottom; after n steps the matrix has
  // cycled back into place as the inverse. Only the lower triangle is read.
  for (int k = 0; k < n; ++k) {
    const double w = a[0][0];
    if (std::fabs(w) + 1.0 == 1.0) {
      if (diag != nullptr) std::fputs("fail\n", diag);
      return -2;
    }
    const int m = n - k - 1;
    for (int i = 1; i < n; ++i) {
      const double g = a[i][0];
      work[i] = g / w;
      if (i <= m) work[i] = -work[i];
      for (int j = 1; j <= i; ++j) a[i - 1][j - 1] = a[i][j] + g * work[j];
    }
    a[n - 1][n - 1] = 1.0 / w;
    for (int i = 1; i < n; ++i) a[n - 1][i - 1] = work[i];
  }

  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) a[i][j] = a[j][i];
  }
  return 2;
}

}  // namespace quorvel::testing
