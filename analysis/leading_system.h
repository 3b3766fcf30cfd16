// The leading effects after a partition of the observations is absorbed.
//
// With L the indicators of the leading cells and Pi the averaging within the groups of a
// partition, the projection onto span(L) + span(partition) is
//   P = Pi + (I - Pi) L G^+ L'(I - Pi),   G = L'(I - Pi) L = D_L - sum over groups g of
//   n_g n_g' / n_g,
// where D_L holds the leading cells' sizes and n_g the group's counts in each leading
// cell (the absorption of one factor of a two-way classification: Searle, Linear Models
// for Unbalanced Data, 1987, section 4.9). G splits by region (no group spans two), and
// within a region its null space is spanned by the indicators of the connected
// components of the leading cells joined by common groups; G^+ is applied per component
// with one leading cell held at zero, which gives the same projection as any other
// solution.
#pragma once

#include <span>
#include <vector>

#include "analysis/random_design.h"

namespace quorvel {

class LeadingSystem {
 public:
  LeadingSystem() = default;
  // The system of the partition whose groups have the given sizes and compositions over
  // the leading cells of `design`.
  LeadingSystem(const RandomDesign& design, const std::vector<double>& size,
                const std::vector<std::vector<LeadingCount>>& leading);

  // Solves G gamma = w within one region (vectors over the region's leading slots); w
  // must lie in the range of G. False when a factor could not be formed (not positive
  // definite in rounding), gamma then holds NaN.
  bool Solve(int region, std::span<const double> w, std::span<double> gamma) const;

  // Whether the region has leading directions at all (more than one leading cell).
  bool Trivial(int region) const { return regions_[static_cast<std::size_t>(region)].size < 2; }
  int RegionSize(int region) const { return regions_[static_cast<std::size_t>(region)].size; }
  // Number of connected components of the region's leading cells.
  int Components(int region) const {
    return static_cast<int>(regions_[static_cast<std::size_t>(region)].components.size());
  }

  // The dense G of a region (row-major, slots x slots), for tests.
  const std::vector<double>& Matrix(int region) const {
    return regions_[static_cast<std::size_t>(region)].matrix;
  }
  // A generalised inverse H of the region's G (G H G = G; row-major, slots x slots): the
  // inverse on each component's free slots, zero on its first. For vectors u, v in the
  // range of G, u'H v is the same for every generalised inverse.
  const std::vector<double>& Inverse(int region) const {
    return regions_[static_cast<std::size_t>(region)].inverse;
  }

 private:
  struct Component {
    std::vector<int> slots;      // ascending; the first is held at zero
    std::vector<double> factor;  // Cholesky factor of G on the other slots, row-major
    bool ok = true;
  };
  struct Region {
    int size = 0;
    std::vector<double> matrix;
    std::vector<double> inverse;
    std::vector<Component> components;
  };
  std::vector<Region> regions_;
};

// Dense Cholesky factor (lower, row-major) of the submatrix of `matrix` (n x n, row-major)
// on `indices`; false when a pivot is not positive.
bool SubmatrixCholesky(const std::vector<double>& matrix, int n, const std::vector<int>& indices,
                       std::vector<double>& factor);

}  // namespace quorvel
