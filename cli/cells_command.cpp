// The "cells" subcommand.
#include "cli/cells_command.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "workbook/open_workbook.h"
#include "xls/text_encoding.h"

namespace quorvel {
namespace {

// Text with backslash, tab, CR and LF escaped so that every cell stays on one line.
void WriteEscaped(std::ostream& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '\\':
        out << "\\\\";
        break;
      case '\t':
        out << "\\t";
        break;
      case '\r':
        out << "\\r";
        break;
      case '\n':
        out << "\\n";
        break;
      default:
        out << c;
        break;
    }
  }
}

void WriteCell(std::ostream& out, std::uint32_t row, std::uint32_t column,
               const Kalvex::CellValue& cell) {
  out << row << '\t' << column << '\t';
  switch (cell.Kind()) {
    case Kalvex::CellKind::Integer:
      out << "Integer\t" << cell.IntegerValue();
      break;
    case Kalvex::CellKind::Real: {
      char number[40];
      std::snprintf(number, sizeof number, "%.17g", cell.RealValue());
      out << "Real\t" << number;
      break;
    }
    case Kalvex::CellKind::Text:
      out << "Text\t";
      WriteEscaped(out, cell.TextValue() != nullptr ? cell.TextValue() : "");
      break;
    case Kalvex::CellKind::WideText:
      out << "WideText\t";
      WriteEscaped(
          out, cell.WideTextValue() != nullptr ? Kalvex::Utf16ToUtf8(cell.WideTextValue()) : "");
      break;
    case Kalvex::CellKind::Empty:
      break;
  }
  out << '\n';
}

}  // namespace

int RunCellsCommand(const char* path, std::ostream& out, std::ostream& err) {
  Kalvex::OpenedWorkbook workbook;
  if (!Kalvex::OpenWorkbook(path, workbook)) {
    err << "Data Error!\n";
    return 1;
  }
  for (std::uint32_t i = 0; i < workbook.SheetCount(); ++i) {
    const Kalvex::SheetGrid& grid = *workbook.Sheet(i);
    out << "# sheet " << i << ": " << grid.RowCount() << " x " << grid.ColumnCount() << '\n';
    // Row, then column order; the work follows the stored cells, not the extent.
    grid.ForEachStoredCell(
        [&out](std::uint32_t row, std::uint32_t column, const Kalvex::CellValue& cell) {
          WriteCell(out, row, column, cell);
        });
  }
  out.flush();
  return out ? 0 : 1;
}

}  // namespace quorvel
