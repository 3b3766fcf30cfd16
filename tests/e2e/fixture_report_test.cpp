// Every fixture workbook the import accepts, analysed by quorvel-cli as a user runs it:
// - the report on standard output and in result.txt are the same bytes;
// - it matches the report computed independently for its data set layout-exactly
//   (tests/golden/expected; numbers within 1.5 units of their last decimal);
// - the report of the data set's first workbook equals, byte for byte, the program's own
//   report kept in tests/golden/reports (regenerated with QUORVEL_REGENERATE_GOLDENS=1),
//   and its JSON, CSV and .xlsx exports carry the same numbers, the JSON valid under
//   docs/result.schema.json, checked by tests/e2e/check_exports.py with independent
//   readers (Python's json, csv, jsonschema and openpyxl).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/report_compare.h"
#include "tests/support/run_program.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

struct Expected {
  std::string dataSet;
  int model = 0;
  std::string Name() const { return dataSet + ".model" + std::to_string(model) + ".txt"; }
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

// The workbooks of a data set: NAME.<writer>.xls.
std::vector<fs::path> Workbooks(const std::string& dataSet) {
  std::vector<fs::path> books;
  for (const auto& entry :
       fs::directory_iterator(std::string(QUORVEL_TEST_DATA) + "/xls/fixtures")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(dataSet + ".", 0) != 0 || entry.path().extension() != ".xls") continue;
    if (name.find('.', dataSet.size() + 1) == std::string::npos) continue;
    books.push_back(entry.path());
  }
  std::sort(books.begin(), books.end());
  return books;
}

bool Regenerating() {
  const char* value = std::getenv("QUORVEL_REGENERATE_GOLDENS");
  return value != nullptr && std::string(value) == "1";
}

class FixtureReport : public ::testing::TestWithParam<Expected> {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("fixture_report_" + std::to_string(::getpid()) + "_" + GetParam().dataSet);
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  testing::ProgramRun Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QUORVEL_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return testing::RunProgram(argv, folder_.string());
  }

  fs::path folder_;
};

TEST_P(FixtureReport, CliReportIsLayoutExactAndExportsCarryItsNumbers) {
  const Expected& e = GetParam();
  const std::string golden = std::string(QUORVEL_GOLDEN_DIR);
  const std::string independent = testing::ReadFile(golden + "/expected/" + e.Name());
  const std::string snapshotPath = golden + "/reports/" + e.Name();
  const std::vector<fs::path> books = Workbooks(e.dataSet);
  ASSERT_FALSE(books.empty()) << "no workbook for " << e.dataSet;
  const testing::KnownDifferences known = testing::KnownDifferencesOf(golden, e.dataSet);
  testing::CompareOptions options;
  options.layoutOnlyLines = known.lines;

  for (const fs::path& book : books) {
    SCOPED_TRACE(book.filename().string());
    const fs::path out = folder_ / book.stem();
    fs::create_directories(out);
    const testing::ProgramRun run = Cli({"analyze", book.string(), "--output-dir", out.string(),
                                         "--model", std::to_string(e.model)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Nothing on standard error but, for a sheet whose last row leaves a trait out, the
    // warning that says so.
    EXPECT_TRUE(run.err.empty() || run.err.rfind("quorvel-cli: warning: Trait column", 0) == 0)
        << run.err;
    const std::string report = run.out;
    EXPECT_EQ(testing::ReadFile((out / "result.txt").string()), report)
        << "result.txt and standard output";

    // Without traits the independent report holds the header only; the rest is checked
    // by the snapshot.
    const bool traitless = independent.find("for trait 1:") == std::string::npos;
    const std::string compared = traitless ? report.substr(0, independent.size()) : report;
    const auto differences = testing::CompareReports(compared, independent, options);
    EXPECT_TRUE(differences.empty()) << testing::DescribeDifferences(differences);

    // The first writer's workbook: its report byte for byte as kept, and its exports. (The
    // writers store some values differently in their last bits, which shows in the sign
    // of a printed zero.)
    if (book != books.front()) continue;
    if (Regenerating()) std::ofstream(snapshotPath, std::ios::binary) << report;
    EXPECT_EQ(report, testing::ReadFile(snapshotPath))
        << "differs from " << snapshotPath << " (QUORVEL_REGENERATE_GOLDENS=1 rewrites it)";

    const testing::ProgramRun json =
        Cli({"analyze", book.string(), "--output-dir", out.string(), "--format", "json", "--export",
             (out / "result.xlsx").string()});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    std::ofstream((out / "result.json").string(), std::ios::binary) << json.out;
    const testing::ProgramRun csv = Cli({"analyze", book.string(), "--output-dir", out.string(),
                                         "--export", (out / "result.csv").string()});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(csv.out, report) << "--export keeps the report on standard output";
    std::vector<std::string> check{"/usr/bin/python3",
                                   QUORVEL_CHECK_EXPORTS,
                                   QUORVEL_SCHEMA,
                                   golden + "/expected/" + e.Name(),
                                   (out / "result.json").string(),
                                   (out / "result.csv").string(),
                                   (out / "result.xlsx").string()};
    check.insert(check.end(), known.numbers.begin(), known.numbers.end());
    const testing::ProgramRun checked = testing::RunProgram(check, folder_.string());
    EXPECT_EQ(checked.exitCode, 0)
        << checked.err << checked.out
        << "(the check needs Debian's python3-jsonschema and python3-openpyxl)";
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureReport, ::testing::ValuesIn(ExpectedReports()),
                         [](const auto& param) { return param.param.dataSet; });

}  // namespace
}  // namespace quorvel
