// Character conversions of the reader, independent of the process locale: narrow text is
// UTF-8, the 8-bit characters of workbook strings are Latin-1, wide text is UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Kalvex {

// Appends count Latin-1 characters as UTF-8.
void AppendLatin1AsUtf8(std::string& out, const std::uint8_t* latin1, std::size_t count);

// Appends count little-endian UTF-16 units (2 bytes each) as UTF-8. Surrogate pairs are
// joined; a lone surrogate becomes U+FFFD.
void AppendUtf16LeAsUtf8(std::string& out, const std::uint8_t* units, std::size_t count);

// The same for units already in memory.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace Kalvex
