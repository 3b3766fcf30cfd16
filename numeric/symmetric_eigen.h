// Eigen-decomposition of small dense symmetric matrices.
#pragma once

namespace quorvel {

// Eigen-decomposition of the symmetric n x n matrix (both triangles read and written) by
// Jacobi rotations with a shrinking threshold: passes of cyclic sweeps that rotate every
// element above the pass threshold, the threshold falling by a factor n per pass until it
// is below eps. Afterwards the diagonal of matrix holds the eigenvalues in descending
// order and column k of vectors (n x n, overwritten) the orthonormal eigenvector of the
// k-th. Equal eigenvalues keep their order from the rotations.
void JacobiEigen(double** matrix, int n, double** vectors, double eps);

}  // namespace quorvel
