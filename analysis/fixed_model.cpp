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
#include <numeric>

#include "analysis/arrow_cholesky.h"
#include "analysis/parallel.h"
#include "analysis/standardise.h"
#include "numeric/dense_factor.h"
#include "numeric/f_distribution.h"
#include "numeric/matrix.h"
#include "numeric/probability.h"
#include "numeric/row_space.h"

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

// The normal matrix A = X'X + R'R factored, with the basis of the restriction rows that
// the fit must enforce beyond A (none when the restrictions complement the design) and
// the Gram matrix of the correction term.
struct RestrictedSystem {
  std::vector<int> columns;  // J, ascending parameter indices
  ArrowCholesky factor;      // of A[J,J]
  bool ok = true;
  int restrictionRank = 0;                       // rank of the restriction rows on J
  std::vector<std::vector<int>> basis;           // those rows on local indices
  std::vector<double> basisGram;                 // Cholesky factor of Rq A^-1 Rq' (q x q)
  std::vector<std::vector<double>> solvedBasis;  // A[J,J]^-1 Rq' by column, when kept
};

std::vector<int> ColumnsOf(const std::vector<bool>& keep);

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
  // The random effects (males and what is nested in them) fall into small groups, one
  // per male unless a restriction row joins a few; the mean and the leading effects form
  // the dense border, with the long restriction rows (all males, all of a block's
  // repeat) as extra unknowns.
  const int bottom = coding.Block(coding.spec->randomTerms.front().effect).start;
  const ArrowMatrix a = AssembleNormalMatrix(cells, coding.restrictionRows, p, columns, bottom, p);
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

// The male block of P = A^-1 X'X A^-1 (the sampling variances of the estimates in units of
// the error variance), as the pair variances of the t tables need it.
struct MaleCovariance {
  // Dense, for designs whose restrictions do not complement the design.
  std::vector<double> dense;  // males x males
  // By structure (see StructuredVariances): per male its group and position there, and
  // the border vectors y, H y and phi; per group the local part over its males.
  std::vector<int> group;
  std::vector<int> slot;
  std::vector<std::vector<double>> y, hy, phi;
  std::vector<std::vector<double>> local;  // per group: its males x its males
  std::vector<int> malesOfGroup;           // per group: number of males
  std::vector<double> diagonal;            // P_ii

  double operator()(int i, int j, int males) const {
    if (!dense.empty()) return dense[static_cast<std::size_t>(i) * males + j];
    if (i == j) return diagonal[i];
    double value = 0.0;
    if (group[i] == group[j] && group[i] >= 0) {
      const int m = malesOfGroup[group[i]];
      value += local[group[i]][static_cast<std::size_t>(slot[i]) * m + slot[j]];
    }
    const std::size_t nb = y[i].size();
    for (std::size_t k = 0; k < nb; ++k)
      value += phi[i][k] * y[j][k] + phi[j][k] * y[i][k] + y[i][k] * hy[j][k];
    return value;
  }
};

}  // namespace

const EffectBlock& MaleBlock(const ModelCoding& coding) {
  return coding.Block(coding.spec->maleEffect);
}

struct FixedModel::Impl {
  const ModelCoding& coding;
  const DesignCells& cells;
  StopToken stop;
  int p = 0;
  int n = 0;
  int modelRank = 0;
  int restrictionRank = 0;
  bool complementary = false;  // rank(R) + rank(X) = p

  RestrictedSystem full;               // A on all parameters, with the basis of R
  std::vector<double> diagV;           // diag of A^-1 X'X A^-1
  std::vector<double> diagP;           // diag of the restricted inverse P
  std::vector<double> basisSolved;     // U = A^-1 Rq' L_E^-T, row-major p x q (general case)
  std::vector<bool> parameterInSpace;  // e_k in the row space of R

  // Male differences.
  int maleStart = 0;
  int maleCount = 0;
  MaleCovariance maleP;        // P on the male block
  std::vector<int> maleClass;  // e_i - e_j is in the row space of R iff the classes agree

