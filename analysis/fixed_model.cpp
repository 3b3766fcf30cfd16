// Fixed-model analysis: least squares under sum-to-zero restrictions.
//
// Notation: X the 0/1 design (N x p), R the restriction rows, A = X'X + R'R, c = X'y.
// The estimates are b = A^-1 c and errorSS = y'y - b'c. Every hypothesis test adds
// constraint rows C to the restrictions and needs the least-squares fit of y under
// C b = 0; with G = (X'X + C'C)^-1 and Cq a basis of the rows of C, its residual sum of
// squares is
//   SSH = y'y - c'G c + (Cq G c)' (Cq G Cq')^-1 (Cq G c)
// (the Lagrange form of restricted least squares, e.g. Searle, Linear Models, 1971,
// section 3.6). Three ways of evaluating it keep the cost low without changing the value:
//  - A factor test sets a whole effect block B to zero. Then G and Cq act only on the
//    other parameters J, and SSH is the formula above with A[J,J] and the restriction
//    rows restricted to J.
//  - A single-parameter or male-difference test adds one row d. With P the inverse
//    restricted to R b = 0, P = A^-1 - A^-1 Rq'(Rq A^-1 Rq')^-1 Rq A^-1, and b_R = P c,
//    RSS_R = y'y - c'P c, adding d gives SSH = RSS_R + (d'b_R)^2 / (d'P d) when d is not
//    in the row space of R, and SSH = RSS_R otherwise (the row adds no constraint).
//  - Standard errors use the sandwich A^-1 X'X A^-1 = A^-1 - (A^-1 R')(R A^-1).
// Degrees of freedom come from exact integer ranks.
#include "analysis/fixed_model.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "analysis/arrow_cholesky.h"
#include "analysis/report_text.h"
#include "analysis/row_space.h"
#include "numeric/f_distribution.h"
#include "numeric/matrix.h"

namespace quorvel {
namespace {

// p-value classes of F(1, dfE) statistics without evaluating the tail for each: the
// critical values of 0.01 and 0.05 are bracketed once by bisection on FUpperTail itself,
// and only statistics within a hair of a bracket are evaluated exactly.
class SignificanceOfOneDF {
 public:
  explicit SignificanceOfOneDF(int errorDF) : errorDF_(errorDF) {
    usable_ = errorDF > 0;
    if (usable_) usable_ = Bracket(0.01, one_) && Bracket(0.05, five_);
  }

  Significance Classify(double f) const {
    if (usable_ && std::isfinite(f)) {
      const bool belowOne = f < one_.low * (1 - kMargin);   // p > 0.01 for sure
      const bool aboveOne = f > one_.high * (1 + kMargin);  // p < 0.01 for sure
      const bool belowFive = f < five_.low * (1 - kMargin);
      const bool aboveFive = f > five_.high * (1 + kMargin);
      if (aboveOne) return Significance::One;
      if (belowOne && aboveFive) return Significance::Five;
      if (belowFive) return Significance::None;
    }
    return ClassOf(FUpperTail(1, errorDF_, f));
  }

  static Significance ClassOf(double p) {
    if (p < 0.01) return Significance::One;
    if (p <= 0.05) return Significance::Five;
    return Significance::None;
  }

 private:
  struct Range {
    double low = 0;   // FUpperTail(low) >= alpha
    double high = 0;  // FUpperTail(high) < alpha
  };
  static constexpr double kMargin = 1e-8;

  bool Bracket(double alpha, Range& range) const {
    double high = 1.0;
    int guard = 0;
    while (!(FUpperTail(1, errorDF_, high) < alpha)) {
      high *= 2;
      if (++guard > 200) return false;
    }
    double low = 0.0;
    for (int k = 0; k < 200 && high - low > 1e-13 * high; ++k) {
      const double mid = 0.5 * (low + high);
      if (FUpperTail(1, errorDF_, mid) < alpha) {
        high = mid;
      } else {
        low = mid;
      }
    }
    range = {low, high};
    return true;
  }

  int errorDF_;
  bool usable_ = false;
  Range one_, five_;
};

// A solver for a principal submatrix A[J,J] of the normal matrix together with its
// restriction rows restricted to J, as needed by the restricted fit on J.
struct RestrictedSystem {
  std::vector<int> columns;          // J, ascending parameter indices
  ArrowCholesky factor;              // of A[J,J]
  bool ok = true;
  int restrictionRank = 0;           // rank of the restriction rows on J
  std::vector<int> basisRows;        // indices of the independent restriction rows
  std::vector<std::vector<int>> basis;  // those rows on local indices
  std::vector<double> basisGram;     // Cholesky factor of Rq A^-1 Rq' (q x q)
  std::vector<std::vector<double>> solvedBasis;  // A[J,J]^-1 Rq' by column

