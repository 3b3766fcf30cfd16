// Worksheet records into grids: RK decoding, the cell records, row blocks with and without
// DBCELL, formulas and their followers, and damaged cell tables.
#include "xls/worksheet.h"

#include <gtest/gtest.h>

#include <bit>

#include "tests/support/cfb_builder.h"
#include "xls/xls_document.h"

namespace Kalvex {
namespace {

using namespace quorvel::testing;

// Loads a workbook of the given sheets whose shared strings are `sst` (SST bodies).
struct Loaded {
  XlsDocument document;
  const SheetGrid& Grid(std::uint32_t i = 0) const { return *document.Sheet(i); }
  const CellValue& Cell(std::uint32_t row, std::uint32_t column, std::uint32_t sheet = 0) const {
    return *Grid(sheet).CellAt(row, column);
  }
};

void Load(Loaded& loaded, const std::vector<Bytes>& sheets, const Bytes& globals = {}) {
  const Bytes file = biff::WorkbookFile(globals, sheets);
  ASSERT_TRUE(loaded.document.Load(ByteSpan(file)));
  ASSERT_EQ(loaded.document.SheetCount(), sheets.size());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) Append(out, part);
  return out;
}

std::uint32_t RkOfDouble(double value) {
  return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(value) >> 32) & 0xFFFFFFFCu;
}

TEST(RkValue, DecodesIntegersRealsAndTheHundredthFlag) {
  CellValue cell;
  TakeRkValue(0x00000F46, cell);
  EXPECT_EQ(cell.Kind(), CellKind::Integer);
  EXPECT_EQ(cell.IntegerValue(), 977);
  TakeRkValue(0x00000F47, cell);
  EXPECT_EQ(cell.Kind(), CellKind::Real);
  EXPECT_DOUBLE_EQ(cell.RealValue(), 9.77);
  TakeRkValue(static_cast<std::uint32_t>(-5 * 4) | 2u, cell);
  EXPECT_EQ(cell.Kind(), CellKind::Integer);
  EXPECT_EQ(cell.IntegerValue(), -5);
  TakeRkValue((1234u << 2) | 3u, cell);
  EXPECT_DOUBLE_EQ(cell.RealValue(), 12.34);
  TakeRkValue(RkOfDouble(1.5), cell);
  EXPECT_EQ(cell.Kind(), CellKind::Real);
  EXPECT_EQ(cell.RealValue(), 1.5);
  TakeRkValue(RkOfDouble(1.5) | 1u, cell);
  EXPECT_DOUBLE_EQ(cell.RealValue(), 0.015);
  TakeRkValue(static_cast<std::uint32_t>(-536870912) * 4u | 2u, cell);  // most negative payload
  EXPECT_EQ(cell.IntegerValue(), -536870912);
}

TEST(CellRecords, EachRecordKindGivesItsCell) {
  Bytes sst = biff::SstString8("Male");
  Append(sst, biff::SstString16(u"\u041Cale"));
  Append(sst, biff::SstString8(""));
  Loaded loaded;
  Load(loaded,
       {Concat({biff::Dimensions(0, 10, 0, 3), biff::Row(0), biff::LabelSst(0, 0, 0),
                biff::LabelSst(0, 1, 1), biff::LabelSst(0, 2, 2), biff::LabelSst(1, 0, 99),
                biff::Number(1, 1, 2.25), biff::BoolErr(1, 2, 1, false),
                biff::BoolErr(2, 0, 0x07, true), biff::Blank(2, 1),
                biff::MulRk(3, 1, {0x0A, (7u << 2) | 2u, RkOfDouble(-0.5), 0x0F47}),
                biff::Rk(4, 0, 0x1A), biff::Rk(4, 0, 0x22), biff::DbCell()})},
       biff::Sst(3, sst));
  const SheetGrid& grid = loaded.Grid();
  EXPECT_EQ(grid.RowCount(), 10u);    // DIMENSIONS, whatever the cells
  EXPECT_EQ(grid.ColumnCount(), 5u);  // grown to the MULRK's last column
  EXPECT_STREQ(loaded.Cell(0, 0).TextValue(), "Male");
  EXPECT_EQ(loaded.Cell(0, 1).Kind(), CellKind::WideText);
  EXPECT_EQ(std::u16string(loaded.Cell(0, 1).WideTextValue()), u"\u041Cale");
  EXPECT_EQ(loaded.Cell(0, 2).Kind(), CellKind::Empty);  // empty shared string
  EXPECT_EQ(loaded.Cell(1, 0).Kind(), CellKind::Empty);  // index past the table
  EXPECT_EQ(loaded.Cell(1, 1).RealValue(), 2.25);
  EXPECT_EQ(loaded.Cell(1, 2).Kind(), CellKind::Integer);  // TRUE
  EXPECT_EQ(loaded.Cell(1, 2).IntegerValue(), 1);
  EXPECT_EQ(loaded.Cell(2, 0).Kind(), CellKind::Empty);  // an error value
  EXPECT_EQ(loaded.Cell(2, 1).Kind(), CellKind::Empty);  // blank
  EXPECT_EQ(loaded.Cell(3, 0).Kind(), CellKind::Empty);
  EXPECT_EQ(loaded.Cell(3, 1).IntegerValue(), 2);
  EXPECT_EQ(loaded.Cell(3, 2).IntegerValue(), 7);
  EXPECT_EQ(loaded.Cell(3, 3).RealValue(), -0.5);
  EXPECT_DOUBLE_EQ(loaded.Cell(3, 4).RealValue(), 9.77);
  EXPECT_EQ(loaded.Cell(4, 0).IntegerValue(), 8);  // the later record wins
  EXPECT_EQ(grid.StoredRowCount(), 4u);            // row 2 holds only an error value and a blank
}

