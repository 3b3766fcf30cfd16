// The Open command on real workbooks with a scripted platform: dialog settings, the
// folder rules, the echo, and what each failure leaves behind.
#include "app/commands/open_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <limits>
#include <memory>
#include <thread>

#include "tests/support/cfb_builder.h"
#include "tests/support/fake_platform.h"
#include "tests/support/report_compare.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) { return testing::ReadFile(path.string()); }

class OpenCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("open_command_" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    state_.dialogFolder = "/start/here";
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Copies a workbook of the test data into the temporary folder and queues it as the
  // dialog's answer.
  fs::path ChooseWorkbook(const std::string& name, const fs::path& subfolder = {}) {
    const fs::path target = folder_ / subfolder / name;
    fs::create_directories(target.parent_path());
    fs::copy_file(fs::path(QUORVEL_TEST_DATA) / "xls" / "fixtures" / name, target,
                  fs::copy_options::overwrite_existing);
    platform_.ChooseNextOpen(target.string());
    return target;
  }

  fs::path folder_;
  FakePlatform platform_;
  AppState state_;
  std::shared_ptr<const DesignData> data_ = std::make_shared<const DesignData>();
};

TEST_F(OpenCommandTest, CancelledDialogChangesNothing) {
  const auto before = data_;
  state_.dataFolder = "/old/";
  ImportDataSheet(state_, data_, platform_);
  EXPECT_EQ(platform_.calls,
            (std::vector<std::string>{"ChooseOpenFile(/start/here)",
                                      "ShowMessage(Warning): File cannot be opened!"}));
  const FileDialogSpec& spec = platform_.openSpecs.at(0);
  EXPECT_EQ(spec.filter,
            "Workbooks(*.xls;*.xlsx;*.ods;*.csv;*.tsv)|*.xls;*.xlsx;*.ods;*.csv;*.tsv|"
            "Excel 97-2003 workbooks(*.xls)|*.xls|Excel workbooks(*.xlsx)|*.xlsx|"
            "OpenDocument spreadsheets(*.ods)|*.ods|Text files(*.csv;*.tsv)|*.csv;*.tsv|"
            "All files(*.*)|*.*||");
  EXPECT_EQ(spec.defaultExtension, "");
  EXPECT_EQ(spec.initialFileName, "*.xls;*.xlsx;*.ods;*.csv;*.tsv");
  EXPECT_TRUE(spec.hideReadOnly);
  EXPECT_EQ(state_.dataFolder, "/old/");
  EXPECT_EQ(data_, before);
}

TEST_F(OpenCommandTest, AcceptedSheetReplacesTheDataWritesTheEchoAndShowsIt) {
  ChooseWorkbook("codes_fractional.xlwt.xls");
  ImportDataSheet(state_, data_, platform_);

  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_EQ(state_.dataFileName, "codes_fractional.xlwt.xls");
  EXPECT_EQ(state_.dataFolder, folder_.string() + "/");
  EXPECT_EQ(state_.displayMode.load(), DisplayMode::Echo);
  EXPECT_EQ(data_->kind, ModelKind::Nested);
  EXPECT_EQ(data_->observationCount, 24);
  // A data region of 25 rows and 4 columns.
  EXPECT_EQ(platform_.calls,
            (std::vector<std::string>{"ChooseOpenFile(/start/here)", "SetScrollSize(820, 900)",
                                      "InvalidateView", "ShowStatus()"}));
  EXPECT_EQ(ReadBytes(folder_ / "tmp.txt").substr(0, 9), "\r\n   The ");
}

// The last row lacks its last trait: the sheet is accepted without that trait, as the
// extent rule says, and the platform is told which column was left out and why. The next
// clean sheet clears the warning; a failed import leaves it, as it leaves the data.
TEST_F(OpenCommandTest, ColumnsLeftOutByTheExtentRuleAreNamedInAWarning) {
  ChooseWorkbook("last_trait_missing.lo.xls");
  ImportDataSheet(state_, data_, platform_);
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_EQ(data_->traitCount, 2);
  const std::string warning =
      "Trait column Trait3 (column 5) left out for every row: the data region ends at the last "
      "number of the sheet (row 25, column 4), and row 25 has no number in this column.";
  EXPECT_EQ(platform_.statusTexts, std::vector<std::string>{warning});
  EXPECT_EQ(ReadBytes(folder_ / "tmp.txt").find("Trait3"), std::string::npos);

  ChooseWorkbook("cell_empty_factor.gn.xls");
  ImportDataSheet(state_, data_, platform_);
  EXPECT_EQ(platform_.statusTexts, std::vector<std::string>{warning});
  ChooseWorkbook("codes_fractional.xlwt.xls");
  ImportDataSheet(state_, data_, platform_);
  EXPECT_EQ(platform_.statusTexts, (std::vector<std::string>{warning, ""}));
}

