// The results of one analysis run as a plain value. The analysis computes every number
// once; the text report, the exports and the desktop view only read this value.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "analysis/fixed_model.h"
#include "analysis/interval.h"
#include "import/design_data.h"

namespace quorvel {

// A variance component of one trait. The random terms carry the F test of the component;
// the residual has none (f and p are NaN, `tested` false).
struct ComponentEstimate {
  std::string parameter;  // "Sigma_M", "Sigma_F", "Sigma_FR", "Sigma_E"
  double estimate = 0;
  double stdError = 0;
  bool tested = false;
  double f = std::numeric_limits<double>::quiet_NaN();
  double p = std::numeric_limits<double>::quiet_NaN();
  Interval ci;  // Sigma_E: exact chi-square; random terms: Satterthwaite
};

// A heritability with its first-order (delta-method) standard error.
struct HeritabilityEstimate {
  std::string parameter;  // "Hi" (individual) or "Hm" (male means)
  double estimate = 0;
  double stdError = 0;
  Interval ci;  // Wald interval from the delta-method standard error
};

struct RandomTraitResult {
  std::vector<ComponentEstimate> components;         // random terms from the top, residual last
  std::vector<HeritabilityEstimate> heritabilities;  // Hi, then Hm
};

struct TraitResult {
  std::string name;  // the trait's header text
  FixedTraitResult fixed;
  RandomTraitResult random;
};

// The genetic correlations between traits of one random term, T x T row-major, with
// their standard errors (diagonal: 1 and 0).
struct CorrelationMatrix {
  std::string effect;  // "male", "female" or "female_by_repeat"
  int traits = 0;
  std::vector<double> r;
  std::vector<double> se;
  double R(int i, int j) const { return r[static_cast<std::size_t>(i) * traits + j]; }
  double SE(int i, int j) const { return se[static_cast<std::size_t>(i) * traits + j]; }
};

// A factor of the sheet: its header text and its level codes, ascending.
struct FactorLevels {
  std::string name;
  std::vector<std::int32_t> levels;
};

struct AnalysisResult {
  ModelKind kind = ModelKind::None;
  int observationCount = 0;
  std::vector<FactorLevels> factors;
  // The fixed model's parameters in order ("u", "M2", "F(2,4)", ...); the male
  // parameters, which the difference tables compare, are maleCount names from maleStart.
  std::vector<std::string> parameterNames;
  int maleStart = 0;
  int maleCount = 0;
  std::vector<TraitResult> traits;  // in sheet order
  // One matrix per random term, from the top (males) down.
  std::vector<CorrelationMatrix> correlations;
  // The level of every confidence interval above (the `level` of each `ci`).
  double confidenceLevel = 0.95;

  const std::string& MaleName(int i) const {
    return parameterNames[static_cast<std::size_t>(maleStart + i)];
  }
};

// The model's number in the Model menu (1, 2 or 3), its name ("BlockedRepeat", "Blocked",
// "Nested") and its formula as the report's header prints it.
int ModelNumber(ModelKind kind);
const char* ModelName(ModelKind kind);
const char* ModelFormula(ModelKind kind);

}  // namespace quorvel
