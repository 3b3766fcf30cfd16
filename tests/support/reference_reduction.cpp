// Test support: the Householder reduction of a design with its responses, dense and by
// cells, as the random-model stage once computed its sums of squares; kept as a reference.
#include "tests/support/reference_reduction.h"

#include <algorithm>
#include <cmath>

#include "analysis/model_coding.h"
#include "numeric/dense_kernels.h"

namespace quorvel::testing {
namespace {

constexpr double kTolerance = 1e-10;

// x_1 - s for a column x with norm s whose entries after the first have the sum of
// squares rest2.
double ReflectionHead(double x1, double s, double rest2) {
  return x1 > 0.0 ? -rest2 / (x1 + s) : x1 - s;
}

}  // namespace

int HouseholderReduce(double** design, double** responses, int rows, int columns,
                      int responseColumns) {
  if (rows <= 0 || columns <= 0) return 0;
  // The reflections act on columns: work on a column-major copy of the design and the
  // responses, so that every inner loop runs over contiguous entries, and copy back.
  const std::size_t n = static_cast<std::size_t>(rows);
  const int total = columns + std::max(responseColumns, 0);
  std::vector<double> work(n * static_cast<std::size_t>(total));
  auto column = [&](int c) { return work.data() + static_cast<std::size_t>(c) * n; };
  for (int i = 0; i < rows; ++i) {
    for (int c = 0; c < columns; ++c) column(c)[i] = design[i][c];
    for (int c = 0; c < responseColumns; ++c) column(columns + c)[i] = responses[i][c];
  }

  std::vector<double> v(n);
  int r = 0;
  for (int g = 0; g < columns && r < rows; ++g) {
    const double* x = column(g);
    const std::size_t below = n - static_cast<std::size_t>(r);
    const double norm2 = Dot(x + r, x + r, below);
    const double s = std::sqrt(norm2);
    if (s <= kTolerance) continue;  // dependent on the earlier columns

    // v = x - s e_1, scaled to length sqrt(2) so that I - vv' reflects x onto s e_1.
    // Its first entry x_1 - s is computed without cancellation when x_1 > 0, as
    // -(sum of the other squares) / (x_1 + s) (Golub and Van Loan, Matrix Computations,
    // algorithm 5.1.1).
    const double rest2 = Dot(x + r + 1, x + r + 1, below - 1);
    std::copy(x + r, x + n, v.begin() + r);
    v[r] = ReflectionHead(x[r], s, rest2);
    const double vNorm2 = v[r] * v[r] + rest2;
    if (vNorm2 > 0.0) {
      const double scale = std::sqrt(2.0 / vNorm2);
      for (std::size_t i = static_cast<std::size_t>(r); i < n; ++i) v[i] *= scale;
      // Design columns g .. and then every response column.
      for (int c = g; c < total; ++c) {
        double* y = column(c) + r;
        const double dot = Dot(v.data() + r, y, below);
        SubtractScaled(y, v.data() + r, dot, below);
      }
    }
    ++r;
  }

  for (int i = 0; i < rows; ++i) {
    for (int c = 0; c < columns; ++c) design[i][c] = column(c)[i];
    for (int c = 0; c < responseColumns; ++c) responses[i][c] = column(columns + c)[i];
  }
  return r;
}

CellReduction ReduceByCells(const DesignCells& cells, int columns,
                            const std::vector<double>& responses, int responseColumns) {
  const int n = static_cast<int>(cells.cellOfObservation.size());
  const int cellCount = static_cast<int>(cells.counts.size());
  const int t = responseColumns;
  const std::size_t k = static_cast<std::size_t>(cellCount);

  CellReduction out;
  out.columns = columns;
  out.responseColumns = t;
  out.responses.assign(static_cast<std::size_t>(n) * t, 0.0);

  // The design below the pivot row: one row per cell, held column by column.
  std::vector<double> cellRows(static_cast<std::size_t>(columns) * k, 0.0);
  auto column = [&](int c) { return cellRows.data() + static_cast<std::size_t>(c) * k; };
  for (int cell = 0; cell < cellCount; ++cell) {
    for (const int c : cells.columns[cell]) column(c)[cell] = 1.0;
  }
  std::vector<double> below(k);  // rows of each cell still below the pivot row
  for (int cell = 0; cell < cellCount; ++cell) below[cell] = cells.counts[cell];

  // Responses of rows below the pivot: original values minus a shift common to the cell.
  std::vector<double> shift(k * t, 0.0);
  std::vector<double> cellSums(k * t, 0.0);  // sums of original responses below the pivot
  for (int i = 0; i < n; ++i) {
    const int cell = cells.cellOfObservation[i];
    for (int c = 0; c < t; ++c)
      cellSums[cell * t + c] += responses[static_cast<std::size_t>(i) * t + c];
  }

  // Reflections are formed one column at a time but applied to the later columns in
  // panels: each column receives the reflections of a panel in their order while it is
  // in cache, which gives every entry the same sequence of operations as reflecting all
  // columns at every step.
  struct Reflection {
    int row = 0;  // its pivot row
    int pivotCell = 0;
    bool identity = false;       // the column was already reduced
    double vPivot = 0.0;         // entry of the pivot row
    std::vector<double> v;       // entries of the other rows of each cell
    std::vector<double> weight;  // v times the number of those rows
  };
  constexpr std::size_t kPanel = 32;
  constexpr int kTile = 4;
  std::vector<Reflection> panel;
  panel.reserve(kPanel);
  out.design.reserve(static_cast<std::size_t>(std::min(n, columns)) * columns);
  auto designEntry = [&](int row, int c) -> double& {
    return out.design[static_cast<std::size_t>(row) * columns + c];
  };
  // Column c takes reflection f: the pivot row's entry is recorded, the cells move.
  auto reflect = [&](const Reflection& f, int c) {
    double* col = column(c);
    if (f.identity) {
      designEntry(f.row, c) = col[f.pivotCell];
      return;
    }
    const double dot = f.vPivot * col[f.pivotCell] + Dot(f.weight.data(), col, k);
    designEntry(f.row, c) = col[f.pivotCell] - dot * f.vPivot;
    SubtractScaled(col, f.v.data(), dot, k);
  };

  int r = 0;
  int g = 0;
  while (g < columns && r < n) {
    panel.clear();
    // Form up to kPanel reflections, bringing each candidate column up to date first.
    for (; g < columns && r < n && panel.size() < kPanel; ++g) {
      for (const Reflection& f : panel) reflect(f, g);
      const int pivotCell = cells.cellOfObservation[r];
      // The pivot row r belongs to pivotCell; the other rows below it form the cells with
      // one row fewer in pivotCell.
      const double* x = column(g);
      double rest2 = 0.0;
      for (std::size_t cell = 0; cell < k; ++cell) {
        const double rows = below[cell] - (static_cast<int>(cell) == pivotCell ? 1 : 0);
        rest2 += rows * x[cell] * x[cell];
      }
      const double xr = x[pivotCell];
      const double s = std::sqrt(xr * xr + rest2);
      if (s <= kTolerance) continue;  // dependent: the column is final
      const double vr = ReflectionHead(xr, s, rest2);
      const double vNorm2 = vr * vr + rest2;

      Reflection f;
      f.row = r;
      f.pivotCell = pivotCell;
      f.identity = !(vNorm2 > 0.0);
      if (!f.identity) {
        const double scale = std::sqrt(2.0 / vNorm2);
        f.vPivot = scale * vr;
        f.v.resize(k);
        f.weight.resize(k);
        for (std::size_t cell = 0; cell < k; ++cell) {
          f.v[cell] = scale * x[cell];
          f.weight[cell] =
              (below[cell] - (static_cast<int>(cell) == pivotCell ? 1 : 0)) * f.v[cell];
        }
      }
      out.design.resize(out.design.size() + static_cast<std::size_t>(columns), 0.0);
      out.pivotColumn.push_back(g);
      reflect(f, g);

      // The responses take the reflection at once.
      const double* y = responses.data() + static_cast<std::size_t>(r) * t;
      double* pivotResponse = out.responses.data() + static_cast<std::size_t>(r) * t;
      for (int c = 0; c < t; ++c) {
        const double current = y[c] - shift[pivotCell * t + c];
        if (f.identity) {
          pivotResponse[c] = current;
          continue;
        }
        double dot = f.vPivot * current;
        for (std::size_t cell = 0; cell < k; ++cell) {
          double sum = cellSums[cell * t + c];
          double rows = below[cell];
          if (static_cast<int>(cell) == pivotCell) {
            sum -= y[c];
            rows -= 1;
          }
          dot += f.v[cell] * (sum - rows * shift[cell * t + c]);
        }
        pivotResponse[c] = current - dot * f.vPivot;
        for (std::size_t cell = 0; cell < k; ++cell) shift[cell * t + c] += dot * f.v[cell];
      }
      for (int c = 0; c < t; ++c) cellSums[pivotCell * t + c] -= y[c];
      below[pivotCell] -= 1;
      ++r;
      panel.push_back(std::move(f));
    }
    // The later columns take the panel, a few columns at a time.
    for (int first = g; first < columns; first += kTile) {
      const int last = std::min(columns, first + kTile);
      for (const Reflection& f : panel) {
        for (int c = first; c < last; ++c) reflect(f, c);
      }
    }
  }
  out.rank = r;

  // Rows that never became pivots: residual coordinates.
  for (int i = r; i < n; ++i) {
    const int cell = cells.cellOfObservation[i];
    for (int c = 0; c < t; ++c) {
      out.responses[static_cast<std::size_t>(i) * t + c] =
          responses[static_cast<std::size_t>(i) * t + c] - shift[cell * t + c];
    }
  }
  return out;
}

}  // namespace quorvel::testing
