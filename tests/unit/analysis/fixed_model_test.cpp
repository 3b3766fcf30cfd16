// The fixed-model fit against the dense reference on generated designs of the three
// models, closed forms of balanced designs, the design coding and the layout of the male
// tables.
#include "analysis/fixed_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "analysis/analysis_result.h"
#include "analysis/model_coding.h"
#include "numeric/distinct_levels.h"
#include "numeric/f_distribution.h"
#include "report/text_report.h"
#include "tests/support/reference_fixed_model.h"

namespace quorvel {
namespace {

// ---------------------------------------------------------------------------------------
// Generated data sets.
// ---------------------------------------------------------------------------------------

// Reproducible random numbers, independent of the library's distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  int Int(int low, int high) {  // uniform in [low, high]
    return low + static_cast<int>(engine_() % static_cast<std::uint64_t>(high - low + 1));
  }
  double Uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
  bool Chance(double probability) { return Uniform() < probability; }
  double Normal() {  // Box and Muller
    const double u = 1.0 - Uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * Uniform());
  }
  std::mt19937_64& Engine() { return engine_; }

 private:
  std::mt19937_64 engine_;
};

// One observation: its factor codes (as many as the model uses) and a genetic value per
// trait before residual noise.
struct Observation {
  std::vector<std::int32_t> codes;
  double value = 0;
};

// A data set of `kind` with two traits: trait 1 near 10 with unit residuals, trait 2 near
// 500 with wider spread; rows are shuffled so that codes come in no particular order.
DesignData MakeData(ModelKind kind, std::vector<Observation> rows, Random& random) {
  std::shuffle(rows.begin(), rows.end(), random.Engine());
  DesignData data;
  data.kind = kind;
  data.factorCount = static_cast<int>(rows.front().codes.size());
  data.traitCount = 2;
  data.observationCount = static_cast<int>(rows.size());
  data.factorCodes.assign(static_cast<std::size_t>(data.factorCount), {});
  data.traitValues.assign(2, {});
  for (const Observation& row : rows) {
    for (int f = 0; f < data.factorCount; ++f) data.factorCodes[f].push_back(row.codes[f]);
    data.traitValues[0].push_back(10 + row.value + random.Normal());
    data.traitValues[1].push_back(500 + 7 * row.value + 3 * random.Normal());
  }
  for (int f = 0; f < data.factorCount; ++f) {
    data.levelCodes[f] = DistinctLevels(data.factorCodes[f]);
    data.levelCounts[f] = static_cast<int>(data.levelCodes[f].size());
  }
  return data;
}

// Shape of a generated design; counts are drawn from the ranges [low, high].
struct Shape {
  int blocks = 1;
  int males = 4;  // per block in the blocked-repeat model, overall otherwise
  int femalesLow = 2, femalesHigh = 2;
  int progenyLow = 2, progenyHigh = 2;  // per (female, repeat) or (block, female) cell
  int repeats = 2;                      // blocked-repeat: most repeat levels of a block
  double missingCell = 0;         // chance that a female-by-repeat or block-by-female cell is empty
  bool unevenRepeats = false;     // blocked-repeat: block k has k fewer repeat levels
  bool singleFemaleMale = false;  // the first male of each block has one female only
};

// Codes that are negative, not consecutive and not in order of first appearance.
std::int32_t MaleCode(int k) { return (k % 2 == 0 ? 1 : -1) * (3 + 7 * k); }
std::int32_t FemaleCode(int k) { return 2 * k + 1; }
std::int32_t BlockCode(int k) { return 10 * k - 10; }
std::int32_t RepeatCode(int k) { return 5 - 2 * k; }

int FemaleCount(const Shape& shape, int male, Random& random) {
  if (shape.singleFemaleMale && male == 0) return 1;
  return random.Int(shape.femalesLow, shape.femalesHigh);
}

DesignData NestedData(const Shape& shape, Random& random) {
  std::vector<Observation> rows;
  for (int m = 0; m < shape.males; ++m) {
    const double maleEffect = random.Normal();
    const int females = FemaleCount(shape, m, random);
    for (int f = 0; f < females; ++f) {
      const double femaleEffect = 0.7 * random.Normal();
      const int progeny = random.Int(shape.progenyLow, shape.progenyHigh);
      for (int k = 0; k < progeny; ++k) {
        rows.push_back({{MaleCode(m), FemaleCode(f)}, maleEffect + femaleEffect});
      }
    }
  }
  return MakeData(ModelKind::Nested, std::move(rows), random);
}

