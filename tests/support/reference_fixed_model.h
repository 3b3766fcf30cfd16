// Test support: the fixed-model analysis of one trait by its plain dense procedures (dense
// design, explicit normal matrix and inversions, one constraint system per test), as an
// independent check of the structured fit. Cubic in the number of parameters per test:
// for small designs only.
#pragma once

#include <cstdio>
#include <span>
#include <vector>

#include "analysis/fixed_model.h"
#include "analysis/model_coding.h"

namespace quorvel::testing {

// Ranks of the dense design X, of the restriction matrix R and of X stacked over R. The
// normal matrix X'X + R'R is invertible exactly when `stacked` equals the parameter
// count; the restrictions bind (fix more than the data leaves free) when
// `design + restriction` exceeds it.
struct ReferenceRanks {
  int design = 0;
  int restriction = 0;
  int stacked = 0;
};
ReferenceRanks ReferenceDesignRanks(const ModelCoding& coding);

// What the result does not carry of the single-row tests: the numerator degrees of
// freedom per parameter, and per male pair (in the layout of FixedTraitResult::maleT)
// the degrees of freedom and the p behind the significance class.
struct ReferenceTests {
  std::vector<int> parameterDF;
  std::vector<int> malePairDF;
  std::vector<double> malePairP;
};

// The fixed-model analysis of the trait values y (N entries, observation order), filled
// in the layout FixedModel::Fit returns. Every inversion goes through InvertSymmetric and
// every degree of freedom through IntegerRank; diag receives their "fail\n" lines. When
// tests is given it receives the details of the single-row tests.
FixedTraitResult ReferenceFixedFit(const ModelCoding& coding, std::span<const double> y,
                                   std::FILE* diag = stdout, ReferenceTests* tests = nullptr);

}  // namespace quorvel::testing
