// Random-model analysis for unbalanced nested designs, in named steps:
//
//  1. StandardiseTraits      centre and scale each trait (results scale back exactly or
//                            are scale-free)
//  2. SequentialRanks        degrees of freedom of the sequential blocks
//  3. FitLevels              the projections onto the sequential spans ("reduction")
//  4. SumsOfProducts         sequential sums of squares and products
//  5. ComputeTraceTables     coefficients k and traces t of the expectations and
//                            variances of the sums of products
//  6. EstimatorCoefficients  each estimate as a combination of the sums of products
//  7. Components             variance and covariance components by back-substitution
//  8. SamplingVariances      normal-theory variances of the components
//  9. ComponentTests         F tests: the lowest term against the residual, the term above
//                            it exactly, higher terms by a synthesized denominator
// 10. Heritabilities         Hi and Hm with first-order standard errors
// 11. GeneticCorrelations    correlations between traits of every random term
//
// The method of moments on sequential sums of squares (Henderson's method 1 and 3) and
// the variances of quadratic forms under normality follow Searle, Casella and McCulloch,
// Variance Components, 1992, chapter 5 and section 12.2.
#include "analysis/random_model.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>

#include "analysis/exact_test.h"
#include "analysis/random_design.h"
#include "analysis/reduction_basis.h"
#include "analysis/sequential_sums.h"
#include "analysis/standardise.h"
#include "analysis/trace_tables.h"
#include "numeric/f_distribution.h"
#include "numeric/probability.h"

namespace quorvel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Step 1. Each trait as (y - mean) / scale with the scale the root mean square of y - mean
// (1 when that is 0 or not finite). Sums of squares of the standardised values stay
// within a few orders of N whatever the traits' units, so that values anywhere between
// 1e-300 and 1e300 give the same F, p, heritabilities and correlations; components and
// their variances scale back with scale_i scale_j and its square.
struct Standardised {
  std::vector<std::vector<double>> values;
  std::vector<double> scale;
};
Standardised StandardiseTraits(const DesignData& data) {
  Standardised out;
  for (int t = 0; t < data.traitCount; ++t) {
    std::vector<double> values;
    out.scale.push_back(Standardise(data.traitValues[t], values).scale);
    out.values.push_back(std::move(values));
  }
  return out;
}

// Step 2. Ranks of the sequential spans. The span of the leading cells with the cells of
// one partition has dimension (leading cells) + (cells) - (connected components of the
// two joined by common observations), since the spans of two partitions meet in the
// indicators of those components; level 0 lies in the leading span. The last rank is the
// design's. Returns the ranks of levels 0 .. K.
std::vector<int> SequentialRanks(const RandomDesign& design, int modelRank) {
  std::vector<int> ranks;
  const int ell = design.leadingCount;
  for (std::size_t q = 0; q < design.levels.size(); ++q) {
    const LevelCells& level = design.levels[q];
    if (q == 0) {
      ranks.push_back(ell);
      continue;
    }
    if (static_cast<int>(q) == design.terms) {
      ranks.push_back(modelRank);
      continue;
    }
    std::vector<int> parent(static_cast<std::size_t>(ell + level.count));
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&](int k) {
      while (parent[k] != k) k = parent[k] = parent[parent[k]];
      return k;
    };
    int components = ell + level.count;
    for (int c = 0; c < level.count; ++c) {
      for (const auto& [l, count] : level.leading[c]) {
        const int a = root(ell + c);
        const int b = root(l);
        if (a != b) {
          parent[a] = b;
          --components;
        }
      }
    }
    ranks.push_back(ell + level.count - components);
  }
  return ranks;
}

