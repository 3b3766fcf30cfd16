// The cells dump: its line format, text escapes and the refusal of an unreadable file.
#include "cli/cells_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <thread>
#include <utility>

#include "tests/support/cfb_builder.h"
#include "tests/support/zip_builder.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;

std::filesystem::path WriteTemp(const std::string& name, const Bytes& bytes) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorvel_cells_" + std::to_string(::getpid()) + name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(CellsCommand, PrintsEveryNonEmptyCellWithEscapedText) {
  Bytes strings = biff::SstString8("a\tb\\c\r\nd");
  Append(strings, biff::SstString16(u"\u00E9t\u00E9 \U0001F600"));
  Bytes sheet = biff::Dimensions(0, 3, 0, 3);
  Append(sheet, biff::Row(0));
  Append(sheet, biff::LabelSst(0, 2, 0));
  Append(sheet, biff::LabelSst(1, 0, 1));
  Append(sheet, biff::Rk(1, 1, static_cast<std::uint32_t>(-12 * 4) | 2u));
  Append(sheet, biff::Number(2, 2, 0.1));
  const auto path = WriteTemp("ok.xls", biff::WorkbookFile(biff::Sst(2, strings), {sheet, {}}));
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunCellsCommand(path.c_str(), out, err), 0);
  std::filesystem::remove(path);
  EXPECT_EQ(out.str(),
            "# sheet 0: 3 x 3\n"
            "0\t2\tText\ta\\tb\\\\c\\r\\nd\n"
            "1\t0\tWideText\t\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80\n"
            "1\t1\tInteger\t-12\n"
            "2\t2\tReal\t0.10000000000000001\n"
            "# sheet 1: 0 x 0\n");
  EXPECT_EQ(err.str(), "");
}

// Every format, every worksheet: an .xlsx of two sheets and a text file.
TEST(CellsCommand, DumpsEveryFormat) {
  const auto book =
      WriteTemp("two.xlsx",
                MinimalXlsx({WorksheetXml("<row><c t=\"inlineStr\"><is><t>Male</t></is></c>"
                                          "<c><v>2.5</v></c></row>"),
                             WorksheetXml("<row r=\"3\"><c r=\"B3\" t=\"b\"><v>1</v></c></row>")}));
  const std::string csv = "Male;Trait1\n\"a;b\";1,5\n";
  const auto text = WriteTemp("semi.csv", Bytes(csv.begin(), csv.end()));
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunCellsCommand(book.c_str(), out, err), 0);
  EXPECT_EQ(RunCellsCommand(text.c_str(), out, err), 0);
  std::filesystem::remove(book);
  std::filesystem::remove(text);
  EXPECT_EQ(
      out.str(),
      "# sheet 0: 1 x 2\n0\t0\tText\tMale\n0\t1\tReal\t2.5\n"
      "# sheet 1: 3 x 2\n2\t1\tInteger\t1\n"
      "# sheet 0: 2 x 2\n0\t0\tText\tMale\n0\t1\tText\tTrait1\n1\t0\tText\ta;b\n1\t1\tReal\t1.5\n");
  EXPECT_EQ(err.str(), "");
}

// A file of no format read here, a directory and a FIFO are refused at once (the FIFO has
// no writer: a reader that opened it blocking would wait for ever).
TEST(CellsCommand, UnreadableOrIrregularFilesAreADataError) {
  const auto binary = WriteTemp("bad.xls", Bytes(600, 0x00));
  const auto folder =
      std::filesystem::temp_directory_path() / ("quorvel_cells_dir" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const auto fifo = folder / "pipe.csv";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  for (const std::filesystem::path& path : {binary, folder, fifo}) {
    SCOPED_TRACE(path.string());
    auto outcome = std::make_shared<std::promise<std::pair<int, std::string>>>();
    std::future<std::pair<int, std::string>> result = outcome->get_future();
    std::thread([path, outcome] {
      std::ostringstream out;
      std::ostringstream err;
      const int code = RunCellsCommand(path.c_str(), out, err);
      outcome->set_value({code, out.str() + "|" + err.str()});
    }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(result.get(), std::make_pair(1, std::string("|Data Error!\n")));
  }
  std::filesystem::remove(binary);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorvel
