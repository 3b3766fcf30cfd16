// Fixed-model analysis: least squares under sum-to-zero restrictions, adjusted factor
// tests, parameter estimates with t tests, and t tests between every two males.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "analysis/interval.h"
#include "analysis/model_coding.h"
#include "analysis/stop_token.h"

namespace quorvel {

struct FactorTest {
  const char* label;
  int df = 0;
  double ss = 0;  // increase of the error sum of squares under the hypothesis
  double ms = 0;
  double f = 0;
  double p = 0;
};

struct ParameterEstimate {
  double estimate = 0;
  double stdError = 0;
  double t = 0;
  double p = 0;
  Interval ci;  // estimate +- t(1 - alpha/2, error DF) SE
};

// Significance class of a male difference: its p above 0.05, between 0.01 and 0.05 (both
// included), or below 0.01.
enum class Significance : std::uint8_t { None = 0, Five = 1, One = 2 };

struct FixedTraitResult {
  int modelDF = 0;
  int errorDF = 0;
  int totalDF = 0;
  double modelSS = 0, modelMS = 0, modelF = 0, modelP = 0;
  double errorSS = 0, errorMS = 0;
  double totalSS = 0;
  std::vector<FactorTest> factors;           // in print order
  std::vector<ParameterEstimate> estimates;  // in parameter order
  // Male differences, lower triangle: row male i, column male j < i at i(i-1)/2 + j.
  // maleP holds the two-sided probability of each t, maleSignificance its class as the
  // report's stars show it.
  std::vector<double> maleT;
  std::vector<double> maleP;
  std::vector<Significance> maleSignificance;
};

// Index of the male pair (row i, column j), j < i, in the lower-triangle arrays.
inline std::size_t MalePairIndex(int i, int j) {
  return static_cast<std::size_t>(i) * static_cast<std::size_t>(i - 1) / 2 +
         static_cast<std::size_t>(j);
}

// Everything of the fixed-model fit that does not depend on trait values, computed once
// per run from the design's structure: the normal matrix and its factorisation, exact
// ranks and degrees of freedom, the sampling-variance factors of estimates and male
// differences, and the normal matrices of the factor tests. Fit then costs, per trait, a
// few solves and one pass over the parameters and male pairs.
class FixedModel {
 public:
  // diag receives "fail\n" when a normal matrix is numerically singular; a raised stop
  // flag ends the construction by AnalysisCancelled.
  FixedModel(const ModelCoding& coding, const DesignCells& cells, std::FILE* diag = stdout,
             const StopToken& stop = {});
  ~FixedModel();
  FixedModel(const FixedModel&) = delete;
  FixedModel& operator=(const FixedModel&) = delete;

  int ModelRank() const;
  // The analysis of one trait (its N values in observation order).
  FixedTraitResult Fit(std::span<const double> y) const;

  struct Impl;

 private:
  // The fit of (values - mean) / scale; meanOverScale shifts the test of u.
  FixedTraitResult FitStandardised(std::span<const double> y, double meanOverScale) const;

  std::unique_ptr<Impl> impl_;
};

// The male block of the t tables: the M parameters.
const EffectBlock& MaleBlock(const ModelCoding& coding);

}  // namespace quorvel
