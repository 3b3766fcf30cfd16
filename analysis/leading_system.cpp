// The leading effects after a partition is absorbed.
#include "analysis/leading_system.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace quorvel {
namespace {

int Root(std::vector<int>& parent, int k) {
  while (parent[k] != k) k = parent[k] = parent[parent[k]];
  return k;
}

}  // namespace

bool SubmatrixCholesky(const std::vector<double>& matrix, int n, const std::vector<int>& indices,
                       std::vector<double>& factor) {
  const int m = static_cast<int>(indices.size());
  factor.assign(static_cast<std::size_t>(m) * m, 0.0);
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j <= i; ++j) {
      double sum = matrix[static_cast<std::size_t>(indices[i]) * n + indices[j]];
      for (int k = 0; k < j; ++k)
        sum -= factor[static_cast<std::size_t>(i) * m + k] *
               factor[static_cast<std::size_t>(j) * m + k];
      if (i == j) {
        if (!(sum > 0.0)) return false;
        factor[static_cast<std::size_t>(i) * m + i] = std::sqrt(sum);
      } else {
        factor[static_cast<std::size_t>(i) * m + j] =
            sum / factor[static_cast<std::size_t>(j) * m + j];
      }
    }
  }
  return true;
}

LeadingSystem::LeadingSystem(const RandomDesign& design, const std::vector<double>& size,
                             const std::vector<std::vector<LeadingCount>>& leading) {
  const std::size_t regionCount = design.regionLeading.size();
  regions_.resize(regionCount);
  for (std::size_t r = 0; r < regionCount; ++r) {
    Region& region = regions_[r];
    region.size = static_cast<int>(design.regionLeading[r].size());
    region.matrix.assign(static_cast<std::size_t>(region.size) * region.size, 0.0);
    for (int s = 0; s < region.size; ++s) {
      region.matrix[static_cast<std::size_t>(s) * region.size + s] =
          design.leadingSize[design.regionLeading[r][s]];
    }
  }
  // G = D_L - sum over groups of n_g n_g' / n_g, and the components joined by the groups.
  std::vector<std::vector<int>> parent(regionCount);
  for (std::size_t r = 0; r < regionCount; ++r) {
    parent[r].resize(static_cast<std::size_t>(regions_[r].size));
    std::iota(parent[r].begin(), parent[r].end(), 0);
  }
  for (std::size_t g = 0; g < size.size(); ++g) {
    const auto& counts = leading[g];
    if (counts.empty()) continue;
    const int r = design.leadingRegion[counts.front().first];
    Region& region = regions_[static_cast<std::size_t>(r)];
    const int first = design.leadingSlot[counts.front().first];
    for (const auto& [l, nl] : counts) {
      const int sl = design.leadingSlot[l];
      parent[r][Root(parent[r], sl)] = Root(parent[r], first);
      for (const auto& [m, nm] : counts) {
        region.matrix[static_cast<std::size_t>(sl) * region.size + design.leadingSlot[m]] -=
            nl * nm / size[g];
      }
    }
  }
  for (std::size_t r = 0; r < regionCount; ++r) {
    Region& region = regions_[r];
    std::vector<int> componentOf(static_cast<std::size_t>(region.size), -1);
    for (int s = 0; s < region.size; ++s) {
      const int root = Root(parent[r], s);
      if (componentOf[root] < 0) {
        componentOf[root] = static_cast<int>(region.components.size());
        region.components.emplace_back();
      }
      region.components[componentOf[root]].slots.push_back(s);
    }
    for (Component& component : region.components) {
      const std::vector<int> free(component.slots.begin() + 1, component.slots.end());
      component.ok = SubmatrixCholesky(region.matrix, region.size, free, component.factor);
    }
    // The generalised inverse, column by column.
    region.inverse.assign(static_cast<std::size_t>(region.size) * region.size, 0.0);
    std::vector<double> unit(static_cast<std::size_t>(region.size));
    std::vector<double> column(static_cast<std::size_t>(region.size));
    for (int s = 0; s < region.size; ++s) {
      std::fill(unit.begin(), unit.end(), 0.0);
      unit[s] = 1.0;
      Solve(static_cast<int>(r), unit, column);
      for (int t = 0; t < region.size; ++t)
        region.inverse[static_cast<std::size_t>(t) * region.size + s] = column[t];
    }
  }
}

bool LeadingSystem::Solve(int region, std::span<const double> w, std::span<double> gamma) const {
  const Region& data = regions_[static_cast<std::size_t>(region)];
  bool ok = true;
  for (const Component& component : data.components) {
    const int m = static_cast<int>(component.slots.size()) - 1;
    gamma[component.slots[0]] = 0.0;
    if (!component.ok) {
      for (const int s : component.slots) gamma[s] = std::numeric_limits<double>::quiet_NaN();
      ok = false;
      continue;
    }
    // L L' x = w on the free slots: forward, then backward substitution.
    std::vector<double> x(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) {
      double sum = w[component.slots[i + 1]];
      for (int k = 0; k < i; ++k)
        sum -= component.factor[static_cast<std::size_t>(i) * m + k] * x[k];
      x[i] = sum / component.factor[static_cast<std::size_t>(i) * m + i];
    }
    for (int i = m - 1; i >= 0; --i) {
      double sum = x[i];
      for (int k = i + 1; k < m; ++k)
        sum -= component.factor[static_cast<std::size_t>(k) * m + i] * x[k];
      x[i] = sum / component.factor[static_cast<std::size_t>(i) * m + i];
    }
    for (int i = 0; i < m; ++i) gamma[component.slots[i + 1]] = x[i];
  }
  return ok;
}

}  // namespace quorvel
