// quorvel-cli analyze on many workbooks, run as a separate process: every fixture in one
// batch agrees with its own single-workbook run, whatever the number of jobs; a bad
// workbook never stops the others; Ctrl+C stops the batch and keeps what finished.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/batch_command.h"
#include "tests/support/report_compare.h"
#include "tests/support/run_program.h"

namespace {

namespace fs = std::filesystem;
using ProcessResult = quorvel::testing::ProgramRun;
using Json = nlohmann::json;

std::string ReadBytes(const fs::path& path) { return quorvel::testing::ReadFile(path.string()); }

std::string Fixture(const std::string& name) {
  return std::string(QUORVEL_TEST_DATA) + "/xls/fixtures/" + name;
}

// Every .xls fixture, accepted and refused, then every other format of four data sets (one
// per model and two refused), in name order. Several formats of one data set share a stem.
std::vector<std::string> AllFixtureWorkbooks() {
  std::vector<std::string> books;
  for (const auto& entry :
       fs::directory_iterator(std::string(QUORVEL_TEST_DATA) + "/xls/fixtures")) {
    if (entry.path().extension() == ".xls") books.push_back(entry.path().string());
  }
  std::sort(books.begin(), books.end());
  std::vector<std::string> modern;
  for (const auto& entry : fs::directory_iterator(std::string(QUORVEL_TEST_DATA) + "/modern")) {
    const std::string name = entry.path().filename().string();
    for (const char* set : {"nested_unbalanced.", "repeat_balanced.", "blocked_unbalanced.",
                            "cell_text_in_factor.", "hdr_block_lowercase."}) {
      if (name.rfind(set, 0) == 0) modern.push_back(entry.path().string());
    }
  }
  std::sort(modern.begin(), modern.end());
  books.insert(books.end(), modern.begin(), modern.end());
  return books;
}

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() /
              ("batch_e2e_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  ProcessResult Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QUORVEL_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return quorvel::testing::RunProgram(argv, folder_.string());
  }
  ProcessResult Analyze(const std::vector<std::string>& books, std::vector<std::string> options) {
    options.insert(options.begin(), "analyze");
    options.insert(options.begin() + 1, books.begin(), books.end());
    return Run(options);
  }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  fs::path folder_;
};

// Compares a summary row with the workbook's own run exported as JSON: the same numbers
// to the last bit, since both come from the same computation.
void ExpectRowsMatchExport(const std::vector<Json>& rows, const Json& exported,
                           const std::string& book) {
  SCOPED_TRACE(book);
  const std::size_t traits = exported["traits"].size();
  ASSERT_EQ(rows.size(), std::max<std::size_t>(traits, 1));
  std::map<std::string, std::size_t> levels;
  for (const Json& factor : exported["factors"]) {
    levels[factor["name"].get<std::string>()] = factor["levels"].size();
  }
  for (std::size_t t = 0; t < rows.size(); ++t) {
    const Json& row = rows[t];
    EXPECT_EQ(row["file"], book);
    EXPECT_EQ(row["status"], "ok");
    EXPECT_EQ(row["model"], exported["model"]["number"]);
    EXPECT_EQ(row["observations"], exported["observations"]);
    for (const auto& [factor, column] :
         std::map<std::string, std::string>{{"Block", "block_levels"},
                                            {"Male", "male_levels"},
                                            {"Female", "female_levels"},
                                            {"Repeat", "repeat_levels"}}) {
      if (levels.count(factor) != 0) {
        EXPECT_EQ(row[column], levels[factor]) << column;
      } else {
        EXPECT_TRUE(row[column].is_null()) << column;
      }
    }
    if (traits == 0) {
      EXPECT_TRUE(row["trait"].is_null());
      continue;
    }
    const Json& trait = exported["traits"][t];
    EXPECT_EQ(row["trait"], trait["name"]);
    std::size_t filled = 0;
    for (const Json& c : trait["random"]["components"]) {
      std::string stem = c["parameter"].get<std::string>();
      std::transform(stem.begin(), stem.end(), stem.begin(), ::tolower);
      EXPECT_EQ(row[stem], c["estimate"]) << stem;
      EXPECT_EQ(row[stem + "_se"], c["se"]) << stem;
      if (c.contains("f")) {
        EXPECT_EQ(row[stem + "_f"], c["f"]) << stem;
        EXPECT_EQ(row[stem + "_p"], c["p"]) << stem;
      }
      ++filled;
    }
    EXPECT_EQ(filled, exported["model"]["number"] == 1 ? 4u : 3u);
    if (exported["model"]["number"] != 1) {
      EXPECT_TRUE(row["sigma_fr"].is_null());
    }
    for (const Json& h : trait["random"]["heritabilities"]) {
      const std::string name = h["parameter"] == "Hi" ? "hi" : "hm";
      EXPECT_EQ(row[name], h["estimate"]) << name;
      EXPECT_EQ(row[name + "_se"], h["se"]) << name;
    }
  }
}

