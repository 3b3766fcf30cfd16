// Opening a workbook path: only regular files, the format chosen by content, and the
// failures that make the import say "Data Error!".
#include "workbook/open_workbook.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "tests/support/zip_builder.h"

namespace Kalvex {
namespace {

namespace fs = std::filesystem;
using quorvel::testing::Bytes;

class OpenWorkbookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path(::testing::TempDir()) / ("open_workbook_" + std::to_string(::getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path Write(const std::string& name, const Bytes& bytes) {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  fs::path Write(const std::string& name, const std::string& text) {
    return Write(name, Bytes(text.begin(), text.end()));
  }

  fs::path folder_;
};

// The name says nothing: a workbook named .csv that is an .xlsx opens as one.
TEST_F(OpenWorkbookTest, TheContentChoosesTheReader) {
  const std::string sheet = quorvel::testing::WorksheetXml("<row><c><v>1</v></c></row>");
  const struct {
    fs::path path;
    WorkbookFormat format;
  } cases[] = {
      {Write("book.csv", quorvel::testing::MinimalXlsx({sheet, sheet})), WorkbookFormat::Xlsx},
      {Write("book.xls",
             quorvel::testing::MinimalOds("<table:table><table:table-row><table:table-cell "
                                          "office:value-type=\"float\" office:value=\"1\"/>"
                                          "</table:table-row></table:table>")),
       WorkbookFormat::Ods},
      {Write("book.ods", std::string("a;b\n1;2,5\n")), WorkbookFormat::DelimitedText},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(ReadRegularFile(c.path.c_str(), bytes));
    EXPECT_EQ(SniffFormat(ByteSpan(bytes)), c.format);
    OpenedWorkbook workbook;
    ASSERT_TRUE(OpenWorkbook(c.path.c_str(), workbook));
    EXPECT_EQ(workbook.Format(), c.format);
    ASSERT_GE(workbook.SheetCount(), 1u);
    EXPECT_EQ(workbook.Sheet(workbook.SheetCount()), nullptr);
    EXPECT_EQ(workbook.Sheet(0)->MaxRows(), SheetGrid::kLargeMaxRows);
    EXPECT_EQ(workbook.Sheet(0)->CellAt(0, 0)->Kind() == CellKind::Text,
              c.format == WorkbookFormat::DelimitedText);
  }
  OpenedWorkbook first;
  ASSERT_TRUE(OpenWorkbook(cases[0].path.c_str(), first, SheetSelection::FirstOnly));
  EXPECT_EQ(first.SheetCount(), 1u);
  OpenedWorkbook all;
  ASSERT_TRUE(OpenWorkbook(cases[0].path.c_str(), all));
  EXPECT_EQ(all.SheetCount(), 2u);
}

// What no reader takes: the import shows "Data Error!" for each.
TEST_F(OpenWorkbookTest, DamagedAndForeignFilesAreRefused) {
  Bytes ole2 = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  ole2.resize(2048, 0);
  const fs::path files[] = {
      Write("ole2.xls", ole2),  // no compound document
      Write("other.zip",
            quorvel::testing::BuildZip({{"readme.txt", "hello"}})),  // a zip of neither package
      Write("cut.xlsx", Bytes{'P', 'K', 3, 4, 20, 0, 0, 0}),         // a damaged zip
      Write("binary.csv", Bytes{0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0}),  // not text
      Write("page.csv", std::string("<!DOCTYPE html><html><body>Male,Female</body></html>")),
      folder_ / "does-not-exist.xlsx",
  };
  for (const fs::path& path : files) {
    OpenedWorkbook workbook;
    EXPECT_FALSE(OpenWorkbook(path.c_str(), workbook)) << path;
    EXPECT_EQ(workbook.SheetCount(), 0u) << path;
  }
}

// A FIFO, a device and a directory are refused before a byte is read; the FIFO, which has
// no writer, would block a reader that opened it the ordinary way.
TEST_F(OpenWorkbookTest, OnlyRegularFilesAreRead) {
  const fs::path fifo = folder_ / "pipe.xlsx";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const fs::path& path : {fifo, fs::path("/dev/zero"), fs::path("/dev/null"), folder_}) {
    SCOPED_TRACE(path.string());
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> result = done->get_future();
    std::thread([path, done] {
      OpenedWorkbook workbook;
      done->set_value(OpenWorkbook(path.c_str(), workbook));
    }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_FALSE(result.get());
  }
  // A link to a regular file is that file.
  const fs::path target = Write("data.csv", std::string("Male,Female\n1,2\n"));
  const fs::path link = folder_ / "link.csv";
  fs::create_symlink(target, link);
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(ReadRegularFile(link.c_str(), bytes));
  EXPECT_EQ(bytes.size(), 16u);
}

}  // namespace
}  // namespace Kalvex
