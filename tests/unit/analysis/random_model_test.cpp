// The random-model stage against its dense reference on generated designs, the
// orthogonal reduction and the eigen-decomposition against their definitions, and the
// closed forms of balanced designs.
#include "analysis/random_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/analyze_design.h"
#include "analysis/fixed_model.h"
#include "analysis/model_coding.h"
#include "numeric/distinct_levels.h"
#include "numeric/f_distribution.h"
#include "numeric/matrix.h"
#include "numeric/symmetric_eigen.h"
#include "report/text_report.h"
#include "tests/support/design_generator.h"
#include "tests/support/reference_random_model.h"
#include "tests/support/reference_reduction.h"

namespace quorvel {
namespace {

using testing::DenseRows;
using testing::RowPointers;

using testing::CellReduction;
using testing::HouseholderReduce;
using testing::NestedFromCells;
using testing::ReduceByCells;
using testing::Rng;
using testing::Shape;

DesignData Generate(const Shape& shape) { return testing::GenerateDesign(shape); }

// The stage as the analysis run calls it, with the components, their sampling variances
// and the sums of products in the traits' own units (the stage works on standardised
// traits) for comparison with the reference.
RandomModel Fast(const DesignData& data) {
  const ModelCoding coding = BuildModelCoding(data);
  const DesignCells cells = BuildDesignCells(coding);
  const FixedModel fixed(coding, cells);
  RandomModel model = EstimateComponents(coding, cells, data, fixed.ModelRank());
  const int traits = model.traits;
  for (int i = 0; i < traits; ++i) {
    for (int j = 0; j < traits; ++j) {
      const std::size_t ij = static_cast<std::size_t>(i) * traits + j;
      const double units = model.scale[i] * model.scale[j];
      for (auto& matrix : model.component) matrix[ij] *= units;
      for (auto& matrix : model.sp) matrix[ij] *= units;
      for (auto& matrix : model.componentVar) matrix[ij] *= units * units;
    }
    model.componentVarE[i] *= std::pow(model.scale[i], 4);
  }
  return model;
}

// Agreement to 1e-9 relative; values that vanish in exact arithmetic are compared against
// an absolute floor instead. NaNs agree with NaNs, infinities with equal infinities.
::testing::AssertionResult Agree(double actual, double expected, double floor,
                                 double relative = 1e-9) {
  if (std::isnan(actual) && std::isnan(expected)) return ::testing::AssertionSuccess();
  if (std::isinf(actual) || std::isinf(expected)) {
    if (actual == expected) return ::testing::AssertionSuccess();
  } else if (std::fabs(actual - expected) <=
             relative * std::max(std::fabs(actual), std::fabs(expected)) + floor) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "actual " << actual << ", expected " << expected << " (difference " << actual - expected
         << ", floor " << floor << ")";
}

// The largest finite magnitude of a family of values.
double Scale(const std::vector<double>& values) {
  double scale = 0.0;
  for (const double v : values) {
    if (std::isfinite(v)) scale = std::max(scale, std::fabs(v));
  }
  return scale;
}

void ExpectFamily(const char* what, const std::vector<double>& actual,
                  const std::vector<double>& expected, double relativeFloor = 1e-11) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  const double floor = relativeFloor * Scale(expected);
  for (std::size_t k = 0; k < actual.size(); ++k) {
    EXPECT_TRUE(Agree(actual[k], expected[k], floor)) << what << " [" << k << "]";
  }
}

// Values printed by WriteCorrelations, matrix by matrix: for each, T x T correlations and
// standard errors in row-major order (the diagonal's fixed texts included).
// The report's correlation matrices of a random stage.
std::string CorrelationText(const RandomModel& model, ModelKind kind) {
  AnalysisResult result;
  result.kind = kind;
  result.correlations = GeneticCorrelations(model, SpecOf(kind));
  std::string text;
  AppendCorrelationMatrices(text, result);
  return text;
}

struct PrintedMatrix {
  std::vector<double> correlation;
  std::vector<double> error;
};
std::vector<PrintedMatrix> ParseCorrelations(const std::string& text, int traits) {
  std::vector<PrintedMatrix> out;
  std::istringstream in(text);
  std::string line;
  auto numbers = [](std::string s) {
    std::replace(s.begin(), s.end(), '(', ' ');  // "(  -nan)" is one value
    std::replace(s.begin(), s.end(), ')', ' ');
    std::vector<double> values;
    std::istringstream fields(s);
    std::string field;
    while (fields >> field) values.push_back(std::strtod(field.c_str(), nullptr));
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
std::vector<std::string> PrintedLine(const std::string& text, int trait, const std::string& label) {
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
// Householder reduction.

// Random dense designs with dependent columns (copies and sums of earlier ones), and the
// 0/1 designs of generated data sets: the library routine and its line-by-line copy agree,
// the rank is the exact rank, reflections keep every response column's sum of squares,
// and the design rows below the rank vanish.
TEST(HouseholderReduce, MatchesCopyKeepsLengthsAndFindsTheExactRank) {
  Rng rng(5);
  std::vector<std::pair<DenseRows, int>> designs;  // with the expected rank (-1: exact rank)
  for (const auto& [rows, columns, copies] :
       {std::array<int, 3>{12, 8, 2}, {9, 9, 3}, {6, 10, 1}, {30, 5, 0}}) {
    DenseRows x(static_cast<std::size_t>(rows),
                std::vector<double>(static_cast<std::size_t>(columns)));
    for (auto& row : x) {
      for (auto& v : row) v = rng.Normal();
    }
    for (int k = 0; k < copies; ++k) {
      const int target = columns - 1 - 2 * k;
      for (auto& row : x) row[target] = row[0] + 0.5 * row[1 + k];
    }
    designs.emplace_back(x, std::min(rows, columns - copies));
  }
  for (const Shape& shape : {Shape{"", ModelKind::Nested, false, 1, 3, 0, 4, 3, 0, 3},
                             Shape{"", ModelKind::BlockedRepeat, false, 1, 4, 2, 2, 2, 2, 2}}) {
    designs.emplace_back(testing::DenseDesignDoubles(BuildModelCoding(Generate(shape))), -1);
  }
  for (auto& [original, expectedRank] : designs) {
    const int rows = static_cast<int>(original.size());
    const int columns = static_cast<int>(original[0].size());
    if (expectedRank < 0) {
      std::vector<std::vector<std::int32_t>> integer(original.size());
      std::vector<std::int32_t*> pointers;
      for (std::size_t i = 0; i < original.size(); ++i) {
        integer[i].assign(original[i].begin(), original[i].end());
        pointers.push_back(integer[i].data());
      }
      expectedRank = IntegerRank(columns, pointers.data(), rows);
    }
    DenseRows responses(static_cast<std::size_t>(rows), std::vector<double>(2));
    for (auto& row : responses) row = {rng.Normal(), 5.0 + rng.Normal()};
    DenseRows libraryDesign = original;
    DenseRows libraryResponses = responses;
    DenseRows copyDesign = original;
    DenseRows copyResponses = responses;
    auto ld = RowPointers(libraryDesign);
    auto lr = RowPointers(libraryResponses);
    auto cd = RowPointers(copyDesign);
    auto cr = RowPointers(copyResponses);
    const int rank = HouseholderReduce(ld.data(), lr.data(), rows, columns, 2);
    EXPECT_EQ(testing::CountingHouseholderReduce(cd.data(), cr.data(), rows, columns, 2), rank);
    EXPECT_EQ(rank, expectedRank) << rows << " x " << columns;
    for (int i = 0; i < rows; ++i) {
      for (int c = 0; c < columns; ++c) {
        EXPECT_TRUE(Agree(libraryDesign[i][c], copyDesign[i][c], 1e-12));
        if (i >= rank) {
          EXPECT_NEAR(libraryDesign[i][c], 0.0, 1e-10);
        }
      }
      for (int c = 0; c < 2; ++c)
        EXPECT_TRUE(Agree(libraryResponses[i][c], copyResponses[i][c], 1e-12));
    }
    for (int c = 0; c < 2; ++c) {
      double before = 0.0;
      double after = 0.0;
      for (int i = 0; i < rows; ++i) {
        before += responses[i][c] * responses[i][c];
        after += libraryResponses[i][c] * libraryResponses[i][c];
      }
      EXPECT_NEAR(after, before, 1e-12 * before);
    }
  }
}

// With pivot row g for column g, a dependent column leaves its row behind; a later column
// whose new direction lies in such rows is then taken as dependent. Here a nested design
// with about as many parameters as observations: the counting reduction finds the exact
// rank and splits off the model sum of squares (the cell means' part), the earlier form
// loses columns and with them part of that sum of squares.
TEST(HouseholderReduce, GivensCleanUpLosesColumnsTheCountingReductionKeeps) {
  const DesignData data = NestedFromCells(
      {{1, 1, 2}, {1, 2, 1}, {2, 1, 1}, {2, 2, 1}, {2, 3, 1}, {3, 1, 1}, {3, 2, 2}}, 17);
  const ModelCoding coding = BuildModelCoding(data);
  const int n = data.observationCount;
  const int p = coding.parameterCount;
  ASSERT_EQ(n, 9);
  ASSERT_EQ(p, 11);
  const int cellsRank = 7;  // one column per occupied cell spans the model

  // Model sum of squares: the fitted values are the cell means.
  std::map<std::pair<int, int>, std::pair<double, int>> cellSums;
  for (int i = 0; i < n; ++i) {
    auto& [sum, count] = cellSums[{data.factorCodes[0][i], data.factorCodes[1][i]}];
    sum += data.traitValues[0][i];
    count += 1;
  }
  double modelSS = 0.0;
  for (const auto& [cell, sumCount] : cellSums)
    modelSS += sumCount.first * sumCount.first / sumCount.second;

  auto reduce = [&](bool givens, int& rank) {
    DenseRows design = testing::DenseDesignDoubles(coding);
    DenseRows y(static_cast<std::size_t>(n), std::vector<double>(1));
    for (int i = 0; i < n; ++i) y[i][0] = data.traitValues[0][i];
    auto d = RowPointers(design);
    auto r = RowPointers(y);
    rank = givens ? testing::GivensHouseholderReduce(d.data(), r.data(), n, p, 1)
                  : HouseholderReduce(d.data(), r.data(), n, p, 1);
    double ss = 0.0;
    for (int i = 0; i < cellsRank; ++i) ss += y[i][0] * y[i][0];
    return ss;
  };
  int rank = 0;
  EXPECT_NEAR(reduce(false, rank), modelSS, 1e-10 * modelSS);
  EXPECT_EQ(rank, cellsRank);
  const double givensSS = reduce(true, rank);
  EXPECT_LT(rank, cellsRank);
  EXPECT_GT(std::fabs(givensSS - modelSS), 1e-3 * modelSS);
}

// [[a, a, .3], [a d, a d, .7], [0, 0, .2]] repeats its first column whatever d. When d is
// small the first column lies nearly along its pivot row, and x_1 - |x| cancels: unless it
// is formed without cancellation, the reflection leaves about a d-sized remainder of that
// column below the pivot (up to the whole a d when d^2 is below the rounding of 1), and the
// copy then counts as independent.
template <typename Routine>
void ExpectRepeatedColumnFoundDependent(Routine routine) {
  for (const double d : {1e-4, 1e-6, 1e-7, 1e-8, 1e-9}) {
    for (const double a : {1.0, 100.0}) {
      DenseRows x = {{a, a, 0.3}, {a * d, a * d, 0.7}, {0, 0, 0.2}};
      DenseRows y = {{1.0}, {2.0}, {3.0}};
      auto xr = RowPointers(x);
      auto yr = RowPointers(y);
      EXPECT_EQ(routine(xr.data(), yr.data(), 3, 3, 1), 2) << "d " << d << ", a " << a;
      EXPECT_LE(std::fabs(x[1][0]), 1e-14 * a) << "d " << d << ", a " << a;
    }
  }
}

TEST(HouseholderReduce, CancellationFreeReflectionFindsRepeatedColumnsDependent) {
  ExpectRepeatedColumnFoundDependent([](double** x, double** y, int rows, int columns, int t) {
    return testing::CancellationFreeHouseholderReduce(x, y, rows, columns, t);
  });
}

TEST(HouseholderReduce, FindsRepeatedColumnsDependentNearTheirPivotRow) {
  ExpectRepeatedColumnFoundDependent(HouseholderReduce);
}

// ---------------------------------------------------------------------------------------
// Jacobi eigen-decomposition.

// A symmetric matrix V diag(values) V' with a random orthonormal V (Gram-Schmidt).
DenseRows WithEigenvalues(const std::vector<double>& values, Rng& rng) {
  const int n = static_cast<int>(values.size());
  DenseRows basis(static_cast<std::size_t>(n), std::vector<double>(static_cast<std::size_t>(n)));
  for (int k = 0; k < n; ++k) {
    std::vector<double>& v = basis[k];
    for (double& x : v) x = rng.Normal();
    for (int pass = 0; pass < 2; ++pass) {
      for (int j = 0; j < k; ++j) {
        double dot = 0.0;
        for (int i = 0; i < n; ++i) dot += v[i] * basis[j][i];
        for (int i = 0; i < n; ++i) v[i] -= dot * basis[j][i];
      }
    }
    double norm = 0.0;
    for (const double x : v) norm += x * x;
    for (double& x : v) x /= std::sqrt(norm);
  }
  DenseRows a(static_cast<std::size_t>(n), std::vector<double>(static_cast<std::size_t>(n), 0.0));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      for (int k = 0; k < n; ++k) a[i][j] += basis[k][i] * values[k] * basis[k][j];
    }
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < i; ++j) a[j][i] = a[i][j];
  }
  return a;
}

struct Eigen {
  DenseRows reduced;  // the matrix after the routine: eigenvalues on the diagonal
  DenseRows vectors;
};
template <typename Routine>
Eigen Decompose(DenseRows a, Routine routine) {
  const int n = static_cast<int>(a.size());
  Eigen out{std::move(a), DenseRows(static_cast<std::size_t>(n),
                                    std::vector<double>(static_cast<std::size_t>(n)))};
  auto m = RowPointers(out.reduced);
  auto v = RowPointers(out.vectors);
  routine(m.data(), n, v.data(), 1e-6);
  return out;
}

TEST(JacobiEigen, TwoByTwoAndDiagonalMatrices) {
  const Eigen two = Decompose({{2, 1}, {1, 2}}, JacobiEigen);
  EXPECT_NEAR(two.reduced[0][0], 3.0, 1e-12);
  EXPECT_NEAR(two.reduced[1][1], 1.0, 1e-12);
  EXPECT_NEAR(std::fabs(two.vectors[0][0]), std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(two.vectors[0][0], two.vectors[1][0], 1e-12);   // (1, 1)
  EXPECT_NEAR(two.vectors[0][1], -two.vectors[1][1], 1e-12);  // (1, -1)

  // Already diagonal: no rotation, so the vectors are exactly the identity's columns in the
  // order of the sorted values; the two equal values keep their order.
  const Eigen diagonal =
      Decompose({{1, 0, 0, 0}, {0, 5, 0, 0}, {0, 0, 3, 0}, {0, 0, 0, 5}}, JacobiEigen);
  const std::vector<double> values = {5, 5, 3, 1};
  const std::vector<int> from = {1, 3, 2, 0};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(diagonal.reduced[k][k], values[k]);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(diagonal.vectors[i][k], i == from[k] ? 1.0 : 0.0);
  }
}

// Random symmetric matrices, with distinct, repeated and near-zero eigenvalues: the
// eigenvalues come out in descending order, V is orthonormal and A V = V D up to the
// off-diagonal entries left below the threshold; the rescanning order of rotations gives
// the same eigenvalues and the same matrix functions (here A^-1/2 of positive definite A).
TEST(JacobiEigen, PropertiesOnRandomMatricesAndAgreementWithRescanning) {
  Rng rng(9);
  std::vector<std::vector<double>> spectra = {
      {4.0}, {1.0, 2.0, 3.0}, {6, 6, 6, 1, 1}, {2, 2, 2, 2}};
  for (const int n : {7, 12, 30}) {
    std::vector<double> values;
    for (int k = 0; k < n; ++k) values.push_back(k % 3 == 0 ? 3.0 : 0.5 + 10 * rng.Uniform());
    spectra.push_back(values);
  }
  for (const auto& spectrum : spectra) {
    const int n = static_cast<int>(spectrum.size());
    const DenseRows a = WithEigenvalues(spectrum, rng);
    const Eigen fast = Decompose(a, JacobiEigen);
    const Eigen rescanning = Decompose(a, testing::RescanningJacobiEigen);
    std::vector<double> sorted = spectrum;
    std::sort(sorted.rbegin(), sorted.rend());
    const double tolerance = n * 1e-6;
    for (int k = 0; k < n; ++k) {
      EXPECT_NEAR(fast.reduced[k][k], sorted[k], 1e-9 * sorted[0]) << "n " << n;
      EXPECT_NEAR(rescanning.reduced[k][k], fast.reduced[k][k], 1e-9 * sorted[0]) << "n " << n;
      for (int j = 0; j < n; ++j) {
        EXPECT_LE(j == k ? 0.0 : std::fabs(fast.reduced[j][k]), 1e-6);
        double vv = 0.0;
        double av = 0.0;  // (A V - V D)(j, k)
        for (int i = 0; i < n; ++i) {
          vv += fast.vectors[i][j] * fast.vectors[i][k];
          av += a[j][i] * fast.vectors[i][k];
        }
        av -= fast.vectors[j][k] * fast.reduced[k][k];
        EXPECT_NEAR(vv, j == k ? 1.0 : 0.0, 1e-12 * n);
        EXPECT_NEAR(av, 0.0, tolerance);
      }
    }
    auto inverseRoot = [n](const Eigen& e) {
      DenseRows f(static_cast<std::size_t>(n),
                  std::vector<double>(static_cast<std::size_t>(n), 0.0));
      for (int k = 0; k < n; ++k) {
        for (int i = 0; i < n; ++i) {
          for (int j = 0; j < n; ++j)
            f[i][j] += e.vectors[i][k] * e.vectors[j][k] / std::sqrt(e.reduced[k][k]);
        }
      }
      return f;
    };
    const DenseRows f1 = inverseRoot(fast);
    const DenseRows f2 = inverseRoot(rescanning);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) EXPECT_NEAR(f1[i][j], f2[i][j], tolerance) << "n " << n;
    }
  }
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
  for (int x = 0; x < terms; ++x)
    ExpectFamily("componentVar", fast.componentVar[x], ref.componentVar[x]);
  ExpectFamily("componentVarE", fast.componentVarE, ref.componentVarE);
  // The exact tests rest on eigen-decompositions that stop once every off-diagonal entry
  // is below 1e-6; both paths then carry relative errors of order 1e-7 in F.
  for (int i = 0; i < traits; ++i) {
    for (int x = 0; x < terms; ++x) {
      // The reference has no test over a synthesized denominator (closed forms below).
      if (SpecOf(data.kind).randomTerms[x].test == ComponentTest::Synthesized) continue;
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
  text = CorrelationText(fast, data.kind);
  const auto printed = ParseCorrelations(text, traits);
  const auto expected = testing::ReferenceCorrelations(ref);
  ASSERT_EQ(printed.size(), expected.size());
  for (std::size_t x = 0; x < printed.size(); ++x) {
    for (int i = 0; i < traits; ++i) {
      for (int j = 0; j < traits; ++j) {
        const std::size_t ij = static_cast<std::size_t>(i) * traits + j;
        const double r = i == j ? 1.0 : expected[x].correlation[ij];
        const double se = i == j ? 0.0 : expected[x].error[ij];
        EXPECT_TRUE(Agree(printed[x].correlation[ij], r, 5.01e-5, 0.0))
            << "term " << x << " (" << i << "," << j << ")";
        EXPECT_TRUE(Agree(printed[x].error[ij], se, 5.01e-5, 0.0))
            << "term " << x << " (" << i << "," << j << ")";
      }
    }
  }
}

// The reduction by cells against the dense reduction of the same design and traits.
TEST_P(AgainstReference, ReduceByCellsMatchesDenseReduction) {
  const DesignData data = Generate(GetParam());
  const ModelCoding coding = BuildModelCoding(data);
  const int n = data.observationCount;
  const int p = coding.parameterCount;
  const int traits = data.traitCount;
  std::vector<double> y(static_cast<std::size_t>(n) * traits);
  DenseRows responses(static_cast<std::size_t>(n),
                      std::vector<double>(static_cast<std::size_t>(traits)));
  double yScale = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int t = 0; t < traits; ++t) {
      y[static_cast<std::size_t>(i) * traits + t] = responses[i][t] = data.traitValues[t][i];
      yScale += data.traitValues[t][i] * data.traitValues[t][i];
    }
  }
  yScale = std::sqrt(yScale);
  DenseRows design = testing::DenseDesignDoubles(coding);
  auto d = RowPointers(design);
  auto r = RowPointers(responses);
  std::vector<int> pivots;
  const int rank = testing::CountingHouseholderReduce(d.data(), r.data(), n, p, traits, &pivots);

  const CellReduction cells = ReduceByCells(BuildDesignCells(coding), p, y, traits);
  ASSERT_EQ(cells.rank, rank);
  EXPECT_EQ(cells.pivotColumn, pivots);
  const double designFloor = 1e-12 * std::sqrt(static_cast<double>(n));
  for (int row = 0; row < rank; ++row) {
    for (int c = 0; c < p; ++c) {
      ASSERT_TRUE(Agree(cells.DesignRow(row)[c], design[row][c], designFloor))
          << "design (" << row << "," << c << ")";
    }
  }
  for (int row = 0; row < n; ++row) {
    for (int t = 0; t < traits; ++t) {
      ASSERT_TRUE(Agree(cells.ResponseRow(row)[t], responses[row][t], 1e-12 * yScale))
          << (row < rank ? "pivot" : "residual") << " response (" << row << "," << t << ")";
    }
  }
}

