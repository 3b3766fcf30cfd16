// Random-model analysis: variance and covariance components by the method of moments on
// sequential sums of squares and products, their normal-theory sampling variances, F
// tests of the components, heritabilities, and genetic correlations between traits.
#pragma once

#include <string>
#include <vector>

#include "analysis/analysis_result.h"
#include "analysis/model_coding.h"
#include "import/design_data.h"

namespace quorvel {

// Results of the random-model stage for all traits. Terms are indexed from the top of the
// hierarchy: 0 = males, 1 = females, 2 = female-by-repeat (blocked-repeat model only);
// the residual is term `randomTerms`. Row block q of the reduced design belongs to term q.
struct RandomModel {
  int traits = 0;
  int randomTerms = 0;  // 2, or 3 with female-by-repeat
  std::vector<int> df;  // per block, the residual block last
  // k[q][x]: coefficient of the component of random term x >= q in the expected sum of
  // squares of block q; t[q][x][y]: trace of the product of the Gram matrices of x and y
  // over block q (x, y >= q).
  std::vector<std::vector<double>> k;
  std::vector<std::vector<std::vector<double>>> t;
  // c[x][q]: coefficient of block q's sums of products in the estimate of term x
  // (residual included as the last term and block).
  std::vector<std::vector<double>> c;
  // component[x]: T x T matrix of the variance (diagonal) and covariance components of
  // term x, row-major, residual included; componentVar[x] the sampling variances of its
  // entries for the random terms; componentVarE the sampling variance of each residual
  // variance.
  std::vector<std::vector<double>> component;
  std::vector<std::vector<double>> componentVar;
  std::vector<double> componentVarE;
  // Per trait and random term: the F statistic of the component and its probability.
  std::vector<std::vector<double>> testF;
  std::vector<std::vector<double>> testP;
  // Per trait: heritabilities and their standard errors.
  std::vector<double> hi, hiError, hm, hmError;

  double Component(int term, int i, int j) const { return component[term][i * traits + j]; }
  // t(q; x, y) with the residual (index randomTerms) included: t(q; x, E) = k(q, x),
  // t(q; E, E) = df_q; the residual block holds only the residual.
  double Trace(int q, int x, int y) const;
};

// Estimates everything of the stage from the design (coding and distinct rows), the trait
// values and the rank of the whole design.
RandomModel EstimateComponents(const ModelCoding& coding, const DesignCells& cells,
                               const DesignData& data, int modelRank);

// The genetic correlations between traits of every random term, from the top term down,
// with their first-order standard errors.
std::vector<CorrelationMatrix> GeneticCorrelations(const RandomModel& model, const ModelSpec& spec);

}  // namespace quorvel