TEST_F(OpenCommandTest, FailuresKeepDataModeAndViewButMoveTheDataFolder) {
  // First an accepted sheet, so that there is something to keep.
  ChooseWorkbook("codes_fractional.xlwt.xls");
  ImportDataSheet(state_, data_, platform_);
  const auto accepted = data_;
  const std::string echo = ReadBytes(folder_ / "tmp.txt");

  struct Case {
    const char* workbook;  // queued from a new folder; empty: a path that does not exist
    const char* message;
  } cases[] = {
      {"hdr_trait_space.lo.xls", "Trait Name Error!\n At Row 1 Col 3 "},
      {"cell_empty_factor.gn.xls", "Data Error!\n At Row 3 Col 2 "},
      {"rows_three_only.lo.xls", "Data Error!"},
      {"", "Data Error!"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const fs::path sub = "failure" + std::to_string(++n);
    fs::create_directories(folder_ / sub);
    if (*c.workbook != '\0') {
      ChooseWorkbook(c.workbook, sub);
    } else {
      platform_.ChooseNextOpen((folder_ / sub / "missing.xls").string());
    }
    platform_.calls.clear();
    ImportDataSheet(state_, data_, platform_);
    EXPECT_EQ(platform_.calls,
              (std::vector<std::string>{"ChooseOpenFile(/start/here)",
                                        std::string("ShowMessage(Warning): ") + c.message}))
        << c.workbook;
    EXPECT_EQ(state_.dataFolder, (folder_ / sub).string() + "/");
    EXPECT_EQ(data_, accepted);
    EXPECT_EQ(state_.displayMode.load(), DisplayMode::Echo);
    EXPECT_FALSE(fs::exists(folder_ / sub / "tmp.txt"));
  }
  EXPECT_EQ(ReadBytes(folder_ / "tmp.txt"), echo);
}

// A nested sheet of six observations written record by record, with one cell stored as
// the given NUMBER or RK record (row and column 0-based); see tests/support/cfb_builder.h.
fs::path WriteNestedWorkbook(const fs::path& path, const testing::Bytes& specialCell) {
  namespace biff = testing::biff;
  testing::Bytes strings;
  for (const char* name : {"Male", "Female", "Trait1", "Trait2"}) {
    testing::Append(strings, biff::SstString8(name));
  }
  testing::Bytes sheet = biff::Dimensions(0, 7, 0, 4);
  for (std::uint16_t r = 0; r <= 6; ++r) testing::Append(sheet, biff::Row(r));
  for (std::uint16_t c = 0; c < 4; ++c) testing::Append(sheet, biff::LabelSst(0, c, c));
  for (std::uint16_t r = 1; r <= 6; ++r) {
    testing::Append(sheet, biff::Number(r, 0, 1 + r % 2));
    testing::Append(sheet, biff::Number(r, 1, 1 + r % 3));
    testing::Append(sheet, biff::Number(r, 2, 10.5 * r));
    testing::Append(sheet, biff::Number(r, 3, 3.25 * r));
  }
  // A later record for the same cell replaces the earlier one.
  testing::Append(sheet, specialCell);
  const testing::Bytes file = biff::WorkbookFile(biff::Sst(4, strings), {sheet});
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return path;
}

// Writers that store a missing measurement as NaN or an infinity (numpy-based ones and
// xlwt among them) give the message of a text cell at that cell, and nothing is loaded.
TEST_F(OpenCommandTest, NanAndInfinityCellsAreRefusedAtTheirCell) {
  namespace biff = testing::biff;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    testing::Bytes cell;
    const char* message;
  } cases[] = {
      {biff::Number(3, 2, nan), "Data Error!\nRow 4 Col 3 "},
      {biff::Number(2, 3, -inf), "Data Error!\nRow 3 Col 4 "},
      {biff::Rk(6, 3, 0x7FF00000), "Data Error!\nRow 7 Col 4 "},   // +inf, the last cell
      {biff::Rk(5, 2, 0x7FF80001), "Data Error!\nRow 6 Col 3 "},   // NaN divided by 100
      {biff::Number(2, 1, nan), "Data Error!\n At Row 3 Col 2 "},  // a factor cell
  };
  state_.dataFolder = folder_.string() + "/";
  for (const Case& c : cases) {
    const fs::path book = WriteNestedWorkbook(folder_ / "special.xls", c.cell);
    platform_.calls.clear();
    EXPECT_FALSE(ImportWorkbook(state_, data_, platform_, book.string()));
    EXPECT_EQ(platform_.calls,
              (std::vector<std::string>{std::string("ShowMessage(Warning): ") + c.message}));
    EXPECT_EQ(data_->kind, ModelKind::None);
    EXPECT_FALSE(fs::exists(folder_ / "tmp.txt"));
  }
  // The same sheet with a finite value in place loads.
  const fs::path book = WriteNestedWorkbook(folder_ / "special.xls", biff::Number(3, 2, 1e300));
  EXPECT_TRUE(ImportWorkbook(state_, data_, platform_, book.string()));
  EXPECT_EQ(data_->traitValues[0][2], 1e300);
}

