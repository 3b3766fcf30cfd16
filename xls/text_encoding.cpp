// Latin-1 and UTF-16 to UTF-8 conversions.
#include "xls/text_encoding.h"

#include "xls/little_endian.h"

namespace Kalvex {
namespace {

void AppendCodePoint(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Shared by both UTF-16 entry points: unit(i) gives the i-th code unit.
template <typename UnitAt>
void AppendUtf16(std::string& out, std::size_t count, UnitAt unit) {
  constexpr std::uint32_t kReplacement = 0xFFFD;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t u = unit(i);
    if (u < 0xD800 || u > 0xDFFF) {
      AppendCodePoint(out, u);
    } else if (u < 0xDC00 && i + 1 < count && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else {
      AppendCodePoint(out, kReplacement);
    }
  }
}

}  // namespace

void AppendLatin1AsUtf8(std::string& out, const std::uint8_t* latin1, std::size_t count) {
  out.reserve(out.size() + count);
  for (std::size_t i = 0; i < count; ++i) AppendCodePoint(out, latin1[i]);
}

void AppendUtf16LeAsUtf8(std::string& out, const std::uint8_t* units, std::size_t count) {
  AppendUtf16(out, count, [units](std::size_t i) -> std::uint32_t { return Le16(units + 2 * i); });
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  AppendUtf16(out, text.size(), [text](std::size_t i) -> std::uint32_t { return text[i]; });
  return out;
}

}  // namespace Kalvex
