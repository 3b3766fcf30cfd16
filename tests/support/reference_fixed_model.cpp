// Test support: the fixed-model analysis by dense normal equations, one constraint system
// per hypothesis, written step by step for clarity rather than speed.
//
// Every test is a restricted least-squares fit: with constraint rows C (the restrictions
// stacked over the hypothesis rows), G = (X'X + C'C)^-1 and Cq a basis of the rows of C,
// the residual sum of squares under C b = 0 is
//   SSH = y'y - c'G c + (Cq G c)' (Cq G Cq')^-1 (Cq G c)
// (Lagrange form of restricted least squares, Searle, Linear Models, 1971, section 3.6),
// and the hypothesis has q + rank(X) - p degrees of freedom, q = rank(C).
#include "tests/support/reference_fixed_model.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/f_distribution.h"
#include "numeric/matrix.h"
#include "tests/support/reference_inverse.h"

namespace quorvel::testing {
namespace {

// A dense matrix held as an array of row pointers over one block of storage.
template <typename T>
class Dense {
 public:
  Dense(int rows, int cols)
      : rows_(rows),
        cols_(cols),
        storage_(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), T{}),
        pointers_(static_cast<std::size_t>(rows)) {
    for (int i = 0; i < rows; ++i)
      pointers_[i] = storage_.data() + static_cast<std::size_t>(i) * cols;
  }
  T* operator[](int i) { return pointers_[i]; }
  const T* operator[](int i) const { return pointers_[i]; }
  T** Pointers() { return pointers_.data(); }
  int Rows() const { return rows_; }
  int Cols() const { return cols_; }

 private:
  int rows_;
  int cols_;
  std::vector<T> storage_;
  std::vector<T*> pointers_;
};

using IntMatrix = Dense<std::int32_t>;
using RealMatrix = Dense<double>;

IntMatrix ToDense(const std::vector<std::vector<std::int32_t>>& rows, int cols) {
  IntMatrix m(static_cast<int>(rows.size()), cols);
  for (int i = 0; i < m.Rows(); ++i) std::copy(rows[i].begin(), rows[i].end(), m[i]);
  return m;
}

int RankOf(IntMatrix m) { return IntegerRank(m.Cols(), m.Pointers(), m.Rows()); }

// Everything a test needs from the fit of one trait.
struct Fit {
  int p = 0;
  const IntMatrix* r = nullptr;
  std::vector<double> c;  // X'y
  double yy = 0;          // y'y
  int modelRank = 0;
  double errorSS = 0;
  int errorDF = 0;
  std::FILE* diag = nullptr;
};

struct TestOutcome {
  double ssh = 0;
  int df = 0;
  double f = 0;
  double p = 0;
};

// The residual sum of squares under R b = 0 and the hypothesis rows `extra`, with G the
// inverse of X'X + C'C (C = R stacked over `extra`); `df` gets q + rank(X) - p.
TestOutcome ConstrainedFit(const Fit& fit, const std::vector<std::vector<std::int32_t>>& extra,
                           const RealMatrix& g) {
  const int p = fit.p;
  const int r = fit.r->Rows();
  const int rows = r + static_cast<int>(extra.size());

  // C = R stacked over the hypothesis rows; IntegerRank leaves a basis in its first q rows.
  IntMatrix cq(rows, p);
  for (int i = 0; i < r; ++i) std::copy((*fit.r)[i], (*fit.r)[i] + p, cq[i]);
  for (std::size_t h = 0; h < extra.size(); ++h) {
    std::copy(extra[h].begin(), extra[h].end(), cq[r + static_cast<int>(h)]);
  }
  const int q = IntegerRank(p, cq.Pointers(), rows);

  // E = Cq G Cq', inverted in place.
  RealMatrix gc(p, q);  // G Cq'
  for (int i = 0; i < p; ++i) {
    for (int a = 0; a < q; ++a) {
      double sum = 0;
      for (int k = 0; k < p; ++k) sum += g[i][k] * cq[a][k];
      gc[i][a] = sum;
    }
  }
  RealMatrix e(q, q);
  for (int a = 0; a < q; ++a) {
    for (int b = 0; b <= a; ++b) {
      double sum = 0;
      for (int k = 0; k < p; ++k) sum += cq[a][k] * gc[k][b];
      e[a][b] = sum;
      e[b][a] = sum;
    }
  }
  InvertSymmetric(e.Pointers(), q, fit.diag);

  // b0 = G c, v = Cq b0, SSH = y'y - b0'c + v'E^-1 v.
  std::vector<double> b0(static_cast<std::size_t>(p), 0.0);
  for (int i = 0; i < p; ++i) {
    for (int k = 0; k < p; ++k) b0[i] += g[i][k] * fit.c[k];
  }
  std::vector<double> v(static_cast<std::size_t>(q), 0.0);
  for (int a = 0; a < q; ++a) {
    for (int k = 0; k < p; ++k) v[a] += cq[a][k] * b0[k];
  }
  double ssh = fit.yy;
  for (int k = 0; k < p; ++k) ssh -= b0[k] * fit.c[k];
  for (int a = 0; a < q; ++a) {
    for (int b = 0; b < q; ++b) ssh += v[a] * e[a][b] * v[b];
  }
  TestOutcome outcome;
  outcome.ssh = ssh;
  outcome.df = q + fit.modelRank - p;
  return outcome;
}

// The F statistic and its tail probability; `singleRow` tests give F 0 and p 1 at DF 0.
void Finish(const Fit& fit, TestOutcome& t, bool singleRow) {
  if (singleRow && t.df == 0) {
    t.f = 0;
    t.p = 1;
    return;
  }
  t.f = ((t.ssh - fit.errorSS) / t.df) / (fit.errorSS / fit.errorDF);
  t.p = FUpperTail(t.df, fit.errorDF, t.f);
}

// Hypothesis: every parameter of the block [start, start + count) is 0. `a` is the plain
// normal matrix.
TestOutcome TestEffect(const Fit& fit, const RealMatrix& a, int start, int count) {
  const int p = fit.p;
  std::vector<std::vector<std::int32_t>> h(
      static_cast<std::size_t>(count), std::vector<std::int32_t>(static_cast<std::size_t>(p), 0));
  for (int k = 0; k < count; ++k) h[k][start + k] = 1;

  // G = (A + H'H)^-1: H'H adds 1 to the diagonal of the block.
  RealMatrix g(p, p);
  for (int i = 0; i < p; ++i) std::copy(a[i], a[i] + p, g[i]);
  for (int k = start; k < start + count; ++k) g[k][k] += 1.0;
  InvertSymmetric(g.Pointers(), p, fit.diag);

  TestOutcome t = ConstrainedFit(fit, h, g);
  Finish(fit, t, false);
  return t;
}

// Hypothesis b_k = 0, with G = (A + e_k e_k')^-1 from A^-1 by the rank-one update of
// Sherman and Morrison.
TestOutcome TestParameter(const Fit& fit, const RealMatrix& inverse, int k) {
  const int p = fit.p;
  RealMatrix g(p, p);
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j <= i; ++j) {
      g[i][j] = inverse[i][j] - inverse[i][k] * inverse[j][k] / (1 + inverse[k][k]);
      g[j][i] = g[i][j];
    }
  }
  std::vector<std::int32_t> d(static_cast<std::size_t>(p), 0);
  d[k] = 1;
  TestOutcome t = ConstrainedFit(fit, {d}, g);
  Finish(fit, t, true);
  return t;
}

