// The random-model stage against its dense reference on generated designs, the
// orthogonal reduction and the eigen-decomposition against their definitions, and the
// closed forms of balanced designs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/fixed_model.h"
#include "analysis/model_coding.h"
#include "analysis/orthogonal_reduction.h"
#include "analysis/random_model.h"
#include "numeric/distinct_levels.h"
#include "numeric/f_distribution.h"
#include "numeric/matrix.h"
#include "tests/support/reference_random_model.h"

namespace quorvel {
namespace {

using testing::DenseRows;
using testing::RowPointers;

// Reproducible pseudo-random numbers (the engine's sequence is fixed by the language).
class Rng {
 public:
  explicit Rng(unsigned seed) : engine_(seed) {}
  int Below(int n) { return static_cast<int>(engine_() % static_cast<unsigned>(n)); }
  double Uniform() { return (static_cast<double>(engine_()) + 0.5) / 4294967296.0; }
  double Normal() { return std::sqrt(-2.0 * std::log(Uniform())) * std::cos(2.0 * std::numbers::pi * Uniform()); }

 private:
  std::mt19937 engine_;
};

// A generated data set: sizes are exact when balanced, maxima otherwise.
struct Shape {
  const char* name;
  ModelKind kind;
  bool balanced;
  int traits;
  unsigned seed;
  int blocks;   // blocked layouts
  int males;    // in the data set, or per block in the blocked-repeat layout
  int females;  // per male
  int repeats;  // per block, blocked-repeat layout
  int progeny;  // per cell
};

void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.name; }

// Simulates a design of the shape with block, repeat, male, female, female-by-repeat and
// residual effects; the genetic effects are correlated between traits (signs alternate)
// so that the correlation matrices carry meaning. Unbalanced data sets have cells of
// different sizes, missing combinations, codes with gaps and rows in random order.
DesignData Generate(const Shape& shape) {
  Rng rng(shape.seed);
  const int traits = shape.traits;
  auto count = [&](int most, bool atLeastTwo) {
    if (shape.balanced) return most;
    const int n = 1 + rng.Below(most);
    return atLeastTwo ? std::max(n, std::min(2, most)) : n;
  };
  auto effect = [&](double sd) {
    std::vector<double> e(static_cast<std::size_t>(traits));
    const double common = rng.Normal();
    for (int t = 0; t < traits; ++t) {
      const double rho = t % 2 == 0 ? 0.7 : -0.5;
      e[t] = sd * (1 + 0.5 * t) * (rho * common + std::sqrt(1 - rho * rho) * rng.Normal());
    }
    return e;
  };
  struct Row {
    std::array<int, 4> codes;
    std::vector<double> y;
  };
  std::vector<Row> rows;
  // Adds n observations of one cell with the sum of the given effects.
  auto addCell = [&](std::array<int, 4> codes, const std::vector<std::vector<double>>& effects, int n) {
    for (int i = 0; i < n; ++i) {
      Row row{codes, effect(1.0)};
      for (int t = 0; t < traits; ++t) {
        row.y[t] += 40.0 * (t + 1);
        for (const auto& e : effects) row.y[t] += e[t];
      }
      rows.push_back(std::move(row));
    }
  };

  int factors = 2;
  if (shape.kind == ModelKind::Nested) {
    for (int m = 0; m < shape.males; ++m) {
      const int male = shape.balanced ? m + 1 : 7 + 4 * m;
      const auto maleEffect = effect(2.0);
      const int females = count(shape.females, m == 0);
      for (int f = 0; f < females; ++f) {
        const int female = shape.balanced ? f + 1 : 1 + 2 * f + rng.Below(2);
        addCell({male, female, 0, 0}, {maleEffect, effect(1.5)}, count(shape.progeny, f == 0));
      }
    }
  } else if (shape.kind == ModelKind::Blocked) {
    factors = 3;
    std::vector<std::vector<double>> maleEffect;
    std::vector<std::vector<std::vector<double>>> femaleEffect;
    std::vector<int> females;
    for (int m = 0; m < shape.males; ++m) {
      maleEffect.push_back(effect(2.0));
      females.push_back(count(shape.females, m == 0));
      femaleEffect.emplace_back();
      for (int f = 0; f < females[m]; ++f) femaleEffect[m].push_back(effect(1.5));
    }
    for (int b = 0; b < shape.blocks; ++b) {
      const int block = shape.balanced ? b + 1 : b - 1;
      const auto blockEffect = effect(3.0);
      for (int m = 0; m < shape.males; ++m) {
        if (!shape.balanced && b > 0 && rng.Below(3) == 0) continue;  // male missing from the block
        const int male = shape.balanced ? m + 1 : -20 + 6 * m;
        for (int f = 0; f < females[m]; ++f) {
          if (!shape.balanced && b > 0 && rng.Below(4) == 0) continue;
          addCell({block, male, f + 1, 0}, {blockEffect, maleEffect[m], femaleEffect[m][f]},
                  count(shape.progeny, b == 0 && f == 0));
        }
      }
    }
  } else {
    factors = 4;
    for (int b = 0; b < shape.blocks; ++b) {
      const int block = shape.balanced ? b + 1 : 10 * (b + 1);
      const auto blockEffect = effect(3.0);
      const int repeats = count(shape.repeats, b == 0);
      std::vector<std::vector<double>> repeatEffect;
      for (int r = 0; r < repeats; ++r) repeatEffect.push_back(effect(2.0));
      const int males = count(shape.males, b == 0);
      for (int m = 0; m < males; ++m) {
        const int male = shape.balanced ? m + 1 : 100 * (b + 1) + m + 1;
        const auto maleEffect = effect(2.0);
        const int females = count(shape.females, m == 0);
        for (int f = 0; f < females; ++f) {
          const auto femaleEffect = effect(1.5);
          for (int r = 0; r < repeats; ++r) {
            if (!shape.balanced && r > 0 && rng.Below(5) == 0) continue;  // missing female x repeat cell
            addCell({block, male, f + 1, r + 1},
                    {blockEffect, repeatEffect[r], maleEffect, femaleEffect, effect(1.0)},
                    count(shape.progeny, f == 0));
          }
        }
      }
    }
  }
  if (!shape.balanced) {
    for (std::size_t i = rows.size(); i > 1; --i) std::swap(rows[i - 1], rows[rng.Below(static_cast<int>(i))]);
  }

  DesignData data;
  data.kind = shape.kind;
  data.factorCount = factors;
  data.traitCount = traits;
  data.observationCount = static_cast<int>(rows.size());
  data.factorCodes.assign(static_cast<std::size_t>(factors), {});
  data.traitValues.assign(static_cast<std::size_t>(traits), {});
  for (const Row& row : rows) {
    for (int f = 0; f < factors; ++f) data.factorCodes[f].push_back(row.codes[f]);
    for (int t = 0; t < traits; ++t) data.traitValues[t].push_back(row.y[t]);
  }
  for (int f = 0; f < factors; ++f) {
    data.levelCodes[f] = DistinctLevels(data.factorCodes[f]);
    data.levelCounts[f] = static_cast<int>(data.levelCodes[f].size());
  }
  return data;
}

// The stage as the analysis run calls it.
RandomModel Fast(const DesignData& data) {
  const ModelCoding coding = BuildModelCoding(data);
  const DesignCells cells = BuildDesignCells(coding);
  const FixedModel fixed(coding, cells);
  return EstimateComponents(coding, cells, data, fixed.ModelRank());
}

// Agreement to 1e-9 relative; values that vanish in exact arithmetic are compared against
// an absolute floor instead. NaNs agree with NaNs, infinities with equal infinities.
::testing::AssertionResult Agree(double actual, double expected, double floor, double relative = 1e-9) {
  if (std::isnan(actual) && std::isnan(expected)) return ::testing::AssertionSuccess();
  if (std::isinf(actual) || std::isinf(expected)) {
    if (actual == expected) return ::testing::AssertionSuccess();
  } else if (std::fabs(actual - expected) <= relative * std::max(std::fabs(actual), std::fabs(expected)) + floor) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "actual " << actual << ", expected " << expected << " (difference "
                                       << actual - expected << ", floor " << floor << ")";
}

// The largest finite magnitude of a family of values.
double Scale(const std::vector<double>& values) {
  double scale = 0.0;
  for (const double v : values) {
    if (std::isfinite(v)) scale = std::max(scale, std::fabs(v));
  }
  return scale;
}

void ExpectFamily(const char* what, const std::vector<double>& actual, const std::vector<double>& expected,
                  double relativeFloor = 1e-11) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  const double floor = relativeFloor * Scale(expected);
  for (std::size_t k = 0; k < actual.size(); ++k) {
    EXPECT_TRUE(Agree(actual[k], expected[k], floor)) << what << " [" << k << "]";
  }
}

