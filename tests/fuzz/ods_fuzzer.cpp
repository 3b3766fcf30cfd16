// Fuzz entry point of the .ods reader. An input that is a zip is read as a whole file; any
// other input is taken for content.xml and packed into a spreadsheet first, so that the
// mutations reach the XML rather than break the zip's checksums.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ods/ods_reader.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/support/zip_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<Kalvex::SheetGrid> grids;
  if (size >= 2 && data[0] == 'P' && data[1] == 'K') {
    Kalvex::ReadOdsWorkbook(Kalvex::ByteSpan(data, size), grids);
  } else {
    const std::string content(reinterpret_cast<const char*>(data), size);
    const quorvel::testing::Bytes file = quorvel::testing::BuildZip(
        {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", true},
         {"content.xml", content, true}});
    Kalvex::ReadOdsWorkbook(Kalvex::ByteSpan(file), grids);
  }
  for (const Kalvex::SheetGrid& grid : grids) quorvel::fuzzing::CheckGrid(grid);
  return 0;
}