  // A factor test's system: the normal matrix on the other parameters with their
  // restriction rows held exactly by Lagrange unknowns.
  struct Factor {
    const char* label;
    int df = 0;
    std::vector<int> columns;  // the kept parameters
    int constraints = 0;       // Lagrange unknowns after them
    ArrowCholesky factor;
    bool ok = true;
  };
  std::vector<Factor> factors;

  Impl(const ModelCoding& c, const DesignCells& d) : coding(c), cells(d) {}
};

namespace {

// Step 1. The design's exact rank. The leading effects' cells nest in one another and
// every random effect's cells are unions of the lowest term's, so the design's columns
// span the indicators of the finest leading cells together with the lowest term's cells;
// two partitions' spans meet in the indicators of the connected components of the
// cells joined by common observations, which gives
//   rank(X) = (leading cells) + (lowest cells) - (components).
int DesignRank(const ModelCoding& coding, const DesignCells& cells) {
  const ModelSpec& spec = *coding.spec;
  const EffectBlock& leading = coding.Block(spec.LeadingEffectCount() - 1);
  const EffectBlock& lowest = coding.Block(spec.randomTerms.back().effect);
  std::vector<int> parent(static_cast<std::size_t>(leading.count + lowest.count));
  std::iota(parent.begin(), parent.end(), 0);
  auto root = [&](int k) {
    while (parent[k] != k) k = parent[k] = parent[parent[k]];
    return k;
  };
  int components = leading.count + lowest.count;
  for (const auto& columns : cells.columns) {
    const int a = root(columns[leading.effect] - leading.start);
    const int b = root(leading.count + columns[lowest.effect] - lowest.start);
    if (a != b) {
      parent[a] = b;
      --components;
    }
  }
  return leading.count + lowest.count - components;
}

// Step 3 (restrictions that complement the design). With A = X'X + R'R and
// rank(R) + rank(X) = p, the restricted inverse is the sandwich P = A^-1 X'X A^-1, whose
// entry (k, l) is sum over cells c of n_c (x_c'a_k)(x_c'a_l) for the columns a_k of A^-1.
// The arrow factor (arrow_cholesky.h) gives a_k = G_g^-1 e_k on k's group g plus
// -G_h^-1 C_h y_k on every group and y_k on the border, with y_k = -S^-1 C_g' G_g^-1 e_k
// (y_k = S^-1 e_k for a border parameter), so that
//   x_c'a_k = [c in g] l_ck + h_c'y_k,   h_c = x_c,border - C_h' G_h^-1 x_c,h,
// and, with H = sum over c of n_c h_c h_c' and phi_k = sum over c in g of n_c l_ck h_c,
//   P_kl = [same group] sum over c in g of n_c l_ck l_cl + phi_k'y_l + phi_l'y_k + y_k'H y_l.
// Every entry costs the border's size; the male block is kept by its pieces.
void StructuredVariances(FixedModel::Impl& m) {
  const ArrowCholesky& factor = m.full.factor;
  const DesignCells& cells = m.cells;
  const int p = m.p;
  const std::size_t nb = static_cast<std::size_t>(factor.BorderSlots());
  std::vector<int> groupOf(static_cast<std::size_t>(p), -1);
  std::vector<int> slotOf(static_cast<std::size_t>(p), -1);
  for (int g = 0; g < factor.GroupCount(); ++g) {
    const auto& indices = factor.GroupIndices(g);
    for (std::size_t k = 0; k < indices.size(); ++k) {
      groupOf[indices[k]] = g;
      slotOf[indices[k]] = static_cast<int>(k);
    }
  }
  for (std::size_t k = 0; k < factor.BorderIndices().size(); ++k)
    slotOf[factor.BorderIndices()[k]] = static_cast<int>(k);

  // h_c for every cell, H, and the cells of each group.
  const std::size_t cellCount = cells.counts.size();
  std::vector<std::vector<double>> h(cellCount, std::vector<double>(nb, 0.0));
  std::vector<int> cellGroup(cellCount, -1);
  std::vector<std::vector<int>> cellsOfGroup(static_cast<std::size_t>(factor.GroupCount()));
  std::vector<double> hMatrix(nb * nb, 0.0);
  for (std::size_t c = 0; c < cellCount; ++c) {
    int g = -1;
    for (const int column : cells.columns[c]) {
      if (groupOf[column] >= 0) g = groupOf[column];
    }
    cellGroup[c] = g;
    if (g >= 0) {
      cellsOfGroup[g].push_back(static_cast<int>(c));
      std::vector<double> x(factor.GroupIndices(g).size(), 0.0);
      for (const int column : cells.columns[c]) {
        if (groupOf[column] == g) x[slotOf[column]] += 1.0;
      }
      factor.AddBorderResponse(g, x, -1.0, h[c]);
    }
    for (const int column : cells.columns[c]) {
      if (groupOf[column] < 0) h[c][slotOf[column]] += 1.0;
    }
    const double count = cells.counts[c];
    for (std::size_t i = 0; i < nb; ++i) {
      for (std::size_t j = 0; j < nb; ++j) hMatrix[i * nb + j] += count * h[c][i] * h[c][j];
    }
  }
  auto times = [&](const std::vector<double>& v) {
    std::vector<double> out(nb, 0.0);
    for (std::size_t i = 0; i < nb; ++i) {
      for (std::size_t j = 0; j < nb; ++j) out[i] += hMatrix[i * nb + j] * v[j];
    }
    return out;
  };
  auto dot = [&](const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < nb; ++i) sum += a[i] * b[i];
    return sum;
  };

