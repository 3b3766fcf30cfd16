// Clock and time-stamp helpers of the application state.
#include "app/state/app_state.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace quorvel {
namespace {

// ctime() text has room for a four-digit year only. These bounds keep the local year
// within 1000 to 9999 in every time zone: 1000-01-02 00:00:00 and 9999-12-30 23:59:59
// UTC, a day inside the range at either end.
constexpr std::int64_t kEarliestPrintableTime = -30'610'137'600;
constexpr std::int64_t kLatestPrintableTime = 253'402'214'399;

std::int64_t ClampToPrintable(std::int64_t t) {
  return std::clamp(t, kEarliestPrintableTime, kLatestPrintableTime);
}

}  // namespace

std::int64_t CurrentCalendarTime() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(epoch, &end, 10);
    // A number out of range for the conversion falls back to the clock; one whose year
    // has more than four digits is clamped, so the report stays reproducible.
    if (errno == 0 && end != nullptr && *end == '\0') return ClampToPrintable(value);
  }
  return ClampToPrintable(static_cast<std::int64_t>(std::time(nullptr)));
}

std::string CtimeText(std::int64_t t) {
  const std::time_t when = static_cast<std::time_t>(ClampToPrintable(t));
  std::tm parts{};
  if (localtime_r(&when, &parts) == nullptr) return std::string(24, '?');
  // The year in 64 bits: tm_year + 1900 is computed without overflow whatever the
  // library returned.
  const long long year = static_cast<long long>(parts.tm_year) + 1900;
  if (year < 1000 || year > 9999) return std::string(24, '?');
  // The layout of ctime()/asctime(): "Www Mmm dd hh:mm:ss yyyy".
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %lld", kDays[parts.tm_wday % 7],
                kMonths[parts.tm_mon % 12], parts.tm_mday, parts.tm_hour, parts.tm_min,
                parts.tm_sec, year);
  return std::string(text).substr(0, 24);
}

}  // namespace quorvel
