// The data echo's bytes: pieces, field widths and cuts.
#include "import/data_echo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace quorvel {
namespace {

std::string Spaces(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

// A data set as an accepted import leaves it; levels are given, not derived.
DesignData MakeData(ModelKind kind, std::vector<std::string> factorNames,
                    std::vector<std::vector<std::int32_t>> codes, std::vector<std::vector<std::int32_t>> levels,
                    std::vector<std::vector<double>> values) {
  DesignData data;
  data.kind = kind;
  data.factorCount = static_cast<int>(codes.size());
  for (std::size_t f = 0; f < factorNames.size(); ++f) data.factorNames[f] = factorNames[f];
  data.traitCount = static_cast<int>(values.size());
  data.observationCount = static_cast<int>(codes[0].size());
  data.factorCodes = std::move(codes);
  data.traitValues = std::move(values);
  for (std::size_t f = 0; f < levels.size(); ++f) {
    data.levelCounts[f] = static_cast<int>(levels[f].size());
    data.levelCodes[f] = levels[f];
  }
  return data;
}

TEST(DataEcho, SmallNestedSheetByteForByte) {
  const DesignData data = MakeData(ModelKind::Nested, {"Male", "Female"}, {{1, 1, 2, 2}, {1, 2, 1, 2}},
                                   {{1, 2}, {1, 2}}, {{10.5, 7, -3.25, 0}});
  const std::string expected =
      "\r\n   The data can be analyzed with the following model: \r\n"
      "\r\n   yijk = u + Mi + Fij + eijk. \r\n\r\n"
      "   Factor Levels:\r\n\r\n"
      "   Male: 1 2 \r\n"
      "   Female: 1 2 \r\n"
      "\r\n\r\n"
      "   Individual data: \r\n\r\n\r\n"
      "\r\n"
      "   Male   Female" + Spaces(12) + "Trait1\r\n" +
      Spaces(7) + "1" + Spaces(7) + "1" + Spaces(2) + Spaces(9) + "10.5000" + Spaces(2) + "\r\n" +
      Spaces(7) + "1" + Spaces(7) + "2" + Spaces(2) + Spaces(10) + "7.0000" + Spaces(2) + "\r\n" +
      Spaces(7) + "2" + Spaces(7) + "1" + Spaces(2) + Spaces(9) + "-3.2500" + Spaces(2) + "\r\n" +
      Spaces(7) + "2" + Spaces(7) + "2" + Spaces(2) + Spaces(10) + "0.0000" + Spaces(2) + "\r\n";
  EXPECT_EQ(ComposeDataEcho(data, {"Trait1"}), expected);
}

TEST(DataEcho, ModelPiecesHaveTheirByteCounts) {
  const struct {
    ModelKind kind;
    int factors;
    std::size_t formulaBytes;
    const char* formula;
  } cases[] = {
      {ModelKind::BlockedRepeat, 4, 65, "yijklm = u + Bi + Ril + Mij + Fijk + (FR)ijkl + eijklm. "},
      {ModelKind::Blocked, 3, 44, "yijkl = u + Bi + Mj + Fjk + eijkl. "},
      {ModelKind::Nested, 2, 37, "yijk = u + Mi + Fij + eijk. "},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<std::int32_t>> codes(static_cast<std::size_t>(c.factors), {1, 1, 1, 1});
    std::vector<std::vector<std::int32_t>> levels(static_cast<std::size_t>(c.factors), {1});
    const std::string echo =
        ComposeDataEcho(MakeData(c.kind, {"Block", "Male", "Female", "Repeat"}, codes, levels, {}), {});
    // Model sentence (58 bytes), formula, then "   Factor Levels:\r\n\r\n" (21 bytes).
    EXPECT_EQ(echo.substr(58, c.formulaBytes), "\r\n   " + std::string(c.formula) + "\r\n\r\n");
    EXPECT_EQ(echo.substr(58 + c.formulaBytes, 21), "   Factor Levels:\r\n\r\n");
  }
}

TEST(DataEcho, FieldsAreCutToTheirWidths) {
  // Codes: a long one loses its tail, a negative one is right-aligned. Values: one of
  // exactly 18 characters loses its gap, a longer one its trailing digits.
  const DesignData data = MakeData(ModelKind::Nested, {"Male", "Female"},
                                   {{123456789, 7, 1, 1}, {-3, -3, -3, 2}}, {{1, 7, 123456789}, {-3, 2}},
                                   {{1234567890123.5, 123456789012345.25, 1e20, 0.00005}});
  const std::string echo = ComposeDataEcho(data, {"Trait1"});
  EXPECT_NE(echo.find("   Male: 1 7 123456789 \r\n   Female: -3 2 \r\n"), std::string::npos);
  EXPECT_NE(echo.find("\r\n12345678" + Spaces(6) + "-3  1234567890123.5000\r\n"), std::string::npos);
  EXPECT_NE(echo.find("\r\n" + Spaces(7) + "7" + Spaces(6) + "-3  123456789012345.25\r\n"), std::string::npos);
  EXPECT_NE(echo.find("\r\n" + Spaces(7) + "1" + Spaces(6) + "-3  100000000000000000\r\n"), std::string::npos);
  // Rounding is printf's: 0.00005 prints with 4 decimals as printf rounds the double.
  char rounded[32];
  std::snprintf(rounded, sizeof rounded, "%16.4f  ", 0.00005);
  EXPECT_NE(echo.find(Spaces(7) + "1" + Spaces(7) + "2  " + rounded + "\r\n"), std::string::npos);
}

TEST(DataEcho, HeaderLineAndTraitlessRows) {
  // Without traits the header holds only the factor names and every row ends after the gap.
  const DesignData noTraits = MakeData(ModelKind::Blocked, {"Block", "Male", "Female"},
                                       {{1, 1, 2, 2}, {1, 2, 1, 2}, {1, 1, 1, 1}}, {{1, 2}, {1, 2}, {1}}, {});
  const std::string echo = ComposeDataEcho(noTraits, {});
  EXPECT_NE(echo.find("\r\n\r\n   Block   Male   Female\r\n" + Spaces(7) + "1" + Spaces(7) + "1" + Spaces(7) +
                      "1  \r\n"),
            std::string::npos);
  EXPECT_EQ(echo.substr(echo.size() - 28), Spaces(7) + "2" + Spaces(7) + "2" + Spaces(7) + "1  \r\n");

  // A trait name longer than its field keeps its first 18 characters.
  const DesignData twoTraits = MakeData(ModelKind::Nested, {"Male", "Female"}, {{1, 1, 2, 2}, {1, 2, 1, 2}},
                                        {{1, 2}, {1, 2}}, {{1, 2, 3, 4}, {1, 2, 3, 4}});
  const std::string wide = ComposeDataEcho(twoTraits, {"Trait1", "ABCDEFGHIJKLMNOPQRSTUV"});
  EXPECT_NE(wide.find("   Male   Female" + Spaces(12) + "Trait1ABCDEFGHIJKLMNOPQR\r\n"), std::string::npos);
}

TEST(DataEcho, WritesTheFileAndReportsAFileThatCannotBeCreated) {
  const auto folder = std::filesystem::temp_directory_path() / ("echo_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const DesignData data = MakeData(ModelKind::Nested, {"Male", "Female"}, {{1, 1, 2, 2}, {1, 2, 1, 2}},
                                   {{1, 2}, {1, 2}}, {{1, 2, 3, 4}});
  const std::string path = (folder / "tmp.txt").string();
  { std::ofstream(path) << "an older, longer echo that must disappear entirely\n\n\n\n\n\n\n\n\n\n"; }
  ASSERT_TRUE(WriteDataEcho(path, data, {"Trait1"}));
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(bytes, ComposeDataEcho(data, {"Trait1"}));

  // A folder below a regular file cannot hold the echo, whoever runs the test.
  EXPECT_FALSE(WriteDataEcho((folder / "tmp.txt" / "tmp.txt").string(), data, {"Trait1"}));
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorvel
