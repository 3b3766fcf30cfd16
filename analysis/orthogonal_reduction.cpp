// Householder reduction of a design with its responses (dense and by cells), and the
// Jacobi eigen-decomposition of symmetric matrices.
#include "analysis/orthogonal_reduction.h"

#include <algorithm>
#include <cmath>

#include "analysis/model_coding.h"

namespace quorvel {
namespace {

constexpr double kTolerance = 1e-10;

}  // namespace

int HouseholderReduce(double** design, double** responses, int rows, int columns,
                      int responseColumns) {
  std::vector<double> v(static_cast<std::size_t>(std::max(rows, 0)));
  int r = 0;
  for (int g = 0; g < columns && r < rows; ++g) {
    double norm2 = 0.0;
    for (int i = r; i < rows; ++i) norm2 += design[i][g] * design[i][g];
    const double s = std::sqrt(norm2);
    if (s <= kTolerance) continue;  // dependent on the earlier columns

    // v = x - s e_1, scaled to length sqrt(2) so that I - vv' reflects x onto s e_1.
    double vNorm2 = 0.0;
    for (int i = r; i < rows; ++i) {
      v[i] = design[i][g] - (i == r ? s : 0.0);
      vNorm2 += v[i] * v[i];
    }
    if (vNorm2 > 0.0) {
      const double scale = std::sqrt(2.0 / vNorm2);
      for (int i = r; i < rows; ++i) v[i] *= scale;
      for (int c = g; c < columns; ++c) {
        double dot = 0.0;
        for (int i = r; i < rows; ++i) dot += v[i] * design[i][c];
        for (int i = r; i < rows; ++i) design[i][c] -= dot * v[i];
      }
      for (int c = 0; c < responseColumns; ++c) {
        double dot = 0.0;
        for (int i = r; i < rows; ++i) dot += v[i] * responses[i][c];
        for (int i = r; i < rows; ++i) responses[i][c] -= dot * v[i];
      }
    }
    ++r;
  }
  return r;
}

void JacobiEigen(double** a, int n, double** vectors, double eps) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) vectors[i][j] = i == j ? 1.0 : 0.0;
  }
  double offDiagonal = 0.0;
  for (int j = 1; j < n; ++j) {
    for (int k = 0; k < j; ++k) offDiagonal += a[j][k] * a[j][k];
  }
  double threshold = std::sqrt(2.0 * offDiagonal);

  // Rotation of the pair (j, k) that zeroes a[j][k].
  auto rotate = [&](int j, int k) {
    const double x = -a[j][k];
    const double y = 0.5 * (a[k][k] - a[j][j]);
    double w = x / std::sqrt(x * x + y * y);
    if (y < 0) w = -w;
    const double s = w / std::sqrt(2.0 * (1.0 + std::sqrt(1.0 - w * w)));
    const double c = std::sqrt(1.0 - s * s);
    const double ajj = a[j][j];
    const double akk = a[k][k];
    const double ajk = a[j][k];
    a[j][j] = s * s * akk + c * c * ajj + w * ajk;
    a[k][k] = c * c * akk + s * s * ajj - w * ajk;
    a[j][k] = 0.0;
    a[k][j] = 0.0;
    for (int l = 0; l < n; ++l) {
      if (l == j || l == k) continue;
      const double ajl = a[j][l];
      const double akl = a[k][l];
      a[j][l] = s * akl + c * ajl;
      a[k][l] = c * akl - s * ajl;
      a[l][j] = a[j][l];
      a[l][k] = a[k][l];
    }
    for (int l = 0; l < n; ++l) {
      const double vlj = vectors[l][j];
      const double vlk = vectors[l][k];
      vectors[l][j] = c * vlj + s * vlk;
      vectors[l][k] = c * vlk - s * vlj;
    }
  };

  // Passes with a threshold that falls by a factor n; within a pass, sweep the lower
  // triangle row by row and rotate every element above the threshold, until a whole
  // sweep rotates nothing.
  if (n > 1) {
    while (true) {
      threshold /= n;
      bool rotated = true;
      while (rotated) {
        rotated = false;
        for (int j = 1; j < n; ++j) {
          for (int k = 0; k < j; ++k) {
            if (std::fabs(a[j][k]) > threshold) {
              rotate(j, k);
              rotated = true;
            }
          }
        }
      }
      if (threshold < eps) break;
    }
  }

  // Descending order by exchange passes; equal values keep their order.
  for (int i = n - 1; i >= 1; --i) {
    for (int j = 0; j < i; ++j) {
      if (a[j + 1][j + 1] > a[j][j]) {
        std::swap(a[j][j], a[j + 1][j + 1]);
        for (int l = 0; l < n; ++l) std::swap(vectors[l][j], vectors[l][j + 1]);
      }
    }
  }
}