// A data set without traits reduces the design alone; the response arrays are empty and
// must not be indexed (the sanitizer build reports a reference bound to null).
TEST(ReduceByCells, ReducesTheDesignWithoutResponses) {
  const DesignData data = Generate({"", ModelKind::Nested, false, 0, 6, 0, 4, 3, 0, 3});
  const ModelCoding coding = BuildModelCoding(data);
  const CellReduction reduced =
      ReduceByCells(BuildDesignCells(coding), coding.parameterCount, {}, 0);
  DenseRows design = testing::DenseDesignDoubles(coding);
  DenseRows none(design.size());
  auto d = RowPointers(design);
  auto r = RowPointers(none);
  EXPECT_EQ(reduced.rank,
            HouseholderReduce(d.data(), r.data(), data.observationCount, coding.parameterCount, 0));
  EXPECT_TRUE(reduced.responses.empty());
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

// ---------------------------------------------------------------------------------------
// Closed forms of balanced designs: the classical analysis of variance from group means.

// Per trait and observation, the mean of the trait over the observations with the same key.
template <typename KeyOf>
std::vector<std::vector<double>> MeansBy(const DesignData& data, KeyOf keyOf) {
  std::map<std::vector<int>, std::pair<std::vector<double>, int>> groups;
  for (int i = 0; i < data.observationCount; ++i) {
    auto& [sums, count] = groups[keyOf(i)];
    sums.resize(static_cast<std::size_t>(data.traitCount), 0.0);
    for (int t = 0; t < data.traitCount; ++t) sums[t] += data.traitValues[t][i];
    count += 1;
  }
  std::vector<std::vector<double>> means(static_cast<std::size_t>(data.traitCount));
  for (int t = 0; t < data.traitCount; ++t) {
    for (int i = 0; i < data.observationCount; ++i) {
      const auto& [sums, count] = groups[keyOf(i)];
      means[t].push_back(sums[t] / count);
    }
  }
  return means;
}

// Mean products sum over observations of d(a, i) d(b, i) / df for a deviation d.
template <typename Deviation>
double MeanProduct(const DesignData& data, int a, int b, int df, Deviation d) {
  double sum = 0.0;
  for (int i = 0; i < data.observationCount; ++i) sum += d(a, i) * d(b, i);
  return sum / df;
}

// a males with f females each and n progeny per female: the components are the classical
// (MS_M - MS_F) / (n f), (MS_F - MS_E) / n and MS_E, for covariances with mean products
// alike; the male test is MS_M / MS_F on (a - 1, a (f - 1)) degrees of freedom, and the
// male mean weighs the female component by 1/f and the residual by 1/(n f).
TEST(RandomModelClosedForms, BalancedNestedDesignGivesTheClassicalAnalysis) {
  const int a = 5;
  const int f = 3;
  const int n = 4;
  const DesignData data = Generate({"", ModelKind::Nested, true, 2, 41, 0, a, f, 0, n});
  const auto& codes = data.factorCodes;
  const auto grand = MeansBy(data, [](int) { return std::vector<int>{}; });
  const auto male = MeansBy(data, [&](int i) { return std::vector<int>{codes[0][i]}; });
  const auto cell = MeansBy(data, [&](int i) {
    return std::vector<int>{codes[0][i], codes[1][i]};
  });
  const int dfM = a - 1;
  const int dfF = a * (f - 1);
  const int dfE = a * f * (n - 1);
  const RandomModel model = Fast(data);
  EXPECT_EQ(model.df, (std::vector<int>{dfM, dfF, dfE}));
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      const double msM =
          MeanProduct(data, i, j, dfM, [&](int t, int o) { return male[t][o] - grand[t][o]; });
      const double msF =
          MeanProduct(data, i, j, dfF, [&](int t, int o) { return cell[t][o] - male[t][o]; });
      const double msE = MeanProduct(
          data, i, j, dfE, [&](int t, int o) { return data.traitValues[t][o] - cell[t][o]; });
      EXPECT_TRUE(Agree(model.Component(2, i, j), msE, 1e-12 * msE));
      EXPECT_TRUE(Agree(model.Component(1, i, j), (msF - msE) / n, 1e-12 * msF));
      EXPECT_TRUE(Agree(model.Component(0, i, j), (msM - msF) / (n * f), 1e-12 * msM));
      if (i != j) continue;
      EXPECT_TRUE(Agree(model.testF[i][0], msM / msF, 0.0, 1e-6));
      EXPECT_TRUE(Agree(model.testP[i][0], FUpperTail(dfM, dfF, msM / msF), 1e-12, 1e-5));
      EXPECT_TRUE(Agree(model.testF[i][1], msF / msE, 0.0));
      const double sM = model.Component(0, i, i);
      const double sF = model.Component(1, i, i);
      const double sE = model.Component(2, i, i);
      EXPECT_TRUE(Agree(model.hm[i], sM / (sM + sF / f + sE / (n * f)), 1e-14));
      EXPECT_TRUE(Agree(model.hi[i], 4 * sM / (sM + sF + sE), 1e-14));
    }
  }
}

