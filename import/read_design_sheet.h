// Validation of a worksheet grid into a DesignData, with the program's fixed messages.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "import/design_data.h"
#include "xls/cell_model.h"

namespace quorvel {

// Message texts of the validation, shown verbatim.
inline constexpr const char* kMsgDataError = "Data Error!";
inline constexpr const char* kMsgFactorNames = " Data Error With Factor Names!\n";
inline constexpr const char* kMsgTraitName = "Trait Name Error!\n";
inline constexpr const char* kMsgCellError = "Data Error!\n";

// A column right of the data region that holds numbers in data rows above the last one.
// The region ends at the last number of the sheet, so when the last row stops short the
// column is read for no row.
struct LeftOutColumn {
  int column = 0;      // counted from 1
  std::string header;  // its row-1 text; empty unless narrow text
};

// A validated sheet: the data set, the trait header texts and the data region's extent.
struct DesignSheet {
  DesignData data;
  std::vector<std::string> traitNames;        // one per trait column
  int rows = 0;                               // data region rows, header included
  int cols = 0;                               // data region columns
  std::vector<LeftOutColumn> leftOutColumns;  // in column order
};

// Validates the grid of a first worksheet into a new data set. On success replaces `sheet`
// whole and returns nothing; on failure returns the message text and leaves `sheet` as it
// was, so a failed import never mixes two sheets. Reads the grid only through the
// read-only CellAt, which never grows it.
std::optional<std::string> ReadDesignSheet(const Kalvex::SheetGrid& grid, DesignSheet& sheet);

// The warning that tells which columns an accepted sheet left out and why, e.g.
// "Trait columns Trait3 (column 5) and Trait4 (column 6) left out for every row: ...";
// empty when none was.
std::string LeftOutColumnsWarning(const DesignSheet& sheet);

}  // namespace quorvel
