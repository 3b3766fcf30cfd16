// The coefficients and traces of the expected sums of squares and their variances.
//
// With X_x the indicators of random term x's cells and Q_q = P_q - P_{q-1} the projection
// of term q's sequential block (sequential_sums.h), the expected sum of squares is
//   E(SP_q) = df_q s_E + sum over terms x at or below q of k(q, x) s_x,
//   k(q, x) = trace(X_x' Q_q X_x),
// and under normality the (co)variances of the sums of products are given by
//   t(q; x, y) = trace(Q_q X_x X_x' Q_q X_y X_y') = || X_x' Q_q X_y ||_F^2
// (Searle, Casella and McCulloch, Variance Components, 1992, sections 5.2 and 12.2: the
// expectation and variance of quadratic forms y'Ay under normality, E = tr(AV),
// var = 2 tr(AVAV)). Both are sums over pairs of cells of the inner products
//   x_d' Q_q x_e = n_d n_e ([same q cell] / n_Q - [same q-1 cell] / n_P)
//                  + a_d' H_q a_e - b_d' H_{q-1} b_e,
// where a_d = L'(I - Pi_q) x_d and b_d = L'(I - Pi_{q-1}) x_d are the cell's leading
// counts less its share of its level-q and level-(q-1) cells' counts and H the levels'
// generalised inverses (leading_system.h). The sums over pairs collapse to sums over the
// cells of each parent and small matrices over the leading cells.
#pragma once

#include <vector>

#include "analysis/leading_system.h"
#include "analysis/random_design.h"

namespace quorvel {

struct TraceTables {
  // k[q][x] and t[q][x][y] for random terms q <= x, y (0 = the top term); other entries 0.
  std::vector<std::vector<double>> k;
  std::vector<std::vector<std::vector<double>>> t;
};

// `systems` are the leading systems of the levels 0 .. K (LevelFits::systems).
TraceTables ComputeTraceTables(const RandomDesign& design,
                               const std::vector<LeadingSystem>& systems);

}  // namespace quorvel
