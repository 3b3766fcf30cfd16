// Random-model analysis for unbalanced nested designs.
//
// The design X and the traits Y are reduced together by Householder reflections in
// parameter order (ReduceByCells). The rows of the reduced traits fall into blocks, one
// per effect, whose sums of squares and products SP_q are the sequential sums of squares
// and products; rows from the design's rank on are residual coordinates. With the rows of
// the reduced design over block q as Z_q, the expected value of SP_q is
//   E(SP_q) = df_q s_E + sum over random terms x of trace(Z_q,x Z_q,x') s_x
// (the coefficients k), and under normality its variance involves the traces
// t(q; x, y) = trace(G_x G_y) of the Gram matrices G_x = Z_q,x Z_q,x' (Searle, Casella
// and McCulloch, Variance Components, 1992, ch. 5 for the moment method and the
// variances of quadratic forms). Components follow by back-substitution from the residual
// up; every estimate is a linear combination of the SP_q, whose coefficients give the
// sampling variances and covariances of the components.
//
// The lowest random component is tested against the residual by an ordinary F ratio. The
// components above it are tested exactly after a variance-equalising transformation of the
// random rows: with Gs the Gram matrix of the random rows over the lowest term's columns,
// w = Gs^-1/2 y_S + (I/lambda_min - Gs^-1)^1/2 e, where e are residual coordinates, has
// covariance (s_E/lambda_min + s_low) I plus the upper terms' part (an exact test in the
// manner of Wald, 1947, and Seely and El-Bassiouni, 1983). Gs is never decomposed itself:
// Gs = Z Z' with Z the random rows over the lowest term's columns, and Z'Z = D - R_L'R_L,
// D the diagonal of cell sizes and R_L the leading rows. Cells of the lowest term with the
// same size and the same counts in the leading effects span eigenspaces of Z'Z with their
// size as eigenvalue; the rest lives on the few class indicators, where JacobiEigen solves
// it. A matrix function f of Gs is then applied as Z h(Z'Z) Z' with h(l) = f(l) / l.
#include "analysis/random_model.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "analysis/dense_kernels.h"
#include "analysis/orthogonal_reduction.h"
#include "numeric/f_distribution.h"
#include "numeric/matrix.h"

namespace quorvel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A dense row-major matrix of doubles.
struct Dense {
  int rows = 0;
  int cols = 0;
  std::vector<double> data;
  Dense() = default;
  Dense(int r, int c) : rows(r), cols(c), data(static_cast<std::size_t>(r) * c, 0.0) {}
  double* Row(int r) { return data.data() + static_cast<std::size_t>(r) * cols; }
  const double* Row(int r) const { return data.data() + static_cast<std::size_t>(r) * cols; }
};

// Rows [first, last) of the reduced design restricted to one effect block's columns.
Dense DesignRows(const CellReduction& reduced, int first, int last, const EffectBlock& block) {
  Dense z(last - first, block.count);
  for (int r = first; r < last; ++r) {
    const double* row = reduced.DesignRow(r);
    std::copy(row + block.start, row + block.start + block.count, z.Row(r - first));
  }
  return z;
}

// The lower triangle of Z Z' (row dot products).
Dense Gram(const Dense& z) {
  Dense g(z.rows, z.rows);
  for (int u = 0; u < z.rows; ++u) {
    const double* zu = z.Row(u);
    for (int v = 0; v <= u; ++v) {
      const double* zv = z.Row(v);
      g.Row(u)[v] = Dot(zu, zv, static_cast<std::size_t>(z.cols));
    }
  }
  return g;
}

// trace(G1 G2) of two symmetric matrices given by their lower triangles.
double TraceOfProduct(const Dense& g1, const Dense& g2) {
  double sum = 0.0;
  for (int u = 0; u < g1.rows; ++u) {
    const double* a = g1.Row(u);
    const double* b = g2.Row(u);
    for (int v = 0; v < u; ++v) sum += 2.0 * a[v] * b[v];
    sum += a[u] * b[u];
  }
  return sum;
}