  // The constrained residual part: returns c'G c - (Rq G c)'E^-1(Rq G c) with G the inverse
  // on J; g receives G c.
  double ReducedQuadratic(std::span<const double> c, std::vector<double>& g) const {
    g.assign(c.begin(), c.end());
    factor.Solve(g);
    double quadratic = 0.0;
    for (std::size_t k = 0; k < g.size(); ++k) quadratic += c[k] * g[k];
    const int q = static_cast<int>(basis.size());
    if (q == 0) return quadratic;
    std::vector<double> v(static_cast<std::size_t>(q));
    for (int a = 0; a < q; ++a) {
      double sum = 0.0;
      for (const int k : basis[a]) sum += g[k];
      v[a] = sum;
    }
    // z = L_E^-1 v; the correction is z'z.
    for (int a = 0; a < q; ++a) {
      const double* row = basisGram.data() + static_cast<std::size_t>(a) * q;
      double value = v[a];
      for (int k = 0; k < a; ++k) value -= row[k] * v[k];
      v[a] = value / row[a];
    }
    double correction = 0.0;
    for (const double z : v) correction += z * z;
    return quadratic - correction;
  }
};

// Builds the solver on the parameters `columns` (ascending) of the design.
// `space` is the row space of the restriction rows restricted to the same parameters.
void BuildRestrictedSystem(const ModelCoding& coding, const DesignCells& cells,
                           const std::vector<int>& columns, const RowSpace& space,
                           RestrictedSystem& system, std::FILE* diag) {
  const int p = coding.parameterCount;
  system.columns = columns;
  const EffectBlock& bottom = coding.blocks.back();
  const ArrowMatrix a = AssembleNormalMatrix(cells, coding.restrictionRows, p, columns,
                                             bottom.start, bottom.start + bottom.count);
  system.ok = system.factor.Factor(a);
  if (!system.ok) {
    std::fputs("fail\n", diag);
    return;
  }

  std::vector<bool> keep(static_cast<std::size_t>(p), false);
  std::vector<int> local(static_cast<std::size_t>(p), -1);
  for (std::size_t k = 0; k < columns.size(); ++k) {
    keep[columns[k]] = true;
    local[columns[k]] = static_cast<int>(k);
  }
  system.restrictionRank = space.Rank();
  system.basisRows = space.BasisRows();
  for (const int r : space.BasisRows()) {
    std::vector<int> row;
    for (const int column : coding.restrictionRows[r]) {
      if (keep[column]) row.push_back(local[column]);
    }
    system.basis.push_back(std::move(row));
  }

  const int q = static_cast<int>(system.basis.size());
  const std::size_t n = columns.size();
  system.solvedBasis.assign(static_cast<std::size_t>(q), std::vector<double>(n, 0.0));
  for (int a2 = 0; a2 < q; ++a2) {
    for (const int k : system.basis[a2]) system.solvedBasis[a2][k] = 1.0;
    system.factor.Solve(system.solvedBasis[a2]);
  }
  system.basisGram.assign(static_cast<std::size_t>(q) * q, 0.0);
  for (int a1 = 0; a1 < q; ++a1) {
    for (int a2 = 0; a2 <= a1; ++a2) {
      double sum = 0.0;
      for (const int k : system.basis[a1]) sum += system.solvedBasis[a2][k];
      system.basisGram[static_cast<std::size_t>(a1) * q + a2] = sum;
      system.basisGram[static_cast<std::size_t>(a2) * q + a1] = sum;
    }
  }
  if (!DenseCholesky(system.basisGram, q)) {
    system.ok = false;
    std::fputs("fail\n", diag);
  }
}

// The parameters outside the block `removed` (all of them when it is null), as a mask.
std::vector<bool> AllColumnsExcept(int p, const EffectBlock* removed) {
  std::vector<bool> keep(static_cast<std::size_t>(p), true);
  if (removed != nullptr) {
    std::fill(keep.begin() + removed->start, keep.begin() + removed->start + removed->count, false);
  }
  return keep;
}

std::vector<int> ColumnsOf(const std::vector<bool>& keep) {
  std::vector<int> columns;
  for (std::size_t k = 0; k < keep.size(); ++k) {
    if (keep[k]) columns.push_back(static_cast<int>(k));
  }
  return columns;
}

}  // namespace

const EffectBlock& MaleBlock(const ModelCoding& coding) { return *coding.Find(Effect::Male); }

struct FixedModel::Impl {
  const ModelCoding& coding;
  const DesignCells& cells;
  int p = 0;
  int n = 0;
  int modelRank = 0;
  int restrictionRank = 0;

