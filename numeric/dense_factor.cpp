// Dense Cholesky and LU factorisations of small row-major matrices.
#include "numeric/dense_factor.h"

#include <algorithm>
#include <cmath>

#include "numeric/dense_kernels.h"

namespace quorvel {

// Forward substitution L z = z (row-major lower factor).
void LowerSolve(const std::vector<double>& factor, int n, double* z) {
  for (int i = 0; i < n; ++i) {
    const double* row = factor.data() + static_cast<std::size_t>(i) * n;
    z[i] = (z[i] - Dot(row, z, static_cast<std::size_t>(i))) / row[i];
  }
}

// Back substitution L' z = z.
void LowerTransposeSolve(const std::vector<double>& factor, int n, double* z) {
  for (int i = n - 1; i >= 0; --i) {
    const double* row = factor.data() + static_cast<std::size_t>(i) * n;
    z[i] /= row[i];
    const double zi = z[i];
    for (int k = 0; k < i; ++k) z[k] -= row[k] * zi;
  }
}

bool DenseCholesky(std::vector<double>& a, int n) {
  for (int j = 0; j < n; ++j) {
    double* rowJ = a.data() + static_cast<std::size_t>(j) * n;
    const double pivot = rowJ[j] - Dot(rowJ, rowJ, static_cast<std::size_t>(j));
    if (!(pivot > 0.0)) return false;
    rowJ[j] = std::sqrt(pivot);
    for (int i = j + 1; i < n; ++i) {
      double* rowI = a.data() + static_cast<std::size_t>(i) * n;
      rowI[j] = (rowI[j] - Dot(rowI, rowJ, static_cast<std::size_t>(j))) / rowJ[j];
    }
  }
  // Clear the upper triangle so that the factor is exactly L.
  for (int i = 0; i < n; ++i) {
    std::fill(a.begin() + static_cast<std::ptrdiff_t>(i) * n + i + 1,
              a.begin() + static_cast<std::ptrdiff_t>(i + 1) * n, 0.0);
  }
  return true;
}

void DenseCholeskySolve(const std::vector<double>& factor, int n, std::span<double> x) {
  LowerSolve(factor, n, x.data());
  LowerTransposeSolve(factor, n, x.data());
}

bool DenseLU(std::vector<double>& a, int n, std::vector<int>& pivots) {
  return DenseLU(a, n, pivots, {});
}

bool DenseLU(std::vector<double>& a, int n, std::vector<int>& pivots,
             const std::function<void()>& checkpoint) {
  pivots.assign(static_cast<std::size_t>(n), 0);
  for (int j = 0; j < n; ++j) {
    if (checkpoint && j % 64 == 0) checkpoint();
    int best = j;
    for (int i = j + 1; i < n; ++i) {
      if (std::fabs(a[static_cast<std::size_t>(i) * n + j]) >
          std::fabs(a[static_cast<std::size_t>(best) * n + j])) {
        best = i;
      }
    }
    pivots[j] = best;
    double* rowJ = a.data() + static_cast<std::size_t>(j) * n;
    if (best != j) std::swap_ranges(rowJ, rowJ + n, a.data() + static_cast<std::size_t>(best) * n);
    if (rowJ[j] == 0.0) return false;
    for (int i = j + 1; i < n; ++i) {
      double* rowI = a.data() + static_cast<std::size_t>(i) * n;
      const double factor = rowI[j] / rowJ[j];
      rowI[j] = factor;
      if (factor == 0.0) continue;
      for (int c = j + 1; c < n; ++c) rowI[c] -= factor * rowJ[c];
    }
  }
  return true;
}

void DenseLUSolve(const std::vector<double>& factor, int n, const std::vector<int>& pivots,
                  std::span<double> x) {
  for (int j = 0; j < n; ++j) std::swap(x[j], x[pivots[j]]);
  for (int i = 0; i < n; ++i) {
    const double* row = factor.data() + static_cast<std::size_t>(i) * n;
    x[i] -= Dot(row, x.data(), static_cast<std::size_t>(i));
  }
  for (int i = n - 1; i >= 0; --i) {
    const double* row = factor.data() + static_cast<std::size_t>(i) * n;
    double value = x[i];
    for (int c = i + 1; c < n; ++c) value -= row[c] * x[c];
    x[i] = value / row[i];
  }
}

}  // namespace quorvel