  m.diagV.assign(static_cast<std::size_t>(p), 0.0);
  MaleCovariance& male = m.maleP;
  const int males = m.maleCount;
  male.group.assign(static_cast<std::size_t>(males), -1);
  male.slot.assign(static_cast<std::size_t>(males), 0);
  male.y.assign(static_cast<std::size_t>(males), {});
  male.hy.assign(static_cast<std::size_t>(males), {});
  male.phi.assign(static_cast<std::size_t>(males), std::vector<double>(nb, 0.0));
  male.diagonal.assign(static_cast<std::size_t>(males), 0.0);
  male.local.assign(static_cast<std::size_t>(factor.GroupCount()), {});
  male.malesOfGroup.assign(static_cast<std::size_t>(factor.GroupCount()), 0);
  auto maleIndex = [&](int k) {
    return k >= m.maleStart && k < m.maleStart + males ? k - m.maleStart : -1;
  };

  // Border parameters: a_k is the border response of y_k = S^-1 e_k alone.
  for (std::size_t slot = 0; slot < factor.BorderIndices().size(); ++slot) {
    const int k = factor.BorderIndices()[slot];
    std::vector<double> y(nb, 0.0);
    y[slot] = 1.0;
    factor.BorderSolve(y);
    const std::vector<double> hy = times(y);
    m.diagV[k] = std::max(0.0, dot(y, hy));
    const int i = maleIndex(k);
    if (i >= 0) {
      male.y[i] = y;
      male.hy[i] = hy;
      male.diagonal[i] = m.diagV[k];
    }
  }

