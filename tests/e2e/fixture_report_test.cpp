// Every fixture workbook the import accepts, read by the workbook reader, validated and
// analysed, against the report computed independently for its data set. Numbers agree
// within 1.5 units of the last printed decimal; lines holding a division by zero (nan or
// inf on either side) depend on rounding and are not compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/commands/analysis_run.h"
#include "app/commands/open_command.h"
#include "tests/support/fake_platform.h"
#include "tests/support/report_compare.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

struct Expected {
  std::string dataSet;
  int model = 0;
};

void PrintTo(const Expected& e, std::ostream* out) { *out << e.dataSet << " model " << e.model; }

std::vector<Expected> ExpectedReports() {
  std::vector<Expected> reports;
  for (const auto& entry : fs::directory_iterator(std::string(QUORVEL_GOLDEN_DIR) + "/expected")) {
    const std::string name = entry.path().filename().string();  // NAME.modelK.txt
    const std::size_t dot = name.find(".model");
    if (dot == std::string::npos) continue;
    reports.push_back({name.substr(0, dot), name[dot + 6] - '0'});
  }
  std::sort(reports.begin(), reports.end(),
            [](const Expected& a, const Expected& b) { return a.dataSet < b.dataSet; });
  return reports;
}

class FixtureReport : public ::testing::TestWithParam<Expected> {};

TEST_P(FixtureReport, EveryWriterGivesTheIndependentReport) {
  const Expected& e = GetParam();
  setenv("SOURCE_DATE_EPOCH", "0", 1);
  setenv("TZ", "UTC", 1);
  const std::string expected =
      testing::ReadFile(std::string(QUORVEL_GOLDEN_DIR) + "/expected/" + e.dataSet + ".model" +
                        std::to_string(e.model) + ".txt");
  testing::CompareOptions options;
  options.ignoreNonFinite = true;

  int workbooks = 0;
  for (const auto& entry :
       fs::directory_iterator(std::string(QUORVEL_TEST_DATA) + "/xls/fixtures")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(e.dataSet + ".", 0) != 0 || entry.path().extension() != ".xls") continue;
    if (name.find('.', e.dataSet.size() + 1) == std::string::npos) continue;  // NAME.writer.xls
    ++workbooks;
    SCOPED_TRACE(name);

    const fs::path folder = fs::path(::testing::TempDir()) / ("fixture_report_" + name);
    fs::create_directories(folder);
    AppState state;
    state.dataFolder = folder.string() + "/";
    state.dataFileName = name;
    FakePlatform platform;
    std::shared_ptr<const DesignData> data = std::make_shared<const DesignData>();
    ASSERT_TRUE(ImportWorkbook(state, data, platform, entry.path().string()));
    ASSERT_EQ(static_cast<int>(data->kind), e.model);
    RunOutput output;
    ASSERT_EQ(RunModelAnalysis(*data, state, output), RunStatus::Done);

    const std::string actual = testing::ReadFile(state.reportPath);
    if (data->traitCount == 0) {
      // Without traits only the header is shared; the rest is this program's own layout.
      EXPECT_EQ(actual.substr(0, expected.size()), expected);
      continue;
    }
    const auto differences = testing::CompareReports(actual, expected, options);
    for (std::size_t k = 0; k < differences.size() && k < 10; ++k) {
      ADD_FAILURE() << "line " << differences[k].line << "\n  actual:   " << differences[k].actual
                    << "\n  expected: " << differences[k].expected;
    }
    EXPECT_TRUE(differences.empty()) << differences.size() << " lines differ";
  }
  EXPECT_GT(workbooks, 0) << "no workbook for " << e.dataSet;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureReport, ::testing::ValuesIn(ExpectedReports()),
                         [](const auto& param) { return param.param.dataSet; });

}  // namespace
}  // namespace quorvel
