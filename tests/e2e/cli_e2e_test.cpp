// quorvel-cli run as a separate process on real workbooks: the echo byte for byte, every
// refusal of the import with its exact text, exit codes and unwritable output folders.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/report_compare.h"
#include "tests/support/run_program.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) { return quorvel::testing::ReadFile(path.string()); }

std::string Xls(const std::string& name) {
  return std::string(QUORVEL_TEST_DATA) + "/xls/fixtures/" + name;
}

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ =
        fs::temp_directory_path() / ("cli_e2e_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "out");
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Runs the program with `args`, standard output and error captured, a fixed clock, time
  // zone and locale.
  Result Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QUORVEL_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    const quorvel::testing::ProgramRun run = quorvel::testing::RunProgram(argv, folder_.string());
    return {run.exitCode, run.out, run.err};
  }

  std::string Out() const { return (folder_ / "out").string(); }

  fs::path folder_;
};

TEST_F(CliTest, HelpVersionAndUsageErrors) {
  const Result help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* word : {"import", "analyze", "cells", "--model", "--output-dir", "--version",
                           "--intervals", "--level"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
  const Result version = Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "quorvel-cli 1.0.0.1\n");

  const std::vector<std::vector<std::string>> misuses{
      {},
      {"frobnicate", "a.xls"},
      {"import"},
      {"import", "a.xls", "b.xls"},
      {"import", "a.xls", "--model", "3"},
      {"import", "a.xls", "--output-dir"},
      {"analyze", "a.xls", "--model", "4"},
      {"analyze", "a.xls", "--model", "x"},
      {"analyze", "a.xls", "--model"},
      {"analyze", "a.xls", "--colour"},
      {"analyze", "a.xls", "--level"},
      {"analyze", "a.xls", "--level", "0"},
      {"analyze", "a.xls", "--level", "1"},
      {"analyze", "a.xls", "--level", "95"},
      {"analyze", "a.xls", "--level", "-0.9"},
      {"analyze", "a.xls", "--level", "0.9x"},
      {"analyze", "a.xls", "--level", "nan"},
      {"analyze", "a.xls", "--level", ""},
      {"import", "a.xls", "--intervals"},
      {"import", "a.xls", "--level", "0.9"},
      {"cells", "a.xls", "--intervals"},
  };
  for (const auto& args : misuses) {
    const Result r = Run(args);
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(r.exitCode, 2) << line;
    EXPECT_TRUE(r.out.empty()) << line;
    EXPECT_EQ(r.err.rfind("quorvel-cli: ", 0), 0u) << line << r.err;
  }
}

TEST_F(CliTest, ImportWritesAndPrintsTheEchoByteForByte) {
  // One workbook per model, a traitless sheet and codes longer than their field.
  const std::vector<std::pair<std::string, std::string>> cases{
      {"nested_unbalanced.lo.xls", "nested_unbalanced"},
      {"blocked_unbalanced.lo.xls", "blocked_unbalanced"},
      {"repeat_balanced.lo.xls", "repeat_balanced"},
      {"blocked_no_traits.xlwt.xls", "blocked_no_traits"},
      {"codes_large.gn.xls", "codes_large"},
  };
  for (const auto& [workbook, golden] : cases) {
    const std::string expected =
        ReadBytes(fs::path(QUORVEL_GOLDEN_DIR) / "echo" / (golden + ".tmp.txt"));
    ASSERT_FALSE(expected.empty()) << golden;
    const Result r = Run({"import", Xls(workbook), "--output-dir", Out()});
    EXPECT_EQ(r.exitCode, 0) << workbook << "\n" << r.err;
    EXPECT_EQ(r.err, "") << workbook;
    EXPECT_EQ(r.out, expected) << workbook;
    EXPECT_EQ(ReadBytes(folder_ / "out" / "tmp.txt"), expected) << workbook;
  }
  // Without --output-dir the echo lands beside the workbook.
  fs::copy_file(Xls("codes_large.gn.xls"), folder_ / "trial.xls");
  const Result beside = Run({"import", (folder_ / "trial.xls").string()});
  EXPECT_EQ(beside.exitCode, 0);
  EXPECT_EQ(ReadBytes(folder_ / "tmp.txt"),
            ReadBytes(fs::path(QUORVEL_GOLDEN_DIR) / "echo" / "codes_large.tmp.txt"));
}

