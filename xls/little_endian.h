// Little-endian field access on bounded byte ranges, shared by the container and record readers.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace Kalvex {

using ByteSpan = std::span<const std::uint8_t>;

inline std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline double LeDouble(const std::uint8_t* p) {
  const std::uint64_t bits = Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
  return std::bit_cast<double>(bits);
}

// Reads fixed-width fields in order from a record's data. A field that does not fit in
// what is left reads as zero and marks the reader as overrun; the position never passes
// the end, so a short record can never make a caller read outside its data.
class FieldReader {
 public:
  explicit FieldReader(ByteSpan data, std::size_t position = 0)
      : data_(data), position_(position <= data.size() ? position : data.size()) {}

  std::uint8_t U8() { return Fits(1) ? data_[position_++] : 0; }
  std::uint16_t U16() {
    if (!Fits(2)) return 0;
    const std::uint16_t v = Le16(&data_[position_]);
    position_ += 2;
    return v;
  }
  std::uint32_t U32() {
    if (!Fits(4)) return 0;
    const std::uint32_t v = Le32(&data_[position_]);
    position_ += 4;
    return v;
  }
  double F64() {
    if (!Fits(8)) return 0.0;
    const double v = LeDouble(&data_[position_]);
    position_ += 8;
    return v;
  }
  // Passes over up to n bytes; marks an overrun when fewer are left.
  void Skip(std::size_t n) {
    if (Fits(n))
      position_ += n;
    else
      position_ = data_.size();
  }

  std::size_t Position() const { return position_; }
  std::size_t Remaining() const { return data_.size() - position_; }
  const std::uint8_t* Here() const { return data_.data() + position_; }
  // True while every field asked for was present in full.
  bool Complete() const { return !overrun_; }

 private:
  bool Fits(std::size_t n) {
    if (data_.size() - position_ >= n) return true;
    overrun_ = true;
    position_ = data_.size();
    return false;
  }

  ByteSpan data_;
  std::size_t position_;
  bool overrun_ = false;
};

}  // namespace Kalvex
