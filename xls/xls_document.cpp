// Loading a workbook: container, workbook stream, substream walk and grids.
#include "xls/xls_document.h"

#include <utility>

namespace Kalvex {

std::size_t ReadWorkbookStream(ByteSpan stream, Workbook& workbook,
                               std::vector<Worksheet>& worksheets) {
  std::size_t position = 0;
  while (position < stream.size() && PeekRecordCode(stream.subspan(position)) == RecordId::kBof) {
    BOF bof;
    const std::uint32_t bofSize = bof.Read(stream.subspan(position));
    if (bofSize == 0) break;
    std::size_t consumed = 0;
    if (bof.substreamType == BOF::kGlobals) {
      consumed = workbook.ReadGlobals(stream, position);
    } else if (bof.substreamType == BOF::kWorksheet) {
      consumed = worksheets.emplace_back().Read(stream, position);
    } else {
      consumed = bofSize;  // chart, macro sheet, module: only the BOF is passed over
    }
    if (consumed == 0) break;
    position += consumed;
  }
  return position;
}

bool XlsDocument::Load(const char* path) {
  if (!compound_.Open(path)) return false;
  return LoadOpenContainer();
}

bool XlsDocument::Load(ByteSpan bytes) {
  if (!compound_.Open(bytes)) return false;
  const bool loaded = LoadOpenContainer();
  compound_.Close();  // the caller's bytes are not referred to after the call
  return loaded;
}

bool XlsDocument::LoadOpenContainer() {
  workbook_ = Workbook();
  worksheets_.clear();
  grids_.clear();

  std::vector<std::uint8_t> stream;
  if (compound_.ReadStream(u"Workbook", stream) != CompoundDocument::kStreamRead ||
      stream.empty()) {
    compound_.Close();
    return false;
  }
  ReadWorkbookStream(stream, workbook_, worksheets_);
  // The records hold their own copies: the stream goes before the grids are built.
  std::vector<std::uint8_t>().swap(stream);

  grids_.reserve(worksheets_.size());
  for (std::uint32_t i = 0; i < worksheets_.size(); ++i) {
    SheetGrid& grid = grids_.emplace_back(this, i);
    worksheets_[i].FillGrid(grid, workbook_.sharedStrings);
  }
  return true;
}

}  // namespace Kalvex
