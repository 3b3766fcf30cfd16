// The orthonormal basis of the design's column space that the orthogonal reduction of the
// design in parameter order builds, and the residual coordinates of that reduction.
//
// Householder reflections applied to the design column by column (the pivot of the i-th
// independent column on row i) leave in the reduced responses' rows 0 .. r-1 the
// coordinates of y in the Gram-Schmidt basis q_0 .. q_{r-1} of the independent columns in
// parameter order, and in rows r .. N-1 residual coordinates. The exact tests of the
// random model draw on the residual rows r .. r+s-1, which depend on the row order and on
// the reflections; this file computes them without reducing anything.
//
// Gram-Schmidt basis. Column k of the lowest level's parent partition onwards is the
// indicator x_k of a cell; the columns before it span the leading cells together with a
// partition Pi_k of the observations (the cells before k one by one, the rest of k's
// parent from k on as one group, every other parent whole), so
//   g_k = (I - Pi_k) x_k - (I - Pi_k) L G_k^+ L'(I - Pi_k) x_k,   q_k = g_k / |g_k|,
// with L the leading cells' indicators and G_k = L'(I - Pi_k) L (leading_system.h). A
// column is dependent, and has no basis vector, when g_k vanishes. The leading columns
// themselves are orthonormalised directly over the leading cells.
//
// Residual coordinates. The product Q = H_1 ... H_r of the reflections is fixed by its
// first r columns q_i and the requirement that H_i leave rows before i alone; writing
// A for the top r rows of Q_1 = [q_0 .. q_{r-1}] and eps = y - P y for the ordinary
// residuals, the residual coordinates are
//   (Q'y)_j = eps_j + sum over i < r of q_i(row j) a_i,   (I - A) a = eps_top
// (from Q_2 = [(A - I)(A - I)^-T B'; I + B (A - I)^-T B'] with B the lower rows of Q_1,
// the relation the reconstruction of Householder vectors from an orthonormal basis rests
// on: Ballard et al., Reconstructing Householder vectors from tall-skinny QR, 2014). The
// rows of A are those of the atoms the top rows belong to, so (I - A) a = eps_top reduces
// to one equation per top atom.
#pragma once

#include <vector>

#include "analysis/random_design.h"
#include "analysis/sequential_sums.h"
#include "analysis/stop_token.h"

namespace quorvel {

// The Gram-Schmidt basis of the design in parameter order, held by its structure.
class ReductionBasis {
 public:
  // `fits` are the level fits of the traits (their leading systems are reused). `expected`
  // holds the number of independent columns of the leading effects and of each random
  // term (the exact ranks); the basis is unusable (Ok() false) when the columns found
  // independent do not match them.
  ReductionBasis(const RandomDesign& design, const std::vector<int>& expected,
                 const StopToken& stop);

  bool Ok() const { return ok_; }
  int Rank() const { return rank_; }

  // Coefficients over the basis vectors, `columns` per vector, row-major by pivot index
  // (the pivot of the i-th independent column in parameter order is i).
  // Returns sum over i of coefficients[i] q_i at every atom: atoms x columns, row-major.
  std::vector<double> Synthesise(const std::vector<double>& coefficients, int columns,
                                 const StopToken& stop) const;

 private:
  struct LevelBasis {
    std::vector<int> pivot;                  // per cell: its pivot index, or -1 when dependent
    std::vector<double> norm;                // |g_k|
    std::vector<double> share;               // n_k / n_grp
    std::vector<std::vector<double>> gamma;  // G_k^+ w_k over the region's slots (may be empty)
    std::vector<double> groupDot;            // (composition of grp_k / n_grp)' gamma_k
  };
  const RandomDesign& design_;
  bool ok_ = true;
  int rank_ = 0;
  int leadingRank_ = 0;
  std::vector<std::vector<double>>
      leadingBasis_;                // per leading pivot: its values on the leading cells
  std::vector<LevelBasis> levels_;  // levels 1 .. K at 0 .. K-1
};

// The residual rows r .. r+s-1 of the reduction of the design and the traits with the
// observations in the order `order` (position -> observation), as the vector
//   e~ = sum over k < s of e_{r+k} q_{rL+k}
// of the random rows' basis vectors weighted by them, summed over each cell of the lowest
// random term: cells x traits, row-major. `residuals` are the ordinary residuals y - P y
// per observation (N x traits, row-major, observation order), `atomOf` the atom of each
// observation. Empty when the basis is unusable or the system is singular.
std::vector<double> PairedResidualSums(const RandomDesign& design, const ReductionBasis& basis,
                                       const std::vector<int>& order,
                                       const std::vector<int>& atomOf,
                                       const std::vector<double>& residuals, int traits,
                                       int leadingRank, int randomRank, const StopToken& stop);

}  // namespace quorvel