double SumOfSquares(const Dense& z) {
  double sum = 0.0;
  for (const double value : z.data) sum += value * value;
  return sum;
}

// Matrix functions of Gs = Z Z' through the class structure of Z'Z (see the file head).
class GramFunctions {
 public:
  GramFunctions(const CellReduction& reduced, const DesignCells& cells, int leadingRows,
                int topRows, const EffectBlock& low, int leadingBlocks) {
    const int s = topRows - leadingRows;
    z_ = DesignRows(reduced, leadingRows, topRows, low);
    const Dense leading = DesignRows(reduced, 0, leadingRows, low);

    // Profile of each column of the lowest term: its size and its counts in the leading
    // effects' columns.
    std::vector<std::map<int, long long>> profile(static_cast<std::size_t>(low.count));
    std::vector<long long> size(static_cast<std::size_t>(low.count), 0);
    for (std::size_t cell = 0; cell < cells.columns.size(); ++cell) {
      const std::vector<int>& columns = cells.columns[cell];
      const int c = columns.back() - low.start;
      size[c] += cells.counts[cell];
      for (int b = 0; b < leadingBlocks; ++b) profile[c][columns[b]] += cells.counts[cell];
    }
    std::map<std::pair<long long, std::map<int, long long>>, int> classOf;
    classOfColumn_.resize(static_cast<std::size_t>(low.count));
    for (int c = 0; c < low.count; ++c) {
      const auto key = std::make_pair(size[c], profile[c]);
      auto [at, added] = classOf.emplace(key, static_cast<int>(classSize_.size()));
      if (added) {
        classSize_.push_back(0);
        classValue_.push_back(static_cast<double>(size[c]));
      }
      classOfColumn_[c] = at->second;
      classSize_[at->second] += 1;
    }
    const int m = static_cast<int>(classSize_.size());

    // Z'Z on the normalised class indicators: diag(size) - (R_L E)'(R_L E).
    Dense leadingOnClasses(leadingRows, m);
    for (int r = 0; r < leadingRows; ++r) {
      for (int c = 0; c < low.count; ++c)
        leadingOnClasses.Row(r)[classOfColumn_[c]] += leading.Row(r)[c];
      for (int g = 0; g < m; ++g)
        leadingOnClasses.Row(r)[g] /= std::sqrt(static_cast<double>(classSize_[g]));
    }
    std::vector<std::vector<double>> matrix(static_cast<std::size_t>(m),
                                            std::vector<double>(m, 0.0));
    for (int g = 0; g < m; ++g) {
      for (int h = 0; h < m; ++h) {
        double sum = g == h ? classValue_[g] : 0.0;
        for (int r = 0; r < leadingRows; ++r)
          sum -= leadingOnClasses.Row(r)[g] * leadingOnClasses.Row(r)[h];
        matrix[g][h] = sum;
      }
    }
    std::vector<std::vector<double>> vectors(static_cast<std::size_t>(m),
                                             std::vector<double>(m, 0.0));
    std::vector<double*> matrixRows;
    std::vector<double*> vectorRows;
    for (int g = 0; g < m; ++g) {
      matrixRows.push_back(matrix[g].data());
      vectorRows.push_back(vectors[g].data());
    }
    // The class matrix is small: its rotations go on until the off-diagonal entries are
    // at rounding level of its largest entry, so that the exact tests carry no error from
    // the decomposition.
    double scale = 1.0;
    for (int g = 0; g < m; ++g) scale = std::max(scale, std::fabs(matrix[g][g]));
    JacobiEigen(matrixRows.data(), m, vectorRows.data(), 1e-13 * scale);

    // Z'Z has low.count - s zero eigenvalues, all on the class indicators: the smallest.
    const int nullCount = std::clamp(low.count - s, 0, m);
    classVectors_ = std::move(vectors);
    classEigen_.resize(static_cast<std::size_t>(m));
    smallest_ = std::numeric_limits<double>::infinity();
    for (int k = 0; k < m; ++k) {
      classEigen_[k] = matrix[k][k];
      if (k >= m - nullCount) classEigen_[k] = 0.0;  // marks the null space
      if (classEigen_[k] != 0.0) smallest_ = std::min(smallest_, classEigen_[k]);
    }
    for (int g = 0; g < m; ++g) {
      if (classSize_[g] >= 2) smallest_ = std::min(smallest_, classValue_[g]);
    }
  }