// Step 6. Each estimate is a linear combination sum over q of c(x, q) SP_q; the
// coefficients are the back-substitution of step 7 applied to the blocks' unit vectors:
// c(E, E) = 1 / df_E, and for x from the lowest random term up
//   c(x, .) = (e_x - df_x c(E, .) - sum over z below x of k(x, z) c(z, .)) / k(x, x).
void EstimatorCoefficients(RandomModel& model) {
  const int terms = model.randomTerms;
  const int e = terms;
  model.c.assign(static_cast<std::size_t>(terms) + 1, std::vector<double>(terms + 1, 0.0));
  model.c[e][e] = 1.0 / model.df[e];
  for (int x = terms - 1; x >= 0; --x) {
    std::vector<double>& cx = model.c[x];
    cx[x] = 1.0;
    for (int q = 0; q <= terms; ++q) cx[q] -= model.df[x] * model.c[e][q];
    for (int z = x + 1; z < terms; ++z) {
      for (int q = 0; q <= terms; ++q) cx[q] -= model.k[x][z] * model.c[z][q];
    }
    for (int q = 0; q <= terms; ++q) cx[q] /= model.k[x][x];
  }
}

// Step 7. The components of every pair of traits by back-substitution from the residual
// upwards, equating each SP_q to its expectation (step 5):
//   s_E = SP_E / df_E,  s_x = (SP_x - df_x s_E - sum over z below x of k(x, z) s_z) / k(x, x).
// Negative estimates are kept.
void Components(RandomModel& model) {
  const int terms = model.randomTerms;
  const int e = terms;
  const int traits = model.traits;
  const std::size_t tt = static_cast<std::size_t>(traits) * traits;
  model.component.assign(static_cast<std::size_t>(terms) + 1, std::vector<double>(tt, 0.0));
  for (int i = 0; i < traits; ++i) {
    for (int j = 0; j <= i; ++j) {
      const std::size_t ij = static_cast<std::size_t>(i) * traits + j;
      std::vector<double> s(static_cast<std::size_t>(terms) + 1, 0.0);
      s[e] = model.sp[e][ij] / model.df[e];
      for (int x = terms - 1; x >= 0; --x) {
        double value = model.sp[x][ij] - model.df[x] * s[e];
        for (int z = x + 1; z < terms; ++z) value -= model.k[x][z] * s[z];
        s[x] = value / model.k[x][x];
      }
      for (int x = 0; x <= terms; ++x) {
        model.component[x][ij] = s[x];
        model.component[x][static_cast<std::size_t>(j) * traits + i] = s[x];
      }
    }
  }
}

// The normal-theory variance of SP_q(i, j): the sum over ordered pairs (x, z) of the
// block's terms (q itself, every term below it, and E) of
//   t(q; x, z) [s_x(i, j) s_z(i, j) + s_x(i, i) s_z(j, j)]
// (the covariance of two quadratic forms y_i'A y_j under multivariate normality; Searle,
// Casella and McCulloch, 1992, section 12.2, theorem S4, with the covariance of the
// traits' vectors sum over x of s_x X_x X_x').
double SumOfProductsVariance(const RandomModel& model, int q, int i, int j) {
  const int e = model.randomTerms;
  auto s = [&](int x, int a, int b) { return model.Component(x, a, b); };
  double sum = 0.0;
  const int first = q == e ? e : q;
  for (int x = first; x <= e; ++x) {
    for (int z = first; z <= e; ++z) {
      sum += model.Trace(q, x, z) * (s(x, i, j) * s(z, i, j) + s(x, i, i) * s(z, j, j));
    }
  }
  return sum;
}

