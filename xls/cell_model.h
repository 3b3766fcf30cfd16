// Decoded worksheet cells: CellValue and the rectangular SheetGrid of one worksheet.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kalvex {

class XlsDocument;

// Kind of value a cell holds; the values are part of the cell model's contract.
enum class CellKind : std::int32_t { Empty = 0, Integer = 1, Real = 2, Text = 3, WideText = 4 };

// One decoded cell. Numbers are held inline; the two text arrays are allocated only
// when a text is set, so an empty or numeric cell costs 24 bytes.
class CellValue {
 public:
  CellValue() = default;
  CellValue(const CellValue& other);
  CellValue& operator=(const CellValue& other);
  CellValue(CellValue&&) noexcept = default;
  CellValue& operator=(CellValue&&) noexcept = default;
  ~CellValue() = default;

  CellKind Kind() const { return kind_; }
  std::int32_t IntegerValue() const { return integer_; }  // meaningful for Integer
  double RealValue() const { return real_; }              // meaningful for Real

  // The cell's own zero-terminated narrow (UTF-8) text when the kind is Text and the
  // text is not empty; null otherwise, WideText cells included.
  const char* TextValue() const;
  // The cell's own zero-terminated 16-bit text when the kind is WideText; null otherwise.
  const char16_t* WideTextValue() const;

  // Numbers change the kind and that number only; both text arrays stay as they are.
  void SetInteger(std::int32_t value);
  void SetReal(double value);
  // Takes the text up to its first zero; an empty text clears the cell. The other
  // text array is emptied.
  void SetText(const char* text);
  void SetWideText(const char16_t* text);
  // Kind Empty, both text arrays emptied.
  void Clear();

 private:
  struct TextArrays {
    std::string narrow;  // characters without terminator; c_str() supplies it
    std::u16string wide;
  };

  CellKind kind_ = CellKind::Empty;
  std::int32_t integer_ = 0;
  double real_ = 0.0;
  std::unique_ptr<TextArrays> text_;  // null while both arrays are empty
};

// The grid of one worksheet, 0-based rows and columns, always rectangular in what it
// reports. Storage follows the cells that were actually written: a row holds chunks of
// kChunkColumns cells, kept in column order and allocated the first time a cell of the
// chunk is asked for through the mutable CellAt; rows and chunks never touched cost
// nothing, whatever extent the grid claims, and a row's cost does not depend on how far to
// the right its cells lie. The extent is capped at MaxRows() x MaxColumns(): 65,536 x 256
// (the .xls limits) unless the grid is built with other caps.
class SheetGrid {
 public:
  // Caps of an .xls worksheet, the default.
  static constexpr std::uint32_t kMaxRows = 65536;
  static constexpr std::uint32_t kMaxColumns = 256;
  // Caps of the formats that came after it (.xlsx, .ods, text files).
  static constexpr std::uint32_t kLargeMaxRows = 1048576;
  static constexpr std::uint32_t kLargeMaxColumns = 16384;

  SheetGrid() = default;
  SheetGrid(const XlsDocument* document, std::uint32_t sheetIndex);
  // An empty grid whose extent is capped at maxRows x maxColumns.
  SheetGrid(std::uint32_t maxRows, std::uint32_t maxColumns);
  SheetGrid(const SheetGrid& other);
  SheetGrid& operator=(const SheetGrid& other);
  SheetGrid(SheetGrid&&) noexcept = default;
  SheetGrid& operator=(SheetGrid&&) noexcept = default;
  ~SheetGrid() = default;

  std::uint32_t RowCount() const { return rowCount_; }
  std::uint32_t ColumnCount() const { return columnCount_; }
  std::uint32_t MaxRows() const { return maxRows_; }
  std::uint32_t MaxColumns() const { return maxColumns_; }
  // The .xls document that built the grid; null for grids of other formats.
  const XlsDocument* Document() const { return document_; }
  std::uint32_t SheetIndex() const { return sheetIndex_; }

  // Null when row >= MaxRows() or column >= MaxColumns(). Otherwise grows the extent to
  // include (row, column) and returns that cell, which the caller may change. Cells never
  // move: a cell pointer stays valid as long as the grid.
  CellValue* CellAt(std::uint32_t row, std::uint32_t column);
  // Read-only access that never grows the grid: null outside the caps, the stored cell
  // when its chunk has been written, and a shared Empty cell otherwise.
  const CellValue* CellAt(std::uint32_t row, std::uint32_t column) const;

  // Sets the extent to rows x columns (each capped) with every cell Empty.
  void Reset(std::uint32_t rows, std::uint32_t columns);
  // Grows the extent to at least rows x columns (each capped) without storing anything:
  // for cells a file lists without a value.
  void Extend(std::uint32_t rows, std::uint32_t columns);

  // Number of rows that hold storage, and of cells allocated in them (for memory
  // accounting and tests).
  std::size_t StoredRowCount() const;
  std::size_t StoredCellCount() const;

  // Calls visit(row, column, cell) for every allocated cell inside the extent that is not
  // Empty, in row order and within a row in column order. The work follows the stored
  // cells, not the extent.
  template <typename Visit>
  void ForEachStoredCell(Visit visit) const;

  static constexpr std::uint32_t kChunkColumns = 8;

 private:
  using Chunk = std::array<CellValue, kChunkColumns>;
  struct ChunkSlot {
    std::uint32_t index;  // the chunk holds columns 8 x index .. 8 x index + 7
    std::unique_ptr<Chunk> cells;
  };
  using Row = std::vector<ChunkSlot>;  // ascending chunk index
  static constexpr std::uint32_t kPageRows = 256;
  struct Page {
    Row rows[kPageRows];
  };

  const Row* StoredRow(std::uint32_t row) const;
  static const Chunk* FindChunk(const Row& row, std::uint32_t index);

  const XlsDocument* document_ = nullptr;
  std::uint32_t sheetIndex_ = 0;
  std::uint32_t rowCount_ = 0;
  std::uint32_t columnCount_ = 0;
  std::uint32_t maxRows_ = kMaxRows;
  std::uint32_t maxColumns_ = kMaxColumns;
  std::vector<std::unique_ptr<Page>> pages_;  // page k holds rows 256k .. 256k+255
};

template <typename Visit>
void SheetGrid::ForEachStoredCell(Visit visit) const {
  for (std::size_t p = 0; p < pages_.size(); ++p) {
    if (!pages_[p]) continue;
    for (std::uint32_t r = 0; r < kPageRows; ++r) {
      const std::uint32_t row = static_cast<std::uint32_t>(p) * kPageRows + r;
      if (row >= rowCount_) return;
      for (const ChunkSlot& slot : pages_[p]->rows[r]) {
        for (std::uint32_t k = 0; k < kChunkColumns; ++k) {
          const std::uint32_t column = slot.index * kChunkColumns + k;
          if (column >= columnCount_) break;
          const CellValue& cell = (*slot.cells)[k];
          if (cell.Kind() != CellKind::Empty) visit(row, column, cell);
        }
      }
    }
  }
}

}  // namespace Kalvex
