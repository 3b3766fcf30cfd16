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

SheetGrid::SheetGrid(const SheetGrid& other)
    : document_(other.document_),
      sheetIndex_(other.sheetIndex_),
      rowCount_(other.rowCount_),
      columnCount_(other.columnCount_) {
  pages_.resize(other.pages_.size());
  for (std::size_t p = 0; p < other.pages_.size(); ++p) {
    if (!other.pages_[p]) continue;
    pages_[p] = std::make_unique<Page>();
    for (std::uint32_t r = 0; r < kPageRows; ++r) {
      const Row& from = other.pages_[p]->rows[r];
      Row& to = pages_[p]->rows[r];
      to.resize(from.size());
      for (std::size_t k = 0; k < from.size(); ++k) {
        if (from[k]) to[k] = std::make_unique<Chunk>(*from[k]);
      }
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

CellValue* SheetGrid::CellAt(std::uint32_t row, std::uint32_t column) {
  if (row >= kMaxRows || column >= kMaxColumns) return nullptr;
  if (column >= columnCount_) columnCount_ = column + 1;
  if (row >= rowCount_) rowCount_ = row + 1;

  const std::uint32_t page = row / kPageRows;
  if (page >= pages_.size()) pages_.resize(page + 1);
  if (!pages_[page]) pages_[page] = std::make_unique<Page>();
  Row& stored = pages_[page]->rows[row % kPageRows];
  const std::uint32_t chunk = column / kChunkColumns;
  if (stored.size() <= chunk) stored.resize(chunk + 1);
  if (!stored[chunk]) stored[chunk] = std::make_unique<Chunk>();
  return &(*stored[chunk])[column % kChunkColumns];
}

const CellValue* SheetGrid::CellAt(std::uint32_t row, std::uint32_t column) const {
  static const CellValue kEmptyCell;
  if (row >= kMaxRows || column >= kMaxColumns) return nullptr;
  if (row < rowCount_ && column < columnCount_) {
    if (const Row* stored = StoredRow(row)) {
      const std::uint32_t chunk = column / kChunkColumns;
      if (chunk < stored->size() && (*stored)[chunk]) {
        return &(*(*stored)[chunk])[column % kChunkColumns];
      }
    }
  }
  return &kEmptyCell;
}

void SheetGrid::Reset(std::uint32_t rows, std::uint32_t columns) {
  pages_.clear();
  rowCount_ = std::min(rows, kMaxRows);
  columnCount_ = std::min(columns, kMaxColumns);
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
    for (const Row& stored : page->rows) {
      for (const auto& chunk : stored) count += chunk ? kChunkColumns : 0;
    }
  }
  return count;
}

}  // namespace Kalvex
