// The batch summary: which number lands in which column for each model, and what the
// writers make of counts, numbers that are not finite and messages that need quoting.
#include "export/summary_export.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>

namespace quorvel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A result of `kind` with made-up, distinct numbers: component k of trait t has estimate
// 10 t + k, its SE a tenth of that, F 100 + that, p a thousandth.
AnalysisResult MadeUpResult(ModelKind kind, int traits) {
  AnalysisResult result;
  result.kind = kind;
  result.observationCount = 158;
  const std::vector<std::string> names =
      kind == ModelKind::BlockedRepeat
          ? std::vector<std::string>{"Block", "Male", "Female", "Repeat"}
      : kind == ModelKind::Blocked ? std::vector<std::string>{"Block", "Male", "Female"}
                                   : std::vector<std::string>{"Male", "Female"};
  for (std::size_t f = 0; f < names.size(); ++f) {
    result.factors.push_back({names[f], std::vector<std::int32_t>(2 + f, 1)});
  }
  const std::vector<std::string> random =
      kind == ModelKind::BlockedRepeat ? std::vector<std::string>{"Sigma_M", "Sigma_F", "Sigma_FR"}
                                       : std::vector<std::string>{"Sigma_M", "Sigma_F"};
  for (int t = 1; t <= traits; ++t) {
    TraitResult trait;
    trait.name = "Trait" + std::to_string(t);
    int k = 0;
    for (const std::string& parameter : random) {
      ++k;
      const double estimate = 10.0 * t + k;
      trait.random.components.push_back(
          {parameter, estimate, estimate / 10, true, 100 + estimate, estimate / 1000, {}});
    }
    trait.random.components.push_back({"Sigma_E", 10.0 * t + 9, 0.5, false, kNaN, kNaN, {}});
    trait.random.heritabilities.push_back({"Hi", 0.25 * t, 0.125, {}});
    trait.random.heritabilities.push_back({"Hm", 0.375 * t, kNaN, {}});
    result.traits.push_back(trait);
  }
  return result;
}

template <typename T>
T Cell(const SummaryRow& row, const char* column) {
  const SummaryCell& cell = row[SummaryColumn(column)];
  EXPECT_TRUE(std::holds_alternative<T>(cell)) << column;
  return std::holds_alternative<T>(cell) ? std::get<T>(cell) : T{};
}

bool Empty(const SummaryRow& row, const char* column) {
  return std::holds_alternative<std::monostate>(row[SummaryColumn(column)]);
}

