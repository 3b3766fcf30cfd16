// Test support: every number of an analysis result as a flat list of named values, written
// to and read from text files at full precision, and compared within a relative tolerance.
// Frozen dumps of an earlier build let a change of method prove that no number moved.
#pragma once

#include <string>
#include <vector>

#include "analysis/analysis_result.h"
#include "import/design_data.h"

namespace quorvel::testing {

struct NamedValue {
  std::string name;  // e.g. "t2.random.Sigma_M.f"; the part before the last dot names a family
  double value = 0;
};

// The numbers of `result` in a fixed order. Of the parameter estimates and the male
// differences only every `stride`-th is taken (all of them with stride 1).
std::vector<NamedValue> FlattenResult(const AnalysisResult& result, int stride = 1);

// One "name value" line per entry, values in shortest round-trip form ("nan", "inf").
std::string FormatDump(const std::vector<NamedValue>& values);
std::vector<NamedValue> ParseDump(const std::string& text);

// Differences beyond the tolerance, one line each; empty when all agree. Values agree
// when |a - b| <= relative * max(|a|, |b|) + floor, with floor = floorShare times the
// largest finite magnitude of the value's family in `expected`; NaN agrees with NaN and
// an infinity with the same infinity. Names must match one for one.
std::vector<std::string> CompareDumps(const std::vector<NamedValue>& actual,
                                      const std::vector<NamedValue>& expected, double relative,
                                      double floorShare);

// The observations in the canonical order: ascending by factor codes compared in column
// order, then by trait values compared in column order.
DesignData CanonicallySorted(const DesignData& data);

}  // namespace quorvel::testing
