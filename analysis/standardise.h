// Standardised trait values: (y - mean) / scale, so that sums of squares stay within a few
// orders of the number of observations whatever the trait's units.
#pragma once

#include <span>
#include <vector>

namespace quorvel {

struct Standardisation {
  double mean = 0.0;
  double scale = 1.0;  // the root mean square of y - mean; 1 when that is 0 or not finite
};

// Writes (y - mean) / scale into `out` and returns the mean and scale. The mean is formed
// on y divided by its largest magnitude and the scale on the deviations divided by theirs,
// so that no sum leaves the range of doubles for values anywhere between 1e-300 and 1e300.
Standardisation Standardise(std::span<const double> y, std::vector<double>& out);

}  // namespace quorvel
