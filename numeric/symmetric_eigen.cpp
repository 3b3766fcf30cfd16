// Cyclic Jacobi eigen-decomposition of symmetric matrices.
#include "numeric/symmetric_eigen.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

void JacobiEigen(double** a, int n, double** vectors, double eps) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) vectors[i][j] = i == j ? 1.0 : 0.0;
  }
  double offDiagonal = 0.0;
  for (int j = 1; j < n; ++j) {
    for (int k = 0; k < j; ++k) offDiagonal += a[j][k] * a[j][k];
  }
  double threshold = std::sqrt(2.0 * offDiagonal);

  // Rotation of the pair (j, k) that zeroes a[j][k].
  auto rotate = [&](int j, int k) {
    const double x = -a[j][k];
    const double y = 0.5 * (a[k][k] - a[j][j]);
    double w = x / std::sqrt(x * x + y * y);
    if (y < 0) w = -w;
    const double s = w / std::sqrt(2.0 * (1.0 + std::sqrt(1.0 - w * w)));
    const double c = std::sqrt(1.0 - s * s);
    const double ajj = a[j][j];
    const double akk = a[k][k];
    const double ajk = a[j][k];
    a[j][j] = s * s * akk + c * c * ajj + w * ajk;
    a[k][k] = c * c * akk + s * s * ajj - w * ajk;
    a[j][k] = 0.0;
    a[k][j] = 0.0;
    for (int l = 0; l < n; ++l) {
      if (l == j || l == k) continue;
      const double ajl = a[j][l];
      const double akl = a[k][l];
      a[j][l] = s * akl + c * ajl;
      a[k][l] = c * akl - s * ajl;
      a[l][j] = a[j][l];
      a[l][k] = a[k][l];
    }
    for (int l = 0; l < n; ++l) {
      const double vlj = vectors[l][j];
      const double vlk = vectors[l][k];
      vectors[l][j] = c * vlj + s * vlk;
      vectors[l][k] = c * vlk - s * vlj;
    }
  };

  // Passes with a threshold that falls by a factor n; within a pass, sweep the lower
  // triangle row by row and rotate every element above the threshold, until a whole
  // sweep rotates nothing. A matrix that is not finite is left as it is, and a pass gives
  // up after kMaxSweeps sweeps (rounding can keep an element just above a threshold
  // below the matrix's precision), so that the routine always ends.
  constexpr int kMaxSweeps = 64;
  if (n > 1 && std::isfinite(threshold)) {
    while (true) {
      threshold /= n;
      bool rotated = true;
      for (int sweep = 0; rotated && sweep < kMaxSweeps; ++sweep) {
        rotated = false;
        for (int j = 1; j < n; ++j) {
          for (int k = 0; k < j; ++k) {
            if (std::fabs(a[j][k]) > threshold) {
              rotate(j, k);
              rotated = true;
            }
          }
        }
      }
      if (threshold < eps) break;
    }
  }

  // Descending order by exchange passes; equal values keep their order.
  for (int i = n - 1; i >= 1; --i) {
    for (int j = 0; j < i; ++j) {
      if (a[j + 1][j + 1] > a[j][j]) {
        std::swap(a[j][j], a[j + 1][j + 1]);
        for (int l = 0; l < n; ++l) std::swap(vectors[l][j], vectors[l][j + 1]);
      }
    }
  }
}

}  // namespace quorvel
