// Zip archives through libzip, with inflation limits.
#include "archive/zip_archive.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace Kalvex {

bool ZipArchive::HasSignature(ByteSpan bytes) {
  static constexpr std::uint8_t kLocalHeader[4] = {'P', 'K', 3, 4};
  static constexpr std::uint8_t kEmptyArchive[4] = {'P', 'K', 5, 6};
  return bytes.size() >= 4 && (std::memcmp(bytes.data(), kLocalHeader, 4) == 0 ||
                               std::memcmp(bytes.data(), kEmptyArchive, 4) == 0);
}

bool ZipArchive::Open(ByteSpan bytes) {
  Close();
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  if (source == nullptr) {
    zip_error_fini(&error);
    return false;
  }
  zip_ = zip_open_from_source(source, ZIP_RDONLY, &error);
  zip_error_fini(&error);
  if (zip_ == nullptr) {
    zip_source_free(source);  // not taken over by a failed open
    return false;
  }
  budget_ = std::clamp<std::uint64_t>(kRatio * bytes.size(), kFloor, kCeiling);
  inflated_ = 0;
  if (HasDuplicateNames()) {
    Close();
    return false;
  }
  return true;
}

bool ZipArchive::HasDuplicateNames() const {
  const zip_int64_t count = zip_get_num_entries(zip_, 0);
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(std::max<zip_int64_t>(count, 0)));
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(zip_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (name == nullptr) continue;
    std::string lower(name);
    for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    names.push_back(std::move(lower));
  }
  std::sort(names.begin(), names.end());
  return std::adjacent_find(names.begin(), names.end()) != names.end();
}

void ZipArchive::Close() {
  if (zip_ != nullptr) zip_discard(zip_);
  zip_ = nullptr;
}

std::int64_t ZipArchive::Find(std::string_view name) const {
  if (zip_ == nullptr) return kNoMember;
  const std::string terminated(name);
  const zip_int64_t index =
      zip_name_locate(zip_, terminated.c_str(), ZIP_FL_NOCASE | ZIP_FL_ENC_RAW);
  return index < 0 ? kNoMember : index;
}

bool ZipArchive::Stream(std::int64_t member,
                        const std::function<bool(const char*, std::size_t)>& sink) {
  if (zip_ == nullptr || member < 0) return false;
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(zip_, static_cast<zip_uint64_t>(member), 0, &stat) != 0) return false;
  // A member that claims more than the budget is refused before anything is inflated.
  if ((stat.valid & ZIP_STAT_SIZE) != 0 && stat.size > BudgetLeft()) return false;

  const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(
      zip_fopen_index(zip_, static_cast<zip_uint64_t>(member), 0), zip_fclose);
  if (!file) return false;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
    if (got < 0) return false;  // damaged data or a checksum that does not match
    if (got == 0) return true;
    // Whatever the member claimed, it may not inflate past the budget.
    if (static_cast<std::uint64_t>(got) > BudgetLeft()) return false;
    inflated_ += static_cast<std::uint64_t>(got);
    if (!sink(buffer.data(), static_cast<std::size_t>(got))) return false;
  }
}

bool ZipArchive::Read(std::int64_t member, std::string& out) {
  out.clear();
  return Stream(member, [&out](const char* data, std::size_t size) {
    out.append(data, size);
    return true;
  });
}

}  // namespace Kalvex
