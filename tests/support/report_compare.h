// Test support: layout-exact comparison of two reports. Every character outside the
// numbers must be the same, line ends included; each number must end in the same column,
// carry the same decimals and agree within a tolerance of its last printed decimal; "nan"
// and "-nan" are the same token. No line is ever skipped.
#pragma once

#include <string>
#include <vector>

namespace quorvel::testing {

struct ReportDifference {
  int line = 0;  // 1-based
  std::string actual;
  std::string expected;
  std::string why;
};

struct CompareOptions {
  double lastDigitUnits = 1.5;  // allowed difference, in units of the last printed decimal
  // Lines (1-based) whose numbers are known to differ: only their layout is compared.
  std::vector<int> layoutOnlyLines;
};

// The lines that differ. Lines are split after each LF; a CR before it belongs to the line
// and must be on both sides.
std::vector<ReportDifference> CompareReports(const std::string& actual, const std::string& expected,
                                             const CompareOptions& options = {});

// The differences as a readable failure message (at most `limit` of them).
std::string DescribeDifferences(const std::vector<ReportDifference>& differences,
                                std::size_t limit = 10);

// The places where the program knowingly prints another value than an independent report
// of a data set, from tests/golden/known_differences.tsv: the report lines, for
// CompareOptions::layoutOnlyLines, and the names check_exports.py gives their numbers.
struct KnownDifferences {
  std::vector<int> lines;
  std::vector<std::string> numbers;
};
KnownDifferences KnownDifferencesOf(const std::string& goldenDir, const std::string& dataSet);

std::string ReadFile(const std::string& path);

}  // namespace quorvel::testing
