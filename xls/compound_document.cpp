// Compound document reader: sector access, FAT / mini FAT / DIFAT, directory tree, streams.
#include "xls/compound_document.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace Kalvex {
namespace {

constexpr std::uint32_t kDirectoryEntrySize = 128;

std::size_t CeilDiv(std::size_t a, std::size_t b) { return (a + b - 1) / b; }

// The upper-case form of one name unit, as the directory compares names: ASCII and the
// Latin-1 letters (the names a workbook's readers look up are ASCII).
char16_t UpperUnit(char16_t unit) {
  if (unit >= u'a' && unit <= u'z') return static_cast<char16_t>(unit - 0x20);
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return static_cast<char16_t>(unit - 0x20);
  if (unit == 0xFF) return 0x178;
  return unit;
}

bool NamesEqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperUnit(a[i]) != UpperUnit(b[i])) return false;
  }
  return true;
}

// The child of storage named name: the first child spelled exactly so, else the first
// whose name differs only in case. Directory names compare without regard to case (a
// stream "WORKBOOK" is the stream "Workbook"); the exact spelling wins where both exist.
DirectoryNode* FindChild(const DirectoryNode& storage, std::u16string_view name) {
  for (const auto& child : storage.children) {
    if (child->entry->Name() == name) return child.get();
  }
  for (const auto& child : storage.children) {
    if (NamesEqualIgnoringCase(child->entry->Name(), name)) return child.get();
  }
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// SectorFile

bool SectorFile::Open(const char* path) {
  Close();
  if (path == nullptr) return false;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  if (fseeko(file, 0, SEEK_END) != 0) {
    std::fclose(file);
    return false;
  }
  const off_t size = ftello(file);
  if (size < 0 || static_cast<std::uint64_t>(size) > std::numeric_limits<std::uint32_t>::max()) {
    std::fclose(file);
    return false;
  }
  file_ = file;
  path_ = path;
  mode_ = kModeRead;
  fileSize_ = static_cast<std::uint32_t>(size);
  SetSectorSize(512);
  return true;
}

void SectorFile::Open(ByteSpan bytes) {
  Close();
  memory_ = bytes.size() > std::numeric_limits<std::uint32_t>::max()
                ? bytes.first(std::numeric_limits<std::uint32_t>::max())
                : bytes;
  mode_ = kModeRead;
  fileSize_ = static_cast<std::uint32_t>(memory_.size());
  SetSectorSize(512);
}

void SectorFile::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  memory_ = {};
  path_.clear();
  mode_ = 0;
  sectorSize_ = 512;
  sectorCount_ = 0;
  fileSize_ = 0;
}

void SectorFile::SetSectorSize(std::uint32_t size) {
  sectorSize_ = size;
  sectorCount_ = static_cast<std::uint32_t>(CeilDiv(fileSize_, size));
}

bool SectorFile::ReadSectors(std::uint32_t first, std::uint32_t count, std::uint8_t* dest) {
  if ((mode_ & kModeRead) == 0 || first >= sectorCount_ || count > sectorCount_ - first) {
    return false;
  }
  const std::uint64_t offset = static_cast<std::uint64_t>(first) * sectorSize_;
  const std::uint64_t wanted = static_cast<std::uint64_t>(count) * sectorSize_;
  const std::size_t present =
      static_cast<std::size_t>(std::min<std::uint64_t>(wanted, fileSize_ - offset));
  if (file_ != nullptr) {
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    if (std::fread(dest, 1, present, file_) != present) return false;
  } else {
    std::memcpy(dest, memory_.data() + offset, present);
  }
  // The last sector of a file may be short: its missing tail reads as zeros.
  std::memset(dest + present, 0, static_cast<std::size_t>(wanted) - present);
  return true;
}

// ---------------------------------------------------------------------------------------
// DocumentHeader and DirectoryEntry

DocumentHeader::DocumentHeader() {
  fatSectors[0] = 0;
  std::fill(fatSectors + 1, fatSectors + kHeaderFatEntries, kFreeSector);
}

