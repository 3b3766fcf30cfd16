// Real-world .xlsx files, some hostile: each is read or refused as expected, and the first
// worksheet of each one read equals an independent reader's view of it, frozen in
// tests/data/xlsx/expected (see make_expected.sh there): formula and error cells empty,
// booleans 1 or 0, dates as serial numbers.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "tests/support/report_compare.h"
#include "workbook/open_workbook.h"

namespace Kalvex {
namespace {

namespace fs = std::filesystem;

const std::string kFolder = std::string(QUORVEL_TEST_DATA) + "/xlsx";

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kFolder + "/corpus"))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

using Cells =
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::pair<std::string, std::string>>;

std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

Cells Expected(const std::string& text) {
  Cells cells;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::uint32_t row = 0;
    std::uint32_t column = 0;
    std::string kind;
    fields >> row >> column >> kind;
    std::string value = line.substr(line.find(kind + '\t') + kind.size() + 1);
    cells[{row, column}] = {kind, value};
  }
  return cells;
}

Cells Actual(const SheetGrid& grid) {
  Cells cells;
  grid.ForEachStoredCell([&cells](std::uint32_t row, std::uint32_t column, const CellValue& cell) {
    switch (cell.Kind()) {
      case CellKind::Integer:
        cells[{row, column}] = {"Integer", std::to_string(cell.IntegerValue())};
        break;
      case CellKind::Real: {
        char number[40];
        std::snprintf(number, sizeof number, "%.17g", cell.RealValue());
        cells[{row, column}] = {"Real", number};
        break;
      }
      case CellKind::Text:
        cells[{row, column}] = {"Text", Escaped(cell.TextValue())};
        break;
      default:
        cells[{row, column}] = {"other", ""};
        break;
    }
  });
  return cells;
}

bool SameNumber(const std::string& a, const std::string& b) {
  double x = 0.0;
  double y = 0.0;
  std::from_chars(a.data(), a.data() + a.size(), x);
  std::from_chars(b.data(), b.data() + b.size(), y);
  // Dates went through the other reader's calendar types: they agree to a microsecond.
  return x == y || std::fabs(x - y) <= 1e-12 * std::max(std::fabs(x), std::fabs(y));
}

class XlsxCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(XlsxCorpus, IsReadAsTheIndependentReaderSeesItOrRefused) {
  const std::string& name = GetParam();
  const std::string stem = name.substr(0, name.rfind('.'));
  const std::string expected = quorvel::testing::ReadFile(kFolder + "/expected/" + stem + ".txt");
  OpenedWorkbook workbook;
  const bool opened =
      OpenWorkbook((kFolder + "/corpus/" + name).c_str(), workbook, SheetSelection::FirstOnly);
  if (expected == "refused\n") {
    EXPECT_FALSE(opened);
    return;
  }
  ASSERT_TRUE(opened);
  ASSERT_GE(workbook.SheetCount(), 1u);
  const Cells want = Expected(expected);
  const Cells got = Actual(*workbook.Sheet(0));
  for (const auto& [position, cell] : want) {
    const auto found = got.find(position);
    if (found == got.end()) {
      ADD_FAILURE() << "missing cell " << position.first << "," << position.second << ": "
                    << cell.second;
      continue;
    }
    EXPECT_EQ(found->second.first, cell.first) << position.first << "," << position.second;
    if (cell.first == "Real") {
      EXPECT_TRUE(SameNumber(found->second.second, cell.second))
          << position.first << "," << position.second << ": " << found->second.second << " vs "
          << cell.second;
    } else {
      EXPECT_EQ(found->second.second, cell.second) << position.first << "," << position.second;
    }
  }
  for (const auto& [position, cell] : got) {
    EXPECT_TRUE(want.count(position))
        << "extra cell " << position.first << "," << position.second << ": " << cell.second;
  }
}

INSTANTIATE_TEST_SUITE_P(RealWorld, XlsxCorpus, ::testing::ValuesIn(CorpusFiles()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string name = param.param.substr(0, param.param.rfind('.'));
                           if (name.size() > 40) name = name.substr(name.size() - 16);
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return "f" + name;
                         });

}  // namespace
}  // namespace Kalvex