// Values printed by WriteCorrelations, matrix by matrix: for each, T x T correlations and
// standard errors in row-major order (the diagonal's fixed texts included).
struct PrintedMatrix {
  std::vector<double> correlation;
  std::vector<double> error;
};
std::vector<PrintedMatrix> ParseCorrelations(const std::string& text, int traits) {
  std::vector<PrintedMatrix> out;
  std::istringstream in(text);
  std::string line;
  auto numbers = [](const std::string& s) {
    std::vector<double> values;
    std::istringstream fields(s);
    std::string field;
    while (fields >> field) {
      field.erase(std::remove(field.begin(), field.end(), '('), field.end());
      field.erase(std::remove(field.begin(), field.end(), ')'), field.end());
      values.push_back(std::strtod(field.c_str(), nullptr));
    }
    return values;
  };
  while (std::getline(in, line)) {
    if (line.rfind("   --------------", 0) != 0) continue;
    PrintedMatrix matrix;
    for (int i = 0; i < traits; ++i) {
      std::string values;
      std::string errors;
      std::string blank;
      std::getline(in, values);
      std::getline(in, errors);
      std::getline(in, blank);
      const std::vector<double> v = numbers(values);  // the row label first
      const std::vector<double> e = numbers(errors);
      matrix.correlation.insert(matrix.correlation.end(), v.begin() + 1, v.end());
      matrix.error.insert(matrix.error.end(), e.begin(), e.end());
    }
    out.push_back(std::move(matrix));
  }
  return out;
}