  // The smallest eigenvalue of Gs.
  double Smallest() const { return smallest_; }

  // f(Gs) X for the columns of X (s rows), with f given as h(l) = f(l) / l on the
  // eigenvalues l. Z is streamed once for all columns.
  template <typename H>
  Dense Apply(const Dense& x, H h) const {
    const int s = z_.rows;
    const int n = z_.cols;
    const int b = x.cols;
    const int m = static_cast<int>(classSize_.size());
    Dense y(n, b);  // Z'X
    for (int r = 0; r < s; ++r) {
      const double* zr = z_.Row(r);
      const double* xr = x.Row(r);
      for (int c = 0; c < n; ++c) {
        const double zc = zr[c];
        if (zc == 0.0) continue;
        double* yc = y.Row(c);
        for (int j = 0; j < b; ++j) yc[j] += zc * xr[j];
      }
    }
    // h(Z'Z) Y: within classes, then on the class indicators.
    Dense classSum(m, b);
    for (int c = 0; c < n; ++c) {
      double* sum = classSum.Row(classOfColumn_[c]);
      const double* yc = y.Row(c);
      for (int j = 0; j < b; ++j) sum[j] += yc[j];
    }
    Dense coordinates(m, b);
    std::vector<double> dot(static_cast<std::size_t>(b));
    for (int k = 0; k < m; ++k) {
      if (classEigen_[k] == 0.0) continue;
      std::fill(dot.begin(), dot.end(), 0.0);
      for (int g = 0; g < m; ++g) {
        const double a = classVectors_[g][k] / std::sqrt(static_cast<double>(classSize_[g]));
        const double* sum = classSum.Row(g);
        for (int j = 0; j < b; ++j) dot[j] += a * sum[j];
      }
      const double hk = h(classEigen_[k]);
      for (int g = 0; g < m; ++g) {
        const double a = classVectors_[g][k] * hk;
        double* coordinate = coordinates.Row(g);
        for (int j = 0; j < b; ++j) coordinate[j] += a * dot[j];
      }
    }
    for (int c = 0; c < n; ++c) {
      const int g = classOfColumn_[c];
      const double within = classSize_[g] >= 2 ? h(classValue_[g]) : 0.0;
      const double norm = std::sqrt(static_cast<double>(classSize_[g]));
      const double* sum = classSum.Row(g);
      const double* coordinate = coordinates.Row(g);
      double* yc = y.Row(c);
      for (int j = 0; j < b; ++j) {
        yc[j] = within * (yc[j] - sum[j] / classSize_[g]) + coordinate[j] / norm;
      }
    }
    Dense result(s, b);  // Z h Y
    for (int r = 0; r < s; ++r) {
      const double* zr = z_.Row(r);
      double* out = result.Row(r);
      for (int c = 0; c < n; ++c) {
        const double zc = zr[c];
        if (zc == 0.0) continue;
        const double* yc = y.Row(c);
        for (int j = 0; j < b; ++j) out[j] += zc * yc[j];
      }
    }
    return result;
  }

 private:
  Dense z_;
  std::vector<int> classOfColumn_;
  std::vector<int> classSize_;
  std::vector<double> classValue_;                 // the cells' common size
  std::vector<std::vector<double>> classVectors_;  // eigenvectors on the class indicators
  std::vector<double> classEigen_;                 // their eigenvalues, 0 for the null space
  double smallest_ = 0.0;
};

// Sizes of the cells of a level or cell list, keyed by the codes.
template <typename Key>
std::map<Key, long long> Count(int n, auto&& keyOf) {
  std::map<Key, long long> counts;
  for (int i = 0; i < n; ++i) counts[keyOf(i)] += 1;
  return counts;
}

}  // namespace