TEST(CellRecords, FormulaWithFollowersStaysEmptyAndTheWalkGoesOn) {
  Bytes shrFmla;
  Put16(shrFmla, 1);
  Put16(shrFmla, 3);
  Put8(shrFmla, 0);
  Put8(shrFmla, 0);
  Put16(shrFmla, 0);
  Append(shrFmla, {0x1E, 0x01, 0x00});
  Bytes string;
  Put16(string, 2);
  Put8(string, 0);
  Append(string, {'o', 'k'});
  Loaded loaded;
  Load(loaded, {Concat({biff::Dimensions(0, 3, 0, 2), biff::Row(1), biff::Formula(1, 0, 42.0),
                        biff::Record(0x00BC, shrFmla), biff::Record(0x0207, string),
                        biff::Number(1, 1, 3.5), biff::Formula(2, 0, 1.0),
                        biff::Record(0x0207, string), biff::Number(2, 1, 4.5)})});
  EXPECT_EQ(loaded.Cell(1, 0).Kind(), CellKind::Empty);
  EXPECT_EQ(loaded.Cell(1, 1).RealValue(), 3.5);
  EXPECT_EQ(loaded.Cell(2, 0).Kind(), CellKind::Empty);
  EXPECT_EQ(loaded.Cell(2, 1).RealValue(), 4.5);

  using CellBlock = Worksheet::CellTable::RowBlock::CellBlock;
  const auto& cells = loaded.document.Worksheets()[0].cellTable.rowBlocks.at(0).cells;
  ASSERT_EQ(cells.size(), 4u);
  const auto& formula = *std::get<std::unique_ptr<CellBlock::Formula>>(cells[0].member);
  EXPECT_EQ(cells[0].Type(), 0x0006);
  EXPECT_EQ(formula.followerId, 0x00BC);
  EXPECT_TRUE(formula.hasString);
  const auto& second = *std::get<std::unique_ptr<CellBlock::Formula>>(cells[2].member);
  EXPECT_EQ(second.followerId, -1);
  EXPECT_TRUE(second.hasString);
}

TEST(RowBlocks, BlocksWithoutDbcellEndAtTheirWorksheetsEof) {
  Loaded loaded;
  Load(loaded, {Concat({biff::Dimensions(0, 2, 0, 1), biff::Row(0), biff::Rk(0, 0, 0x06),
                        biff::Row(1), biff::Rk(1, 0, 0x0A)}),
                Concat({biff::Dimensions(0, 3, 0, 2), biff::Row(0), biff::Number(2, 1, 9.0)})});
  EXPECT_EQ(loaded.Grid(0).RowCount(), 2u);
  EXPECT_EQ(loaded.Cell(0, 0).IntegerValue(), 1);
  EXPECT_EQ(loaded.Cell(1, 0).IntegerValue(), 2);
  EXPECT_EQ(loaded.Grid(0).ColumnCount(), 1u);  // the second sheet's cells stay out
  EXPECT_EQ(loaded.Cell(2, 1, 1).RealValue(), 9.0);
}