  // Group parameters, group by group: G_g^-1 explicitly, the cells' rows l_c of it.
  for (int g = 0; g < factor.GroupCount(); ++g) {
    if (g % 64 == 0) m.stop.ThrowIfStopped();
    const auto& indices = factor.GroupIndices(g);
    const std::size_t size = indices.size();
    std::vector<double> inverse(size * size, 0.0);  // column k: G_g^-1 e_k
    for (std::size_t k = 0; k < size; ++k) {
      std::vector<double> column(size, 0.0);
      column[k] = 1.0;
      factor.GroupSolve(g, column);
      for (std::size_t r = 0; r < size; ++r) inverse[r * size + k] = column[r];
    }
    const std::vector<int>& groupCells = cellsOfGroup[g];
    std::vector<std::vector<double>> rows;  // l_c over the group's parameters
    for (const int c : groupCells) {
      std::vector<double> row(size, 0.0);
      for (const int column : cells.columns[c]) {
        if (groupOf[column] != g) continue;
        const double* from = inverse.data() + static_cast<std::size_t>(slotOf[column]) * size;
        for (std::size_t k = 0; k < size; ++k) row[k] += from[k];
      }
      rows.push_back(std::move(row));
    }
    std::vector<int> groupMales;
    for (std::size_t k = 0; k < size; ++k) {
      if (maleIndex(indices[k]) >= 0) groupMales.push_back(static_cast<int>(k));
    }
    for (std::size_t k = 0; k < size; ++k) {
      std::vector<double> unit(size, 0.0);
      unit[k] = 1.0;
      std::vector<double> y(nb, 0.0);
      factor.AddBorderResponse(g, unit, -1.0, y);
      factor.BorderSolve(y);
      std::vector<double> phi(nb, 0.0);
      double local = 0.0;
      for (std::size_t at = 0; at < groupCells.size(); ++at) {
        const double weight = cells.counts[groupCells[at]] * rows[at][k];
        local += weight * rows[at][k];
        for (std::size_t i = 0; i < nb; ++i) phi[i] += weight * h[groupCells[at]][i];
      }
      const std::vector<double> hy = times(y);
      const int parameter = indices[k];
      // A sum of squares: below 0 only by rounding, where it vanishes.
      m.diagV[parameter] = std::max(0.0, local + 2.0 * dot(phi, y) + dot(y, hy));
      const int i = maleIndex(parameter);
      if (i >= 0) {
        male.group[i] = g;
        male.slot[i] =
            static_cast<int>(std::find(groupMales.begin(), groupMales.end(), static_cast<int>(k)) -
                             groupMales.begin());
        male.y[i] = std::move(y);
        male.hy[i] = hy;
        male.phi[i] = std::move(phi);
        male.diagonal[i] = m.diagV[parameter];
      }
    }
    // The local part of the male block between the group's males.
    const std::size_t gm = groupMales.size();
    male.malesOfGroup[g] = static_cast<int>(gm);
    male.local[g].assign(gm * gm, 0.0);
    for (std::size_t a = 0; a < gm; ++a) {
      for (std::size_t b = 0; b < gm; ++b) {
        double sum = 0.0;
        for (std::size_t at = 0; at < groupCells.size(); ++at)
          sum += cells.counts[groupCells[at]] * rows[at][groupMales[a]] * rows[at][groupMales[b]];
        male.local[g][a * gm + b] = sum;
      }
    }
  }
  m.diagP = m.diagV;
}

