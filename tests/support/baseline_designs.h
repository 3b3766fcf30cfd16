// Test support: the data sets whose analysis results are frozen under tests/data/analysis/
// baseline: the fixture data sets and generated designs of the three layouts, balanced and
// unbalanced, including designs without exact tests and designs that stress the reduction.
#pragma once

#include <string>
#include <vector>

#include "import/design_data.h"

namespace quorvel::testing {

struct BaselineDesign {
  std::string name;
  DesignData data;
  int stride = 1;  // of the parameter estimates and male differences kept in the dump
};

// Loads the fixture data sets from `dataFolder` (tests/data/analysis) and generates the rest.
std::vector<BaselineDesign> BaselineDesigns(const std::string& dataFolder);

}  // namespace quorvel::testing
