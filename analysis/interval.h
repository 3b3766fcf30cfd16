// A confidence interval of an estimate. Undefined (both bounds NaN) where the method has
// no interval for the estimate, which writers print as such, never as a number.
#pragma once

#include <cmath>
#include <limits>

namespace quorvel {

struct Interval {
  double lower = std::numeric_limits<double>::quiet_NaN();
  double upper = std::numeric_limits<double>::quiet_NaN();
  double level = 0.95;  // the confidence level, e.g. 0.95
  // How it was computed: "chisq" (exact chi-square, residual variance), "satterthwaite"
  // (chi-square with Satterthwaite's degrees of freedom), "wald" (estimate +- z SE,
  // approximate), "t" (estimate +- t SE); empty while not computed.
  const char* method = "";

  bool Defined() const { return std::isfinite(lower) && std::isfinite(upper); }
};

}  // namespace quorvel