TEST(SummaryRows, EachModelFillsItsOwnColumnsAndLeavesTheOthersEmpty) {
  const std::vector<SummaryRow> nested =
      SummaryRowsOf("trials/a.xls", MadeUpResult(ModelKind::Nested, 2));
  ASSERT_EQ(nested.size(), 2u);
  const SummaryRow& second = nested[1];
  EXPECT_EQ(Cell<std::string>(second, "file"), "trials/a.xls");
  EXPECT_EQ(Cell<std::int64_t>(second, "model"), 3);
  EXPECT_EQ(Cell<std::string>(second, "trait"), "Trait2");
  EXPECT_EQ(Cell<std::int64_t>(second, "observations"), 158);
  EXPECT_TRUE(Empty(second, "block_levels"));
  EXPECT_EQ(Cell<std::int64_t>(second, "male_levels"), 2);
  EXPECT_EQ(Cell<std::int64_t>(second, "female_levels"), 3);
  EXPECT_TRUE(Empty(second, "repeat_levels"));
  EXPECT_EQ(Cell<double>(second, "sigma_m"), 21);
  EXPECT_EQ(Cell<double>(second, "sigma_m_se"), 2.1);
  EXPECT_EQ(Cell<double>(second, "sigma_m_f"), 121);
  EXPECT_EQ(Cell<double>(second, "sigma_m_p"), 0.021);
  EXPECT_EQ(Cell<double>(second, "sigma_f"), 22);
  EXPECT_EQ(Cell<double>(second, "sigma_f_p"), 0.022);
  for (const char* column : {"sigma_fr", "sigma_fr_se", "sigma_fr_f", "sigma_fr_p"}) {
    EXPECT_TRUE(Empty(second, column)) << column;
  }
  EXPECT_EQ(Cell<double>(second, "sigma_e"), 29);
  EXPECT_EQ(Cell<double>(second, "sigma_e_se"), 0.5);
  EXPECT_EQ(Cell<double>(second, "hi"), 0.5);
  EXPECT_EQ(Cell<double>(second, "hi_se"), 0.125);
  EXPECT_EQ(Cell<double>(second, "hm"), 0.75);
  EXPECT_TRUE(std::isnan(Cell<double>(second, "hm_se")));
  EXPECT_EQ(Cell<std::string>(second, "status"), "ok");

  const SummaryRow repeat =
      SummaryRowsOf("b.xlsx", MadeUpResult(ModelKind::BlockedRepeat, 1), "late").front();
  EXPECT_EQ(Cell<std::int64_t>(repeat, "model"), 1);
  EXPECT_EQ(Cell<std::int64_t>(repeat, "block_levels"), 2);
  EXPECT_EQ(Cell<std::int64_t>(repeat, "male_levels"), 3);
  EXPECT_EQ(Cell<std::int64_t>(repeat, "female_levels"), 4);
  EXPECT_EQ(Cell<std::int64_t>(repeat, "repeat_levels"), 5);
  EXPECT_EQ(Cell<double>(repeat, "sigma_fr"), 13);
  EXPECT_EQ(Cell<double>(repeat, "sigma_fr_f"), 113);
  EXPECT_EQ(Cell<std::string>(repeat, "status"), "late");

  const SummaryRow blocked = SummaryRowsOf("c.xls", MadeUpResult(ModelKind::Blocked, 1)).front();
  EXPECT_EQ(Cell<std::int64_t>(blocked, "block_levels"), 2);
  EXPECT_EQ(Cell<std::int64_t>(blocked, "female_levels"), 4);
  EXPECT_TRUE(Empty(blocked, "repeat_levels"));
  EXPECT_TRUE(Empty(blocked, "sigma_fr"));
}

TEST(SummaryRows, ASheetWithoutTraitsAndAFailedWorkbookAreOneRowEach) {
  const std::vector<SummaryRow> none =
      SummaryRowsOf("empty.xls", MadeUpResult(ModelKind::Blocked, 0));
  ASSERT_EQ(none.size(), 1u);
  EXPECT_TRUE(Empty(none[0], "trait"));
  EXPECT_EQ(Cell<std::int64_t>(none[0], "observations"), 158);
  EXPECT_TRUE(Empty(none[0], "sigma_m"));
  EXPECT_EQ(Cell<std::string>(none[0], "status"), "ok");

  const SummaryRow failed =
      FailedSummaryRow("bad.xls", ModelKind::None, "Data Error!\n At Row 6 Col 1 ");
  EXPECT_EQ(Cell<std::string>(failed, "status"), "Data Error!\n At Row 6 Col 1 ");
  EXPECT_TRUE(Empty(failed, "model"));
  EXPECT_TRUE(Empty(failed, "observations"));
  EXPECT_EQ(Cell<std::int64_t>(FailedSummaryRow("x", ModelKind::Blocked, "m"), "model"), 2);
}