// b blocks, a males per block, f females per male, r repeats and n progeny per cell: the
// classical analysis of the blocked-repeat design, with the female test MS_F / MS_FR. The
// male test has no exact form and is not-a-number. Male codes are shared by the blocks,
// so a male's mean pools b block-male cells: weights 1/f, 1/(f r) and 1/(n r f) of the
// lower components.
TEST(RandomModelClosedForms, BalancedBlockedRepeatDesignsGiveTheClassicalAnalysis) {
  for (const auto& [b, a, f, r, n] :
       {std::array<int, 5>{2, 4, 2, 2, 2}, {2, 3, 2, 3, 2}, {3, 2, 2, 2, 3}}) {
    const DesignData data = Generate({"", ModelKind::BlockedRepeat, true, 2, 43, b, a, f, r, n});
    const auto& codes = data.factorCodes;
    auto key = [&codes](std::vector<int> factors) {
      return [&codes, factors](int i) {
        std::vector<int> k;
        for (const int factor : factors) k.push_back(codes[factor][i]);
        return k;
      };
    };
    const auto block = MeansBy(data, key({0}));
    const auto blockRepeat = MeansBy(data, key({0, 3}));
    const auto blockMale = MeansBy(data, key({0, 1}));
    const auto family = MeansBy(data, key({0, 1, 2}));
    const auto cell = MeansBy(data, key({0, 1, 2, 3}));
    const int dfM = b * (a - 1);
    const int dfF = b * a * (f - 1);
    const int dfFR = b * (a * f - 1) * (r - 1);
    const int dfE = b * a * f * r * (n - 1);
    const RandomModel model = Fast(data);
    EXPECT_EQ(model.df, (std::vector<int>{dfM, dfF, dfFR, dfE}));
    for (int i = 0; i < 2; ++i) {
      auto ms = [&](int df, auto d) { return MeanProduct(data, i, i, df, d); };
      const double msM = ms(dfM, [&](int t, int o) { return blockMale[t][o] - block[t][o]; });
      const double msF = ms(dfF, [&](int t, int o) { return family[t][o] - blockMale[t][o]; });
      const double msFR = ms(dfFR, [&](int t, int o) {
        return cell[t][o] - family[t][o] - blockRepeat[t][o] + block[t][o];
      });
      const double msE = ms(dfE, [&](int t, int o) { return data.traitValues[t][o] - cell[t][o]; });
      const double sM = model.Component(0, i, i);
      const double sF = model.Component(1, i, i);
      const double sFR = model.Component(2, i, i);
      const double sE = model.Component(3, i, i);
      EXPECT_TRUE(Agree(sE, msE, 1e-12 * msE));
      EXPECT_TRUE(Agree(sFR, (msFR - msE) / n, 1e-12 * msFR));
      EXPECT_TRUE(Agree(sF, (msF - msFR) / (n * r), 1e-12 * msF));
      EXPECT_TRUE(Agree(sM, (msM - msF) / (n * r * f), 1e-12 * msM));
      EXPECT_TRUE(Agree(model.testF[i][2], msFR / msE, 0.0));
      EXPECT_TRUE(Agree(model.testF[i][1], msF / msFR, 0.0, 1e-6));
      EXPECT_TRUE(Agree(model.testP[i][1], FUpperTail(dfF, dfFR, msF / msFR), 1e-12, 1e-5));
      // The male test over the synthesized denominator is MS_M / MS_F on (dfM, dfF)
      // degrees of freedom in a balanced design (the female-by-repeat and residual parts
      // of E(MS_M) are those of E(MS_F)).
      EXPECT_TRUE(Agree(model.testF[i][0], msM / msF, 0.0, 1e-10));
      EXPECT_TRUE(Agree(model.testP[i][0], FUpperTail(dfM, dfF, msM / msF), 1e-14, 1e-9));
      EXPECT_TRUE(Agree(model.hm[i], sM / (sM + sF / f + sFR / (f * r) + sE / (n * r * f)), 1e-14));
    }
  }
}