// Step 8. The sampling variance of each component: the blocks' sums of products are
// independent, so Var(s_x) = sum over q of c(x, q)^2 Var(SP_q), evaluated at the estimates.
void SamplingVariances(RandomModel& model) {
  const int terms = model.randomTerms;
  const int e = terms;
  const int traits = model.traits;
  const std::size_t tt = static_cast<std::size_t>(traits) * traits;
  model.componentVar.assign(static_cast<std::size_t>(terms), std::vector<double>(tt, 0.0));
  for (int i = 0; i < traits; ++i) {
    for (int j = 0; j <= i; ++j) {
      std::vector<double> variance(static_cast<std::size_t>(terms) + 1);
      for (int q = 0; q <= terms; ++q) variance[q] = SumOfProductsVariance(model, q, i, j);
      for (int x = 0; x < terms; ++x) {
        double sum = 0.0;
        for (int q = x; q <= terms; ++q) sum += model.c[x][q] * model.c[x][q] * variance[q];
        model.componentVar[x][static_cast<std::size_t>(i) * traits + j] = sum;
        model.componentVar[x][static_cast<std::size_t>(j) * traits + i] = sum;
      }
    }
  }
  model.componentVarE.resize(static_cast<std::size_t>(traits));
  const double dfE = model.df[e];
  for (int i = 0; i < traits; ++i)
    model.componentVarE[i] = SumOfProductsVariance(model, e, i, i) / (dfE * dfE);
}

// Step 9a. The lowest random term against the residual: F = (SS_low / df_low) / (SS_E / df_E).
void TestAgainstResidual(RandomModel& model, int term) {
  const int e = model.randomTerms;
  for (int i = 0; i < model.traits; ++i) {
    const std::size_t ii = static_cast<std::size_t>(i) * model.traits + i;
    const double f = (model.sp[term][ii] / model.df[term]) / (model.sp[e][ii] / model.df[e]);
    model.testF[i][term] = f;
    model.testP[i][term] = FUpperTail(model.df[term], model.df[e], f);
  }
}

// Step 9b. A term above the lowest by a synthesized denominator: the combination
// D = sum over the terms z below x of c_z MS_z + c_E MS_E whose expectation equals that
// of MS_x when s_x = 0, from E(MS_q) = s_E + sum over z at or below q of k(q, z) / df_q s_z:
//   c_z = (k(x, z) / df_x - sum over x < y < z of c_y k(y, z) / df_y) df_z / k(z, z),
//   c_E = 1 - sum of c_z,
// F = MS_x / D with Satterthwaite's denominator degrees of freedom
//   nu = D^2 / (sum over the terms of (c MS)^2 / df)
// (Cochran, Testing a linear relation among variances, Biometrics 7, 1951; Satterthwaite,
// An approximate distribution of estimates of variance components, Biometrics Bulletin 2,
// 1946). A denominator that is not positive gives no test.
void TestBySynthesizedDenominator(RandomModel& model, int x) {
  const int terms = model.randomTerms;
  const int e = terms;
  std::vector<double> weight(static_cast<std::size_t>(terms) + 1, 0.0);
  double sum = 0.0;
  for (int z = x + 1; z < terms; ++z) {
    double value = model.k[x][z] / model.df[x];
    for (int y = x + 1; y < z; ++y) value -= weight[y] * model.k[y][z] / model.df[y];
    weight[z] = value * model.df[z] / model.k[z][z];
    sum += weight[z];
  }
  weight[e] = 1.0 - sum;
  for (int i = 0; i < model.traits; ++i) {
    const std::size_t ii = static_cast<std::size_t>(i) * model.traits + i;
    auto meanSquare = [&](int q) { return model.sp[q][ii] / model.df[q]; };
    double denominator = 0.0;
    double spread = 0.0;
    for (int z = x + 1; z <= e; ++z) {
      const double part = weight[z] * meanSquare(z);
      denominator += part;
      spread += part * part / model.df[z];
    }
    if (!(denominator > 0.0)) continue;
    const double f = meanSquare(x) / denominator;
    const double nu = denominator * denominator / spread;
    model.testF[i][x] = f;
    model.testP[i][x] = FUpperTailReal(model.df[x], nu, f);
  }
}

