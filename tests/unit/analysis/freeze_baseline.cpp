// Writes the frozen analysis results under tests/data/analysis/baseline: one dump per data
// set of BaselineDesigns, analysed with the observations in the canonical order. The files
// in the repository were written by the build before the random stage was restructured;
// the baseline test holds every later build to them. Run it only to freeze a new baseline
// after a deliberate change of results:
//   analysis_freeze_baseline tests/data/analysis
#include <cstdio>
#include <fstream>
#include <string>

#include "analysis/analyze_design.h"
#include "tests/support/baseline_designs.h"
#include "tests/support/result_dump.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: analysis_freeze_baseline DATA_FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  quorvel::AnalysisOptions options;
  options.diagnostics = nullptr;
  for (const auto& design : quorvel::testing::BaselineDesigns(folder)) {
    const auto result =
        quorvel::AnalyzeDesign(quorvel::testing::CanonicallySorted(design.data), options);
    const std::string path = folder + "/baseline/" + design.name + ".txt";
    std::ofstream(path, std::ios::binary)
        << quorvel::testing::FormatDump(quorvel::testing::FlattenResult(result, design.stride));
    std::printf("%s\n", path.c_str());
  }
  return 0;
}
