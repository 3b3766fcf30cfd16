// The sequential (hierarchical) sums of squares and products of the random-model stage.
//
// The design's column space grows term by term: level q of the hierarchy spans the
// leading cells and the cells of the q-th random term (level 0: the leading cells alone,
// which contain the top term's parent). With P_q the projection onto level q's span, the
// sequential sum of products of term q is
//   SP_q(i, j) = y_i' (P_q - P_{q-1}) y_j = sum over observations of d_q(i) d_q(j),
//   d_q = P_q y - P_{q-1} y,
// and the residual's is the sum of products of y - P_K y (Searle, Casella and McCulloch,
// Variance Components, 1992, section 5.2: the reductions in sums of squares of the fitting
// constants method). These are the sums of squares of consecutive row blocks of an
// orthogonal reduction of the design in parameter order; here they come from the atoms'
// means as sums of squared deviations, without forming any basis.
#pragma once

#include <vector>

#include "analysis/leading_system.h"
#include "analysis/random_design.h"
#include "analysis/stop_token.h"

namespace quorvel {

// The traits' summaries per atom.
struct AtomTraits {
  int traits = 0;
  std::vector<double> mean;    // atoms x traits, row-major: the atoms' means
  std::vector<double> within;  // traits x traits: sum of products of deviations from the
                               // atom means, over all observations
};

// `values` holds the traits (each N values in observation order); cellOfObservation the
// atom of each observation.
AtomTraits SummariseAtoms(const RandomDesign& design, const std::vector<int>& cellOfObservation,
                          const std::vector<std::vector<double>>& values);

// P_q y at the atoms for every level q = 0 .. K, with the leading systems of the levels.
struct LevelFits {
  std::vector<LeadingSystem> systems;       // [level]
  std::vector<std::vector<double>> fitted;  // [level]: atoms x traits, row-major
};
LevelFits FitLevels(const RandomDesign& design, const AtomTraits& atoms, const StopToken& stop);

// SP_q for the random terms q = 0 .. K-1 (term q is level q+1) and the residual last; each
// traits x traits, row-major.
std::vector<std::vector<double>> SumsOfProducts(const RandomDesign& design, const AtomTraits& atoms,
                                                const LevelFits& fits);

}  // namespace quorvel
