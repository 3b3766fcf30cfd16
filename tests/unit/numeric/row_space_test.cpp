// The exact row space of restriction rows: ranks, membership and the differences of unit
// vectors it holds, also where 64-bit elimination overflows.
#include "numeric/row_space.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace quorvel {
namespace {

std::vector<SparseRow> Sparse(const std::vector<std::vector<int>>& rows) {
  std::vector<SparseRow> out;
  for (const auto& row : rows) {
    SparseRow sparse;
    for (const int c : row) sparse.push_back({c, 1});
    out.push_back(std::move(sparse));
  }
  return out;
}

// Dense random 0/1 rows of 48 columns make the fraction-free elimination leave the 64-bit
// range; the space then answers from the exact rank engine, with the rank, basis and
// membership of the exact computation (the overflow used to be a flag nobody read, with
// the rank counted from rows reduced no further).
TEST(RowSpace, OverflowFallsBackToTheExactEngine) {
  const int n = 48;
  std::mt19937 random(5);
  std::vector<std::vector<int>> rows(static_cast<std::size_t>(n - 6));
  for (auto& row : rows) {
    for (int c = 0; c < n; ++c) {
      if (random() % 2 != 0) row.push_back(c);
    }
  }
  // Six rows that repeat earlier ones add nothing.
  for (int k = 0; k < 6; ++k) {
    std::vector<int> row = rows[k];
    rows.push_back(row);
  }
  const RowSpace space(n, rows);
  EXPECT_FALSE(space.Eliminated());
  EXPECT_EQ(space.Rank(), SparseIntegerRank(n, Sparse(rows)));
  EXPECT_EQ(static_cast<int>(space.BasisRows().size()), space.Rank());
  std::vector<std::vector<int>> basis;
  for (const int k : space.BasisRows()) basis.push_back(rows[k]);
  EXPECT_EQ(SparseIntegerRank(n, Sparse(basis)), space.Rank());
  // Row 0 minus row 1 lies in the space; a unit vector beyond the rank does not.
  std::map<int, std::int64_t> difference;
  for (const int c : rows[0]) difference[c] += 1;
  for (const int c : rows[1]) difference[c] -= 1;
  EXPECT_TRUE(space.Contains(difference));
  if (space.Rank() < n) {
    bool someOutside = false;
    for (int c = 0; c < n && !someOutside; ++c) someOutside = !space.Contains({{c, 1}});
    EXPECT_TRUE(someOutside);
  }
}

// Sum-to-zero rows over groups of columns hold e_a - e_b only for two columns that are
// each alone in their group; and in general exactly the pairs with equal remainders.
TEST(DifferenceClasses, PairsInTheSpaceShareAClass) {
  // Columns 0..6: groups {0, 1, 2}, {3}, {4}, {5, 6}; column 7 in no row.
  const std::vector<std::vector<int>> rows = {{0, 1, 2}, {3}, {4}, {5, 6}};
  const std::vector<int> columns = {0, 1, 2, 3, 4, 5, 6, 7};
  const std::vector<int> classes = DifferenceClasses(8, rows, columns);
  const RowSpace space(8, rows);
  for (int a = 0; a < 8; ++a) {
    for (int b = a + 1; b < 8; ++b) {
      EXPECT_EQ(classes[a] == classes[b], space.Contains({{a, 1}, {b, -1}})) << a << "," << b;
    }
  }
  EXPECT_EQ(classes[3], classes[4]);
  // Rows with more general coefficients, and columns outside the set in the rows.
  const std::vector<std::vector<int>> mixed = {{0, 1, 9}, {1, 2, 9}, {2, 3}, {4, 5, 5}, {8, 9}};
  const std::vector<int> some = {0, 1, 2, 3, 4, 5};
  const std::vector<int> mixedClasses = DifferenceClasses(10, mixed, some);
  const RowSpace mixedSpace(10, mixed);
  for (int a = 0; a < 6; ++a) {
    for (int b = a + 1; b < 6; ++b) {
      EXPECT_EQ(mixedClasses[a] == mixedClasses[b],
                mixedSpace.Contains({{some[a], 1}, {some[b], -1}}))
          << a << "," << b;
    }
  }
}

}  // namespace
}  // namespace quorvel
