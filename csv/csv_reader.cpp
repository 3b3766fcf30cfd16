// Delimiter-separated text: encoding, separator detection, RFC 4180 fields, cell kinds.
#include "csv/csv_reader.h"

#include <algorithm>
#include <cstring>

#include "cellvalues/cell_text.h"
#include "xls/text_encoding.h"

namespace Kalvex {
namespace {

// Characters 0x80 to 0x9F of Windows code page 1252; 0 where it leaves one undefined (the
// Latin-1 control character then stands).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t code = 0;
    if ((*p & 0xE0) == 0xC0) {
      length = 2;
      code = *p & 0x1F;
    } else if ((*p & 0xF0) == 0xE0) {
      length = 3;
      code = *p & 0x0F;
    } else if ((*p & 0xF8) == 0xF0) {
      length = 4;
      code = *p & 0x07;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (p[k] & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    static constexpr std::uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    p += length;
  }
  return true;
}

void AppendWindowsLatin1(std::string& out, std::string_view bytes) {
  out.reserve(out.size() + bytes.size() + bytes.size() / 8);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else if (byte < 0xA0 && kCp1252High[byte - 0x80] != 0) {
      out += Utf16ToUtf8(std::u16string_view(&kCp1252High[byte - 0x80], 1));
    } else {
      AppendLatin1AsUtf8(out, &byte, 1);
    }
  }
}

bool IsTextControl(unsigned char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char c =
        text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != prefix[i]) return false;
  }
  return true;
}

// The cells of one record, written as the fields end.
class SheetWriter {
 public:
  SheetWriter(SheetGrid& grid, char separator) : grid_(grid), separator_(separator) {}

  // One field; quoted fields take part in number detection as unquoted ones do.
  bool Field(std::uint64_t row, std::uint64_t column, std::string_view field, bool quoted) {
    if (field.empty()) return true;
    const std::string_view trimmed = TrimBlanks(field);
    if (trimmed.empty() && !quoted) return true;
    if (row >= grid_.MaxRows() || column >= grid_.MaxColumns()) return true;
    if (++filled_ > kMaxFilledCells) return false;
    CellValue* cell =
        grid_.CellAt(static_cast<std::uint32_t>(row), static_cast<std::uint32_t>(column));
    double number = 0.0;
    if (ParseNumber(trimmed, number)) {
      cell->SetReal(number);
    } else {
      text_.assign(field);  // the cell takes a terminated copy
      cell->SetText(text_.c_str());
    }
    return true;
  }

 private:
  bool ParseNumber(std::string_view text, double& number) {
    if (ParseDecimalNumber(text, number)) return true;
    // With ';' between fields a single ',' is a decimal comma ("305,508").
    if (separator_ != ';' || text.find('.') != std::string_view::npos) return false;
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos)
      return false;
    decimal_.assign(text);
    decimal_[comma] = '.';
    return ParseDecimalNumber(decimal_, number);
  }

  SheetGrid& grid_;
  const char separator_;
  std::size_t filled_ = 0;
  std::string text_;
  std::string decimal_;
};

}  // namespace

bool DecodeText(ByteSpan bytes, std::string& text) {
  text.clear();
  const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    const std::string_view body = raw.substr(3);
    if (IsValidUtf8(body))
      text.assign(body);
    else
      AppendWindowsLatin1(text, body);
  } else if (raw.size() >= 2 &&
             (raw.compare(0, 2, "\xFF\xFE") == 0 || raw.compare(0, 2, "\xFE\xFF") == 0)) {
    const bool bigEndian = raw[0] == '\xFE';
    std::string units(raw.substr(2, (raw.size() - 2) & ~std::size_t{1}));
    if (bigEndian) {
      for (std::size_t i = 0; i + 1 < units.size(); i += 2) std::swap(units[i], units[i + 1]);
    }
    AppendUtf16LeAsUtf8(text, reinterpret_cast<const std::uint8_t*>(units.data()),
                        units.size() / 2);
  } else if (IsValidUtf8(raw)) {
    text.assign(raw);
  } else {
    AppendWindowsLatin1(text, raw);
  }

  // A final Ctrl-Z, which old programs put at the end of a text file, is no content.
  if (!text.empty() && text.back() == '\x1A') text.pop_back();
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && !IsTextControl(byte)) || byte == 0x7F) {
      text.clear();
      return false;
    }
  }
  std::size_t start = 0;
  while (start < text.size() &&
         (text[start] == ' ' || IsTextControl(static_cast<unsigned char>(text[start]))))
    ++start;
  const std::string_view head = std::string_view(text).substr(start);
  if (StartsWithIgnoringCase(head, "<?xml") || StartsWithIgnoringCase(head, "<!doctype") ||
      StartsWithIgnoringCase(head, "<html")) {
    text.clear();
    return false;
  }
  return true;
}

char DetectSeparator(std::string_view text) {
  std::size_t tabs = 0;
  std::size_t semicolons = 0;
  std::size_t commas = 0;
  bool quoted = false;
  for (const char c : text) {
    if (c == '"')
      quoted = !quoted;
    else if (quoted)
      continue;
    else if (c == '\n' || c == '\r')
      break;
    else if (c == '\t')
      ++tabs;
    else if (c == ';')
      ++semicolons;
    else if (c == ',')
      ++commas;
  }
  if (tabs >= semicolons && tabs >= commas && tabs > 0) return '\t';
  if (semicolons >= commas && semicolons > 0) return ';';
  return ',';
}

bool ReadDelimitedText(ByteSpan bytes, SheetGrid& grid) {
  grid.Reset(0, 0);
  std::string text;
  if (!DecodeText(bytes, text)) return false;
  const char separator = DetectSeparator(text);
  SheetWriter writer(grid, separator);

  std::uint64_t row = 0;
  std::uint64_t column = 0;
  std::string unquoted;  // a quoted field's content with its doubled quotes undone
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    // One field, from p up to its separator or line end.
    std::string_view field;
    bool quoted = false;
    if (*p == '"') {
      quoted = true;
      unquoted.clear();
      ++p;
      for (;;) {
        const char* quote =
            static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
        if (quote == nullptr) {  // no closing quote: the field runs to the end of the file
          unquoted.append(p, end);
          p = end;
          break;
        }
        unquoted.append(p, quote);
        p = quote + 1;
        if (p < end && *p == '"') {
          unquoted += '"';
          ++p;
          continue;
        }
        break;
      }
      // Anything between the closing quote and the separator belongs to the field.
      const char* rest = p;
      while (p < end && *p != separator && *p != '\n' && *p != '\r') ++p;
      unquoted.append(rest, p);
      field = unquoted;
    } else {
      const char* start = p;
      while (p < end && *p != separator && *p != '\n' && *p != '\r') ++p;
      field = std::string_view(start, static_cast<std::size_t>(p - start));
    }
    if (!writer.Field(row, column, field, quoted)) {
      grid.Reset(0, 0);
      return false;
    }
    if (p == end) break;
    if (*p == separator) {
      ++p;
      ++column;
      if (p == end) break;  // a separator ending the file ends its last field too
      continue;
    }
    // A line end: LF, CR LF or CR.
    if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;
    ++p;
    ++row;
    column = 0;
  }
  return true;
}

}  // namespace Kalvex