// Some writers put cells before any ROW record or after the last DBCELL, or write no ROW
// records at all: those cells are read like any other. The cells of a chart embedded in
// the worksheet are its data cache, not the sheet's, and stay out.
TEST(RowBlocks, CellsOutsideRowBlocksAreReadButNotThoseOfAnEmbeddedChart) {
  Loaded loaded;
  Load(loaded, {Concat({biff::Dimensions(0, 2, 0, 3), biff::Number(0, 0, 1.0), biff::Row(1),
                        biff::Number(1, 1, 2.0), biff::DbCell(), biff::Number(0, 1, 3.0),
                        biff::Bof(0x0020), biff::Number(1, 2, 4.0), biff::Eof()})});
  EXPECT_EQ(loaded.Cell(0, 0).RealValue(), 1.0);
  EXPECT_EQ(loaded.Cell(1, 1).RealValue(), 2.0);
  EXPECT_EQ(loaded.Cell(0, 1).RealValue(), 3.0);
  EXPECT_EQ(loaded.Cell(1, 2).Kind(), CellKind::Empty);

  Loaded noRows;
  Load(noRows, {Concat({biff::Number(0, 0, 5.0), biff::Rk(2, 1, 0x0A)}),
                Concat({biff::Number(1, 0, 6.0)})});
  EXPECT_EQ(noRows.Cell(0, 0).RealValue(), 5.0);
  EXPECT_EQ(noRows.Cell(2, 1).IntegerValue(), 2);
  EXPECT_EQ(noRows.Cell(1, 0, 1).RealValue(), 6.0);
}

// LABEL holds its string in the record: 8-bit strings give Text, 16-bit ones WideText, a
// string cut short by the record's end writes nothing. RSTRING is read the same way.
TEST(RowBlocks, LabelRecordsGiveTheirText) {
  const auto label = [](std::uint16_t code, std::uint16_t row, std::uint16_t column,
                        const Bytes& string) {
    Bytes data;
    Put16(data, row);
    Put16(data, column);
    Put16(data, 15);
    Append(data, string);
    return biff::Record(code, data);
  };
  Bytes male{4, 0, 0, 'M', 'a', 'l', 'e'};
  Bytes wide{2, 0, 1, 0x1C, 0x04, 'x', 0};
  Bytes cut{9, 0, 0, 'a', 'b'};
  Bytes rich{2, 0, 0, 'h', 'i', 1, 0, 0, 0, 0, 0};  // one formatting run after the string
  Loaded loaded;
  Load(loaded,
       {Concat({biff::Dimensions(0, 1, 0, 4), label(0x0204, 0, 0, male), label(0x0204, 0, 1, wide),
                label(0x0204, 0, 2, cut), label(0x00D6, 0, 3, rich)})});
  EXPECT_STREQ(loaded.Cell(0, 0).TextValue(), "Male");
  EXPECT_EQ(loaded.Cell(0, 1).Kind(), CellKind::WideText);
  EXPECT_EQ(std::u16string(loaded.Cell(0, 1).WideTextValue()), u"\u041Cx");
  EXPECT_EQ(loaded.Cell(0, 2).Kind(), CellKind::Empty);
  EXPECT_STREQ(loaded.Cell(0, 3).TextValue(), "hi");
}

TEST(GridExtent, FollowsDimensionsGrowsForStrayCellsAndStoresOnlyWrittenRows) {
  Loaded loaded;
  Load(loaded, {Concat({biff::Dimensions(0, 65536, 0, 256), biff::Row(5), biff::Rk(5, 3, 0x06),
                        biff::Rk(60000, 255, 0x0A)}),
                Concat({biff::Row(0), biff::Number(7, 2, 1.0)}),  // no DIMENSIONS
                Concat({biff::Dimensions(0, 2, 0, 2), biff::Row(0), biff::Number(4, 6, 1.0)})});
  EXPECT_EQ(loaded.Grid(0).RowCount(), 65536u);
  EXPECT_EQ(loaded.Grid(0).ColumnCount(), 256u);
  EXPECT_EQ(loaded.Grid(0).StoredRowCount(), 2u);
  EXPECT_EQ(loaded.Cell(60000, 255).IntegerValue(), 2);
  EXPECT_EQ(loaded.Grid(1).RowCount(), 8u);
  EXPECT_EQ(loaded.Grid(1).ColumnCount(), 3u);
  EXPECT_EQ(loaded.Grid(2).RowCount(), 5u);
  EXPECT_EQ(loaded.Grid(2).ColumnCount(), 7u);
  EXPECT_EQ(loaded.Cell(4, 6, 2).RealValue(), 1.0);
}

