// The cell model: kinds, texts, and the growth and storage of the grid.
#include "xls/cell_model.h"

#include <gtest/gtest.h>

namespace Kalvex {
namespace {

TEST(CellValue, NumbersKeepTextArraysButTextValueFollowsTheKind) {
  CellValue cell;
  EXPECT_EQ(cell.Kind(), CellKind::Empty);
  EXPECT_EQ(cell.TextValue(), nullptr);

  cell.SetText("Male");
  ASSERT_NE(cell.TextValue(), nullptr);
  EXPECT_STREQ(cell.TextValue(), "Male");

  cell.SetReal(2.5);
  EXPECT_EQ(cell.Kind(), CellKind::Real);
  EXPECT_EQ(cell.RealValue(), 2.5);
  EXPECT_EQ(cell.TextValue(), nullptr);

  cell.SetInteger(-7);
  EXPECT_EQ(cell.Kind(), CellKind::Integer);
  EXPECT_EQ(cell.IntegerValue(), -7);
}

TEST(CellValue, EmptyTextsClearAndEmbeddedZeroCuts) {
  CellValue cell;
  cell.SetInteger(3);
  cell.SetText("");
  EXPECT_EQ(cell.Kind(), CellKind::Empty);
  EXPECT_EQ(cell.TextValue(), nullptr);

  const char withZero[] = {'a', 'b', '\0', 'c', '\0'};
  cell.SetText(withZero);
  EXPECT_STREQ(cell.TextValue(), "ab");

  cell.SetWideText(u"");
  EXPECT_EQ(cell.Kind(), CellKind::Empty);
}

TEST(CellValue, WideTextGivesNoNarrowText) {
  CellValue cell;
  cell.SetWideText(u"Male");
  EXPECT_EQ(cell.Kind(), CellKind::WideText);
  EXPECT_EQ(cell.TextValue(), nullptr);
  ASSERT_NE(cell.WideTextValue(), nullptr);
  EXPECT_EQ(std::u16string(cell.WideTextValue()), u"Male");

  cell.SetText("x");
  EXPECT_EQ(cell.WideTextValue(), nullptr);
}

TEST(CellValue, CopiesAreIndependent) {
  CellValue a;
  a.SetText("one");
  CellValue b = a;
  a.SetText("two");
  EXPECT_STREQ(b.TextValue(), "one");
  b = a;
  EXPECT_STREQ(b.TextValue(), "two");
}

TEST(SheetGrid, CellAtGrowsTheExtentAsAsked) {
  SheetGrid grid;
  grid.Reset(3, 4);
  EXPECT_EQ(grid.RowCount(), 3u);
  EXPECT_EQ(grid.ColumnCount(), 4u);

  ASSERT_NE(grid.CellAt(2u, 7u), nullptr);
  EXPECT_EQ(grid.RowCount(), 3u);
  EXPECT_EQ(grid.ColumnCount(), 8u);

  SheetGrid other;
  other.Reset(3, 4);
  ASSERT_NE(other.CellAt(5u, 1u), nullptr);
  EXPECT_EQ(other.RowCount(), 6u);
  EXPECT_EQ(other.ColumnCount(), 4u);
}

TEST(SheetGrid, CellAtBeyondTheCapsIsNullAndChangesNothing) {
  SheetGrid grid;
  grid.Reset(3, 4);
  EXPECT_EQ(grid.CellAt(65536u, 0u), nullptr);
  EXPECT_EQ(grid.CellAt(0u, 256u), nullptr);
  EXPECT_EQ(grid.RowCount(), 3u);
  EXPECT_EQ(grid.ColumnCount(), 4u);

  CellValue* corner = grid.CellAt(65535u, 255u);
  ASSERT_NE(corner, nullptr);
  EXPECT_EQ(corner->Kind(), CellKind::Empty);
  EXPECT_EQ(grid.RowCount(), 65536u);
  EXPECT_EQ(grid.ColumnCount(), 256u);
  // Only the chunk of the cell that was asked for holds storage.
  EXPECT_EQ(grid.StoredRowCount(), 1u);
  EXPECT_EQ(grid.StoredCellCount(), SheetGrid::kChunkColumns);
}

TEST(SheetGrid, ExtentIsCappedAndUntouchedRowsCostNothing) {
  SheetGrid grid;
  grid.Reset(1u << 20, 1000);
  EXPECT_EQ(grid.RowCount(), 65536u);
  EXPECT_EQ(grid.ColumnCount(), 256u);
  for (std::uint32_t r = 0; r < 10; ++r) grid.CellAt(r * 6000, r)->SetInteger(static_cast<int>(r));
  EXPECT_EQ(grid.StoredRowCount(), 10u);

  const SheetGrid& view = grid;
  EXPECT_EQ(view.CellAt(6000u, 1u)->IntegerValue(), 1);
  EXPECT_EQ(view.CellAt(6001u, 1u)->Kind(), CellKind::Empty);
  EXPECT_EQ(view.CellAt(65536u, 1u), nullptr);
  EXPECT_EQ(grid.StoredRowCount(), 10u);  // reads did not allocate
}

TEST(SheetGrid, GrowingColumnsKeepsStoredCellsAndCopiesAreDeep) {
  SheetGrid grid;
  grid.Reset(2, 2);
  CellValue* kept = grid.CellAt(1u, 1u);
  kept->SetText("keep");
  grid.CellAt(0u, 9u)->SetReal(1.5);
  grid.CellAt(1u, 200u)->SetReal(2.5);
  EXPECT_EQ(grid.CellAt(1u, 1u), kept);  // cells never move
  EXPECT_STREQ(grid.CellAt(1u, 1u)->TextValue(), "keep");
  EXPECT_EQ(grid.CellAt(1u, 9u)->Kind(), CellKind::Empty);

  SheetGrid copy = grid;
  grid.CellAt(1u, 1u)->SetText("changed");
  EXPECT_STREQ(copy.CellAt(1u, 1u)->TextValue(), "keep");
  EXPECT_EQ(copy.CellAt(0u, 9u)->RealValue(), 1.5);
}

}  // namespace
}  // namespace Kalvex
