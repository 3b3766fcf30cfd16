// Test support: dense reference of the random-model stage.
#include "tests/support/reference_random_model.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <tuple>
#include <utility>

#include "numeric/f_distribution.h"
#include "numeric/matrix.h"
#include "tests/support/reference_reduction.h"

namespace quorvel::testing {
namespace {

constexpr double kTolerance = 1e-10;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Applies the reflection I - vv' (v over rows first .. rows-1) to one column given as an
// accessor of its entries.
template <typename Entry>
void Reflect(const std::vector<double>& v, int first, int rows, Entry&& entry) {
  double dot = 0.0;
  for (int i = first; i < rows; ++i) dot += v[i] * entry(i);
  for (int i = first; i < rows; ++i) entry(i) -= dot * v[i];
}

// Reflection vector taking column g's entries in rows first .. rows-1 onto s e_first, no
// sign choice, scaled to length sqrt(2); false when it is zero. With cancellationFree the
// first entry x_1 - s is formed as -(sum of the other squares) / (x_1 + s) when x_1 > 0.
bool ReflectionVector(double** design, int g, int first, int rows, double s, std::vector<double>& v,
                      bool cancellationFree = false) {
  for (int i = first; i < rows; ++i) v[i] = design[i][g];
  if (cancellationFree && v[first] > 0) {
    double rest = 0.0;
    for (int i = first + 1; i < rows; ++i) rest += v[i] * v[i];
    v[first] = -rest / (v[first] + s);
  } else {
    v[first] -= s;
  }
  double norm = 0.0;
  for (int i = first; i < rows; ++i) norm += v[i] * v[i];
  norm = std::sqrt(norm);
  if (norm == 0.0) return false;
  for (int i = first; i < rows; ++i) v[i] *= std::sqrt(2.0) / norm;
  return true;
}

double ColumnNorm(double** design, int g, int first, int rows) {
  double sum = 0.0;
  for (int i = first; i < rows; ++i) sum += design[i][g] * design[i][g];
  return std::sqrt(sum);
}

void Reduce(ReferenceReduction reduction, DenseRows& design, DenseRows& responses, int columns,
            int responseColumns) {
  std::vector<double*> d = RowPointers(design);
  std::vector<double*> y = RowPointers(responses);
  const int rows = static_cast<int>(design.size());
  switch (reduction) {
    case ReferenceReduction::CancellationFree:
      CancellationFreeHouseholderReduce(d.data(), y.data(), rows, columns, responseColumns);
      break;
    case ReferenceReduction::Library:
      HouseholderReduce(d.data(), y.data(), rows, columns, responseColumns);
      break;
    case ReferenceReduction::CountingCopy:
      CountingHouseholderReduce(d.data(), y.data(), rows, columns, responseColumns);
      break;
    case ReferenceReduction::GivensCleanUp:
      GivensHouseholderReduce(d.data(), y.data(), rows, columns, responseColumns);
      break;
  }
}

// Covariances of the sequential sums of products under multivariate normality: with the
// traits' covariance over the observations sum over terms X of s_X (i, j) G_X, the
// products of block q have
//   Cov(SP_q(i,j), SP_q(k,l)) = sum over ordered pairs (X, Y) of the terms of block q and
//                               the residual of t(q; X, Y) [s_X(i,k) s_Y(j,l) + s_X(i,l) s_Y(j,k)]
// (the covariance of two bilinear forms in normal vectors, e.g. Searle, Casella and
// McCulloch, Variance Components, 1992, appendix S), with t(q; X, E) = k(q, X) and
// t(q; E, E) = df_q.
class ProductCovariance {
 public:
  explicit ProductCovariance(const RandomModel& model) : m_(model), e_(model.randomTerms) {}

  double Trace(int q, int x, int y) const {
    if (q == e_) return m_.df[e_];
    if (x == e_ && y == e_) return m_.df[q];
    if (x == e_) return m_.k[q][y];
    if (y == e_) return m_.k[q][x];
    return m_.t[q][x][y];
  }