// The reduction that pivots column g on row g, with its Givens clean-up, splits the sums of
// squares wrongly on balanced blocked-repeat data: on the transformed design of the female
// test (more columns than its rank, few rows to spare), and with as many parameters as
// observations also on the design itself (the female-by-repeat test).
TEST(RandomModelClosedForms, GivensCleanUpMissesTheBalancedFemaleTest) {
  for (const auto& [b, a, f, r, n] : {std::array<int, 5>{2, 4, 2, 2, 2}, {3, 2, 2, 2, 2}}) {
    const DesignData data = Generate({"", ModelKind::BlockedRepeat, true, 1, 43, b, a, f, r, n});
    const ModelCoding coding = BuildModelCoding(data);
    const RandomModel counting = testing::ReferenceRandomModel(data, coding);
    const RandomModel givens =
        testing::ReferenceRandomModel(data, coding, testing::ReferenceReduction::GivensCleanUp);
    EXPECT_GT(std::fabs(givens.testF[0][1] / counting.testF[0][1] - 1), 0.1)
        << "b " << b << " a " << a;
    if (coding.parameterCount >= data.observationCount) {
      EXPECT_GT(std::fabs(givens.testF[0][2] / counting.testF[0][2] - 1), 0.1)
          << "b " << b << " a " << a;
    }
  }
}

