// Fuzz entry point of the .xlsx reader. An input that is a zip is read as a whole file;
// any other input is taken for the XML of a worksheet (and, after a NUL byte, of the
// shared strings) and packed into a workbook first, so that the mutations reach the XML
// rather than break the zip's checksums.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_checks.h"
#include "tests/support/zip_builder.h"
#include "xlsx/xlsx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<Kalvex::SheetGrid> grids;
  if (size >= 2 && data[0] == 'P' && data[1] == 'K') {
    Kalvex::ReadXlsxWorkbook(Kalvex::ByteSpan(data, size), grids);
  } else {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\0');
    const std::string sheet = input.substr(0, cut);
    const std::string strings = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    const quorvel::testing::Bytes file = quorvel::testing::MinimalXlsx({sheet}, strings);
    Kalvex::ReadXlsxWorkbook(Kalvex::ByteSpan(file), grids);
  }
  for (const Kalvex::SheetGrid& grid : grids) quorvel::fuzzing::CheckGrid(grid);
  return 0;
}