bool DocumentHeader::Decode(const std::uint8_t* bytes) {
  if (std::memcmp(bytes, kSignature, sizeof kSignature) != 0) return false;
  std::memcpy(signature, bytes, sizeof signature);
  for (int i = 0; i < 4; ++i) classId[i] = Le32(bytes + 8 + 4 * i);
  minorVersion = Le16(bytes + 24);
  majorVersion = Le16(bytes + 26);
  byteOrder = Le16(bytes + 28);
  sectorShift = Le16(bytes + 30);
  miniSectorShift = Le32(bytes + 32);
  reserved1 = Le32(bytes + 36);
  reserved2 = Le32(bytes + 40);
  fatSectorCount = Le32(bytes + 44);
  firstDirectorySector = Le32(bytes + 48);
  transactionSignature = Le32(bytes + 52);
  miniStreamCutoff = Le32(bytes + 56);
  firstMiniFatSector = Le32(bytes + 60);
  miniFatSectorCount = Le32(bytes + 64);
  firstDifatSector = Le32(bytes + 68);
  difatSectorCount = Le32(bytes + 72);
  for (std::uint32_t i = 0; i < kHeaderFatEntries; ++i) fatSectors[i] = Le32(bytes + 76 + 4 * i);
  // The format defines 512-byte sectors (version 3) and 4096-byte sectors (version 4).
  if (sectorShift != 9 && sectorShift != 12) return false;
  if (miniSectorShift < 2 || miniSectorShift > sectorShift) return false;
  sectorSize = 1u << sectorShift;
  miniSectorSize = 1u << miniSectorShift;
  return true;
}

void DirectoryEntry::Decode(const std::uint8_t* bytes) {
  for (int i = 0; i < 32; ++i) name[i] = static_cast<char16_t>(Le16(bytes + 2 * i));
  nameSize = Le16(bytes + 64);
  type = bytes[66];
  colour = bytes[67];
  leftSibling = Le32(bytes + 68);
  rightSibling = Le32(bytes + 72);
  child = Le32(bytes + 76);
  for (int i = 0; i < 4; ++i) classId[i] = Le32(bytes + 80 + 4 * i);
  stateBits = Le32(bytes + 96);
  creationTime[0] = Le32(bytes + 100);
  creationTime[1] = Le32(bytes + 104);
  modificationTime[0] = Le32(bytes + 108);
  modificationTime[1] = Le32(bytes + 112);
  startSector = Le32(bytes + 116);
  size = Le32(bytes + 120);
}

std::u16string_view DirectoryEntry::Name() const {
  std::size_t length = 0;
  while (length < 32 && name[length] != u'\0') ++length;
  return {name, length};
}

// ---------------------------------------------------------------------------------------
// CompoundDocument: opening

CompoundDocument::CompoundDocument() : sectorBuffer_(512) {}

bool CompoundDocument::Open(const char* path) {
  Close();
  if (!file_.Open(path)) return false;
  if (LoadContainer()) return true;
  Close();
  return false;
}

bool CompoundDocument::Open(ByteSpan bytes) {
  Close();
  file_.Open(bytes);
  if (LoadContainer()) return true;
  Close();
  return false;
}

void CompoundDocument::Close() {
  // The tree is taken apart without recursion: a directory can be thousands of levels deep.
  std::vector<std::unique_ptr<DirectoryNode>> pending;
  if (root_) pending.push_back(std::move(root_));
  while (!pending.empty()) {
    std::unique_ptr<DirectoryNode> node = std::move(pending.back());
    pending.pop_back();
    for (auto& child : node->children) pending.push_back(std::move(child));
  }
  current_ = nullptr;
  savedStorages_.clear();
  entries_.clear();
  entries_.shrink_to_fit();
  fat_.clear();
  fat_.shrink_to_fit();
  miniFat_.clear();
  miniFat_.shrink_to_fit();
  header_ = DocumentHeader();
  sectorBuffer_.assign(512, 0);
  file_.Close();
}