// Step 9c. The exact tests of the terms above the lowest (exact_test.h), with the residual
// coordinates of the reduction with the observations in `order` (reduction_basis.h).
void ExactTests(RandomModel& model, const ModelSpec& spec, const RandomDesign& design,
                const LevelFits& fits, const AtomTraits& atoms, const DesignCells& cells,
                const Standardised& values, const std::vector<int>& ranks,
                const RandomStageOptions& options) {
  const int terms = model.randomTerms;
  const int traits = model.traits;
  const int leadingRank = ranks[0];
  const int s = ranks[terms] - leadingRank;
  if (traits == 0 || s <= 0 || model.df[terms] < s) return;
  const std::size_t t = static_cast<std::size_t>(traits);
  const LowestCellGram gram(design, design.levels[terms].count - s);
  if (!std::isfinite(gram.Smallest())) return;

  // X_low' P_S y: the lowest cells' sums of y less their leading part.
  std::vector<double> sumsY(static_cast<std::size_t>(design.levels[terms].count) * t, 0.0);
  for (int a = 0; a < design.atoms; ++a) {
    const int c = design.atomCell[terms][a];
    for (std::size_t k = 0; k < t; ++k) {
      sumsY[c * t + k] += design.atomSize[a] * (atoms.mean[a * t + k] - fits.fitted[0][a * t + k]);
    }
  }

  // X_low' e~ when the equaliser does not vanish.
  std::vector<double> sumsE;
  bool paired = true;
  if (!gram.SingleEigenvalue()) {
    const int n = design.observations;
    std::vector<double> residuals(static_cast<std::size_t>(n) * t);
    for (int i = 0; i < n; ++i) {
      const int a = cells.cellOfObservation[i];
      for (std::size_t k = 0; k < t; ++k)
        residuals[i * t + k] = values.values[k][i] - fits.fitted[terms][a * t + k];
    }
    std::vector<int> expected = {leadingRank};
    for (int q = 0; q < terms; ++q) expected.push_back(model.df[q]);
    const ReductionBasis basis(design, expected, options.stop);
    std::vector<int> order = options.order;
    if (order.empty()) {
      order.resize(static_cast<std::size_t>(n));
      std::iota(order.begin(), order.end(), 0);
    }
    sumsE = PairedResidualSums(design, basis, order, cells.cellOfObservation, residuals, traits,
                               leadingRank, s, options.stop);
    paired = !sumsE.empty();
  }
  if (!paired) return;

  for (int x = 0; x < terms; ++x) {
    if (spec.randomTerms[x].test != ComponentTest::Exact) continue;
    int below = 0;
    for (int z = x + 1; z < terms; ++z) below += model.df[z];
    if (model.df[x] == 0 || below == 0) continue;  // no hypothesis or no error: no test
    const auto sums = ExactTestSumsOfSquares(design, gram, sumsY, sumsE, traits, x, model.df);
    for (int i = 0; i < traits; ++i) {
      const double f = (sums[i].numerator / model.df[x]) / (sums[i].denominator / below);
      model.testF[i][x] = f;
      model.testP[i][x] = FUpperTail(model.df[x], below, f);
    }
  }
}

// Step 10a. Weights of the components in the variance of a male's mean, the male taken
// over its code alone (pooled over blocks): with n_m the male's observations,
//   a_x = sum over males of (sum over x's cells of the male of n_c^2) / n_m^2,
//   a_E = sum over males of 1 / n_m,
// and w_x = a_x / a_M for the top term M (w_M = 1). For one-way nesting this is the
// variance of a male mean in units of the components divided by the number of males
// (Falconer and Mackay, Introduction to Quantitative Genetics, 4th ed., 1996, chapter 10).
std::vector<double> MaleMeanWeights(const ModelCoding& coding, const RandomDesign& design) {
  const ModelSpec& spec = *coding.spec;
  const int terms = design.terms;
  auto maleOf = [&](int level, int cell) {
    const std::vector<int>& factors = spec.effects[design.levels[level].effect].factors;
    const auto at = std::find(factors.begin(), factors.end(), spec.maleFactor);
    return coding.cells[design.levels[level].effect]
        .codes[static_cast<std::size_t>(at - factors.begin())][cell];
  };
  std::map<std::int32_t, double> maleSize;
  for (int c = 0; c < design.levels[1].count; ++c)
    maleSize[maleOf(1, c)] += design.levels[1].size[c];
  std::vector<double> a(static_cast<std::size_t>(terms) + 1, 0.0);
  for (int x = 0; x < terms; ++x) {
    const LevelCells& level = design.levels[x + 1];
    for (int c = 0; c < level.count; ++c) {
      const double nm = maleSize[maleOf(x + 1, c)];
      a[x] += level.size[c] * level.size[c] / (nm * nm);
    }
  }
  for (const auto& [code, size] : maleSize) a[terms] += 1.0 / size;
  std::vector<double> weight(static_cast<std::size_t>(terms) + 1, 0.0);
  for (int x = 1; x <= terms; ++x) weight[x] = a[x] / a[0];
  return weight;
}

