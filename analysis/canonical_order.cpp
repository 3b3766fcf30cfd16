// The canonical order of observations.
#include "analysis/canonical_order.h"

#include <algorithm>
#include <numeric>

namespace quorvel {

std::vector<int> CanonicalOrder(const DesignData& data) {
  std::vector<int> order(static_cast<std::size_t>(data.observationCount));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    for (int f = 0; f < data.factorCount; ++f) {
      const std::int32_t ca = data.factorCodes[f][a];
      const std::int32_t cb = data.factorCodes[f][b];
      if (ca != cb) return ca < cb;
    }
    for (int t = 0; t < data.traitCount; ++t) {
      const double va = data.traitValues[t][a];
      const double vb = data.traitValues[t][b];
      if (va != vb) return va < vb;
    }
    return false;
  });
  return order;
}

DesignData InCanonicalOrder(const DesignData& data) {
  return ReorderObservations(data, CanonicalOrder(data));
}

DesignData ReorderObservations(const DesignData& data, const std::vector<int>& order) {
  DesignData out = data;
  for (int f = 0; f < data.factorCount; ++f) {
    for (std::size_t k = 0; k < order.size(); ++k)
      out.factorCodes[f][k] = data.factorCodes[f][order[k]];
  }
  for (int t = 0; t < data.traitCount; ++t) {
    for (std::size_t k = 0; k < order.size(); ++k)
      out.traitValues[t][k] = data.traitValues[t][order[k]];
  }
  return out;
}

}  // namespace quorvel
