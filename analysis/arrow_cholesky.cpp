// Cholesky factorisation of arrow-shaped normal matrices (independent groups + border).
#include "analysis/arrow_cholesky.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "numeric/dense_factor.h"
#include "numeric/dense_kernels.h"
#include "analysis/model_coding.h"

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
                                 int parameterCount, std::span<const int> columns,
                                 int bottomStart, int bottomEnd) {
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

  a.groupOf.assign(static_cast<std::size_t>(a.size), -1);
  a.slotOf.assign(static_cast<std::size_t>(a.size), -1);
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
  const std::size_t s = a.border.size() + static_cast<std::size_t>(a.extraSlots);
  a.borderBlock.assign(s * s, 0.0);
  a.groupBlocks.resize(a.groups.size());
  for (std::size_t g = 0; g < a.groups.size(); ++g) {
    a.groupBlocks[g].assign(a.groups[g].size() * a.groups[g].size(), 0.0);
  }
  a.couplings.resize(static_cast<std::size_t>(a.size));

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
  for (auto& list : a.couplings) std::sort(list.begin(), list.end());
  return a;
}

bool ArrowCholesky::Factor(const ArrowMatrix& a) {
  size_ = a.size;
  border_ = a.border;
  const int s = static_cast<int>(a.border.size()) + a.extraSlots;
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
    if (!DenseCholesky(group.factor, n)) return false;

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
        const int c = static_cast<int>(
            std::lower_bound(group.touched.begin(), group.touched.end(), slot) -
            group.touched.begin());
        group.coupling[static_cast<std::size_t>(r) * t + c] = value;
      }
    }
    std::vector<double> column(static_cast<std::size_t>(n));
    for (int c = 0; c < t; ++c) {
      for (int r = 0; r < n; ++r) column[r] = group.coupling[static_cast<std::size_t>(r) * t + c];
      LowerSolve(group.factor, n, column.data());
      for (int r = 0; r < n; ++r) group.coupling[static_cast<std::size_t>(r) * t + c] = column[r];
    }
    // Schur complement: S -= coupling' coupling on the touched slots.
    for (int c1 = 0; c1 < t; ++c1) {
      for (int c2 = 0; c2 <= c1; ++c2) {
        double sum = 0.0;
        for (int r = 0; r < n; ++r) {
          sum += group.coupling[static_cast<std::size_t>(r) * t + c1] *
                 group.coupling[static_cast<std::size_t>(r) * t + c2];
        }
        const std::size_t i = static_cast<std::size_t>(group.touched[c1]);
        const std::size_t j = static_cast<std::size_t>(group.touched[c2]);
        borderFactor_[i * s + j] -= sum;
        if (i != j) borderFactor_[j * s + i] -= sum;
      }
    }
  }
  if (a.extraSlots > 0) return DenseLU(borderFactor_, s, pivots_);
  return DenseCholesky(borderFactor_, s);
}

void ArrowCholesky::Solve(std::span<double> x) const {
  const int s = borderSlots_;
  std::vector<double> borderPart(static_cast<std::size_t>(s), 0.0);  // extra slots: 0
  for (std::size_t k = 0; k < border_.size(); ++k) borderPart[k] = x[border_[k]];

  std::vector<double> work;
  // Forward: z_g = L_g^-1 x_g, then the border right-hand side loses coupling' z_g.
  for (const Group& group : groups_) {
    const int n = static_cast<int>(group.indices.size());
    work.resize(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) work[r] = x[group.indices[r]];
    LowerSolve(group.factor, n, work.data());
    const int t = static_cast<int>(group.touched.size());
    for (int r = 0; r < n; ++r) {
      const double* row = group.coupling.data() + static_cast<std::size_t>(r) * t;
      for (int c = 0; c < t; ++c) borderPart[group.touched[c]] -= row[c] * work[r];
    }
    for (int r = 0; r < n; ++r) x[group.indices[r]] = work[r];
  }
  if (pivots_.empty()) {
    DenseCholeskySolve(borderFactor_, s, borderPart);
  } else {
    DenseLUSolve(borderFactor_, s, pivots_, borderPart);
  }
  for (std::size_t k = 0; k < border_.size(); ++k) x[border_[k]] = borderPart[k];

  // Backward: x_g = L_g^-T (z_g - coupling w).
  for (const Group& group : groups_) {
    const int n = static_cast<int>(group.indices.size());
    const int t = static_cast<int>(group.touched.size());
    work.resize(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) {
      const double* row = group.coupling.data() + static_cast<std::size_t>(r) * t;
      double value = x[group.indices[r]];
      for (int c = 0; c < t; ++c) value -= row[c] * borderPart[group.touched[c]];
      work[r] = value;
    }
    LowerTransposeSolve(group.factor, n, work.data());
    for (int r = 0; r < n; ++r) x[group.indices[r]] = work[r];
  }
}

void ArrowCholesky::GroupSolve(int g, std::span<double> v) const {
  const Group& group = groups_[static_cast<std::size_t>(g)];
  const int n = static_cast<int>(group.indices.size());
  LowerSolve(group.factor, n, v.data());
  LowerTransposeSolve(group.factor, n, v.data());
}

void ArrowCholesky::AddBorderResponse(int g, std::span<const double> v, double scale,
                                      std::span<double> out) const {
  const Group& group = groups_[static_cast<std::size_t>(g)];
  const int n = static_cast<int>(group.indices.size());
  const int t = static_cast<int>(group.touched.size());
  if (t == 0) return;
  // C_g' G_g^-1 v = (L_g^-1 C_g)' (L_g^-1 v).
  std::vector<double> z(v.begin(), v.end());
  LowerSolve(group.factor, n, z.data());
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
