// The data echo's field widths and cuts; whole echoes are compared with the goldens of
// the end-to-end tests.
#include "import/data_echo.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

std::string Spaces(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

DesignData MakeData(ModelKind kind, std::vector<std::vector<std::int32_t>> codes,
                    std::vector<std::vector<double>> values) {
  DesignData data;
  data.kind = kind;
  data.factorCount = static_cast<int>(codes.size());
  data.factorNames = {"Block", "Male", "Female", "Repeat"};
  if (kind == ModelKind::Nested) data.factorNames = {"Male", "Female", "", ""};
  data.traitCount = static_cast<int>(values.size());
  data.observationCount = static_cast<int>(codes[0].size());
  data.factorCodes = std::move(codes);
  data.traitValues = std::move(values);
  return data;
}

TEST(DataEcho, FieldsAreRightAlignedAndCutToTheirWidths) {
  // Codes in 8 characters (a longer one loses its tail); values in "%16.4f  " cut to 18
  // (an 18-character number loses the gap, a longer one its trailing digits).
  const DesignData data = MakeData(ModelKind::Nested, {{7, 123456789, 1, 1}, {-3, -3, 2, 2}},
                                   {{10.5, 1234567890123.5, 123456789012345.25, 1e20}});
  const std::string echo = ComposeDataEcho(data, {"Trait1"});
  EXPECT_NE(echo.find("\r\n" + Spaces(7) + "7" + Spaces(6) + "-3  " + Spaces(9) + "10.5000  \r\n"),
            std::string::npos);
  EXPECT_NE(echo.find("\r\n12345678" + Spaces(6) + "-3  1234567890123.5000\r\n"),
            std::string::npos);
  EXPECT_NE(echo.find("\r\n" + Spaces(7) + "1" + Spaces(7) + "2  123456789012345.25\r\n"),
            std::string::npos);
  EXPECT_NE(echo.find("\r\n" + Spaces(7) + "1" + Spaces(7) + "2  100000000000000000\r\n"),
            std::string::npos);
}

TEST(DataEcho, HeaderLineAndTraitlessRows) {
  // Without traits the header holds only the factor names and every row ends after the gap.
  const DesignData noTraits = MakeData(ModelKind::Blocked, {{1, 2}, {1, 2}, {5, 6}}, {});
  EXPECT_NE(ComposeDataEcho(noTraits, {})
                .find("\r\n   Block   Male   Female\r\n" + Spaces(7) + "1" + Spaces(7) + "1" +
                      Spaces(7) + "5  \r\n"),
            std::string::npos);
  // Trait names stand right-aligned in 18 characters; a longer one keeps its first 18.
  const DesignData twoTraits = MakeData(ModelKind::Nested, {{1, 2}, {1, 2}}, {{1, 2}, {3, 4}});
  EXPECT_NE(ComposeDataEcho(twoTraits, {"Trait1", "ABCDEFGHIJKLMNOPQRSTUV"})
                .find("\r\n   Male   Female" + Spaces(12) + "Trait1ABCDEFGHIJKLMNOPQR\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace quorvel