// Step 3 (restrictions that do not complement the design). Columns a_k of A^-1 one by
// one: the sandwich variance (A^-1 X'X A^-1)_kk = a_k' X'X a_k is a sum of squares over
// the cells, the diagonal of A^-1 enters the restricted inverse P = A^-1 - U U',
// U = A^-1 Rq' L_E^-T, and the male block of P is kept densely.
void GeneralVariances(FixedModel::Impl& m) {
  const ModelCoding& coding = m.coding;
  const DesignCells& cells = m.cells;
  const int p = m.p;
  const int q = static_cast<int>(m.full.basis.size());
  const int males = m.maleCount;
  const std::size_t cellCount = cells.counts.size();
  std::vector<double> diagInverse(static_cast<std::size_t>(p), std::nan(""));
  std::vector<double> maleInverse(static_cast<std::size_t>(males) * males, 0.0);
  m.diagV.assign(static_cast<std::size_t>(p), std::nan(""));
  std::vector<double> column(static_cast<std::size_t>(p));
  for (int k = 0; k < p && m.full.ok; ++k) {
    if (k % 256 == 0) m.stop.ThrowIfStopped();
    std::fill(column.begin(), column.end(), 0.0);
    column[k] = 1.0;
    m.full.factor.Solve(column);
    diagInverse[k] = column[k];
    double sandwich = 0.0;
    for (std::size_t cell = 0; cell < cellCount; ++cell) {
      double projection = 0.0;
      for (const int c : cells.columns[cell]) projection += column[c];
      sandwich += cells.counts[cell] * projection * projection;
    }
    m.diagV[k] = sandwich;
    if (k >= m.maleStart && k < m.maleStart + males) {
      for (int i = 0; i < males; ++i) {
        maleInverse[static_cast<std::size_t>(i) * males + (k - m.maleStart)] =
            column[m.maleStart + i];
      }
    }
  }
  (void)coding;

  // U = A^-1 Rq' L_E^-T, row by row: row k of A^-1 Rq' solved with L_E.
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
  m.maleP.dense.assign(static_cast<std::size_t>(males) * males, 0.0);
  for (int i = 0; i < males; ++i) {
    const double* ui = m.basisSolved.data() + static_cast<std::size_t>(m.maleStart + i) * q;
    for (int j = 0; j <= i; ++j) {
      const double* uj = m.basisSolved.data() + static_cast<std::size_t>(m.maleStart + j) * q;
      double value = maleInverse[static_cast<std::size_t>(i) * males + j];
      for (int a = 0; a < q; ++a) value -= ui[a] * uj[a];
      m.maleP.dense[static_cast<std::size_t>(i) * males + j] = value;
      m.maleP.dense[static_cast<std::size_t>(j) * males + i] = value;
    }
  }
}

// Step 5. Factor tests. The hypothesis "every parameter of block B is 0" on top of the
// restrictions: SSH = min over b_J with R_J b_J = 0 of |y - X_J b_J|^2, J the other
// parameters and R_J the restriction rows on them. With a basis C of R_J's rows held by
// Lagrange unknowns, the minimiser solves [A_J C'; C 0][b; lambda] = [c_J; 0]
// (A_J = X_J'X_J + R_J'R_J, which is positive definite and changes nothing on the
// feasible set) and SSH = y'y - c_J'b (restricted least squares, Searle, Linear Models,
// 1971, section 3.6). DF = |B| + rank(R_J) + rank(X) - p.
void FactorTestSystems(FixedModel::Impl& m, std::FILE* diag) {
  const ModelCoding& coding = m.coding;
  const int bottom = coding.Block(coding.spec->randomTerms.front().effect).start;
  for (const TestedFactorSpec& tested : coding.spec->testedFactors) {
    m.stop.ThrowIfStopped();
    const EffectBlock* block = &coding.Block(tested.effect);
    FixedModel::Impl::Factor factor{tested.label, 0, {}, 0, {}, true};
    const std::vector<bool> keep = AllColumnsExcept(m.p, block);
    const RowSpace space(m.p, coding.restrictionRows, keep);
    factor.columns = ColumnsOf(keep);
    factor.constraints = space.Rank();
    const ArrowMatrix a = AssembleNormalMatrix(m.cells, coding.restrictionRows, m.p, factor.columns,
                                               bottom, m.p, space.BasisRows());
    factor.ok = factor.factor.Factor(a);
    if (!factor.ok) std::fputs("fail\n", diag);
    factor.df = block->count + space.Rank() + m.modelRank - m.p;
    m.factors.push_back(std::move(factor));
  }
}

}  // namespace

