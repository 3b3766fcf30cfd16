// Test support: compound documents and BIFF8 records built byte by byte.
#include "tests/support/cfb_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quorvel::testing {
namespace {

constexpr std::uint32_t kEnd = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kFatMark = 0xFFFFFFFD;
constexpr std::uint32_t kDifatMark = 0xFFFFFFFC;
constexpr std::size_t kMiniSize = 64;
constexpr std::size_t kCutoff = 4096;

std::uint32_t SectorsFor(std::size_t bytes, std::size_t size) {
  return static_cast<std::uint32_t>((bytes + size - 1) / size);
}

}  // namespace

void Put8(Bytes& out, std::uint8_t v) { out.push_back(v); }
void Put16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}
void PutDouble(Bytes& out, double v) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  Put32(out, static_cast<std::uint32_t>(bits));
  Put32(out, static_cast<std::uint32_t>(bits >> 32));
}
void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void Poke32(Bytes& out, std::size_t offset, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Peek32(const Bytes& in, std::size_t offset) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | in[offset + i];
  return v;
}

Bytes BuildCompoundDocument(const std::vector<CfbStream>& streams, const CfbOptions& options,
                            CfbLayout* layoutOut) {
  const std::size_t sectorSize = std::size_t{1} << options.sectorShift;
  const std::size_t perSector = sectorSize / 4;
  CfbLayout layout;
  layout.sectorSize = static_cast<std::uint32_t>(sectorSize);

  // Mini stream: small streams one after the other, each from a fresh mini sector.
  Bytes miniStream;
  std::vector<std::uint32_t> miniFat;
  std::vector<std::uint32_t> starts(streams.size(), kEnd);
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const Bytes& data = streams[i].data;
    if (data.empty() || data.size() >= kCutoff) continue;
    const std::uint32_t first = static_cast<std::uint32_t>(miniFat.size());
    const std::uint32_t count = SectorsFor(data.size(), kMiniSize);
    for (std::uint32_t k = 0; k < count; ++k)
      miniFat.push_back(k + 1 < count ? first + k + 1 : kEnd);
    Append(miniStream, data);
    miniStream.resize(miniFat.size() * kMiniSize, 0);
    starts[i] = first;
  }

  // Sector plan: big streams, mini stream, mini FAT, directory, then FAT and DIFAT.
  std::vector<std::uint32_t> fat;
  std::vector<Bytes> sectorData;
  auto placeChain = [&](const Bytes& data) -> std::uint32_t {
    if (data.empty()) return kEnd;
    const std::uint32_t first = static_cast<std::uint32_t>(fat.size());
    const std::uint32_t count = SectorsFor(data.size(), sectorSize);
    for (std::uint32_t k = 0; k < count; ++k) {
      fat.push_back(k + 1 < count ? first + k + 1 : kEnd);
      Bytes sector(sectorSize, 0);
      const std::size_t from = k * sectorSize;
      std::copy_n(data.begin() + from, std::min(sectorSize, data.size() - from), sector.begin());
      sectorData.push_back(std::move(sector));
    }
    return first;
  };
  for (std::size_t i = 0; i < streams.size(); ++i) {
    if (streams[i].data.size() >= kCutoff) starts[i] = placeChain(streams[i].data);
  }
  const std::uint32_t miniStreamStart = placeChain(miniStream);
  Bytes miniFatBytes;
  for (std::uint32_t v : miniFat) Put32(miniFatBytes, v);
  layout.firstMiniFatSector = placeChain(miniFatBytes);
  const std::uint32_t miniFatSectors = SectorsFor(miniFatBytes.size(), sectorSize);

  // Directory: root, an optional unused slot, then the streams as a chain of right siblings.
  const std::uint32_t firstStreamEntry = options.unusedEntryFirst ? 2 : 1;
  const std::uint32_t entryCount = firstStreamEntry + static_cast<std::uint32_t>(streams.size());
  Bytes directory(SectorsFor(entryCount * 128, sectorSize) * sectorSize, 0);
  auto writeEntry = [&](std::uint32_t k, const std::u16string& name, std::uint8_t type,
                        std::uint32_t right, std::uint32_t child, std::uint32_t start,
                        std::uint32_t size) {
    Bytes entry;
    for (std::size_t i = 0; i < 32; ++i) Put16(entry, i < name.size() ? name[i] : 0);
    Put16(entry, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    Put8(entry, type);
    Put8(entry, 1);  // black
    Put32(entry, kFree);
    Put32(entry, right);
    Put32(entry, child);
    entry.resize(116, 0);
    Put32(entry, start);
    Put32(entry, size);
    Put32(entry, 0);
    std::copy(entry.begin(), entry.end(), directory.begin() + 128 * k);
  };
  writeEntry(0, u"Root Entry", 5, kFree, streams.empty() ? kFree : firstStreamEntry,
             miniStreamStart, static_cast<std::uint32_t>(miniStream.size()));
  for (std::uint32_t i = 0; i < streams.size(); ++i) {
    const std::uint32_t k = firstStreamEntry + i;
    writeEntry(k, streams[i].name, 2, i + 1 < streams.size() ? k + 1 : kFree, kFree, starts[i],
               static_cast<std::uint32_t>(streams[i].data.size()));
  }
  for (std::uint32_t k = entryCount; k < directory.size() / 128; ++k) {
    // Unused slots carry no name and no links.
    Poke32(directory, 128 * k + 68, kFree);
    Poke32(directory, 128 * k + 72, kFree);
    Poke32(directory, 128 * k + 76, kFree);
  }
  layout.firstDirectorySector = placeChain(directory);

  // FAT and DIFAT sectors must cover themselves as well.
  std::uint32_t fatCount = options.minimumFatSectors;
  std::uint32_t difatCount = 0;
  for (;;) {
    const std::uint32_t total = static_cast<std::uint32_t>(fat.size()) + fatCount + difatCount;
    const std::uint32_t needFat = std::max(options.minimumFatSectors, SectorsFor(total, perSector));
    const std::uint32_t needDifat = needFat > 109 ? SectorsFor(needFat - 109, perSector - 1) : 0;
    if (needFat == fatCount && needDifat == difatCount) break;
    fatCount = needFat;
    difatCount = needDifat;
  }
  for (std::uint32_t k = 0; k < fatCount; ++k) {
    layout.fatSectors.push_back(static_cast<std::uint32_t>(fat.size()));
    fat.push_back(kFatMark);
  }
  std::vector<std::uint32_t> difatSectors;
  for (std::uint32_t k = 0; k < difatCount; ++k) {
    difatSectors.push_back(static_cast<std::uint32_t>(fat.size()));
    fat.push_back(kDifatMark);
  }
  fat.resize(fatCount * perSector, kFree);

  // Header.
  Bytes image(sectorSize, 0);
  const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(signature, signature + 8, image.begin());
  Bytes header;
  Put16(header, 0x3E);
  Put16(header, options.sectorShift == 12 ? 4 : 3);
  Put16(header, 0xFFFE);
  Put16(header, static_cast<std::uint16_t>(options.sectorShift));
  Put16(header, 6);
  header.resize(header.size() + 10, 0);
  Put32(header, fatCount);
  Put32(header, layout.firstDirectorySector);
  Put32(header, 0);
  Put32(header, static_cast<std::uint32_t>(kCutoff));
  Put32(header, miniFatSectors != 0 ? layout.firstMiniFatSector : kEnd);
  Put32(header, miniFatSectors);
  Put32(header, difatCount != 0 ? difatSectors[0] : kEnd);
  Put32(header, difatCount);
  for (std::uint32_t k = 0; k < 109; ++k)
    Put32(header, k < fatCount ? layout.fatSectors[k] : kFree);
  std::copy(header.begin(), header.end(), image.begin() + 24);

  // Sectors in order: data, FAT, DIFAT.
  for (const Bytes& sector : sectorData) Append(image, sector);
  for (std::uint32_t k = 0; k < fatCount; ++k) {
    Bytes sector;
    for (std::size_t i = 0; i < perSector; ++i) Put32(sector, fat[k * perSector + i]);
    Append(image, sector);
  }
  std::size_t listed = std::min<std::uint32_t>(fatCount, 109);
  for (std::uint32_t k = 0; k < difatCount; ++k) {
    Bytes sector;
    for (std::size_t i = 0; i + 1 < perSector; ++i)
      Put32(sector, listed < fatCount ? layout.fatSectors[listed++] : kFree);
    Put32(sector, k + 1 < difatCount ? difatSectors[k + 1] : kEnd);
    Append(image, sector);
  }

  layout.fatSectorCount = fatCount;
  layout.difatSectorCount = difatCount;
  layout.streamStarts = starts;
  if (layoutOut != nullptr) *layoutOut = layout;
  return image;
}

