// The readers' tests: a cell's narrow text, or a marker when the cell holds none.
#pragma once

#include <cstdint>
#include <string>

#include "xls/cell_model.h"

namespace Kalvex {

inline std::string TextAt(const SheetGrid& grid, std::uint32_t row, std::uint32_t column) {
  const char* text = grid.CellAt(row, column)->TextValue();
  return text != nullptr ? text : "<not text>";
}

}  // namespace Kalvex