// A sheet whose last row lacks its last trait is accepted without that trait; standard
// error says which column was left out, and the import succeeds.
TEST_F(CliTest, ColumnsLeftOutOfTheDataAreNamedOnStandardError) {
  const Result r = Run({"import", Xls("last_trait_missing.lo.xls"), "--output-dir", Out()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err,
            "quorvel-cli: warning: Trait column Trait3 (column 5) left out for every row: the data "
            "region ends at the last number of the sheet (row 25, column 4), and row 25 has no "
            "number in this column.\n");
  EXPECT_NE(r.out.find("Trait2"), std::string::npos);
  EXPECT_EQ(r.out.find("Trait3"), std::string::npos);
}

TEST_F(CliTest, EveryRefusedSheetGivesItsMessageAndWritesNothing) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"hdr_block_lowercase.lo.xls", " Data Error With Factor Names!\n"},
      {"hdr_block_female_male.gn.xls", " Data Error With Factor Names!\n"},
      {"wide_factor_header.xlwt.xls", " Data Error With Factor Names!\n"},
      {"wide_ascii_header.xlwt.xls", " Data Error With Factor Names!\n"},
      {"hdr_trait_space.lo.xls", "Trait Name Error!\n At Row 1 Col 3 "},
      {"hdr_trait_lowercase.gn.xls", "Trait Name Error!\n At Row 1 Col 4 "},
      {"hdr_trait2_first.xlwt.xls", "Trait Name Error!\n At Row 1 Col 5 "},
      {"hdr_trait_gap.lo.xls", "Trait Name Error!\n At Row 1 Col 4 "},
      {"hdr_male_female_block.gn.xls", "Trait Name Error!\n At Row 1 Col 3 "},
      {"cell_text_in_trait.lo.xls", "Data Error!\nRow 4 Col 5 "},
      {"cell_text_in_factor.xlwt.xls", "Data Error!\n At Row 6 Col 1 "},
      {"cell_empty_factor.gn.xls", "Data Error!\n At Row 3 Col 2 "},
      {"formula_in_trait.lo.xls", "Data Error!\nRow 5 Col 4 "},
      {"error_in_trait.xlwt.xls", "Data Error!\nRow 8 Col 4 "},
      {"stray_number_below.gn.xls", "Data Error!\n At Row 26 Col 1 "},
      {"rows_three_only.lo.xls", "Data Error!"},
      {"cols_26_numeric.gn.xls", "Data Error!"},
      {"cols_note_in_26.lo.xls", "Data Error!"},
      {"stray_number_col1.xlwt.xls", "Data Error!"},
      {"cols_two_only.lo.xls", "Data Error!"},
      {"header_only.gn.xls", "Data Error!"},
  };
  for (const auto& [workbook, message] : cases) {
    const std::string shown = message.back() == '\n' ? message : message + "\n";
    for (const char* command : {"import", "analyze"}) {
      const Result r = Run({command, Xls(workbook), "--output-dir", Out()});
      EXPECT_EQ(r.exitCode, 1) << command << " " << workbook;
      EXPECT_EQ(r.err, shown) << command << " " << workbook;
      EXPECT_EQ(r.out, "") << command << " " << workbook;
    }
    EXPECT_TRUE(fs::is_empty(folder_ / "out")) << workbook;
  }
}

TEST_F(CliTest, FilesThatAreNotWorkbooksAreDataErrors) {
  std::ofstream(folder_ / "notes.xls") << "Male,Female,Trait1\n1,1,2.5\n";
  fs::create_directories(folder_ / "folder.xls");
  for (const fs::path& path :
       {folder_ / "missing.xls", folder_ / "notes.xls", folder_ / "folder.xls"}) {
    const Result r = Run({"import", path.string(), "--output-dir", Out()});
    EXPECT_EQ(r.exitCode, 1) << path;
    EXPECT_EQ(r.err, "Data Error!\n") << path;
  }
  EXPECT_TRUE(fs::is_empty(folder_ / "out"));
}

