// Test support: builds compound documents and BIFF8 records byte by byte, so that tests
// can describe valid and damaged workbooks in code. Shares no code with the reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::testing {

using Bytes = std::vector<std::uint8_t>;

// Little-endian appends.
void Put8(Bytes& out, std::uint8_t v);
void Put16(Bytes& out, std::uint16_t v);
void Put32(Bytes& out, std::uint32_t v);
void PutDouble(Bytes& out, double v);
void Append(Bytes& out, const Bytes& more);
void Poke32(Bytes& out, std::size_t offset, std::uint32_t v);
std::uint32_t Peek32(const Bytes& in, std::size_t offset);

struct CfbStream {
  std::u16string name;
  Bytes data;
};

struct CfbOptions {
  int sectorShift = 9;            // 9: 512-byte sectors, 12: 4096-byte sectors
  bool unusedEntryFirst = false;  // leave directory slot 1 unused; streams from slot 2
  std::uint32_t minimumFatSectors = 0;
};

// Where the builder put things, for tests that damage the image afterwards.
struct CfbLayout {
  std::uint32_t sectorSize = 0;
  std::uint32_t fatSectorCount = 0;
  std::uint32_t difatSectorCount = 0;
  std::vector<std::uint32_t> fatSectors;  // container sector numbers, in FAT order
  std::uint32_t firstDirectorySector = 0;
  std::uint32_t firstMiniFatSector = 0xFFFFFFFE;
  std::vector<std::uint32_t> streamStarts;  // per stream: first sector or mini sector
  // Byte offset of container sector n in the image.
  std::size_t SectorOffset(std::uint32_t n) const {
    return static_cast<std::size_t>(n + 1) * sectorSize;
  }
  // Byte offset of directory entry k (the directory is written contiguously).
  std::size_t EntryOffset(std::uint32_t k) const {
    return SectorOffset(firstDirectorySector) + 128u * k;
  }
  // Byte offset of the FAT entry of container sector n.
  std::size_t FatEntryOffset(std::uint32_t n) const {
    return SectorOffset(fatSectors[n / (sectorSize / 4)]) + 4u * (n % (sectorSize / 4));
  }
};

// A compound document whose root storage holds the given streams (entries 1, 2, ... in
// order, linked as right siblings). Streams under 4096 bytes go to the mini stream.
Bytes BuildCompoundDocument(const std::vector<CfbStream>& streams, const CfbOptions& options = {},
                            CfbLayout* layout = nullptr);

// BIFF8 records.
namespace biff {

Bytes Record(std::uint16_t code, const Bytes& data);
Bytes Bof(std::uint16_t substreamType);  // 0x0005 globals, 0x0010 worksheet, 0x0020 chart
Bytes Eof();
Bytes Dimensions(std::uint32_t firstRow, std::uint32_t lastRowPlusOne, std::uint16_t firstColumn,
                 std::uint16_t lastColumnPlusOne);
Bytes Row(std::uint16_t row);
Bytes DbCell();
Bytes Number(std::uint16_t row, std::uint16_t column, double value);
Bytes Rk(std::uint16_t row, std::uint16_t column, std::uint32_t rk);
Bytes MulRk(std::uint16_t row, std::uint16_t firstColumn, const std::vector<std::uint32_t>& rks);
Bytes LabelSst(std::uint16_t row, std::uint16_t column, std::uint32_t index);
Bytes BoolErr(std::uint16_t row, std::uint16_t column, std::uint8_t value, bool isError);
Bytes Blank(std::uint16_t row, std::uint16_t column);
Bytes Formula(std::uint16_t row, std::uint16_t column, double cachedResult);
Bytes BoundSheet(const std::string& latin1Name);
Bytes BoundSheetWide(const std::u16string& name);
// An SST record of the given string bodies (see SstString*), with CONTINUE records cut at
// the given offsets of the body bytes (each cut starts a new CONTINUE).
Bytes Sst(std::uint32_t uniqueCount, const Bytes& bodies,
          const std::vector<std::size_t>& cuts = {});
Bytes SstString8(const std::string& latin1);
Bytes SstString16(const std::u16string& text);

// A workbook stream: the globals (BOF, the records, EOF), then each sheet's records
// between a worksheet BOF and an EOF.
Bytes WorkbookStream(const Bytes& globals, const std::vector<Bytes>& sheets);
// The same wrapped in a compound document as the stream "Workbook".
Bytes WorkbookFile(const Bytes& globals, const std::vector<Bytes>& sheets);

}  // namespace biff
}  // namespace quorvel::testing
