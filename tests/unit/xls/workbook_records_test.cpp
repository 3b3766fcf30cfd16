// Record framing and the globals records: CONTINUE merging, shared strings split across
// CONTINUE records, sheet names, and the walk over the substreams.
#include <gtest/gtest.h>

#include "tests/support/cfb_builder.h"
#include "xls/record.h"
#include "xls/workbook.h"
#include "xls/xls_document.h"

namespace Kalvex {
namespace {

using namespace quorvel::testing;

// Decodes a globals substream built from records and returns the table of strings.
Workbook ReadGlobals(const Bytes& records) {
  const Bytes stream = biff::WorkbookStream(records, {});
  Workbook workbook;
  EXPECT_EQ(workbook.ReadGlobals(ByteSpan(stream), 0), stream.size());
  return workbook;
}

TEST(RecordFraming, ContinueRecordsAreJoinedToTheRecordBeforeThem) {
  Bytes stream = biff::Record(0x1234, Bytes(7, 0xAA));
  Append(stream, biff::Record(0x003C, Bytes(10, 0xBB)));
  Append(stream, biff::Record(0x003C, Bytes(20, 0xCC)));
  Append(stream, biff::Eof());
  RecordData frame;
  ASSERT_TRUE(frame.Frame(ByteSpan(stream)));
  EXPECT_EQ(frame.data.size(), 37u);
  EXPECT_EQ(frame.continueOffsets, (std::vector<std::uint32_t>{7, 17}));
  EXPECT_EQ(frame.recordSize, 7u + 30u + 12u);
  EXPECT_EQ(frame.data[6], 0xAA);
  EXPECT_EQ(frame.data[7], 0xBB);
  EXPECT_EQ(frame.data[36], 0xCC);

  Record record;
  EXPECT_EQ(record.Read(ByteSpan(stream)), 49u);
  EXPECT_EQ(record.DataSize(), 37u);
  EXPECT_EQ(record.RecordSize(), 49u);

  // A record or a CONTINUE whose length runs past the stream is not read.
  EXPECT_EQ(record.Read(ByteSpan(stream).first(40)), 0u);
  EXPECT_EQ(record.Read(ByteSpan(stream).first(3)), 0u);
}

TEST(SharedStrings, WidthFollowsEachStringsOwnFlags) {
  Bytes bodies = biff::SstString8("A");
  Append(bodies, biff::SstString16(u"\u0416b"));
  Append(bodies, biff::SstString8(""));
  Append(bodies, biff::SstString8("caf\xE9"));  // Latin-1 e-acute
  const Workbook workbook = ReadGlobals(biff::Sst(4, bodies));
  const auto& strings = workbook.sharedStrings.strings;
  ASSERT_EQ(strings.size(), 4u);
  EXPECT_EQ(strings[0].narrowText, "A");
  EXPECT_TRUE(strings[0].wideText.empty());
  EXPECT_TRUE(strings[1].IsWide());
  EXPECT_EQ(strings[1].wideText, u"\u0416b");
  EXPECT_TRUE(strings[1].narrowText.empty());
  EXPECT_TRUE(strings[2].narrowText.empty() && strings[2].wideText.empty());
  EXPECT_EQ(strings[3].narrowText, "caf\xC3\xA9");  // as UTF-8
}

TEST(SharedStrings, ContinueInsideCharactersStartsWithAFlagsByte) {
  // "ABCD" in 16-bit form, split after "AB"; the CONTINUE says the rest is 8-bit.
  Bytes bodies = biff::SstString16(u"AB");
  bodies[0] = 4;
  const std::size_t cut = bodies.size();
  Append(bodies, {0x00, 'C', 'D'});
  Append(bodies, biff::SstString8("next"));
  Workbook workbook = ReadGlobals(biff::Sst(2, bodies, {cut}));
  ASSERT_EQ(workbook.sharedStrings.strings.size(), 2u);
  EXPECT_EQ(workbook.sharedStrings.strings[0].wideText, u"ABCD");
  EXPECT_EQ(workbook.sharedStrings.strings[1].narrowText, "next");

  // 8-bit characters continued as 16-bit ones land in the 8-bit (UTF-8) text.
  bodies = biff::SstString8("ab");
  bodies[0] = 3;
  const std::size_t cut8 = bodies.size();
  Append(bodies, {0x01, 0x16, 0x04});
  workbook = ReadGlobals(biff::Sst(1, bodies, {cut8}));
  EXPECT_EQ(workbook.sharedStrings.strings[0].narrowText, "ab\xD0\x96");
}

TEST(SharedStrings, ContinueAtTheFirstCharacterAlsoStartsWithAFlagsByte) {
  // The header "3 characters, 16-bit" ends the SST record; the CONTINUE's first byte is
  // the flags byte of the characters that follow it.
  Bytes bodies = {3, 0, 1};
  const std::size_t cut = bodies.size();
  Append(bodies, {0x00, 'x', 'y', 'z'});
  Append(bodies, biff::SstString8("after"));
  const Workbook workbook = ReadGlobals(biff::Sst(2, bodies, {cut}));
  ASSERT_EQ(workbook.sharedStrings.strings.size(), 2u);
  EXPECT_EQ(workbook.sharedStrings.strings[0].wideText, u"xyz");
  EXPECT_EQ(workbook.sharedStrings.strings[1].narrowText, "after");

  // A CONTINUE at the start of a string carries no flags byte.
  Bytes whole = biff::SstString8("one");
  const std::size_t atString = whole.size();
  Append(whole, biff::SstString8("two"));
  const Workbook second = ReadGlobals(biff::Sst(2, whole, {atString}));
  EXPECT_EQ(second.sharedStrings.strings[1].narrowText, "two");
}

TEST(SharedStrings, RunsAndExtendedDataArePassedOver) {
  Bytes bodies;
  Put16(bodies, 2);
  Put8(bodies, 0x0C);  // runs and extended data, 8-bit characters
  Put16(bodies, 2);    // two runs
  Put32(bodies, 5);    // five extended bytes
  Append(bodies, {'h', 'i'});
  Append(bodies, Bytes(8 + 5, 0xEE));
  Append(bodies, biff::SstString16(u"ok"));
  const Workbook workbook = ReadGlobals(biff::Sst(2, bodies));
  ASSERT_EQ(workbook.sharedStrings.strings.size(), 2u);
  EXPECT_EQ(workbook.sharedStrings.strings[0].narrowText, "hi");
  EXPECT_EQ(workbook.sharedStrings.strings[0].runCount, 2u);
  EXPECT_EQ(workbook.sharedStrings.strings[1].wideText, u"ok");
}

TEST(SharedStrings, DamagedTablesKeepWhatFittedOrStopTheWalk) {
  // A string whose count runs past the data keeps the characters that are there.
  Bytes bodies = biff::SstString8("ab");
  bodies[0] = 9;
  Workbook workbook = ReadGlobals(biff::Sst(1, bodies));
  ASSERT_EQ(workbook.sharedStrings.strings.size(), 1u);
  EXPECT_EQ(workbook.sharedStrings.strings[0].narrowText, "ab");

  // A count that cannot fit in the data: no strings, and nothing after the table.
  Bytes globals = biff::Sst(1000000, biff::SstString8("x"));
  const Bytes stream = biff::WorkbookStream(globals, {biff::Dimensions(0, 1, 0, 1)});
  Workbook damaged;
  std::vector<Worksheet> sheets;
  ReadWorkbookStream(ByteSpan(stream), damaged, sheets);
  EXPECT_TRUE(damaged.sharedStrings.strings.empty());
  EXPECT_TRUE(sheets.empty());
}

TEST(SharedStrings, LongTableWithShortContinuesIsFollowedByTheNextRecord) {
  Bytes bodies;
  std::vector<std::size_t> cuts;
  for (int k = 0; k < 1500; ++k) {
    if (k % 100 == 99) cuts.push_back(bodies.size());
    Append(bodies, biff::SstString8("string " + std::to_string(k)));
  }
  ASSERT_GT(bodies.size(), 8224u);
  Bytes globals = biff::Sst(1500, bodies, cuts);
  Append(globals, biff::BoundSheet("Data"));
  const Workbook workbook = ReadGlobals(globals);
  ASSERT_EQ(workbook.sharedStrings.strings.size(), 1500u);
  EXPECT_EQ(workbook.sharedStrings.strings[1499].narrowText, "string 1499");
  ASSERT_EQ(workbook.boundSheets.size(), 1u);
  EXPECT_EQ(workbook.boundSheets[0].name.Utf8(), "Data");
}

TEST(GlobalsRecords, SheetNamesOf31CharactersInBothForms) {
  const std::string narrow(31, 'n');
  const std::u16string wide(31, u'\u0439');
  Bytes globals = biff::BoundSheet(narrow);
  Append(globals, biff::BoundSheetWide(wide));
  const Workbook workbook = ReadGlobals(globals);
  ASSERT_EQ(workbook.boundSheets.size(), 2u);
  EXPECT_EQ(workbook.boundSheets[0].name.narrowText, narrow);
  EXPECT_EQ(workbook.boundSheets[1].name.wideText, wide);
}

TEST(StreamWalk, ChartSheetEndsTheWalkAndEncryptionStopsIt) {
  Bytes stream = biff::WorkbookStream({}, {biff::Dimensions(0, 1, 0, 1)});
  Append(stream, biff::Bof(0x0020));  // a chart sheet
  Append(stream, biff::Record(0x1002, Bytes(16, 0)));
  Append(stream, biff::Eof());
  Append(stream, biff::Bof(0x0010));
  Append(stream, biff::Eof());
  Workbook workbook;
  std::vector<Worksheet> sheets;
  ReadWorkbookStream(ByteSpan(stream), workbook, sheets);
  EXPECT_EQ(sheets.size(), 1u);

  // Records after FILEPASS are ciphertext: nothing after it is decoded.
  const Bytes encrypted =
      biff::WorkbookStream(biff::Record(0x002F, Bytes(54, 1)), {biff::Dimensions(0, 9, 0, 9)});
  sheets.clear();
  ReadWorkbookStream(ByteSpan(encrypted), workbook, sheets);
  EXPECT_TRUE(sheets.empty());

  // No BOF at the start: nothing at all.
  EXPECT_EQ(ReadWorkbookStream(ByteSpan(encrypted).subspan(4), workbook, sheets), 0u);
}

}  // namespace
}  // namespace Kalvex