TEST(DamagedCellTables, BadRecordsAreDroppedAndTheRestIsKept) {
  Bytes mulRkBackwards;  // last column before the first
  Put16(mulRkBackwards, 0);
  Put16(mulRkBackwards, 5);
  Put16(mulRkBackwards, 15);
  Put32(mulRkBackwards, 0x06);
  Put16(mulRkBackwards, 2);
  Bytes mulRkShort = biff::MulRk(1, 0, {0x06, 0x0A, 0x0E});
  // Claims columns 0 to 9 but holds three pairs.
  mulRkShort[mulRkShort.size() - 2] = 9;
  Bytes shortNumber = biff::Record(0x0203, {2, 0, 0, 0});  // row 2, no column or value
  Loaded loaded;
  Load(loaded,
       {Concat({biff::Dimensions(0, 3, 0, 3), biff::Row(0), biff::Record(0x00BD, mulRkBackwards),
                mulRkShort, shortNumber, biff::Number(2, 2, 5.0)})});
  EXPECT_EQ(loaded.Grid().ColumnCount(), 3u);
  EXPECT_EQ(loaded.Cell(0, 5).Kind(), CellKind::Empty);
  EXPECT_EQ(loaded.Cell(1, 0).IntegerValue(), 1);
  EXPECT_EQ(loaded.Cell(1, 2).IntegerValue(), 3);
  EXPECT_EQ(loaded.Cell(2, 0).Kind(), CellKind::Empty);
  EXPECT_EQ(loaded.Cell(2, 2).RealValue(), 5.0);
}

TEST(DamagedCellTables, TruncatedStreamKeepsTheCellsReadSoFar) {
  Bytes stream = biff::WorkbookStream(
      {}, {Concat({biff::Dimensions(0, 3, 0, 1), biff::Row(0), biff::Rk(0, 0, 0x06),
                   biff::Rk(1, 0, 0x0A), biff::Rk(2, 0, 0x0E)})});
  stream.resize(stream.size() - 4 - 5);  // no EOF, and the last RK cut short
  XlsDocument document;
  const Bytes file = BuildCompoundDocument({{u"Workbook", stream}});
  ASSERT_TRUE(document.Load(ByteSpan(file)));
  ASSERT_EQ(document.SheetCount(), 1u);
  EXPECT_EQ(document.Sheet(0)->CellAt(1, 0)->IntegerValue(), 2);
  EXPECT_EQ(document.Sheet(0)->CellAt(2, 0)->Kind(), CellKind::Empty);

  // A record length pointing far past the stream ends the walk at that record.
  Bytes lying = biff::WorkbookStream(
      {}, {Concat({biff::Dimensions(0, 1, 0, 1), biff::Row(0), biff::Rk(0, 0, 0x06),
                   biff::Record(0x0203, Bytes(14, 0))})});
  lying[lying.size() - 4 - 14 - 2] = 0xFF;
  lying[lying.size() - 4 - 14 - 1] = 0xFF;
  const Bytes lyingFile = BuildCompoundDocument({{u"Workbook", lying}});
  ASSERT_TRUE(document.Load(ByteSpan(lyingFile)));
  EXPECT_EQ(document.Sheet(0)->CellAt(0, 0)->IntegerValue(), 1);
}

TEST(WorksheetRecords, IndexReadsOnlyThePositionsItHolds) {
  Bytes index;
  Put32(index, 0);
  Put32(index, 0);
  Put32(index, 1000000);  // implies 31,250 DBCELL positions
  Put32(index, 0);
  Put32(index, 111);
  Put32(index, 222);
  Loaded loaded;
  Load(loaded, {biff::Record(0x020B, index)});
  EXPECT_EQ(loaded.document.Worksheets()[0].index.dbCellPositions,
            (std::vector<std::uint32_t>{111, 222}));
}

}  // namespace
}  // namespace Kalvex
