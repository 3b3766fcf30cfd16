// Test support: DesignData from a CSV data table.
#include "tests/support/csv_design.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "numeric/distinct_levels.h"

namespace quorvel::testing {
namespace {

std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, ',')) {
    if (!field.empty() && field.back() == '\r') field.pop_back();
    fields.push_back(field);
  }
  return fields;
}

bool ParseNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end != nullptr && *end == '\0';
}

}  // namespace

DesignData LoadDesignCsv(const std::string& path) {
  DesignData data;
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) return data;
  const std::vector<std::string> header = SplitCsv(line);
  auto at = [&](std::size_t k) { return k < header.size() ? header[k] : std::string(); };
  ModelKind kind = ModelKind::None;
  int factors = 0;
  if (at(0) == "Block" && at(1) == "Male" && at(2) == "Female" && at(3) == "Repeat") {
    kind = ModelKind::BlockedRepeat;
    factors = 4;
  } else if (at(0) == "Block" && at(1) == "Male" && at(2) == "Female") {
    kind = ModelKind::Blocked;
    factors = 3;
  } else if (at(0) == "Male" && at(1) == "Female") {
    kind = ModelKind::Nested;
    factors = 2;
  } else {
    return data;
  }
  int traits = 0;
  while (static_cast<std::size_t>(factors + traits) < header.size() &&
         header[factors + traits] == "Trait" + std::to_string(traits + 1)) {
    ++traits;
  }
  data.factorCodes.assign(static_cast<std::size_t>(factors), {});
  data.traitValues.assign(static_cast<std::size_t>(traits), {});
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = SplitCsv(line);
    if (fields.size() < static_cast<std::size_t>(factors + traits)) break;
    std::vector<double> values(static_cast<std::size_t>(factors + traits));
    bool ok = true;
    for (int k = 0; k < factors + traits && ok; ++k) ok = ParseNumber(fields[k], values[k]);
    if (!ok) break;
    for (int f = 0; f < factors; ++f)
      data.factorCodes[f].push_back(static_cast<std::int32_t>(values[f]));
    for (int t = 0; t < traits; ++t) data.traitValues[t].push_back(values[factors + t]);
  }
  data.kind = kind;
  data.factorCount = factors;
  data.traitCount = traits;
  data.observationCount = static_cast<int>(data.factorCodes[0].size());
  for (int f = 0; f < factors; ++f) {
    data.factorNames[f] = header[f];
    data.levelCodes[f] = DistinctLevels(data.factorCodes[f]);
    data.levelCounts[f] = static_cast<int>(data.levelCodes[f].size());
  }
  return data;
}

}  // namespace quorvel::testing