// Step 10b. Hi = 4 s_M / P and Hm = s_M / D with P the sum of the trait's components and
// D = s_M + sum over the other terms of w_x s_x, and their first-order (delta-method)
// variances with C_xz = sum over q of c(x, q) c(z, q) Var(SP_q) the covariance of two
// estimates:
//   Var(Hi) = [(4 s_M)^2 / P^2 (sum V_x + 4 sum over pairs C_xz) + 16 V_M
//              - (8 s_M / P)(4 V_M + 8 sum over z != M of C_Mz)] / P^2,
//   Var(Hm) = [s_M^2 / D^2 (V_M + sum w_z^2 V_z + 4 sum w_z C_Mz + 4 sum over pairs w_y w_z C_yz)
//              + V_M - (2 s_M / D)(V_M + 2 sum w_z C_Mz)] / D^2
// (Becker, Manual of Quantitative Genetics, 4th ed., 1984, on the standard errors of
// heritability ratios; the covariance terms enter with twice the weights of a plain
// first-order expansion, as the program has always printed them).
void Heritabilities(RandomModel& model, const std::vector<double>& weight) {
  const int terms = model.randomTerms;
  const int traits = model.traits;
  model.hi.resize(static_cast<std::size_t>(traits));
  model.hiError.resize(static_cast<std::size_t>(traits));
  model.hm.resize(static_cast<std::size_t>(traits));
  model.hmError.resize(static_cast<std::size_t>(traits));
  for (int i = 0; i < traits; ++i) {
    std::vector<double> sd(static_cast<std::size_t>(terms) + 1);
    std::vector<double> var(static_cast<std::size_t>(terms) + 1);
    std::vector<double> spVar(static_cast<std::size_t>(terms) + 1);
    for (int x = 0; x <= terms; ++x) {
      sd[x] = model.Component(x, i, i);
      spVar[x] = SumOfProductsVariance(model, x, i, i);
    }
    for (int x = 0; x < terms; ++x)
      var[x] = model.componentVar[x][static_cast<std::size_t>(i) * traits + i];
    var[terms] = model.componentVarE[i];
    auto covariance = [&](int x, int z) {
      double sum = 0.0;
      for (int q = 0; q <= terms; ++q) sum += model.c[x][q] * model.c[z][q] * spVar[q];
      return sum;
    };
    double total = 0.0;
    for (int x = 0; x <= terms; ++x) total += sd[x];
    const double sM = sd[0];
    double sumVar = 0.0;
    double sumCov = 0.0;
    double maleCov = 0.0;
    for (int x = 0; x <= terms; ++x) {
      sumVar += var[x];
      for (int z = x + 1; z <= terms; ++z) sumCov += covariance(x, z);
      if (x != 0) maleCov += covariance(0, x);
    }
    const double hi = 4 * sM / total;
    const double varHi = ((4 * sM) * (4 * sM) / (total * total) * (sumVar + 2 * sumCov) +
                          16 * var[0] - (2 * 4 * sM / total) * (4 * var[0] + 4 * maleCov)) /
                         (total * total);
    double d = sM;
    for (int x = 1; x <= terms; ++x) d += weight[x] * sd[x];
    double weightedVar = var[0];
    double weightedMaleCov = 0.0;
    double weightedPairCov = 0.0;
    for (int x = 1; x <= terms; ++x) {
      weightedVar += weight[x] * weight[x] * var[x];
      weightedMaleCov += weight[x] * covariance(0, x);
      for (int z = x + 1; z <= terms; ++z)
        weightedPairCov += weight[x] * weight[z] * covariance(x, z);
    }
    const double hm = sM / d;
    const double varHm =
        (sM * sM / (d * d) * (weightedVar + 2 * weightedMaleCov + 2 * weightedPairCov) + var[0] -
         (2 * sM / d) * (var[0] + weightedMaleCov)) /
        (d * d);
    model.hi[i] = hi;
    model.hiError[i] = std::sqrt(varHi);
    model.hm[i] = hm;
    model.hmError[i] = std::sqrt(varHm);
  }
}

}  // namespace

