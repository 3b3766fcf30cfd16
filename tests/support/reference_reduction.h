// Test support: orthogonal reduction of a design with its responses by Householder
// reflections, and the same reduction replayed on a design held by its distinct rows. The
// random-model stage computed its sums of squares so before it worked from counts; the
// tests keep them as references.
#pragma once

#include <vector>

namespace quorvel {
struct DesignCells;
}

namespace quorvel::testing {

// Reduces design (rows x columns) and responses (rows x responseColumns) together by
// Householder reflections, column by column with tolerance 1e-10. r counts the
// independent columns found so far; column g with remaining norm s = |x| over rows
// r .. rows-1 at most 1e-10 is dependent and left alone; otherwise v = x - s e_1 (no sign
// choice), scaled to |v| = sqrt(2) unless zero, and I - vv' is applied to rows r .. of
// design columns g .. and of every response column; then r grows by one. Afterwards rows
// 0 .. rank-1 of the design hold the pivots in column order, response rows 0 .. rank-1
// are the coordinates of the responses in the orthonormal basis built column by column
// (their squares summed over consecutive row blocks are sequential sums of squares), and
// response rows rank .. rows-1 are residual coordinates. Returns the rank.
int HouseholderReduce(double** design, double** responses, int rows, int columns,
                      int responseColumns);

// The reduction HouseholderReduce performs on the full N x p design and the N x T
// responses, computed from the design's distinct rows. Under every reflection the rows of
// one cell below the pivot row stay equal, so each cell is held once with the number of
// its rows still below the pivot, and the reflections cost cells x columns instead of
// N x columns.
struct CellReduction {
  int rank = 0;
  int columns = 0;
  std::vector<int> pivotColumn;   // per pivot row, its column
  std::vector<double> design;     // pivot rows of the reduced design, rank x columns
  std::vector<double> responses;  // reduced responses, N x T (all rows)
  int responseColumns = 0;
  const double* DesignRow(int row) const {
    return design.data() + static_cast<std::size_t>(row) * columns;
  }
  const double* ResponseRow(int row) const {
    return responses.data() + static_cast<std::size_t>(row) * responseColumns;
  }
};

// responses: N x T, row-major, in observation order.
CellReduction ReduceByCells(const DesignCells& cells, int columns,
                            const std::vector<double>& responses, int responseColumns);

}  // namespace quorvel::testing