TEST_F(BatchTest, EveryFixtureInOneBatchAgreesWithItsSingleRunWhateverTheJobs) {
  const std::vector<std::string> books = AllFixtureWorkbooks();
  ASSERT_GT(books.size(), 90u);
  const std::vector<std::string> folders = quorvel::BatchOutputFolders(books, "");
  const ProcessResult one =
      Analyze(books, {"--jobs", "1", "--output-dir", Path("one"), "--summary", Path("one.json")});
  const ProcessResult two =
      Analyze(books, {"--jobs", "2", "--output-dir", Path("two"), "--summary", Path("two.json")});
  EXPECT_EQ(one.exitCode, 1) << one.err;  // the refused fixtures fail, the others go on
  EXPECT_EQ(two.exitCode, 1);
  EXPECT_EQ(one.out, "");
  EXPECT_EQ(two.out, "");
  // Independent of the number of jobs and of the order they finish in.
  ASSERT_EQ(ReadBytes(Path("one.json")), ReadBytes(Path("two.json")));

  const Json summary = Json::parse(ReadBytes(Path("one.json")));
  std::map<std::string, std::vector<Json>> rowsOf;
  std::vector<std::string> order;
  for (const Json& row : summary["rows"]) {
    const std::string file = row["file"];
    if (rowsOf.count(file) == 0) order.push_back(file);
    rowsOf[file].push_back(row);
  }
  EXPECT_EQ(order, books);  // in the order given, every workbook present

  int accepted = 0;
  int refused = 0;
  int warned = 0;
  std::set<std::string> formats;
  for (std::size_t k = 0; k < books.size(); ++k) {
    const std::string& book = books[k];
    const std::string stem = folders[k];  // the workbook's folder below the output folder
    formats.insert(fs::path(book).extension().string());
    const fs::path single = folder_ / "single" / std::to_string(k);
    fs::create_directories(single);
    const ProcessResult alone = Run({"analyze", book, "--output-dir", single.string(), "--export",
                                     (single / "r.json").string()});
    const std::vector<Json>& rows = rowsOf[book];
    if (alone.exitCode == 0) {
      ++accepted;
      // A warning of the single run comes after the workbook's path in the batch.
      const std::string prefix = "quorvel-cli: warning: ";
      if (!alone.err.empty()) {
        ASSERT_EQ(alone.err.rfind(prefix, 0), 0u) << book << alone.err;
        EXPECT_NE(one.err.find(book + ": warning: " + alone.err.substr(prefix.size())),
                  std::string::npos)
            << book;
        ++warned;
      }
      ExpectRowsMatchExport(rows, Json::parse(ReadBytes(single / "r.json")), book);
      for (const char* name : {"result.txt", "tmp.txt"}) {
        const std::string expected = ReadBytes(single / name);
        EXPECT_FALSE(expected.empty()) << book;
        EXPECT_EQ(ReadBytes(folder_ / "one" / stem / name), expected) << book << " " << name;
        EXPECT_EQ(ReadBytes(folder_ / "two" / stem / name), expected) << book << " " << name;
      }
    } else {
      ++refused;
      ASSERT_EQ(rows.size(), 1u) << book;
      EXPECT_EQ(alone.exitCode, 1) << book;
      // The status is the message as the single run shows it, without the line end
      // standard error adds to a message that has none.
      const std::string status = rows[0]["status"];
      EXPECT_EQ(status.back() == '\n' ? status : status + "\n", alone.err) << book;
      EXPECT_TRUE(rows[0]["observations"].is_null()) << book;
      // A refused workbook leaves no folder behind, and standard error names it.
      EXPECT_FALSE(fs::exists(folder_ / "one" / stem)) << book;
      EXPECT_NE(one.err.find(book + ": "), std::string::npos) << book;
    }
  }
  EXPECT_GE(accepted, 60);
  EXPECT_GE(warned, 1);
  EXPECT_GE(refused, 30);
  EXPECT_EQ(formats, (std::set<std::string>{".xls", ".xlsx", ".ods", ".csv", ".tsv"}));
}