TEST(SummaryCsv, QuotesWhatNeedsItAndWritesNumbersThatReadBackExactly) {
  std::vector<SummaryRow> rows =
      SummaryRowsOf("dir/trial, \"2025\".xls", MadeUpResult(ModelKind::Nested, 1));
  rows[0][SummaryColumn("sigma_m")] = 0.1 + 0.2;  // needs 17 digits
  rows.push_back(FailedSummaryRow("bad.xls", ModelKind::Nested, "Data Error!\n At Row 6 Col 1 "));
  const std::string csv = FormatSummaryCsv(rows);

  std::string header;
  for (const char* column : kSummaryColumns)
    header += std::string(header.empty() ? "" : ",") + column;
  ASSERT_EQ(csv.substr(0, header.size() + 2), header + "\r\n");
  const std::string first =
      csv.substr(header.size() + 2, csv.find("\r\n", header.size() + 2) - header.size() - 2);
  EXPECT_EQ(first.rfind("\"dir/trial, \"\"2025\"\".xls\",3,Trait1,158,,2,3,,", 0), 0u) << first;
  EXPECT_NE(first.find(",0.30000000000000004,"), std::string::npos) << first;
  // hm_se is not finite: an empty field before the status.
  EXPECT_EQ(first.substr(first.size() - 4), ",,ok") << first;
  EXPECT_NE(csv.find("\r\nbad.xls,3,,,,,,,,,,,,,,,,,,,,,,,,,\"Data Error!\n At Row 6 Col 1 \"\r\n"),
            std::string::npos)
      << csv;
  EXPECT_EQ(std::strtod("0.30000000000000004", nullptr), 0.1 + 0.2);
}

TEST(SummaryJson, EveryRowHasEveryColumnWithNullForWhatIsMissing) {
  std::vector<SummaryRow> rows = SummaryRowsOf("a.xls", MadeUpResult(ModelKind::Nested, 2));
  rows.push_back(FailedSummaryRow("b.xls", ModelKind::None, " Data Error With Factor Names!\n"));
  const nlohmann::json document = nlohmann::json::parse(FormatSummaryJson(rows, "9.8"));
  EXPECT_EQ(document["program"], "Quorvel");
  EXPECT_EQ(document["version"], "9.8");
  ASSERT_EQ(document["rows"].size(), 3u);
  for (const auto& row : document["rows"]) {
    EXPECT_EQ(row.size(), kSummaryColumnCount);
  }
  const auto& second = document["rows"][1];
  EXPECT_EQ(second["trait"], "Trait2");
  EXPECT_EQ(second["model"], 3);
  EXPECT_EQ(second["sigma_m_f"].get<double>(), 121);
  EXPECT_TRUE(second["hm_se"].is_null());
  EXPECT_TRUE(second["block_levels"].is_null());
  EXPECT_EQ(document["rows"][2]["status"], " Data Error With Factor Names!\n");
  EXPECT_TRUE(document["rows"][2]["model"].is_null());

  EXPECT_EQ(nlohmann::json::parse(FormatSummaryJson({}, "1"))["rows"].size(), 0u);
}

TEST(SummaryFiles, TheFormatFollowsTheCallAndAFolderThatTakesNoFileIsAnError) {
  namespace fs = std::filesystem;
  const fs::path folder =
      fs::temp_directory_path() / ("summary_test_" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::vector<SummaryRow> rows = SummaryRowsOf("a.xls", MadeUpResult(ModelKind::Nested, 1));
  std::string error;
  ASSERT_TRUE(WriteSummary(rows, "1", ExportFormat::Xlsx, (folder / "s.xlsx").string(), error))
      << error;
  // An .xlsx is a zip archive; its reading back is the end-to-end test's.
  EXPECT_EQ(fs::file_size(folder / "s.xlsx") > 1000, true);
  ASSERT_TRUE(WriteSummary(rows, "1", ExportFormat::Csv, (folder / "s.csv").string(), error));
  EXPECT_EQ(fs::file_size(folder / "s.csv"), FormatSummaryCsv(rows).size());

  for (const ExportFormat format : {ExportFormat::Csv, ExportFormat::Json, ExportFormat::Xlsx}) {
    error.clear();
    EXPECT_FALSE(WriteSummary(rows, "1", format, (folder / "missing" / "s.x").string(), error));
    EXPECT_FALSE(error.empty());
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorvel
