// What every fuzz entry point checks of the grids a reader returns: every stored cell can
// be read back, a text cell has its text, and the extent holds every stored cell.
#pragma once

#include <cstdint>

#include "xls/cell_model.h"

namespace quorvel::fuzzing {

inline void CheckGrid(const Kalvex::SheetGrid& grid) {
  if (grid.RowCount() > grid.MaxRows() || grid.ColumnCount() > grid.MaxColumns()) __builtin_trap();
  grid.ForEachStoredCell(
      [&grid](std::uint32_t row, std::uint32_t column, const Kalvex::CellValue& cell) {
        if (row >= grid.RowCount() || column >= grid.ColumnCount()) __builtin_trap();
        if (cell.Kind() == Kalvex::CellKind::Text && cell.TextValue() == nullptr) __builtin_trap();
        if (grid.CellAt(row, column) != &cell) __builtin_trap();
      });
}

}  // namespace quorvel::fuzzing