bool CompoundDocument::LoadContainer() {
  // A file shorter than its 512-byte header is no compound document.
  if (file_.FileSize() < 512) return false;
  if (!file_.ReadSector(0, sectorBuffer_.data())) return false;
  if (!header_.Decode(sectorBuffer_.data())) return false;
  sectorBuffer_.assign(header_.sectorSize, 0);
  file_.SetSectorSize(header_.sectorSize);
  return LoadFat() && LoadMiniFat() && LoadDirectory() && BuildTree();
}

bool CompoundDocument::LoadFat() {
  const std::uint32_t count = header_.fatSectorCount;
  // Container sectors present in the file (sector 0 of the file is the header).
  const std::uint32_t present = file_.SectorCount() - 1;
  // Every FAT sector is a sector of the file, so a larger count is a damaged header.
  if (count > present) return false;

  // The FAT and DIFAT sectors are checked before anything is sized by the header's
  // claims: each must be a sector of the file and be listed once. A repeated sector (a
  // DIFAT chain that comes round again, or a list that names one sector twice) marks a
  // damaged header; so the lists below grow only with numbers the file really holds.
  std::vector<bool> listed(present, false);
  auto takeSector = [&](std::uint32_t sector) {
    if (sector >= present || listed[sector]) return false;
    listed[sector] = true;
    return true;
  };
  std::vector<std::uint32_t> fatSectors;
  const std::uint32_t inHeader = std::min(count, DocumentHeader::kHeaderFatEntries);
  for (std::uint32_t k = 0; k < inHeader; ++k) {
    if (!takeSector(header_.fatSectors[k])) return false;
    fatSectors.push_back(header_.fatSectors[k]);
  }
  // Further FAT sector numbers come from the DIFAT chain: each DIFAT sector holds
  // sector-size / 4 - 1 of them and, in its last word, the next DIFAT sector.
  const std::uint32_t perDifat = header_.sectorSize / 4 - 1;
  std::uint32_t difat = header_.firstDifatSector;
  for (std::uint32_t k = 0; k < header_.difatSectorCount && fatSectors.size() < count; ++k) {
    if (!takeSector(difat)) return false;
    if (!file_.ReadSector(difat + 1, sectorBuffer_.data())) return false;
    for (std::uint32_t i = 0; i < perDifat && fatSectors.size() < count; ++i) {
      const std::uint32_t sector = Le32(sectorBuffer_.data() + 4 * i);
      if (!takeSector(sector)) return false;
      fatSectors.push_back(sector);
    }
    difat = Le32(sectorBuffer_.data() + 4 * perDifat);
  }
  if (fatSectors.size() < count) return false;

  // Only entries of sectors the file holds are kept: a link to any other sector cannot be
  // read, and chains through it fail either way. The table is thus at most four bytes per
  // sector of the file, however many FAT sectors the header claims.
  const std::uint32_t perSector = header_.sectorSize / 4;
  const std::size_t entries =
      std::min<std::size_t>(static_cast<std::size_t>(count) * perSector, present);
  fat_.assign(entries, kFreeSector);
  for (std::size_t k = 0; k < fatSectors.size() && k * perSector < entries; ++k) {
    if (!file_.ReadSector(fatSectors[k] + 1, sectorBuffer_.data())) return false;
    const std::size_t used = std::min<std::size_t>(perSector, entries - k * perSector);
    for (std::size_t i = 0; i < used; ++i) {
      fat_[k * perSector + i] = Le32(sectorBuffer_.data() + 4 * i);
    }
  }
  return true;
}

bool CompoundDocument::LoadMiniFat() {
  if (header_.miniFatSectorCount == 0 || header_.firstMiniFatSector == kEndOfChain) return true;
  std::vector<std::uint32_t> chain;
  if (!FollowChain(fat_, header_.firstMiniFatSector, header_.miniFatSectorCount, chain))
    return false;
  const std::uint32_t perSector = header_.sectorSize / 4;
  miniFat_.assign(chain.size() * perSector, kFreeSector);
  for (std::size_t k = 0; k < chain.size(); ++k) {
    if (!file_.ReadSector(chain[k] + 1, sectorBuffer_.data())) return false;
    for (std::uint32_t i = 0; i < perSector; ++i)
      miniFat_[k * perSector + i] = Le32(sectorBuffer_.data() + 4 * i);
  }
  return true;
}

