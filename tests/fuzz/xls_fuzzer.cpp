// Fuzz entry point: loads arbitrary bytes as a workbook and reads every cell of every grid.
#include <cstddef>
#include <cstdint>

#include "xls/xls_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Kalvex::XlsDocument document;
  document.Load(Kalvex::ByteSpan(data, size));
  std::size_t filled = 0;
  for (std::uint32_t i = 0; i < document.SheetCount(); ++i) {
    const Kalvex::SheetGrid& grid = *document.Sheet(i);
    // Rows are stored only where cells were written; walking those bounds the work.
    for (std::uint32_t row = 0; row < grid.RowCount() && filled < 1000000; ++row) {
      for (std::uint32_t column = 0; column < grid.ColumnCount(); ++column) {
        const Kalvex::CellValue* cell = grid.CellAt(row, column);
        if (cell->Kind() == Kalvex::CellKind::Text && cell->TextValue() == nullptr)
          __builtin_trap();
        filled += cell->Kind() != Kalvex::CellKind::Empty;
      }
    }
  }
  return 0;
}