double RandomModel::Trace(int q, int x, int y) const {
  const int e = randomTerms;
  if (q == e) return df[e];
  if (x == e && y == e) return df[q];
  if (x == e) return k[q][y];
  if (y == e) return k[q][x];
  return t[q][x][y];
}

RandomModel EstimateComponents(const ModelCoding& coding, const DesignCells& cells,
                               const DesignData& data, int modelRank) {
  RandomModel model;
  const int n = data.observationCount;
  const int traits = data.traitCount;
  const bool repeat = coding.kind == ModelKind::BlockedRepeat;
  const int terms = repeat ? 3 : 2;
  const int e = terms;  // the residual's index
  model.traits = traits;
  model.randomTerms = terms;
  std::vector<const EffectBlock*> termBlock = {coding.Find(Effect::Male),
                                               coding.Find(Effect::Female)};
  if (repeat) termBlock.push_back(coding.Find(Effect::FemaleRepeat));
  const int leadingBlocks = coding.subDesignBlockCounts[0];

  // Ranks of the sub-designs: the leading effects, then adding each random term.
  std::vector<int> bound;  // first row of each random block, then the residual
  for (int b = leadingBlocks; b < static_cast<int>(coding.blocks.size()); ++b) {
    const EffectBlock& last = coding.blocks[b - 1];
    const int end = last.start + last.count;
    std::vector<SparseRow> rows;
    for (const auto& columns : cells.columns) {
      SparseRow row;
      for (const int column : columns) {
        if (column < end) row.push_back({column, 1});
      }
      rows.push_back(std::move(row));
    }
    bound.push_back(SparseIntegerRank(end, std::move(rows)));
  }
  bound.push_back(modelRank);
  const int leadingRows = bound[0];
  const int top = modelRank;
  model.df.resize(static_cast<std::size_t>(terms) + 1);
  for (int q = 0; q < terms; ++q) model.df[q] = bound[q + 1] - bound[q];
  model.df[e] = n - top;
  const double dfE = model.df[e];

  // The reduction.
  std::vector<double> y(static_cast<std::size_t>(n) * traits);
  for (int i = 0; i < n; ++i) {
    for (int t = 0; t < traits; ++t)
      y[static_cast<std::size_t>(i) * traits + t] = data.traitValues[t][i];
  }
  const CellReduction reduced = ReduceByCells(cells, coding.parameterCount, y, traits);

  // Sequential sums of products of every block.
  std::vector<std::vector<double>> sp(
      static_cast<std::size_t>(terms) + 1,
      std::vector<double>(static_cast<std::size_t>(traits) * traits, 0.0));
  auto addRows = [&](std::vector<double>& target, int first, int last) {
    for (int r = first; r < last; ++r) {
      const double* row = reduced.ResponseRow(r);
      for (int i = 0; i < traits; ++i) {
        for (int j = 0; j < traits; ++j) target[i * traits + j] += row[i] * row[j];
      }
    }
  };
  for (int q = 0; q < terms; ++q) addRows(sp[q], bound[q], bound[q + 1]);
  addRows(sp[e], top, n);

  // Coefficients k and traces t from the rows of each random block.
  model.k.assign(static_cast<std::size_t>(terms), std::vector<double>(terms, 0.0));
  model.t.assign(static_cast<std::size_t>(terms),
                 std::vector<std::vector<double>>(terms, std::vector<double>(terms, 0.0)));
  for (int q = 0; q < terms; ++q) {
    // The term's own coefficient from the block's rows themselves: an empty block (no
    // degrees of freedom) gives exactly 0, so that what it cannot estimate comes out as
    // 0/0 = NaN instead of a quotient of rounding errors.
    model.k[q][q] = SumOfSquares(DesignRows(reduced, bound[q], bound[q + 1], *termBlock[q]));
    std::vector<Dense> gram(static_cast<std::size_t>(terms));
    for (int x = q; x < terms; ++x) {
      const Dense rows = DesignRows(reduced, bound[q], bound[q + 1], *termBlock[x]);
      if (x > q) model.k[q][x] = SumOfSquares(rows);
      gram[x] = Gram(rows);
    }
    for (int x = q; x < terms; ++x) {
      for (int z = q; z <= x; ++z) {
        model.t[q][x][z] = model.t[q][z][x] = TraceOfProduct(gram[x], gram[z]);
      }
    }
  }
  auto trace = [&](int q, int x, int z) { return model.Trace(q, x, z); };

  // Estimator coefficients: component x = sum over q of c(x, q) SP_q, by the same
  // back-substitution as the components.
  model.c.assign(static_cast<std::size_t>(terms) + 1, std::vector<double>(terms + 1, 0.0));
  model.c[e][e] = 1.0 / dfE;
  for (int x = terms - 1; x >= 0; --x) {
    std::vector<double>& cx = model.c[x];
    cx[x] = 1.0;
    for (int q = 0; q <= terms; ++q) cx[q] -= model.df[x] * model.c[e][q];
    for (int z = x + 1; z < terms; ++z) {
      for (int q = 0; q <= terms; ++q) cx[q] -= model.k[x][z] * model.c[z][q];
    }
    for (int q = 0; q <= terms; ++q) cx[q] /= model.k[x][x];
  }

  // Components of every pair of traits.
  const std::size_t tt = static_cast<std::size_t>(traits) * traits;
  model.component.assign(static_cast<std::size_t>(terms) + 1, std::vector<double>(tt, 0.0));
  for (int i = 0; i < traits; ++i) {
    for (int j = 0; j <= i; ++j) {
      const std::size_t ij = static_cast<std::size_t>(i) * traits + j;
      std::vector<double> s(static_cast<std::size_t>(terms) + 1, 0.0);
      s[e] = sp[e][ij] / dfE;
      for (int x = terms - 1; x >= 0; --x) {
        double value = sp[x][ij] - model.df[x] * s[e];
        for (int z = x + 1; z < terms; ++z) value -= model.k[x][z] * s[z];
        s[x] = value / model.k[x][x];
      }
      for (int x = 0; x <= terms; ++x) {
        model.component[x][ij] = s[x];
        model.component[x][static_cast<std::size_t>(j) * traits + i] = s[x];
      }
    }
  }
  auto comp = [&](int x, int i, int j) {
    return model.component[x][static_cast<std::size_t>(i) * traits + j];
  };

  // Normal-theory variances of the sums of products, and of the components.
  auto spVariance = [&](int q, int i, int j) {
    double sum = 0.0;
    const int first = q == e ? e : q;
    for (int x = first; x <= terms; ++x) {
      for (int z = first; z <= terms; ++z) {
        sum += trace(q, x, z) * (comp(x, i, j) * comp(z, i, j) + comp(x, i, i) * comp(z, j, j));
      }
    }
    return sum;
  };
  model.componentVar.assign(static_cast<std::size_t>(terms), std::vector<double>(tt, 0.0));
  for (int i = 0; i < traits; ++i) {
    for (int j = 0; j <= i; ++j) {
      std::vector<double> variance(static_cast<std::size_t>(terms) + 1);
      for (int q = 0; q <= terms; ++q) variance[q] = spVariance(q, i, j);
      for (int x = 0; x < terms; ++x) {
        double sum = 0.0;
        for (int q = x; q <= terms; ++q) sum += model.c[x][q] * model.c[x][q] * variance[q];
        model.componentVar[x][static_cast<std::size_t>(i) * traits + j] = sum;
        model.componentVar[x][static_cast<std::size_t>(j) * traits + i] = sum;
      }
    }
  }
  model.componentVarE.resize(static_cast<std::size_t>(traits));
  for (int i = 0; i < traits; ++i) model.componentVarE[i] = spVariance(e, i, i) / (dfE * dfE);

  // F tests: the lowest random term against the residual; the terms above it exactly.
  model.testF.assign(static_cast<std::size_t>(traits), std::vector<double>(terms, kNaN));
  model.testP.assign(static_cast<std::size_t>(traits), std::vector<double>(terms, kNaN));
  const int low = terms - 1;
  for (int i = 0; i < traits; ++i) {
    const std::size_t ii = static_cast<std::size_t>(i) * traits + i;
    const double f = (sp[low][ii] / model.df[low]) / (sp[e][ii] / dfE);
    model.testF[i][low] = f;
    model.testP[i][low] = FUpperTail(model.df[low], model.df[e], f);
  }
  const int s = top - leadingRows;
  if (traits > 0 && s > 0 && model.df[e] >= s) {
    const GramFunctions gs(reduced, cells, leadingRows, top, *termBlock[low], leadingBlocks);
    const double smallest = gs.Smallest();
    auto inverseRoot = [](double l) { return 1.0 / (l * std::sqrt(l)); };
    auto equaliser = [smallest](double l) {
      return std::sqrt(std::max(0.0, 1.0 / smallest - 1.0 / l)) / l;
    };

    // Transformed responses w = Gs^-1/2 y_S + W e, one column per trait.
    Dense yS(s, traits);
    Dense residual(s, traits);
    for (int r = 0; r < s; ++r) {
      std::copy_n(reduced.ResponseRow(leadingRows + r), traits, yS.Row(r));
      std::copy_n(reduced.ResponseRow(top + r), traits, residual.Row(r));
    }
    Dense w = gs.Apply(yS, inverseRoot);
    const Dense added = gs.Apply(residual, equaliser);
    for (std::size_t k = 0; k < w.data.size(); ++k) w.data[k] += added.data[k];

    // One exact test: the transformed design on the given term blocks, reduced together
    // with w; numerator and denominator are sums of squares over row ranges.
    auto exactTest = [&](std::vector<int> blocks, int numFirst, int numDf, int denDf, int target) {
      int width = 0;
      for (const int x : blocks) width += termBlock[x]->count;
      Dense columns(s, width);
      for (int r = 0; r < s; ++r) {
        double* to = columns.Row(r);
        for (const int x : blocks) {
          const double* from = reduced.DesignRow(leadingRows + r) + termBlock[x]->start;
          to = std::copy_n(from, termBlock[x]->count, to);
        }
      }
      Dense xs = gs.Apply(columns, inverseRoot);
      Dense responses = w;
      std::vector<double*> designRows;
      std::vector<double*> responseRows;
      for (int r = 0; r < s; ++r) {
        designRows.push_back(xs.Row(r));
        responseRows.push_back(responses.Row(r));
      }
      HouseholderReduce(designRows.data(), responseRows.data(), s, width, traits);
      for (int i = 0; i < traits; ++i) {
        double numerator = 0.0;
        double denominator = 0.0;
        for (int r = numFirst; r < numFirst + numDf; ++r)
          numerator += responses.Row(r)[i] * responses.Row(r)[i];
        for (int r = numFirst + numDf; r < s; ++r)
          denominator += responses.Row(r)[i] * responses.Row(r)[i];
        const double f = (numerator / numDf) / (denominator / denDf);
        model.testF[i][target] = f;
        model.testP[i][target] = FUpperTail(numDf, denDf, f);
      }
    };
    if (repeat) {
      exactTest({0, 1}, model.df[0], model.df[1], model.df[2], 1);
    } else {
      exactTest({0}, 0, model.df[0], model.df[1], 0);
    }
  }

  // Heritabilities. Weights of the components in the variance of a male mean.
  std::vector<double> weight(static_cast<std::size_t>(terms) + 1, 0.0);  // [x], x != 0
  {
    const bool nested = coding.kind == ModelKind::Nested;
    const auto& male = data.factorCodes[nested ? 0 : 1];
    const auto maleCount = Count<int>(n, [&](int i) { return male[i]; });
    if (repeat) {
      const auto& block = data.factorCodes[0];
      const auto& female = data.factorCodes[2];
      const auto& rep = data.factorCodes[3];
      using K2 = std::pair<int, int>;
      using K3 = std::tuple<int, int, int>;
      using K4 = std::tuple<int, int, int, int>;
      const auto bm = Count<K2>(n, [&](int i) { return K2{block[i], male[i]}; });
      const auto bmf = Count<K3>(n, [&](int i) { return K3{block[i], male[i], female[i]}; });
      const auto bmfr = Count<K4>(n, [&](int i) {
        return K4{block[i], male[i], female[i], rep[i]};
      });
      auto squares = [&](const auto& cells2, auto maleOf) {
        double sum = 0.0;
        for (const auto& [key, count] : cells2) {
          const double nm = static_cast<double>(maleCount.at(maleOf(key)));
          sum += static_cast<double>(count) * count / (nm * nm);
        }
        return sum;
      };
      const double aM = squares(bm, [](const K2& k2) { return k2.second; });
      const double aF = squares(bmf, [](const K3& k3) { return std::get<1>(k3); });
      const double aFR = squares(bmfr, [](const K4& k4) { return std::get<1>(k4); });
      double aE = 0.0;
      for (const auto& [code, count] : maleCount) aE += 1.0 / static_cast<double>(count);
      weight[1] = aF / aM;
      weight[2] = aFR / aM;
      weight[e] = aE / aM;
    } else {
      const auto& female = data.factorCodes[nested ? 1 : 2];
      using K2 = std::pair<int, int>;
      const auto mf = Count<K2>(n, [&](int i) { return K2{male[i], female[i]}; });
      const double a = static_cast<double>(maleCount.size());
      double wF = 0.0;
      for (const auto& [key, count] : mf) {
        const double nm = static_cast<double>(maleCount.at(key.first));
        wF += static_cast<double>(count) * count / (nm * nm);
      }
      double wE = 0.0;
      for (const auto& [code, count] : maleCount) wE += 1.0 / static_cast<double>(count);
      weight[1] = wF / a;
      weight[e] = wE / a;
    }
  }

  model.hi.resize(static_cast<std::size_t>(traits));
  model.hiError.resize(static_cast<std::size_t>(traits));
  model.hm.resize(static_cast<std::size_t>(traits));
  model.hmError.resize(static_cast<std::size_t>(traits));
  for (int i = 0; i < traits; ++i) {
    std::vector<double> sd(static_cast<std::size_t>(terms) + 1);   // components of trait i
    std::vector<double> var(static_cast<std::size_t>(terms) + 1);  // their sampling variances
    std::vector<double> spVar(static_cast<std::size_t>(terms) + 1);
    for (int x = 0; x <= terms; ++x) {
      sd[x] = comp(x, i, i);
      spVar[x] = spVariance(x, i, i);
    }
    for (int x = 0; x < terms; ++x)
      var[x] = model.componentVar[x][static_cast<std::size_t>(i) * traits + i];
    var[e] = model.componentVarE[i];
    auto covariance = [&](int x, int z) {
      double sum = 0.0;
      for (int q = 0; q <= terms; ++q) sum += model.c[x][q] * model.c[z][q] * spVar[q];
      return sum;
    };

    // First-order (delta-method) variances of the ratios.
    double total = 0.0;
    for (int x = 0; x <= terms; ++x) total += sd[x];
    const double sM = sd[0];
    double sumVar = 0.0;
    double sumCov = 0.0;
    double maleCov = 0.0;
    for (int x = 0; x <= terms; ++x) {
      sumVar += var[x];
      for (int z = x + 1; z <= terms; ++z) sumCov += covariance(x, z);
      if (x != 0) maleCov += covariance(0, x);
    }
    const double hi = 4 * sM / total;
    const double varHi = ((4 * sM) * (4 * sM) / (total * total) * (sumVar + 2 * sumCov) +
                          16 * var[0] - (2 * 4 * sM / total) * (4 * var[0] + 4 * maleCov)) /
                         (total * total);

    double d = sM;
    for (int x = 1; x <= terms; ++x) d += weight[x] * sd[x];
    double weightedVar = var[0];
    double weightedMaleCov = 0.0;
    double weightedPairCov = 0.0;
    for (int x = 1; x <= terms; ++x) {
      weightedVar += weight[x] * weight[x] * var[x];
      weightedMaleCov += weight[x] * covariance(0, x);
      for (int z = x + 1; z <= terms; ++z)
        weightedPairCov += weight[x] * weight[z] * covariance(x, z);
    }
    const double hm = sM / d;
    const double varHm =
        (sM * sM / (d * d) * (weightedVar + 2 * weightedMaleCov + 2 * weightedPairCov) + var[0] -
         (2 * sM / d) * (var[0] + weightedMaleCov)) /
        (d * d);
    model.hi[i] = hi;
    model.hiError[i] = std::sqrt(varHi);
    model.hm[i] = hm;
    model.hmError[i] = std::sqrt(varHm);
  }
  return model;
}

