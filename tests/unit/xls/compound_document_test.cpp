// The container reader: mini stream and FAT streams, directory lookups, large FATs, both
// sector sizes, and damaged containers that must fail without reading outside the file.
#include "xls/compound_document.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/cfb_builder.h"

namespace Kalvex {
namespace {

using quorvel::testing::BuildCompoundDocument;
using quorvel::testing::Bytes;
using quorvel::testing::CfbLayout;
using quorvel::testing::CfbOptions;
using quorvel::testing::Peek32;
using quorvel::testing::Poke32;
using quorvel::testing::Put16;
using quorvel::testing::Put32;

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i)
    data[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
  return data;
}

int Read(const Bytes& image, std::u16string_view name, Bytes& out) {
  CompoundDocument document;
  if (!document.Open(ByteSpan(image))) return 0;
  return document.ReadStream(name, out);
}

TEST(CompoundDocument, RefusesWhatIsNoCompoundDocument) {
  CompoundDocument document;
  EXPECT_FALSE(document.Open(ByteSpan()));
  Bytes notOle(1024, 0x41);
  EXPECT_FALSE(document.Open(ByteSpan(notOle)));
  Bytes image = BuildCompoundDocument({{u"Workbook", Pattern(100, 1)}});
  image.resize(300);  // shorter than its header
  EXPECT_FALSE(document.Open(ByteSpan(image)));
  EXPECT_FALSE(document.IsOpen());
  EXPECT_FALSE(document.Open("/nonexistent/dir/book.xls"));
}

TEST(CompoundDocument, StreamsBelow4096BytesComeFromTheMiniStream) {
  const Bytes small = Pattern(4095, 3);
  const Bytes large = Pattern(4096, 5);
  CfbLayout layout;
  Bytes image = BuildCompoundDocument({{u"Small", small}, {u"Large", large}}, {}, &layout);
  Bytes out;
  ASSERT_EQ(Read(image, u"Small", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(out, small);
  ASSERT_EQ(Read(image, u"Large", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(out, large);

  // Breaking the mini FAT breaks the 4095-byte stream only.
  Poke32(image, layout.SectorOffset(layout.firstMiniFatSector), 0xFFFFFFFF);
  EXPECT_EQ(Read(image, u"Small", out), CompoundDocument::kStreamDamaged);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(Read(image, u"Large", out), CompoundDocument::kStreamRead);
}

TEST(CompoundDocument, SmallStreamLaterInTheMiniStreamIsReadFromItsOwnMiniSectors) {
  const Bytes first = Pattern(600, 9);  // mini sectors 0 to 9
  const Bytes second = Pattern(200, 77);
  CfbLayout layout;
  const Bytes image = BuildCompoundDocument({{u"First", first}, {u"Second", second}}, {}, &layout);
  ASSERT_GE(layout.streamStarts[1], 8u);
  Bytes out;
  ASSERT_EQ(Read(image, u"Second", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(out, second);
}

TEST(CompoundDocument, LookupKeepsEntryNumbersAndIgnoresTheCaseOfNames) {
  CfbOptions options;
  options.unusedEntryFirst = true;
  const Bytes data = Pattern(50, 1);
  const Bytes image = BuildCompoundDocument({{u"Workbook", data}}, options);
  CompoundDocument document;
  ASSERT_TRUE(document.Open(ByteSpan(image)));
  ASSERT_EQ(document.Root()->children.size(), 1u);
  EXPECT_EQ(document.Root()->children[0]->number, 2u);
  Bytes out;
  EXPECT_EQ(document.ReadStream(u"Workbook", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(document.ReadStream(u"\\Workbook", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(document.ReadStream(u"workbook", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(out, data);
  EXPECT_EQ(document.ReadStream(u"\\WORKBOOK", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(document.ReadStream(u"Workboo", out), CompoundDocument::kStreamNotFound);
  EXPECT_EQ(document.ReadStream(u"Workbook2", out), CompoundDocument::kStreamNotFound);
  EXPECT_EQ(document.ReadStream(u"Missing\\Workbook", out), CompoundDocument::kStreamNotFound);
  std::uint32_t size = 0;
  EXPECT_EQ(document.StreamSize(u"Workbook", size), CompoundDocument::kStreamRead);
  EXPECT_EQ(size, 50u);
  EXPECT_EQ(document.StreamSize(u"\\", size), CompoundDocument::kStreamRead);
  EXPECT_EQ(size, 64u);  // the mini stream
}

TEST(CompoundDocument, FatSectorsBeyond109AreListedByTheDifatChain) {
  // 14,000 sectors of filler put the workbook's chain into FAT sectors the header cannot list.
  const Bytes filler(14000u * 512u, 0);
  const Bytes data = Pattern(10000, 4);
  CfbLayout layout;
  const Bytes image =
      BuildCompoundDocument({{u"Filler", filler}, {u"Workbook", data}}, {}, &layout);
  ASSERT_GT(layout.fatSectorCount, 109u);
  ASSERT_GE(layout.difatSectorCount, 1u);
  ASSERT_GE(layout.streamStarts[1] / 128, 109u);
  Bytes out;
  ASSERT_EQ(Read(image, u"Workbook", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(out, data);
}

TEST(CompoundDocument, Reads4096ByteSectors) {
  CfbOptions options;
  options.sectorShift = 12;
  const Bytes small = Pattern(1000, 2);
  const Bytes large = Pattern(20000, 8);
  const Bytes image = BuildCompoundDocument({{u"Small", small}, {u"Workbook", large}}, options);
  Bytes out;
  ASSERT_EQ(Read(image, u"Workbook", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(out, large);
  ASSERT_EQ(Read(image, u"Small", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(out, small);
}

TEST(CompoundDocument, ShortLastSectorReadsAsZeros) {
  const Bytes data = Pattern(5000, 6);
  Bytes image = BuildCompoundDocument({{u"Workbook", data}});
  // Stream sectors come first; cutting the file inside the last FAT sector's free tail
  // leaves every sector that is read at least partly present.
  image.resize(image.size() - 100);
  Bytes out;
  ASSERT_EQ(Read(image, u"Workbook", out), CompoundDocument::kStreamRead);
  EXPECT_EQ(out, data);
}

// Each case damages a valid image; the open or the read must fail, not run away.
TEST(CompoundDocument, DamagedContainersFailCleanly) {
  const Bytes data = Pattern(9000, 1);  // sectors 0 to 17 of the stream
  CfbLayout layout;
  const Bytes valid =
      BuildCompoundDocument({{u"Workbook", data}, {u"Tiny", Pattern(300, 2)}}, {}, &layout);
  Bytes out;

  Bytes loop = valid;  // sector 5 links back to sector 2
  Poke32(loop, layout.FatEntryOffset(5), 2);
  EXPECT_EQ(Read(loop, u"Workbook", out), CompoundDocument::kStreamDamaged);

  Bytes freeLink = valid;  // a free entry inside the chain
  Poke32(freeLink, layout.FatEntryOffset(3), 0xFFFFFFFF);
  EXPECT_EQ(Read(freeLink, u"Workbook", out), CompoundDocument::kStreamDamaged);

  Bytes pastTable = valid;
  Poke32(pastTable, layout.FatEntryOffset(3), 0x00FFFFFF);
  EXPECT_EQ(Read(pastTable, u"Workbook", out), CompoundDocument::kStreamDamaged);

  Bytes hugeSize = valid;  // a size that claims far more than the chain holds
  Poke32(hugeSize, layout.EntryOffset(1) + 120, 0xF0000000);
  EXPECT_EQ(Read(hugeSize, u"Workbook", out), CompoundDocument::kStreamDamaged);

  Bytes pastEnd = valid;  // a well-formed chain through a sector past the end of the file
  Poke32(pastEnd, layout.FatEntryOffset(3), 100);
  Poke32(pastEnd, layout.FatEntryOffset(100), 5);
  EXPECT_EQ(Read(pastEnd, u"Workbook", out), CompoundDocument::kStreamDamaged);

  Bytes truncated = valid;  // cut before the FAT: the open itself fails
  truncated.resize(layout.SectorOffset(10));
  EXPECT_EQ(Read(truncated, u"Workbook", out), 0);

  Bytes shortMini = valid;  // the mini stream is shorter than the mini chain says
  Poke32(shortMini, layout.EntryOffset(0) + 116, 0xFFFFFFFE);
  EXPECT_EQ(Read(shortMini, u"Tiny", out), CompoundDocument::kStreamDamaged);

  CompoundDocument document;
  Bytes linkPastDirectory = valid;
  Poke32(linkPastDirectory, layout.EntryOffset(1) + 72, 5000);
  EXPECT_FALSE(document.Open(ByteSpan(linkPastDirectory)));

  Bytes cycle = valid;  // the second stream's child link points back to the first
  Poke32(cycle, layout.EntryOffset(2) + 76, 1);
  EXPECT_FALSE(document.Open(ByteSpan(cycle)));

  Bytes badShift = valid;
  badShift[30] = 40;
  EXPECT_FALSE(document.Open(ByteSpan(badShift)));
  Bytes badMiniShift = valid;
  Poke32(badMiniShift, 32, 0x00010006);  // reserved high half set: 2^65542
  EXPECT_FALSE(document.Open(ByteSpan(badMiniShift)));

  Bytes hugeFat = valid;  // a FAT sector count larger than the file
  Poke32(hugeFat, 44, 0x7FFFFFFF);
  EXPECT_FALSE(document.Open(ByteSpan(hugeFat)));

  Bytes directoryLoop = valid;
  Poke32(directoryLoop, layout.FatEntryOffset(layout.firstDirectorySector),
         layout.firstDirectorySector);
  EXPECT_FALSE(document.Open(ByteSpan(directoryLoop)));
  EXPECT_EQ(Peek32(valid, 44), layout.fatSectorCount);
}

// A header that claims `claimedFatSectors` FAT sectors: the first 109 are listed by the
// header (sector 0 holds the real FAT, 1 to 108 are zeros), the rest by a DIFAT sector
// (109) whose last word links back to itself, so a reader that follows the chain meets
// the same 127 sector numbers again and again. Sector 110 holds the root entry.
Bytes SelfLinkedDifatImage(std::uint32_t claimedFatSectors) {
  constexpr std::uint32_t kDifat = 109;
  constexpr std::uint32_t kDirectory = 110;
  Bytes image(512 * (kDirectory + 2), 0);
  const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(image.data(), signature, sizeof signature);
  Bytes fields;
  for (std::uint16_t v : {0x3E, 3, 0xFFFE, 9, 6}) Put16(fields, v);
  std::copy(fields.begin(), fields.end(), image.begin() + 24);
  Poke32(image, 44, claimedFatSectors);
  Poke32(image, 48, kDirectory);
  Poke32(image, 56, 4096);
  Poke32(image, 60, 0xFFFFFFFE);
  Poke32(image, 68, kDifat);
  Poke32(image, 72, claimedFatSectors);
  for (std::uint32_t k = 0; k < 109; ++k) Poke32(image, 76 + 4 * k, k);
  auto sector = [](std::uint32_t n) { return static_cast<std::size_t>(n + 1) * 512; };
  for (std::uint32_t n = 0; n < 128; ++n) Poke32(image, sector(0) + 4 * n, 0xFFFFFFFF);
  for (std::uint32_t n = 0; n < 109; ++n) Poke32(image, sector(0) + 4 * n, 0xFFFFFFFD);
  Poke32(image, sector(0) + 4 * kDifat, 0xFFFFFFFC);
  Poke32(image, sector(0) + 4 * kDirectory, 0xFFFFFFFE);
  for (std::uint32_t i = 0; i < 127; ++i) Poke32(image, sector(kDifat) + 4 * i, kDirectory + 1 + i);
  Poke32(image, sector(kDifat) + 4 * 127, kDifat);
  Bytes root;
  for (char16_t c : std::u16string(u"Root Entry")) Put16(root, c);
  Put16(root, 0);
  std::copy(root.begin(), root.end(), image.begin() + sector(kDirectory));
  Poke32(image, sector(kDirectory) + 64, 22 | (5u << 16) | (1u << 24));  // name size, type, colour
  for (std::size_t offset : {68, 72, 76}) Poke32(image, sector(kDirectory) + offset, 0xFFFFFFFF);
  Poke32(image, sector(kDirectory) + 116, 0xFFFFFFFE);
  return image;
}

// What body returned and the growth of resident memory, in bytes, that it caused at its
// peak. It runs in a child process so that the test's own history does not count; a
// child that dies gives false and SIZE_MAX.
struct ChildRun {
  bool result = false;
  std::size_t peakGrowth = SIZE_MAX;
};

ChildRun RunMeasured(const std::function<bool()>& body) {
  auto kilobytes = [](const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind(key, 0) == 0) return std::stoul(line.substr(std::strlen(key)));
    }
    return 0ul;
  };
  int channel[2];
  if (::pipe(channel) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak at the present size
    ChildRun run;
    const unsigned long before = kilobytes("VmRSS:");
    run.result = body();
    const unsigned long peak = kilobytes("VmHWM:");
    run.peakGrowth = (peak - std::min(before, peak)) * 1024;
    const bool sent = ::write(channel[1], &run, sizeof run) == sizeof run;
    ::_exit(sent ? 0 : 1);
  }
  ::close(channel[1]);
  ChildRun run;
  if (::read(channel[0], &run, sizeof run) != sizeof run) run = ChildRun();
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? run : ChildRun();
}

// The FAT and DIFAT lists are checked against the file before anything is sized by the
// header: a repeated sector (a DIFAT chain that links to itself, a FAT sector listed
// twice) refuses the file.
TEST(CompoundDocument, RepeatedFatOrDifatSectorsAreRefused) {
  CompoundDocument document;
  const Bytes loop = SelfLinkedDifatImage(400);
  Bytes wide = loop;  // wide enough for the 400 claimed FAT sectors
  wide.resize(512 * 600, 0);
  EXPECT_FALSE(document.Open(ByteSpan(wide)));
  Poke32(wide, 72, 1);  // only one DIFAT sector may be read: the chain ends too early
  EXPECT_FALSE(document.Open(ByteSpan(wide)));
  Poke32(wide, 44, 109 + 127);  // the claim fits the one DIFAT sector: a sound file
  EXPECT_TRUE(document.Open(ByteSpan(wide)));

  CfbOptions options;
  options.minimumFatSectors = 2;
  const Bytes valid = BuildCompoundDocument({{u"Workbook", Pattern(100, 1)}}, options);
  EXPECT_TRUE(document.Open(ByteSpan(valid)));
  Bytes twice = valid;
  Poke32(twice, 80, Peek32(valid, 76));
  EXPECT_FALSE(document.Open(ByteSpan(twice)));
}

// A sparse file of a few kilobytes on disk that claims millions of FAT sectors: its
// memory stays small, whatever the header claims.
TEST(CompoundDocument, SparseFileWithSelfLinkedDifatStaysSmall) {
  constexpr std::uint32_t kClaimed = 4'400'000;  // 2.2 GB of FAT if believed
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("quorvel_sparse_" + std::to_string(::getpid()) + ".xls");
  {
    const Bytes image = SelfLinkedDifatImage(kClaimed);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
  }
  // The rest of the claimed sectors exist as a hole that reads as zeros.
  std::filesystem::resize_file(path, (std::uintmax_t{kClaimed} + 200) * 512);
  const ChildRun run = RunMeasured([&] {
    CompoundDocument document;
    return document.Open(path.c_str());
  });
  std::filesystem::remove(path);
  EXPECT_FALSE(run.result);
  EXPECT_LT(run.peakGrowth, 50u << 20);
}

}  // namespace
}  // namespace Kalvex
