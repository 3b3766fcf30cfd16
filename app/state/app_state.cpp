// Clock and time-stamp helpers of the application state.
#include "app/state/app_state.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace quorvel {

std::int64_t CurrentCalendarTime() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(epoch, &end, 10);
    if (errno == 0 && end != nullptr && *end == '\0') return value;
  }
  return static_cast<std::int64_t>(std::time(nullptr));
}

std::string CtimeText(std::int64_t t) {
  const std::time_t when = static_cast<std::time_t>(t);
  std::tm parts{};
  if (localtime_r(&when, &parts) == nullptr) return std::string(24, '?');
  // The layout of ctime()/asctime(): "Www Mmm dd hh:mm:ss yyyy".
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[parts.tm_wday % 7],
                kMonths[parts.tm_mon % 12], parts.tm_mday, parts.tm_hour, parts.tm_min,
                parts.tm_sec, 1900 + parts.tm_year);
  return std::string(text).substr(0, 24);
}

}  // namespace quorvel