std::vector<CorrelationMatrix> GeneticCorrelations(const RandomModel& model) {
  static const char* const kEffects[] = {"male", "female", "female_by_repeat"};
  const int traits = model.traits;
  const int terms = model.randomTerms;
  const int e = terms;
  auto s = [&](int x, int i, int j) { return model.Component(x, i, j); };
  auto trace = [&](int q, int x, int z) { return model.Trace(q, x, z); };
  // Half the covariance of two sums of products of block q: sum over ordered pairs of the
  // block's terms of t(q; y, z) a(y) b(z).
  auto half = [&](int q, auto&& a, auto&& b) {
    double sum = 0.0;
    const int first = q == e ? e : q;
    for (int y = first; y <= e; ++y) {
      for (int z = first; z <= e; ++z) sum += trace(q, y, z) * a(y) * b(z);
    }
    return sum;
  };

  std::vector<CorrelationMatrix> matrices;
  for (int x = 0; x < terms; ++x) {
    CorrelationMatrix matrix;
    matrix.effect = kEffects[x];
    matrix.traits = traits;
    std::vector<double>& r = matrix.r;
    std::vector<double>& se = matrix.se;
    r.assign(static_cast<std::size_t>(traits) * traits, 0.0);
    se.assign(static_cast<std::size_t>(traits) * traits, 0.0);
    for (int i = 0; i < traits; ++i) r[static_cast<std::size_t>(i) * traits + i] = 1.0;
    const std::vector<double>& v = model.componentVar[x];
    for (int i = 0; i + 1 < traits; ++i) {
      for (int j = i + 1; j < traits; ++j) {
        double rij = s(x, i, j) / std::sqrt(s(x, i, i) * s(x, j, j));
        if (rij > 1) rij = 1;
        if (rij < -1) rij = -1;
        double cijii = 0.0;
        double cijjj = 0.0;
        double ciijj = 0.0;
        for (int q = x; q <= e; ++q) {
          const double c2 = model.c[x][q] * model.c[x][q];
          auto ij = [&](int y) { return s(y, i, j); };
          auto iiOf = [&](int y) { return s(y, i, i); };
          auto jjOf = [&](int y) { return s(y, j, j); };
          cijii += c2 * half(q, ij, iiOf);
          cijjj += c2 * half(q, ij, jjOf);
          ciijj += c2 * half(q, ij, ij);
        }
        const double sii = s(x, i, i);
        const double sjj = s(x, j, j);
        const double sij = s(x, i, j);
        const double vii = v[static_cast<std::size_t>(i) * traits + i];
        const double vjj = v[static_cast<std::size_t>(j) * traits + j];
        const double vij = v[static_cast<std::size_t>(i) * traits + j];
        const double variance =
            rij * rij *
            (vii / (4 * sii * sii) + vij / (sij * sij) + vjj / (4 * sjj * sjj) -
             2 * cijii / (sij * sii) - 2 * cijjj / (sij * sjj) + 2 * ciijj / (2 * sii * sjj));
        r[static_cast<std::size_t>(i) * traits + j] = r[static_cast<std::size_t>(j) * traits + i] =
            rij;
        se[static_cast<std::size_t>(i) * traits + j] =
            se[static_cast<std::size_t>(j) * traits + i] = std::sqrt(variance);
      }
    }
    matrices.push_back(std::move(matrix));
  }
  return matrices;
}

}  // namespace quorvel