// Males and their families are crossed with blocks; a family may miss some blocks.
DesignData BlockedData(const Shape& shape, Random& random) {
  std::vector<double> blockEffect;
  for (int b = 0; b < shape.blocks; ++b) blockEffect.push_back(random.Normal());
  std::vector<Observation> rows;
  for (int m = 0; m < shape.males; ++m) {
    const double maleEffect = random.Normal();
    const int females = FemaleCount(shape, m, random);
    for (int f = 0; f < females; ++f) {
      const double femaleEffect = 0.7 * random.Normal();
      for (int b = 0; b < shape.blocks; ++b) {
        if (b > 0 && random.Chance(shape.missingCell)) continue;
        const int progeny = random.Int(shape.progenyLow, shape.progenyHigh);
        for (int k = 0; k < progeny; ++k) {
          rows.push_back({{BlockCode(b), MaleCode(m), FemaleCode(f)},
                          blockEffect[b] + maleEffect + femaleEffect});
        }
      }
    }
  }
  return MakeData(ModelKind::Blocked, std::move(rows), random);
}

// Males are nested in blocks (a male code recurs in every block as a different male);
// each family is seen in a subset of its block's repeats.
DesignData BlockedRepeatData(const Shape& shape, Random& random) {
  std::vector<Observation> rows;
  for (int b = 0; b < shape.blocks; ++b) {
    const double blockEffect = random.Normal();
    const int repeats = shape.unevenRepeats ? std::max(1, shape.repeats - b) : shape.repeats;
    std::vector<double> repeatEffect;
    for (int r = 0; r < repeats; ++r) repeatEffect.push_back(0.5 * random.Normal());
    for (int m = 0; m < shape.males; ++m) {
      const double maleEffect = random.Normal();
      const int females = FemaleCount(shape, m, random);
      for (int f = 0; f < females; ++f) {
        const double femaleEffect = 0.7 * random.Normal();
        const int kept = random.Int(0, repeats - 1);  // every family has one repeat at least
        for (int r = 0; r < repeats; ++r) {
          if (r != kept && random.Chance(shape.missingCell)) continue;
          const double interaction = 0.3 * random.Normal();
          const int progeny = random.Int(shape.progenyLow, shape.progenyHigh);
          for (int k = 0; k < progeny; ++k) {
            rows.push_back(
                {{BlockCode(b), MaleCode(m), FemaleCode(f), RepeatCode(r)},
                 blockEffect + repeatEffect[r] + maleEffect + femaleEffect + interaction});
          }
        }
      }
    }
  }
  return MakeData(ModelKind::BlockedRepeat, std::move(rows), random);
}

DesignData Generate(ModelKind kind, const Shape& shape, std::uint64_t seed) {
  Random random(seed);
  switch (kind) {
    case ModelKind::Nested:
      return NestedData(shape, random);
    case ModelKind::Blocked:
      return BlockedData(shape, random);
    default:
      return BlockedRepeatData(shape, random);
  }
}

// ---------------------------------------------------------------------------------------
// Agreement of two results.
// ---------------------------------------------------------------------------------------

constexpr double kRelative = 1e-9;

// |actual - expected| within `relative` of the larger magnitude, or within `floor` (for
// values that vanish in exact arithmetic and carry only rounding noise).
::testing::AssertionResult Near(double actual, double expected, double floor,
                                double relative = kRelative) {
  const double allowed = relative * std::max(std::fabs(actual), std::fabs(expected)) + floor;
  if (std::fabs(actual - expected) <= allowed) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << actual << " vs reference " << expected << " (allowed " << allowed << ")";
}

// Rounding noise of the two computations. Sums of squares come from y'y by cancellation,
// so their noise is a fraction of y'y; the error mean square divides every F and enters
// every standard error, so its relative noise adds to theirs.
struct Tolerance {
  double ss;        // absolute, sums of squares
  double estimate;  // absolute, estimates (a fraction of the largest |y|)
  double variance;  // absolute, squared standard errors
  double f;         // absolute, F statistics and squared t values
  double relative;  // relative, F statistics, t values and standard errors
};

Tolerance ToleranceFor(std::span<const double> y, const FixedTraitResult& reference) {
  double yy = 0;
  double largest = 0;
  for (const double v : y) {
    yy += v * v;
    largest = std::max(largest, std::fabs(v));
  }
  Tolerance tol;
  tol.ss = 1e-12 * yy;
  tol.estimate = 1e-12 * largest;
  tol.variance = 1e-12 * reference.errorMS;
  tol.f = tol.ss / reference.errorMS;
  tol.relative = kRelative + tol.ss / reference.errorSS;
  return tol;
}

// The p of an F(df1, df2) test: equal up to what the tolerance of its F statistic carries
// over (the tail is steep where F is small and df1 is 1).
::testing::AssertionResult NearP(double actual, double expected, int df1, int df2, double f,
                                 const Tolerance& tol) {
  if (df1 == 0) return Near(actual, expected, 0);
  const double delta = tol.relative * std::fabs(f) + tol.f;
  const double spread =
      std::fabs(FUpperTail(df1, df2, std::max(f - delta, 0.0)) - FUpperTail(df1, df2, f + delta));
  return Near(actual, expected, 1e-12 + spread);
}

