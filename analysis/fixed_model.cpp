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
#include "analysis/row_space.h"
#include "numeric/f_distribution.h"
#include "numeric/matrix.h"
#include "numeric/probability.h"

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
  std::vector<int> columns;  // J, ascending parameter indices
  ArrowCholesky factor;      // of A[J,J]
  bool ok = true;
  int restrictionRank = 0;                       // rank of the restriction rows on J
  std::vector<int> basisRows;                    // indices of the independent restriction rows
  std::vector<std::vector<int>> basis;           // those rows on local indices
  std::vector<double> basisGram;                 // Cholesky factor of Rq A^-1 Rq' (q x q)
  std::vector<std::vector<double>> solvedBasis;  // A[J,J]^-1 Rq' by column, when kept

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

std::vector<int> ColumnsOf(const std::vector<bool>& keep);

// The design's distinct rows restricted to the kept parameters, followed by `extra`
// restriction rows restricted likewise, as sparse integer rows.
std::vector<SparseRow> SparseRows(const DesignCells& cells, const ModelCoding& coding,
                                  const std::vector<bool>& keep, const std::vector<int>& extra) {
  std::vector<SparseRow> rows;
  auto add = [&](const std::vector<int>& columns) {
    SparseRow row;
    for (const int column : columns) {
      if (keep[column]) row.push_back({column, 1});
    }
    if (!row.empty()) rows.push_back(std::move(row));
  };
  for (const auto& columns : cells.columns) add(columns);
  for (const int r : extra) add(coding.restrictionRows[r]);
  return rows;
}

// The restriction rows that bind on the kept parameters: those whose row space meets the
// design's, so that they change the fit instead of only fixing what the data leave open.
// Rows that do not bind may stay in the normal matrix alone: with G = (X'X + R'R)^-1, the
// restricted fit needs the correction term only for a set C1 of rows such that the
// others add their full rank to [X; C1] (then the penalty ||C2 b||^2 vanishes at the
// optimum). C1 is taken as the effect blocks' row groups that meet the design's row
// space one by one; the split is verified by exact ranks, and all rows are taken when it
// does not hold.
std::vector<int> BindingRows(const ModelCoding& coding, const DesignCells& cells,
                             const std::vector<bool>& keep, int restrictionRank) {
  const int p = coding.parameterCount;
  std::vector<int> all;
  for (std::size_t r = 0; r < coding.restrictionRows.size(); ++r) {
    for (const int column : coding.restrictionRows[r]) {
      if (keep[column]) {
        all.push_back(static_cast<int>(r));
        break;
      }
    }
  }
  const int designRank = SparseIntegerRank(p, SparseRows(cells, coding, keep, {}));
  const int jointRank = SparseIntegerRank(p, SparseRows(cells, coding, keep, all));
  if (designRank + restrictionRank == jointRank) return {};

  std::vector<int> binding;
  std::vector<int> free;
  for (const EffectBlock& block : coding.blocks) {
    std::vector<int> group;
    for (const int r : all) {
      const int first = coding.restrictionRows[r].front();
      if (first >= block.start && first < block.start + block.count) group.push_back(r);
    }
    if (group.empty()) continue;
    std::vector<std::vector<int>> rows;
    for (const int r : group) rows.push_back(coding.restrictionRows[r]);
    const int groupRank = RowSpace(p, rows, keep).Rank();
    const int withDesign = SparseIntegerRank(p, SparseRows(cells, coding, keep, group));
    std::vector<int>& into = withDesign < designRank + groupRank ? binding : free;
    into.insert(into.end(), group.begin(), group.end());
  }
  std::vector<std::vector<int>> freeRows;
  for (const int r : free) freeRows.push_back(coding.restrictionRows[r]);
  const int bindingJoint = SparseIntegerRank(p, SparseRows(cells, coding, keep, binding));
  if (bindingJoint + RowSpace(p, freeRows, keep).Rank() != jointRank) return all;
  std::sort(binding.begin(), binding.end());
  return binding;
}

