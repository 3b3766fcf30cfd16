// What the .xlsx writers share: a worksheet written row by row under a bold, frozen header,
// and a workbook that replaces its target whole once libxlsxwriter has finished it.
#pragma once

#include <xlsxwriter.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvel {

// The cell formats of a results workbook: a bold header and numbers shown with 4 decimals.
struct XlsxFormats {
  lxw_format* bold = nullptr;
  lxw_format* number = nullptr;
};

// A worksheet written row by row (the library's constant-memory mode keeps one row in
// memory). A table longer than a sheet continues on "Name 2", "Name 3", ...
class SheetWriter {
 public:
  SheetWriter(lxw_workbook* book, std::string name, std::vector<std::string> header,
              const XlsxFormats& formats);

  void Text(const std::string& text);
  void Integer(double value);
  // A number shown with 4 decimals; an empty cell when it is not finite.
  void Number(double value);
  // An empty cell.
  void Blank() { ++column_; }
  void EndRow();

 private:
  void Open();

  lxw_workbook* book_;
  std::string name_;
  std::vector<std::string> header_;
  XlsxFormats formats_;
  lxw_worksheet* sheet_ = nullptr;
  int part_ = 0;
  lxw_row_t row_ = 0;
  lxw_col_t column_ = 0;
};

// Writes an .xlsx workbook at `path` (replaced whole): `fill` adds the sheets to a fresh
// workbook in constant-memory mode. The library writes to a file name, so the workbook is
// made in a private folder (mode 0700) beside the target and then moved over the target.
// False with `error` set when it cannot be written; the target is then untouched.
bool WriteXlsxBook(const std::string& path,
                   const std::function<void(lxw_workbook*, const XlsxFormats&)>& fill,
                   std::string& error);

}  // namespace quorvel