// A t value as the signed root of an F: compared through F, and its sign where the
// estimate (or difference of estimates) that gives it is clear of rounding noise.
void ExpectSameT(double actual, double expected, double signSource, const Tolerance& tol,
                 const std::string& what) {
  EXPECT_TRUE(Near(actual * actual, expected * expected, tol.f, tol.relative)) << what;
  if (std::fabs(signSource) > 1e3 * tol.estimate) {
    EXPECT_EQ(actual < 0, expected < 0) << what;
  }
}

Significance ClassOf(double p) {
  return p < 0.01 ? Significance::One : p <= 0.05 ? Significance::Five : Significance::None;
}

void ExpectSameTests(const FixedTraitResult& fast, const FixedTraitResult& reference,
                     const Tolerance& tol) {
  const int errorDF = reference.errorDF;
  EXPECT_EQ(fast.modelDF, reference.modelDF);
  EXPECT_EQ(fast.errorDF, reference.errorDF);
  EXPECT_EQ(fast.totalDF, reference.totalDF);
  EXPECT_TRUE(Near(fast.errorSS, reference.errorSS, tol.ss)) << "error SS";
  EXPECT_TRUE(Near(fast.errorMS, reference.errorMS, tol.ss / errorDF)) << "error MS";
  EXPECT_TRUE(Near(fast.totalSS, reference.totalSS, tol.ss)) << "total SS";
  EXPECT_TRUE(Near(fast.modelSS, reference.modelSS, tol.ss)) << "model SS";
  EXPECT_TRUE(Near(fast.modelMS, reference.modelMS, tol.ss)) << "model MS";
  EXPECT_TRUE(Near(fast.modelF, reference.modelF, tol.f, tol.relative)) << "model F";
  EXPECT_TRUE(
      NearP(fast.modelP, reference.modelP, reference.modelDF, errorDF, reference.modelF, tol))
      << "model p";

  ASSERT_EQ(fast.factors.size(), reference.factors.size());
  for (std::size_t k = 0; k < fast.factors.size(); ++k) {
    const FactorTest& a = fast.factors[k];
    const FactorTest& e = reference.factors[k];
    const std::string what = std::string("factor ") + e.label;
    EXPECT_STREQ(a.label, e.label);
    EXPECT_EQ(a.df, e.df) << what;
    EXPECT_TRUE(Near(a.ss, e.ss, tol.ss)) << what;
    if (e.df == 0) continue;  // MS, F and p divide by 0: whatever IEEE arithmetic gives
    EXPECT_TRUE(Near(a.ms, e.ms, tol.ss)) << what;
    EXPECT_TRUE(Near(a.f, e.f, tol.f, tol.relative)) << what;
    EXPECT_TRUE(NearP(a.p, e.p, e.df, errorDF, e.f, tol)) << what;
  }
}

void ExpectSameEstimates(const FixedTraitResult& fast, const FixedTraitResult& reference,
                         const testing::ReferenceTests& tests, const ModelCoding& coding,
                         const Tolerance& tol) {
  ASSERT_EQ(fast.estimates.size(), reference.estimates.size());
  for (std::size_t k = 0; k < fast.estimates.size(); ++k) {
    const ParameterEstimate& a = fast.estimates[k];
    const ParameterEstimate& e = reference.estimates[k];
    const std::string what = "parameter " + coding.parameterNames[k];
    EXPECT_TRUE(Near(a.estimate, e.estimate, tol.estimate)) << what;
    EXPECT_TRUE(Near(a.stdError * a.stdError, e.stdError * e.stdError, tol.variance, tol.relative))
        << what;
    ExpectSameT(a.t, e.t, e.estimate, tol, what);
    // t is the root of F whatever its degrees of freedom (two where restrictions bind).
    const int df = tests.parameterDF[k];
    EXPECT_TRUE(NearP(a.p, e.p, df, reference.errorDF, e.t * e.t, tol)) << what << ", DF " << df;
  }
}

void ExpectSameMaleTables(const FixedTraitResult& fast, const FixedTraitResult& reference,
                          const testing::ReferenceTests& tests, const ModelCoding& coding,
                          const Tolerance& tol) {
  ASSERT_EQ(fast.maleT.size(), reference.maleT.size());
  ASSERT_EQ(fast.maleSignificance.size(), fast.maleT.size());
  const EffectBlock& male = MaleBlock(coding);
  for (int i = 1; i < male.count; ++i) {
    for (int j = 0; j < i; ++j) {
      const std::size_t k = MalePairIndex(i, j);
      const std::string what = "males " + coding.parameterNames[male.start + i] + " and " +
                               coding.parameterNames[male.start + j];
      const double difference = reference.estimates[male.start + i].estimate -
                                reference.estimates[male.start + j].estimate;
      ExpectSameT(fast.maleT[k], reference.maleT[k], difference, tol, what);
      // The class may differ only where the reference p lies within the tolerance of a
      // bound.
      const int df = tests.malePairDF[k];
      EXPECT_EQ(reference.maleSignificance[k], ClassOf(tests.malePairP[k]));
      if (fast.maleSignificance[k] != reference.maleSignificance[k]) {
        const double f = reference.maleT[k] * reference.maleT[k];
        const double delta = tol.relative * f + tol.f;
        const Significance low = ClassOf(FUpperTail(df, reference.errorDF, f + delta));
        const Significance high =
            ClassOf(FUpperTail(df, reference.errorDF, std::max(f - delta, 0.0)));
        EXPECT_TRUE(fast.maleSignificance[k] == low || fast.maleSignificance[k] == high)
            << what << ": class " << static_cast<int>(fast.maleSignificance[k]) << ", p "
            << tests.malePairP[k];
      }
    }
  }
}

