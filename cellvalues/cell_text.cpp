// Cell values written as text: C-locale numbers, ISO 8601 dates and durations.
#include "cellvalues/cell_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace Kalvex {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly `width` digits at text[pos] into value and moves pos past them.
bool FixedDigits(std::string_view text, std::size_t& pos, std::size_t width, unsigned& value) {
  if (text.size() - pos < width) return false;
  value = 0;
  for (std::size_t k = 0; k < width; ++k) {
    const char c = text[pos + k];
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  pos += width;
  return true;
}

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(std::int64_t year, unsigned month) {
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// "YYYY-MM-DD" at the start of text (a leading '-' for years before 0 is not taken);
// pos moves past it.
bool DatePart(std::string_view text, std::size_t& pos, CivilDate& date) {
  unsigned year = 0;
  unsigned month = 0;
  unsigned day = 0;
  if (!FixedDigits(text, pos, 4, year)) return false;
  if (pos >= text.size() || text[pos++] != '-' || !FixedDigits(text, pos, 2, month)) return false;
  if (pos >= text.size() || text[pos++] != '-' || !FixedDigits(text, pos, 2, day)) return false;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  date = {static_cast<std::int64_t>(year), month, day};
  return true;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool ParseDecimalNumber(std::string_view text, double& value) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // A digit or a point must follow the sign: this keeps out "inf", "nan" and a second sign.
  if (text.empty() || !(IsDigit(text.front()) || text.front() == '.')) return false;
  double parsed = 0.0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed))
    return false;
  value = negative ? -parsed : parsed;
  return true;
}

std::int64_t DaysFromCivil(const CivilDate& date) {
  const std::int64_t y = date.year - (date.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t m = date.month;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + date.day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool ParseIsoDate(std::string_view text, CivilDate& date) {
  std::size_t pos = 0;
  return DatePart(text, pos, date) && pos == text.size();
}

bool IsoDateTimeToSerial(std::string_view text, const CivilDate& base, double& serial) {
  std::size_t pos = 0;
  CivilDate date;
  if (!DatePart(text, pos, date)) return false;
  double fraction = 0.0;
  if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
    ++pos;
    unsigned hours = 0;
    unsigned minutes = 0;
    unsigned seconds = 0;
    if (!FixedDigits(text, pos, 2, hours)) return false;
    if (pos >= text.size() || text[pos++] != ':' || !FixedDigits(text, pos, 2, minutes))
      return false;
    double secondFraction = 0.0;
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      if (!FixedDigits(text, pos, 2, seconds)) return false;
      if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
        const std::size_t first = ++pos;
        double scale = 0.1;
        while (pos < text.size() && IsDigit(text[pos])) {
          secondFraction += (text[pos] - '0') * scale;
          scale /= 10;
          ++pos;
        }
        if (pos == first) return false;
      }
    }
    if (hours > 24 || minutes > 59 || seconds > 60 || (hours == 24 && (minutes | seconds) != 0))
      return false;
    fraction = ((hours * 60.0 + minutes) * 60.0 + seconds + secondFraction) / 86400.0;
  }
  // A zone is allowed and ignored.
  if (pos < text.size() && text[pos] == 'Z') {
    ++pos;
  } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    ++pos;
    unsigned zoneHours = 0;
    unsigned zoneMinutes = 0;
    if (!FixedDigits(text, pos, 2, zoneHours)) return false;
    if (pos < text.size() && text[pos] == ':') ++pos;
    if (pos < text.size() && !FixedDigits(text, pos, 2, zoneMinutes)) return false;
  }
  if (pos != text.size()) return false;
  serial = static_cast<double>(DaysFromCivil(date) - DaysFromCivil(base)) + fraction;
  return true;
}

bool IsoDurationToDays(std::string_view text, double& days) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.front() != 'P') return false;
  text.remove_prefix(1);
  bool inTime = false;
  bool any = false;
  double total = 0.0;  // seconds
  while (!text.empty()) {
    if (text.front() == 'T') {
      if (inTime) return false;
      inTime = true;
      text.remove_prefix(1);
      continue;
    }
    std::size_t length = 0;
    while (length < text.size() && (IsDigit(text[length]) || text[length] == '.')) ++length;
    if (length == 0 || length == text.size()) return false;
    double number = 0.0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + length, number, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + length) return false;
    const char unit = text[length];
    if (!inTime && unit == 'D')
      total += number * 86400.0;
    else if (!inTime && unit == 'W')
      total += number * 7 * 86400.0;
    else if (inTime && unit == 'H')
      total += number * 3600.0;
    else if (inTime && unit == 'M')
      total += number * 60.0;
    else if (inTime && unit == 'S')
      total += number;
    else
      return false;  // years and months have no fixed length in days
    any = true;
    text.remove_prefix(length + 1);
  }
  if (!any || !std::isfinite(total)) return false;
  days = (negative ? -total : total) / 86400.0;
  return true;
}

}  // namespace Kalvex
