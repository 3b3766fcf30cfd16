// The "cells" subcommand: prints every non-empty cell the reader decodes from a workbook.
#pragma once

#include <ostream>

namespace quorvel {

// Opens the workbook at path (any format the program reads) and writes, for each worksheet
// i, the line "# sheet i: R x C" and then one line "row<TAB>col<TAB>Kind<TAB>value" per
// non-empty cell in row, then column order (0-based). Returns 0, or writes "Data Error!"
// to err and returns 1 when the file does not open.
int RunCellsCommand(const char* path, std::ostream& out, std::ostream& err);

}  // namespace quorvel
