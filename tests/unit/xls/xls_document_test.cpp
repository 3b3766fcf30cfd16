// The document's life cycle: repeated loads, failed loads, and the workbook file kept open
// only while the document holds a loaded workbook.
#include "xls/xls_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/cfb_builder.h"

namespace Kalvex {
namespace {

using namespace quorvel::testing;

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

class TempFile {
 public:
  TempFile(const std::string& name, const Bytes& bytes)
      : path_(std::filesystem::temp_directory_path() /
              ("quorvel_xls_" + std::to_string(::getpid()) + "_" + name)) {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::filesystem::permissions(
        path_, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  }
  ~TempFile() { std::filesystem::remove(path_); }
  const char* Path() const { return path_.c_str(); }

 private:
  std::filesystem::path path_;
};

Bytes OneCellWorkbook(double value) {
  Bytes sheet = biff::Dimensions(0, 1, 0, 1);
  Append(sheet, biff::Row(0));
  Append(sheet, biff::Number(0, 0, value));
  return biff::WorkbookFile({}, {sheet});
}

TEST(XlsDocument, LoadsReplaceEachOtherAndAFailedOpenKeepsThePrevious) {
  XlsDocument document;
  EXPECT_EQ(document.SheetCount(), 0u);
  EXPECT_EQ(document.Sheet(0), nullptr);
  const Bytes first = OneCellWorkbook(1.0);
  ASSERT_TRUE(document.Load(ByteSpan(first)));
  EXPECT_EQ(document.Sheet(1), nullptr);
  Bytes twoSheets =
      biff::WorkbookFile({}, {biff::Dimensions(0, 2, 0, 2), biff::Dimensions(0, 3, 0, 3)});
  ASSERT_TRUE(document.Load(ByteSpan(twoSheets)));
  EXPECT_EQ(document.SheetCount(), 2u);
  EXPECT_EQ(document.Sheet(1)->RowCount(), 3u);
  EXPECT_EQ(document.Sheet(1)->Document(), &document);
  EXPECT_EQ(document.Sheet(1)->SheetIndex(), 1u);

  // Not a compound document: the loaded workbook stays.
  const Bytes garbage(2048, 7);
  EXPECT_FALSE(document.Load(ByteSpan(garbage)));
  EXPECT_EQ(document.SheetCount(), 2u);

  // A compound document without the stream "Workbook": nothing remains.
  const Bytes noWorkbook = BuildCompoundDocument({{u"Book", Bytes(100, 1)}});
  EXPECT_FALSE(document.Load(ByteSpan(noWorkbook)));
  EXPECT_EQ(document.SheetCount(), 0u);

  // A workbook stream that does not start with a BOF loads with no worksheets.
  const Bytes noBof = BuildCompoundDocument({{u"Workbook", Bytes(100, 1)}});
  EXPECT_TRUE(document.Load(ByteSpan(noBof)));
  EXPECT_EQ(document.SheetCount(), 0u);
}

// Directory names compare without regard to case: writers that spell the stream
// "WORKBOOK" or "workbook" are read, and the exact spelling wins when both are present.
// A BIFF5 workbook keeps its records in a stream "Book", which is still refused whole.
TEST(XlsDocument, WorkbookStreamIsFoundInAnyCaseAndBiff5BookIsRefused) {
  Bytes sheet = biff::Dimensions(0, 1, 0, 1);
  Append(sheet, biff::Row(0));
  Append(sheet, biff::Number(0, 0, 4.25));
  const Bytes stream = biff::WorkbookStream({}, {sheet});
  for (const std::u16string name : {u"WORKBOOK", u"workbook", u"WorkBook"}) {
    XlsDocument document;
    ASSERT_TRUE(
        document.Load(ByteSpan(BuildCompoundDocument({{u"Other", Bytes(10, 0)}, {name, stream}}))));
    ASSERT_EQ(document.SheetCount(), 1u);
    EXPECT_EQ(document.Sheet(0)->CellAt(0, 0)->RealValue(), 4.25);
  }

  XlsDocument both;
  ASSERT_TRUE(both.Load(
      ByteSpan(BuildCompoundDocument({{u"WORKBOOK", Bytes(100, 1)}, {u"Workbook", stream}}))));
  EXPECT_EQ(both.SheetCount(), 1u);

  // BIFF5: a BOF of version 0x0500 in a stream "Book" (any case).
  Bytes bof;
  Put16(bof, 0x0500);
  Put16(bof, 0x0005);
  Put16(bof, 0x0DBB);
  Put16(bof, 0x07CC);
  Bytes biff5 = biff::Record(0x0809, bof);
  Append(biff5, biff::Eof());
  for (const std::u16string name : {u"Book", u"BOOK"}) {
    XlsDocument document;
    EXPECT_FALSE(document.Load(ByteSpan(BuildCompoundDocument({{name, biff5}}))));
    EXPECT_EQ(document.SheetCount(), 0u);
  }
}

TEST(XlsDocument, ReadOnlyFileStaysOpenUntilTheNextLoadAndFailuresCloseIt) {
  const TempFile good("good.xls", OneCellWorkbook(2.5));
  const TempFile bad("bad.xls", BuildCompoundDocument({{u"Other", Bytes(10, 0)}}));
  const std::size_t baseline = OpenDescriptors();
  {
    XlsDocument document;
    ASSERT_TRUE(document.Load(good.Path()));
    EXPECT_EQ(document.Sheet(0)->CellAt(0, 0)->RealValue(), 2.5);
    EXPECT_EQ(OpenDescriptors(), baseline + 1);
    EXPECT_FALSE(document.Load(bad.Path()));
    EXPECT_EQ(OpenDescriptors(), baseline);
    ASSERT_TRUE(document.Load(good.Path()));
    EXPECT_EQ(OpenDescriptors(), baseline + 1);
  }
  EXPECT_EQ(OpenDescriptors(), baseline);
  XlsDocument document;
  EXPECT_FALSE(document.Load("/nonexistent/book.xls"));
  EXPECT_EQ(OpenDescriptors(), baseline);
}

}  // namespace
}  // namespace Kalvex
