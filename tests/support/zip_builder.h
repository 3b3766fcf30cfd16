// Test support: zip archives built in memory (through libzip's writer), and the smallest
// .xlsx and .ods packages around a given part, so that tests can describe valid and
// hostile workbooks in code.
#pragma once

#include <string>
#include <vector>

#include "tests/support/cfb_builder.h"

namespace quorvel::testing {

struct ZipMember {
  std::string name;
  std::string data;
  bool stored = false;  // no compression
};

Bytes BuildZip(const std::vector<ZipMember>& members);

// An .xlsx package of one worksheet part per entry of sheetXmls (sheet1.xml, ...), the
// workbook listing them in order, and the shared strings part when sharedStringsXml is
// not empty. workbookPr is put into the workbook as it stands (e.g. "<workbookPr
// date1904=\"1\"/>").
Bytes MinimalXlsx(const std::vector<std::string>& sheetXmls,
                  const std::string& sharedStringsXml = "", const std::string& workbookPr = "");

// The worksheet part around the given rows ("<row>...</row>...").
std::string WorksheetXml(const std::string& rows);

// An .ods package: mimetype first and stored, then content.xml with the given tables
// ("<table:table>...</table:table>...") inside office:spreadsheet; `beforeTables` goes
// before them (e.g. calculation settings).
Bytes MinimalOds(const std::string& tables, const std::string& beforeTables = "");

}  // namespace quorvel::testing