TEST_F(BatchTest, ExitStatusOutputsAndExportsOfASmallBatch) {
  const std::string nested = Fixture("nested_unbalanced.lo.xls");
  const std::string blocked = Fixture("blocked_unbalanced.gn.xls");
  // Two good workbooks: exit 0, nothing on either stream without --progress.
  const ProcessResult good =
      Analyze({nested, blocked, nested},
              {"--output-dir", Path("out"), "--export-format", "json", "--summary", Path("s.csv")});
  EXPECT_EQ(good.exitCode, 0) << good.err;
  EXPECT_EQ(good.out, "");
  EXPECT_EQ(good.err, "");
  // The same stem twice: the second gets a suffix; each folder has the export its single
  // run's --export writes.
  for (const char* stem :
       {"nested_unbalanced.lo", "blocked_unbalanced.gn", "nested_unbalanced.lo-2"}) {
    EXPECT_TRUE(fs::exists(folder_ / "out" / stem / "result.txt")) << stem;
    EXPECT_TRUE(fs::exists(folder_ / "out" / stem / "tmp.txt")) << stem;
  }
  fs::create_directories(folder_ / "single");
  ASSERT_EQ(
      Run({"analyze", nested, "--output-dir", Path("single"), "--export", Path("single/r.json")})
          .exitCode,
      0);
  EXPECT_EQ(ReadBytes(folder_ / "out" / "nested_unbalanced.lo" / "results.json"),
            ReadBytes(folder_ / "single" / "r.json"));
  const std::string csv = ReadBytes(Path("s.csv"));
  EXPECT_EQ(csv.rfind("file,model,trait,observations,", 0), 0u);
  // The header, then a row per trait: two, three and two again.
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 2 + 3 + 2);

  // One workbook that cannot be read, one of the wrong model: exit 1, each named on
  // standard error, the good one still analysed.
  const ProcessResult mixed =
      Analyze({Path("missing.xls"), nested, blocked},
              {"--model", "3", "--output-dir", Path("mixed"), "--summary", Path("m.json")});
  EXPECT_EQ(mixed.exitCode, 1);
  EXPECT_EQ(mixed.out, "");
  EXPECT_NE(mixed.err.find(Path("missing.xls") + ": Data Error!\n"), std::string::npos)
      << mixed.err;
  EXPECT_NE(mixed.err.find(blocked + ": The data is not appropriate to this model.\n"),
            std::string::npos)
      << mixed.err;
  const Json rows = Json::parse(ReadBytes(Path("m.json")))["rows"];
  ASSERT_EQ(rows.size(), 4u);  // one row, two traits, one row
  EXPECT_EQ(rows[0]["status"], "Data Error!");
  EXPECT_EQ(rows[0]["model"], 3);
  EXPECT_EQ(rows[1]["status"], "ok");
  EXPECT_EQ(rows[3]["status"], "The data is not appropriate to this model.");
  EXPECT_TRUE(fs::exists(folder_ / "mixed" / "nested_unbalanced.lo" / "result.txt"));
  // The import succeeded before the model refused the sheet: its echo stays, as with a
  // single workbook.
  EXPECT_TRUE(fs::exists(folder_ / "mixed" / "blocked_unbalanced.gn" / "tmp.txt"));
  EXPECT_FALSE(fs::exists(folder_ / "mixed" / "blocked_unbalanced.gn" / "result.txt"));

  // A summary that cannot be written fails the batch after the workbooks are done.
  std::ofstream(folder_ / "plain") << "x";
  const ProcessResult unwritable =
      Analyze({nested, blocked}, {"--output-dir", Path("u"), "--summary", Path("plain/s.csv")});
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_EQ(unwritable.err.rfind("quorvel-cli: " + Path("plain/s.csv") + " cannot be created: ", 0),
            0u)
      << unwritable.err;
  EXPECT_TRUE(fs::exists(folder_ / "u" / "blocked_unbalanced.gn" / "result.txt"));

  // Usage errors exit 2 before anything is written.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--jobs", "0"},
                                               {"--summary", Path("s.txt")},
                                               {"--format", "json"}}) {
    const ProcessResult misuse = Analyze({nested, blocked}, args);
    EXPECT_EQ(misuse.exitCode, 2) << args[0];
    EXPECT_EQ(misuse.err.rfind("quorvel-cli: ", 0), 0u) << misuse.err;
  }
}