// Hypothesis b_i = b_j, with G = (A + d d')^-1 for d = e_i - e_j, likewise.
TestOutcome TestParameterDifference(const Fit& fit, const RealMatrix& inverse, int i, int j) {
  const int p = fit.p;
  const double scale = 1 + inverse[i][i] + inverse[j][j] - 2 * inverse[i][j];
  RealMatrix g(p, p);
  for (int a = 0; a < p; ++a) {
    for (int e = 0; e <= a; ++e) {
      g[a][e] =
          inverse[a][e] - (inverse[a][i] - inverse[a][j]) * (inverse[e][i] - inverse[e][j]) / scale;
      g[e][a] = g[a][e];
    }
  }
  std::vector<std::int32_t> d(static_cast<std::size_t>(p), 0);
  d[i] = 1;
  d[j] = -1;
  TestOutcome t = ConstrainedFit(fit, {d}, g);
  Finish(fit, t, true);
  return t;
}

// The normal matrix A = X'X + R'R, from B = X'X.
void FillNormalMatrix(const RealMatrix& b, const IntMatrix& r, RealMatrix& a) {
  const int p = b.Rows();
  for (int k = 0; k < p; ++k) {
    for (int l = 0; l <= k; ++l) {
      double sum = b[k][l];
      for (int m = 0; m < r.Rows(); ++m) sum += static_cast<double>(r[m][k]) * r[m][l];
      a[k][l] = sum;
      a[l][k] = sum;
    }
  }
}

}  // namespace

ReferenceRanks ReferenceDesignRanks(const ModelCoding& coding) {
  const int p = coding.parameterCount;
  const auto x = DenseDesignMatrix(coding);
  const auto r = DenseRestrictionMatrix(coding);
  auto stacked = x;
  stacked.insert(stacked.end(), r.begin(), r.end());
  return {RankOf(ToDense(x, p)), RankOf(ToDense(r, p)), RankOf(ToDense(stacked, p))};
}

