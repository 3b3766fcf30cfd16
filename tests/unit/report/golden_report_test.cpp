// Whole reports of the analysis against reports computed independently for the same data
// sets, layout-exact (numbers within 1.5 units of the last printed decimal).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "analysis/analyze_design.h"
#include "report/text_report.h"
#include "tests/support/csv_design.h"
#include "tests/support/report_compare.h"

namespace quorvel {
namespace {

struct GoldenCase {
  const char* dataSet;
  int model;
};

void PrintTo(const GoldenCase& c, std::ostream* out) { *out << c.dataSet << " model " << c.model; }

constexpr const char* kEpochText = "Thu Jan  1 00:00:00 1970";

std::string RunReport(const DesignData& data) {
  return FormatTextReport(AnalyzeDesign(data), kEpochText);
}

std::string Expected(const std::string& name, int model) {
  return testing::ReadFile(std::string(QUORVEL_GOLDEN_DIR) + "/expected/" + name + ".model" +
                           std::to_string(model) + ".txt");
}

class GoldenReport : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenReport, MatchesTheIndependentReport) {
  const GoldenCase& c = GetParam();
  const DesignData data =
      testing::LoadDesignCsv(std::string(QUORVEL_TEST_DATA) + "/analysis/" + c.dataSet + ".csv");
  ASSERT_EQ(static_cast<int>(data.kind), c.model);
  const std::string actual = RunReport(data);
  const std::string expected = Expected(c.dataSet, c.model);
  const auto differences = testing::CompareReports(actual, expected);
  EXPECT_TRUE(differences.empty()) << testing::DescribeDifferences(differences, 20);
}

// Without traits the report holds the header, the random-model box and the correlation
// frames without rows, and the run ends normally.
TEST(GoldenReportWithoutTraits, HeaderAsExpectedThenEmptyFrames) {
  for (const GoldenCase c :
       {GoldenCase{"blocked_no_traits", 2}, GoldenCase{"repeat_no_traits", 1}}) {
    const DesignData data =
        testing::LoadDesignCsv(std::string(QUORVEL_TEST_DATA) + "/analysis/" + c.dataSet + ".csv");
    ASSERT_EQ(data.traitCount, 0);
    const std::string actual = RunReport(data);
    const std::string expected = Expected(c.dataSet, c.model);
    EXPECT_EQ(actual.substr(0, expected.size()), expected) << c.dataSet;
    const std::string emptyFrame =
        "   ==============\r\n       Trait     \r\n   --------------\r\n   ==============\r\n\r\n";
    std::size_t frames = 0;
    for (std::size_t at = actual.find(emptyFrame); at != std::string::npos;
         at = actual.find(emptyFrame, at + 1)) {
      ++frames;
    }
    EXPECT_EQ(frames, c.model == 1 ? 3u : 2u) << c.dataSet;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, GoldenReport,
    ::testing::Values(GoldenCase{"nested_balanced", 3}, GoldenCase{"nested_unbalanced", 3},
                      GoldenCase{"blocked_balanced", 2}, GoldenCase{"blocked_unbalanced", 2},
                      GoldenCase{"repeat_balanced", 1}, GoldenCase{"repeat_unbalanced", 1},
                      GoldenCase{"nested_10000", 3}),
    [](const auto& param) { return std::string(param.param.dataSet); });

}  // namespace
}  // namespace quorvel