  double operator()(int q, int i, int j, int k, int l) const {
    const int first = q == e_ ? e_ : q;
    double sum = 0.0;
    for (int x = first; x <= e_; ++x) {
      for (int y = first; y <= e_; ++y) {
        sum += Trace(q, x, y) * (S(x, i, k) * S(y, j, l) + S(x, i, l) * S(y, j, k));
      }
    }
    return sum;
  }

  // Covariance of the estimates of entry (i, j) of term x and entry (k, l) of term y.
  double Estimates(int x, int i, int j, int y, int k, int l) const {
    double sum = 0.0;
    for (int q = 0; q <= e_; ++q) {
      if (m_.c[x][q] != 0.0 && m_.c[y][q] != 0.0)
        sum += m_.c[x][q] * m_.c[y][q] * (*this)(q, i, j, k, l);
    }
    return sum;
  }

 private:
  double S(int x, int i, int j) const { return m_.Component(x, i, j); }
  const RandomModel& m_;
  int e_;
};

// Number of observations per distinct key.
template <typename Key, typename KeyOf>
std::map<Key, double> CountBy(int n, KeyOf keyOf) {
  std::map<Key, double> counts;
  for (int i = 0; i < n; ++i) counts[keyOf(i)] += 1.0;
  return counts;
}

// Weights of the female, female-by-repeat and residual components in the variance of a
// male's mean (index 1, 2 and the residual's index of the result).
std::vector<double> MaleMeanWeights(const DesignData& data, int terms) {
  std::vector<double> w(static_cast<std::size_t>(terms) + 1, 0.0);
  const int n = data.observationCount;
  const bool nested = data.kind == ModelKind::Nested;
  const auto& male = data.factorCodes[nested ? 0 : 1];
  const auto& female = data.factorCodes[nested ? 1 : 2];
  const auto perMale = CountBy<int>(n, [&](int i) { return male[i]; });
  // Sum over cells of n_cell^2 / n_male^2, the cell's male taken from its key.
  auto squares = [&](const auto& cells, auto maleOf) {
    double sum = 0.0;
    for (const auto& [key, size] : cells) {
      const double nm = perMale.at(maleOf(key));
      sum += size * size / (nm * nm);
    }
    return sum;
  };
  double inverseSizes = 0.0;
  for (const auto& [code, size] : perMale) inverseSizes += 1.0 / size;

  if (data.kind != ModelKind::BlockedRepeat) {
    const double a = static_cast<double>(perMale.size());
    using Pair = std::pair<int, int>;
    const auto mf = CountBy<Pair>(n, [&](int i) { return Pair{male[i], female[i]}; });
    w[1] = squares(mf, [](const Pair& key) { return key.first; }) / a;
    w[terms] = inverseSizes / a;
    return w;
  }
  const auto& block = data.factorCodes[0];
  const auto& repeat = data.factorCodes[3];
  using K2 = std::tuple<int, int>;
  using K3 = std::tuple<int, int, int>;
  using K4 = std::tuple<int, int, int, int>;
  const auto bm = CountBy<K2>(n, [&](int i) { return K2{block[i], male[i]}; });
  const auto bmf = CountBy<K3>(n, [&](int i) { return K3{block[i], male[i], female[i]}; });
  const auto bmfr = CountBy<K4>(n, [&](int i) {
    return K4{block[i], male[i], female[i], repeat[i]};
  });
  const double aM = squares(bm, [](const auto& key) { return std::get<1>(key); });
  const double aF = squares(bmf, [](const auto& key) { return std::get<1>(key); });
  const double aFR = squares(bmfr, [](const auto& key) { return std::get<1>(key); });
  // The residual enters a male's mean once per observation: sum of 1/n_m.
  const double aE = inverseSizes;
  w[1] = aF / aM;
  w[2] = aFR / aM;
  w[3] = aE / aM;
  return w;
}

// y' C y for a gradient y and the covariance matrix C of the component estimates of trait i.
double FirstOrderVariance(const ProductCovariance& cov, const std::vector<double>& gradient,
                          int i) {
  double sum = 0.0;
  const int count = static_cast<int>(gradient.size());
  for (int x = 0; x < count; ++x) {
    for (int y = 0; y < count; ++y)
      sum += gradient[x] * gradient[y] * cov.Estimates(x, i, i, y, i, i);
  }
  return sum;
}

}  // namespace

std::vector<double*> RowPointers(DenseRows& matrix) {
  std::vector<double*> rows;
  rows.reserve(matrix.size());
  for (auto& row : matrix) rows.push_back(row.data());
  return rows;
}

DenseRows DenseDesignDoubles(const ModelCoding& coding) {
  const auto x = DenseDesignMatrix(coding);
  DenseRows out(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) out[i].assign(x[i].begin(), x[i].end());
  return out;
}

namespace {

int Counting(double** design, double** responses, int rows, int columns, int responseColumns,
             std::vector<int>* pivotColumns, bool cancellationFree) {
  std::vector<double> v(static_cast<std::size_t>(rows > 0 ? rows : 0));
  if (pivotColumns != nullptr) pivotColumns->clear();
  int r = 0;  // independent columns so far: the next pivot row
  for (int g = 0; g < columns; ++g) {
    const double s = ColumnNorm(design, g, r, rows);
    if (s <= kTolerance) continue;
    if (ReflectionVector(design, g, r, rows, s, v, cancellationFree)) {
      for (int c = g; c < columns; ++c)
        Reflect(v, r, rows, [&](int i) -> double& { return design[i][c]; });
      for (int c = 0; c < responseColumns; ++c) {
        Reflect(v, r, rows, [&](int i) -> double& { return responses[i][c]; });
      }
    }
    if (pivotColumns != nullptr) pivotColumns->push_back(g);
    ++r;
  }
  return r;
}

}  // namespace

int CountingHouseholderReduce(double** design, double** responses, int rows, int columns,
                              int responseColumns, std::vector<int>* pivotColumns) {
  return Counting(design, responses, rows, columns, responseColumns, pivotColumns, false);
}

int CancellationFreeHouseholderReduce(double** design, double** responses, int rows, int columns,
                                      int responseColumns, std::vector<int>* pivotColumns) {
  return Counting(design, responses, rows, columns, responseColumns, pivotColumns, true);
}

int GivensHouseholderReduce(double** design, double** responses, int rows, int columns,
                            int responseColumns) {
  auto diagonal = [&](int g) { return g < rows ? design[g][g] : 0.0; };
  std::vector<double> v(static_cast<std::size_t>(rows > 0 ? rows : 0));
  // Reflections with pivot row g for column g.
  for (int g = 0; g < columns && g < rows; ++g) {
    const double s = ColumnNorm(design, g, g, rows);
    if (s <= kTolerance) continue;
    if (!ReflectionVector(design, g, g, rows, s, v)) continue;
    for (int c = g; c < columns; ++c)
      Reflect(v, g, rows, [&](int i) -> double& { return design[i][c]; });
    for (int c = 0; c < responseColumns; ++c) {
      Reflect(v, g, rows, [&](int i) -> double& { return responses[i][c]; });
    }
  }
  // The last independent column, and the dependent ones before it.
  int last = -1;
  for (int g = columns - 1; g >= 0; --g) {
    if (std::fabs(diagonal(g)) > kTolerance) {
      last = g;
      break;
    }
  }
  std::vector<int> dependent;
  for (int i = 0; i < last; ++i) {
    if (std::fabs(diagonal(i)) < kTolerance) dependent.push_back(i);
  }
  int independent = 0;
  for (int g = 0; g < columns; ++g) independent += std::fabs(diagonal(g)) > kTolerance ? 1 : 0;

  // Clear each dependent row by Givens rotations against the later pivot rows.
  auto rotate = [](double& a, double& b, double c, double s) {
    const double oldA = a;
    a = c * a - s * b;
    b = c * b + s * oldA;
  };
  for (const int i : dependent) {
    for (int p = i + 1; p < columns; ++p) {
      if (std::fabs(diagonal(p)) <= kTolerance) continue;
      const double h = std::hypot(design[i][p], design[p][p]);
      const double c = design[p][p] / h;
      const double s = design[i][p] / h;
      for (int col = p; col < columns; ++col) rotate(design[i][col], design[p][col], c, s);
      for (int col = 0; col < responseColumns; ++col)
        rotate(responses[i][col], responses[p][col], c, s);
    }
  }
  // Move the cleared rows below the independent ones, the last first.
  for (auto it = dependent.rbegin(); it != dependent.rend(); ++it) {
    const int i = *it;
    for (int row = i; row < last; ++row) {
      for (int col = i; col < columns; ++col) std::swap(design[row][col], design[row + 1][col]);
      for (int col = 0; col < responseColumns; ++col)
        std::swap(responses[row][col], responses[row + 1][col]);
    }
    --last;
  }
  return independent;
}

void RescanningJacobiEigen(double** a, int n, double** v, double eps) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) v[i][j] = i == j ? 1.0 : 0.0;
  }
  if (n <= 0) return;
  double offDiagonal = 0.0;
  for (int j = 1; j < n; ++j) {
    for (int k = 0; k < j; ++k) offDiagonal += a[j][k] * a[j][k];
  }
  double threshold = std::sqrt(2.0 * offDiagonal);

  auto rotate = [&](int j, int k) {
    const double x = -a[j][k];
    const double y = (a[k][k] - a[j][j]) / 2.0;
    double w = x / std::sqrt(x * x + y * y);
    if (y < 0) w = -w;
    const double s = w / std::sqrt(2.0 * (1.0 + std::sqrt(1.0 - w * w)));
    const double c = std::sqrt(1.0 - s * s);
    const double ajj = a[j][j];
    const double akk = a[k][k];
    const double ajk = a[j][k];
    a[j][j] = s * s * akk + c * c * ajj + w * ajk;
    a[k][k] = c * c * akk + s * s * ajj - w * ajk;
    a[j][k] = a[k][j] = 0.0;
    for (int l = 0; l < n; ++l) {
      if (l == j || l == k) continue;
      const double ajl = a[j][l];
      const double akl = a[k][l];
      a[j][l] = s * akl + c * ajl;
      a[k][l] = c * akl - s * ajl;
      const double alj = a[l][j];
      const double alk = a[l][k];
      a[l][j] = c * alj + s * alk;
      a[l][k] = c * alk - s * alj;
    }
    for (int l = 0; l < n; ++l) {
      const double vlj = v[l][j];
      const double vlk = v[l][k];
      v[l][j] = c * vlj + s * vlk;
      v[l][k] = c * vlk - s * vlj;
    }
  };
  // The first element of the lower triangle above the threshold, scanning row by row.
  auto firstAbove = [&](double t, int& row, int& column) {
    for (int j = 1; j < n; ++j) {
      for (int k = 0; k < j; ++k) {
        if (std::fabs(a[j][k]) > t) {
          row = j;
          column = k;
          return true;
        }
      }
    }
    return false;
  };

  while (true) {
    threshold /= n;
    int j = 0;
    int k = 0;
    while (firstAbove(threshold, j, k)) rotate(j, k);
    if (threshold < eps) break;
  }
  for (int i = n - 1; i >= 1; --i) {
    for (int j = 0; j < i; ++j) {
      if (a[j + 1][j + 1] > a[j][j]) {
        std::swap(a[j][j], a[j + 1][j + 1]);
        for (int l = 0; l < n; ++l) std::swap(v[l][j], v[l][j + 1]);
      }
    }
  }
}