TEST_F(CliTest, UnwritableOutputFolderIsNamedInTheMessage) {
  // A folder below a regular file cannot be written, whoever runs the test.
  std::ofstream(folder_ / "plain") << "x";
  const std::string below = (folder_ / "plain" / "out").string();
  const Result r = Run({"import", Xls("codes_large.gn.xls"), "--output-dir", below});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, below + "/tmp.txt cannot be created!\n");
  EXPECT_EQ(r.out, "");

  // A folder without write permission: only meaningful for a user the permissions stop.
  if (::geteuid() != 0) {
    fs::permissions(folder_ / "out", fs::perms::owner_read | fs::perms::owner_exec);
    const Result ro = Run({"import", Xls("codes_large.gn.xls"), "--output-dir", Out()});
    fs::permissions(folder_ / "out", fs::perms::owner_all);
    EXPECT_EQ(ro.exitCode, 1);
    EXPECT_EQ(ro.err, Out() + "/tmp.txt cannot be created!\n");
  }
}

TEST_F(CliTest, AnalyzeRefusesAModelTheSheetDoesNotFit) {
  for (const char* model : {"1", "2"}) {
    const Result r =
        Run({"analyze", Xls("nested_unbalanced.lo.xls"), "--model", model, "--output-dir", Out()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "The data is not appropriate to this model.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(folder_ / "out" / "result.txt"));
  }
}

TEST_F(CliTest, AnalyzeWritesAReproducibleReportForEachModel) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"nested_unbalanced.lo.xls", "yijk = u + Mi + Fij + eijk\r\n"},
      {"blocked_unbalanced.lo.xls", "yijkl = u + Bi + Mj + Fjk + eijkl\r\n"},
      {"repeat_balanced.lo.xls", "yijklt = u + Bi + Ril + Mij + Fijk + (FR)ijkl + eijklt\r\n"},
  };
  for (const auto& [workbook, modelLine] : cases) {
    const Result first = Run({"analyze", Xls(workbook), "--output-dir", Out()});
    EXPECT_EQ(first.exitCode, 0) << workbook << "\n" << first.err;
    EXPECT_EQ(first.err, "") << workbook;
    EXPECT_EQ(first.out, ReadBytes(folder_ / "out" / "result.txt")) << workbook;
    EXPECT_NE(first.out.find(modelLine), std::string::npos) << workbook;
    EXPECT_NE(first.out.find("Thu Jan  1 00:00:00 1970 *\r\n"), std::string::npos) << workbook;
    EXPECT_TRUE(fs::exists(folder_ / "out" / "tmp.txt"));
  }
  // Naming the sheet's own model gives the same report, and a second run the same bytes.
  const Result again =
      Run({"analyze", Xls("nested_unbalanced.lo.xls"), "--model", "3", "--output-dir", Out()});
  const Result once = Run({"analyze", Xls("nested_unbalanced.lo.xls"), "--output-dir", Out()});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.out, once.out);
}