double RandomModel::Trace(int q, int x, int y) const {
  const int e = randomTerms;
  if (q == e) return df[e];
  if (x == e && y == e) return df[q];
  if (x == e) return k[q][y];
  if (y == e) return k[q][x];
  return t[q][x][y];
}

double RandomModel::ComponentInUnits(int term, int i, int j) const {
  return Component(term, i, j) * scale[i] * scale[j];
}

double RandomModel::VarianceInUnits(int term, int i, int j) const {
  const double units = scale[i] * scale[j];
  const double variance =
      term == randomTerms && i == j ? componentVarE[i] : componentVar[term][i * traits + j];
  return variance * units * units;
}

RandomModel EstimateComponents(const ModelCoding& coding, const DesignCells& cells,
                               const DesignData& data, int modelRank,
                               const RandomStageOptions& options) {
  const ModelSpec& spec = *coding.spec;
  RandomModel model;
  const int traits = data.traitCount;
  const int terms = static_cast<int>(spec.randomTerms.size());
  model.traits = traits;
  model.randomTerms = terms;

  const Standardised values = StandardiseTraits(data);
  model.scale = values.scale;
  const RandomDesign design = BuildRandomDesign(coding, cells);

  const std::vector<int> ranks = SequentialRanks(design, modelRank);
  model.df.resize(static_cast<std::size_t>(terms) + 1);
  for (int q = 0; q < terms; ++q) model.df[q] = ranks[q + 1] - ranks[q];
  model.df[terms] = data.observationCount - modelRank;

  options.stop.ThrowIfStopped();
  const AtomTraits atoms = SummariseAtoms(design, cells.cellOfObservation, values.values);
  const LevelFits fits = FitLevels(design, atoms, options.stop);
  model.sp = SumsOfProducts(design, atoms, fits);
  TraceTables tables = ComputeTraceTables(design, fits.systems);
  model.k = std::move(tables.k);
  model.t = std::move(tables.t);
  EstimatorCoefficients(model);
  Components(model);
  SamplingVariances(model);

  model.testF.assign(static_cast<std::size_t>(traits), std::vector<double>(terms, kNaN));
  model.testP.assign(static_cast<std::size_t>(traits), std::vector<double>(terms, kNaN));
  for (int x = terms - 1; x >= 0; --x) {
    switch (spec.randomTerms[x].test) {
      case ComponentTest::AgainstResidual:
        TestAgainstResidual(model, x);
        break;
      case ComponentTest::Synthesized:
        TestBySynthesizedDenominator(model, x);
        break;
      case ComponentTest::Exact:
        break;
    }
  }
  options.stop.ThrowIfStopped();
  ExactTests(model, spec, design, fits, atoms, cells, values, ranks, options);
  Heritabilities(model, MaleMeanWeights(coding, design));
  return model;
}

