// Cholesky factorisation of arrow-shaped normal matrices (independent groups + border).
#include "analysis/arrow_cholesky.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "analysis/model_coding.h"
#include "numeric/dense_factor.h"
#include "numeric/dense_kernels.h"

namespace quorvel {
namespace {

// Union-find over the bottom indices, to group those that restriction rows join.
class DisjointSets {
 public:
  explicit DisjointSets(int n) : parent_(static_cast<std::size_t>(n)) {
    std::iota(parent_.begin(), parent_.end(), 0);
  }
  int Find(int k) {
    while (parent_[k] != k) {
      parent_[k] = parent_[parent_[k]];
      k = parent_[k];
    }
    return k;
  }
  void Join(int a, int b) {
    a = Find(a);
    b = Find(b);
    if (a != b) parent_[std::max(a, b)] = std::min(a, b);
  }

 private:
  std::vector<int> parent_;
};

}  // namespace

ArrowMatrix AssembleNormalMatrix(const DesignCells& cells,
                                 const std::vector<std::vector<int>>& restrictionRows,
                                 int parameterCount, std::span<const int> columns, int bottomStart,
                                 int bottomEnd, std::span<const int> enforced) {
  ArrowMatrix a;
  a.size = static_cast<int>(columns.size());
  std::vector<int> local(static_cast<std::size_t>(parameterCount), -1);
  for (int k = 0; k < a.size; ++k) local[columns[k]] = k;
  auto isBottom = [&](int k) { return columns[k] >= bottomStart && columns[k] < bottomEnd; };

  // Group the bottom indices that a cell or a restriction row joins.
  DisjointSets sets(a.size);
  std::vector<int> kept;
  auto keptOf = [&](const std::vector<int>& row) {
    kept.clear();
    for (const int column : row) {
      if (local[column] >= 0) kept.push_back(local[column]);
    }
    return std::span<const int>(kept);
  };
  auto joinBottom = [&](std::span<const int> indices) {
    int first = -1;
    for (const int k : indices) {
      if (!isBottom(k)) continue;
      if (first < 0) {
        first = k;
      } else {
        sets.Join(first, k);
      }
    }
  };
  for (const auto& row : cells.columns) joinBottom(keptOf(row));

  // Restriction rows, shorter first; one that would join groups into more than
  // kMaxGroupSize indices becomes an extra border unknown.
  std::vector<int> groupSize(static_cast<std::size_t>(a.size), 0);
  for (int k = 0; k < a.size; ++k) {
    if (isBottom(k)) groupSize[sets.Find(k)] += 1;
  }
  std::vector<std::size_t> byLength(restrictionRows.size());
  std::iota(byLength.begin(), byLength.end(), std::size_t{0});
  std::stable_sort(byLength.begin(), byLength.end(), [&](std::size_t x, std::size_t y) {
    return restrictionRows[x].size() < restrictionRows[y].size();
  });
  std::vector<int> extraSlotOf(restrictionRows.size(), -1);
  std::vector<int> roots;
  for (const std::size_t r : byLength) {
    roots.clear();
    for (const int k : keptOf(restrictionRows[r])) {
      if (isBottom(k)) roots.push_back(sets.Find(k));
    }
    std::sort(roots.begin(), roots.end());
    roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
    if (roots.size() < 2) continue;
    std::size_t merged = 0;
    for (const int root : roots) merged += static_cast<std::size_t>(groupSize[root]);
    if (merged > kMaxGroupSize) {
      extraSlotOf[r] = a.extraSlots++;
      continue;
    }
    for (const int root : roots) sets.Join(roots[0], root);
    groupSize[sets.Find(roots[0])] = static_cast<int>(merged);
  }

  a.constraints = static_cast<int>(enforced.size());
  const std::size_t unknowns = static_cast<std::size_t>(a.size + a.constraints);
  a.groupOf.assign(unknowns, -1);
  a.slotOf.assign(unknowns, -1);
  std::vector<int> groupOfRoot(static_cast<std::size_t>(a.size), -1);
  for (int k = 0; k < a.size; ++k) {
    if (!isBottom(k)) {
      a.slotOf[k] = static_cast<int>(a.border.size());
      a.border.push_back(k);
      continue;
    }
    const int root = sets.Find(k);
    if (groupOfRoot[root] < 0) {
      groupOfRoot[root] = static_cast<int>(a.groups.size());
      a.groups.emplace_back();
    }
    const int g = groupOfRoot[root];
    a.groupOf[k] = g;
    a.slotOf[k] = static_cast<int>(a.groups[g].size());
    a.groups[g].push_back(k);
  }
  // Lagrange unknowns: in the group of all their row's parameters, else in the border.
  std::vector<std::vector<int>> enforcedKept(enforced.size());
  for (std::size_t j = 0; j < enforced.size(); ++j) {
    const std::span<const int> row = keptOf(restrictionRows[enforced[j]]);
    enforcedKept[j].assign(row.begin(), row.end());
    int group = -2;  // -2: none seen yet; -1: not one group
    for (const int k : enforcedKept[j]) {
      const int g = a.groupOf[k];
      group = g < 0 || (group >= 0 && group != g) ? -1 : (group == -2 ? g : group);
      if (group == -1) break;
    }
    const int unknown = a.size + static_cast<int>(j);
    if (group >= 0) {
      a.groupOf[unknown] = group;
      a.slotOf[unknown] = static_cast<int>(a.groups[group].size());
      a.groups[group].push_back(unknown);
    } else {
      a.slotOf[unknown] = static_cast<int>(a.border.size()) + a.extraSlots + a.constraintSlots++;
    }
  }
  const std::size_t s =
      a.border.size() + static_cast<std::size_t>(a.extraSlots + a.constraintSlots);
  a.borderBlock.assign(s * s, 0.0);
  a.groupBlocks.resize(a.groups.size());
  for (std::size_t g = 0; g < a.groups.size(); ++g) {
    a.groupBlocks[g].assign(a.groups[g].size() * a.groups[g].size(), 0.0);
  }
  a.couplings.resize(unknowns);

  // A = X'X + R'R: every cell adds its count, every restriction row adds 1, to each
  // ordered pair of its kept parameters.
  auto addProducts = [&](std::span<const int> indices, double weight) {
    for (const int i : indices) {
      const int gi = a.groupOf[i];
      for (const int j : indices) {
        const int gj = a.groupOf[j];
        if (gi < 0 && gj < 0) {
          a.borderBlock[static_cast<std::size_t>(a.slotOf[i]) * s + a.slotOf[j]] += weight;
        } else if (gi >= 0 && gj >= 0) {
          const std::size_t n = a.groups[gi].size();
          a.groupBlocks[gi][static_cast<std::size_t>(a.slotOf[i]) * n + a.slotOf[j]] += weight;
        } else if (gi >= 0) {
          auto& list = a.couplings[i];
          const int slot = a.slotOf[j];
          auto at = std::find_if(list.begin(), list.end(),
                                 [slot](const auto& entry) { return entry.first == slot; });
          if (at == list.end()) {
            list.emplace_back(slot, weight);
          } else {
            at->second += weight;
          }
        }
      }
    }
  };
  for (std::size_t c = 0; c < cells.columns.size(); ++c) {
    addProducts(keptOf(cells.columns[c]), static_cast<double>(cells.counts[c]));
  }
  for (std::size_t r = 0; r < restrictionRows.size(); ++r) {
    if (extraSlotOf[r] < 0) {
      addProducts(keptOf(restrictionRows[r]), 1.0);
      continue;
    }
    // The row's unknown z: coupled with weight 1 to each of its parameters, -1 on the
    // diagonal.
    const std::size_t z = a.border.size() + static_cast<std::size_t>(extraSlotOf[r]);
    for (const int i : keptOf(restrictionRows[r])) {
      if (a.groupOf[i] < 0) {
        a.borderBlock[static_cast<std::size_t>(a.slotOf[i]) * s + z] += 1.0;
        a.borderBlock[z * s + static_cast<std::size_t>(a.slotOf[i])] += 1.0;
      } else {
        a.couplings[i].emplace_back(static_cast<int>(z), 1.0);
      }
    }
    a.borderBlock[z * s + z] = -1.0;
  }
  // The enforced rows: 1 between each row's unknown and its parameters.
  auto addEntry = [&](int i, int j) {
    const int gi = a.groupOf[i];
    const int gj = a.groupOf[j];
    if (gi < 0 && gj < 0) {
      a.borderBlock[static_cast<std::size_t>(a.slotOf[i]) * s + a.slotOf[j]] += 1.0;
    } else if (gi >= 0 && gj >= 0) {
      const std::size_t n = a.groups[gi].size();
      a.groupBlocks[gi][static_cast<std::size_t>(a.slotOf[i]) * n + a.slotOf[j]] += 1.0;
    } else if (gi >= 0) {
      a.couplings[i].emplace_back(a.slotOf[j], 1.0);
    }
  };
  for (std::size_t j = 0; j < enforced.size(); ++j) {
    const int unknown = a.size + static_cast<int>(j);
    for (const int k : enforcedKept[j]) {
      addEntry(k, unknown);
      addEntry(unknown, k);
    }
  }
  for (auto& list : a.couplings) std::sort(list.begin(), list.end());
  return a;
}

bool ArrowCholesky::Factor(const ArrowMatrix& a) {
  size_ = a.size;
  border_ = a.border;
  borderConstraints_.clear();
  borderConstraintSlot_.clear();
  for (int j = 0; j < a.constraints; ++j) {
    if (a.groupOf[a.size + j] >= 0) continue;
    borderConstraints_.push_back(a.size + j);
    borderConstraintSlot_.push_back(a.slotOf[a.size + j]);
  }
  const int s = static_cast<int>(a.border.size()) + a.extraSlots + a.constraintSlots;
  borderSlots_ = s;
  pivots_.clear();
  borderFactor_ = a.borderBlock;
  groups_.clear();
  groups_.resize(a.groups.size());
  for (std::size_t g = 0; g < a.groups.size(); ++g) {
    Group& group = groups_[g];
    group.indices = a.groups[g];
    const int n = static_cast<int>(group.indices.size());
    group.factor = a.groupBlocks[g];
    const bool lagrange = group.indices.back() >= a.size;  // the unknowns come last
    if (lagrange ? !DenseLU(group.factor, n, group.pivots) : !DenseCholesky(group.factor, n))
      return false;

    for (const int k : group.indices) {
      for (const auto& [slot, value] : a.couplings[k]) group.touched.push_back(slot);
    }
    std::sort(group.touched.begin(), group.touched.end());
    group.touched.erase(std::unique(group.touched.begin(), group.touched.end()),
                        group.touched.end());
    const int t = static_cast<int>(group.touched.size());
    if (t == 0) continue;

    // coupling = L_g^-1 A_{g,touched}, built column by column.
    group.coupling.assign(static_cast<std::size_t>(n) * t, 0.0);
    for (int r = 0; r < n; ++r) {
      for (const auto& [slot, value] : a.couplings[group.indices[r]]) {
        const int c =
            static_cast<int>(std::lower_bound(group.touched.begin(), group.touched.end(), slot) -
                             group.touched.begin());
        group.coupling[static_cast<std::size_t>(r) * t + c] = value;
      }
    }
    if (lagrange) group.raw = group.coupling;
    std::vector<double> column(static_cast<std::size_t>(n));
    for (int c = 0; c < t; ++c) {
      for (int r = 0; r < n; ++r) column[r] = group.coupling[static_cast<std::size_t>(r) * t + c];
      if (lagrange) {
        DenseLUSolve(group.factor, n, group.pivots, column);
      } else {
        LowerSolve(group.factor, n, column.data());
      }
      for (int r = 0; r < n; ++r) group.coupling[static_cast<std::size_t>(r) * t + c] = column[r];
    }
    // Schur complement: S -= A_{touched,g} K_g^-1 A_{g,touched}, which is coupling'
    // coupling for a Cholesky factor and raw' coupling for an LU factor.
    const std::vector<double>& left = lagrange ? group.raw : group.coupling;
    for (int c1 = 0; c1 < t; ++c1) {
      for (int c2 = 0; c2 <= c1; ++c2) {
        double sum = 0.0;
        for (int r = 0; r < n; ++r) {
          sum += left[static_cast<std::size_t>(r) * t + c1] *
                 group.coupling[static_cast<std::size_t>(r) * t + c2];
        }
        const std::size_t i = static_cast<std::size_t>(group.touched[c1]);
        const std::size_t j = static_cast<std::size_t>(group.touched[c2]);
        borderFactor_[i * s + j] -= sum;
        if (i != j) borderFactor_[j * s + i] -= sum;
      }
    }
  }
  if (a.extraSlots > 0 || a.constraintSlots > 0) return DenseLU(borderFactor_, s, pivots_);
  return DenseCholesky(borderFactor_, s);
}

void ArrowCholesky::GroupSolve(const Group& group, double* v) const {
  const int n = static_cast<int>(group.indices.size());
  if (group.pivots.empty()) {
    LowerSolve(group.factor, n, v);
    LowerTransposeSolve(group.factor, n, v);
  } else {
    DenseLUSolve(group.factor, n, group.pivots, std::span<double>(v, static_cast<std::size_t>(n)));
  }
}

void ArrowCholesky::Solve(std::span<double> x) const {
  const int s = borderSlots_;
  std::vector<double> borderPart(static_cast<std::size_t>(s), 0.0);  // extra slots: 0
  for (std::size_t k = 0; k < border_.size(); ++k) borderPart[k] = x[border_[k]];
  for (std::size_t j = 0; j < borderConstraints_.size(); ++j)
    borderPart[borderConstraintSlot_[j]] = x[borderConstraints_[j]];

  std::vector<double> work;
  // Forward: the border right-hand side loses A_{touched,g} K_g^-1 x_g; for a Cholesky
  // factor that is coupling' (L_g^-1 x_g), which is kept for the backward pass.
  for (const Group& group : groups_) {
    const int n = static_cast<int>(group.indices.size());
    work.resize(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) work[r] = x[group.indices[r]];
    const int t = static_cast<int>(group.touched.size());
    if (group.pivots.empty()) {
      LowerSolve(group.factor, n, work.data());
      for (int r = 0; r < n; ++r) {
        const double* row = group.coupling.data() + static_cast<std::size_t>(r) * t;
        for (int c = 0; c < t; ++c) borderPart[group.touched[c]] -= row[c] * work[r];
      }
      for (int r = 0; r < n; ++r) x[group.indices[r]] = work[r];
    } else {
      for (int r = 0; r < n; ++r) {
        const double* row = group.coupling.data() + static_cast<std::size_t>(r) * t;
        for (int c = 0; c < t; ++c) borderPart[group.touched[c]] -= row[c] * work[r];
      }
    }
  }
  if (pivots_.empty()) {
    DenseCholeskySolve(borderFactor_, s, borderPart);
  } else {
    DenseLUSolve(borderFactor_, s, pivots_, borderPart);
  }
  for (std::size_t k = 0; k < border_.size(); ++k) x[border_[k]] = borderPart[k];
  for (std::size_t j = 0; j < borderConstraints_.size(); ++j)
    x[borderConstraints_[j]] = borderPart[borderConstraintSlot_[j]];

  // Backward: Cholesky: x_g = L_g^-T (z_g - coupling y); LU: x_g = K_g^-1 (b_g - raw y).
  for (const Group& group : groups_) {
    const int n = static_cast<int>(group.indices.size());
    const int t = static_cast<int>(group.touched.size());
    const std::vector<double>& coupling = group.pivots.empty() ? group.coupling : group.raw;
    work.resize(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) {
      const double* row = t > 0 ? coupling.data() + static_cast<std::size_t>(r) * t : nullptr;
      double value = x[group.indices[r]];
      for (int c = 0; c < t; ++c) value -= row[c] * borderPart[group.touched[c]];
      work[r] = value;
    }
    if (group.pivots.empty()) {
      LowerTransposeSolve(group.factor, n, work.data());
    } else {
      DenseLUSolve(group.factor, n, group.pivots, work);
    }
    for (int r = 0; r < n; ++r) x[group.indices[r]] = work[r];
  }
}

void ArrowCholesky::GroupSolve(int g, std::span<double> v) const {
  GroupSolve(groups_[static_cast<std::size_t>(g)], v.data());
}

void ArrowCholesky::AddBorderResponse(int g, std::span<const double> v, double scale,
                                      std::span<double> out) const {
  const Group& group = groups_[static_cast<std::size_t>(g)];
  const int n = static_cast<int>(group.indices.size());
  const int t = static_cast<int>(group.touched.size());
  if (t == 0) return;
  // C_g' G_g^-1 v = (L_g^-1 C_g)' (L_g^-1 v) for a Cholesky factor, (K_g^-1 C_g)' v for LU.
  std::vector<double> z(v.begin(), v.end());
  if (group.pivots.empty()) LowerSolve(group.factor, n, z.data());
  for (int r = 0; r < n; ++r) {
    if (z[r] == 0.0) continue;
    const double* row = group.coupling.data() + static_cast<std::size_t>(r) * t;
    const double zr = scale * z[r];
    for (int c = 0; c < t; ++c) out[group.touched[c]] += row[c] * zr;
  }
}

void ArrowCholesky::BorderSolve(std::span<double> v) const {
  if (pivots_.empty()) {
    DenseCholeskySolve(borderFactor_, borderSlots_, v);
  } else {
    DenseLUSolve(borderFactor_, borderSlots_, pivots_, v);
  }
}

}  // namespace quorvel
