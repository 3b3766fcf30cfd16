// Reader of OpenDocument spreadsheets (.ods): the tables of content.xml, each into one grid
// of decoded cells.
#pragma once

#include <vector>

#include "archive/zip_archive.h"
#include "xls/cell_model.h"

namespace Kalvex {

// True when the open archive's "mimetype" member names an OpenDocument spreadsheet (or
// spreadsheet template).
bool IsOdsPackage(ZipArchive& archive);

// Reads the tables (worksheets) of the spreadsheet in the open archive into grids
// (replacing their content), in document order; with firstOnly only the first. Each grid
// is capped at 1,048,576 rows x 16,384 columns; its extent covers the cells that hold a
// value or a formula. Repeated rows and cells are expanded only where they hold values,
// so that the million empty rows a spreadsheet program writes after the data cost nothing.
// Cells, by their value type:
//   float, percentage, currency  Real, the stored value
//   date                         Real, days since the document's null date (1899-12-30
//                                unless it sets another), the time as a fraction
//   time                         Real, the duration in days
//   boolean                      Integer 1 or 0
//   string                       Text (UTF-8): its paragraphs joined by line feeds, with
//                                the spaces, tabs and line breaks they mark up; the text
//                                of annotations and drawings in the cell is left out
//   a formula (whatever its cached value), an error, nothing: Empty
// Covered cells (hidden under merged ones) are read as any other cell. False, with grids
// emptied, when content.xml is missing or damaged or more than kMaxFilledCells cells
// would hold values.
bool ReadOdsWorkbook(ZipArchive& archive, std::vector<SheetGrid>& grids, bool firstOnly = false);

// The same from the bytes of a whole file.
bool ReadOdsWorkbook(ByteSpan bytes, std::vector<SheetGrid>& grids, bool firstOnly = false);

}  // namespace Kalvex