// Fits every trait of `data` both ways under `coding` and compares; returns the
// reference results.
std::vector<FixedTraitResult> FitBothWays(const DesignData& data, const ModelCoding& coding) {
  const DesignCells cells = BuildDesignCells(coding);
  const FixedModel model(coding, cells, nullptr);
  std::vector<FixedTraitResult> references;
  for (int t = 0; t < data.traitCount; ++t) {
    SCOPED_TRACE("trait " + std::to_string(t + 1));
    const FixedTraitResult fast = model.Fit(data.traitValues[t]);
    testing::ReferenceTests tests;
    references.push_back(testing::ReferenceFixedFit(coding, data.traitValues[t], nullptr, &tests));
    const Tolerance tol = ToleranceFor(data.traitValues[t], references.back());
    ExpectSameTests(fast, references.back(), tol);
    ExpectSameEstimates(fast, references.back(), tests, coding, tol);
    ExpectSameMaleTables(fast, references.back(), tests, coding, tol);
  }
  return references;
}

std::vector<FixedTraitResult> FitBothWays(const DesignData& data) {
  return FitBothWays(data, BuildModelCoding(data));
}

// ---------------------------------------------------------------------------------------
// Agreement on generated designs.
// ---------------------------------------------------------------------------------------

struct AgreementCase {
  const char* name;
  ModelKind kind;
  Shape shape;
  std::uint64_t seed;
};

void PrintTo(const AgreementCase& c, std::ostream* os) { *os << c.name; }

class FixedModelAgreement : public ::testing::TestWithParam<AgreementCase> {};

TEST_P(FixedModelAgreement, FastFitEqualsReference) {
  const AgreementCase& c = GetParam();
  const DesignData data = Generate(c.kind, c.shape, c.seed);
  const ModelCoding coding = BuildModelCoding(data);
  const testing::ReferenceRanks ranks = testing::ReferenceDesignRanks(coding);
  ASSERT_EQ(ranks.stacked, coding.parameterCount) << "normal matrix is singular";
  // The sum-to-zero rows of the three codings never fix an estimable function: a
  // combination of them that equals X'w for cell weights w has all its margins zero, and
  // then w = 0. So rank(R) + rank(X) = p here; binding rows are tested on their own below.
  EXPECT_EQ(ranks.design + ranks.restriction, coding.parameterCount);
  FitBothWays(data, coding);
}

Shape Balanced(int blocks, int males, int females, int progeny, int repeats = 2) {
  Shape s;
  s.blocks = blocks;
  s.males = males;
  s.femalesLow = s.femalesHigh = females;
  s.progenyLow = s.progenyHigh = progeny;
  s.repeats = repeats;
  return s;
}

Shape Unbalanced(int blocks, int males, double missing, bool singleFemale, int repeats = 2) {
  Shape s;
  s.blocks = blocks;
  s.males = males;
  s.femalesLow = 1;
  s.femalesHigh = 4;
  s.progenyLow = 1;
  s.progenyHigh = 4;
  s.repeats = repeats;
  s.missingCell = missing;
  s.singleFemaleMale = singleFemale;
  return s;
}

Shape Uneven(Shape s) {
  s.unevenRepeats = true;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Generated, FixedModelAgreement,
    ::testing::Values(
        AgreementCase{"NestedBalanced", ModelKind::Nested, Balanced(1, 5, 3, 3), 1},
        AgreementCase{"NestedUnbalanced", ModelKind::Nested, Unbalanced(1, 7, 0, false), 2},
        AgreementCase{"NestedSingleFemale", ModelKind::Nested, Unbalanced(1, 6, 0, true), 3},
        AgreementCase{"NestedTenMales", ModelKind::Nested, Unbalanced(1, 10, 0, true), 4},
        AgreementCase{"BlockedBalanced", ModelKind::Blocked, Balanced(3, 4, 2, 2), 5},
        AgreementCase{"BlockedEmptyCells", ModelKind::Blocked, Unbalanced(3, 5, 0.3, false), 6},
        AgreementCase{"BlockedSingleFemale", ModelKind::Blocked, Unbalanced(2, 6, 0.4, true), 7},
        AgreementCase{"RepeatBalanced", ModelKind::BlockedRepeat, Balanced(2, 3, 2, 2), 8},
        AgreementCase{"RepeatThreeRepeats", ModelKind::BlockedRepeat, Balanced(2, 2, 2, 2, 3), 9},
        AgreementCase{"RepeatMissingCells", ModelKind::BlockedRepeat,
                      Unbalanced(2, 3, 0.3, false, 3), 10},
        AgreementCase{"RepeatUnevenBlocks", ModelKind::BlockedRepeat,
                      Uneven(Unbalanced(3, 2, 0.3, true, 3)), 11}),
    [](const auto& param) { return std::string(param.param.name); });

