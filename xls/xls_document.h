// The in-memory workbook: loads a .xls file (or its bytes) into one grid per worksheet.
#pragma once

#include <cstdint>
#include <vector>

#include "xls/cell_model.h"
#include "xls/compound_document.h"
#include "xls/workbook.h"
#include "xls/worksheet.h"

namespace Kalvex {

// Decodes a whole workbook stream: the globals fill workbook, every worksheet substream
// appends one Worksheet. Walks the substreams in stream order and stops at the end of the
// stream, at a record that is not a BOF (so a chart sheet or macro sheet ends the walk) or
// at a damaged record. Returns the bytes consumed; 0 when the stream does not begin with
// a BOF.
std::size_t ReadWorkbookStream(ByteSpan stream, Workbook& workbook,
                               std::vector<Worksheet>& worksheets);

class XlsDocument {
 public:
  XlsDocument() = default;
  XlsDocument(const XlsDocument&) = delete;
  XlsDocument& operator=(const XlsDocument&) = delete;
  ~XlsDocument() = default;

  // Loads the workbook at path (bytes as the operating system takes them). False when the
  // file cannot be opened as a compound document (the previous content is kept), or when
  // it has no readable, non-empty stream "Workbook", spelled in any case (no worksheets
  // remain). A BIFF5 workbook, whose stream is "Book", is refused so. The file is
  // opened read-only; after a successful load it stays open until the next Load or the
  // document's end, and every failure closes it.
  bool Load(const char* path);
  // The same from a whole file held in memory; the bytes are not kept after the call.
  bool Load(ByteSpan bytes);

  // Worksheets decoded by the last Load.
  std::uint32_t SheetCount() const { return static_cast<std::uint32_t>(grids_.size()); }
  // The grid of worksheet index, null when index is not below SheetCount. Valid until the
  // next Load or the document's end.
  SheetGrid* Sheet(std::uint32_t index) { return index < grids_.size() ? &grids_[index] : nullptr; }
  const SheetGrid* Sheet(std::uint32_t index) const {
    return index < grids_.size() ? &grids_[index] : nullptr;
  }

  const Workbook& Globals() const { return workbook_; }
  const std::vector<Worksheet>& Worksheets() const { return worksheets_; }

 private:
  // Reads and decodes the stream "Workbook" of the open container and builds the grids.
  bool LoadOpenContainer();

  CompoundDocument compound_;
  Workbook workbook_;
  std::vector<Worksheet> worksheets_;
  std::vector<SheetGrid> grids_;
};

}  // namespace Kalvex
