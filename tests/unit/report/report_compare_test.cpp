// The layout-exact comparison the report tests rest on: it must catch a column moved by
// one character, a lost CR, a number off by more than its last digit, and let rounding
// and the sign of a not-a-number pass.
#include "tests/support/report_compare.h"

#include <gtest/gtest.h>

namespace quorvel::testing {
namespace {

const std::string kLine =
    "      Model              19       62881.9571          3309.5767      4.8305    0.0000\r\n";

std::size_t Differences(const std::string& actual, const std::string& expected,
                        CompareOptions options = {}) {
  return CompareReports(actual, expected, options).size();
}

TEST(CompareReports, PassesRoundingAndTheSignOfNotANumber) {
  EXPECT_EQ(Differences(kLine, kLine), 0u);
  std::string rounded = kLine;
  rounded.replace(rounded.find("62881.9571"), 10, "62881.9572");
  EXPECT_EQ(Differences(rounded, kLine), 0u);
  EXPECT_EQ(Differences("   Sigma_M    -nan   (  -nan)\r\n", "   Sigma_M     nan   (   nan)\r\n"),
            0u);
  // A zero printed with a minus sign keeps its field: it ends in the same column.
  EXPECT_EQ(Differences("      F(5,2)    -0.0000\r\n", "      F(5,2)     0.0000\r\n"), 0u);
}

TEST(CompareReports, CatchesLayoutNumbersAndLineEnds) {
  std::string moved = kLine;
  moved.insert(moved.find("3309.5767"), " ");  // one column to the right
  EXPECT_EQ(Differences(moved, kLine), 1u);
  std::string shifted = kLine;
  shifted.erase(shifted.find("  3309.5767"), 1);  // one column to the left
  shifted.insert(shifted.find("4.8305"), " ");
  EXPECT_EQ(Differences(shifted, kLine), 1u);
  std::string off = kLine;
  off.replace(off.find("3309.5767"), 9, "3309.5770");
  EXPECT_EQ(Differences(off, kLine), 1u);
  std::string decimals = kLine;
  decimals.replace(decimals.find(" 4.8305"), 7, "4.83050");
  EXPECT_EQ(Differences(decimals, kLine), 1u);
  EXPECT_EQ(Differences("      Model   19\n", "      Model   19\r\n"), 1u);
  EXPECT_EQ(Differences("      Model   18\r\n", "      Model   19\r\n"), 1u)
      << "whole numbers are text";
  EXPECT_EQ(Differences("   M2   nan\r\n", "   M2   0.1000\r\n"), 1u);
  EXPECT_EQ(Differences("   M2   inf\r\n", "   M2   nan\r\n"), 1u);
  EXPECT_EQ(Differences(kLine + kLine, kLine), 1u) << "a line too many";
}

TEST(CompareReports, LayoutOnlyLinesStillCompareTheirLayout) {
  CompareOptions options;
  options.layoutOnlyLines = {1};
  EXPECT_EQ(Differences("   Sigma_E   1.0000   78.7978\r\n", "   Sigma_E   1.0000       nan\r\n",
                        options),
            0u);
  EXPECT_EQ(
      Differences("   Sigma_E   1.0000  78.7978\r\n", "   Sigma_E   1.0000       nan\r\n", options),
      1u);
}

}  // namespace
}  // namespace quorvel::testing