// The Open command reads every format by content: the same data set as .ods and as a
// semicolon text file gives the echo of its .xls.
TEST_F(OpenCommandTest, EveryFormatGivesTheEchoOfTheXls) {
  ChooseWorkbook("codes_fractional.xlwt.xls");
  ImportDataSheet(state_, data_, platform_);
  const std::string echo = ReadBytes(folder_ / "tmp.txt");
  for (const char* name : {"codes_fractional.gn.ods", "codes_fractional.semicolon.csv"}) {
    const fs::path target = folder_ / name;
    fs::copy_file(fs::path(QUORVEL_TEST_DATA) / "modern" / name, target);
    fs::remove(folder_ / "tmp.txt");
    platform_.ChooseNextOpen(target.string());
    ImportDataSheet(state_, data_, platform_);
    EXPECT_TRUE(platform_.messages.empty()) << name;
    EXPECT_EQ(ReadBytes(folder_ / "tmp.txt"), echo) << name;
  }
}

// A FIFO (which has no writer) and a folder are refused at once with "Data Error!": the
// window must not freeze on a path that is no regular file.
TEST_F(OpenCommandTest, AFifoOrAFolderIsADataErrorAtOnce) {
  const fs::path fifo = folder_ / "pipe.xlsx";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directories(folder_ / "folder.xls");
  for (const fs::path& path : {fifo, folder_ / "folder.xls"}) {
    platform_.ChooseNextOpen(path.string());
    platform_.calls.clear();
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([this, done] {
      ImportDataSheet(state_, data_, platform_);
      done->set_value();
    }).detach();
    ASSERT_EQ(finished.wait_for(std::chrono::seconds(20)), std::future_status::ready) << path;
    EXPECT_EQ(platform_.calls, (std::vector<std::string>{"ChooseOpenFile(/start/here)",
                                                         "ShowMessage(Warning): Data Error!"}));
  }
}

TEST_F(OpenCommandTest, EchoThatCannotBeCreatedIsReportedByName) {
  // A folder named tmp.txt stops the file's creation, whoever runs the test.
  ChooseWorkbook("codes_fractional.xlwt.xls");
  fs::create_directories(folder_ / "tmp.txt");
  ImportDataSheet(state_, data_, platform_);
  EXPECT_EQ(platform_.messages,
            (std::vector<std::string>{(folder_ / "tmp.txt").string() + " cannot be created!"}));
  EXPECT_EQ(platform_.CountCalls("ShowMessage(Warning)"), 1);
  EXPECT_EQ(platform_.CountCalls("SetScrollSize"), 0);
  EXPECT_EQ(platform_.invalidations, 0);
  EXPECT_EQ(state_.displayMode.load(), DisplayMode::Blank);
  EXPECT_EQ(data_->kind, ModelKind::None);
}

}  // namespace
}  // namespace quorvel
