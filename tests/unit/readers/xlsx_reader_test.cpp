// Office Open XML workbooks: cell types, shared strings, references, sheet order, part
// names, the date systems, and hostile packages.
#include "xlsx/xlsx_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/zip_builder.h"
#include "tests/unit/readers/grid_text.h"

namespace Kalvex {
namespace {

using quorvel::testing::BuildZip;
using quorvel::testing::Bytes;
using quorvel::testing::MinimalXlsx;
using quorvel::testing::WorksheetXml;

std::vector<SheetGrid> Read(const Bytes& file, bool expected = true) {
  std::vector<SheetGrid> grids;
  EXPECT_EQ(ReadXlsxWorkbook(ByteSpan(file), grids), expected);
  return grids;
}

const char* const kStrings =
    "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<si><t>Male</t></si>"
    "<si><r><rPr><b/></rPr><t>Fe</t></r><r><t xml:space=\"preserve\">male </t></r>"
    "<rPh sb=\"0\" eb=\"1\"><t>PHONETIC</t></rPh></si>"
    "<si><t>a_x000D_b_x005F_x0041_</t></si>"
    "<si><t></t></si></sst>";

TEST(Xlsx, CellTypesGiveTheCellKindsOfXls) {
  const std::vector<SheetGrid> grids = Read(MinimalXlsx(
      {WorksheetXml(
          "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
          "<c r=\"C1\" t=\"s\"><v>2</v></c><c r=\"D1\" t=\"s\"><v>3</v></c><c r=\"E1\" "
          "t=\"s\"><v>9</v></c></row>"
          "<row r=\"2\"><c r=\"A2\"><v>305.508</v></c><c r=\"B2\" t=\"n\"><v>-1E-3</v></c>"
          "<c r=\"C2\" t=\"b\"><v>1</v></c><c r=\"D2\" t=\"b\"><v>0</v></c><c r=\"E2\" "
          "t=\"e\"><v>#DIV/0!</v></c></row>"
          "<row r=\"3\"><c r=\"A3\"><f>B2*2</f><v>4</v></c><c r=\"B3\" "
          "t=\"str\"><f>\"x\"</f><v>x</v></c>"
          "<c r=\"C3\" t=\"str\"><v>plain</v></c><c r=\"D3\" "
          "t=\"inlineStr\"><is><r><t>in</t></r><r><t>line</t></r></is></c>"
          "<c r=\"E3\" s=\"4\"/><c r=\"F3\"><v>nan</v></c></row>")},
      kStrings));
  ASSERT_EQ(grids.size(), 1u);
  const SheetGrid& grid = grids[0];
  EXPECT_EQ(grid.MaxRows(), SheetGrid::kLargeMaxRows);
  EXPECT_EQ(TextAt(grid, 0, 0), "Male");
  EXPECT_EQ(TextAt(grid, 0, 1), "Female ");  // runs joined, phonetic text left out
  EXPECT_EQ(TextAt(grid, 0, 2), "a\rb_x0041_");
  EXPECT_EQ(grid.CellAt(0, 3)->Kind(), CellKind::Empty);  // empty string
  EXPECT_EQ(grid.CellAt(0, 4)->Kind(), CellKind::Empty);  // index past the table
  EXPECT_EQ(grid.CellAt(1, 0)->RealValue(), 305.508);
  EXPECT_EQ(grid.CellAt(1, 1)->RealValue(), -0.001);
  EXPECT_EQ(grid.CellAt(1, 2)->Kind(), CellKind::Integer);
  EXPECT_EQ(grid.CellAt(1, 2)->IntegerValue(), 1);
  EXPECT_EQ(grid.CellAt(1, 3)->IntegerValue(), 0);
  EXPECT_EQ(grid.CellAt(1, 4)->Kind(), CellKind::Empty);  // error
  EXPECT_EQ(grid.CellAt(2, 0)->Kind(), CellKind::Empty);  // formula with a cached number
  EXPECT_EQ(grid.CellAt(2, 1)->Kind(), CellKind::Empty);  // formula with a cached string
  EXPECT_EQ(TextAt(grid, 2, 2), "plain");
  EXPECT_EQ(TextAt(grid, 2, 3), "inline");
  EXPECT_EQ(grid.CellAt(2, 5)->Kind(), CellKind::Empty);  // not a C-locale number
  EXPECT_EQ(grid.RowCount(), 3u);
  EXPECT_EQ(grid.ColumnCount(), 6u);  // the styled empty cell at E3 and F3 count too
}

TEST(Xlsx, RowsAndCellsWithoutReferencesFollowThePreviousOnes) {
  const std::vector<SheetGrid> grids = Read(MinimalXlsx({WorksheetXml(
      "<row><c><v>1</v></c><c><v>2</v></c></row>"
      "<row r=\"4\"><c r=\"C4\"><v>3</v></c><c><v>4</v></c></row>"
      "<row><c><v>5</v></c><c r=\"XFE5\"><v>6</v></c><c r=\"A1048577\"><v>7</v></c></row>")}));
  const SheetGrid& grid = grids.at(0);
  EXPECT_EQ(grid.CellAt(0, 0)->RealValue(), 1.0);
  EXPECT_EQ(grid.CellAt(0, 1)->RealValue(), 2.0);
  EXPECT_EQ(grid.CellAt(3, 2)->RealValue(), 3.0);
  EXPECT_EQ(grid.CellAt(3, 3)->RealValue(), 4.0);
  EXPECT_EQ(grid.CellAt(4, 0)->RealValue(), 5.0);
  EXPECT_EQ(grid.RowCount(), 5u);  // cells beyond the caps are dropped
  EXPECT_EQ(grid.ColumnCount(), 4u);

  // The last row and column the format allows are kept.
  const std::vector<SheetGrid> corner = Read(
      MinimalXlsx({WorksheetXml("<row r=\"1048576\"><c r=\"XFD1048576\"><v>8</v></c></row>")}));
  EXPECT_EQ(corner.at(0).RowCount(), 1048576u);
  EXPECT_EQ(corner.at(0).ColumnCount(), 16384u);
  EXPECT_EQ(corner.at(0).CellAt(1048575, 16383)->RealValue(), 8.0);
  EXPECT_EQ(corner.at(0).StoredRowCount(), 1u);
}

TEST(Xlsx, DatesBecomeSerialsOfTheWorkbooksDateSystem) {
  const std::string sheet = WorksheetXml(
      "<row r=\"1\"><c r=\"A1\" t=\"d\"><v>2019-03-01T18:00:00</v></c><c r=\"B1\" "
      "t=\"d\"><v>1900-01-01</v></c>"
      "<c r=\"C1\" t=\"d\"><v>1900-03-01</v></c><c r=\"D1\" t=\"d\"><v>yesterday</v></c></row>");
  const std::vector<SheetGrid> grids = Read(MinimalXlsx({sheet}));
  EXPECT_EQ(grids.at(0).CellAt(0, 0)->RealValue(), 43525.75);
  EXPECT_EQ(grids.at(0).CellAt(0, 1)->RealValue(), 1.0);  // the 1900 system counts 1900-02-29
  EXPECT_EQ(grids.at(0).CellAt(0, 2)->RealValue(), 61.0);
  EXPECT_EQ(grids.at(0).CellAt(0, 3)->Kind(), CellKind::Empty);
  const std::vector<SheetGrid> mac = Read(MinimalXlsx({sheet}, "", "<workbookPr date1904=\"1\"/>"));
  EXPECT_EQ(mac.at(0).CellAt(0, 0)->RealValue(), 43525.75 - 1462);
}

// Sheets come in the workbook's order, whatever the part names; chart sheets are left out;
// targets may be absolute, relative with "..", or percent-encoded; names ignore case.
TEST(Xlsx, SheetOrderAndPartNamesFollowTheWorkbook) {
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::string strictRel = "http://purl.oclc.org/ooxml/officeDocument/relationships";
  const Bytes file = BuildZip({
      {"[content_types].xml", "<Types/>"},
      {"_rels/.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"a\" Type=\"" +
           strictRel +
           "/officeDocument\" Target=\"/book/main.xml\"/>"
           "</Relationships>"},
      {"book/main.xml",
       "<workbook xmlns=\"http://purl.oclc.org/ooxml/spreadsheetml/main\" xmlns:r=\"" + strictRel +
           "\"><sheets><sheet name=\"B\" r:id=\"r2\"/><sheet name=\"C\" r:id=\"r3\"/>"
           "<sheet name=\"A\" r:id=\"r1\"/></sheets></workbook>"},
      {"book/_rels/main.xml.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"r1\" Type=\"" +
           strictRel +
           "/worksheet\" Target=\"/Sheets/One.xml\"/>"
           "<Relationship Id=\"r2\" Type=\"" +
           rel +
           "/worksheet\" Target=\"../sheets/two%20b.xml\"/>"
           "<Relationship Id=\"r3\" Type=\"" +
           rel + "/chartsheet\" Target=\"chart.xml\"/></Relationships>"},
      {"sheets/one.xml", WorksheetXml("<row><c><v>1</v></c></row>")},
      {"sheets/two b.xml", WorksheetXml("<row><c><v>2</v></c></row>")},
  });
  const std::vector<SheetGrid> grids = Read(file);
  ASSERT_EQ(grids.size(), 2u);
  EXPECT_EQ(grids[0].CellAt(0, 0)->RealValue(), 2.0);
  EXPECT_EQ(grids[1].CellAt(0, 0)->RealValue(), 1.0);

  std::vector<SheetGrid> first;
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(ByteSpan(file)));
  ASSERT_TRUE(ReadXlsxWorkbook(archive, first, true));
  EXPECT_EQ(first.size(), 1u);
}

TEST(Xlsx, PartNamesResolve) {
  EXPECT_EQ(ResolvePartName("xl/workbook.xml", "worksheets/sheet1.xml"),
            "xl/worksheets/sheet1.xml");
  EXPECT_EQ(ResolvePartName("xl/workbook.xml", "/xl/worksheets/sheet1.xml"),
            "xl/worksheets/sheet1.xml");
  EXPECT_EQ(ResolvePartName("xl/workbook.xml", "./../a/./b.xml#frag"), "a/b.xml");
  EXPECT_EQ(ResolvePartName("", "xl\\workbook.xml"), "xl/workbook.xml");
  EXPECT_EQ(ResolvePartName("xl/workbook.xml", "../../outside.xml"), "");
  EXPECT_EQ(RelationshipsPartName("xl/workbook.xml"), "xl/_rels/workbook.xml.rels");
  EXPECT_EQ(RelationshipsPartName(""), "_rels/.rels");
  std::uint32_t row = 0;
  std::uint32_t column = 0;
  ASSERT_TRUE(ParseCellReference("XFD1048576", row, column));
  EXPECT_EQ(row, 1048575u);
  EXPECT_EQ(column, 16383u);
  for (const char* bad : {"", "A", "1", "A0", "ABCDE1", "A1B", "$A$1"}) {
    EXPECT_FALSE(ParseCellReference(bad, row, column)) << bad;
  }
}

TEST(Xlsx, DamagedOrIncompletePackagesAreRefused) {
  const std::string sheet = WorksheetXml("<row><c><v>1</v></c></row>");
  Bytes good = MinimalXlsx({sheet});
  Read(good);
  Read(MinimalXlsx({WorksheetXml("<row><c><v>1</v></c></row")}), false);  // not well-formed
  Read(BuildZip({{"[Content_Types].xml", "<Types/>"}}), false);           // no workbook
  // A sheet the workbook lists but the package lacks.
  Bytes missing =
      BuildZip({{"[Content_Types].xml", "<Types/>"},
                {"xl/workbook.xml",
                 "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                 "xmlns:r=\"urn:r\"><sheets><sheet r:id=\"x\"/></sheets></workbook>"},
                {"xl/_rels/workbook.xml.rels",
                 "<Relationships><Relationship Id=\"x\" Type=\"urn:r/worksheet\" "
                 "Target=\"s.xml\"/></Relationships>"}});
  Read(missing, false);
  // Two members of one name: readers would differ on which one is the sheet.
  Read(BuildZip({{"[Content_Types].xml", "<Types/>"},
                 {"xl/workbook.xml", "<a/>"},
                 {"XL/Workbook.xml", "<b/>"}}),
       false);
  // Parts of another language than SpreadsheetML (here the pre-release one of 2006).
  std::string beta = WorksheetXml("<row><c><v>1</v></c></row>");
  beta.replace(beta.find("http://schemas.openxmlformats.org/spreadsheetml/2006/main"), 57,
               "http://schemas.microsoft.com/office/excel/2006/2");
  Read(MinimalXlsx({beta}), false);
  // Damaged package relationships: the workbook is looked for where writers put it.
  Bytes relsDamaged =
      BuildZip({{"[Content_Types].xml", "<Types/>"},
                {"_rels/.rels", "not xml"},
                {"xl/workbook.xml",
                 "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                 "xmlns:r=\"urn:r\"><sheets><sheet r:id=\"x\"/></sheets></workbook>"},
                {"xl/_rels/workbook.xml.rels",
                 "<Relationships><Relationship Id=\"x\" Type=\"urn:r/worksheet\" "
                 "Target=\"s.xml\"/></Relationships>"},
                {"xl/s.xml", sheet}});
  EXPECT_EQ(Read(relsDamaged).at(0).CellAt(0, 0)->RealValue(), 1.0);
  // A damaged member: its checksum no longer matches.
  Bytes corrupt =
      MinimalXlsx({WorksheetXml(std::string(5000, ' ') + "<row><c><v>1</v></c></row>")});
  for (std::size_t i = 100; i < corrupt.size() / 2; i += 7) corrupt[i] ^= 0x5A;
  Read(corrupt, false);
}

// A document type declaration, the way to entity expansion and external fetches, ends the
// read whatever it declares.
TEST(Xlsx, DocumentTypeDeclarationsAreRefused) {
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE w [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
      "\"&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
      "<row><c t=\"inlineStr\"><is><t>&c;</t></is></c></row></sheetData></worksheet>";
  Read(MinimalXlsx({laughs}), false);
  const std::string external =
      "<?xml version=\"1.0\"?><!DOCTYPE w SYSTEM \"file:///etc/passwd\">"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>";
  Read(MinimalXlsx({external}), false);
  const std::string undeclared =
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
      "<row><c t=\"inlineStr\"><is><t>&undeclared;</t></is></c></row></sheetData></worksheet>";
  Read(MinimalXlsx({undeclared}), false);
}

// A member that inflates far past the size of the file is refused, whatever it claims.
TEST(Xlsx, ZipBombsAreRefused) {
  std::string rows = "<row><c><v>1</v></c></row>";
  rows += "<row>" + std::string(ZipArchive::kFloor + 1024, ' ') + "</row>";
  const Bytes bomb = MinimalXlsx({WorksheetXml(rows)});
  ASSERT_LT(bomb.size() * ZipArchive::kRatio, ZipArchive::kFloor);
  Read(bomb, false);

  // Refused on its claim, before anything is inflated; what fits is still read.
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(ByteSpan(bomb)));
  std::string part;
  EXPECT_FALSE(archive.Read(archive.Find("xl/worksheets/sheet1.xml"), part));
  EXPECT_EQ(archive.BudgetLeft(), ZipArchive::kFloor);
  EXPECT_TRUE(archive.Read(archive.Find("xl/workbook.xml"), part));

  // The same member claiming to be small in both its headers.
  Bytes liar = bomb;
  const std::uint32_t claimed = 100;
  for (std::size_t i = 0; i + 46 < liar.size(); ++i) {
    const bool local = liar[i] == 'P' && liar[i + 1] == 'K' && liar[i + 2] == 3 && liar[i + 3] == 4;
    const bool central =
        liar[i] == 'P' && liar[i + 1] == 'K' && liar[i + 2] == 1 && liar[i + 3] == 2;
    if (!local && !central) continue;
    const std::size_t nameAt = i + (local ? 30 : 46);
    const std::size_t nameLength = liar[i + (local ? 26 : 28)] | liar[i + (local ? 27 : 29)] << 8;
    if (std::string(liar.begin() + nameAt, liar.begin() + nameAt + nameLength) !=
        "xl/worksheets/sheet1.xml")
      continue;
    quorvel::testing::Bytes size;
    quorvel::testing::Put32(size, claimed);
    std::copy(size.begin(), size.end(), liar.begin() + i + (local ? 22 : 24));
  }
  ASSERT_TRUE(archive.Open(ByteSpan(liar)));
  EXPECT_FALSE(archive.Read(archive.Find("xl/worksheets/sheet1.xml"), part));
  EXPECT_LE(part.size(), ZipArchive::kFloor);
  Read(liar, false);
}

}  // namespace
}  // namespace Kalvex
