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

}  // namespace quorvel