// Unbalanced blocked-repeat designs on which the transformed design of the female test
// has columns lying nearly along their pivot rows, to the precision of the eigen-
// decomposition; the fast stage's reduction then keeps a dependent column and splits the
// female sums of squares wrongly (F off by 30% to a factor 160 on these) unless the
// reflections are formed without cancellation. The reference agrees with Gram-Schmidt
// projections on the same transformation.
TEST(RandomModelClosedForms, FemaleTestOnNearlyReducedColumnsAgreesWithTheReference) {
  const Shape shapes[] = {
      {"", ModelKind::BlockedRepeat, false, 1, 33000, 3, 3, 4, 2, 3},
      {"", ModelKind::BlockedRepeat, false, 2, 10407, 3, 3, 3, 2, 3},
      {"", ModelKind::BlockedRepeat, false, 2, 2290, 2, 3, 3, 2, 6},
      {"", ModelKind::BlockedRepeat, false, 1, 32051, 3, 2, 2, 3, 3},
      {"", ModelKind::BlockedRepeat, false, 2, 28591, 3, 2, 3, 3, 3},
      {"", ModelKind::BlockedRepeat, false, 3, 4438, 2, 4, 4, 2, 3},
  };
  for (const Shape& shape : shapes) {
    const DesignData data = Generate(shape);
    const RandomModel fast = Fast(data);
    const RandomModel ref = testing::ReferenceRandomModel(data, BuildModelCoding(data));
    for (int i = 0; i < data.traitCount; ++i) {
      EXPECT_TRUE(Agree(fast.testF[i][1], ref.testF[i][1], 0.0, 1e-5))
          << "seed " << shape.seed << ", trait " << i;
    }
  }
}

