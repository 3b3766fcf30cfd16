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

// A validated sheet: the data set, the trait header texts and the data region's extent.
struct DesignSheet {
  DesignData data;
  std::vector<std::string> traitNames;  // one per trait column
  int rows = 0;                         // data region rows, header included
  int cols = 0;                         // data region columns
};

// Validates the grid of a first worksheet into a new data set. On success replaces `sheet`
// whole and returns nothing; on failure returns the message text and leaves `sheet` as it
// was, so a failed import never mixes two sheets. Reads the grid only through the
// read-only CellAt, which never grows it.
std::optional<std::string> ReadDesignSheet(const Kalvex::SheetGrid& grid, DesignSheet& sheet);

}  // namespace quorvel
