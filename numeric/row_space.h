// Exact row space of a 0/1 restriction matrix: rank, a basis of original rows, membership
// of sparse integer vectors, and which differences of two unit vectors it holds.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "numeric/matrix.h"

namespace quorvel {

// The row space (over the rationals) of rows given as lists of columns that hold 1,
// restricted to the columns marked in `keep` (all columns when keep is empty). Elimination
// is exact: 64-bit integer rows reduced by their gcd, every product checked. Should an
// intermediate value leave the 64-bit range, the space is answered by the exact rank
// engine instead (SparseIntegerRank, which falls back to modular elimination), at the
// cost of one rank per question; every answer stays exact.
class RowSpace {
 public:
  RowSpace(int columnCount, const std::vector<std::vector<int>>& rows,
           const std::vector<bool>& keep = {});

  int Rank() const { return rank_; }
  // Indices of input rows that form a basis of the space, ascending.
  const std::vector<int>& BasisRows() const { return basisRows_; }
  // Whether the sparse vector (column -> value) lies in the space.
  bool Contains(std::map<int, std::int64_t> vector) const;
  // The echelon rows (each a column -> value map, leading entry first), by leading column;
  // empty when the space is answered by the rank engine.
  std::vector<std::map<int, std::int64_t>> EchelonRows() const;
  // Whether the 64-bit elimination held (false: answers come from the rank engine).
  bool Eliminated() const { return exact_; }

 private:
  using Row = std::map<int, std::int64_t>;  // column -> non-zero value
  // Reduces `row` against the echelon rows; returns false on overflow.
  bool Reduce(Row& row) const;
  // The rank engine's answers.
  void UseRankEngine(const std::vector<SparseRow>& rows);
  int RankOf(std::vector<SparseRow> rows) const;

  int columnCount_ = 0;
  int rank_ = 0;
  std::map<int, Row> echelon_;  // pivot column -> row whose first entry is there
  std::vector<int> basisRows_;
  std::vector<SparseRow> basis_;  // the basis rows themselves, for the rank engine
  bool exact_ = true;
};

// For unit vectors e_c of the given columns: classes such that e_a - e_b lies in the row
// space of `rows` exactly when a and b share a class (class ids index `columns`'s order of
// first appearance). The intersection of the row space with the span of the columns is
// reduced to its reduced echelon form over the rationals; e_a - e_b lies in it exactly
// when e_a and e_b leave the same remainder.
std::vector<int> DifferenceClasses(int columnCount, const std::vector<std::vector<int>>& rows,
                                   const std::vector<int>& columns);

}  // namespace quorvel
