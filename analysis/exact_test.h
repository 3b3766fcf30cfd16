// The exact F tests of the upper random terms, by a variance-equalising transformation.
//
// Let S be the space of the random rows (the design's column space less the leading
// cells' span) and Gs the operator X_low X_low' on S, with X_low the indicators of the
// lowest term's cells: under the model the random rows' coordinates y_S have covariance
// s_E I + s_low Gs + (upper terms). The transformed vector
//   w = Gs^-1/2 y_S + (I / lambda_min - Gs^-1)^1/2 e~,
// with e~ independent residual coordinates carried into S, has covariance
// (s_E / lambda_min + s_low) I + (upper terms), so the sums of squares of w over the
// transformed upper terms' span and its complement give an exact F test of each upper
// component (Wald, 1947; Seely and El-Bassiouni, Applying Wald's variance component test,
// Annals of Statistics 11, 1983).
//
// Everything is carried out on the lowest cells. With D their sizes and U their counts in
// the leading cells scaled by the leading cells' sizes^-1/2, the map Phi(c) = P_S X_low c
// takes vectors over the lowest cells onto S with Phi'Phi = K = D - U U', so a function
// f(Gs) acts as Phi f(K) and inner products on S are c'K d. K keeps the sizes as its
// eigenvalues on every vector over cells of one size orthogonal to U's columns there; the
// rest lives on the small span of those columns, where it is decomposed explicitly.
// Writing nu = K^-1 X_low'y_S + (K / lambda_min - I)^1/2 K^-1 X_low'e~ for the
// transformed vector's coordinates, the span of the terms down to term x becomes the
// span of Pi_K A_x, A_x the lowest cells' membership in term x's cells and Pi_K the
// projection onto K's range, so that
//   num = |proj(A_x) nu|^2 - |proj(A_{x-1}) nu|^2,   den = |nu|^2 - |proj(A_x) nu|^2.
#pragma once

#include <vector>

#include "analysis/random_design.h"

namespace quorvel {

// The eigen-structure of K = D - U U' on the lowest term's cells.
class LowestCellGram {
 public:
  // nullCount: the dimension of K's null space (lowest cells less random rows).
  LowestCellGram(const RandomDesign& design, int nullCount);

  // The smallest non-zero eigenvalue (lambda_min); infinity when there is none.
  double Smallest() const { return smallest_; }
  // Whether every non-zero eigenvalue equals the smallest (the equaliser vanishes).
  bool SingleEigenvalue() const { return single_; }

  // f(K) V for the columns of V (cells x columns, row-major) with f given on the non-zero
  // eigenvalues; zero on the null space.
  template <typename F>
  std::vector<double> Apply(const std::vector<double>& v, int columns, F f) const;

  // The null space's orthonormal basis, one vector over the cells per column.
  const std::vector<std::vector<double>>& NullBasis() const { return null_; }

 private:
  // The cells of one size in one region, with an orthonormal basis of U's columns there.
  struct SizeClass {
    double size = 0;
    std::vector<int> cells;
    std::vector<std::vector<double>> basis;  // each over `cells`
  };
  // Eigenvectors of K on the span of the classes' bases, per region: coordinates over the
  // region's basis vectors, and their eigenvalues (0 for the null space).
  struct ReducedSpace {
    std::vector<int> classes;                  // the region's classes
    std::vector<double> eigenvalue;            // per eigenvector
    std::vector<std::vector<double>> vectors;  // per eigenvector: over the region's basis
  };
  int cells_ = 0;
  std::vector<SizeClass> classes_;
  std::vector<ReducedSpace> regions_;
  std::vector<std::vector<double>> null_;
  double smallest_ = 0;
  bool single_ = true;

  // The reduced eigenvector as a vector over the cells.
  std::vector<double> Expand(const ReducedSpace& region,
                             const std::vector<double>& coordinates) const;
};

// F statistic of one exact test: numerator and denominator sums of squares.
struct ExactTestSums {
  double numerator = 0;
  double denominator = 0;
};

// The sums of squares of the exact test of term `term` (0 = top) for every trait.
// sumsY: X_low' y_S (cells x traits); sumsE: X_low' e~ (cells x traits) or empty when the
// equaliser vanishes; df: the random terms' degrees of freedom.
std::vector<ExactTestSums> ExactTestSumsOfSquares(const RandomDesign& design,
                                                  const LowestCellGram& gram,
                                                  const std::vector<double>& sumsY,
                                                  const std::vector<double>& sumsE, int traits,
                                                  int term, const std::vector<int>& df);

}  // namespace quorvel