// Builds the solver on the kept parameters J: factorises A[J,J] (all restriction rows in
// it) and prepares the correction for the restriction rows `constraintRows`.
// restrictionRank is the rank of all restriction rows on J; keepSolved keeps
// A[J,J]^-1 Rq' after the Gram matrix is formed.
void BuildRestrictedSystem(const ModelCoding& coding, const DesignCells& cells,
                           const std::vector<bool>& keep, int restrictionRank,
                           const std::vector<int>& constraintRows, bool keepSolved,
                           RestrictedSystem& system, std::FILE* diag) {
  const int p = coding.parameterCount;
  system.columns = ColumnsOf(keep);
  const std::vector<int>& columns = system.columns;
  system.restrictionRank = restrictionRank;
  // The effects below the males (females, female-by-repeat) fall into small groups; the
  // mean, blocks, repeats and males form the dense border.
  const EffectBlock& male = MaleBlock(coding);
  const ArrowMatrix a =
      AssembleNormalMatrix(cells, coding.restrictionRows, p, columns, male.start + male.count, p);
  system.ok = system.factor.Factor(a);
  if (!system.ok) {
    std::fputs("fail\n", diag);
    return;
  }

  std::vector<int> local(static_cast<std::size_t>(p), -1);
  for (std::size_t k = 0; k < columns.size(); ++k) local[columns[k]] = static_cast<int>(k);
  std::vector<std::vector<int>> candidates;
  for (const int r : constraintRows) candidates.push_back(coding.restrictionRows[r]);
  const RowSpace constraintSpace(p, candidates, keep);
  for (const int k : constraintSpace.BasisRows()) {
    const int r = constraintRows[k];
    std::vector<int> row;
    for (const int column : coding.restrictionRows[r]) {
      if (keep[column]) row.push_back(local[column]);
    }
    system.basisRows.push_back(r);
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
  if (!keepSolved) std::vector<std::vector<double>>().swap(system.solvedBasis);
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
  bool complementary = false;  // rank(R) + rank(X) = p

  RestrictedSystem full;               // A on all parameters, with the basis of R
  std::vector<double> diagV;           // diag of A^-1 X'X A^-1
  std::vector<double> diagP;           // diag of the restricted inverse P
  std::vector<double> basisSolved;     // U = A^-1 Rq' L_E^-T, row-major p x q
  std::vector<bool> parameterInSpace;  // e_k in the row space of R

  // Male differences.
  int maleStart = 0;
  int maleCount = 0;
  std::vector<double> maleP;      // P on the male block, row-major
  std::vector<bool> pairInSpace;  // e_i - e_j in the row space of R (lower triangle)

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

  // When the restriction rows only fix what the data leave open (rank(R) + rank(X) = p,
  // always so for the three codings) the estimates b = A^-1 c already satisfy R b = 0 and
  // the restricted inverse is the sandwich itself; otherwise every restriction row is
  // enforced by the correction term.
  const RowSpace space(p, coding.restrictionRows);
  m.restrictionRank = space.Rank();
  m.complementary = m.restrictionRank + m.modelRank == p;
  std::vector<int> enforced;
  if (!m.complementary) {
    for (std::size_t r = 0; r < coding.restrictionRows.size(); ++r)
      enforced.push_back(static_cast<int>(r));
  }
  BuildRestrictedSystem(coding, cells, AllColumnsExcept(p, nullptr), m.restrictionRank, enforced,
                        true, m.full, diag);
  const int q = static_cast<int>(m.full.basis.size());

  // Columns a_k of A^-1: the sandwich variance (A^-1 X'X A^-1)_kk = a_k' X'X a_k is a sum of
  // squares over the cells, the diagonal of A^-1 enters the restricted inverse, and the
  // male block is kept for the differences: its sandwich from the cell projections
  // X a_k, its inverse from the columns themselves.
  const EffectBlock& male = MaleBlock(coding);
  m.maleStart = male.start;
  m.maleCount = male.count;
  const int males = m.maleCount;
  const std::size_t cellCount = cells.counts.size();
  std::vector<double> diagInverse(static_cast<std::size_t>(p), std::nan(""));
  std::vector<double> maleInverse(static_cast<std::size_t>(males) * males, 0.0);
  std::vector<double> maleProjection(static_cast<std::size_t>(males) * cellCount, 0.0);
  m.diagV.assign(static_cast<std::size_t>(p), std::nan(""));
  std::vector<double> column(static_cast<std::size_t>(p));
  for (int k = 0; k < p && m.full.ok; ++k) {
    std::fill(column.begin(), column.end(), 0.0);
    column[k] = 1.0;
    m.full.factor.Solve(column);
    diagInverse[k] = column[k];
    const bool isMale = k >= m.maleStart && k < m.maleStart + males;
    double sandwich = 0.0;
    for (std::size_t cell = 0; cell < cellCount; ++cell) {
      double projection = 0.0;
      for (const int c : cells.columns[cell]) projection += column[c];
      sandwich += cells.counts[cell] * projection * projection;
      if (isMale)
        maleProjection[static_cast<std::size_t>(k - m.maleStart) * cellCount + cell] = projection;
    }
    m.diagV[k] = sandwich;
    if (isMale) {
      for (int i = 0; i < males; ++i) {
        maleInverse[static_cast<std::size_t>(i) * males + (k - m.maleStart)] =
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
    m.diagP[k] = m.complementary ? m.diagV[k] : restricted;
  }

  m.parameterInSpace.assign(static_cast<std::size_t>(p), false);
  for (int k = 0; k < p; ++k) m.parameterInSpace[k] = space.Contains({{k, 1}});

  m.maleP.assign(static_cast<std::size_t>(males) * males, 0.0);
  for (int i = 0; i < males; ++i) {
    const double* ui = m.basisSolved.data() + static_cast<std::size_t>(m.maleStart + i) * q;
    const double* xi = maleProjection.data() + static_cast<std::size_t>(i) * cellCount;
    for (int j = 0; j <= i; ++j) {
      double value = 0.0;
      if (m.complementary) {
        const double* xj = maleProjection.data() + static_cast<std::size_t>(j) * cellCount;
        for (std::size_t cell = 0; cell < cellCount; ++cell)
          value += cells.counts[cell] * xi[cell] * xj[cell];
      } else {
        const double* uj = m.basisSolved.data() + static_cast<std::size_t>(m.maleStart + j) * q;
        value = maleInverse[static_cast<std::size_t>(i) * males + j];
        for (int a = 0; a < q; ++a) value -= ui[a] * uj[a];
      }
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
    const int rank = RowSpace(p, coding.restrictionRows, keep).Rank();
    BuildRestrictedSystem(coding, cells, keep, rank, BindingRows(coding, cells, keep, rank), false,
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
    // Without degrees of freedom the hypothesis removes nothing the data can show: the
    // sum of squares is 0 (not a rounding error of either sign) and its mean square,
    // F and p are undefined.
    test.ss = test.df == 0 ? 0.0 : ssh - errorSS;
    test.ms = test.ss / test.df;
    test.f = test.df == 0 ? test.ms : fOf(ssh, test.df);
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
  // A hypothesis of one row d: its degrees of freedom, and F (0 when the row adds no
  // constraint, which gives p = 1 without evaluating the tail).
  auto oneRowTest = [&](bool inSpace, double contrast, double variance, double& f) {
    const int df = m.restrictionRank + (inSpace ? 0 : 1) + m.modelRank - p;
    if (df == 0) {
      f = 0.0;
      return df;
    }
    const double ssh = restrictedRSS + (inSpace ? 0.0 : contrast * contrast / variance);
    f = fOf(ssh, df);
    return df;
  };

  // Parameter estimates; the tail probabilities of all statistics with the same degrees
  // of freedom are evaluated together.
  result.estimates.resize(static_cast<std::size_t>(p));
  std::map<int, std::vector<int>> byDF;
  std::vector<double> f(static_cast<std::size_t>(p), 0.0);
  for (int k = 0; k < p; ++k) {
    ParameterEstimate& e = result.estimates[k];
    e.estimate = b[k];
    e.stdError = std::sqrt(errorMS * m.diagV[k]);
    const int df = oneRowTest(m.parameterInSpace[k], bR[k], m.diagP[k], f[k]);
    e.p = 1.0;
    if (df != 0) byDF[df].push_back(k);
    e.t = std::sqrt(std::max(f[k], 0.0));
    if (b[k] < 0) e.t = -e.t;
  }
  for (const auto& [df, parameters] : byDF) {
    std::vector<double> statistics;
    for (const int k : parameters) statistics.push_back(f[k]);
    std::vector<double> probabilities(statistics.size());
    FUpperTailMany(df, result.errorDF, statistics, probabilities);
    for (std::size_t j = 0; j < parameters.size(); ++j) {
      result.estimates[parameters[j]].p = probabilities[j];
    }
  }

  // Differences between males.
  const int males = m.maleCount;
  const SignificanceOfOneDF significance(result.errorDF);
  result.maleT.assign(males > 1 ? MalePairIndex(males, 0) : 0, 0.0);
  result.maleSignificance.assign(result.maleT.size(), Significance::None);
  result.maleP.assign(result.maleT.size(), 1.0);
  for (int i = 1; i < males; ++i) {
    const int ki = m.maleStart + i;
    for (int j = 0; j < i; ++j) {
      const int kj = m.maleStart + j;
      const std::size_t pair = MalePairIndex(i, j);
      const double contrast = bR[ki] - bR[kj];
      const double variance = m.maleP[static_cast<std::size_t>(i) * males + i] +
                              m.maleP[static_cast<std::size_t>(j) * males + j] -
                              2 * m.maleP[static_cast<std::size_t>(i) * males + j];
      double pairF = 0.0;
      const int df = oneRowTest(m.pairInSpace[pair], contrast, variance, pairF);
      Significance cls = Significance::None;
      if (df == 1) {
        cls = significance.Classify(pairF);
      } else if (df != 0) {
        cls = SignificanceOfOneDF::ClassOf(FUpperTail(df, result.errorDF, pairF));
      }
      double t = std::sqrt(std::max(pairF, 0.0));
      if (b[ki] - b[kj] < 0) t = -t;
      result.maleT[pair] = t;
      result.maleSignificance[pair] = cls;
      // The probability itself: 1 for a difference the restrictions already fix, the
      // two-sided t tail for one degree of freedom.
      if (df == 0) {
        result.maleP[pair] = 1.0;
      } else if (df == 1) {
        result.maleP[pair] = StudentTTwoSidedP(t, result.errorDF);
      } else {
        result.maleP[pair] = FUpperTail(df, result.errorDF, pairF);
      }
    }
  }
  return result;
}

}  // namespace quorvel