// Restriction rows that do fix estimable functions, added by hand: then even a hypothesis
// already implied by the restrictions has degrees of freedom, and every test is measured
// against the fit restricted to R b = 0 rather than against errorSS.
TEST(FixedModelAgreement, BindingRestrictions) {
  struct Case {
    ModelKind kind;
    Shape shape;
    std::uint64_t seed;
  };
  for (const Case& c : {Case{ModelKind::Nested, Unbalanced(1, 5, 0, false), 25},
                        Case{ModelKind::BlockedRepeat, Unbalanced(2, 3, 0.2, false, 2), 27}}) {
    const DesignData data = Generate(c.kind, c.shape, c.seed);
    ModelCoding coding = BuildModelCoding(data);
    const testing::ReferenceRanks before = testing::ReferenceDesignRanks(coding);
    ASSERT_EQ(before.stacked, coding.parameterCount);
    // The first two parameters of the male block, and the first parameter of the lowest
    // block whose fixing adds to the rank of R (one that its rows leave free).
    const int male = MaleBlock(coding).start;
    coding.restrictionRows.push_back({male, male + 1});
    const int restrictionRank = testing::ReferenceDesignRanks(coding).restriction;
    int fixed = coding.blocks.back().start;
    for (; fixed < coding.parameterCount; ++fixed) {
      coding.restrictionRows.push_back({fixed});
      if (testing::ReferenceDesignRanks(coding).restriction > restrictionRank) break;
      coding.restrictionRows.pop_back();
    }
    coding.restrictionCount = static_cast<int>(coding.restrictionRows.size());

    const testing::ReferenceRanks ranks = testing::ReferenceDesignRanks(coding);
    ASSERT_EQ(ranks.stacked, coding.parameterCount);
    ASSERT_EQ(ranks.design + ranks.restriction, coding.parameterCount + 2);
    FitBothWays(data, coding);
    // The parameter fixed by the added row adds no constraint, yet its test has the two
    // degrees of freedom by which the restrictions bind.
    testing::ReferenceTests tests;
    const FixedTraitResult reference =
        testing::ReferenceFixedFit(coding, data.traitValues[0], nullptr, &tests);
    EXPECT_EQ(tests.parameterDF[fixed], 2);
    EXPECT_GT(reference.estimates[fixed].t * reference.estimates[fixed].t, 1e-6);
  }
}

// ---------------------------------------------------------------------------------------
// Closed forms and degrees of freedom.
// ---------------------------------------------------------------------------------------

TEST(FixedModel, BalancedNestedEstimatesAreDifferencesOfMeans) {
  // 3 males x 2 females x 2 progeny.
  const DesignData data = Generate(ModelKind::Nested, Balanced(1, 3, 2, 2), 21);
  const ModelCoding coding = BuildModelCoding(data);
  ASSERT_EQ(coding.parameterCount, 10);
  FitBothWays(data);
  const DesignCells cells = BuildDesignCells(coding);
  const FixedModel model(coding, cells, nullptr);
  EXPECT_EQ(model.ModelRank(), 6);

  const std::span<const double> y = data.traitValues[0];
  const FixedTraitResult fit = model.Fit(y);
  EXPECT_EQ(fit.modelDF, 5);
  EXPECT_EQ(fit.errorDF, 6);
  EXPECT_EQ(fit.totalDF, 11);
  ASSERT_EQ(fit.factors.size(), 2u);
  EXPECT_EQ(fit.factors[0].df, 2);  // nMale - 1
  EXPECT_EQ(fit.factors[1].df, 3);  // nMaleFemale - nMale

  // Means of the whole data, of each male and of each cell, keyed by codes.
  std::map<std::int32_t, std::vector<double>> byMale;
  std::map<std::pair<std::int32_t, std::int32_t>, std::vector<double>> byCell;
  for (int i = 0; i < data.observationCount; ++i) {
    byMale[data.factorCodes[0][i]].push_back(y[i]);
    byCell[{data.factorCodes[0][i], data.factorCodes[1][i]}].push_back(y[i]);
  }
  auto mean = [](const std::vector<double>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
  };
  const double grand = mean(std::vector<double>(y.begin(), y.end()));
  EXPECT_NEAR(fit.estimates[0].estimate, grand, 1e-12);
  for (int m = 0; m < 3; ++m) {
    const std::int32_t code = coding.cells[1].codes[0][m];
    EXPECT_NEAR(fit.estimates[1 + m].estimate, mean(byMale[code]) - grand, 1e-12);
  }
  for (int c = 0; c < 6; ++c) {
    const std::int32_t male = coding.cells[2].codes[0][c];
    const std::int32_t female = coding.cells[2].codes[1][c];
    EXPECT_NEAR(fit.estimates[4 + c].estimate, mean(byCell[{male, female}]) - mean(byMale[male]),
                1e-12);
  }
  // Sums of squares of a balanced nested design: between males, between cells within
  // males, within cells.
  double ssMale = 0, ssFemale = 0, ssError = 0;
  for (int i = 0; i < data.observationCount; ++i) {
    const double male = mean(byMale[data.factorCodes[0][i]]);
    const double cell = mean(byCell[{data.factorCodes[0][i], data.factorCodes[1][i]}]);
    ssMale += (male - grand) * (male - grand);
    ssFemale += (cell - male) * (cell - male);
    ssError += (y[i] - cell) * (y[i] - cell);
  }
  EXPECT_NEAR(fit.factors[0].ss, ssMale, 1e-9);
  EXPECT_NEAR(fit.factors[1].ss, ssFemale, 1e-9);
  EXPECT_NEAR(fit.errorSS, ssError, 1e-9);
}

