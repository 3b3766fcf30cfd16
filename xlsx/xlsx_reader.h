// Reader of Office Open XML workbooks (.xlsx, transitional and strict): the worksheets in
// workbook order, each into one grid of decoded cells.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/zip_archive.h"
#include "xls/cell_model.h"

namespace Kalvex {

// True when the open archive is an Open Packaging Conventions package: it holds the
// part "[Content_Types].xml".
bool IsOpcPackage(const ZipArchive& archive);

// Reads the worksheets of the workbook in the open archive into grids (replacing their
// content), in the order the workbook lists its sheets; chart, dialog and macro sheets are
// left out. With firstOnly only the first worksheet is read. Each grid is capped at
// 1,048,576 rows x 16,384 columns; its extent covers every cell the sheet lists, valued or
// not. Cells:
//   number                  Real
//   shared or inline string Text (UTF-8; rich text runs joined, phonetic runs left out);
//                           an empty string leaves the cell Empty
//   boolean                 Integer 1 or 0
//   ISO 8601 date           Real, its serial number in the workbook's date system
//   error, or any cell with a formula, whatever its cached value: Empty
// False, with grids emptied, when the package holds no workbook, a part the sheets need is
// missing or damaged or not SpreadsheetML (transitional or strict), or more than
// kMaxFilledCells cells hold values. Package relationships that cannot be read are passed
// over: the workbook is then looked for at xl/workbook.xml.
bool ReadXlsxWorkbook(ZipArchive& archive, std::vector<SheetGrid>& grids, bool firstOnly = false);

// The same from the bytes of a whole file.
bool ReadXlsxWorkbook(ByteSpan bytes, std::vector<SheetGrid>& grids, bool firstOnly = false);

// Package part names. The part a relationship target names, resolved against the part
// that holds the relationship ("" for the package itself); "." and ".." segments are
// folded. Empty when the target leaves the package.
std::string ResolvePartName(std::string_view sourcePart, std::string_view target);
// The relationships part of a part: "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels",
// the package itself ("") -> "_rels/.rels".
std::string RelationshipsPartName(std::string_view part);

// Text of the spreadsheet string type: "_xHHHH_" stands for the character U+HHHH, which
// it is replaced by ("_x005F_" thus keeps a literal underscore before such a form).
std::string UnescapeXString(std::string_view text);

// A cell reference such as "B7" as 0-based row and column. False when text is no such
// reference; row and column may lie beyond any cap (up to 2^32 - 2).
bool ParseCellReference(std::string_view text, std::uint32_t& row, std::uint32_t& column);

}  // namespace Kalvex
