// The worksheet writer and the atomic workbook file shared by the .xlsx writers.
#include "export/xlsx_book.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "io/atomic_file.h"
#include "io/whole_file.h"

namespace quorvel {

SheetWriter::SheetWriter(lxw_workbook* book, std::string name, std::vector<std::string> header,
                         const XlsxFormats& formats)
    : book_(book), name_(std::move(name)), header_(std::move(header)), formats_(formats) {
  Open();
}

void SheetWriter::Text(const std::string& text) {
  worksheet_write_string(sheet_, row_, column_++, text.c_str(), nullptr);
}

void SheetWriter::Integer(double value) {
  worksheet_write_number(sheet_, row_, column_++, value, nullptr);
}

void SheetWriter::Number(double value) {
  if (std::isfinite(value)) worksheet_write_number(sheet_, row_, column_, value, formats_.number);
  ++column_;
}

void SheetWriter::EndRow() {
  column_ = 0;
  if (++row_ >= LXW_ROW_MAX) Open();
}

void SheetWriter::Open() {
  std::string name = name_;
  if (++part_ > 1) name += " " + std::to_string(part_);
  sheet_ = workbook_add_worksheet(book_, name.c_str());
  for (std::size_t c = 0; c < header_.size(); ++c) {
    worksheet_set_column(sheet_, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                         c == 0 ? 12 : 14, nullptr);
    worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(c), header_[c].c_str(), formats_.bold);
  }
  worksheet_freeze_panes(sheet_, 1, 0);
  row_ = 1;
  column_ = 0;
}

bool WriteXlsxBook(const std::string& path,
                   const std::function<void(lxw_workbook*, const XlsxFormats&)>& fill,
                   std::string& error) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    error = "cannot create a file in the folder";
    return false;
  }
  const std::string privateFolder = pattern;
  const std::string bookPath = privateFolder + "/book.xlsx";

  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  std::string tmpdir = privateFolder;
  options.tmpdir = tmpdir.data();
  lxw_workbook* book = workbook_new_opt(bookPath.c_str(), &options);
  bool ok = book != nullptr;
  std::string bytes;
  if (ok) {
    XlsxFormats formats;
    formats.bold = workbook_add_format(book);
    format_set_bold(formats.bold);
    formats.number = workbook_add_format(book);
    format_set_num_format(formats.number, "0.0000");
    fill(book, formats);
    lxw_error status = LXW_NO_ERROR;
    {
      // Closing writes the document properties, whose time stamp the library formats
      // with gmtime()'s one static buffer: workbooks written on several threads at once
      // close one at a time.
      static std::mutex closing;
      const std::lock_guard lock(closing);
      status = workbook_close(book);
    }
    ok = status == LXW_NO_ERROR;
    if (!ok) error = lxw_strerror(status);
  } else {
    error = "cannot start the workbook";
  }
  if (ok && !ReadWholeFile(bookPath, bytes)) {
    ok = false;
    error = "cannot read the written workbook back";
  }
  std::error_code ignored;
  fs::remove_all(privateFolder, ignored);
  if (!ok) return false;
  return WriteFileAtomically(path, bytes, &error);
}

}  // namespace quorvel
