// Numbers, dates and durations written as text.
#include "cellvalues/cell_text.h"

#include <gtest/gtest.h>

#include <string>

namespace Kalvex {
namespace {

TEST(DecimalNumber, TheCLocaleFormOnlyWithBlanksAroundIt) {
  const std::pair<const char*, double> numbers[] = {
      {"305.508", 305.508}, {" -12 ", -12.0}, {"+4", 4.0},         {"\t.5", 0.5},
      {"5.", 5.0},          {"1e3", 1000.0},  {"-2.5E-2", -0.025}, {"0", 0.0}};
  for (const auto& [text, expected] : numbers) {
    double value = -1.0;
    EXPECT_TRUE(ParseDecimalNumber(text, value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  for (const char* text :
       {"",      " ",   "inf", "-inf", "nan",   "NaN", "infinity", "0x1A", "1,5", "1 000",
        "1e999", "--1", "+-1", "12a",  "1.2.3", "e5",  ".",        "-",    "50%", "TRUE"}) {
    double value = 7.0;
    EXPECT_FALSE(ParseDecimalNumber(text, value)) << text;
    EXPECT_EQ(value, 7.0) << text;
  }
}

TEST(IsoDates, SerialsCountDaysFromTheBaseWithTheTimeAsAFraction) {
  const CivilDate excel{1899, 12, 30};
  double serial = 0.0;
  ASSERT_TRUE(IsoDateTimeToSerial("2019-03-01", excel, serial));
  EXPECT_EQ(serial, 43525.0);
  ASSERT_TRUE(IsoDateTimeToSerial("2019-03-01T18:00:00", excel, serial));
  EXPECT_EQ(serial, 43525.75);
  ASSERT_TRUE(IsoDateTimeToSerial("1900-03-01T06:00", excel, serial));
  EXPECT_EQ(serial, 61.25);
  ASSERT_TRUE(IsoDateTimeToSerial("2000-02-29T12:00:00.5Z", excel, serial));
  EXPECT_NEAR(serial, 36585.5 + 0.5 / 86400, 1e-12);
  ASSERT_TRUE(IsoDateTimeToSerial("1899-12-29", excel, serial));
  EXPECT_EQ(serial, -1.0);
  ASSERT_TRUE(IsoDateTimeToSerial("1904-01-02", CivilDate{1904, 1, 1}, serial));
  EXPECT_EQ(serial, 1.0);
  for (const char* text : {"2019-02-29", "2019-13-01", "2019-1-01", "2019-01-01T25:00",
                           "2019-01-01T10", "2019-01-01x", "01/02/2019", ""}) {
    EXPECT_FALSE(IsoDateTimeToSerial(text, excel, serial)) << text;
  }
  CivilDate date;
  EXPECT_TRUE(ParseIsoDate("1904-01-01", date));
  EXPECT_EQ(date.year, 1904);
  EXPECT_FALSE(ParseIsoDate("1904-01-01T00:00", date));
}

TEST(IsoDurations, DaysAndTimeAsDays) {
  double days = 0.0;
  ASSERT_TRUE(IsoDurationToDays("PT12H30M00S", days));
  EXPECT_DOUBLE_EQ(days, 12.5 / 24);
  ASSERT_TRUE(IsoDurationToDays("-P1DT6H", days));
  EXPECT_DOUBLE_EQ(days, -1.25);
  ASSERT_TRUE(IsoDurationToDays("PT0.5S", days));
  EXPECT_DOUBLE_EQ(days, 0.5 / 86400);
  for (const char* text : {"", "P", "PT", "P1Y", "P1M", "T1H", "PT1D", "PT1H1", "PTxH"}) {
    EXPECT_FALSE(IsoDurationToDays(text, days)) << text;
  }
}

}  // namespace
}  // namespace Kalvex