RandomModel ReferenceRandomModel(const DesignData& data, const ModelCoding& coding,
                                 ReferenceReduction reduction) {
  RandomModel model;
  const int n = data.observationCount;
  const int traits = data.traitCount;
  const int p = coding.parameterCount;
  const int terms = static_cast<int>(coding.spec->randomTerms.size());
  const bool repeat = terms == 3;
  const int e = terms;
  const int low = terms - 1;
  model.traits = traits;
  model.randomTerms = terms;

  // Columns of each random term, top first.
  std::vector<EffectBlock> term;
  for (const RandomTermSpec& random : coding.spec->randomTerms)
    term.push_back(coding.Block(random.effect));
  auto first = [&](int x) { return term[x].start; };
  auto end = [&](int x) { return term[x].start + term[x].count; };

  // Ranks of the sub-designs of the leading terms and of the leading terms with each
  // random term added, from the dense integer design.
  const auto integerDesign = DenseDesignMatrix(coding);
  auto rankOfLeadingColumns = [&](int columns) {
    std::vector<std::vector<std::int32_t>> sub(static_cast<std::size_t>(n));
    std::vector<std::int32_t*> rows;
    for (int i = 0; i < n; ++i) {
      sub[i].assign(integerDesign[i].begin(), integerDesign[i].begin() + columns);
      rows.push_back(sub[i].data());
    }
    return IntegerRank(columns, rows.data(), n);
  };
  std::vector<int> bound = {rankOfLeadingColumns(first(0))};
  for (int x = 0; x < terms; ++x) bound.push_back(rankOfLeadingColumns(end(x)));
  const int rL = bound[0];
  const int rTop = bound[terms];
  model.df.resize(static_cast<std::size_t>(terms) + 1);
  for (int x = 0; x < terms; ++x) model.df[x] = bound[x + 1] - bound[x];
  model.df[e] = n - rTop;
  bound.push_back(n);  // the residual block runs to the last row
  const double dfE = model.df[e];

  // The dense reduction.
  DenseRows design = DenseDesignDoubles(coding);
  DenseRows y(static_cast<std::size_t>(n), std::vector<double>(static_cast<std::size_t>(traits)));
  for (int i = 0; i < n; ++i) {
    for (int t = 0; t < traits; ++t) y[i][t] = data.traitValues[t][i];
  }
  Reduce(reduction, design, y, p, traits);

  // Sequential sums of products of each block.
  std::vector<std::vector<double>> sp(static_cast<std::size_t>(terms) + 1);
  for (int q = 0; q <= terms; ++q) {
    sp[q].assign(static_cast<std::size_t>(traits) * traits, 0.0);
    for (int i = 0; i < traits; ++i) {
      for (int j = 0; j < traits; ++j) {
        double sum = 0.0;
        for (int row = bound[q]; row < bound[q + 1]; ++row) sum += y[row][i] * y[row][j];
        sp[q][i * traits + j] = sum;
      }
    }
  }
  auto SP = [&](int q, int i, int j) { return sp[q][i * traits + j]; };

  // Coefficients k and traces t, element by element.
  auto squares = [&](int rowFirst, int rowEnd, int x) {
    double sum = 0.0;
    for (int row = rowFirst; row < rowEnd; ++row) {
      for (int col = first(x); col < end(x); ++col) sum += design[row][col] * design[row][col];
    }
    return sum;
  };
  auto dot = [&](int u, int v, int x) {
    double sum = 0.0;
    for (int col = first(x); col < end(x); ++col) sum += design[u][col] * design[v][col];
    return sum;
  };
  model.k.assign(static_cast<std::size_t>(terms),
                 std::vector<double>(static_cast<std::size_t>(terms), 0.0));
  model.t.assign(
      static_cast<std::size_t>(terms),
      std::vector<std::vector<double>>(static_cast<std::size_t>(terms),
                                       std::vector<double>(static_cast<std::size_t>(terms), 0.0)));
  for (int q = 0; q < terms; ++q) {
    model.k[q][q] = n - squares(0, bound[q], q);
    for (int x = q + 1; x < terms; ++x) model.k[q][x] = squares(bound[q], bound[q + 1], x);
    for (int x = q; x < terms; ++x) {
      for (int z = q; z < terms; ++z) {
        double sum = 0.0;
        for (int u = bound[q]; u < bound[q + 1]; ++u) {
          for (int v = bound[q]; v < bound[q + 1]; ++v) sum += dot(u, v, x) * dot(u, v, z);
        }
        model.t[q][x][z] = sum;
      }
    }
  }

  // Estimator coefficients: each component as a combination of the blocks' sums of
  // products, written out from the back-substitution.
  const double dfM = model.df[0];
  const double dfF = model.df[1];
  const double kMM = model.k[0][0];
  const double kMF = model.k[0][1];
  const double kFF = model.k[1][1];
  model.c.assign(static_cast<std::size_t>(terms) + 1,
                 std::vector<double>(static_cast<std::size_t>(terms) + 1, 0.0));
  auto& c = model.c;
  c[e][e] = 1.0 / dfE;
  if (!repeat) {
    c[1][1] = 1.0 / kFF;
    c[1][e] = -dfF / (dfE * kFF);
    c[0][0] = 1.0 / kMM;
    c[0][1] = -kMF / (kMM * kFF);
    c[0][e] = (dfF * kMF - kFF * dfM) / (dfE * kFF * kMM);
  } else {
    const double dfFR = model.df[2];
    const double kMFR = model.k[0][2];
    const double kFFR = model.k[1][2];
    const double kFRFR = model.k[2][2];
    c[2][2] = 1.0 / kFRFR;
    c[2][e] = -dfFR / (dfE * kFRFR);
    c[1][1] = 1.0 / kFF;
    c[1][2] = -kFFR / (kFRFR * kFF);
    c[1][e] = (dfFR * kFFR - kFRFR * dfF) / (kFRFR * kFF * dfE);
    c[0][0] = 1.0 / kMM;
    c[0][1] = -kMF / (kFF * kMM);
    c[0][2] = (kMF * kFFR - kFF * kMFR) / (kFRFR * kFF * kMM);
    c[0][e] = (kFRFR * kMF * dfF - kFRFR * kFF * dfM + dfFR * kFF * kMFR - dfFR * kFFR * kMF) /
              (dfE * kFRFR * kFF * kMM);
  }

  // Components of every pair of traits, by back-substitution from the residual up.
  const std::size_t tt = static_cast<std::size_t>(traits) * traits;
  model.component.assign(static_cast<std::size_t>(terms) + 1, std::vector<double>(tt, 0.0));
  for (int i = 0; i < traits; ++i) {
    for (int j = 0; j < traits; ++j) {
      const double sE = SP(e, i, j) / dfE;
      double sFR = 0.0;
      double sF = 0.0;
      double sM = 0.0;
      if (repeat) {
        sFR = (SP(2, i, j) - model.df[2] * sE) / model.k[2][2];
        sF = (SP(1, i, j) - dfF * sE - model.k[1][2] * sFR) / kFF;
        sM = (SP(0, i, j) - dfM * sE - kMF * sF - model.k[0][2] * sFR) / kMM;
        model.component[2][i * traits + j] = sFR;
      } else {
        sF = (SP(1, i, j) - dfF * sE) / kFF;
        sM = (SP(0, i, j) - dfM * sE - kMF * sF) / kMM;
      }
      model.component[0][i * traits + j] = sM;
      model.component[1][i * traits + j] = sF;
      model.component[e][i * traits + j] = sE;
    }
  }

  // Sampling variances of the components.
  const ProductCovariance cov(model);
  model.componentVar.assign(static_cast<std::size_t>(terms), std::vector<double>(tt, 0.0));
  for (int x = 0; x < terms; ++x) {
    for (int i = 0; i < traits; ++i) {
      for (int j = 0; j < traits; ++j)
        model.componentVar[x][i * traits + j] = cov.Estimates(x, i, j, x, i, j);
    }
  }
  model.componentVarE.resize(static_cast<std::size_t>(traits));
  for (int i = 0; i < traits; ++i) model.componentVarE[i] = cov(e, i, i, i, i) / (dfE * dfE);

  // F test of the lowest random term against the residual.
  model.testF.assign(static_cast<std::size_t>(traits),
                     std::vector<double>(static_cast<std::size_t>(terms), kNaN));
  model.testP = model.testF;
  for (int i = 0; i < traits; ++i) {
    const double f = (SP(low, i, i) / model.df[low]) / (SP(e, i, i) / dfE);
    model.testF[i][low] = f;
    model.testP[i][low] = FUpperTail(model.df[low], model.df[e], f);
  }

  // Exact tests of the terms above it, after the equalising transformation
  //   w = Gs^-1/2 y_S + V (I/lambda_min - Lambda^-1)^1/2 V' e,   Xs = Gs^-1/2 S,
  // with Gs = V Lambda V' the Gram matrix of the random rows S over the lowest term's
  // columns and e the first s residual rows.
  const int s = rTop - rL;
  if (traits > 0 && s > 0 && model.df[e] >= s) {
    DenseRows gs(static_cast<std::size_t>(s), std::vector<double>(static_cast<std::size_t>(s)));
    for (int u = 0; u < s; ++u) {
      for (int v = 0; v < s; ++v) gs[u][v] = dot(rL + u, rL + v, low);
    }
    DenseRows vectors(static_cast<std::size_t>(s),
                      std::vector<double>(static_cast<std::size_t>(s)));
    auto gsRows = RowPointers(gs);
    auto vectorRows = RowPointers(vectors);
    RescanningJacobiEigen(gsRows.data(), s, vectorRows.data(), 1e-6);
    const double smallest = gs[s - 1][s - 1];
    // V f(Lambda) V' for a function f of the eigenvalues.
    auto function = [&](auto f) {
      DenseRows out(static_cast<std::size_t>(s),
                    std::vector<double>(static_cast<std::size_t>(s), 0.0));
      for (int k = 0; k < s; ++k) {
        const double fk = f(gs[k][k]);
        for (int u = 0; u < s; ++u) {
          for (int v = 0; v < s; ++v) out[u][v] += vectors[u][k] * fk * vectors[v][k];
        }
      }
      return out;
    };
    const DenseRows inverseRoot = function([](double l) { return 1.0 / std::sqrt(l); });
    const DenseRows equaliser =
        function([&](double l) { return std::sqrt(1.0 / smallest - 1.0 / l); });
    DenseRows w(static_cast<std::size_t>(s),
                std::vector<double>(static_cast<std::size_t>(traits), 0.0));
    for (int u = 0; u < s; ++u) {
      for (int i = 0; i < traits; ++i) {
        for (int v = 0; v < s; ++v)
          w[u][i] += inverseRoot[u][v] * y[rL + v][i] + equaliser[u][v] * y[rTop + v][i];
      }
    }
    // Reduces Gs^-1/2 S over the given terms' columns together with w and tests the
    // numerator rows against the rows after them.
    auto exactTest = [&](std::vector<int> testTerms, int numFirst, int numDf, int denDf,
                         int target) {
      std::vector<int> columns;
      for (const int x : testTerms) {
        for (int col = first(x); col < end(x); ++col) columns.push_back(col);
      }
      const int m = static_cast<int>(columns.size());
      DenseRows xs(static_cast<std::size_t>(s),
                   std::vector<double>(static_cast<std::size_t>(m), 0.0));
      for (int u = 0; u < s; ++u) {
        for (int a = 0; a < m; ++a) {
          for (int v = 0; v < s; ++v) xs[u][a] += inverseRoot[u][v] * design[rL + v][columns[a]];
        }
      }
      DenseRows responses = w;
      Reduce(reduction, xs, responses, m, traits);
      for (int i = 0; i < traits; ++i) {
        double numerator = 0.0;
        double denominator = 0.0;
        for (int row = numFirst; row < numFirst + numDf; ++row)
          numerator += responses[row][i] * responses[row][i];
        for (int row = numFirst + numDf; row < numFirst + numDf + denDf; ++row) {
          denominator += responses[row][i] * responses[row][i];
        }
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

  // Heritabilities Hi = 4 sM / (sum of all components) and Hm = sM / (sM + sum of the
  // weighted other components), with first-order (delta-method) variances g' C g from the
  // gradient g of each ratio and the covariance matrix C of the component estimates.
  const std::vector<double> weight = MaleMeanWeights(data, terms);
  model.hi.resize(static_cast<std::size_t>(traits));
  model.hiError.resize(static_cast<std::size_t>(traits));
  model.hm.resize(static_cast<std::size_t>(traits));
  model.hmError.resize(static_cast<std::size_t>(traits));
  for (int i = 0; i < traits; ++i) {
    const double sM = model.Component(0, i, i);
    double total = 0.0;
    double d = sM;
    for (int x = 0; x <= terms; ++x) total += model.Component(x, i, i);
    for (int x = 1; x <= terms; ++x) d += weight[x] * model.Component(x, i, i);
    std::vector<double> gradientHi(static_cast<std::size_t>(terms) + 1,
                                   -4.0 * sM / (total * total));
    gradientHi[0] += 4.0 / total;
    std::vector<double> gradientHm(static_cast<std::size_t>(terms) + 1);
    for (int x = 1; x <= terms; ++x) gradientHm[x] = -sM * weight[x] / (d * d);
    gradientHm[0] = 1.0 / d - sM / (d * d);
    model.hi[i] = 4.0 * sM / total;
    model.hiError[i] = std::sqrt(FirstOrderVariance(cov, gradientHi, i));
    model.hm[i] = sM / d;
    model.hmError[i] = std::sqrt(FirstOrderVariance(cov, gradientHm, i));
  }
  return model;
}

std::vector<CorrelationMatrix> ReferenceCorrelations(const RandomModel& model) {
  const int traits = model.traits;
  const ProductCovariance cov(model);
  std::vector<CorrelationMatrix> out;
  for (int x = 0; x < model.randomTerms; ++x) {
    CorrelationMatrix matrix;
    matrix.correlation.assign(static_cast<std::size_t>(traits) * traits, kNaN);
    matrix.error = matrix.correlation;
    for (int i = 0; i < traits; ++i) {
      for (int j = 0; j < traits; ++j) {
        if (i == j) continue;
        const double sii = model.Component(x, i, i);
        const double sjj = model.Component(x, j, j);
        const double sij = model.Component(x, i, j);
        double r = sij / std::sqrt(sii * sjj);
        if (r > 1) r = 1;
        if (r < -1) r = -1;
        // First-order variance of s_ij / sqrt(s_ii s_jj), taken relative to r^2 so that a
        // clamped r carries its clamped value.
        const double relative = cov.Estimates(x, i, j, x, i, j) / (sij * sij) +
                                cov.Estimates(x, i, i, x, i, i) / (4 * sii * sii) +
                                cov.Estimates(x, j, j, x, j, j) / (4 * sjj * sjj) -
                                cov.Estimates(x, i, j, x, i, i) / (sij * sii) -
                                cov.Estimates(x, i, j, x, j, j) / (sij * sjj) +
                                cov.Estimates(x, i, i, x, j, j) / (2 * sii * sjj);
        matrix.correlation[i * traits + j] = r;
        matrix.error[i * traits + j] = std::sqrt(r * r * relative);
      }
    }
    out.push_back(std::move(matrix));
  }
  return out;
}

}  // namespace quorvel::testing
