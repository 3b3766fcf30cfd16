// The variance-equalising exact tests, on the lowest cells.
#include "analysis/exact_test.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "numeric/symmetric_eigen.h"

namespace quorvel {
namespace {

// Eigen-decomposition of a small dense symmetric matrix (row-major) with rotations until
// the off-diagonal entries are at rounding level of the largest entry: eigenvalues in
// descending order, eigenvectors as the columns of `vectors` (row-major).
void Decompose(std::vector<double> matrix, int n, std::vector<double>& values,
               std::vector<double>& vectors) {
  std::vector<double*> rows(static_cast<std::size_t>(n));
  std::vector<double*> vectorRows(static_cast<std::size_t>(n));
  vectors.assign(static_cast<std::size_t>(n) * n, 0.0);
  double scale = 1.0;
  for (int i = 0; i < n; ++i) {
    rows[i] = matrix.data() + static_cast<std::size_t>(i) * n;
    vectorRows[i] = vectors.data() + static_cast<std::size_t>(i) * n;
    scale = std::max(scale, std::fabs(rows[i][i]));
  }
  JacobiEigen(rows.data(), n, vectorRows.data(), 1e-13 * scale);
  values.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) values[i] = rows[i][i];
}

}  // namespace

LowestCellGram::LowestCellGram(const RandomDesign& design, int nullCount) {
  const int lowest = design.terms;
  const LevelCells& level = design.levels[lowest];
  cells_ = level.count;
  const std::size_t regionCount = design.regionLeading.size();

  // U's rows: n_{c,l} / sqrt(n_l) over the region's leading slots; cells grouped by
  // region and size.
  std::map<std::pair<int, double>, int> classOf;
  auto regionOfCell = [&](int c) { return design.leadingRegion[level.leading[c].front().first]; };
  for (int c = 0; c < level.count; ++c) {
    const auto key = std::make_pair(regionOfCell(c), level.size[c]);
    auto [at, added] = classOf.emplace(key, static_cast<int>(classes_.size()));
    if (added) {
      classes_.emplace_back();
      classes_.back().size = level.size[c];
    }
    classes_[at->second].cells.push_back(c);
  }
  regions_.resize(regionCount);
  for (const auto& [key, index] : classOf)
    regions_[static_cast<std::size_t>(key.first)].classes.push_back(index);

  auto uRow = [&](int c, std::size_t m) {
    std::vector<double> u(m, 0.0);
    for (const auto& [l, count] : level.leading[c])
      u[static_cast<std::size_t>(design.leadingSlot[l])] = count / std::sqrt(design.leadingSize[l]);
    return u;
  };

  std::vector<double> reducedValues;  // all regions' reduced eigenvalues, for the null space
  std::vector<std::pair<int, int>> reducedIndex;
  for (std::size_t r = 0; r < regionCount; ++r) {
    ReducedSpace& region = regions_[r];
    const std::size_t m = design.regionLeading[r].size();
    // Each class's basis of U's columns: U v / sqrt(mu) for the eigenpairs (mu, v) of
    // U'U with mu above rounding.
    std::vector<std::vector<double>> uTb;  // per reduced basis vector: U' b (over slots)
    std::vector<double> sizes;
    for (const int index : region.classes) {
      SizeClass& cls = classes_[index];
      std::vector<std::vector<double>> rowsU;
      for (const int c : cls.cells) rowsU.push_back(uRow(c, m));
      std::vector<double> gram(m * m, 0.0);
      for (const auto& u : rowsU) {
        for (std::size_t i = 0; i < m; ++i) {
          for (std::size_t j = 0; j < m; ++j) gram[i * m + j] += u[i] * u[j];
        }
      }
      std::vector<double> values;
      std::vector<double> vectors;
      Decompose(gram, static_cast<int>(m), values, vectors);
      const double top = values.empty() ? 0.0 : std::max(values.front(), 0.0);
      for (std::size_t k = 0; k < m; ++k) {
        if (!(values[k] > 1e-12 * top) || top == 0.0) continue;
        std::vector<double> b(cls.cells.size(), 0.0);
        for (std::size_t i = 0; i < cls.cells.size(); ++i) {
          double sum = 0.0;
          for (std::size_t j = 0; j < m; ++j) sum += rowsU[i][j] * vectors[j * m + k];
          b[i] = sum / std::sqrt(values[k]);
        }
        std::vector<double> ub(m, 0.0);
        for (std::size_t i = 0; i < cls.cells.size(); ++i) {
          for (std::size_t j = 0; j < m; ++j) ub[j] += rowsU[i][j] * b[i];
        }
        cls.basis.push_back(std::move(b));
        uTb.push_back(std::move(ub));
        sizes.push_back(cls.size);
      }
    }
    // K on the span of the bases: diag(size) - (U'b_i)'(U'b_j).
    const int n = static_cast<int>(sizes.size());
    std::vector<double> reduced(static_cast<std::size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double sum = i == j ? sizes[i] : 0.0;
        for (std::size_t s = 0; s < m; ++s) sum -= uTb[i][s] * uTb[j][s];
        reduced[static_cast<std::size_t>(i) * n + j] = sum;
      }
    }
    std::vector<double> values;
    std::vector<double> vectors;
    Decompose(reduced, n, values, vectors);
    for (int k = 0; k < n; ++k) {
      std::vector<double> v(static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i) v[i] = vectors[static_cast<std::size_t>(i) * n + k];
      region.vectors.push_back(std::move(v));
      region.eigenvalue.push_back(values[k]);
      reducedValues.push_back(values[k]);
      reducedIndex.push_back({static_cast<int>(r), k});
    }
  }

  // K has nullCount zero eigenvalues, all on the reduced spans: the smallest there.
  std::vector<int> byValue(reducedValues.size());
  for (std::size_t k = 0; k < byValue.size(); ++k) byValue[k] = static_cast<int>(k);
  std::stable_sort(byValue.begin(), byValue.end(),
                   [&](int a, int b) { return reducedValues[a] < reducedValues[b]; });
  const int nulls = std::clamp(nullCount, 0, static_cast<int>(byValue.size()));
  for (int k = 0; k < nulls; ++k) {
    const auto [r, index] = reducedIndex[byValue[k]];
    ReducedSpace& region = regions_[static_cast<std::size_t>(r)];
    region.eigenvalue[index] = 0.0;
    null_.push_back(Expand(region, region.vectors[index]));
  }

  smallest_ = std::numeric_limits<double>::infinity();
  for (const SizeClass& cls : classes_) {
    if (cls.cells.size() > cls.basis.size()) smallest_ = std::min(smallest_, cls.size);
  }
  for (const ReducedSpace& region : regions_) {
    for (const double value : region.eigenvalue) {
      if (value != 0.0) smallest_ = std::min(smallest_, value);
    }
  }
  for (const SizeClass& cls : classes_) {
    if (cls.cells.size() > cls.basis.size() && cls.size != smallest_) single_ = false;
  }
  for (const ReducedSpace& region : regions_) {
    for (const double value : region.eigenvalue) {
      if (value != 0.0 && value != smallest_) single_ = false;
    }
  }
}

