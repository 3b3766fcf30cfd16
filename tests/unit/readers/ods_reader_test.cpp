// OpenDocument spreadsheets: value types, repetition, text markup, formulas, annotations,
// covered cells, the null date, several tables and the filled-cell limit.
#include "ods/ods_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "cellvalues/cell_text.h"
#include "tests/support/zip_builder.h"
#include "tests/unit/readers/grid_text.h"

namespace Kalvex {
namespace {

using quorvel::testing::Bytes;
using quorvel::testing::MinimalOds;

std::vector<SheetGrid> Read(const Bytes& file, bool expected = true) {
  std::vector<SheetGrid> grids;
  EXPECT_EQ(ReadOdsWorkbook(ByteSpan(file), grids), expected);
  return grids;
}

std::string Table(const std::string& rows) {
  return "<table:table table:name=\"T\">" + rows + "</table:table>";
}

TEST(Ods, ValueTypesGiveTheCellKindsOfXls) {
  const std::vector<SheetGrid> grids = Read(MinimalOds(Table(
      "<table:table-column table:number-columns-repeated=\"9\"/>"
      "<table:table-row>"
      "<table:table-cell office:value-type=\"float\" "
      "office:value=\"305.508\"><text:p>305,51</text:p></table:table-cell>"
      "<table:table-cell office:value-type=\"percentage\" office:value=\"0.25\"/>"
      "<table:table-cell office:value-type=\"currency\" office:currency=\"EUR\" "
      "office:value=\"-3\"/>"
      "<table:table-cell office:value-type=\"date\" office:date-value=\"2019-03-01T18:00:00\"/>"
      "<table:table-cell office:value-type=\"time\" office:time-value=\"PT06H00M00S\"/>"
      "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"true\"/>"
      "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"false\"/>"
      "<table:table-cell table:formula=\"of:=[.A1]*2\" office:value-type=\"float\" "
      "office:value=\"611\"/>"
      "<table:table-cell table:formula=\"of:=1/0\" office:value-type=\"float\" office:value=\"0\" "
      "calcext:value-type=\"error\"/>"
      "</table:table-row>"
      "<table:table-row>"
      "<table:table-cell office:value-type=\"string\"><text:p>two  <text:s "
      "text:c=\"3\"/>x<text:tab/>y"
      "<text:line-break/><text:span>z</text:span></text:p><text:p>second</text:p></"
      "table:table-cell>"
      "<table:table-cell "
      "office:value-type=\"string\"><office:annotation><dc:creator>me</dc:creator>"
      "<text:p>a note</text:p></office:annotation><text:p>shown</text:p></table:table-cell>"
      "<table:table-cell "
      "office:value-type=\"string\"><draw:frame><draw:text-box><text:p>drawn</text:p>"
      "</draw:text-box></draw:frame></table:table-cell>"
      "<table:table-cell office:value-type=\"string\" office:string-value=\"from attribute\"/>"
      "<table:table-cell office:value-type=\"string\"><text:p/></table:table-cell>"
      "<table:table-cell office:value-type=\"float\" office:value=\"nan\"/>"
      "<table:covered-table-cell office:value-type=\"float\" office:value=\"7\"/>"
      "</table:table-row>")));
  ASSERT_EQ(grids.size(), 1u);
  const SheetGrid& grid = grids[0];
  EXPECT_EQ(grid.CellAt(0, 0)->RealValue(), 305.508);
  EXPECT_EQ(grid.CellAt(0, 1)->RealValue(), 0.25);
  EXPECT_EQ(grid.CellAt(0, 2)->RealValue(), -3.0);
  EXPECT_EQ(grid.CellAt(0, 3)->RealValue(), 43525.75);
  EXPECT_EQ(grid.CellAt(0, 4)->RealValue(), 0.25);
  EXPECT_EQ(grid.CellAt(0, 5)->Kind(), CellKind::Integer);
  EXPECT_EQ(grid.CellAt(0, 5)->IntegerValue(), 1);
  EXPECT_EQ(grid.CellAt(0, 6)->IntegerValue(), 0);
  EXPECT_EQ(grid.CellAt(0, 7)->Kind(), CellKind::Empty);  // a formula, whatever its value
  EXPECT_EQ(grid.CellAt(0, 8)->Kind(), CellKind::Empty);
  EXPECT_EQ(TextAt(grid, 1, 0), "two     x\ty\nz\nsecond");
  EXPECT_EQ(TextAt(grid, 1, 1), "shown");
  EXPECT_EQ(grid.CellAt(1, 2)->Kind(), CellKind::Empty);
  EXPECT_EQ(TextAt(grid, 1, 3), "from attribute");
  EXPECT_EQ(grid.CellAt(1, 4)->Kind(), CellKind::Empty);
  EXPECT_EQ(grid.CellAt(1, 5)->Kind(), CellKind::Empty);
  EXPECT_EQ(grid.CellAt(1, 6)->RealValue(), 7.0);
  EXPECT_EQ(grid.RowCount(), 2u);
  EXPECT_EQ(grid.ColumnCount(), 9u);  // up to the formula cells; the columns element is no cell
}

// What a spreadsheet program writes after the data costs nothing; repeated values are
// written once per repetition.
TEST(Ods, RepetitionIsExpandedOnlyWhereCellsHoldValues) {
  const std::vector<SheetGrid> grids = Read(MinimalOds(
      Table("<table:table-row table:number-rows-repeated=\"2\">"
            "<table:table-cell table:number-columns-repeated=\"2\" office:value-type=\"float\" "
            "office:value=\"1\"/>"
            "<table:table-cell table:number-columns-repeated=\"16000\"/>"
            "<table:table-cell "
            "office:value-type=\"string\"><text:p>end</text:p></table:table-cell></table:table-row>"
            "<table:table-row table:number-rows-repeated=\"1048570\"><table:table-cell "
            "table:number-columns-repeated=\"16384\"/>"
            "</table:table-row>"
            "<table:table-row><table:table-cell office:value-type=\"float\" "
            "office:value=\"9\"/></table:table-row>"
            "<table:table-row table:number-rows-repeated=\"1000\"><table:table-cell "
            "office:value-type=\"float\" office:value=\"5\"/>"
            "</table:table-row>")));
  const SheetGrid& grid = grids.at(0);
  EXPECT_EQ(grid.CellAt(1, 1)->RealValue(), 1.0);
  EXPECT_EQ(TextAt(grid, 1, 16002), "end");
  EXPECT_EQ(grid.CellAt(1048572, 0)->RealValue(), 9.0);
  EXPECT_EQ(grid.CellAt(1048575, 0)->RealValue(), 5.0);  // repeated past the cap: cut there
  EXPECT_EQ(grid.RowCount(), 1048576u);
  EXPECT_EQ(grid.ColumnCount(), 16003u);
  EXPECT_EQ(grid.StoredRowCount(), 6u);
}

TEST(Ods, TablesAndTheNullDate) {
  const std::string twoTables =
      Table(
          "<table:table-row><table:table-cell office:value-type=\"date\" "
          "office:date-value=\"1904-01-03\"/>"
          "</table:table-row>") +
      Table(
          "<table:table-row><table:table-cell office:value-type=\"float\" "
          "office:value=\"2\"><table:table>"
          "<table:table-row><table:table-cell office:value-type=\"float\" "
          "office:value=\"3\"/></table:table-row>"
          "</table:table></table:table-cell></table:table-row>");
  const std::vector<SheetGrid> grids =
      Read(MinimalOds(twoTables,
                      "<table:calculation-settings><table:null-date "
                      "table:date-value=\"1904-01-01\"/></table:calculation-settings>"));
  ASSERT_EQ(grids.size(), 2u);  // the table inside a cell is no worksheet
  EXPECT_EQ(grids[0].CellAt(0, 0)->RealValue(), 2.0);
  EXPECT_EQ(grids[1].CellAt(0, 0)->RealValue(), 2.0);
  EXPECT_EQ(grids[1].StoredCellCount(), SheetGrid::kChunkColumns);

  std::vector<SheetGrid> first;
  ZipArchive archive;
  const Bytes file = MinimalOds(twoTables);
  ASSERT_TRUE(archive.Open(ByteSpan(file)));
  ASSERT_TRUE(IsOdsPackage(archive));
  ASSERT_TRUE(ReadOdsWorkbook(archive, first, true));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].CellAt(0, 0)->RealValue(), 1464.0);  // days since 1899-12-30
}

// A few bytes that repeat a value over the whole sheet are refused, not expanded.
TEST(Ods, TooManyFilledCellsAreRefused) {
  Read(MinimalOds(Table("<table:table-row table:number-rows-repeated=\"1048576\">"
                        "<table:table-cell table:number-columns-repeated=\"16384\" "
                        "office:value-type=\"float\" office:value=\"1\"/>"
                        "</table:table-row>")),
       false);
  Read(MinimalOds(
      Table("<table:table-row><table:table-cell office:value-type=\"string\"><text:p>"
            "<text:s text:c=\"4000000000\"/></text:p></table:table-cell></table:table-row>")));
  Read(MinimalOds(Table("<table:table-row>")), false);  // not well-formed
  Read(quorvel::testing::BuildZip(
           {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", true}}),
       false);
}

}  // namespace
}  // namespace Kalvex