// ---------------------------------------------------------------------------------------
// What the report shows.

// The report's random-model sections of the data set's analysis; `model` is the random
// stage the test looked at, which the analysis computes again the same way.
std::string RandomSections(const DesignData& data, const RandomModel& model) {
  AnalysisOptions options;
  options.diagnostics = nullptr;
  const AnalysisResult result = AnalyzeDesign(data, options);
  EXPECT_EQ(result.traits.size(), static_cast<std::size_t>(model.traits));
  std::string text;
  AppendRandomSections(text, result, "Thu Jan  1 00:00:00 1970");
  return text;
}

bool PrintsNotANumber(const std::string& field) { return field == "nan" || field == "-nan"; }

// Every male carries the same values (its females' values rotated), so the male means are
// equal: the male mean square is zero and the male component -MS_F / (n f) stays negative,
// in Hi too.
TEST(RandomModelReport, NegativeMaleComponentIsPrintedAsEstimated) {
  Rng rng(3);
  const int a = 4;
  const int f = 3;
  const int n = 3;
  std::vector<std::vector<double>> values(f, std::vector<double>(n));
  for (int k = 0; k < f; ++k) {
    for (double& v : values[k]) v = 20 + 4 * k + rng.Normal();
  }
  DesignData data;
  data.kind = ModelKind::Nested;
  data.factorCount = 2;
  data.traitCount = 1;
  data.factorCodes.assign(2, {});
  data.traitValues.assign(1, {});
  for (int m = 0; m < a; ++m) {
    for (int k = 0; k < f; ++k) {
      for (int i = 0; i < n; ++i) {
        data.factorCodes[0].push_back(m + 1);
        data.factorCodes[1].push_back(k + 1);
        data.traitValues[0].push_back(values[(k + m) % f][i]);
      }
    }
  }
  data.observationCount = a * f * n;
  const RandomModel model = Fast(data);
  const double sM = model.Component(0, 0, 0);
  const double msF = n * model.Component(1, 0, 0) + model.Component(2, 0, 0);
  EXPECT_NEAR(sM, -msF / (n * f), 1e-9 * msF);
  EXPECT_LT(model.hi[0], 0.0);
  const std::string text = RandomSections(data, model);
  const auto male = PrintedLine(text, 1, "      Sigma_M");
  const auto hi = PrintedLine(text, 1, "      Hi");
  ASSERT_EQ(male.size(), 5u);
  ASSERT_EQ(hi.size(), 3u);
  EXPECT_NEAR(std::strtod(male[1].c_str(), nullptr), sM, 5.01e-5);
  EXPECT_LT(std::strtod(hi[1].c_str(), nullptr), 0.0);
}