TEST(FixedModel, MaleWithSingleFemaleHasNoTest) {
  const DesignData data = Generate(ModelKind::Nested, Unbalanced(1, 5, 0, true), 22);
  const ModelCoding coding = BuildModelCoding(data);
  const DesignCells cells = BuildDesignCells(coding);
  const FixedModel model(coding, cells, nullptr);
  FitBothWays(data);

  const FixedTraitResult fit = model.Fit(data.traitValues[0]);
  // The first male (code 3) has one female: its F parameter is fixed at 0.
  const auto& names = coding.parameterNames;
  const int single =
      static_cast<int>(std::find(names.begin(), names.end(), "F(3,1)") - names.begin());
  ASSERT_LT(single, coding.parameterCount);
  ASSERT_EQ(std::count_if(names.begin(), names.end(),
                          [](const std::string& name) { return name.rfind("F(3,", 0) == 0; }),
            1);
  const ParameterEstimate& e = fit.estimates[single];
  EXPECT_NEAR(e.estimate, 0, 1e-12);
  EXPECT_NEAR(e.stdError, 0, 1e-6);
  EXPECT_EQ(e.t, 0);
  EXPECT_EQ(e.p, 1);
  // Degrees of freedom of the factors in an unbalanced design.
  const int nMale = coding.cells[1].size;  // the nested model's M and F cells
  const int nCell = coding.cells[2].size;
  EXPECT_EQ(fit.factors[0].df, nMale - 1);
  EXPECT_EQ(fit.factors[1].df, nCell - nMale);
  EXPECT_EQ(fit.modelDF, nCell - 1);
}

TEST(FixedModel, FactorWithOneLevelHasNoDegreesOfFreedom) {
  // One block in the blocked model, one male in the nested model.
  const Shape oneBlock = Unbalanced(1, 4, 0, false);
  const DesignData blocked = Generate(ModelKind::Blocked, oneBlock, 23);
  const std::vector<FixedTraitResult> b = FitBothWays(blocked);
  EXPECT_EQ(b[0].factors[0].df, 0);
  EXPECT_NEAR(b[0].factors[0].ss, 0, 1e-9);

  const DesignData nested = Generate(ModelKind::Nested, Balanced(1, 1, 3, 2), 24);
  const std::vector<FixedTraitResult> n = FitBothWays(nested);
  EXPECT_EQ(n[0].factors[0].df, 0);
  EXPECT_EQ(n[0].factors[1].df, 2);
  EXPECT_TRUE(n[0].maleT.empty());
}

// ---------------------------------------------------------------------------------------
// Design coding.
// ---------------------------------------------------------------------------------------

// A data set from rows of factor codes; one trait that the coding does not look at.
DesignData DataFromRows(ModelKind kind, const std::vector<std::vector<std::int32_t>>& rows) {
  DesignData data;
  data.kind = kind;
  data.factorCount = static_cast<int>(rows.front().size());
  data.traitCount = 1;
  data.observationCount = static_cast<int>(rows.size());
  data.factorCodes.assign(static_cast<std::size_t>(data.factorCount), {});
  data.traitValues.assign(1, {});
  for (const auto& row : rows) {
    for (int f = 0; f < data.factorCount; ++f) data.factorCodes[f].push_back(row[f]);
    data.traitValues[0].push_back(static_cast<double>(data.traitValues[0].size()));
  }
  return data;
}

