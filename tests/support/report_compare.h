// Test support: comparison of two reports line by line, numbers within a tolerance of the
// last printed decimal, everything else exactly.
#pragma once

#include <string>
#include <vector>

namespace quorvel::testing {

struct ReportDifference {
  int line = 0;  // 1-based
  std::string actual;
  std::string expected;
};

struct CompareOptions {
  double lastDigitUnits = 1.5;  // allowed difference, in units of the last printed decimal
  bool ignoreNonFinite = false; // lines where either side prints nan or inf are not compared
};

// The lines that differ. Lines are split at LF with their CR kept out of the comparison
// only when both sides have it.
std::vector<ReportDifference> CompareReports(const std::string& actual, const std::string& expected,
                                             const CompareOptions& options = {});

std::string ReadFile(const std::string& path);

}  // namespace quorvel::testing
