// Dense factorisations of small row-major matrices: Cholesky for symmetric positive
// definite ones, LU with partial pivoting for general ones.
#pragma once

#include <functional>
#include <span>
#include <vector>

namespace quorvel {

// Dense LU factorisation with partial pivoting in place of an n x n row-major matrix;
// false when a pivot is zero.
bool DenseLU(std::vector<double>& a, int n, std::vector<int>& pivots);
// The same, calling checkpoint() every 64 columns (which may throw to abandon the work).
bool DenseLU(std::vector<double>& a, int n, std::vector<int>& pivots,
             const std::function<void()>& checkpoint);
void DenseLUSolve(const std::vector<double>& factor, int n, const std::vector<int>& pivots,
                  std::span<double> x);

// Dense lower Cholesky factorisation in place of an n x n row-major matrix; false when a
// pivot is not positive.
bool DenseCholesky(std::vector<double>& a, int n);
// L z = z and L' z = z in place for a row-major lower factor L (n x n).
void LowerSolve(const std::vector<double>& factor, int n, double* z);
void LowerTransposeSolve(const std::vector<double>& factor, int n, double* z);
// Solves L L' x = b in place with a factor from DenseCholesky.
void DenseCholeskySolve(const std::vector<double>& factor, int n, std::span<double> x);

}  // namespace quorvel