FixedTraitResult ReferenceFixedFit(const ModelCoding& coding, std::span<const double> y,
                                   std::FILE* diag, ReferenceTests* tests) {
  const int n = coding.observationCount;
  const int p = coding.parameterCount;
  const IntMatrix x = ToDense(DenseDesignMatrix(coding), p);
  const IntMatrix r = ToDense(DenseRestrictionMatrix(coding), p);

  Fit fit;
  fit.p = p;
  fit.r = &r;
  fit.diag = diag;

  // B = X'X and A = X'X + R'R.
  RealMatrix b(p, p);
  for (int k = 0; k < p; ++k) {
    for (int l = 0; l <= k; ++l) {
      double sum = 0;
      for (int i = 0; i < n; ++i) sum += static_cast<double>(x[i][k]) * x[i][l];
      b[k][l] = sum;
      b[l][k] = sum;
    }
  }
  RealMatrix a(p, p);
  FillNormalMatrix(b, r, a);

  // c = X'y, A^-1, b = A^-1 c, errorSS = y'y - b'c.
  fit.c.assign(static_cast<std::size_t>(p), 0.0);
  for (int k = 0; k < p; ++k) {
    for (int i = 0; i < n; ++i) fit.c[k] += x[i][k] * y[i];
  }
  InvertSymmetric(a.Pointers(), p, diag);
  std::vector<double> estimates(static_cast<std::size_t>(p), 0.0);
  for (int k = 0; k < p; ++k) {
    for (int l = 0; l < p; ++l) estimates[k] += a[k][l] * fit.c[l];
  }
  double sumY = 0;
  for (int i = 0; i < n; ++i) {
    fit.yy += y[i] * y[i];
    sumY += y[i];
  }
  double bc = 0;
  for (int k = 0; k < p; ++k) bc += estimates[k] * fit.c[k];
  fit.errorSS = fit.yy - bc;

  fit.modelRank = RankOf(x);
  fit.errorDF = n - fit.modelRank;
  const double errorMS = fit.errorSS / fit.errorDF;

  FixedTraitResult result;
  result.errorSS = fit.errorSS;
  result.errorDF = fit.errorDF;
  result.errorMS = errorMS;

  // Standard errors from the sandwich A^-1 B A^-1.
  result.estimates.resize(static_cast<std::size_t>(p));
  for (int k = 0; k < p; ++k) {
    double variance = 0;
    for (int l = 0; l < p; ++l) {
      for (int m = 0; m < p; ++m) variance += a[k][l] * b[l][m] * a[m][k];
    }
    // A variance that vanishes in exact arithmetic (a parameter fixed by the restrictions)
    // can come out a rounding error below zero; its standard error is 0, not a NaN.
    result.estimates[k].estimate = estimates[k];
    result.estimates[k].stdError = std::sqrt(errorMS * std::max(variance, 0.0));
  }

  // Test of the model, with A back in its plain form.
  FillNormalMatrix(b, r, a);
  result.totalDF = n - 1;
  result.totalSS = fit.yy - sumY * sumY / n;
  result.modelSS = result.totalSS - fit.errorSS;
  result.modelDF = fit.modelRank - 1;
  result.modelMS = result.modelSS / result.modelDF;
  result.modelF = (result.modelSS * fit.errorDF) / (fit.errorSS * result.modelDF);
  result.modelP = FUpperTail(result.modelDF, fit.errorDF, result.modelF);

  // Factor tests.
  for (const TestedFactorSpec& tested : coding.spec->testedFactors) {
    const EffectBlock* block = &coding.Block(tested.effect);
    const TestOutcome t = TestEffect(fit, a, block->start, block->count);
    FactorTest factor;
    factor.label = tested.label;
    factor.df = t.df;
    factor.ss = t.ssh - fit.errorSS;
    factor.ms = factor.ss / t.df;
    factor.f = t.f;
    factor.p = t.p;
    result.factors.push_back(factor);
  }

  // Single parameters, with A inverted again.
  InvertSymmetric(a.Pointers(), p, diag);
  ReferenceTests details;
  for (int k = 0; k < p; ++k) {
    const TestOutcome t = TestParameter(fit, a, k);
    details.parameterDF.push_back(t.df);
    ParameterEstimate& e = result.estimates[k];
    e.t = std::sqrt(std::max(t.f, 0.0));
    if (e.estimate < 0) e.t = -e.t;
    e.p = t.p;
  }

  // Differences between males: row male i against each earlier column male j.
  const EffectBlock& male = MaleBlock(coding);
  const int m = male.count;
  result.maleT.assign(m > 1 ? MalePairIndex(m, 0) : 0, 0.0);
  result.maleSignificance.assign(result.maleT.size(), Significance::None);
  for (int i = 1; i < m; ++i) {
    for (int j = 0; j < i; ++j) {
      const int ki = male.start + i;
      const int kj = male.start + j;
      const TestOutcome t = TestParameterDifference(fit, a, ki, kj);
      details.malePairDF.push_back(t.df);
      details.malePairP.push_back(t.p);
      double value = std::sqrt(std::max(t.f, 0.0));
      if (estimates[ki] - estimates[kj] < 0) value = -value;
      const std::size_t pair = MalePairIndex(i, j);
      result.maleT[pair] = value;
      result.maleSignificance[pair] = t.p < 0.01    ? Significance::One
                                      : t.p <= 0.05 ? Significance::Five
                                                    : Significance::None;
    }
  }
  if (tests != nullptr) *tests = std::move(details);
  return result;
}

}  // namespace quorvel::testing
