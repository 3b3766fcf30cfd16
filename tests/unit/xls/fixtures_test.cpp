// Real workbooks written by LibreOffice, Gnumeric and xlwt: each first sheet (and the
// second sheet where its source exists) equals the CSV it was written from, cell for cell.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "xls/text_encoding.h"
#include "xls/xls_document.h"

namespace Kalvex {
namespace {

const std::string kFixtures = std::string(QUORVEL_TEST_DATA) + "/xls/fixtures/";

// One CSV line split into fields; a quoted field may hold commas and doubled quotes.
std::vector<std::string> SplitCsvLine(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
        fields.back() += line[++i];
      else if (c == '"')
        quoted = false;
      else
        fields.back() += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  return fields;
}

std::vector<std::vector<std::string>> ReadCsv(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) rows.push_back(SplitCsvLine(line));
  return rows;
}

bool ParseNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

// What a CSV field says the cell must hold; the message is empty when the cell agrees.
std::string Compare(const std::string& field, const CellValue& cell) {
  // Formulas and error values read as empty cells; a boolean TRUE as the integer 1.
  const bool empty = field.empty() || field[0] == '=' || field == "#DIV/0!" || field == "#N/A";
  if (empty) return cell.Kind() == CellKind::Empty ? "" : "expected an empty cell";
  double expected = 0.0;
  if (field == "TRUE")
    expected = 1.0;
  else if (!ParseNumber(field, expected))
    expected = std::nan("");
  switch (cell.Kind()) {
    case CellKind::Integer:
      return cell.IntegerValue() == expected ? ""
                                             : "integer " + std::to_string(cell.IntegerValue());
    case CellKind::Real: {
      // Numbers stored as hundredths are decoded as payload x 0.01, which may land one
      // unit in the last place away from payload / 100.
      const double got = cell.RealValue();
      const bool near = got == expected || std::nextafter(got, expected) == expected;
      return near ? "" : "real " + std::to_string(got);
    }
    case CellKind::Text:
      return field == cell.TextValue() ? "" : std::string("text ") + cell.TextValue();
    case CellKind::WideText: {
      const std::string text = Utf16ToUtf8(cell.WideTextValue());
      return field == text ? "" : "wide text " + text;
    }
    case CellKind::Empty:
      return "empty";
  }
  return "unknown kind";
}

struct Fixture {
  const char* file;
  std::uint32_t rows;  // extent of the first sheet
  std::uint32_t columns;
  std::uint32_t sheets;
};

class FixtureTest : public ::testing::TestWithParam<Fixture> {};

TEST_P(FixtureTest, SheetsEqualTheirCsvSources) {
  const Fixture& fixture = GetParam();
  XlsDocument document;
  ASSERT_TRUE(document.Load((kFixtures + fixture.file).c_str()));
  ASSERT_EQ(document.SheetCount(), fixture.sheets);
  EXPECT_EQ(document.Sheet(0)->RowCount(), fixture.rows);
  EXPECT_EQ(document.Sheet(0)->ColumnCount(), fixture.columns);

  const std::string name(fixture.file);
  const std::string stem = kFixtures + name.substr(0, name.find('.'));
  for (std::uint32_t sheet = 0; sheet < fixture.sheets; ++sheet) {
    const auto csv = ReadCsv(stem + (sheet == 0 ? ".csv" : ".sheet2.csv"));
    ASSERT_FALSE(csv.empty());
    const SheetGrid& grid = *document.Sheet(sheet);
    int mismatches = 0;
    for (std::uint32_t row = 0; row < std::max<std::size_t>(csv.size(), grid.RowCount()); ++row) {
      for (std::uint32_t column = 0; column < 256; ++column) {
        const std::string field =
            row < csv.size() && column < csv[row].size() ? csv[row][column] : std::string();
        const std::string problem = Compare(field, *grid.CellAt(row, column));
        if (!problem.empty() && ++mismatches <= 5) {
          ADD_FAILURE() << name << " sheet " << sheet << " row " << row << " column " << column
                        << ": CSV '" << field << "', read " << problem;
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Workbooks, FixtureTest,
    ::testing::Values(
        Fixture{"nested_balanced.lo.xls", 121, 5, 1}, Fixture{"nested_balanced.gn.xls", 121, 5, 1},
        Fixture{"nested_balanced.xlwt.xls", 121, 5, 1},
        Fixture{"nested_unbalanced.lo.xls", 159, 4, 1},
        Fixture{"nested_unbalanced.gn.xls", 159, 4, 1},
        Fixture{"nested_unbalanced.xlwt.xls", 159, 4, 1},
        Fixture{"blocked_balanced.lo.xls", 163, 7, 1},
        Fixture{"blocked_balanced.gn.xls", 163, 7, 1},
        Fixture{"blocked_balanced.xlwt.xls", 163, 7, 1},
        Fixture{"blocked_unbalanced.lo.xls", 123, 6, 1},
        Fixture{"blocked_unbalanced.gn.xls", 123, 6, 1},
        Fixture{"blocked_unbalanced.xlwt.xls", 123, 6, 1},
        Fixture{"repeat_balanced.lo.xls", 145, 6, 1}, Fixture{"repeat_balanced.gn.xls", 145, 6, 1},
        Fixture{"repeat_balanced.xlwt.xls", 145, 6, 1},
        Fixture{"repeat_unbalanced.lo.xls", 166, 7, 1},
        Fixture{"repeat_unbalanced.gn.xls", 166, 7, 1},
        Fixture{"repeat_unbalanced.xlwt.xls", 166, 7, 1},
        Fixture{"nested_10000.lo.xls", 10001, 7, 1},
        Fixture{"hdr_block_lowercase.lo.xls", 25, 5, 1},
        Fixture{"hdr_block_female_male.gn.xls", 25, 5, 1},
        Fixture{"hdr_trait_space.lo.xls", 25, 4, 1},
        Fixture{"hdr_trait_lowercase.gn.xls", 25, 5, 1},
        Fixture{"hdr_trait2_first.xlwt.xls", 33, 6, 1}, Fixture{"hdr_trait_gap.lo.xls", 25, 5, 1},
        Fixture{"hdr_male_female_block.gn.xls", 25, 4, 1},
        Fixture{"cell_text_in_trait.lo.xls", 25, 5, 1},
        Fixture{"cell_text_in_factor.xlwt.xls", 25, 5, 1},
        Fixture{"cell_empty_factor.gn.xls", 25, 4, 1}, Fixture{"rows_three_only.lo.xls", 4, 4, 1},
        Fixture{"rows_four_only.gn.xls", 5, 4, 1}, Fixture{"cols_26_numeric.gn.xls", 7, 26, 1},
        Fixture{"cols_note_in_26.lo.xls", 25, 26, 1}, Fixture{"cols_note_in_25.gn.xls", 25, 25, 1},
        Fixture{"codes_fractional.xlwt.xls", 25, 4, 1},
        Fixture{"last_trait_missing.lo.xls", 25, 5, 1},
        Fixture{"stray_number_below.gn.xls", 29, 4, 1},
        Fixture{"stray_number_col1.xlwt.xls", 28, 4, 1},
        Fixture{"repeat_no_traits.lo.xls", 33, 4, 1},
        Fixture{"blocked_no_traits.xlwt.xls", 25, 3, 1}, Fixture{"cols_two_only.lo.xls", 25, 2, 1},
        Fixture{"header_only.gn.xls", 1, 4, 1}, Fixture{"second_worksheet.lo.xls", 25, 5, 2},
        Fixture{"second_worksheet.gn.xls", 25, 5, 2},
        Fixture{"second_worksheet.xlwt.xls", 25, 5, 2},
        Fixture{"notes_below_data.gn.xls", 29, 6, 1}, Fixture{"wide_text_notes.lo.xls", 27, 6, 1},
        Fixture{"wide_factor_header.xlwt.xls", 25, 4, 1},
        Fixture{"wide_ascii_header.xlwt.xls", 25, 4, 1},
        Fixture{"formula_in_trait.lo.xls", 25, 4, 1}, Fixture{"bool_in_trait.xlwt.xls", 25, 4, 1},
        Fixture{"error_in_trait.xlwt.xls", 25, 4, 1}, Fixture{"traits_20.lo.xls", 13, 22, 1},
        Fixture{"traits_23.gn.xls", 13, 25, 1}, Fixture{"males_101.xlwt.xls", 203, 4, 1},
        Fixture{"sst_continue_header_last.xlwt.xls", 25, 7, 1},
        Fixture{"codes_large.gn.xls", 19, 4, 1}),
    [](const ::testing::TestParamInfo<Fixture>& param) {
      std::string name = param.param.file;
      name = name.substr(0, name.rfind('.'));
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(FixtureCells, WideTextAndBooleansAreTheirOwnKinds) {
  XlsDocument document;
  ASSERT_TRUE(document.Load((kFixtures + "wide_ascii_header.xlwt.xls").c_str()));
  EXPECT_EQ(document.Sheet(0)->CellAt(0, 0)->Kind(), CellKind::WideText);
  EXPECT_EQ(document.Sheet(0)->CellAt(0, 0)->TextValue(), nullptr);
  ASSERT_TRUE(document.Load((kFixtures + "bool_in_trait.xlwt.xls").c_str()));
  EXPECT_EQ(document.Sheet(0)->CellAt(6, 2)->Kind(), CellKind::Integer);
  EXPECT_EQ(document.Sheet(0)->CellAt(6, 2)->IntegerValue(), 1);
}

}  // namespace
}  // namespace Kalvex