TEST_F(BatchTest, OneWorkbookWithABatchOptionIsABatchOfOne) {
  const std::string nested = Fixture("nested_balanced.gn.xls");
  const ProcessResult one =
      Analyze({nested}, {"--output-dir", Path("out"), "--summary", Path("s.json"), "--progress"});
  EXPECT_EQ(one.exitCode, 0);
  EXPECT_EQ(one.out, "");
  EXPECT_TRUE(std::regex_match(
      one.err, std::regex(R"(\[1/1\] .*nested_balanced\.gn\.xls: done in [0-9]+\.[0-9] s\n)")))
      << one.err;
  EXPECT_TRUE(fs::exists(folder_ / "out" / "nested_balanced.gn" / "result.txt"));
  EXPECT_EQ(Json::parse(ReadBytes(Path("s.json")))["rows"].size(), 3u);  // three traits

  // The options of a single run reach every workbook of a batch.
  fs::create_directories(folder_ / "alone");
  ASSERT_EQ(Run({"analyze", nested, "--intervals", "--level", "0.9", "--output-dir", Path("alone")})
                .exitCode,
            0);
  ASSERT_EQ(Analyze({nested, Fixture("repeat_balanced.lo.xls")},
                    {"--intervals", "--level", "0.9", "--output-dir", Path("both")})
                .exitCode,
            0);
  const std::string withIntervals = ReadBytes(folder_ / "alone" / "result.txt");
  EXPECT_NE(withIntervals, ReadBytes(folder_ / "out" / "nested_balanced.gn" / "result.txt"));
  EXPECT_EQ(ReadBytes(folder_ / "both" / "nested_balanced.gn" / "result.txt"), withIntervals);

  // Without --output-dir the folder is made beside the workbook.
  fs::copy_file(nested, folder_ / "trial.xls");
  EXPECT_EQ(Analyze({Path("trial.xls")}, {"--jobs", "1"}).exitCode, 0);
  EXPECT_TRUE(fs::exists(folder_ / "trial" / "result.txt"));
  EXPECT_FALSE(fs::exists(folder_ / "result.txt"));
}

TEST_F(BatchTest, ProgressShowsEachFinishedWorkbookOrItsMessage) {
  const ProcessResult r =
      Analyze({Fixture("nested_unbalanced.lo.xls"), Fixture("cell_text_in_factor.xlwt.xls")},
              {"--jobs", "1", "--output-dir", Path("out"), "--progress"});
  EXPECT_EQ(r.exitCode, 1);
  const std::string expected =
      R"(\[1/2\] .*nested_unbalanced\.lo\.xls: done in [0-9]+\.[0-9] s\n)"
      R"(\[2/2\] .*cell_text_in_factor\.xlwt\.xls: Data Error! At Row 6 Col 1\n)";
  EXPECT_TRUE(std::regex_match(r.err, std::regex(expected))) << r.err;
}

TEST_F(BatchTest, CtrlCStopsTheBatchAndKeepsEveryFinishedWorkbook) {
  // Enough work that the batch is still running when the first workbook is done.
  std::vector<std::string> books;
  for (int k = 0; k < 40; ++k) {
    const fs::path copy = folder_ / "in" / ("trial_" + std::to_string(k) + ".xls");
    fs::create_directories(copy.parent_path());
    fs::copy_file(Fixture("nested_10000.lo.xls"), copy);
    books.push_back(copy.string());
  }
  std::vector<std::string> args{QUORVEL_CLI, "analyze"};
  args.insert(args.end(), books.begin(), books.end());
  for (const char* option : {"--jobs", "2", "--output-dir"}) args.push_back(option);
  args.push_back(Path("out"));
  args.push_back("--summary");
  args.push_back(Path("s.json"));
  quorvel::testing::StartedProgram batch(args, folder_.string());
  ASSERT_TRUE(batch.Started());
  // Stopped once the first report is in place.
  auto anyReport = [this] {
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder_ / "out", error)) {
      if (entry.path().filename() == "result.txt") return true;
    }
    return false;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (!anyReport() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(batch.Pid(), SIGINT);
  const ProcessResult r = batch.Finish();
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_NE(r.err.find("quorvel-cli: stopped; "), std::string::npos) << r.err;

  // A finished workbook has a row per trait (five), a stopped one a single row.
  std::map<std::string, std::vector<Json>> rowsOf;
  const Json summary = Json::parse(ReadBytes(Path("s.json")));
  for (const Json& row : summary["rows"]) {
    rowsOf[row["file"].get<std::string>()].push_back(row);
  }
  ASSERT_EQ(rowsOf.size(), books.size());
  int finished = 0;
  int stopped = 0;
  for (std::size_t k = 0; k < books.size(); ++k) {
    const std::vector<Json>& rows = rowsOf[books[k]];
    const fs::path out = folder_ / "out" / ("trial_" + std::to_string(k));
    if (rows[0]["status"] == "ok") {
      ++finished;
      EXPECT_EQ(rows.size(), 5u) << k;
      // A finished workbook keeps a whole report.
      const std::string report = ReadBytes(out / "result.txt");
      EXPECT_NE(report.find("Genetic correlation matrix"), std::string::npos) << k;
    } else {
      ++stopped;
      EXPECT_EQ(rows.size(), 1u) << k;
      EXPECT_EQ(rows[0]["status"], "stopped") << k;
      EXPECT_FALSE(fs::exists(out / "result.txt")) << k;
    }
    // No temporary file of an interrupted write is left anywhere.
    if (fs::exists(out)) {
      for (const auto& entry : fs::directory_iterator(out)) {
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
      }
    }
  }
  EXPECT_GE(finished, 1);
  EXPECT_GE(stopped, 1);
}

}  // namespace
