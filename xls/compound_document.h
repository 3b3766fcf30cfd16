// Reader of OLE2 compound documents: sectors, allocation tables, directory tree, and one
// stream read whole into memory. The reader only reads; a damaged container ends the open
// or the stream read with a failure, never with a read outside the file or a runaway loop.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xls/little_endian.h"

namespace Kalvex {

// Sector numbers with a meaning of their own.
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
inline constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

// The open file, or a caller's byte buffer, seen as an array of equal-size sectors. File
// sector 0 holds the header, so the container's sector n is file sector n + 1.
class SectorFile {
 public:
  static constexpr int kModeRead = 1;

  SectorFile() = default;
  SectorFile(const SectorFile&) = delete;
  SectorFile& operator=(const SectorFile&) = delete;
  ~SectorFile() { Close(); }

  // Opens path for binary reading only. False when it cannot be opened or is larger than
  // 4 GiB, which no 32-bit sector table can address.
  bool Open(const char* path);
  // Reads from bytes, which the caller keeps alive until Close.
  void Open(ByteSpan bytes);
  // Closes the file (if any) and returns to 512-byte sectors and zero counts.
  void Close();

  bool IsOpen() const { return mode_ != 0; }
  // Sets the sector size and recounts the sectors (the last one may be short).
  void SetSectorSize(std::uint32_t size);
  std::uint32_t SectorSize() const { return sectorSize_; }
  std::uint32_t SectorCount() const { return sectorCount_; }
  std::uint32_t FileSize() const { return fileSize_; }

  // Reads count consecutive file sectors from first into dest (count x sector size bytes);
  // bytes past the end of the file read as zero. False when not open for reading, a
  // sector number is not below the sector count, or the read fails.
  bool ReadSectors(std::uint32_t first, std::uint32_t count, std::uint8_t* dest);
  bool ReadSector(std::uint32_t number, std::uint8_t* dest) { return ReadSectors(number, 1, dest); }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  ByteSpan memory_;  // the buffer when reading from memory
  int mode_ = 0;     // kModeRead while open
  std::uint32_t sectorSize_ = 512;
  std::uint32_t sectorCount_ = 0;
  std::uint32_t fileSize_ = 0;
};

// The first 512 bytes of a compound document.
struct DocumentHeader {
  static constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  static constexpr std::uint32_t kHeaderFatEntries = 109;
  static constexpr std::uint32_t kMiniStreamCutoff = 4096;  // the header's own value is ignored

  std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::uint32_t classId[4] = {0, 0, 0, 0};
  std::uint16_t minorVersion = 0x3B;
  std::uint16_t majorVersion = 3;
  std::uint16_t byteOrder = 0xFFFE;
  std::uint16_t sectorShift = 9;
  std::uint32_t miniSectorShift = 6;  // the reserved bytes 34-35 are its high half
  std::uint32_t reserved1 = 0;
  std::uint32_t reserved2 = 0;
  std::uint32_t fatSectorCount = 1;
  std::uint32_t firstDirectorySector = 1;
  std::uint32_t transactionSignature = 0;
  std::uint32_t miniStreamCutoff = kMiniStreamCutoff;
  std::uint32_t firstMiniFatSector = kEndOfChain;
  std::uint32_t miniFatSectorCount = 0;
  std::uint32_t firstDifatSector = kEndOfChain;
  std::uint32_t difatSectorCount = 0;
  std::uint32_t fatSectors[kHeaderFatEntries];  // first FAT sector numbers
  std::uint32_t sectorSize = 512;               // derived: 2 to the sector shift
  std::uint32_t miniSectorSize = 64;            // derived: 2 to the mini sector shift

  DocumentHeader();
  // Decodes 512 header bytes. False when the signature differs or a shift gives no
  // sensible size (sectors of 512 or 4096 bytes, mini sectors from 4 bytes to a sector).
  bool Decode(const std::uint8_t* bytes);
};

// One 128-byte directory entry.
struct DirectoryEntry {
  static constexpr std::uint8_t kStorage = 1;
  static constexpr std::uint8_t kStream = 2;
  static constexpr std::uint8_t kRoot = 5;

