// Every number of the analysis of the frozen data sets against the results the build
// before the restructured random stage gave for them (tests/data/analysis/baseline), to
// 1e-10 relative: the new methods change no result.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "analysis/analyze_design.h"
#include "tests/support/baseline_designs.h"
#include "tests/support/result_dump.h"

namespace quorvel {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void ExpectBaseline(const testing::BaselineDesign& design, const DesignData& data) {
  const std::string path =
      std::string(QUORVEL_TEST_DATA) + "/analysis/baseline/" + design.name + ".txt";
  const auto expected = testing::ParseDump(ReadText(path));
  ASSERT_TRUE(!expected.empty() || data.traitCount == 0) << path;
  AnalysisOptions options;
  options.diagnostics = nullptr;
  const auto actual = testing::FlattenResult(AnalyzeDesign(data, options), design.stride);
  const auto differences = testing::CompareDumps(actual, expected, 1e-10, 1e-10);
  std::string report;
  for (std::size_t k = 0; k < differences.size() && k < 20; ++k) report += differences[k] + "\n";
  EXPECT_TRUE(differences.empty()) << design.name << ": " << differences.size()
                                   << " differences\n"
                                   << report;
}

TEST(AnalysisBaseline, CanonicallyOrderedDataGiveTheFrozenResults) {
  for (const auto& design :
       testing::BaselineDesigns(std::string(QUORVEL_TEST_DATA) + "/analysis")) {
    ExpectBaseline(design, testing::CanonicallySorted(design.data));
  }
}

}  // namespace
}  // namespace quorvel