// T traits give T x T matrices, one per random term, with 1.0000 and (0.0000) on the
// diagonal; a single trait gives one-cell matrices.
TEST(RandomModelReport, CorrelationMatricesHaveOneRowAndColumnPerTrait) {
  for (const int traits : {1, 3}) {
    for (const ModelKind kind : {ModelKind::Nested, ModelKind::BlockedRepeat}) {
      const DesignData data = Generate({"", kind, true, traits, 8, 2, 3, 2, 2, 3});
      const RandomModel model = Fast(data);
      std::string text;
      text = CorrelationText(model, kind);
      const auto matrices = ParseCorrelations(text, traits);
      ASSERT_EQ(static_cast<int>(matrices.size()), model.randomTerms);
      for (const PrintedMatrix& matrix : matrices) {
        ASSERT_EQ(matrix.correlation.size(), static_cast<std::size_t>(traits * traits));
        ASSERT_EQ(matrix.error.size(), static_cast<std::size_t>(traits * traits));
        for (int i = 0; i < traits; ++i) {
          EXPECT_EQ(matrix.correlation[i * traits + i], 1.0);
          EXPECT_EQ(matrix.error[i * traits + i], 0.0);
        }
      }
      if (traits == 1 && kind == ModelKind::Nested) {
        const std::string rule = "   ============================\r\n";
        const std::string body =
            rule + "       Trait            1      \r\n   ----------------------------\r\n" +
            "          1          1.0000    \r\n                    (0.0000)   \r\n\r\n" + rule +
            "\r\n";
        EXPECT_EQ(text,
                  "   Genetic correlation matrix of male effects with std. in brackets\r\n" + body +
                      "   Genetic correlation matrix of female effects with std. in brackets\r\n" +
                      body);
      }
    }
  }
}

