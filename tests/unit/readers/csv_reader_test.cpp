// Delimiter-separated text: encodings, separators, quoting, cell kinds and extent.
#include "csv/csv_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/readers/grid_text.h"

namespace Kalvex {
namespace {

ByteSpan Span(const std::string& text) {
  return ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

SheetGrid Read(const std::string& text) {
  SheetGrid grid(SheetGrid::kLargeMaxRows, SheetGrid::kLargeMaxColumns);
  EXPECT_TRUE(ReadDelimitedText(Span(text), grid)) << text;
  return grid;
}

double RealAt(const SheetGrid& grid, std::uint32_t row, std::uint32_t column) {
  const CellValue* cell = grid.CellAt(row, column);
  EXPECT_EQ(cell->Kind(), CellKind::Real) << row << "," << column;
  return cell->RealValue();
}

TEST(DelimitedText, SeparatorComesFromTheFirstLine) {
  EXPECT_EQ(DetectSeparator("Male,Female,Trait1\n1;2;3;4;5"), ',');
  EXPECT_EQ(DetectSeparator("Male;Female;Trait1\n1,5;2,5;3"), ';');
  EXPECT_EQ(DetectSeparator("Male\tFemale\tTrait1,x\n"), '\t');
  EXPECT_EQ(DetectSeparator("\"a;b;c\",d\n"), ',');  // quoted separators do not count
  EXPECT_EQ(DetectSeparator("a;b,c\n"), ';');        // a tie goes to ';'
  EXPECT_EQ(DetectSeparator("single\n1,2,3"), ',');
}

TEST(DelimitedText, NumbersTextsAndEmptyFields) {
  const SheetGrid grid =
      Read("Male,Female,Trait1,Note\n 7 ,4,-2.5e1,n.a.\n3,,\"12.5\",\"\"\n,  ,1e999, x \n");
  EXPECT_EQ(grid.RowCount(), 4u);
  EXPECT_EQ(grid.ColumnCount(), 4u);
  EXPECT_EQ(TextAt(grid, 0, 3), "Note");
  EXPECT_EQ(RealAt(grid, 1, 0), 7.0);
  EXPECT_EQ(RealAt(grid, 1, 2), -25.0);
  EXPECT_EQ(TextAt(grid, 1, 3), "n.a.");
  EXPECT_EQ(grid.CellAt(2, 1)->Kind(), CellKind::Empty);
  EXPECT_EQ(RealAt(grid, 2, 2), 12.5);                    // quoted numbers are numbers
  EXPECT_EQ(grid.CellAt(2, 3)->Kind(), CellKind::Empty);  // "" is empty
  EXPECT_EQ(grid.CellAt(3, 1)->Kind(), CellKind::Empty);  // blanks only
  EXPECT_EQ(TextAt(grid, 3, 2), "1e999");                 // out of range: text
  EXPECT_EQ(TextAt(grid, 3, 3), " x ");                   // text keeps its blanks
}

TEST(DelimitedText, SemicolonsAllowDecimalCommas) {
  const SheetGrid grid = Read("Male;Trait1;Trait2;Trait3\r\n1;305,508;26.97;1,234,5\r\n");
  EXPECT_EQ(RealAt(grid, 1, 1), 305.508);
  EXPECT_EQ(RealAt(grid, 1, 2), 26.97);
  EXPECT_EQ(TextAt(grid, 1, 3), "1,234,5");
  // With commas between fields a comma is never a decimal point.
  const SheetGrid commas = Read("a\tb\n\"1,5\"\t2\n");
  EXPECT_EQ(TextAt(commas, 1, 0), "1,5");
}

TEST(DelimitedText, QuotingAsRfc4180WithLineEndsOfEveryKind) {
  const SheetGrid grid =
      Read("\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\"\rnext\n\"x\"tail,last\n\"open");
  EXPECT_EQ(TextAt(grid, 0, 0), "a,b");
  EXPECT_EQ(TextAt(grid, 0, 1), "say \"hi\"");
  EXPECT_EQ(TextAt(grid, 0, 2), "two\r\nlines");
  EXPECT_EQ(TextAt(grid, 1, 0), "next");
  EXPECT_EQ(TextAt(grid, 2, 0), "xtail");
  EXPECT_EQ(TextAt(grid, 2, 1), "last");
  EXPECT_EQ(TextAt(grid, 3, 0), "open");  // an unclosed quote runs to the end of the file
  EXPECT_EQ(grid.RowCount(), 4u);
}

TEST(DelimitedText, ExtentHoldsTheNonEmptyCellsOnly) {
  const SheetGrid grid = Read("a,b,,,\n\n,,\n1,2,,\n\n\n");
  EXPECT_EQ(grid.RowCount(), 4u);
  EXPECT_EQ(grid.ColumnCount(), 2u);
  EXPECT_EQ(Read("").RowCount(), 0u);
  const SheetGrid wide = Read("a" + std::string(16383, ',') + "b,c\n");
  EXPECT_EQ(wide.ColumnCount(), SheetGrid::kLargeMaxColumns);  // c, past the cap, is dropped
  EXPECT_EQ(TextAt(wide, 0, 16383), "b");
  EXPECT_EQ(wide.StoredCellCount(), 2 * SheetGrid::kChunkColumns);
}

TEST(DelimitedText, EncodingsAreRecognised) {
  std::string text;
  ASSERT_TRUE(DecodeText(Span("\xEF\xBB\xBFM\xC3\xA4nnchen"), text));
  EXPECT_EQ(text, "M\xC3\xA4nnchen");
  // Not valid UTF-8: Latin-1, with the Windows characters in 0x80-0x9F.
  ASSERT_TRUE(DecodeText(Span("M\xE4nnchen \x80\x81"), text));
  EXPECT_EQ(text, "M\xC3\xA4nnchen \xE2\x82\xAC\xC2\x81");
  ASSERT_TRUE(DecodeText(Span(std::string("\xFF\xFEM\0\xE4\0,\0x\0", 10)), text));
  EXPECT_EQ(text, "M\xC3\xA4,x");
  ASSERT_TRUE(DecodeText(Span(std::string("\xFE\xFF\0M\0\xE4", 6)), text));
  EXPECT_EQ(text, "M\xC3\xA4");
  ASSERT_TRUE(DecodeText(Span("a,b\r\n1,2\x1A"), text));
  EXPECT_EQ(text, "a,b\r\n1,2");
}

TEST(DelimitedText, BinaryAndMarkupAreNotText) {
  SheetGrid grid(SheetGrid::kLargeMaxRows, SheetGrid::kLargeMaxColumns);
  for (const std::string& bytes :
       {std::string("Male,Female\n1,\0", 15), std::string("\x01\x02\x03"), std::string("a\x1B[0m"),
        std::string("  <?xml version=\"1.0\"?><a/>"), std::string("<!DOCTYPE html><html>"),
        std::string("\x7F"
                    "ELF")}) {
    EXPECT_FALSE(ReadDelimitedText(Span(bytes), grid)) << bytes;
    EXPECT_EQ(grid.RowCount(), 0u);
  }
}

}  // namespace
}  // namespace Kalvex
