// Exact row space of a 0/1 restriction matrix: rank, a basis of original rows, and
// membership of sparse integer vectors.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace quorvel {

// The row space (over the rationals) of rows given as lists of columns that hold 1,
// restricted to the columns marked in `keep` (all columns when keep is empty). Elimination
// is exact: 64-bit integer rows reduced by their gcd, every product checked.
class RowSpace {
 public:
  RowSpace(int columnCount, const std::vector<std::vector<int>>& rows,
           const std::vector<bool>& keep = {});

  int Rank() const { return static_cast<int>(echelon_.size()); }
  // Indices of input rows that form a basis of the space, ascending.
  const std::vector<int>& BasisRows() const { return basisRows_; }
  // Whether the sparse vector (column -> value) lies in the space.
  bool Contains(std::map<int, std::int64_t> vector) const;
  // False if an intermediate value left the 64-bit range; the results are then not
  // trustworthy (never seen for 0/1 rows local to effect blocks).
  bool Exact() const { return exact_; }

 private:
  using Row = std::map<int, std::int64_t>;  // column -> non-zero value
  // Reduces `row` against the echelon rows; returns false on overflow.
  bool Reduce(Row& row) const;

  std::map<int, Row> echelon_;  // pivot column -> row whose first entry is there
  std::vector<int> basisRows_;
  mutable bool exact_ = true;
};

}  // namespace quorvel
