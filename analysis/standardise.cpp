// Standardised trait values.
#include "analysis/standardise.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

Standardisation Standardise(std::span<const double> y, std::vector<double>& out) {
  Standardisation s;
  const std::size_t n = y.size();
  out.assign(y.begin(), y.end());
  if (n == 0) return s;
  double largest = 0.0;
  for (const double v : y) largest = std::max(largest, std::fabs(v));
  if (largest > 0.0 && std::isfinite(largest)) {
    double mean = 0.0;
    for (const double v : y) mean += v / largest;
    s.mean = mean / static_cast<double>(n) * largest;
  }
  double spread = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = y[i] - s.mean;
    spread = std::max(spread, std::fabs(out[i]));
  }
  if (spread > 0.0 && std::isfinite(spread)) {
    double sum = 0.0;
    for (const double v : out) sum += (v / spread) * (v / spread);
    s.scale = spread * std::sqrt(sum / static_cast<double>(n));
  }
  for (double& v : out) v /= s.scale;
  return s;
}

}  // namespace quorvel