std::vector<double> LowestCellGram::Expand(const ReducedSpace& region,
                                           const std::vector<double>& coordinates) const {
  std::vector<double> out(static_cast<std::size_t>(cells_), 0.0);
  std::size_t at = 0;
  for (const int index : region.classes) {
    const SizeClass& cls = classes_[index];
    for (const auto& b : cls.basis) {
      const double weight = coordinates[at++];
      for (std::size_t i = 0; i < cls.cells.size(); ++i) out[cls.cells[i]] += weight * b[i];
    }
  }
  return out;
}

template <typename F>
std::vector<double> LowestCellGram::Apply(const std::vector<double>& v, int columns, F f) const {
  const std::size_t cols = static_cast<std::size_t>(columns);
  std::vector<double> out(static_cast<std::size_t>(cells_) * cols, 0.0);
  for (const ReducedSpace& region : regions_) {
    // The coordinates of v on the region's basis vectors.
    std::vector<std::vector<double>> coordinates;
    for (const int index : region.classes) {
      const SizeClass& cls = classes_[index];
      // Within the class: f(size) on the part orthogonal to the basis.
      std::vector<std::vector<double>> projections;
      for (const auto& b : cls.basis) {
        std::vector<double> p(cols, 0.0);
        for (std::size_t i = 0; i < cls.cells.size(); ++i) {
          const double* row = v.data() + static_cast<std::size_t>(cls.cells[i]) * cols;
          for (std::size_t c = 0; c < cols; ++c) p[c] += b[i] * row[c];
        }
        projections.push_back(p);
        coordinates.push_back(std::move(p));
      }
      if (cls.cells.size() > cls.basis.size()) {
        const double within = f(cls.size);
        for (std::size_t i = 0; i < cls.cells.size(); ++i) {
          const double* row = v.data() + static_cast<std::size_t>(cls.cells[i]) * cols;
          double* target = out.data() + static_cast<std::size_t>(cls.cells[i]) * cols;
          for (std::size_t c = 0; c < cols; ++c) {
            double value = row[c];
            for (std::size_t k = 0; k < cls.basis.size(); ++k)
              value -= cls.basis[k][i] * projections[k][c];
            target[c] += within * value;
          }
        }
      }
    }
    // On the span of the bases: f on the reduced eigenvectors.
    for (std::size_t k = 0; k < region.vectors.size(); ++k) {
      if (region.eigenvalue[k] == 0.0) continue;
      const double weight = f(region.eigenvalue[k]);
      std::vector<double> dot(cols, 0.0);
      for (std::size_t i = 0; i < coordinates.size(); ++i) {
        for (std::size_t c = 0; c < cols; ++c) dot[c] += region.vectors[k][i] * coordinates[i][c];
      }
      std::size_t at = 0;
      for (const int index : region.classes) {
        const SizeClass& cls = classes_[index];
        for (const auto& b : cls.basis) {
          const double a = weight * region.vectors[k][at++];
          for (std::size_t i = 0; i < cls.cells.size(); ++i) {
            double* target = out.data() + static_cast<std::size_t>(cls.cells[i]) * cols;
            for (std::size_t c = 0; c < cols; ++c) target[c] += a * b[i] * dot[c];
          }
        }
      }
    }
  }
  return out;
}

