// Real-world workbooks from many writers, some damaged or encrypted: each loads or is
// refused within bounded time and memory, with the worksheet count the walk must yield.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "xls/xls_document.h"

namespace Kalvex {
namespace {

const std::string kCorpus = std::string(QUORVEL_TEST_DATA) + "/xls/corpus/";

enum class Outcome { Refused, NoSheets, Loads };

struct CorpusFile {
  const char* file;
  Outcome outcome;
  std::uint32_t sheets;  // when the outcome is Loads
};

class CorpusTest : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(CorpusTest, LoadsOrIsRefusedCleanly) {
  const CorpusFile& entry = GetParam();
  const std::string path = kCorpus + entry.file;
  const auto fileSize = std::filesystem::file_size(path);
  XlsDocument document;
  const auto start = std::chrono::steady_clock::now();
  const bool loaded = document.Load(path.c_str());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // A guard against a reader that runs away, not a speed figure (the load benchmark
  // measures speed): generous enough for sanitizer builds on a loaded machine.
  EXPECT_LT(seconds, 30.0);

  switch (entry.outcome) {
    case Outcome::Refused:
      EXPECT_FALSE(loaded);
      EXPECT_EQ(document.SheetCount(), 0u);
      break;
    case Outcome::NoSheets:
      EXPECT_EQ(document.SheetCount(), 0u);
      break;
    case Outcome::Loads:
      EXPECT_TRUE(loaded);
      EXPECT_EQ(document.SheetCount(), entry.sheets);
      break;
  }
  // The grids' storage follows the cells written, not the extents the file claims.
  std::size_t cellBytes = 0;
  for (std::uint32_t i = 0; i < document.SheetCount(); ++i) {
    cellBytes += document.Sheet(i)->StoredCellCount() * sizeof(CellValue);
  }
  EXPECT_LT(cellBytes, 64 * fileSize);
}

// Loading from memory sees the same workbook as loading from the file.
TEST_P(CorpusTest, BytesAndPathGiveTheSameSheets) {
  const std::string path = kCorpus + GetParam().file;
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
  XlsDocument fromPath;
  XlsDocument fromBytes;
  EXPECT_EQ(fromPath.Load(path.c_str()), fromBytes.Load(ByteSpan(bytes)));
  ASSERT_EQ(fromPath.SheetCount(), fromBytes.SheetCount());
  for (std::uint32_t i = 0; i < fromPath.SheetCount(); ++i) {
    EXPECT_EQ(fromPath.Sheet(i)->RowCount(), fromBytes.Sheet(i)->RowCount());
    EXPECT_EQ(fromPath.Sheet(i)->ColumnCount(), fromBytes.Sheet(i)->ColumnCount());
    EXPECT_EQ(fromPath.Sheet(i)->StoredRowCount(), fromBytes.Sheet(i)->StoredRowCount());
  }
}

INSTANTIATE_TEST_SUITE_P(
    RealWorld, CorpusTest,
    ::testing::Values(
        // Damaged containers, fuzzer finds of another reader.
        CorpusFile{"clusterfuzz-testcase-minimized-POIHSSFFuzzer-4819588401201152.xls",
                   Outcome::NoSheets, 0},
        CorpusFile{"clusterfuzz-testcase-minimized-POIHSSFFuzzer-5786329142919168.xls",
                   Outcome::Refused, 0},
        CorpusFile{"clusterfuzz-testcase-minimized-POIHSSFFuzzer-5816431116615680.xls",
                   Outcome::NoSheets, 0},
        CorpusFile{"clusterfuzz-testcase-minimized-POIHSSFFuzzer-5889658057523200.xls",
                   Outcome::NoSheets, 0},
        CorpusFile{"clusterfuzz-testcase-minimized-POIHSSFFuzzer-6137883240824832.xls",
                   Outcome::NoSheets, 0},
        CorpusFile{"61300.xls", Outcome::NoSheets, 0},
        // The workbook stream spelled "WORKBOOK": names compare without regard to case.
        CorpusFile{"NoGutsRecords.xls", Outcome::Loads, 1},
        // Encrypted: nothing after FILEPASS is decoded.
        CorpusFile{"password.xls", Outcome::Loads, 0}, CorpusFile{"50833.xls", Outcome::Loads, 0},
        CorpusFile{"xor-encryption-abc.xls", Outcome::Loads, 0},
        // Chart and macro sheets end the walk over the substreams.
        CorpusFile{"34775.xls", Outcome::Loads, 1},
        CorpusFile{"SimpleScatterChart.xls", Outcome::Loads, 1},
        CorpusFile{"60405.xls", Outcome::Loads, 1},
        CorpusFile{"WithFormattedGraphTitle.xls", Outcome::Loads, 1},
        // Cells outside DIMENSIONS, tall sparse sheets, short last sector, no DBCELL,
        // width changes at CONTINUE boundaries, workbook streams in the mini stream.
        CorpusFile{"3dFormulas.xls", Outcome::Loads, 3},
        CorpusFile{"MissingBits.xls", Outcome::Loads, 3},
        CorpusFile{"ReferencePtg.xls", Outcome::Loads, 3},
        CorpusFile{"stress.xls", Outcome::Loads, 2}, CorpusFile{"50426.xls", Outcome::Loads, 2},
        CorpusFile{"43493.xls", Outcome::Loads, 1},
        CorpusFile{"countblankExamples.xls", Outcome::Loads, 1},
        CorpusFile{"47251_1.xls", Outcome::Loads, 1}, CorpusFile{"29982.xls", Outcome::Loads, 3},
        CorpusFile{"45761.xls", Outcome::Loads, 3},
        // Formulas with followers: shared formulas, arrays, tables, string results.
        CorpusFile{"testArraysAndTables.xls", Outcome::Loads, 1},
        CorpusFile{"shared_formulas.xls", Outcome::Loads, 1},
        CorpusFile{"25695.xls", Outcome::Loads, 3},
        CorpusFile{"invalid_formula.xls", Outcome::Loads, 3}),
    [](const ::testing::TestParamInfo<CorpusFile>& param) {
      std::string name = param.param.file;
      name = name.substr(0, name.rfind('.'));
      if (name.size() > 40) name = name.substr(name.size() - 16);
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return "f" + name;
    });

}  // namespace
}  // namespace Kalvex