bool CompoundDocument::LoadDirectory() {
  std::vector<std::uint32_t> chain;
  if (!FollowChain(fat_, header_.firstDirectorySector, fat_.size(), chain) || chain.empty())
    return false;
  std::vector<std::uint8_t> bytes(chain.size() * header_.sectorSize);
  if (!ReadChain(chain, bytes.data())) return false;
  // Slot k of the joined sectors is entry number k.
  entries_.resize(bytes.size() / kDirectoryEntrySize);
  for (std::size_t k = 0; k < entries_.size(); ++k)
    entries_[k].Decode(bytes.data() + k * kDirectoryEntrySize);
  return true;
}

bool CompoundDocument::BuildTree() {
  if (entries_.empty() || entries_[0].IsUnused()) return false;
  root_ = std::make_unique<DirectoryNode>();
  root_->entry = &entries_[0];
  root_->number = 0;

  // Each entry is placed once: a link beyond the directory, or to an entry already placed
  // (a cycle or a shared subtree), marks the directory as damaged.
  std::vector<bool> placed(entries_.size(), false);
  placed[0] = true;
  std::vector<DirectoryNode*> nodes{root_.get()};
  std::vector<std::pair<std::uint32_t, DirectoryNode*>> pending{{entries_[0].child, root_.get()}};
  while (!pending.empty()) {
    const auto [number, parent] = pending.back();
    pending.pop_back();
    if (number == kNoEntry) continue;
    if (number >= entries_.size() || placed[number]) return false;
    placed[number] = true;
    const DirectoryEntry& entry = entries_[number];
    if (entry.IsUnused()) continue;  // an unused slot takes no part in the tree
    auto node = std::make_unique<DirectoryNode>();
    node->parent = parent;
    node->entry = &entry;
    node->number = number;
    DirectoryNode* raw = node.get();
    parent->children.push_back(std::move(node));
    nodes.push_back(raw);
    pending.emplace_back(entry.leftSibling, parent);
    pending.emplace_back(entry.rightSibling, parent);
    pending.emplace_back(entry.child, raw);
  }
  for (DirectoryNode* node : nodes) {
    std::sort(node->children.begin(), node->children.end(),
              [](const auto& a, const auto& b) { return a->number < b->number; });
  }
  current_ = root_.get();
  return true;
}

bool CompoundDocument::FollowChain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                   std::size_t limit, std::vector<std::uint32_t>& chain) {
  chain.clear();
  std::vector<bool> seen(table.size(), false);
  std::uint32_t sector = start;
  while (sector != kEndOfChain && chain.size() < limit) {
    // A free entry, another marker or a number past the table is no link; a sector met
    // twice means the chain loops.
    if (sector >= table.size() || seen[sector]) return false;
    seen[sector] = true;
    chain.push_back(sector);
    sector = table[sector];
  }
  return true;
}

