// Decoded worksheet cells and the sparse-storage grid of one worksheet.
#include "xls/cell_model.h"

#include <algorithm>

namespace Kalvex {

CellValue::CellValue(const CellValue& other)
    : kind_(other.kind_),
      integer_(other.integer_),
      real_(other.real_),
      text_(other.text_ ? std::make_unique<TextArrays>(*other.text_) : nullptr) {}

CellValue& CellValue::operator=(const CellValue& other) {
  if (this != &other) {
    kind_ = other.kind_;
    integer_ = other.integer_;
    real_ = other.real_;
    text_ = other.text_ ? std::make_unique<TextArrays>(*other.text_) : nullptr;
  }
  return *this;
}

const char* CellValue::TextValue() const {
  if (kind_ != CellKind::Text || !text_ || text_->narrow.empty()) return nullptr;
  return text_->narrow.c_str();
}

const char16_t* CellValue::WideTextValue() const {
  if (kind_ != CellKind::WideText || !text_ || text_->wide.empty()) return nullptr;
  return text_->wide.c_str();
}

void CellValue::SetInteger(std::int32_t value) {
  kind_ = CellKind::Integer;
  integer_ = value;
}

void CellValue::SetReal(double value) {
  kind_ = CellKind::Real;
  real_ = value;
}

void CellValue::SetText(const char* text) {
  if (text == nullptr || text[0] == '\0') {
    Clear();
    return;
  }
  kind_ = CellKind::Text;
  if (!text_) text_ = std::make_unique<TextArrays>();
  text_->narrow.assign(text);
  text_->wide.clear();
}

void CellValue::SetWideText(const char16_t* text) {
  if (text == nullptr || text[0] == u'\0') {
    Clear();
    return;
  }
  kind_ = CellKind::WideText;
  if (!text_) text_ = std::make_unique<TextArrays>();
  text_->wide.assign(text);
  text_->narrow.clear();
}

void CellValue::Clear() {
  kind_ = CellKind::Empty;
  text_.reset();
}

SheetGrid::SheetGrid(const XlsDocument* document, std::uint32_t sheetIndex)
    : document_(document), sheetIndex_(sheetIndex) {}

SheetGrid::SheetGrid(std::uint32_t maxRows, std::uint32_t maxColumns)
    : maxRows_(maxRows), maxColumns_(maxColumns) {}

SheetGrid::SheetGrid(const SheetGrid& other)
    : document_(other.document_),
      sheetIndex_(other.sheetIndex_),
      rowCount_(other.rowCount_),
      columnCount_(other.columnCount_),
      maxRows_(other.maxRows_),
      maxColumns_(other.maxColumns_) {
  pages_.resize(other.pages_.size());
  for (std::size_t p = 0; p < other.pages_.size(); ++p) {
    if (!other.pages_[p]) continue;
    pages_[p] = std::make_unique<Page>();
    for (std::uint32_t r = 0; r < kPageRows; ++r) {
      const Row& from = other.pages_[p]->rows[r];
      Row& to = pages_[p]->rows[r];
      to.reserve(from.size());
      for (const ChunkSlot& slot : from)
        to.push_back({slot.index, std::make_unique<Chunk>(*slot.cells)});
    }
  }
}

SheetGrid& SheetGrid::operator=(const SheetGrid& other) {
  if (this != &other) {
    SheetGrid copy(other);
    *this = std::move(copy);
  }
  return *this;
}

const SheetGrid::Row* SheetGrid::StoredRow(std::uint32_t row) const {
  const std::uint32_t page = row / kPageRows;
  if (page >= pages_.size() || !pages_[page]) return nullptr;
  const Row& stored = pages_[page]->rows[row % kPageRows];
  return stored.empty() ? nullptr : &stored;
}

const SheetGrid::Chunk* SheetGrid::FindChunk(const Row& row, std::uint32_t index) {
  // Rows hold a few chunks; most hold one.
  const auto slot =
      std::lower_bound(row.begin(), row.end(), index,
                       [](const ChunkSlot& s, std::uint32_t i) { return s.index < i; });
  return slot != row.end() && slot->index == index ? slot->cells.get() : nullptr;
}

CellValue* SheetGrid::CellAt(std::uint32_t row, std::uint32_t column) {
  if (row >= maxRows_ || column >= maxColumns_) return nullptr;
  if (column >= columnCount_) columnCount_ = column + 1;
  if (row >= rowCount_) rowCount_ = row + 1;

  const std::uint32_t page = row / kPageRows;
  if (page >= pages_.size()) pages_.resize(page + 1);
  if (!pages_[page]) pages_[page] = std::make_unique<Page>();
  Row& stored = pages_[page]->rows[row % kPageRows];
  const std::uint32_t index = column / kChunkColumns;
  // Cells mostly arrive in column order: the new chunk then goes at the end.
  auto slot = stored.end();
  if (!stored.empty() && stored.back().index >= index) {
    slot = std::lower_bound(stored.begin(), stored.end(), index,
                            [](const ChunkSlot& s, std::uint32_t i) { return s.index < i; });
  }
  if (slot == stored.end() || slot->index != index) {
    slot = stored.insert(slot, ChunkSlot{index, std::make_unique<Chunk>()});
  }
  return &(*slot->cells)[column % kChunkColumns];
}

const CellValue* SheetGrid::CellAt(std::uint32_t row, std::uint32_t column) const {
  static const CellValue kEmptyCell;
  if (row >= maxRows_ || column >= maxColumns_) return nullptr;
  if (row < rowCount_ && column < columnCount_) {
    if (const Row* stored = StoredRow(row)) {
      if (const Chunk* chunk = FindChunk(*stored, column / kChunkColumns)) {
        return &(*chunk)[column % kChunkColumns];
      }
    }
  }
  return &kEmptyCell;
}

void SheetGrid::Reset(std::uint32_t rows, std::uint32_t columns) {
  pages_.clear();
  rowCount_ = std::min(rows, maxRows_);
  columnCount_ = std::min(columns, maxColumns_);
}

void SheetGrid::Extend(std::uint32_t rows, std::uint32_t columns) {
  rowCount_ = std::max(rowCount_, std::min(rows, maxRows_));
  columnCount_ = std::max(columnCount_, std::min(columns, maxColumns_));
}

std::size_t SheetGrid::StoredRowCount() const {
  std::size_t count = 0;
  for (const auto& page : pages_) {
    if (!page) continue;
    for (const Row& stored : page->rows) count += stored.empty() ? 0 : 1;
  }
  return count;
}

std::size_t SheetGrid::StoredCellCount() const {
  std::size_t count = 0;
  for (const auto& page : pages_) {
    if (!page) continue;
    for (const Row& stored : page->rows) count += stored.size() * kChunkColumns;
  }
  return count;
}

}  // namespace Kalvex