namespace biff {

Bytes Record(std::uint16_t code, const Bytes& data) {
  Bytes out;
  Put16(out, code);
  Put16(out, static_cast<std::uint16_t>(data.size()));
  Append(out, data);
  return out;
}

Bytes Bof(std::uint16_t substreamType) {
  Bytes d;
  Put16(d, 0x0600);
  Put16(d, substreamType);
  Put16(d, 0x0DBB);
  Put16(d, 0x07CC);
  Put32(d, 0);
  Put32(d, 6);
  return Record(0x0809, d);
}

Bytes Eof() { return Record(0x000A, {}); }

Bytes Dimensions(std::uint32_t firstRow, std::uint32_t lastRowPlusOne, std::uint16_t firstColumn,
                 std::uint16_t lastColumnPlusOne) {
  Bytes d;
  Put32(d, firstRow);
  Put32(d, lastRowPlusOne);
  Put16(d, firstColumn);
  Put16(d, lastColumnPlusOne);
  Put16(d, 0);
  return Record(0x0200, d);
}

Bytes Row(std::uint16_t row) {
  Bytes d;
  Put16(d, row);
  Put16(d, 0);
  Put16(d, 8);
  Put16(d, 255);
  Put32(d, 0);
  Put32(d, 0x100);
  return Record(0x0208, d);
}

Bytes DbCell() {
  Bytes d;
  Put32(d, 0);
  Put16(d, 0);
  return Record(0x00D7, d);
}

static Bytes CellHead(std::uint16_t row, std::uint16_t column) {
  Bytes d;
  Put16(d, row);
  Put16(d, column);
  Put16(d, 15);
  return d;
}

Bytes Number(std::uint16_t row, std::uint16_t column, double value) {
  Bytes d = CellHead(row, column);
  PutDouble(d, value);
  return Record(0x0203, d);
}

Bytes Rk(std::uint16_t row, std::uint16_t column, std::uint32_t rk) {
  Bytes d = CellHead(row, column);
  Put32(d, rk);
  return Record(0x027E, d);
}

Bytes MulRk(std::uint16_t row, std::uint16_t firstColumn, const std::vector<std::uint32_t>& rks) {
  Bytes d;
  Put16(d, row);
  Put16(d, firstColumn);
  for (std::uint32_t rk : rks) {
    Put16(d, 15);
    Put32(d, rk);
  }
  Put16(d, static_cast<std::uint16_t>(firstColumn + rks.size() - 1));
  return Record(0x00BD, d);
}

Bytes LabelSst(std::uint16_t row, std::uint16_t column, std::uint32_t index) {
  Bytes d = CellHead(row, column);
  Put32(d, index);
  return Record(0x00FD, d);
}

Bytes BoolErr(std::uint16_t row, std::uint16_t column, std::uint8_t value, bool isError) {
  Bytes d = CellHead(row, column);
  Put8(d, value);
  Put8(d, isError ? 1 : 0);
  return Record(0x0205, d);
}

Bytes Blank(std::uint16_t row, std::uint16_t column) {
  return Record(0x0201, CellHead(row, column));
}

Bytes Formula(std::uint16_t row, std::uint16_t column, double cachedResult) {
  Bytes d = CellHead(row, column);
  PutDouble(d, cachedResult);
  Put16(d, 0);
  Put32(d, 0);
  Bytes tokens = {0x03, 0x00, 0x1E, 0x02, 0x00};  // length, then "2" as an integer token
  Append(d, tokens);
  return Record(0x0006, d);
}

Bytes BoundSheet(const std::string& latin1Name) {
  Bytes d;
  Put32(d, 0);
  Put8(d, 0);
  Put8(d, 0);
  Put8(d, static_cast<std::uint8_t>(latin1Name.size()));
  Put8(d, 0);
  for (char c : latin1Name) Put8(d, static_cast<std::uint8_t>(c));
  return Record(0x0085, d);
}

Bytes BoundSheetWide(const std::u16string& name) {
  Bytes d;
  Put32(d, 0);
  Put8(d, 0);
  Put8(d, 0);
  Put8(d, static_cast<std::uint8_t>(name.size()));
  Put8(d, 1);
  for (char16_t c : name) Put16(d, c);
  return Record(0x0085, d);
}

Bytes SstString8(const std::string& latin1) {
  Bytes d;
  Put16(d, static_cast<std::uint16_t>(latin1.size()));
  Put8(d, 0);
  for (char c : latin1) Put8(d, static_cast<std::uint8_t>(c));
  return d;
}

Bytes SstString16(const std::u16string& text) {
  Bytes d;
  Put16(d, static_cast<std::uint16_t>(text.size()));
  Put8(d, 1);
  for (char16_t c : text) Put16(d, c);
  return d;
}

Bytes Sst(std::uint32_t uniqueCount, const Bytes& bodies, const std::vector<std::size_t>& cuts) {
  Bytes first;
  Put32(first, uniqueCount);
  Put32(first, uniqueCount);
  std::size_t from = 0;
  Bytes out;
  for (std::size_t k = 0; k <= cuts.size(); ++k) {
    const std::size_t to = k < cuts.size() ? cuts[k] : bodies.size();
    Bytes part(bodies.begin() + from, bodies.begin() + to);
    if (k == 0) {
      Append(first, part);
      Append(out, Record(0x00FC, first));
    } else {
      Append(out, Record(0x003C, part));
    }
    from = to;
  }
  return out;
}

Bytes WorkbookStream(const Bytes& globals, const std::vector<Bytes>& sheets) {
  Bytes out = Bof(0x0005);
  Append(out, globals);
  Append(out, Eof());
  for (const Bytes& sheet : sheets) {
    Append(out, Bof(0x0010));
    Append(out, sheet);
    Append(out, Eof());
  }
  return out;
}

Bytes WorkbookFile(const Bytes& globals, const std::vector<Bytes>& sheets) {
  return BuildCompoundDocument({{u"Workbook", WorkbookStream(globals, sheets)}});
}

}  // namespace biff
}  // namespace quorvel::testing