FixedModel::FixedModel(const ModelCoding& coding, const DesignCells& cells, std::FILE* diag,
                       const StopToken& stop)
    : impl_(std::make_unique<Impl>(coding, cells)) {
  Impl& m = *impl_;
  m.stop = stop;
  m.p = coding.parameterCount;
  m.n = coding.observationCount;
  const int p = m.p;
  const EffectBlock& male = MaleBlock(coding);
  m.maleStart = male.start;
  m.maleCount = male.count;

  m.modelRank = DesignRank(coding, cells);

  // Step 2. The restrictions' row space. When the restriction rows only fix what the data
  // leave open (rank(R) + rank(X) = p, always so for the three codings) the estimates
  // b = A^-1 c already satisfy R b = 0 and the restricted inverse is the sandwich itself;
  // otherwise every restriction row is enforced by the correction term.
  const RowSpace space(p, coding.restrictionRows);
  m.restrictionRank = space.Rank();
  m.complementary = m.restrictionRank + m.modelRank == p;
  std::vector<int> enforced;
  if (!m.complementary) {
    for (std::size_t r = 0; r < coding.restrictionRows.size(); ++r)
      enforced.push_back(static_cast<int>(r));
  }
  BuildRestrictedSystem(coding, cells, AllColumnsExcept(p, nullptr), m.restrictionRank, enforced,
                        !m.complementary, m.full, diag);
  m.stop.ThrowIfStopped();

  // Step 3. Sampling variances of the estimates and the male block.
  if (!m.full.ok) {
    m.diagV.assign(static_cast<std::size_t>(p), std::nan(""));
    m.diagP = m.diagV;
    m.maleP.dense.assign(static_cast<std::size_t>(m.maleCount) * m.maleCount, std::nan(""));
  } else if (m.complementary) {
    StructuredVariances(m);
  } else {
    GeneralVariances(m);
  }

  // Step 4. Which single parameters and male differences the restrictions already fix.
  // Such a parameter is 0 in every fit, with sampling variance exactly 0.
  m.parameterInSpace.assign(static_cast<std::size_t>(p), false);
  for (int k = 0; k < p; ++k) {
    m.parameterInSpace[k] = space.Contains({{k, 1}});
    if (m.parameterInSpace[k] && m.complementary) m.diagV[k] = m.diagP[k] = 0.0;
  }
  std::vector<int> maleColumns(static_cast<std::size_t>(m.maleCount));
  std::iota(maleColumns.begin(), maleColumns.end(), m.maleStart);
  m.maleClass = DifferenceClasses(p, coding.restrictionRows, maleColumns);

  FactorTestSystems(m, diag);
}

FixedModel::~FixedModel() = default;

int FixedModel::ModelRank() const { return impl_->modelRank; }

FixedTraitResult FixedModel::Fit(std::span<const double> values) const {
  // The fit of the standardised trait; sums of squares, estimates and standard errors
  // scale back (the mean goes to u, whose fit of a constant is exactly that constant:
  // X e_u = 1 and e_u satisfies the restrictions), the tests are the same in any units.
  std::vector<double> standardised;
  const Standardisation units = Standardise(values, standardised);
  FixedTraitResult result = FitStandardised(standardised, units.mean / units.scale);
  const double s = units.scale;
  const double s2 = s * s;
  result.modelSS *= s2;
  result.modelMS *= s2;
  result.errorSS *= s2;
  result.errorMS *= s2;
  result.totalSS *= s2;
  for (FactorTest& test : result.factors) {
    test.ss *= s2;
    test.ms *= s2;
  }
  for (std::size_t k = 0; k < result.estimates.size(); ++k) {
    ParameterEstimate& e = result.estimates[k];
    e.estimate = e.estimate * s + (k == 0 ? units.mean : 0.0);
    e.stdError *= s;
  }
  return result;
}