  RestrictedSystem full;                // A on all parameters, with the basis of R
  std::vector<double> diagV;            // diag of A^-1 X'X A^-1
  std::vector<double> diagP;            // diag of the restricted inverse P
  std::vector<double> basisSolved;      // U = A^-1 Rq' L_E^-T, row-major p x q
  std::vector<bool> parameterInSpace;   // e_k in the row space of R

  // Male differences.
  int maleStart = 0;
  int maleCount = 0;
  std::vector<double> maleP;            // P on the male block, row-major
  std::vector<bool> pairInSpace;        // e_i - e_j in the row space of R (lower triangle)

  struct Factor {
    const char* label;
    int df = 0;
    RestrictedSystem system;
  };
  std::vector<Factor> factors;

  Impl(const ModelCoding& c, const DesignCells& d) : coding(c), cells(d) {}
};

FixedModel::FixedModel(const ModelCoding& coding, const DesignCells& cells, std::FILE* diag)
    : impl_(std::make_unique<Impl>(coding, cells)) {
  Impl& m = *impl_;
  m.p = coding.parameterCount;
  m.n = coding.observationCount;
  const int p = m.p;

  // Ranks: the design's rank is that of its distinct rows.
  std::vector<SparseRow> designRows;
  designRows.reserve(cells.columns.size());
  for (const auto& columns : cells.columns) {
    SparseRow row;
    for (const int column : columns) row.push_back({column, 1});
    designRows.push_back(std::move(row));
  }
  m.modelRank = SparseIntegerRank(p, std::move(designRows));

  const RowSpace space(p, coding.restrictionRows);
  BuildRestrictedSystem(coding, cells, ColumnsOf(AllColumnsExcept(p, nullptr)), space, m.full,
                        diag);
  m.restrictionRank = m.full.restrictionRank;
  const int q = static_cast<int>(m.full.basis.size());

  // Columns a_k of A^-1: the sandwich variance (A^-1 X'X A^-1)_kk = a_k' X'X a_k is a sum of
  // squares over the cells, the diagonal of A^-1 enters the restricted inverse, and the
  // male block is kept for the differences.
  const EffectBlock& male = MaleBlock(coding);
  m.maleStart = male.start;
  m.maleCount = male.count;
  std::vector<double> diagInverse(static_cast<std::size_t>(p), std::nan(""));
  std::vector<double> maleInverse(static_cast<std::size_t>(m.maleCount) * m.maleCount, 0.0);
  m.diagV.assign(static_cast<std::size_t>(p), std::nan(""));
  std::vector<double> column(static_cast<std::size_t>(p));
  for (int k = 0; k < p && m.full.ok; ++k) {
    std::fill(column.begin(), column.end(), 0.0);
    column[k] = 1.0;
    m.full.factor.Solve(column);
    diagInverse[k] = column[k];
    double sandwich = 0.0;
    for (std::size_t cell = 0; cell < cells.counts.size(); ++cell) {
      double projection = 0.0;
      for (const int c : cells.columns[cell]) projection += column[c];
      sandwich += cells.counts[cell] * projection * projection;
    }
    m.diagV[k] = sandwich;
    if (k >= m.maleStart && k < m.maleStart + m.maleCount) {
      for (int i = 0; i < m.maleCount; ++i) {
        maleInverse[static_cast<std::size_t>(i) * m.maleCount + (k - m.maleStart)] =
            column[m.maleStart + i];
      }
    }
  }

  // U = A^-1 Rq' L_E^-T, row by row: row k of A^-1 Rq' solved with L_E. The restricted
  // inverse is P = A^-1 - U U'.
  m.basisSolved.assign(static_cast<std::size_t>(p) * q, 0.0);
  m.diagP.assign(static_cast<std::size_t>(p), 0.0);
  for (int k = 0; k < p; ++k) {
    double* row = m.basisSolved.data() + static_cast<std::size_t>(k) * q;
    if (m.full.ok) {
      for (int a = 0; a < q; ++a) row[a] = m.full.solvedBasis[a][k];
    }
    double restricted = diagInverse[k];
    for (int a = 0; a < q; ++a) {
      const double* gram = m.full.basisGram.data() + static_cast<std::size_t>(a) * q;
      double value = row[a];
      for (int b = 0; b < a; ++b) value -= gram[b] * row[b];
      row[a] = value / gram[a];
      restricted -= row[a] * row[a];
    }
    m.diagP[k] = restricted;
  }

  m.parameterInSpace.assign(static_cast<std::size_t>(p), false);
  for (int k = 0; k < p; ++k) m.parameterInSpace[k] = space.Contains({{k, 1}});

  const int males = m.maleCount;
  m.maleP.assign(static_cast<std::size_t>(males) * males, 0.0);
  for (int i = 0; i < males; ++i) {
    const double* ui = m.basisSolved.data() + static_cast<std::size_t>(m.maleStart + i) * q;
    for (int j = 0; j <= i; ++j) {
      const double* uj = m.basisSolved.data() + static_cast<std::size_t>(m.maleStart + j) * q;
      double value = maleInverse[static_cast<std::size_t>(i) * males + j];
      for (int a = 0; a < q; ++a) value -= ui[a] * uj[a];
      m.maleP[static_cast<std::size_t>(i) * males + j] = value;
      m.maleP[static_cast<std::size_t>(j) * males + i] = value;
    }
  }
  m.pairInSpace.assign(males > 1 ? MalePairIndex(males, 0) : 0, false);
  for (int i = 1; i < males; ++i) {
    for (int j = 0; j < i; ++j) {
      m.pairInSpace[MalePairIndex(i, j)] =
          space.Contains({{m.maleStart + i, 1}, {m.maleStart + j, -1}});
    }
  }

  // Factor tests: the restricted fit without the tested block.
  for (const TestedFactor& tested : TestedFactors(coding.kind)) {
    const EffectBlock* block = coding.Find(tested.effect);
    Impl::Factor factor{tested.label, 0, {}};
    const std::vector<bool> keep = AllColumnsExcept(p, block);
    BuildRestrictedSystem(coding, cells, ColumnsOf(keep), RowSpace(p, coding.restrictionRows, keep),
                          factor.system, diag);
    factor.df = block->count + factor.system.restrictionRank + m.modelRank - p;
    m.factors.push_back(std::move(factor));
  }
}

FixedModel::~FixedModel() = default;

int FixedModel::ModelRank() const { return impl_->modelRank; }

FixedTraitResult FixedModel::Fit(std::span<const double> y) const {
  const Impl& m = *impl_;
  const int p = m.p;
  const int n = m.n;
  FixedTraitResult result;

  // Cross-products from the cell sums.
  std::vector<double> cellSums(m.cells.counts.size(), 0.0);
  double sumY = 0.0;
  double sumYY = 0.0;
  for (int i = 0; i < n; ++i) {
    cellSums[m.cells.cellOfObservation[i]] += y[i];
    sumY += y[i];
    sumYY += y[i] * y[i];
  }
  std::vector<double> c(static_cast<std::size_t>(p), 0.0);
  for (std::size_t cell = 0; cell < cellSums.size(); ++cell) {
    for (const int column : m.cells.columns[cell]) c[column] += cellSums[cell];
  }

  // Estimates and error sum of squares.
  std::vector<double> b = c;
  if (m.full.ok) {
    m.full.factor.Solve(b);
  } else {
    std::fill(b.begin(), b.end(), std::nan(""));
  }
  double bc = 0.0;
  for (int k = 0; k < p; ++k) bc += b[k] * c[k];
  result.errorSS = sumYY - bc;
  result.errorDF = n - m.modelRank;
  result.errorMS = result.errorSS / result.errorDF;
  const double errorSS = result.errorSS;
  const double errorMS = result.errorMS;
  auto fOf = [&](double ssh, int df) { return ((ssh - errorSS) / df) / errorMS; };

  // Test of the model.
  result.totalDF = n - 1;
  result.totalSS = sumYY - sumY * sumY / n;
  result.modelSS = result.totalSS - errorSS;
  result.modelDF = m.modelRank - 1;
  result.modelMS = result.modelSS / result.modelDF;
  result.modelF = (result.modelSS * result.errorDF) / (errorSS * result.modelDF);
  result.modelP = FUpperTail(result.modelDF, result.errorDF, result.modelF);

  // Factor tests.
  std::vector<double> reduced;
  std::vector<double> g;
  for (const Impl::Factor& factor : m.factors) {
    FactorTest test;
    test.label = factor.label;
    test.df = factor.df;
    double ssh = std::nan("");
    if (factor.system.ok) {
      reduced.clear();
      for (const int column : factor.system.columns) reduced.push_back(c[column]);
      ssh = sumYY - factor.system.ReducedQuadratic(reduced, g);
    }
    test.ss = ssh - errorSS;
    test.ms = test.ss / test.df;
    test.f = fOf(ssh, test.df);
    test.p = FUpperTail(test.df, result.errorDF, test.f);
    result.factors.push_back(test);
  }

  // The fit restricted to R b = 0: b_R = b - U z with z = L_E^-1 Rq b, RSS_R = errorSS + z'z.
  const int q = static_cast<int>(m.full.basis.size());
  std::vector<double> z(static_cast<std::size_t>(q), 0.0);
  for (int a = 0; a < q; ++a) {
    double sum = 0.0;
    for (const int k : m.full.basis[a]) sum += b[k];
    const double* gram = m.full.basisGram.data() + static_cast<std::size_t>(a) * q;
    for (int k = 0; k < a; ++k) sum -= gram[k] * z[k];
    z[a] = sum / gram[a];
  }
  double restrictedRSS = errorSS;
  for (const double value : z) restrictedRSS += value * value;
  std::vector<double> bR = b;
  for (int k = 0; k < p; ++k) {
    const double* row = m.basisSolved.data() + static_cast<std::size_t>(k) * q;
    double shift = 0.0;
    for (int a = 0; a < q; ++a) shift += row[a] * z[a];
    bR[k] -= shift;
  }

  // A hypothesis of one row d: its degrees of freedom and F.
  auto oneRowTest = [&](bool inSpace, double contrast, double variance, double& f, double& pv) {
    const int df = m.restrictionRank + (inSpace ? 0 : 1) + m.modelRank - p;
    if (df == 0) {
      f = 0.0;
      pv = 1.0;
      return df;
    }
    const double ssh = restrictedRSS + (inSpace ? 0.0 : contrast * contrast / variance);
    f = fOf(ssh, df);
    pv = FUpperTail(df, result.errorDF, f);
    return df;
  };

  // Parameter estimates.
  result.estimates.resize(static_cast<std::size_t>(p));
  for (int k = 0; k < p; ++k) {
    ParameterEstimate& e = result.estimates[k];
    e.estimate = b[k];
    e.stdError = std::sqrt(errorMS * m.diagV[k]);
    double f = 0.0;
    oneRowTest(m.parameterInSpace[k], bR[k], m.diagP[k], f, e.p);
    e.t = std::sqrt(std::max(f, 0.0));
    if (b[k] < 0) e.t = -e.t;
  }

  // Differences between males.
  const int males = m.maleCount;
  const SignificanceOfOneDF significance(result.errorDF);
  result.maleT.assign(males > 1 ? MalePairIndex(males, 0) : 0, 0.0);
  result.maleSignificance.assign(result.maleT.size(), Significance::None);
  for (int i = 1; i < males; ++i) {
    const int ki = m.maleStart + i;
    for (int j = 0; j < i; ++j) {
      const int kj = m.maleStart + j;
      const std::size_t pair = MalePairIndex(i, j);
      const bool inSpace = m.pairInSpace[pair];
      const int df = m.restrictionRank + (inSpace ? 0 : 1) + m.modelRank - p;
      double f = 0.0;
      Significance cls = Significance::None;
      if (df == 1 && !inSpace) {
        const double contrast = bR[ki] - bR[kj];
        const double variance = m.maleP[static_cast<std::size_t>(i) * males + i] +
                                m.maleP[static_cast<std::size_t>(j) * males + j] -
                                2 * m.maleP[static_cast<std::size_t>(i) * males + j];
        f = fOf(restrictedRSS + contrast * contrast / variance, 1);
        cls = significance.Classify(f);
      } else {
        double pv = 1.0;
        const double contrast = bR[ki] - bR[kj];
        const double variance = m.maleP[static_cast<std::size_t>(i) * males + i] +
                                m.maleP[static_cast<std::size_t>(j) * males + j] -
                                2 * m.maleP[static_cast<std::size_t>(i) * males + j];
        oneRowTest(inSpace, contrast, variance, f, pv);
        cls = SignificanceOfOneDF::ClassOf(pv);
      }
      double t = std::sqrt(std::max(f, 0.0));
      if (b[ki] - b[kj] < 0) t = -t;
      result.maleT[pair] = t;
      result.maleSignificance[pair] = cls;
    }
  }
  return result;
}

void WriteFixedTrait(std::string& out, const ModelCoding& coding, int traitNumber,
                     const FixedTraitResult& r) {
  static const char* const kRule =
      "   =====================================================================================\r\n";
  static const char* const kRule2 =
      "   =====================================================================================\r\n\r\n";
  static const char* const kDash =
      "   -------------------------------------------------------------------------------------\r\n";
  static const char* const kHead =
      "      Source             DF     Sum of Squares     Mean Squares     F Value     Pr>F      \r\n";

  Appendf(out, "   Testing the model for trait %d:\r\n", traitNumber);
  out += kRule;
  out += kHead;
  out += kDash;
  Appendf(out, "      Model          %6d   %14.4f     %14.4f  %10.4f%10.4f\r\n", r.modelDF,
          r.modelSS, r.modelMS, r.modelF, r.modelP);
  Appendf(out, "      Error          %6d   %14.4f     %14.4f\r\n", r.errorDF, r.errorSS, r.errorMS);
  Appendf(out, "      Total          %6d   %14.4f\r\n", r.totalDF, r.totalSS);
  out += kRule2;

  Appendf(out, "   Testing factors for trait %d:\r\n", traitNumber);
  out += kRule;
  out += kHead;
  out += kDash;
  for (const FactorTest& t : r.factors) {
    Appendf(out, "      %-15s%6d   %14.4f     %14.4f  %10.4f%10.4f\r\n", t.label, t.df, t.ss, t.ms,
            t.f, t.p);
  }
  out += kRule2;

  Appendf(out, "   Parameter estimates for trait %d:\r\n", traitNumber);
  out += kRule;
  out += "      Parameter               Estimate       Std Error       T for H0:         Pr>|T|   \r\n";
  out += "                                                            Parameter=0                \r\n";
  out += kDash;
  for (std::size_t k = 0; k < r.estimates.size(); ++k) {
    const ParameterEstimate& e = r.estimates[k];
    Appendf(out, "      %-17s %14.4f  %14.4f   %14.4f  %12.4f\r\n", coding.parameterNames[k].c_str(),
            e.estimate, e.stdError, e.t, e.p);
  }
  out += kRule2;

  // Tables of eight columns, then one with the remaining columns (possibly none).
  const EffectBlock& male = MaleBlock(coding);
  const int m = male.count;
  const int full = (m - 1) / 8;
  const int rest = (m - 1) % 8;
  for (int table = 1; table <= full + 1; ++table) {
    const int width = table <= full ? 8 : rest;
    const int first = 8 * (table - 1);  // 0-based index of the first column male
    Appendf(out, "   T values of test for difference between two males for trait %d (%d):\r\n",
            traitNumber, table);
    out += "   ===============";
    for (int k = 0; k < width; ++k) out += "===============";
    out += "   \r\n";
    out += "                  ";
    for (int k = 0; k < width; ++k) {
      Appendf(out, " %12s  ", coding.parameterNames[male.start + first + k].c_str());
    }
    out += "\r\n   ---------------";
    for (int k = 0; k < width; ++k) out += "---------------";
    out += "\r\n";
    if (width > 0) {
      for (int i = first + 1; i < m; ++i) {
        Appendf(out, "      %-12s", coding.parameterNames[male.start + i].c_str());
        for (int j = first; j < first + width && j < i; ++j) {
          const std::size_t pair = MalePairIndex(i, j);
          switch (r.maleSignificance[pair]) {
            case Significance::One:
              Appendf(out, "%13.4f**", r.maleT[pair]);
              break;
            case Significance::Five:
              Appendf(out, "%13.4f* ", r.maleT[pair]);
              break;
            case Significance::None:
              Appendf(out, "%13.4f  ", r.maleT[pair]);
              break;
          }
        }
        out += "\r\n";
      }
    }
    out += "   ===============";
    for (int k = 0; k < width; ++k) out += "===============";
    out += "   \r\n   *p<0.05, **p<0.01\r\n\r\n\r\n";
  }
}

}  // namespace quorvel
