// Sheet validation on grids built in memory: layouts, extent, cells, and the exact messages.
#include "import/read_design_sheet.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using Kalvex::SheetGrid;

// Builds a grid from comma-separated lines. A cell is a number (Integer without a point
// or exponent, Real otherwise), "u:text" for 16-bit text, "=..." for a formula (left
// Empty, as the reader leaves it), empty for a blank, anything else narrow text. The
// extent is the longest line by the number of lines unless given.
SheetGrid MakeGrid(const std::vector<std::string>& lines, std::uint32_t rows = 0,
                   std::uint32_t cols = 0) {
  std::vector<std::vector<std::string>> cells;
  std::uint32_t width = 0;
  for (const std::string& line : lines) {
    std::vector<std::string> row;
    std::stringstream in(line);
    std::string token;
    while (std::getline(in, token, ',')) row.push_back(token);
    if (!line.empty() && line.back() == ',') row.push_back("");
    width = std::max<std::uint32_t>(width, static_cast<std::uint32_t>(row.size()));
    cells.push_back(row);
  }
  SheetGrid grid;
  grid.Reset(rows != 0 ? rows : static_cast<std::uint32_t>(cells.size()), cols != 0 ? cols : width);
  for (std::uint32_t r = 0; r < cells.size(); ++r) {
    for (std::uint32_t c = 0; c < cells[r].size(); ++c) {
      const std::string& t = cells[r][c];
      if (t.empty() || t[0] == '=') continue;
      Kalvex::CellValue* cell = grid.CellAt(r, c);
      char* end = nullptr;
      const double number = std::strtod(t.c_str(), &end);
      if (*end == '\0') {
        if (t.find_first_of(".eE") == std::string::npos) {
          cell->SetInteger(static_cast<std::int32_t>(number));
        } else {
          cell->SetReal(number);
        }
      } else if (t.rfind("u:", 0) == 0) {
        const std::u16string wide(t.begin() + 2, t.end());
        cell->SetWideText(wide.c_str());
      } else {
        cell->SetText(t.c_str());
      }
    }
  }
  return grid;
}

