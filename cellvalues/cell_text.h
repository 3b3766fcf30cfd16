// Cell values written as text by the formats that store them so: numbers in the C locale,
// ISO 8601 dates, times and durations as day serial numbers, and the limit on how many
// cells one workbook may fill. Independent of the process locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Kalvex {

// The most cells holding a value that one workbook of the text and zip formats may fill,
// all worksheets together: a million rows of 32 columns. Past it the workbook is refused,
// so that a small file that repeats or lists cells without end cannot exhaust memory.
inline constexpr std::size_t kMaxFilledCells = std::size_t{1} << 25;

// Blanks around a field: spaces and tabs.
std::string_view TrimBlanks(std::string_view text);

// A decimal number as the C locale writes it: an optional sign, digits with an optional
// decimal point (at least one digit), an optional exponent; blanks around it are
// ignored. Infinities, NaN, hexadecimal forms, digit grouping and anything after the
// number are not numbers, nor is a value out of the double range. False when text is not
// such a number; value is then unchanged.
bool ParseDecimalNumber(std::string_view text, double& value);

// A date of the proleptic Gregorian calendar.
struct CivilDate {
  std::int64_t year = 1899;
  unsigned month = 12;
  unsigned day = 30;
};

// Days from 1970-01-01 to date (negative before it). Source: H. Hinnant, "chrono-
// Compatible Low-Level Date Algorithms", days_from_civil.
std::int64_t DaysFromCivil(const CivilDate& date);

// Parses "YYYY-MM-DD" with an optional time "THH:MM", "THH:MM:SS" or "THH:MM:SS.fff"
// (and an optional "Z" or "+hh:mm"/"-hh:mm" zone, which is ignored: serials have no zone)
// into the days since base with the time as the fraction of a day. False when text is not
// of that form or names no real date or time.
bool IsoDateTimeToSerial(std::string_view text, const CivilDate& base, double& serial);

// Parses a bare ISO 8601 date "YYYY-MM-DD" (the form of a base date setting).
bool ParseIsoDate(std::string_view text, CivilDate& date);

// Parses an ISO 8601 duration of days and time such as "PT12H30M00S", "P1DT2H" or
// "-PT0.5S" into days. False when text is not of that form.
bool IsoDurationToDays(std::string_view text, double& days);

}  // namespace Kalvex