CellReduction ReduceByCells(const DesignCells& cells, int columns, const std::vector<double>& responses,
                            int responseColumns) {
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
    for (int c = 0; c < t; ++c) cellSums[cell * t + c] += responses[static_cast<std::size_t>(i) * t + c];
  }

  std::vector<double> v(k);        // reflection entries of the non-pivot rows of each cell
  std::vector<double> weight(k);   // v times the number of those rows
  std::vector<double> pivotRow(static_cast<std::size_t>(columns));
  int r = 0;
  for (int g = 0; g < columns && r < n; ++g) {
    const int pivotCell = cells.cellOfObservation[r];
    const double* x = column(g);
    double norm2 = 0.0;
    for (std::size_t cell = 0; cell < k; ++cell) norm2 += below[cell] * x[cell] * x[cell];
    const double s = std::sqrt(norm2);
    if (s <= kTolerance) continue;

    // The pivot row r belongs to pivotCell; the other rows below it form the cells with
    // one row fewer in pivotCell.
    const double xr = x[pivotCell];
    const double vr = xr - s;
    const double vNorm2 = vr * vr + (norm2 - xr * xr);
    const double* y = responses.data() + static_cast<std::size_t>(r) * t;
    double* pivotResponse = out.responses.data() + static_cast<std::size_t>(r) * t;
    std::fill(pivotRow.begin(), pivotRow.end(), 0.0);
    if (vNorm2 > 0.0) {
      const double scale = std::sqrt(2.0 / vNorm2);
      const double vPivot = scale * vr;
      for (std::size_t cell = 0; cell < k; ++cell) {
        v[cell] = scale * x[cell];
        weight[cell] = (below[cell] - (static_cast<int>(cell) == pivotCell ? 1 : 0)) * v[cell];
      }
      for (int c = g; c < columns; ++c) {
        double* col = column(c);
        double dot = vPivot * col[pivotCell];
        for (std::size_t cell = 0; cell < k; ++cell) dot += weight[cell] * col[cell];
        pivotRow[c] = col[pivotCell] - dot * vPivot;
        for (std::size_t cell = 0; cell < k; ++cell) col[cell] -= dot * v[cell];
      }
      for (int c = 0; c < t; ++c) {
        const double current = y[c] - shift[pivotCell * t + c];
        double dot = vPivot * current;
        for (std::size_t cell = 0; cell < k; ++cell) {
          double sum = cellSums[cell * t + c];
          double rows = below[cell];
          if (static_cast<int>(cell) == pivotCell) {
            sum -= y[c];
            rows -= 1;
          }
          dot += v[cell] * (sum - rows * shift[cell * t + c]);
        }
        pivotResponse[c] = current - dot * vPivot;
        for (std::size_t cell = 0; cell < k; ++cell) shift[cell * t + c] += dot * v[cell];
      }
    } else {
      // The column is already reduced: the pivot row keeps its values.
      for (int c = g; c < columns; ++c) pivotRow[c] = column(c)[pivotCell];
      for (int c = 0; c < t; ++c) pivotResponse[c] = y[c] - shift[pivotCell * t + c];
    }
    out.design.insert(out.design.end(), pivotRow.begin(), pivotRow.end());
    out.pivotColumn.push_back(g);
    for (int c = 0; c < t; ++c) cellSums[pivotCell * t + c] -= y[c];
    below[pivotCell] -= 1;
    ++r;
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

}  // namespace quorvel
