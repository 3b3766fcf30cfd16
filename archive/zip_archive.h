// Read-only access to a zip archive held in memory, with limits on what its members may
// inflate to, so that a small hostile file cannot make the reader allocate or work without
// bound.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "xls/little_endian.h"

struct zip;

namespace Kalvex {

class ZipArchive {
 public:
  // Inflated bytes allowed for one archive, all members read together: 100 times the
  // archive's size, at least 16 MiB (small workbooks compress their styles well), at most
  // 2 GiB.
  static constexpr std::uint64_t kRatio = 100;
  static constexpr std::uint64_t kFloor = std::uint64_t{16} << 20;
  static constexpr std::uint64_t kCeiling = std::uint64_t{2} << 30;
  static constexpr std::int64_t kNoMember = -1;

  ZipArchive() = default;
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;
  ~ZipArchive() { Close(); }

  // True when bytes begin with a zip local file header or an empty archive's end record.
  static bool HasSignature(ByteSpan bytes);

  // Opens the archive in bytes, which must stay alive until Close. False, with nothing
  // open, when bytes are not a readable zip archive, or when two of its members have the
  // same name (ignoring ASCII case): such an archive shows different content to different
  // readers.
  bool Open(ByteSpan bytes);
  void Close();
  bool IsOpen() const { return zip_ != nullptr; }

  // The member named name, compared without regard to ASCII case (the package formats
  // name their parts so), or kNoMember.
  std::int64_t Find(std::string_view name) const;

  // Inflates the member whole into out. False when it cannot be read (damaged, encrypted,
  // an unknown method), when its stored size claims more than the budget left, or when it
  // inflates past that budget.
  bool Read(std::int64_t member, std::string& out);
  // The same in pieces of at most 64 KiB handed to sink in order; sink returns false to
  // stop, which makes Stream return false.
  bool Stream(std::int64_t member,
              const std::function<bool(const char* data, std::size_t size)>& sink);

  // Inflated bytes still allowed.
  std::uint64_t BudgetLeft() const { return budget_ - inflated_; }

 private:
  bool HasDuplicateNames() const;

  zip* zip_ = nullptr;
  std::uint64_t budget_ = 0;
  std::uint64_t inflated_ = 0;
};

}  // namespace Kalvex
