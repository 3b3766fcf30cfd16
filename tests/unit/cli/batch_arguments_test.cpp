// The command line of a batch: when analyze becomes one, what it refuses, and the folders
// its workbooks' files go to.
#include <gtest/gtest.h>

#include "cli/batch_command.h"
#include "cli/cli_arguments.h"

namespace quorvel {
namespace {

std::optional<CliArguments> Parse(const std::vector<std::string>& args,
                                  std::string* error = nullptr) {
  std::string ignored;
  return ParseCliArguments(args, error != nullptr ? *error : ignored);
}

TEST(BatchArguments, SeveralWorkbooksOrABatchOptionMakeABatch) {
  const auto single = Parse({"analyze", "a.xls", "--model", "3", "--output-dir", "out", "--format",
                             "json", "--export", "r.xlsx"});
  ASSERT_TRUE(single);
  EXPECT_FALSE(single->batch);
  EXPECT_EQ(single->options.workbook, "a.xls");

  const auto several = Parse({"analyze", "a.xls", "--model", "2", "b.xlsx", "c.csv", "--jobs", "3",
                              "--summary", "all.JSON", "--export-format", "csv", "--progress"});
  ASSERT_TRUE(several);
  EXPECT_TRUE(several->batch);
  EXPECT_EQ(several->batchOptions.workbooks,
            (std::vector<std::string>{"a.xls", "b.xlsx", "c.csv"}));
  EXPECT_EQ(several->options.model, ModelKind::Blocked);
  EXPECT_EQ(several->batchOptions.jobs, 3);
  EXPECT_EQ(several->batchOptions.summaryPath, "all.JSON");
  EXPECT_EQ(several->batchOptions.exportFormat, ExportFormat::Csv);
  EXPECT_TRUE(several->batchOptions.progress);

  // One workbook with a batch option: a batch of one, so that a script's per-file call
  // lays out its files as a batch does.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"analyze", "a.xls", "--summary", "s.csv"},
        {"analyze", "a.xls", "--jobs", "1"},
        {"analyze", "a.xls", "--progress"},
        {"analyze", "a.xls", "--export-format", "xlsx"}}) {
    const auto one = Parse(args);
    ASSERT_TRUE(one) << args[2];
    EXPECT_TRUE(one->batch) << args[2];
    EXPECT_EQ(one->batchOptions.workbooks.size(), 1u);
  }
}

TEST(BatchArguments, MisusesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> misuses{
      {"analyze", "a.xls", "b.xls", "--format", "json"},
      {"analyze", "a.xls", "b.xls", "--export", "r.json"},
      {"analyze", "a.xls", "--summary", "s.csv", "--export", "r.json"},
      {"analyze", "a.xls", "b.xls", "--jobs", "0"},
      {"analyze", "a.xls", "b.xls", "--jobs", "-1"},
      {"analyze", "a.xls", "b.xls", "--jobs", "2x"},
      {"analyze", "a.xls", "b.xls", "--jobs", "99999999999"},
      {"analyze", "a.xls", "b.xls", "--jobs"},
      {"analyze", "a.xls", "b.xls", "--summary", "s.txt"},
      {"analyze", "a.xls", "b.xls", "--summary"},
      {"analyze", "a.xls", "b.xls", "--export-format", "pdf"},
      {"import", "a.xls", "b.xls"},
      {"import", "a.xls", "--jobs", "2"},
      {"cells", "a.xls", "--summary", "s.csv"},
  };
  for (const auto& args : misuses) {
    std::string error;
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_FALSE(Parse(args, &error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

TEST(BatchOutputFolders, StemsInTheOutputFolderOrBesideEachWorkbook) {
  EXPECT_EQ(BatchOutputFolders({"trials/site_A.xlsx", "/data/2025/site_B.ods", "plain"}, "out"),
            (std::vector<std::string>{"out/site_A", "out/site_B", "out/plain"}));
  EXPECT_EQ(
      BatchOutputFolders({"trials/site_A.xlsx", "/data/site_B.tar.csv", "c.xls"}, std::nullopt),
      (std::vector<std::string>{"trials/site_A", "/data/site_B.tar", "c"}));
}

TEST(BatchOutputFolders, CollidingStemsGetTheFirstFreeSuffixInOrder) {
  // The same stem three times, a workbook whose own stem looks like a suffix, and the same
  // file twice: every natural folder stays with its first owner.
  EXPECT_EQ(
      BatchOutputFolders(
          {"a/trial.xls", "b/trial.xlsx", "trial-2.csv", "c/trial.ods", "trial-2.csv"}, "out"),
      (std::vector<std::string>{"out/trial", "out/trial-3", "out/trial-2", "out/trial-4",
                                "out/trial-2-2"}));
  // Beside the workbooks only stems in one folder collide.
  EXPECT_EQ(BatchOutputFolders({"a/x.xls", "b/x.xls", "a/x.xlsx", "a/./x.csv"}, std::nullopt),
            (std::vector<std::string>{"a/x", "b/x", "a/x-2", "a/x-3"}));
}

}  // namespace
}  // namespace quorvel