std::vector<ExactTestSums> ExactTestSumsOfSquares(const RandomDesign& design,
                                                  const LowestCellGram& gram,
                                                  const std::vector<double>& sumsY,
                                                  const std::vector<double>& sumsE, int traits,
                                                  int term, const std::vector<int>& df) {
  const std::size_t t = static_cast<std::size_t>(traits);
  const int lowest = design.terms;
  const LevelCells& low = design.levels[lowest];
  const double smallest = gram.Smallest();

  // nu = K^-1 X'y_S + (K / lambda_min - I)^1/2 K^-1 X'e~.
  std::vector<double> nu = gram.Apply(sumsY, traits, [](double l) { return 1.0 / l; });
  if (!sumsE.empty()) {
    const std::vector<double> added = gram.Apply(sumsE, traits, [smallest](double l) {
      return std::sqrt(std::max(0.0, l / smallest - 1.0)) / l;
    });
    for (std::size_t k = 0; k < nu.size(); ++k) nu[k] += added[k];
  }

  // |proj(Pi_K A_x) nu|^2 for the terms down to x: with A_x the lowest cells' membership
  // in x's cells, D its column counts and V = D^-1/2 A_x' Z on K's null basis Z,
  // (Pi A)'(Pi A) = D^1/2 (I - V V') D^1/2, and the squared projection is
  // |x|^2 + sum over V'V's eigenpairs (sigma^2, w) below 1 of (x'V w)^2 / (1 - sigma^2),
  // x = D^-1/2 A_x' nu; the eigenvalues 1 belong to A_x's null directions (as many as
  // x's cells exceed the terms' degrees of freedom) and are left out.
  const auto& nullBasis = gram.NullBasis();
  const std::size_t nulls = nullBasis.size();
  auto projection = [&](int x) {
    std::vector<double> out(t, 0.0);
    if (x < 0) return out;
    const int level = x + 1;
    const LevelCells& cellsX = design.levels[level];
    std::vector<int> ancestor(static_cast<std::size_t>(low.count));
    for (int c = 0; c < low.count; ++c) {
      int at = c;
      for (int l = lowest; l > level; --l) at = design.levels[l].parent[at];
      ancestor[c] = at;
    }
    std::vector<double> members(static_cast<std::size_t>(cellsX.count), 0.0);
    for (int c = 0; c < low.count; ++c) members[ancestor[c]] += 1.0;
    std::vector<double> xs(static_cast<std::size_t>(cellsX.count) * t, 0.0);
    std::vector<double> vs(static_cast<std::size_t>(cellsX.count) * nulls, 0.0);
    for (int c = 0; c < low.count; ++c) {
      const int m = ancestor[c];
      for (std::size_t k = 0; k < t; ++k) xs[m * t + k] += nu[c * t + k];
      for (std::size_t z = 0; z < nulls; ++z) vs[m * nulls + z] += nullBasis[z][c];
    }
    for (int m = 0; m < cellsX.count; ++m) {
      const double scale = 1.0 / std::sqrt(members[m]);
      for (std::size_t k = 0; k < t; ++k) xs[m * t + k] *= scale;
      for (std::size_t z = 0; z < nulls; ++z) vs[m * nulls + z] *= scale;
    }
    for (int m = 0; m < cellsX.count; ++m) {
      for (std::size_t k = 0; k < t; ++k) out[k] += xs[m * t + k] * xs[m * t + k];
    }
    if (nulls == 0) return out;
    std::vector<double> vv(nulls * nulls, 0.0);
    std::vector<double> xv(t * nulls, 0.0);
    for (int m = 0; m < cellsX.count; ++m) {
      for (std::size_t i = 0; i < nulls; ++i) {
        for (std::size_t j = 0; j < nulls; ++j)
          vv[i * nulls + j] += vs[m * nulls + i] * vs[m * nulls + j];
        for (std::size_t k = 0; k < t; ++k) xv[k * nulls + i] += xs[m * t + k] * vs[m * nulls + i];
      }
    }
    std::vector<double> values;
    std::vector<double> vectors;
    Decompose(vv, static_cast<int>(nulls), values, vectors);
    int rank = 0;
    for (int z = 0; z <= x; ++z) rank += df[z];
    const int unit = std::clamp(cellsX.count - rank, 0, static_cast<int>(nulls));
    for (std::size_t i = static_cast<std::size_t>(unit); i < nulls;
         ++i) {  // descending: the first are 1
      for (std::size_t k = 0; k < t; ++k) {
        double dot = 0.0;
        for (std::size_t j = 0; j < nulls; ++j) dot += xv[k * nulls + j] * vectors[j * nulls + i];
        out[k] += dot * dot / (1.0 - values[i]);
      }
    }
    return out;
  };

  const std::vector<double> through = projection(term);
  const std::vector<double> above = projection(term - 1);
  std::vector<ExactTestSums> sums(t);
  for (std::size_t k = 0; k < t; ++k) {
    double total = 0.0;
    for (int c = 0; c < low.count; ++c) total += nu[c * t + k] * nu[c * t + k];
    sums[k].numerator = through[k] - above[k];
    sums[k].denominator = total - through[k];
  }
  return sums;
}

}  // namespace quorvel
