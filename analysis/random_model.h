// Random-model analysis: variance and covariance components by the method of moments on
// sequential sums of squares and products, their normal-theory sampling variances, F
// tests of the components, heritabilities, and genetic correlations between traits.
#pragma once

#include <string>
#include <vector>

#include "analysis/analysis_result.h"
#include "analysis/model_coding.h"
#include "analysis/stop_token.h"
#include "import/design_data.h"

namespace quorvel {

// Results of the random-model stage for all traits. Terms are indexed from the top of the
// hierarchy (0 = males, ...), as the spec's random terms; the residual is term
// `randomTerms`. Block q of the sequential sums belongs to term q.
//
// Everything is computed on the standardised traits (y - mean) / scale: the components,
// their sampling variances and sums of products are in those units (ComponentInUnits and
// VarianceInUnits give the traits' own); the degrees of freedom, coefficients, traces,
// tests, heritabilities and correlations are the same in any units.
struct RandomModel {
  int traits = 0;
  int randomTerms = 0;
  std::vector<int> df;  // per block, the residual block last
  // k[q][x]: coefficient of the component of random term x >= q in the expected sum of
  // squares of block q; t[q][x][y]: trace of the product of the Gram matrices of x and y
  // over block q (x, y >= q).
  std::vector<std::vector<double>> k;
  std::vector<std::vector<std::vector<double>>> t;
  // c[x][q]: coefficient of block q's sums of products in the estimate of term x
  // (residual included as the last term and block).
  std::vector<std::vector<double>> c;
  // sp[q]: the sequential sums of products of block q (traits x traits, row-major).
  std::vector<std::vector<double>> sp;
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
  // Per trait: the scale of the standardised trait (its values' root mean square about
  // the mean, 1 for a constant trait).
  std::vector<double> scale;

  double Component(int term, int i, int j) const { return component[term][i * traits + j]; }
  // The component and its sampling variance in the traits' own units.
  double ComponentInUnits(int term, int i, int j) const;
  double VarianceInUnits(int term, int i, int j) const;
  // t(q; x, y) with the residual (index randomTerms) included: t(q; x, E) = k(q, x),
  // t(q; E, E) = df_q; the residual block holds only the residual.
  double Trace(int q, int x, int y) const;
};

// How the stage is run: the row order of the exact tests and a stop flag.
struct RandomStageOptions {
  // The observations in the order the exact tests reduce them (position -> observation);
  // empty: the data's own order.
  std::vector<int> order;
  StopToken stop;
};

// Estimates everything of the stage from the design (coding and distinct rows), the trait
// values and the rank of the whole design.
RandomModel EstimateComponents(const ModelCoding& coding, const DesignCells& cells,
                               const DesignData& data, int modelRank,
                               const RandomStageOptions& options = {});

// The genetic correlations between traits of every random term, from the top term down,
// with their first-order standard errors.
std::vector<CorrelationMatrix> GeneticCorrelations(const RandomModel& model, const ModelSpec& spec);

}  // namespace quorvel
