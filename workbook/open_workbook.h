// Opening a workbook file of any format the program reads, chosen by the file's content
// rather than its name: .xls (OLE2 compound document), .xlsx (Office Open XML package),
// .ods (OpenDocument spreadsheet) or delimiter-separated text (.csv, .tsv).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "xls/cell_model.h"
#include "xls/little_endian.h"
#include "xls/xls_document.h"

namespace Kalvex {

enum class WorkbookFormat { Xls, Xlsx, Ods, DelimitedText };

enum class SheetSelection { All, FirstOnly };

// The worksheets of an opened workbook, each as its grid of decoded cells.
class OpenedWorkbook {
 public:
  OpenedWorkbook() = default;
  OpenedWorkbook(const OpenedWorkbook&) = delete;
  OpenedWorkbook& operator=(const OpenedWorkbook&) = delete;
  OpenedWorkbook(OpenedWorkbook&&) noexcept = default;
  OpenedWorkbook& operator=(OpenedWorkbook&&) noexcept = default;

  WorkbookFormat Format() const { return format_; }
  std::uint32_t SheetCount() const;
  // The grid of worksheet index, null when index is not below SheetCount.
  const SheetGrid* Sheet(std::uint32_t index) const;

 private:
  friend bool LoadWorkbook(ByteSpan, OpenedWorkbook&, SheetSelection);
  WorkbookFormat format_ = WorkbookFormat::Xls;
  std::unique_ptr<XlsDocument> xls_;  // the .xls document, whose grids it owns
  std::vector<SheetGrid> grids_;      // the grids of the other formats
};

// The files the readers take: at most 2 GiB.
inline constexpr std::uint64_t kMaxWorkbookFileSize = std::uint64_t{2} << 30;

// Reads the file at path whole, but only when it is a regular file no larger than
// kMaxWorkbookFileSize: a FIFO, a device, a socket or a directory is refused at once,
// before a byte is read (the path is opened without blocking and checked by the open
// descriptor). False when the file cannot be read so.
bool ReadRegularFile(const char* path, std::vector<std::uint8_t>& bytes);

// The format the bytes hold by their signature: OLE2 -> Xls; a zip package with
// "[Content_Types].xml" -> Xlsx; a zip whose "mimetype" names an OpenDocument
// spreadsheet -> Ods; anything else is taken for DelimitedText.
WorkbookFormat SniffFormat(ByteSpan bytes);

// Loads the workbook held in bytes. For .xls every worksheet is decoded whatever the
// selection; the other formats read only the first when asked to. False, with workbook
// emptied, when the bytes are not a workbook of a format read here or are damaged: an
// .xls without a readable stream "Workbook", a zip of neither package format, a package
// part that cannot be read, text with control bytes, or a limit passed (see the readers).
// An .xls or .xlsx with no worksheet loads with SheetCount 0.
bool LoadWorkbook(ByteSpan bytes, OpenedWorkbook& workbook,
                  SheetSelection sheets = SheetSelection::All);

// ReadRegularFile, then LoadWorkbook.
bool OpenWorkbook(const char* path, OpenedWorkbook& workbook,
                  SheetSelection sheets = SheetSelection::All);

}  // namespace Kalvex