FixedTraitResult FixedModel::FitStandardised(std::span<const double> y,
                                             double meanOverScale) const {
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
    if (factor.ok) {
      reduced.assign(factor.columns.size() + static_cast<std::size_t>(factor.constraints), 0.0);
      for (std::size_t k = 0; k < factor.columns.size(); ++k) reduced[k] = c[factor.columns[k]];
      factor.factor.Solve(reduced);
      double fitted = 0.0;
      for (std::size_t k = 0; k < factor.columns.size(); ++k)
        fitted += c[factor.columns[k]] * reduced[k];
      ssh = sumYY - fitted;
    }
    if (test.df == 0) {
      // The hypothesis adds no constraint (a factor with one level, or one female per
      // male): the sums of squares agree, and there is no mean square or test.
      test.ss = 0.0;
      test.ms = test.f = test.p = std::nan("");
    } else {
      test.ss = ssh - errorSS;
      test.ms = test.ss / test.df;
      test.f = fOf(ssh, test.df);
      test.p = FUpperTail(test.df, result.errorDF, test.f);
    }
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
    // A parameter the restrictions fix is 0 in the fit, not a rounding residue of either
    // sign.
    if (m.complementary && m.parameterInSpace[k]) b[k] = bR[k] = 0.0;
    e.estimate = b[k];
    e.stdError = std::sqrt(errorMS * m.diagV[k]);
    // u's hypothesis u = 0 is u_std = -mean / scale in the standardised units.
    const double shift = k == 0 ? meanOverScale : 0.0;
    const int df = oneRowTest(m.parameterInSpace[k], bR[k] + shift, m.diagP[k], f[k]);
    e.p = 1.0;
    if (df != 0) byDF[df].push_back(k);
    e.t = std::sqrt(std::max(f[k], 0.0));
    if (b[k] + shift < 0) e.t = -e.t;
  }
  // In batches, so that a stop request is seen while many long series are summed.
  constexpr std::size_t kBatch = 2048;
  for (const auto& [df, parameters] : byDF) {
    for (std::size_t first = 0; first < parameters.size(); first += kBatch) {
      m.stop.ThrowIfStopped();
      const std::size_t last = std::min(parameters.size(), first + kBatch);
      std::vector<double> statistics;
      for (std::size_t j = first; j < last; ++j) statistics.push_back(f[parameters[j]]);
      std::vector<double> probabilities(statistics.size());
      FUpperTailMany(df, result.errorDF, statistics, probabilities);
      for (std::size_t j = first; j < last; ++j)
        result.estimates[parameters[j]].p = probabilities[j - first];
    }
  }

  // Differences between males.
  const int males = m.maleCount;
  const SignificanceOfOneDF significance(result.errorDF);
  result.maleT.assign(males > 1 ? MalePairIndex(males, 0) : 0, 0.0);
  result.maleSignificance.assign(result.maleT.size(), Significance::None);
  result.maleP.assign(result.maleT.size(), 1.0);
  // The pairs by rows of males, split into ranges of about equal numbers of pairs.
  auto pairsOfRows = [&](int first, int last) {
    for (int i = std::max(first, 1); i < last; ++i) {
      if (i % 64 == 0) m.stop.ThrowIfStopped();
      const int ki = m.maleStart + i;
      for (int j = 0; j < i; ++j) {
        const int kj = m.maleStart + j;
        const std::size_t pair = MalePairIndex(i, j);
        const double contrast = bR[ki] - bR[kj];
        const double variance =
            m.maleP(i, i, males) + m.maleP(j, j, males) - 2 * m.maleP(i, j, males);
        double pairF = 0.0;
        const int df = oneRowTest(m.maleClass[i] == m.maleClass[j], contrast, variance, pairF);
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
  };
  // Row i holds i pairs: the ranges of rows split the pairs' count evenly.
  const std::size_t pairs = result.maleT.size();
  ParallelRanges(pairs, 20000, [&](std::size_t begin, std::size_t end) {
    auto rowOf = [&](std::size_t at) {
      int row = static_cast<int>(std::sqrt(2.0 * static_cast<double>(at)));
      while (row > 0 && MalePairIndex(row, 0) > at) --row;
      while (MalePairIndex(row + 1, 0) <= at) ++row;
      return row;
    };
    const int first = begin == 0 ? 0 : rowOf(begin);
    const int last = end >= pairs ? males : rowOf(end);
    pairsOfRows(first, last);
  });
  return result;
}

}  // namespace quorvel