// Tests without a valid statistic print not-a-number: the exact tests when there are
// fewer residual rows than random rows. (The male test of the blocked-repeat model has a
// statistic, over a synthesized denominator.)
TEST(RandomModelReport, TestsWithoutAStatisticPrintNotANumber) {
  {
    const DesignData data = Generate({"", ModelKind::BlockedRepeat, false, 2, 32, 3, 3, 3, 3, 5});
    const std::string text = RandomSections(data, Fast(data));
    for (const int trait : {1, 2}) {
      const auto male = PrintedLine(text, trait, "      Sigma_M");
      const auto female = PrintedLine(text, trait, "      Sigma_F ");
      ASSERT_EQ(male.size(), 5u);
      ASSERT_EQ(female.size(), 5u);
      EXPECT_FALSE(PrintsNotANumber(male[3]) || PrintsNotANumber(male[4]))
          << male[3] << " " << male[4];
      EXPECT_FALSE(PrintsNotANumber(female[3]) || PrintsNotANumber(female[4]));
    }
  }
  // 11 observations in 8 cells: 7 random rows, 3 residual rows.
  const DesignData data = NestedFromCells(
      {{1, 1, 2}, {1, 2, 1}, {1, 3, 1}, {2, 1, 2}, {2, 2, 1}, {3, 1, 1}, {3, 2, 2}, {3, 3, 1}}, 4);
  const RandomModel model = Fast(data);
  ASSERT_EQ(model.df, (std::vector<int>{2, 5, 3}));
  const RandomModel ref = testing::ReferenceRandomModel(data, BuildModelCoding(data));
  for (int x = 0; x <= 2; ++x) ExpectFamily("component", model.component[x], ref.component[x]);
  EXPECT_TRUE(std::isnan(ref.testF[0][0]));
  const std::string text = RandomSections(data, model);
  const auto male = PrintedLine(text, 1, "      Sigma_M");
  const auto female = PrintedLine(text, 1, "      Sigma_F");
  ASSERT_EQ(male.size(), 5u);
  EXPECT_TRUE(PrintsNotANumber(male[3]) && PrintsNotANumber(male[4]));
  EXPECT_NEAR(std::strtod(female[3].c_str(), nullptr), ref.testF[0][1], 5.01e-5);
}

// Zero degrees of freedom (one female per male; one observation per female; one repeat
// per block) divide by zero: the stage runs to its end and prints what the arithmetic
// gives.
TEST(RandomModelReport, ZeroDegreesOfFreedomRunToTheEnd) {
  const std::vector<DesignData> designs = {
      NestedFromCells({{1, 1, 3}, {2, 1, 2}, {3, 4, 3}, {4, 2, 2}}, 1),
      NestedFromCells({{1, 1, 1}, {1, 2, 1}, {2, 1, 1}, {2, 2, 1}, {3, 1, 1}}, 2),
      Generate({"", ModelKind::BlockedRepeat, true, 2, 7, 2, 2, 2, 1, 2}),
  };
  for (const DesignData& data : designs) {
    const RandomModel model = Fast(data);
    const int zeroBlock =
        static_cast<int>(std::find(model.df.begin(), model.df.end(), 0) - model.df.begin());
    EXPECT_LT(zeroBlock, static_cast<int>(model.df.size()));
    std::string text = RandomSections(data, model) + CorrelationText(model, data.kind);
    EXPECT_FALSE(PrintedLine(text, data.traitCount, "      Hm").empty());
    EXPECT_TRUE(text.find("nan") != std::string::npos || text.find("inf") != std::string::npos);
  }
}

}  // namespace
}  // namespace quorvel