// A header line followed by `count` generated observations: factor codes cycle through
// small ranges, traits are 10 * observation + trait.
std::vector<std::string> Sheet(const std::string& header, int factors, int traits, int count) {
  std::vector<std::string> lines = {header};
  for (int i = 1; i <= count; ++i) {
    std::string line;
    for (int f = 0; f < factors; ++f) line += std::to_string(1 + (i + f) % (2 + f)) + ",";
    for (int t = 1; t <= traits; ++t) line += std::to_string(10 * i + t) + ".5,";
    line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::optional<std::string> Validate(const std::vector<std::string>& lines, DesignSheet& sheet) {
  return ReadDesignSheet(MakeGrid(lines), sheet);
}

std::string Message(const std::vector<std::string>& lines) {
  DesignSheet sheet;
  return ReadDesignSheet(MakeGrid(lines), sheet).value_or("(accepted)");
}

TEST(ReadDesignSheet, AcceptsTheThreeLayouts) {
  DesignSheet sheet;
  ASSERT_EQ(Validate(Sheet("Male,Female,Trait1,Trait2", 2, 2, 10), sheet), std::nullopt);
  EXPECT_EQ(sheet.data.kind, ModelKind::Nested);
  EXPECT_EQ(sheet.data.factorCount, 2);
  EXPECT_EQ(sheet.data.traitCount, 2);
  EXPECT_EQ(sheet.data.observationCount, 10);
  EXPECT_EQ(sheet.rows, 11);
  EXPECT_EQ(sheet.cols, 4);
  EXPECT_EQ(sheet.data.factorNames,
            (std::array<std::string, 4>{"Male", "Female", "Trait1", "Trait2"}));
  EXPECT_EQ(sheet.traitNames, (std::vector<std::string>{"Trait1", "Trait2"}));
  ASSERT_EQ(sheet.data.factorCodes.size(), 2u);
  EXPECT_EQ(sheet.data.factorCodes[0][0], 2);  // observation 1: 1 + 1 % 2
  EXPECT_EQ(sheet.data.factorCodes[1][0], 3);  // 1 + 2 % 3
  EXPECT_EQ(sheet.data.traitValues[1][9], 102.5);
  EXPECT_EQ(sheet.data.levelCounts, (std::array<int, 4>{2, 3, 0, 0}));
  EXPECT_EQ(sheet.data.levelCodes[1], (std::vector<std::int32_t>{1, 2, 3}));

  ASSERT_EQ(Validate(Sheet("Block,Male,Female,Trait1", 3, 1, 4), sheet), std::nullopt);
  EXPECT_EQ(sheet.data.kind, ModelKind::Blocked);
  EXPECT_EQ(sheet.data.factorCount, 3);
  EXPECT_EQ(sheet.data.traitCount, 1);

  ASSERT_EQ(Validate(Sheet("Block,Male,Female,Repeat,Trait1", 4, 1, 6), sheet), std::nullopt);
  EXPECT_EQ(sheet.data.kind, ModelKind::BlockedRepeat);
  EXPECT_EQ(sheet.data.factorCount, 4);
  EXPECT_EQ(sheet.data.traitCount, 1);
  EXPECT_EQ(sheet.data.levelCounts[3], 5);

  // No trait columns at all.
  ASSERT_EQ(Validate(Sheet("Block,Male,Female,Repeat", 4, 0, 6), sheet), std::nullopt);
  EXPECT_EQ(sheet.data.kind, ModelKind::BlockedRepeat);
  EXPECT_EQ(sheet.data.traitCount, 0);
  ASSERT_EQ(Validate(Sheet("Block,Male,Female", 3, 0, 6), sheet), std::nullopt);
  EXPECT_EQ(sheet.data.kind, ModelKind::Blocked);
  EXPECT_EQ(sheet.data.traitCount, 0);
  EXPECT_EQ(sheet.data.factorNames[3], "");
}

TEST(ReadDesignSheet, HeaderMessages) {
  EXPECT_EQ(Message(Sheet("Male,Female,Block,Trait1", 3, 1, 5)),
            "Trait Name Error!\n At Row 1 Col 3 ");
  EXPECT_EQ(Message(Sheet("block,Male,Female,Trait1", 3, 1, 5)),
            " Data Error With Factor Names!\n");
  EXPECT_EQ(Message(Sheet("Block,Female,Male,Trait1", 3, 1, 5)),
            " Data Error With Factor Names!\n");
  EXPECT_EQ(Message(Sheet("MALE,Female,Trait1", 2, 1, 5)), " Data Error With Factor Names!\n");
  // A 16-bit header cell reads as an empty name, even when its text is plain ASCII.
  EXPECT_EQ(Message(Sheet("u:Male,Female,Trait1", 2, 1, 5)), " Data Error With Factor Names!\n");
  EXPECT_EQ(Message(Sheet("Male,Female,u:Trait1", 2, 1, 5)), "Trait Name Error!\n At Row 1 Col 3 ");
  for (const char* first : {"Trait 1", "trait1", "Yield", "Trait2", "Trait01", ""}) {
    EXPECT_EQ(Message(Sheet(std::string("Block,Male,Female,") + first + ",Trait2", 3, 2, 5)),
              "Trait Name Error!\n At Row 1 Col 4 ")
        << first;
  }
  EXPECT_EQ(Message(Sheet("Male,Female,Trait1,Trait3,Trait4", 2, 3, 5)),
            "Trait Name Error!\n At Row 1 Col 4 ");
  EXPECT_EQ(Message(Sheet("Block,Male,Female,Repeat,Trait2,Trait3", 4, 2, 5)),
            "Trait Name Error!\n At Row 1 Col 5 ");
}

TEST(ReadDesignSheet, ExtentMessages) {
  // Grid bounds: fewer than 2 rows, fewer than 3 or more than 25 columns.
  EXPECT_EQ(Message({"Male,Female,Trait1"}), "Data Error!");
  EXPECT_EQ(Message(Sheet("Male,Female", 2, 0, 6)), "Data Error!");
  // Only text: no numeric cell.
  EXPECT_EQ(Message({"Male,Female,Trait1", "a,b,c", "d,e,f"}), "Data Error!");
  // Header and three observations.
  EXPECT_EQ(Message(Sheet("Male,Female,Trait1,Trait2", 2, 2, 3)), "Data Error!");
  EXPECT_EQ(Message(Sheet("Male,Female,Trait1,Trait2", 2, 2, 4)), "(accepted)");
  // 26 columns of numbers; and a grid reported 26 wide whose numbers end sooner.
  std::string header26 = "Male,Female";
  for (int t = 1; t <= 24; ++t) header26 += ",Trait" + std::to_string(t);
  EXPECT_EQ(Message(Sheet(header26, 2, 24, 6)), "Data Error!");
  std::vector<std::string> note26 = Sheet("Male,Female,Trait1", 2, 1, 6);
  note26[2] += ",,,,,,,,,,,,,,,,,,,,,,,note";  // a note in column 26
  EXPECT_EQ(Message(note26), "Data Error!");
  DesignSheet sheet;
  EXPECT_EQ(ReadDesignSheet(MakeGrid(Sheet("Male,Female,Trait1", 2, 1, 6), 7, 26), sheet),
            "Data Error!");
  // A number below the data extends the region down to it: the first empty row fails.
  std::vector<std::string> stray = Sheet("Male,Female,Trait1,Trait2", 2, 2, 24);
  stray.insert(stray.end(), {"", "", "", ",,7"});
  EXPECT_EQ(Message(stray), "Data Error!\n At Row 26 Col 1 ");
  // ... and one in column 1 makes the region one column wide.
  std::vector<std::string> strayFirst = Sheet("Male,Female,Trait1,Trait2", 2, 2, 24);
  strayFirst.insert(strayFirst.end(), {"", "7"});
  EXPECT_EQ(Message(strayFirst), "Data Error!");
}

TEST(ReadDesignSheet, RegionEndsAtTheLastNumber) {
  // The last row lacks its last trait: that trait column is left out everywhere.
  std::vector<std::string> lines = Sheet("Male,Female,Trait1,Trait2,Trait3", 2, 3, 8);
  lines.back() = lines.back().substr(0, lines.back().rfind(','));
  DesignSheet sheet;
  ASSERT_EQ(Validate(lines, sheet), std::nullopt);
  EXPECT_EQ(sheet.data.traitCount, 2);
  EXPECT_EQ(sheet.cols, 4);
  EXPECT_EQ(sheet.traitNames.size(), 2u);
  ASSERT_EQ(sheet.leftOutColumns.size(), 1u);
  EXPECT_EQ(sheet.leftOutColumns[0].column, 5);
  EXPECT_EQ(LeftOutColumnsWarning(sheet),
            "Trait column Trait3 (column 5) left out for every row: the data region ends at the "
            "last number of the sheet (row 9, column 4), and row 9 has no number in this column.");

  // Several columns, one without a narrow-text header and one filled in a single row only;
  // an empty column between them holds nothing to lose.
  lines = Sheet("Male,Female,Trait1,Trait2,Trait3,,u:Trait5,Trait6", 2, 3, 8);
  for (std::size_t r = 1; r < lines.size(); ++r) lines[r] += r == 4 ? ",,7,8" : ",,7,";
  lines.back() = "1,1,1.5";
  ASSERT_EQ(Validate(lines, sheet), std::nullopt);
  EXPECT_EQ(sheet.cols, 3);
  EXPECT_EQ(LeftOutColumnsWarning(sheet),
            "Trait columns Trait2 (column 4), Trait3 (column 5), column 7 and Trait6 (column 8) "
            "left out for every row: the data region ends at the last number of the sheet (row 9, "
            "column 3), and row 9 has no number in these columns.");

  // Text notes below the data and to its right, with no number in them, are ignored.
  lines = Sheet("Male,Female,Trait1,Trait2", 2, 2, 8);
  lines[1] += ",,see note";
  lines.insert(lines.end(), {"", "Notes: ,u:\xd0\x9c", ",,,,,,,,,,,,,,,,,,,,,,,,end"});
  ASSERT_EQ(Validate(lines, sheet), std::nullopt);
  EXPECT_EQ(sheet.rows, 9);
  EXPECT_EQ(sheet.cols, 4);
  EXPECT_EQ(sheet.data.observationCount, 8);
  EXPECT_TRUE(sheet.leftOutColumns.empty());
  EXPECT_EQ(LeftOutColumnsWarning(sheet), "");
}

TEST(ReadDesignSheet, CellMessages) {
  std::vector<std::string> lines = Sheet("Male,Female,Trait1,Trait2", 2, 2, 6);
  lines[2] = "1,,3,4";  // row 3, Female empty
  EXPECT_EQ(Message(lines), "Data Error!\n At Row 3 Col 2 ");

  lines = Sheet("Male,Female,Trait1,Trait2,Trait3", 2, 3, 6);
  lines[3] = "1,2,3,4,n.a.";  // row 4, column 5 is a trait
  EXPECT_EQ(Message(lines), "Data Error!\nRow 4 Col 5 ");

  lines = Sheet("Male,Female,Trait1,Trait2", 2, 2, 6);
  lines[4] = "1,2,3,=C5+C6";  // a formula reads as empty
  EXPECT_EQ(Message(lines), "Data Error!\nRow 5 Col 4 ");

  lines = Sheet("Block,Male,Female,Trait1", 3, 1, 6);
  lines[5] = "B2,1,2,3.5";
  EXPECT_EQ(Message(lines), "Data Error!\n At Row 6 Col 1 ");

  lines = Sheet("Male,Female,Trait1", 2, 1, 6);
  lines[2] = "u:1,2,3";
  EXPECT_EQ(Message(lines), "Data Error!\n At Row 3 Col 1 ");

  // Factor cells come before trait cells within a row, rows in order.
  lines = Sheet("Male,Female,Trait1", 2, 1, 6);
  lines[2] = "1,2,x";
  lines[3] = "1,,3";
  EXPECT_EQ(Message(lines), "Data Error!\nRow 3 Col 3 ");
  lines[2] = "x,2,x";
  EXPECT_EQ(Message(lines), "Data Error!\n At Row 3 Col 1 ");
}

// NaN and the infinities are numbers to the reader but no measurement: each is refused
// at its cell with the message of a text cell, also as the very last cell of the sheet.
TEST(ReadDesignSheet, NanAndInfinityAreNotNumbers) {
  const double quietNan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  const std::vector<std::string> lines = Sheet("Block,Male,Female,Trait1,Trait2", 3, 2, 6);
  struct Case {
    std::uint32_t row, column;  // 0-based
    double value;
    const char* message;
  } cases[] = {
      {2, 3, quietNan, "Data Error!\nRow 3 Col 4 "},
      {4, 4, infinity, "Data Error!\nRow 5 Col 5 "},
      {6, 4, -infinity, "Data Error!\nRow 7 Col 5 "},  // the sheet's last cell
      {6, 4, quietNan, "Data Error!\nRow 7 Col 5 "},
      {3, 1, quietNan, "Data Error!\n At Row 4 Col 2 "},
      {5, 0, -infinity, "Data Error!\n At Row 6 Col 1 "},
  };
  for (const Case& c : cases) {
    SheetGrid grid = MakeGrid(lines);
    grid.CellAt(c.row, c.column)->SetReal(c.value);
    DesignSheet sheet;
    EXPECT_EQ(ReadDesignSheet(grid, sheet), c.message) << c.row << "," << c.column;
  }
  // The largest finite values are measurements.
  SheetGrid grid = MakeGrid(lines);
  grid.CellAt(2, 3)->SetReal(std::numeric_limits<double>::max());
  grid.CellAt(3, 4)->SetReal(-std::numeric_limits<double>::denorm_min());
  DesignSheet sheet;
  EXPECT_EQ(ReadDesignSheet(grid, sheet), std::nullopt);
}

TEST(ReadDesignSheet, CodesAndValues) {
  DesignSheet sheet;
  std::vector<std::string> lines = {
      "Male,Female,Trait1", "2.7,-0.5,7", "-1.5,1,2.25", "10,3,3", "20,1,4", "30,3,5",
      "600000001.9,2,6"};
  ASSERT_EQ(Validate(lines, sheet), std::nullopt);
  EXPECT_EQ(sheet.data.factorCodes[0], (std::vector<std::int32_t>{2, -1, 10, 20, 30, 600000001}));
  EXPECT_EQ(sheet.data.factorCodes[1], (std::vector<std::int32_t>{0, 1, 3, 1, 3, 2}));
  EXPECT_EQ(sheet.data.traitValues[0], (std::vector<double>{7, 2.25, 3, 4, 5, 6}));
  EXPECT_EQ(sheet.data.levelCodes[0], (std::vector<std::int32_t>{-1, 2, 10, 20, 30, 600000001}));
  EXPECT_EQ(sheet.data.levelCodes[1], (std::vector<std::int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(sheet.data.levelCounts[0], 6);

  // A factor value with no 32-bit code is refused at its cell rather than wrapped.
  for (const char* code : {"3e9", "-2147483649.0", "1e300"}) {
    lines[4] = std::string("20,") + code + ",4";
    EXPECT_EQ(Message(lines), "Data Error!\n At Row 5 Col 2 ") << code;
  }
  lines[4] = "-2147483648.7,1,4";
  ASSERT_EQ(Validate(lines, sheet), std::nullopt);
  EXPECT_EQ(sheet.data.factorCodes[0][3], INT32_MIN);
}

TEST(ReadDesignSheet, HoldsAllTraitNamesAndAnyNumberOfLevels) {
  std::string header = "Male,Female";
  for (int t = 1; t <= 23; ++t) header += ",Trait" + std::to_string(t);
  DesignSheet sheet;
  ASSERT_EQ(Validate(Sheet(header, 2, 23, 12), sheet), std::nullopt);
  EXPECT_EQ(sheet.data.traitCount, 23);
  ASSERT_EQ(sheet.traitNames.size(), 23u);
  EXPECT_EQ(sheet.traitNames[22], "Trait23");
  EXPECT_EQ(sheet.cols, 25);

  std::vector<std::string> lines = {"Male,Female,Trait1"};
  for (int i = 0; i < 300; ++i)
    lines.push_back(std::to_string(1000 - 3 * (i % 150)) + ",1," + std::to_string(i));
  ASSERT_EQ(Validate(lines, sheet), std::nullopt);
  EXPECT_EQ(sheet.data.levelCounts[0], 150);
  ASSERT_EQ(sheet.data.levelCodes[0].size(), 150u);
  EXPECT_EQ(sheet.data.levelCodes[0].front(), 553);
  EXPECT_EQ(sheet.data.levelCodes[0].back(), 1000);
}

TEST(ReadDesignSheet, FailureLeavesTheCallersSheetWhole) {
  DesignSheet sheet;
  ASSERT_EQ(Validate(Sheet("Male,Female,Trait1,Trait2", 2, 2, 10), sheet), std::nullopt);
  const DesignSheet before = sheet;
  // Fails in the observations, after the header of another layout was recognised.
  std::vector<std::string> bad = Sheet("Block,Male,Female,Repeat,Trait1", 4, 1, 8);
  bad[7] = "1,2,3,,5";
  ASSERT_EQ(Validate(bad, sheet), "Data Error!\n At Row 8 Col 4 ");
  EXPECT_EQ(sheet.data.kind, ModelKind::Nested);
  EXPECT_EQ(sheet.data.factorCodes, before.data.factorCodes);
  EXPECT_EQ(sheet.data.traitValues, before.data.traitValues);
  EXPECT_EQ(sheet.data.observationCount, 10);
  EXPECT_EQ(sheet.traitNames, before.traitNames);
}

// The largest sheet: 65,535 observations, the last row at the grid's cap.
TEST(ReadDesignSheet, FullHeightSheet) {
  SheetGrid grid;
  grid.Reset(65536, 4);
  const char* header[] = {"Male", "Female", "Trait1", "Trait2"};
  for (std::uint32_t c = 0; c < 4; ++c) grid.CellAt(0, c)->SetText(header[c]);
  for (std::uint32_t r = 1; r < 65536; ++r) {
    grid.CellAt(r, 0)->SetInteger(static_cast<std::int32_t>(r % 300));
    grid.CellAt(r, 1)->SetInteger(static_cast<std::int32_t>(r % 5));
    grid.CellAt(r, 2)->SetReal(r * 0.5);
    grid.CellAt(r, 3)->SetInteger(static_cast<std::int32_t>(r));
  }
  DesignSheet sheet;
  ASSERT_EQ(ReadDesignSheet(grid, sheet), std::nullopt);
  EXPECT_EQ(sheet.data.observationCount, 65535);
  EXPECT_EQ(sheet.rows, 65536);
  EXPECT_EQ(sheet.data.levelCounts[0], 300);
  EXPECT_EQ(sheet.data.traitValues[1][65534], 65535.0);
}

}  // namespace
}  // namespace quorvel
