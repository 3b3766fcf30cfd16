// The report's time stamp: ctime() layout, SOURCE_DATE_EPOCH, and calendar times whose
// year would not fit the layout (or overflow the year's computation).
#include "app/state/app_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

namespace quorvel {
namespace {

// Sets an environment variable for one scope; restores the previous value after it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const char* value) {
    if (value != nullptr) {
      ::setenv(name_, value, 1);
    } else {
      ::unsetenv(name_);
    }
    ::tzset();
  }
  const char* name_;
  std::optional<std::string> old_;
};

constexpr std::int64_t kLatest = 253'402'214'399;    // 9999-12-30 23:59:59 UTC
constexpr std::int64_t kEarliest = -30'610'137'600;  // 1000-01-02 00:00:00 UTC

TEST(TimeStamp, CtimeLayoutAndYearsBeyondItsFourDigits) {
  const ScopedEnv zone("TZ", "UTC0");
  EXPECT_EQ(CtimeText(0), "Thu Jan  1 00:00:00 1970");
  EXPECT_EQ(CtimeText(1'700'000'000), "Tue Nov 14 22:13:20 2023");
  EXPECT_EQ(CtimeText(kLatest), "Thu Dec 30 23:59:59 9999");
  EXPECT_EQ(CtimeText(kEarliest), "Thu Jan  2 00:00:00 1000");
  // The largest time whose year still fits an int: 1900 + tm_year would overflow.
  EXPECT_EQ(CtimeText(67'768'036'191'676'799), "Thu Dec 30 23:59:59 9999");
  EXPECT_EQ(CtimeText(std::numeric_limits<std::int64_t>::max()), "Thu Dec 30 23:59:59 9999");
  EXPECT_EQ(CtimeText(std::numeric_limits<std::int64_t>::min()), "Thu Jan  2 00:00:00 1000");

  // The bounds keep four digits in the zones farthest from UTC.
  for (const char* far : {"EAST-14", "WEST12"}) {
    const ScopedEnv farZone("TZ", far);
    for (std::int64_t t : {kLatest, kEarliest}) {
      const std::string text = CtimeText(t);
      ASSERT_EQ(text.size(), 24u) << far;
      EXPECT_TRUE(text.ends_with(t > 0 ? " 9999" : " 1000")) << far << ": " << text;
    }
  }
}

TEST(TimeStamp, SourceDateEpochReplacesTheClockWithinThePrintableYears) {
  {
    const ScopedEnv epoch("SOURCE_DATE_EPOCH", "1700000000");
    EXPECT_EQ(CurrentCalendarTime(), 1'700'000'000);
  }
  {
    const ScopedEnv epoch("SOURCE_DATE_EPOCH", "67768036191676799");
    EXPECT_EQ(CurrentCalendarTime(), kLatest);
  }
  {
    const ScopedEnv epoch("SOURCE_DATE_EPOCH", "-67768040609740800");
    EXPECT_EQ(CurrentCalendarTime(), kEarliest);
  }
  // Not a number, or beyond 64 bits: the clock.
  for (const char* text : {"12abc", "99999999999999999999", ""}) {
    const ScopedEnv epoch("SOURCE_DATE_EPOCH", text);
    const std::int64_t before = std::time(nullptr);
    const std::int64_t now = CurrentCalendarTime();
    EXPECT_GE(now, before) << text;
    EXPECT_LE(now, before + 60) << text;
  }
}

}  // namespace
}  // namespace quorvel
