// The reduction's Gram-Schmidt basis, held by structure, and its residual coordinates.
#include "analysis/reduction_basis.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "analysis/leading_system.h"
#include "numeric/dense_factor.h"

namespace quorvel {
namespace {

// A column whose remaining squared length is below this share of its own is dependent
// (the remaining length of a dependent 0/1 column is rounding, of an independent one
// a ratio of counts).
constexpr double kDependent = 1e-9;

// Union-find over the slots of one region, copied and merged per column.
struct Labels {
  std::vector<int> parent;
  explicit Labels(int n = 0) : parent(static_cast<std::size_t>(n)) {
    std::iota(parent.begin(), parent.end(), 0);
  }
  int Root(int k) {
    while (parent[k] != k) k = parent[k] = parent[parent[k]];
    return k;
  }
  void Join(int a, int b) { parent[Root(a)] = Root(b); }
  void Merge(Labels other) {
    for (std::size_t k = 0; k < parent.size(); ++k)
      Join(static_cast<int>(k), other.Root(static_cast<int>(k)));
  }
};

using Dense = std::vector<double>;  // a region's vector or row-major matrix over its slots

// n n' / size added to (sign +1) or taken from (sign -1) a region matrix.
void AddOuter(Dense& matrix, std::size_t m, const Dense& n, double size, double sign) {
  for (std::size_t i = 0; i < m; ++i) {
    if (n[i] == 0.0) continue;
    for (std::size_t j = 0; j < m; ++j) matrix[i * m + j] += sign * n[i] * n[j] / size;
  }
}

}  // namespace

ReductionBasis::ReductionBasis(const RandomDesign& design, const std::vector<int>& expected,
                               const StopToken& stop)
    : design_(design) {
  // The leading columns, orthonormalised over the leading cells (weights: their sizes).
  const int ell = design.leadingCount;
  for (const std::vector<int>& cellsOfColumn : design.leadingColumns) {
    std::vector<double> v(static_cast<std::size_t>(ell), 0.0);
    for (const int l : cellsOfColumn) v[l] = 1.0;
    double original = 0.0;
    for (int l = 0; l < ell; ++l) original += design.leadingSize[l] * v[l] * v[l];
    for (int pass = 0; pass < 2; ++pass) {  // orthogonalised twice for accuracy
      for (const auto& q : leadingBasis_) {
        double dot = 0.0;
        for (int l = 0; l < ell; ++l) dot += design.leadingSize[l] * q[l] * v[l];
        for (int l = 0; l < ell; ++l) v[l] -= dot * q[l];
      }
    }
    double norm2 = 0.0;
    for (int l = 0; l < ell; ++l) norm2 += design.leadingSize[l] * v[l] * v[l];
    if (norm2 <= kDependent * original) continue;
    const double norm = std::sqrt(norm2);
    for (double& value : v) value /= norm;
    leadingBasis_.push_back(std::move(v));
  }
  leadingRank_ = static_cast<int>(leadingBasis_.size());
  ok_ = leadingRank_ == expected[0];
  rank_ = leadingRank_;

  // The random terms, level by level, cell by cell in parameter order.
  const std::size_t regions = design.regionLeading.size();
  for (int q = 1; q <= design.terms && ok_; ++q) {
    stop.ThrowIfStopped();
    const LevelCells& level = design.levels[q];
    const LevelCells& above = design.levels[q - 1];
    LevelBasis basis;
    basis.pivot.assign(static_cast<std::size_t>(level.count), -1);
    basis.norm.assign(static_cast<std::size_t>(level.count), 0.0);
    basis.share.assign(static_cast<std::size_t>(level.count), 0.0);
    basis.gamma.assign(static_cast<std::size_t>(level.count), {});
    basis.groupDot.assign(static_cast<std::size_t>(level.count), 0.0);

    auto slots = [&](std::size_t r) { return design.regionLeading[r].size(); };
    auto regionOf = [&](const std::vector<LeadingCount>& leading) {
      return static_cast<std::size_t>(design.leadingRegion[leading.front().first]);
    };
    auto dense = [&](const std::vector<LeadingCount>& leading, std::size_t m) {
      Dense v(m, 0.0);
      for (const auto& [l, count] : leading) v[design.leadingSlot[l]] += count;
      return v;
    };

    // Per region: D_L less the cells passed so far, the parents' terms, union-finds.
    std::vector<Dense> before(regions);
    std::vector<Dense> parentsAfter(regions);
    std::vector<Labels> prefix(regions);
    for (std::size_t r = 0; r < regions; ++r) {
      const std::size_t m = slots(r);
      before[r].assign(m * m, 0.0);
      for (std::size_t s = 0; s < m; ++s)
        before[r][s * m + s] = design.leadingSize[design.regionLeading[r][s]];
      parentsAfter[r].assign(m * m, 0.0);
      prefix[r] = Labels(static_cast<int>(m));
    }
    for (int p = 0; p < above.count; ++p) {
      const std::size_t r = regionOf(above.leading[p]);
      AddOuter(parentsAfter[r], slots(r), dense(above.leading[p], slots(r)), above.size[p], 1.0);
    }
    // The components joined by the parents after each parent, in its region.
    std::vector<Labels> suffix(static_cast<std::size_t>(above.count));
    {
      std::vector<Labels> running(regions);
      for (std::size_t r = 0; r < regions; ++r) running[r] = Labels(static_cast<int>(slots(r)));
      for (int p = above.count - 1; p >= 0; --p) {
        const std::size_t r = regionOf(above.leading[p]);
        suffix[p] = running[r];
        const auto& leading = above.leading[p];
        for (const auto& [l, count] : leading)
          running[r].Join(design.leadingSlot[l], design.leadingSlot[leading.front().first]);
      }
    }

    int independent = 0;
    for (int p = 0; p < above.count; ++p) {
      const int first = level.firstOfParent[p];
      const int end = level.endOfParent[p];
      if (first >= end) continue;
      const std::size_t r = regionOf(above.leading[p]);
      const std::size_t m = slots(r);
      const bool leading = m > 1;
      // The parent's own term leaves the "whole parents after" sum as its cells are split.
      AddOuter(parentsAfter[r], m, dense(above.leading[p], m), above.size[p], -1.0);
      // Suffix sums of the cells' sizes and compositions: the groups grp_k.
      std::vector<double> groupSize(static_cast<std::size_t>(end - first), 0.0);
      std::vector<Dense> groupCounts(static_cast<std::size_t>(end - first), Dense(m, 0.0));
      for (int k = end - 1; k >= first; --k) {
        const std::size_t at = static_cast<std::size_t>(k - first);
        groupSize[at] = level.size[k] + (k + 1 < end ? groupSize[at + 1] : 0.0);
        groupCounts[at] = dense(level.leading[k], m);
        if (k + 1 < end) {
          for (std::size_t s = 0; s < m; ++s) groupCounts[at][s] += groupCounts[at + 1][s];
        }
      }
      for (int k = first; k < end; ++k) {
        const std::size_t at = static_cast<std::size_t>(k - first);
        const double nk = level.size[k];
        const double ng = groupSize[at];
        const Dense nkL = dense(level.leading[k], m);
        const Dense& ngL = groupCounts[at];
        basis.share[k] = nk / ng;
        double norm2 = nk - nk * nk / ng;
        if (leading && k + 1 < end) {
          // G_k = D_L - cells before - parents after - the group.
          Dense g(m * m);
          for (std::size_t s = 0; s < m * m; ++s) g[s] = before[r][s] - parentsAfter[r][s];
          AddOuter(g, m, ngL, ng, -1.0);
          Labels labels = prefix[r];
          labels.Merge(suffix[p]);
          int anchor = -1;
          for (std::size_t s = 0; s < m; ++s) {
            if (ngL[s] == 0.0) continue;
            if (anchor < 0) anchor = static_cast<int>(s);
            labels.Join(static_cast<int>(s), anchor);
          }
          Dense w(m);
          for (std::size_t s = 0; s < m; ++s) w[s] = nkL[s] - nk / ng * ngL[s];
          std::vector<int> component;
          for (std::size_t s = 0; s < m; ++s) {
            if (labels.Root(static_cast<int>(s)) == labels.Root(anchor))
              component.push_back(static_cast<int>(s));
          }
          Dense gamma(m, 0.0);
          if (component.size() > 1) {
            const std::vector<int> free(component.begin() + 1, component.end());
            std::vector<double> factor;
            if (!SubmatrixCholesky(g, static_cast<int>(m), free, factor)) {
              ok_ = false;
              return;
            }
            const std::size_t f = free.size();
            std::vector<double> x(f);
            for (std::size_t i = 0; i < f; ++i) {
              double sum = w[free[i]];
              for (std::size_t j = 0; j < i; ++j) sum -= factor[i * f + j] * x[j];
              x[i] = sum / factor[i * f + i];
            }
            for (std::size_t i = f; i-- > 0;) {
              double sum = x[i];
              for (std::size_t j = i + 1; j < f; ++j) sum -= factor[j * f + i] * x[j];
              x[i] = sum / factor[i * f + i];
            }
            for (std::size_t i = 0; i < f; ++i) gamma[free[i]] = x[i];
          }
          double wGamma = 0.0;
          double groupDot = 0.0;
          for (std::size_t s = 0; s < m; ++s) {
            wGamma += w[s] * gamma[s];
            groupDot += ngL[s] / ng * gamma[s];
          }
          norm2 -= wGamma;
          basis.gamma[k] = std::move(gamma);
          basis.groupDot[k] = groupDot;
        }
        if (k + 1 < end && norm2 > kDependent * nk) {
          basis.pivot[k] = rank_++;
          basis.norm[k] = std::sqrt(norm2);
          ++independent;
        }
        // Cell k joins the cells before the next column.
        AddOuter(before[r], m, nkL, nk, -1.0);
        int anchor = -1;
        for (std::size_t s = 0; s < m; ++s) {
          if (nkL[s] == 0.0) continue;
          if (anchor < 0) anchor = static_cast<int>(s);
          prefix[r].Join(static_cast<int>(s), anchor);
        }
      }
    }
    ok_ = ok_ && independent == expected[q];
    levels_.push_back(std::move(basis));
  }
}

std::vector<double> ReductionBasis::Synthesise(const std::vector<double>& coefficients, int columns,
                                               const StopToken& stop) const {
  const RandomDesign& design = design_;
  const std::size_t cols = static_cast<std::size_t>(columns);
  const std::size_t atoms = static_cast<std::size_t>(design.atoms);
  std::vector<double> out(atoms * cols, 0.0);

  // The leading part is constant on the leading cells.
  const std::size_t ell = static_cast<std::size_t>(design.leadingCount);
  std::vector<double> onLeading(ell * cols, 0.0);
  for (std::size_t i = 0; i < leadingBasis_.size(); ++i) {
    const double* coefficient = coefficients.data() + i * cols;
    for (std::size_t l = 0; l < ell; ++l) {
      const double q = leadingBasis_[i][l];
      if (q == 0.0) continue;
      for (std::size_t c = 0; c < cols; ++c) onLeading[l * cols + c] += q * coefficient[c];
    }
  }
  for (std::size_t a = 0; a < atoms; ++a) {
    const double* from = onLeading.data() + static_cast<std::size_t>(design.atomLeading[a]) * cols;
    std::copy(from, from + cols, out.data() + a * cols);
  }

  for (int q = 1; q <= design.terms; ++q) {
    stop.ThrowIfStopped();
    const LevelCells& level = design.levels[q];
    const LevelCells& above = design.levels[q - 1];
    const LevelBasis& basis = levels_[q - 1];
    const std::size_t cells = static_cast<std::size_t>(level.count);
    // alpha_k = coefficient / |g_k| and the prefix sums the sums over k need: of
    // alpha_k n_k / n_grp, of alpha_k (grp_k's composition / n_grp)' gamma_k, and per
    // region of alpha_k gamma_k (before each cell).
    std::vector<double> alpha(cells * cols, 0.0);
    for (std::size_t k = 0; k < cells; ++k) {
      if (basis.pivot[k] < 0) continue;
      const double* coefficient =
          coefficients.data() + static_cast<std::size_t>(basis.pivot[k]) * cols;
      for (std::size_t c = 0; c < cols; ++c) alpha[k * cols + c] = coefficient[c] / basis.norm[k];
    }
    std::vector<double> shareSum(cells * cols, 0.0);  // inclusive prefix within the parent
    std::vector<double> dotSum(cells * cols, 0.0);
    const std::size_t regions = design.regionLeading.size();
    std::vector<std::vector<double>> regionTotal(regions);
    std::vector<std::vector<double>> gammaBefore(cells);  // slots x cols per cell (leading regions)
    for (std::size_t r = 0; r < regions; ++r)
      regionTotal[r].assign(design.regionLeading[r].size() * cols, 0.0);
    for (std::size_t k = 0; k < cells; ++k) {
      const bool first = k == 0 || level.parent[k] != level.parent[k - 1];
      for (std::size_t c = 0; c < cols; ++c) {
        const double a = alpha[k * cols + c];
        shareSum[k * cols + c] = (first ? 0.0 : shareSum[(k - 1) * cols + c]) + a * basis.share[k];
        dotSum[k * cols + c] = (first ? 0.0 : dotSum[(k - 1) * cols + c]) + a * basis.groupDot[k];
      }
      const std::size_t r =
          static_cast<std::size_t>(design.leadingRegion[level.leading[k].front().first]);
      const std::size_t m = design.regionLeading[r].size();
      if (m < 2) continue;
      gammaBefore[k] = regionTotal[r];
      if (basis.gamma[k].empty()) continue;
      for (std::size_t s = 0; s < m; ++s) {
        const double g = basis.gamma[k][s];
        if (g == 0.0) continue;
        for (std::size_t c = 0; c < cols; ++c)
          regionTotal[r][s * cols + c] += alpha[k * cols + c] * g;
      }
    }

    std::vector<double> value(cols);
    for (std::size_t a = 0; a < atoms; ++a) {
      const int k = design.atomCell[q][a];
      const int p = level.parent[k];
      const int first = level.firstOfParent[p];
      const int l = design.atomLeading[a];
      const std::size_t r = static_cast<std::size_t>(design.leadingRegion[l]);
      const std::size_t m = design.regionLeading[r].size();
      for (std::size_t c = 0; c < cols; ++c)
        value[c] = alpha[k * cols + c] - shareSum[k * cols + c];
      if (m >= 2) {
        // - Gamma_R[l] + Lbar_P' (sum before P) + sum over P's cells up to k of alpha
        // groupDot + Lbar_k' (sum after k).
        const std::size_t slot = static_cast<std::size_t>(design.leadingSlot[l]);
        const std::vector<double>& total = regionTotal[r];
        const std::vector<double>& beforeParent = gammaBefore[first];
        for (std::size_t c = 0; c < cols; ++c)
          value[c] += dotSum[k * cols + c] - total[slot * cols + c];
        for (const auto& [leadingCell, count] : above.leading[p]) {
          const std::size_t s = static_cast<std::size_t>(design.leadingSlot[leadingCell]);
          const double share = count / above.size[p];
          for (std::size_t c = 0; c < cols; ++c) value[c] += share * beforeParent[s * cols + c];
        }
        for (const auto& [leadingCell, count] : level.leading[k]) {
          const std::size_t s = static_cast<std::size_t>(design.leadingSlot[leadingCell]);
          const double share = count / level.size[k];
          const double* gk = basis.gamma[k].empty() ? nullptr : basis.gamma[k].data();
          for (std::size_t c = 0; c < cols; ++c) {
            const double after = total[s * cols + c] - gammaBefore[k][s * cols + c] -
                                 (gk != nullptr ? alpha[k * cols + c] * gk[s] : 0.0);
            value[c] += share * after;
          }
        }
      }
      double* target = out.data() + a * cols;
      for (std::size_t c = 0; c < cols; ++c) target[c] += value[c];
    }
  }
  return out;
}

std::vector<double> PairedResidualSums(const RandomDesign& design, const ReductionBasis& basis,
                                       const std::vector<int>& order,
                                       const std::vector<int>& atomOf,
                                       const std::vector<double>& residuals, int traits,
                                       int leadingRank, int randomRank, const StopToken& stop) {
  if (!basis.Ok()) return {};
  const int r = basis.Rank();
  const int s = randomRank;
  const std::size_t t = static_cast<std::size_t>(traits);
  const std::size_t atoms = static_cast<std::size_t>(design.atoms);
  auto residual = [&](int position) {
    return residuals.data() + static_cast<std::size_t>(order[position]) * t;
  };

  // The atoms of the top rows, in order of appearance.
  std::vector<int> topIndex(atoms, -1);
  std::vector<int> topAtoms;
  for (int j = 0; j < r; ++j) {
    const int a = atomOf[order[j]];
    if (topIndex[a] < 0) {
      topIndex[a] = static_cast<int>(topAtoms.size());
      topAtoms.push_back(a);
    }
  }
  const std::size_t m = topAtoms.size();

  // One synthesis for all of A's columns grouped by atom and for A eps_top.
  const std::size_t cols = m + t;
  std::vector<double> coefficients(static_cast<std::size_t>(r) * cols, 0.0);
  for (int j = 0; j < r; ++j) {
    double* row = coefficients.data() + static_cast<std::size_t>(j) * cols;
    row[topIndex[atomOf[order[j]]]] = 1.0;
    std::copy_n(residual(j), t, row + m);
  }
  const std::vector<double> synthesised =
      basis.Synthesise(coefficients, static_cast<int>(cols), stop);

  // (I - A C) kappa = A eps_top on the top atoms, one right-hand side per trait.
  std::vector<double> system(m * m);
  std::vector<double> kappa(m * t);
  for (std::size_t i = 0; i < m; ++i) {
    const double* row = synthesised.data() + static_cast<std::size_t>(topAtoms[i]) * cols;
    for (std::size_t j = 0; j < m; ++j) system[i * m + j] = (i == j ? 1.0 : 0.0) - row[j];
    for (std::size_t k = 0; k < t; ++k) kappa[k * m + i] = row[m + k];
  }
  std::vector<int> pivots;
  if (!DenseLU(system, static_cast<int>(m), pivots, [&] { stop.ThrowIfStopped(); })) return {};
  for (std::size_t k = 0; k < t; ++k) {
    DenseLUSolve(system, static_cast<int>(m), pivots, std::span<double>(kappa.data() + k * m, m));
  }

  // a = eps_top + C kappa, and the residual coordinates e_j = eps_j + (Q_1 a)(row j).
  std::vector<double> a(static_cast<std::size_t>(r) * t);
  for (int j = 0; j < r; ++j) {
    const int top = topIndex[atomOf[order[j]]];
    for (std::size_t k = 0; k < t; ++k) a[j * t + k] = residual(j)[k] + kappa[k * m + top];
  }
  const std::vector<double> qa = basis.Synthesise(a, traits, stop);
  std::vector<double> weights(static_cast<std::size_t>(r) * t, 0.0);
  for (int k = 0; k < s; ++k) {
    const int j = r + k;
    const double* from = qa.data() + static_cast<std::size_t>(atomOf[order[j]]) * t;
    for (std::size_t c = 0; c < t; ++c)
      weights[static_cast<std::size_t>(leadingRank + k) * t + c] = residual(j)[c] + from[c];
  }

  // e~ = sum over the random rows' basis vectors weighted by the residual coordinates,
  // summed over the lowest cells.
  const std::vector<double> paired = basis.Synthesise(weights, traits, stop);
  const int lowest = design.terms;
  std::vector<double> sums(static_cast<std::size_t>(design.levels[lowest].count) * t, 0.0);
  for (std::size_t at = 0; at < atoms; ++at) {
    const int c = design.atomCell[lowest][at];
    for (std::size_t k = 0; k < t; ++k) sums[c * t + k] += design.atomSize[at] * paired[at * t + k];
  }
  return sums;
}

}  // namespace quorvel