// The fields of a printed line that starts with `label`, in the section of trait `trait`.
[[maybe_unused]] std::vector<std::string> PrintedLine(const std::string& text, int trait, const std::string& label) {
  const std::string heading = "heritabilites for trait " + std::to_string(trait) + ":";
  std::size_t at = text.find(heading);
  if (at == std::string::npos) return {};
  at = text.find("\n" + label, at);
  if (at == std::string::npos) return {};
  std::istringstream line(text.substr(at + 1, text.find('\n', at + 1) - at - 1));
  std::vector<std::string> fields;
  std::string field;
  while (line >> field) fields.push_back(field);
  return fields;
}

// ---------------------------------------------------------------------------------------
// The fast stage against the dense reference.

class AgainstReference : public ::testing::TestWithParam<Shape> {};

TEST_P(AgainstReference, FastStageAgreesWithDenseReference) {
  const DesignData data = Generate(GetParam());
  const ModelCoding coding = BuildModelCoding(data);
  const RandomModel fast = Fast(data);
  const RandomModel ref = testing::ReferenceRandomModel(data, coding);
  const int terms = ref.randomTerms;
  const int traits = ref.traits;
  ASSERT_EQ(fast.randomTerms, terms);
  ASSERT_EQ(fast.traits, traits);
  ASSERT_EQ(fast.df, ref.df);
  int s = 0;
  for (int q = 0; q < terms; ++q) s += ref.df[q];
  ASSERT_GE(ref.df[terms], s) << "the exact tests must run for the comparison to cover them";
  ASSERT_GT(ref.df[terms - 1], 0);

  std::vector<double> fk, rk, ft, rt, fc, rc;
  for (int q = 0; q < terms; ++q) {
    for (int x = q; x < terms; ++x) {
      fk.push_back(fast.k[q][x]);
      rk.push_back(ref.k[q][x]);
      for (int z = q; z < terms; ++z) {
        ft.push_back(fast.t[q][x][z]);
        rt.push_back(ref.t[q][x][z]);
      }
    }
  }
  for (int x = 0; x <= terms; ++x) {
    fc.insert(fc.end(), fast.c[x].begin(), fast.c[x].end());
    rc.insert(rc.end(), ref.c[x].begin(), ref.c[x].end());
  }
  ExpectFamily("k", fk, rk);
  ExpectFamily("t", ft, rt);
  ExpectFamily("c", fc, rc);
  for (int x = 0; x <= terms; ++x) ExpectFamily("component", fast.component[x], ref.component[x]);
  for (int x = 0; x < terms; ++x) ExpectFamily("componentVar", fast.componentVar[x], ref.componentVar[x]);
  ExpectFamily("componentVarE", fast.componentVarE, ref.componentVarE);
  // The exact tests rest on eigen-decompositions that stop once every off-diagonal entry
  // is below 1e-6; both paths then carry relative errors of order 1e-7 in F.
  for (int i = 0; i < traits; ++i) {
    for (int x = 0; x < terms; ++x) {
      const bool exact = x < terms - 1;
      EXPECT_TRUE(Agree(fast.testF[i][x], ref.testF[i][x], 0.0, exact ? 1e-6 : 1e-9))
          << "F of term " << x << ", trait " << i;
      EXPECT_TRUE(Agree(fast.testP[i][x], ref.testP[i][x], 1e-12, exact ? 1e-5 : 1e-9))
          << "Pr of term " << x << ", trait " << i;
    }
    EXPECT_FALSE(std::isnan(ref.testF[i][terms == 3 ? 1 : 0]));
  }
  ExpectFamily("Hi", fast.hi, ref.hi);
  ExpectFamily("Hi error", fast.hiError, ref.hiError);
  ExpectFamily("Hm", fast.hm, ref.hm);
  ExpectFamily("Hm error", fast.hmError, ref.hmError);

  // The printed correlations and standard errors: the reference's values to the printed
  // precision.
  std::string text;
  WriteCorrelations(text, fast);
  const auto printed = ParseCorrelations(text, traits);
  const auto expected = testing::ReferenceCorrelations(ref);
  ASSERT_EQ(printed.size(), expected.size());
  for (std::size_t x = 0; x < printed.size(); ++x) {
    for (int i = 0; i < traits; ++i) {
      for (int j = 0; j < traits; ++j) {
        const std::size_t ij = static_cast<std::size_t>(i) * traits + j;
        const double r = i == j ? 1.0 : expected[x].correlation[ij];
        const double se = i == j ? 0.0 : expected[x].error[ij];
        EXPECT_TRUE(Agree(printed[x].correlation[ij], r, 5.01e-5, 0.0)) << "term " << x << " (" << i << "," << j << ")";
        EXPECT_TRUE(Agree(printed[x].error[ij], se, 5.01e-5, 0.0)) << "term " << x << " (" << i << "," << j << ")";
      }
    }
  }
}

const Shape kShapes[] = {
    {"NestedBalanced", ModelKind::Nested, true, 3, 11, 0, 5, 3, 0, 4},
    {"NestedUnbalanced", ModelKind::Nested, false, 2, 12, 0, 7, 4, 0, 6},
    {"NestedOneTrait", ModelKind::Nested, false, 1, 13, 0, 5, 3, 0, 5},
    {"BlockedBalanced", ModelKind::Blocked, true, 2, 21, 3, 4, 2, 0, 3},
    {"BlockedUnbalanced", ModelKind::Blocked, false, 3, 22, 3, 5, 3, 0, 5},
    {"RepeatBalanced", ModelKind::BlockedRepeat, true, 2, 31, 2, 3, 2, 2, 3},
    {"RepeatUnbalanced", ModelKind::BlockedRepeat, false, 3, 32, 3, 3, 3, 3, 5},
};

INSTANTIATE_TEST_SUITE_P(Generated, AgainstReference, ::testing::ValuesIn(kShapes),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace quorvel