// Step 11. For every random term x and pair of traits i < j: the correlation
// r = s_x(i, j) / sqrt(s_x(i, i) s_x(j, j)), clamped to [-1, 1], and its first-order
// variance
//   Var(r) = r^2 [V_ii / (4 s_ii^2) + V_ij / s_ij^2 + V_jj / (4 s_jj^2)
//                 - 2 C_ij,ii / (s_ij s_ii) - 2 C_ij,jj / (s_ij s_jj) + 2 C_ii,jj / (2 s_ii s_jj)]
// with V the sampling variances of the component estimates and C the half-covariances of
// two estimates, sum over the blocks q of c(x, q)^2 times the half-covariance of the
// blocks' sums of products, sum over ordered pairs (y, z) of the block's terms of
// t(q; y, z) a(y) b(z) (Falconer and Mackay, 1996, chapter 19, on the standard error of a
// genetic correlation; Searle, Casella and McCulloch, 1992, section 12.2, for the
// covariances of quadratic forms).
std::vector<CorrelationMatrix> GeneticCorrelations(const RandomModel& model,
                                                   const ModelSpec& spec) {
  const int traits = model.traits;
  const int terms = model.randomTerms;
  const int e = terms;
  auto s = [&](int x, int i, int j) { return model.Component(x, i, j); };
  auto trace = [&](int q, int x, int z) { return model.Trace(q, x, z); };
  auto half = [&](int q, auto&& a, auto&& b) {
    double sum = 0.0;
    const int first = q == e ? e : q;
    for (int y = first; y <= e; ++y) {
      for (int z = first; z <= e; ++z) sum += trace(q, y, z) * a(y) * b(z);
    }
    return sum;
  };

  std::vector<CorrelationMatrix> matrices;
  for (int x = 0; x < terms; ++x) {
    CorrelationMatrix matrix;
    matrix.effect = spec.randomTerms[x].correlationName;
    matrix.traits = traits;
    std::vector<double>& r = matrix.r;
    std::vector<double>& se = matrix.se;
    r.assign(static_cast<std::size_t>(traits) * traits, 0.0);
    se.assign(static_cast<std::size_t>(traits) * traits, 0.0);
    for (int i = 0; i < traits; ++i) r[static_cast<std::size_t>(i) * traits + i] = 1.0;
    const std::vector<double>& v = model.componentVar[x];
    for (int i = 0; i + 1 < traits; ++i) {
      for (int j = i + 1; j < traits; ++j) {
        double rij = s(x, i, j) / std::sqrt(s(x, i, i) * s(x, j, j));
        if (rij > 1) rij = 1;
        if (rij < -1) rij = -1;
        double cijii = 0.0;
        double cijjj = 0.0;
        double ciijj = 0.0;
        for (int q = x; q <= e; ++q) {
          const double c2 = model.c[x][q] * model.c[x][q];
          auto ij = [&](int y) { return s(y, i, j); };
          auto iiOf = [&](int y) { return s(y, i, i); };
          auto jjOf = [&](int y) { return s(y, j, j); };
          cijii += c2 * half(q, ij, iiOf);
          cijjj += c2 * half(q, ij, jjOf);
          ciijj += c2 * half(q, ij, ij);
        }
        const double sii = s(x, i, i);
        const double sjj = s(x, j, j);
        const double sij = s(x, i, j);
        const double vii = v[static_cast<std::size_t>(i) * traits + i];
        const double vjj = v[static_cast<std::size_t>(j) * traits + j];
        const double vij = v[static_cast<std::size_t>(i) * traits + j];
        const double variance =
            rij * rij *
            (vii / (4 * sii * sii) + vij / (sij * sij) + vjj / (4 * sjj * sjj) -
             2 * cijii / (sij * sii) - 2 * cijjj / (sij * sjj) + 2 * ciijj / (2 * sii * sjj));
        r[static_cast<std::size_t>(i) * traits + j] = r[static_cast<std::size_t>(j) * traits + i] =
            rij;
        se[static_cast<std::size_t>(i) * traits + j] =
            se[static_cast<std::size_t>(j) * traits + i] = std::sqrt(variance);
      }
    }
    matrices.push_back(std::move(matrix));
  }
  return matrices;
}

}  // namespace quorvel