bool CompoundDocument::ReadChain(const std::vector<std::uint32_t>& chain, std::uint8_t* dest) {
  // Runs of consecutive sectors are read in one go.
  std::size_t k = 0;
  while (k < chain.size()) {
    std::size_t run = 1;
    while (k + run < chain.size() && chain[k + run] == chain[k] + run) ++run;
    if (chain[k] >= file_.SectorCount() - 1) return false;
    if (!file_.ReadSectors(chain[k] + 1, static_cast<std::uint32_t>(run), dest)) return false;
    dest += run * header_.sectorSize;
    k += run;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// CompoundDocument: paths and streams

int CompoundDocument::WalkStorage(std::u16string_view storagePath) {
  if (storagePath == u".") return kStreamRead;
  if (storagePath == u"..") {
    if (current_->parent != nullptr) current_ = current_->parent;
    return kStreamRead;
  }
  if (storagePath == u"\\") {
    current_ = root_.get();
    return kStreamRead;
  }
  while (!storagePath.empty()) {
    const std::size_t cut = storagePath.find(u'\\');
    const std::u16string_view component = storagePath.substr(0, cut);
    storagePath =
        cut == std::u16string_view::npos ? std::u16string_view() : storagePath.substr(cut + 1);
    if (component.empty()) continue;
    DirectoryNode* found = FindChild(*current_, component);
    if (found == nullptr) return kStorageMissing;
    current_ = found;
  }
  return kStreamRead;
}

const DirectoryEntry* CompoundDocument::FindEntry(std::u16string_view path) {
  if (root_ == nullptr) return nullptr;
  savedStorages_.push_back(current_);
  if (!path.empty() && path.front() == u'\\') current_ = root_.get();
  const DirectoryEntry* result = nullptr;
  const std::size_t cut = path.rfind(u'\\');
  const std::u16string_view name = cut == std::u16string_view::npos ? path : path.substr(cut + 1);
  const bool storageFound = cut == std::u16string_view::npos || cut == 0 ||
                            WalkStorage(path.substr(0, cut)) == kStreamRead;
  if (storageFound && current_->entry->child != kNoEntry) {
    if (const DirectoryNode* found = FindChild(*current_, name)) result = found->entry;
  }
  current_ = savedStorages_.back();
  savedStorages_.pop_back();
  return result;
}

int CompoundDocument::StreamSize(std::u16string_view path, std::uint32_t& size) {
  size = 0;
  if (root_ == nullptr) return kStreamNotFound;
  if (path == u"\\") {
    size = root_->entry->size;
    return kStreamRead;
  }
  const DirectoryEntry* entry = FindEntry(path);
  if (entry == nullptr) return kStreamNotFound;
  size = entry->size;
  return kStreamRead;
}

int CompoundDocument::ReadStream(std::u16string_view path, std::vector<std::uint8_t>& buffer) {
  buffer.clear();
  const DirectoryEntry* entry = FindEntry(path);
  if (entry == nullptr) return kStreamNotFound;
  const std::uint32_t size = entry->size;
  if (size == 0) return kStreamRead;
  std::vector<std::uint32_t> chain;

  if (size >= DocumentHeader::kMiniStreamCutoff) {
    // Ordinary sectors. The chain is checked before anything is allocated, so a size that
    // claims more than the file holds is refused rather than allocated.
    const std::size_t needed = CeilDiv(size, header_.sectorSize);
    if (!FollowChain(fat_, entry->startSector, needed, chain) || chain.size() < needed)
      return kStreamDamaged;
    buffer.resize(needed * header_.sectorSize);
    if (!ReadChain(chain, buffer.data())) {
      buffer.clear();
      return kStreamDamaged;
    }
    buffer.resize(size);
    return kStreamRead;
  }

  // Small stream: mini sector n is the piece at byte n x mini sector size of the mini
  // stream, which is the root entry's chain of ordinary sectors.
  const std::uint32_t miniSize = header_.miniSectorSize;
  const std::size_t needed = CeilDiv(size, miniSize);
  if (!FollowChain(miniFat_, entry->startSector, needed, chain) || chain.size() < needed)
    return kStreamDamaged;
  std::vector<std::uint32_t> rootChain;
  if (!FollowChain(fat_, root_->entry->startSector, fat_.size(), rootChain)) return kStreamDamaged;
  std::vector<std::uint8_t> miniStream(rootChain.size() * header_.sectorSize);
  if (!ReadChain(rootChain, miniStream.data())) return kStreamDamaged;
  buffer.resize(needed * miniSize);
  for (std::size_t k = 0; k < chain.size(); ++k) {
    const std::size_t offset = static_cast<std::size_t>(chain[k]) * miniSize;
    if (offset + miniSize > miniStream.size()) {
      buffer.clear();
      return kStreamDamaged;
    }
    std::memcpy(buffer.data() + k * miniSize, miniStream.data() + offset, miniSize);
  }
  buffer.resize(size);
  return kStreamRead;
}

}  // namespace Kalvex