// --intervals adds a section after each trait's component box and changes nothing else;
// --level sets the level of every interval, in the report's titles and in the JSON.
TEST_F(CliTest, AnalyzeIntervalsAndTheirLevel) {
  const std::string book = Xls("repeat_unbalanced.lo.xls");
  const Result plain = Run({"analyze", book, "--output-dir", Out()});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.out.find("confidence intervals"), std::string::npos);
  // --level alone leaves the report as it is.
  const Result levelOnly = Run({"analyze", book, "--output-dir", Out(), "--level", "0.9"});
  EXPECT_EQ(levelOnly.out, plain.out);

  const Result with =
      Run({"analyze", book, "--output-dir", Out(), "--intervals", "--level", "0.9"});
  ASSERT_EQ(with.exitCode, 0) << with.err;
  EXPECT_EQ(with.err, "");
  EXPECT_EQ(with.out, ReadBytes(folder_ / "out" / "result.txt"));
  for (const char* trait : {"1", "2", "3"}) {
    EXPECT_NE(with.out.find(std::string("   Approximate 90% confidence intervals for trait ") +
                            trait + ":\r\n"),
              std::string::npos)
        << trait;
  }
  EXPECT_EQ(with.out.find("Approximate 95%"), std::string::npos);
  EXPECT_GT(with.out.size(), plain.out.size());
  // The same options in either order; the default level is 95 %.
  const Result reordered =
      Run({"analyze", "--level", "0.9", book, "--intervals", "--output-dir", Out()});
  EXPECT_EQ(reordered.out, with.out);
  const Result defaultLevel = Run({"analyze", book, "--output-dir", Out(), "--intervals"});
  EXPECT_NE(defaultLevel.out.find("   Approximate 95% confidence intervals for trait 1:"),
            std::string::npos);

  const Result json =
      Run({"analyze", book, "--output-dir", Out(), "--format", "json", "--level", "0.9"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_NE(json.out.find(R"("ci":{"lower":)"), std::string::npos);
  EXPECT_NE(json.out.find(R"("level":0.9,"method":"satterthwaite")"), std::string::npos);
  EXPECT_NE(json.out.find(R"("level":0.9,"method":"chisq")"), std::string::npos);
  EXPECT_NE(json.out.find(R"("level":0.9,"method":"wald")"), std::string::npos);
  EXPECT_NE(json.out.find(R"("level":0.9,"method":"t")"), std::string::npos);
  EXPECT_EQ(json.out.find(R"("level":0.95)"), std::string::npos);
  // The negative Sigma_FR of trait 1 has no interval.
  EXPECT_NE(
      json.out.find(R"("ci":{"lower":null,"upper":null,"level":0.9,"method":"satterthwaite"})"),
      std::string::npos);
}

TEST_F(CliTest, AnalyzeReportsAReportThatCannotBeCreated) {
  fs::create_directories(folder_ / "out" / "result.txt");
  const Result r = Run({"analyze", Xls("nested_unbalanced.lo.xls"), "--output-dir", Out()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Result file cannot be created!\n");
  EXPECT_EQ(r.out, "");
}

// A full disk, made real with a file-size limit (12 KiB, in the shell's 512-byte blocks)
// between the echo's size and the report's:
// the run says the report cannot be created, exits 1 and the previous report stays whole.
TEST_F(CliTest, AFailedReportWriteKeepsThePreviousReport) {
  const fs::path report = folder_ / "out" / "result.txt";
  std::ofstream(report) << "the previous report\r\n";
  const std::string command = "ulimit -f 24; trap '' XFSZ; exec '" + std::string(QUORVEL_CLI) +
                              "' analyze '" + Xls("nested_unbalanced.lo.xls") + "' --output-dir '" +
                              Out() + "'";
  const quorvel::testing::ProgramRun r =
      quorvel::testing::RunProgram({"/bin/sh", "-c", command}, folder_.string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Result file cannot be created!\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadBytes(report), "the previous report\r\n");
  EXPECT_TRUE(fs::exists(folder_ / "out" / "tmp.txt")) << "the echo is smaller than the limit";
  for (const auto& entry : fs::directory_iterator(folder_ / "out")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "result.txt" || name == "tmp.txt") << "left behind: " << name;
  }
}

// Links planted at the output names are replaced, never followed.
TEST_F(CliTest, LinksAtTheOutputNamesAreReplacedNotFollowed) {
  std::ofstream(folder_ / "victim") << "precious";
  fs::create_symlink(folder_ / "victim", folder_ / "out" / "result.txt");
  fs::create_symlink(folder_ / "elsewhere", folder_ / "out" / "tmp.txt");
  const Result r = Run({"analyze", Xls("nested_unbalanced.lo.xls"), "--output-dir", Out()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadBytes(folder_ / "victim"), "precious");
  EXPECT_FALSE(fs::exists(folder_ / "elsewhere"));
  EXPECT_FALSE(fs::is_symlink(folder_ / "out" / "result.txt"));
  EXPECT_EQ(ReadBytes(folder_ / "out" / "result.txt"), r.out);
}

// Two runs into one folder at the same time: each prints its own report, and the folder
// keeps one of the two whole.
TEST_F(CliTest, ConcurrentRunsIntoOneFolderEachLeaveACompleteReport) {
  const std::string big = Xls("nested_10000.lo.xls");
  const std::string small = Xls("nested_unbalanced.lo.xls");
  fs::create_directories(folder_ / "alone");
  const Result bigAlone = Run({"analyze", big, "--output-dir", (folder_ / "alone").string()});
  const Result smallAlone = Run({"analyze", small, "--output-dir", (folder_ / "alone").string()});
  ASSERT_EQ(bigAlone.exitCode, 0);
  ASSERT_EQ(smallAlone.exitCode, 0);
  for (int round = 0; round < 3; ++round) {
    quorvel::testing::StartedProgram first({QUORVEL_CLI, "analyze", big, "--output-dir", Out()},
                                           folder_.string());
    quorvel::testing::StartedProgram second({QUORVEL_CLI, "analyze", small, "--output-dir", Out()},
                                            folder_.string());
    const quorvel::testing::ProgramRun a = first.Finish();
    const quorvel::testing::ProgramRun b = second.Finish();
    EXPECT_EQ(a.exitCode, 0) << a.err;
    EXPECT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(a.out, bigAlone.out);
    EXPECT_EQ(b.out, smallAlone.out);
    const std::string kept = ReadBytes(folder_ / "out" / "result.txt");
    EXPECT_TRUE(kept == bigAlone.out || kept == smallAlone.out)
        << "result.txt holds " << kept.size() << " bytes";
  }
}

// Ctrl+C or SIGTERM during a long run: the program stops promptly, says so, exits 130 or
// 143 and leaves the previous report whole, with no temporary file behind (the echo of the
// finished import is in place).
TEST_F(CliTest, AStopSignalDuringARunKeepsThePreviousReport) {
  // 5,000 males with 2 females of 2 progeny: seconds of work in the male stage.
  const fs::path sheet = folder_ / "many_males.csv";
  {
    std::ofstream csv(sheet);
    csv << "Male,Female,Trait1\n";
    for (int male = 1; male <= 5000; ++male) {
      for (int female = 1; female <= 2; ++female) {
        for (int child = 0; child < 2; ++child) {
          csv << male << ',' << female << ',' << (male * 7919 + female * 104729 + child * 31) % 997
              << '\n';
        }
      }
    }
  }
  const fs::path report = folder_ / "out" / "result.txt";
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
    std::ofstream(report, std::ios::trunc) << "the previous report\r\n";
    quorvel::testing::StartedProgram run(
        {QUORVEL_CLI, "analyze", sheet.string(), "--output-dir", Out()}, folder_.string());
    ASSERT_TRUE(run.Started());
    // The report's temporary file appears when the import is done and the analysis begins.
    auto reportUnderWay = [this] {
      for (const auto& entry : fs::directory_iterator(folder_ / "out")) {
        if (entry.path().filename().string().rfind(".result.txt.", 0) == 0) return true;
      }
      return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!reportUnderWay() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(reportUnderWay()) << "the run never began its report";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto sent = std::chrono::steady_clock::now();
    ::kill(run.Pid(), signal);
    const quorvel::testing::ProgramRun r = run.Finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    EXPECT_EQ(r.exitCode, signal == SIGINT ? 130 : 143) << r.err;
    EXPECT_EQ(r.err, "quorvel-cli: stopped; the previous report is kept\n");
    EXPECT_EQ(r.out, "");
    // Promptly: well within the whole run's seconds, with room for a busy machine.
    EXPECT_LT(seconds, 3.0);
    EXPECT_EQ(ReadBytes(report), "the previous report\r\n");
    EXPECT_NE(ReadBytes(folder_ / "out" / "tmp.txt").find("The data can be analyzed"),
              std::string::npos);
    for (const auto& entry : fs::directory_iterator(folder_ / "out")) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "result.txt" || name == "tmp.txt") << "left behind: " << name;
    }
  }
}

TEST_F(CliTest, ExportOptionsAreCheckedBeforeAnyWork) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"analyze", Xls("nested_unbalanced.lo.xls"), "--export",
                                 "result.txt"},
        std::vector<std::string>{"analyze", Xls("nested_unbalanced.lo.xls"), "--export"},
        std::vector<std::string>{"analyze", Xls("nested_unbalanced.lo.xls"), "--format", "yaml"},
        std::vector<std::string>{"import", Xls("nested_unbalanced.lo.xls"), "--export",
                                 "r.json"}}) {
    const Result r = Run(args);
    EXPECT_EQ(r.exitCode, 2) << args.back();
    EXPECT_EQ(r.out, "");
  }
  // An export that cannot be written fails the command after the report was written.
  const Result r = Run({"analyze", Xls("nested_unbalanced.lo.xls"), "--output-dir", Out(),
                        "--export", (folder_ / "missing" / "r.json").string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("r.json cannot be created"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(folder_ / "out" / "result.txt"));
}

}  // namespace
