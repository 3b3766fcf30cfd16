// Fuzz entry point of the delimited-text reader.
#include <cstddef>
#include <cstdint>

#include "csv/csv_reader.h"
#include "tests/fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Kalvex::SheetGrid grid(Kalvex::SheetGrid::kLargeMaxRows, Kalvex::SheetGrid::kLargeMaxColumns);
  if (Kalvex::ReadDelimitedText(Kalvex::ByteSpan(data, size), grid))
    quorvel::fuzzing::CheckGrid(grid);
  return 0;
}