std::vector<std::vector<int>> BlockLayout(const ModelCoding& coding) {
  std::vector<std::vector<int>> layout;
  for (const EffectBlock& block : coding.blocks) {
    layout.push_back({static_cast<int>(block.effect), block.start, block.count});
  }
  return layout;
}

TEST(ModelCoding, NestedCodesAreSortedAndCellsBelongToTheirMale) {
  // Male codes in sheet order 7, 3, 12; female 1 under males 7 and 3; female 5 only
  // under male 12.
  const ModelCoding coding = BuildModelCoding(
      DataFromRows(ModelKind::Nested, {{7, 2}, {3, 1}, {12, 5}, {7, 1}, {12, 2}, {7, 2}, {3, 1}}));
  EXPECT_EQ(coding.cells[1].codes[0], (CodeList{3, 7, 12}));
  EXPECT_EQ(coding.parameterNames,
            (std::vector<std::string>{"u", "M3", "M7", "M12", "F(3,1)", "F(7,1)", "F(7,2)",
                                      "F(12,2)", "F(12,5)"}));
  EXPECT_EQ(coding.parameterCount, 9);    // 1 + nMale + nMaleFemale
  EXPECT_EQ(coding.restrictionCount, 4);  // 1 + nMale
  EXPECT_EQ(DenseRestrictionMatrix(coding),
            (std::vector<std::vector<std::int32_t>>{{0, 1, 1, 1, 0, 0, 0, 0, 0},
                                                    {0, 0, 0, 0, 1, 0, 0, 0, 0},
                                                    {0, 0, 0, 0, 0, 1, 1, 0, 0},
                                                    {0, 0, 0, 0, 0, 0, 0, 1, 1}}));
  // Observation 0 is male 7, female 2: u, M7, F(7,2).
  EXPECT_EQ(DenseDesignMatrix(coding)[0], (std::vector<std::int32_t>{1, 0, 1, 0, 0, 0, 1, 0, 0}));
  const DesignCells cells = BuildDesignCells(coding);
  EXPECT_EQ(cells.counts, (std::vector<int>{2, 1, 2, 1, 1}));
  EXPECT_EQ(cells.cellOfObservation, (std::vector<int>{2, 0, 4, 1, 3, 2, 0}));
}

TEST(ModelCoding, BlockedCrossesMalesWithBlocks) {
  // Male 5 in blocks -1 and 2 is one M parameter; its female 1 is one F parameter.
  const ModelCoding coding = BuildModelCoding(DataFromRows(
      ModelKind::Blocked, {{2, 5, 1}, {-1, 5, 1}, {-1, -4, 3}, {2, -4, 1}, {2, 5, 2}}));
  EXPECT_EQ(coding.parameterNames,
            (std::vector<std::string>{"u", "B-1", "B2", "M-4", "M5", "F(-4,1)", "F(-4,3)", "F(5,1)",
                                      "F(5,2)"}));
  EXPECT_EQ(BlockLayout(coding),
            (std::vector<std::vector<int>>{{0, 0, 1}, {1, 1, 2}, {2, 3, 2}, {3, 5, 4}}));
  EXPECT_EQ(coding.restrictionRows,
            (std::vector<std::vector<int>>{{1, 2}, {3, 4}, {5, 6}, {7, 8}}));  // 2 + nMale
  EXPECT_EQ(MaleBlock(coding).start, 3);
}

TEST(ModelCoding, BlockedRepeatNestsInBlocksAndKeepsEmptyRestrictionRows) {
  // Block 1: repeats 1 and 2, male 1 with females 1 (both repeats) and 2 (repeat 2 only).
  // Block 2: repeat 1 only, male 1 (another male) with female 1.
  const ModelCoding coding = BuildModelCoding(
      DataFromRows(ModelKind::BlockedRepeat,
                   {{1, 1, 1, 1}, {1, 1, 1, 2}, {1, 1, 2, 2}, {2, 1, 1, 1}, {2, 1, 1, 1}}));
  EXPECT_EQ(coding.parameterNames,
            (std::vector<std::string>{"u", "B1", "B2", "R(1,1)", "R(1,2)", "R(2,1)", "M(1,1)",
                                      "M(2,1)", "F(1,1,1)", "F(1,1,2)", "F(2,1,1)", "FR(1,1,1,1)",
                                      "FR(1,1,1,2)", "FR(1,1,2,2)", "FR(2,1,1,1)"}));
  // r = 1 + 2 nBlock + nBlockMale + nBlock nMaleFemale + nBlock nRepeat = 1 + 4 + 2 + 4 + 4.
  ASSERT_EQ(coding.restrictionCount, 15);
  EXPECT_EQ(coding.restrictionRows, (std::vector<std::vector<int>>{
                                        {1, 2},  // all B
                                        {3, 4},
                                        {5},  // R of each block
                                        {6},
                                        {7},  // M of each block
                                        {8, 9},
                                        {10},  // F of each block-male cell
                                        {11, 12},
                                        {13},  // FR of block 1 with (male, female) (1,1) and (1,2)
                                        {14},
                                        {},  // FR of block 2: (1,2) does not occur there
                                        {11},
                                        {12, 13},  // FR of block 1 with repeats 1 and 2
                                        {14},
                                        {}}));  // FR of block 2: repeat 2 does not occur there
  EXPECT_EQ(DenseRestrictionMatrix(coding).size(), 15u);
}