  char16_t name[32] = {};      // zero-terminated unless all 32 units are used
  std::uint16_t nameSize = 0;  // bytes, terminator included
  std::uint8_t type = kStorage;
  std::uint8_t colour = 1;
  std::uint32_t leftSibling = kNoEntry;
  std::uint32_t rightSibling = kNoEntry;
  std::uint32_t child = kNoEntry;
  std::uint32_t classId[4] = {0, 0, 0, 0};
  std::uint32_t stateBits = 0;
  std::uint32_t creationTime[2] = {0, 0};
  std::uint32_t modificationTime[2] = {0, 0};
  std::uint32_t startSector = kEndOfChain;
  std::uint32_t size = 0;  // bytes; the high word of the 64-bit field is not read

  void Decode(const std::uint8_t* bytes);
  // The name up to its terminator (at most 32 units).
  std::u16string_view Name() const;
  bool IsUnused() const { return name[0] == u'\0'; }
};

// One node of the directory tree; children in ascending order of entry number.
struct DirectoryNode {
  DirectoryNode* parent = nullptr;
  const DirectoryEntry* entry = nullptr;
  std::uint32_t number = 0;
  std::vector<std::unique_ptr<DirectoryNode>> children;
};

// The container reader. Open loads the allocation tables and the directory; ReadStream
// reads one stream whole.
class CompoundDocument {
 public:
  // Result codes of the stream operations.
  static constexpr int kStreamRead = 1;
  static constexpr int kStorageMissing = -2;  // internal to the path walk
  static constexpr int kStreamNotFound = -4;
  static constexpr int kStreamDamaged = -5;  // a chain or the mini stream is broken

  CompoundDocument();
  CompoundDocument(const CompoundDocument&) = delete;
  CompoundDocument& operator=(const CompoundDocument&) = delete;
  ~CompoundDocument() { Close(); }

  // Closes whatever is open, then opens path read-only (or reads the caller's bytes, which
  // must stay alive until Close). False, with everything closed again, when the file
  // cannot be opened, is not a compound document or its tables or directory are damaged.
  bool Open(const char* path);
  bool Open(ByteSpan bytes);
  // Releases the tables, directory and tree, and closes the file.
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }

  // Empties buffer, finds the stream at path (backslash-separated; names compare without
  // regard to case, an exact spelling first) and fills buffer with it. kStreamRead,
  // kStreamNotFound, or kStreamDamaged (buffer empty).
  int ReadStream(std::u16string_view path, std::vector<std::uint8_t>& buffer);
  // The size of the entry at path; a single backslash names the root entry.
  int StreamSize(std::u16string_view path, std::uint32_t& size);

  const DocumentHeader& Header() const { return header_; }
  const std::vector<DirectoryEntry>& Entries() const { return entries_; }
  const DirectoryNode* Root() const { return root_.get(); }

 private:
  bool LoadContainer();
  bool LoadFat();
  bool LoadMiniFat();
  bool LoadDirectory();
  bool BuildTree();
  // Follows a chain through table from start, at most limit sectors. False when a link is
  // not a valid index or a sector comes round again (a loop).
  static bool FollowChain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                          std::size_t limit, std::vector<std::uint32_t>& chain);
  // Reads the container sectors of chain, in order, into dest.
  bool ReadChain(const std::vector<std::uint32_t>& chain, std::uint8_t* dest);
  int WalkStorage(std::u16string_view storagePath);
  const DirectoryEntry* FindEntry(std::u16string_view path);

  std::vector<std::uint8_t> sectorBuffer_;
  SectorFile file_;
  DocumentHeader header_;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
  std::unique_ptr<DirectoryNode> root_;
  DirectoryNode* current_ = nullptr;
  std::vector<DirectoryEntry> entries_;  // indexed by entry number
  std::vector<DirectoryNode*> savedStorages_;
};

}  // namespace Kalvex
