// Exact rank of integer matrices, dense and sparse.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace quorvel {

// Exact rank of the rows x cols integer matrix m (rows are separate arrays). Leaves m in
// row echelon form: its first rank rows are independent and span the row space of the
// input, every later row is zero. The echelon rows are reduced (zero in each other's
// leading columns) when that is needed for their entries to fit 32 bits; should no
// echelon form fit, the first rank rows are independent rows of the input instead.
// Exact for any size: no intermediate overflows. Repeated rows are examined once.
int IntegerRank(int cols, std::int32_t** m, int rows);

// One non-zero entry of a sparse integer row.
struct SparseEntry {
  int column;
  std::int64_t value;
};
// A sparse integer row: entries in ascending column order, no zero values.
using SparseRow = std::vector<SparseEntry>;

// Exact rank of the matrix whose rows are given sparsely (cols columns). Entries may come
// in any order; zero values and columns outside 0..cols-1 are ignored, and a column given
// twice in one row has the sum of its values. Repeated rows count once, so a design with
// many equal rows costs what its distinct rows cost.
int SparseIntegerRank(int cols, std::vector<SparseRow> rows);

}  // namespace quorvel
