// Opening a workbook by its content.
#include "workbook/open_workbook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive/zip_archive.h"
#include "csv/csv_reader.h"
#include "ods/ods_reader.h"
#include "xlsx/xlsx_reader.h"

namespace Kalvex {
namespace {

// Closes a descriptor when it goes out of scope.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::uint32_t OpenedWorkbook::SheetCount() const {
  if (xls_) return xls_->SheetCount();
  return static_cast<std::uint32_t>(grids_.size());
}

const SheetGrid* OpenedWorkbook::Sheet(std::uint32_t index) const {
  if (xls_) return xls_->Sheet(index);
  return index < grids_.size() ? &grids_[index] : nullptr;
}

bool ReadRegularFile(const char* path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  // The path is looked at first so that a device is never opened at all; the open
  // descriptor is checked again, since the path may have changed in between. Opening
  // without blocking keeps a FIFO with no writer from stopping the program.
  struct stat status;
  if (path == nullptr || ::stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  Descriptor file;
  file.fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file.fd < 0 || ::fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > kMaxWorkbookFileSize)
    return false;

  bytes.resize(static_cast<std::size_t>(status.st_size));
  std::size_t filled = 0;
  for (;;) {
    // A file that grows while it is read is read up to the limit and one byte more.
    if (filled == bytes.size()) {
      if (bytes.size() > kMaxWorkbookFileSize) break;
      bytes.resize(std::min<std::size_t>(bytes.size() + 65536, kMaxWorkbookFileSize + 1));
    }
    const ssize_t got = ::read(file.fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      bytes.clear();
      return false;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  if (filled > kMaxWorkbookFileSize) {
    bytes.clear();
    return false;
  }
  return true;
}

WorkbookFormat SniffFormat(ByteSpan bytes) {
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), DocumentHeader::kSignature, 8) == 0)
    return WorkbookFormat::Xls;
  if (ZipArchive::HasSignature(bytes)) {
    ZipArchive archive;
    if (archive.Open(bytes)) {
      if (IsOpcPackage(archive)) return WorkbookFormat::Xlsx;
      if (IsOdsPackage(archive)) return WorkbookFormat::Ods;
    }
  }
  return WorkbookFormat::DelimitedText;
}

bool LoadWorkbook(ByteSpan bytes, OpenedWorkbook& workbook, SheetSelection sheets) {
  workbook = OpenedWorkbook();
  const bool firstOnly = sheets == SheetSelection::FirstOnly;
  bool loaded = false;
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), DocumentHeader::kSignature, 8) == 0) {
    workbook.format_ = WorkbookFormat::Xls;
    workbook.xls_ = std::make_unique<XlsDocument>();
    loaded = workbook.xls_->Load(bytes);
  } else if (ZipArchive::HasSignature(bytes)) {
    // A zip is a package of one of the two formats or nothing read here; never text.
    ZipArchive archive;
    if (archive.Open(bytes)) {
      if (IsOpcPackage(archive)) {
        workbook.format_ = WorkbookFormat::Xlsx;
        loaded = ReadXlsxWorkbook(archive, workbook.grids_, firstOnly);
      } else if (IsOdsPackage(archive)) {
        workbook.format_ = WorkbookFormat::Ods;
        loaded = ReadOdsWorkbook(archive, workbook.grids_, firstOnly);
      }
    }
  } else {
    workbook.format_ = WorkbookFormat::DelimitedText;
    SheetGrid grid(SheetGrid::kLargeMaxRows, SheetGrid::kLargeMaxColumns);
    loaded = ReadDelimitedText(bytes, grid);
    if (loaded) workbook.grids_.push_back(std::move(grid));
  }
  if (!loaded) workbook = OpenedWorkbook();
  return loaded;
}

bool OpenWorkbook(const char* path, OpenedWorkbook& workbook, SheetSelection sheets) {
  workbook = OpenedWorkbook();
  std::vector<std::uint8_t> bytes;
  if (!ReadRegularFile(path, bytes)) return false;
  return LoadWorkbook(ByteSpan(bytes), workbook, sheets);
}

}  // namespace Kalvex