// ---------------------------------------------------------------------------------------
// Tables of male differences.
// ---------------------------------------------------------------------------------------

// One table of the report as read back: its number, the names over its columns, and per
// row the male's name and the number of cells.
struct ReadTable {
  int number = 0;
  int ruleWidth = 0;
  std::vector<std::string> columns;
  std::vector<std::pair<std::string, int>> rows;
};

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::size_t k = 0;
  while ((k = line.find_first_not_of(' ', k)) != std::string::npos) {
    const std::size_t end = std::min(line.find(' ', k), line.size());
    words.push_back(line.substr(k, end - k));
    k = end;
  }
  return words;
}

std::string MaleName(int number) {
  std::string name = "M";
  name += std::to_string(number);
  return name;
}

std::vector<ReadTable> ReadMaleTables(const std::string& report) {
  const std::vector<std::string> lines = SplitLines(report);
  const std::string title = "   T values of test for difference between two males for trait 1 (";
  std::vector<ReadTable> tables;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (lines[k].rfind(title, 0) != 0) continue;
    ReadTable table;
    table.number = std::stoi(lines[k].substr(title.size()));
    table.ruleWidth = static_cast<int>(lines[k + 1].size());
    EXPECT_EQ(lines[k + 2].size(), 18 + 15 * (table.ruleWidth - 21) / 15);
    table.columns = Words(lines[k + 2]);
    std::string dashes = "   ";
    dashes.append(lines[k + 1].size() - 6, '-');
    EXPECT_EQ(lines[k + 3], dashes);
    std::size_t row = k + 4;
    for (; lines[row].rfind("   ===", 0) != 0; ++row) {
      const int cells = static_cast<int>(lines[row].size() - 18) / 15;
      EXPECT_EQ(lines[row].size(), 18u + 15u * static_cast<std::size_t>(cells));
      table.rows.push_back({Words(lines[row])[0], cells});
    }
    EXPECT_EQ(lines[row], lines[k + 1]);
    EXPECT_EQ(lines[row + 1], "   *p<0.05, **p<0.01");
    tables.push_back(table);
  }
  return tables;
}

TEST(MaleTables, ColumnsComeInTablesOfEightAndTheLastMayBeEmpty) {
  for (const int males : {1, 8, 9, 17}) {
    SCOPED_TRACE(std::to_string(males) + " males");
    std::vector<std::vector<std::int32_t>> rows;
    for (int m = 1; m <= males; ++m) {
      for (const std::int32_t female : {1, 2}) rows.insert(rows.end(), 2, {m, female});
    }
    DesignData data = DataFromRows(ModelKind::Nested, rows);
    Random random(31);
    for (double& v : data.traitValues[0]) v = random.Normal();
    const ModelCoding coding = BuildModelCoding(data);
    const DesignCells cells = BuildDesignCells(coding);
    const FixedModel model(coding, cells, nullptr);
    AnalysisResult result;
    result.parameterNames = coding.parameterNames;
    result.maleStart = MaleBlock(coding).start;
    result.maleCount = MaleBlock(coding).count;
    result.traits.resize(1);
    result.traits[0].fixed = model.Fit(data.traitValues[0]);
    std::string report;
    AppendFixedTraitSections(report, result, 0);

    const std::vector<ReadTable> tables = ReadMaleTables(report);
    const int full = (males - 1) / 8;
    ASSERT_EQ(static_cast<int>(tables.size()), full + 1);
    for (int c = 1; c <= full + 1; ++c) {
      const ReadTable& table = tables[c - 1];
      const int width = c <= full ? 8 : (males - 1) % 8;
      const int first = 8 * (c - 1) + 1;  // male number of the first column
      EXPECT_EQ(table.number, c);
      EXPECT_EQ(table.ruleWidth, 21 + 15 * width);
      ASSERT_EQ(static_cast<int>(table.columns.size()), width);
      for (int k = 0; k < width; ++k) EXPECT_EQ(table.columns[k], MaleName(first + k));
      // Rows: the males after the first column, each with the cells left of the diagonal.
      ASSERT_EQ(static_cast<int>(table.rows.size()), width == 0 ? 0 : males - first);
      for (std::size_t r = 0; r < table.rows.size(); ++r) {
        const int male = first + 1 + static_cast<int>(r);
        EXPECT_EQ(table.rows[r].first, MaleName(male));
        EXPECT_EQ(table.rows[r].second, std::min(male - first, width));
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
