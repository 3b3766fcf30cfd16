// Validation of the first worksheet's grid into a DesignData: extent, header layout,
// trait names, numeric cells and level tables, with the program's fixed messages.
#include "import/read_design_sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "numeric/distinct_levels.h"

namespace quorvel {
namespace {

using Kalvex::CellKind;
using Kalvex::CellValue;
using Kalvex::SheetGrid;

constexpr std::uint32_t kMinColumns = 3;
constexpr std::uint32_t kMaxColumns = 25;
constexpr int kMinRows = 5;  // the header and four observations

bool IsNumber(const CellValue* cell) {
  return cell != nullptr && (cell->Kind() == CellKind::Integer || cell->Kind() == CellKind::Real);
}

// Header text of a 0-based column of row 1; anything but narrow text gives "".
std::string HeaderText(const SheetGrid& grid, std::uint32_t column) {
  const CellValue* cell = grid.CellAt(0, column);
  const char* text = cell != nullptr ? cell->TextValue() : nullptr;
  return text != nullptr ? std::string(text) : std::string();
}

// The message head followed by its location line, e.g. " At Row 3 Col 2 ".
std::string FactorCellError(int row, int column) {
  char location[64];
  std::snprintf(location, sizeof location, " At Row %d Col %d ", row, column);
  return std::string(kMsgCellError) + location;
}

std::string TraitCellError(int row, int column) {
  char location[64];
  std::snprintf(location, sizeof location, "Row %d Col %d ", row, column);
  return std::string(kMsgCellError) + location;
}

std::string TraitNameError(int column) {
  char location[64];
  std::snprintf(location, sizeof location, " At Row 1 Col %d ", column);
  return std::string(kMsgTraitName) + location;
}

// The code of a numeric factor cell: an Integer as it is, a Real truncated toward zero.
// A Real that is not finite or whose truncation leaves the 32-bit range has no code.
bool FactorCode(const CellValue& cell, std::int32_t& code) {
  if (cell.Kind() == CellKind::Integer) {
    code = cell.IntegerValue();
    return true;
  }
  const double truncated = std::trunc(cell.RealValue());
  if (!(truncated >= -2147483648.0 && truncated <= 2147483647.0)) return false;
  code = static_cast<std::int32_t>(truncated);
  return true;
}

double TraitValue(const CellValue& cell) {
  return cell.Kind() == CellKind::Integer ? static_cast<double>(cell.IntegerValue())
                                          : cell.RealValue();
}

// A trait cell holds a measurement only when it is a finite number: NaN and the
// infinities, which some writers store for a missing value, are refused like text. They
// still count as numbers for the extent of the data region, so that the message points
// at them instead of the region silently ending before them.
bool IsMeasurement(const CellValue* cell) {
  return IsNumber(cell) && std::isfinite(TraitValue(*cell));
}

}  // namespace

std::optional<std::string> ReadDesignSheet(const SheetGrid& grid, DesignSheet& sheet) {
  const std::uint32_t gridRows = grid.RowCount();
  const std::uint32_t gridColumns = grid.ColumnCount();
  if (gridRows < 2 || gridColumns < kMinColumns || gridColumns > kMaxColumns) return kMsgDataError;

  // The data region ends at the last numeric cell in reading order (rows from the top,
  // each row left to right): found first when reading backwards from the bottom right.
  int rows = 0;
  int cols = 0;
  for (std::uint32_t r = gridRows; r-- > 0 && rows == 0;) {
    for (std::uint32_t c = gridColumns; c-- > 0;) {
      if (IsNumber(grid.CellAt(r, c))) {
        rows = static_cast<int>(r) + 1;
        cols = static_cast<int>(c) + 1;
        break;
      }
    }
  }
  if (rows == 0) return kMsgDataError;
  if (rows < kMinRows || cols < static_cast<int>(kMinColumns) ||
      cols > static_cast<int>(kMaxColumns)) {
    return kMsgDataError;
  }

  // Everything is built in a new sheet; the caller's is replaced only on success.
  DesignSheet result;
  DesignData& data = result.data;
  result.rows = rows;
  result.cols = cols;

  // Header row: the factor layout.
  for (std::uint32_t c = 0; c < 4; ++c) data.factorNames[c] = HeaderText(grid, c);
  const auto& names = data.factorNames;
  if (names[0] == "Block" && names[1] == "Male" && names[2] == "Female" && names[3] == "Repeat") {
    data.kind = ModelKind::BlockedRepeat;
    data.factorCount = 4;
  } else if (names[0] == "Block" && names[1] == "Male" && names[2] == "Female") {
    data.kind = ModelKind::Blocked;
    data.factorCount = 3;
  } else if (names[0] == "Male" && names[1] == "Female") {
    data.kind = ModelKind::Nested;
    data.factorCount = 2;
  } else {
    return kMsgFactorNames;
  }
  const int factorCount = data.factorCount;

  // Header row: trait names Trait1, Trait2, ... in order.
  for (int j = factorCount + 1; j <= cols; ++j) {
    std::string name = HeaderText(grid, static_cast<std::uint32_t>(j - 1));
    char expected[32];
    std::snprintf(expected, sizeof expected, "Trait%d", j - factorCount);
    if (name != expected) return TraitNameError(j);
    result.traitNames.push_back(std::move(name));
  }

  // Observations, row by row: factor cells, then trait cells.
  const int observations = rows - 1;
  const int traits = cols - factorCount;
  data.factorCodes.assign(static_cast<std::size_t>(factorCount),
                          std::vector<std::int32_t>(static_cast<std::size_t>(observations)));
  data.traitValues.assign(static_cast<std::size_t>(std::max(traits, 0)),
                          std::vector<double>(static_cast<std::size_t>(observations)));
  for (int r = 2; r <= rows; ++r) {
    const std::size_t i = static_cast<std::size_t>(r - 2);
    for (int f = 1; f <= factorCount; ++f) {
      const CellValue* cell =
          grid.CellAt(static_cast<std::uint32_t>(r - 1), static_cast<std::uint32_t>(f - 1));
      std::int32_t code = 0;
      if (!IsNumber(cell) || !FactorCode(*cell, code)) {
        return FactorCellError(r, f);
      }
      data.factorCodes[static_cast<std::size_t>(f - 1)][i] = code;
    }
    for (int j = factorCount + 1; j <= cols; ++j) {
      const CellValue* cell =
          grid.CellAt(static_cast<std::uint32_t>(r - 1), static_cast<std::uint32_t>(j - 1));
      if (!IsMeasurement(cell)) return TraitCellError(r, j);
      data.traitValues[static_cast<std::size_t>(j - factorCount - 1)][i] = TraitValue(*cell);
    }
  }
  data.observationCount = observations;
  data.traitCount = traits;

  // Columns right of the region that hold numbers above its last row: the rule that the
  // region ends at the last number drops them for every row, which the caller reports.
  for (std::uint32_t c = static_cast<std::uint32_t>(cols); c < gridColumns; ++c) {
    for (std::uint32_t r = 1; r + 1 < static_cast<std::uint32_t>(rows); ++r) {
      if (IsNumber(grid.CellAt(r, c))) {
        result.leftOutColumns.push_back({static_cast<int>(c) + 1, HeaderText(grid, c)});
        break;
      }
    }
  }

  // Level tables, sized to the number of distinct codes.
  for (int f = 0; f < factorCount; ++f) {
    data.levelCodes[static_cast<std::size_t>(f)] =
        DistinctLevels(data.factorCodes[static_cast<std::size_t>(f)]);
    data.levelCounts[static_cast<std::size_t>(f)] =
        static_cast<int>(data.levelCodes[static_cast<std::size_t>(f)].size());
  }

  sheet = std::move(result);
  return std::nullopt;
}

std::string LeftOutColumnsWarning(const DesignSheet& sheet) {
  const std::vector<LeftOutColumn>& left = sheet.leftOutColumns;
  if (left.empty()) return {};
  std::string text = left.size() == 1 ? "Trait column " : "Trait columns ";
  for (std::size_t k = 0; k < left.size(); ++k) {
    if (k > 0) text += k + 1 == left.size() ? " and " : ", ";
    const std::string number = "column " + std::to_string(left[k].column);
    text += left[k].header.empty() ? number : left[k].header + " (" + number + ")";
  }
  const std::string lastRow = std::to_string(sheet.rows);
  text +=
      " left out for every row: the data region ends at the last number of the sheet (row " +
      lastRow + ", column " + std::to_string(sheet.cols) + "), and row " + lastRow +
      (left.size() == 1 ? " has no number in this column." : " has no number in these columns.");
  return text;
}

}  // namespace quorvel
