// Symmetric inversion and exact integer rank.
#include "numeric/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/reference_inverse.h"

namespace quorvel {
namespace {

using testing::InvertSymmetric;

// A dense matrix held as row pointers, as the routines take it.
template <typename T>
class Dense {
 public:
  Dense(int rows, int cols)
      : cols_(cols), data_(static_cast<std::size_t>(rows * cols)), pointers_(rows) {
    for (int i = 0; i < rows; ++i) pointers_[i] = data_.data() + static_cast<std::size_t>(i * cols);
  }
  explicit Dense(const std::vector<std::vector<T>>& rows)
      : Dense(static_cast<int>(rows.size()), rows.empty() ? 0 : static_cast<int>(rows[0].size())) {
    for (std::size_t i = 0; i < rows.size(); ++i)
      std::copy(rows[i].begin(), rows[i].end(), pointers_[i]);
  }
  T** get() { return pointers_.data(); }
  T& operator()(int i, int j) { return pointers_[i][j]; }
  int Rows() const { return static_cast<int>(pointers_.size()); }
  int Cols() const { return cols_; }
  std::vector<T> Row(int i) const { return std::vector<T>(pointers_[i], pointers_[i] + cols_); }

 private:
  int cols_;
  std::vector<T> data_;
  std::vector<T*> pointers_;
};

using IntMatrix = std::vector<std::vector<std::int32_t>>;

// Runs InvertSymmetric with its diagnostics captured.
int Invert(Dense<double>& a, std::string& diagnostics) {
  std::FILE* diag = std::tmpfile();
  const int status = InvertSymmetric(a.get(), a.Rows(), diag);
  std::rewind(diag);
  char buffer[64] = {};
  diagnostics.assign(buffer, std::fread(buffer, 1, sizeof buffer - 1, diag));
  std::fclose(diag);
  return status;
}

TEST(InvertSymmetric, SmallCases) {
  std::string diag;
  Dense<double> one(std::vector<std::vector<double>>{{4.0}});
  EXPECT_EQ(Invert(one, diag), 2);
  EXPECT_DOUBLE_EQ(one(0, 0), 0.25);

  Dense<double> two({{2.0, 1.0}, {1.0, 2.0}});
  EXPECT_EQ(Invert(two, diag), 2);
  EXPECT_DOUBLE_EQ(two(0, 0), 2.0 / 3);
  EXPECT_DOUBLE_EQ(two(0, 1), -1.0 / 3);
  EXPECT_DOUBLE_EQ(two(1, 0), -1.0 / 3);
  EXPECT_DOUBLE_EQ(two(1, 1), 2.0 / 3);
  EXPECT_EQ(diag, "");

  // Indefinite but with non-vanishing leading entries: no positive definiteness needed.
  Dense<double> indefinite({{1.0, 2.0}, {2.0, 1.0}});
  EXPECT_EQ(Invert(indefinite, diag), 2);
  EXPECT_DOUBLE_EQ(indefinite(0, 0), -1.0 / 3);
  EXPECT_DOUBLE_EQ(indefinite(0, 1), 2.0 / 3);
}

TEST(InvertSymmetric, VanishingPivotFailsWithoutPivotSearch) {
  std::string diag;
  // Invertible after a row exchange, but the leading entry is zero.
  Dense<double> swapped({{0.0, 1.0}, {1.0, 0.0}});
  EXPECT_EQ(Invert(swapped, diag), -2);
  EXPECT_EQ(diag, "fail\n");

  // The second pivot vanishes: singular.
  Dense<double> singular({{1.0, 1.0}, {1.0, 1.0}});
  EXPECT_EQ(Invert(singular, diag), -2);
  EXPECT_EQ(diag, "fail\n");

  // |w| + 1 == 1 in double arithmetic is the threshold.
  Dense<double> tiny(std::vector<std::vector<double>>{{1e-16}});
  EXPECT_EQ(Invert(tiny, diag), -2);
  Dense<double> small(std::vector<std::vector<double>>{{2.5e-16}});
  EXPECT_EQ(Invert(small, diag), 2);
  EXPECT_DOUBLE_EQ(small(0, 0), 1 / 2.5e-16);
}

TEST(InvertSymmetric, InverseOfRandomPositiveDefiniteMatrices) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  for (int n = 1; n <= 40; n += (n < 8 ? 1 : 8)) {
    // A = B B' + I, symmetric positive definite.
    std::vector<std::vector<double>> b(n, std::vector<double>(n));
    for (auto& row : b)
      for (double& v : row) v = entry(random);
    Dense<double> a(n, n);
    std::vector<std::vector<double>> original(n, std::vector<double>(n));
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double sum = i == j ? 1.0 : 0.0;
        for (int k = 0; k < n; ++k) sum += b[i][k] * b[j][k];
        original[i][j] = sum;
        // Only the lower triangle may be read: poison the upper one.
        a(i, j) = j <= i ? sum : std::numeric_limits<double>::quiet_NaN();
      }
    }
    std::string diag;
    ASSERT_EQ(Invert(a, diag), 2) << n;
    double norm = 0.0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) norm = std::max(norm, std::fabs(original[i][j]));
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        EXPECT_EQ(a(i, j), a(j, i));
        double product = 0.0;
        for (int k = 0; k < n; ++k) product += original[i][k] * a(k, j);
        EXPECT_NEAR(product, i == j ? 1.0 : 0.0, 1e-12 * n * norm) << n << ": " << i << "," << j;
      }
    }
  }
}

// ---- Exact rank ----

// Reference rank by Bareiss elimination in 128-bit integers (entries stay minors of the
// input, so small matrices with small entries cannot overflow).
int BareissRank(IntMatrix m) {
  __extension__ typedef __int128 Wide;
  const int rows = static_cast<int>(m.size());
  const int cols = rows == 0 ? 0 : static_cast<int>(m[0].size());
  std::vector<std::vector<Wide>> a(rows, std::vector<Wide>(cols));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) a[i][j] = m[i][j];
  Wide previous = 1;
  int rank = 0;
  for (int j = 0; j < cols && rank < rows; ++j) {
    int k = rank;
    while (k < rows && a[k][j] == 0) ++k;
    if (k == rows) continue;
    std::swap(a[k], a[rank]);
    for (int q = rank + 1; q < rows; ++q) {
      for (int l = j + 1; l < cols; ++l)
        a[q][l] = (a[rank][j] * a[q][l] - a[rank][l] * a[q][j]) / previous;
      a[q][j] = 0;
    }
    previous = a[rank][j];
    ++rank;
  }
  return rank;
}

int Rank(const IntMatrix& m) {
  if (m.empty()) return 0;
  Dense<std::int32_t> copy(m);
  return IntegerRank(copy.Cols(), copy.get(), copy.Rows());
}

// The output contract: first `rank` rows independent and spanning the input's rows, the
// rest zero. With `echelon`, leading columns also strictly increase.
void ExpectBasisOf(const IntMatrix& input, Dense<std::int32_t>& out, int rank, bool echelon) {
  IntMatrix basis;
  int lastLead = -1;
  for (int i = 0; i < out.Rows(); ++i) {
    const std::vector<std::int32_t> row = out.Row(i);
    const auto lead = std::find_if(row.begin(), row.end(), [](std::int32_t v) { return v != 0; });
    if (i >= rank) {
      EXPECT_EQ(lead, row.end()) << "row " << i << " past the rank is not zero";
      continue;
    }
    ASSERT_NE(lead, row.end()) << "basis row " << i << " is zero";
    if (echelon) {
      EXPECT_GT(lead - row.begin(), lastLead) << "row " << i;
      lastLead = static_cast<int>(lead - row.begin());
    }
    basis.push_back(row);
  }
  EXPECT_EQ(Rank(basis), rank);
  for (const auto& row : input) {
    IntMatrix extended = basis;
    extended.push_back(row);
    EXPECT_EQ(Rank(extended), rank) << "an input row lies outside the span";
  }
}

// 0/1 design: intercept plus one indicator column per level of one factor.
IntMatrix OneFactorDesign(const std::vector<int>& levelOfRow, int levels) {
  IntMatrix m;
  for (int level : levelOfRow) {
    std::vector<std::int32_t> row(static_cast<std::size_t>(levels + 1), 0);
    row[0] = 1;
    row[static_cast<std::size_t>(level + 1)] = 1;
    m.push_back(row);
  }
  return m;
}

TEST(IntegerRank, DesignsAndRepeatedRows) {
  EXPECT_EQ(IntegerRank(3, nullptr, 0), 0);
  EXPECT_EQ(Rank({{0, 0}, {0, 0}}), 0);

  // Intercept + indicators of 4 levels: rank = number of levels; every row repeated.
  std::vector<int> levels;
  for (int r = 0; r < 40; ++r) levels.push_back((r * 7) % 4);
  const IntMatrix design = OneFactorDesign(levels, 4);
  Dense<std::int32_t> out(design);
  EXPECT_EQ(IntegerRank(out.Cols(), out.get(), out.Rows()), 4);
  ExpectBasisOf(design, out, 4, true);

  const IntMatrix repeated = {{1, 2, 3}, {2, 4, 6}, {1, 2, 3}, {0, 1, 1}, {1, 3, 4}, {1, 2, 3}};
  Dense<std::int32_t> out2(repeated);
  EXPECT_EQ(IntegerRank(3, out2.get(), 6), 2);
  ExpectBasisOf(repeated, out2, 2, true);
}

TEST(IntegerRank, AgreesWithReferenceOnRandomMatrices) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 400; ++trial) {
    const int rows = 1 + static_cast<int>(random() % 9);
    const int cols = 1 + static_cast<int>(random() % 9);
    const int spread = trial % 3 == 0 ? 1 : 20;
    IntMatrix m(rows, std::vector<std::int32_t>(cols));
    for (auto& row : m) {
      for (auto& v : row)
        v = random() % 3 == 0 ? 0 : static_cast<std::int32_t>(random() % (2 * spread + 1)) - spread;
    }
    // Some rows combinations of others, so that ranks below full occur.
    if (rows > 2 && trial % 2 == 0) {
      for (int j = 0; j < cols; ++j) m[rows - 1][j] = 2 * m[0][j] - 3 * m[1][j];
    }
    Dense<std::int32_t> out(m);
    const int rank = IntegerRank(cols, out.get(), rows);
    ASSERT_EQ(rank, BareissRank(m)) << "trial " << trial;
    // Entries in -1..1 keep every minor, and so the echelon form, within 32 bits.
    ExpectBasisOf(m, out, rank, spread == 1);
  }
}

// A 0/1 nested design whose unreduced elimination would grow past 32 bits.
TEST(IntegerRank, NestedDesignBeyondUnreducedRange) {
  const int males = 24;
  const int females = 4;
  const int cols = 1 + males + males * females;
  IntMatrix m;
  for (int rep = 0; rep < 3; ++rep) {
    for (int male = 0; male < males; ++male) {
      for (int female = 0; female < females; ++female) {
        std::vector<std::int32_t> row(cols, 0);
        row[0] = 1;
        row[1 + male] = 1;
        row[1 + males + male * females + female] = 1;
        m.push_back(row);
      }
    }
  }
  Dense<std::int32_t> out(m);
  EXPECT_EQ(IntegerRank(cols, out.get(), out.Rows()), males * females);
  ExpectBasisOf(m, out, males * females, true);
}

// Rows U * T with T upper triangular (large entries) and U unimodular: the rank is that
// of T, and the unreduced elimination would pass 64 bits.
TEST(IntegerRank, LargeEntriesBeyondUnreducedRange) {
  std::mt19937 random(5);
  const int rank = 6;
  const int cols = 9;
  for (int trial = 0; trial < 20; ++trial) {
    IntMatrix t(rank, std::vector<std::int32_t>(cols, 0));
    for (int i = 0; i < rank; ++i) {
      for (int j = i; j < cols; ++j)
        t[i][j] = static_cast<std::int32_t>(random() % (1 << 24)) + (j == i ? 1 : 0);
    }
    // Unimodular mixing: add small multiples of rows to later rows, then reverse.
    IntMatrix m = t;
    for (int i = 1; i < rank; ++i) {
      for (int k = 0; k < i; ++k) {
        const int factor = static_cast<int>(random() % 5) - 2;
        for (int j = 0; j < cols; ++j) m[i][j] += factor * t[k][j];
      }
    }
    std::reverse(m.begin(), m.end());
    // Dependent rows: a difference of two rows, and a zero row.
    m.push_back(m[0]);
    for (int j = 0; j < cols; ++j) m.back()[j] -= m[3][j];
    m.push_back(std::vector<std::int32_t>(cols, 0));
    Dense<std::int32_t> out(m);
    ASSERT_EQ(IntegerRank(cols, out.get(), out.Rows()), rank) << trial;
    ExpectBasisOf(m, out, rank, true);
  }
}

// Three random rows of 30-bit entries and combinations of them: the reduced rows hold
// 3 x 3 minors of about 2^90, so the rank comes from the modular elimination, and the
// basis written back is made of input rows.
TEST(IntegerRank, MinorsBeyondSixtyFourBits) {
  __extension__ typedef __int128 Wide;
  std::mt19937 random(9);
  const int cols = 6;
  for (int trial = 0; trial < 10; ++trial) {
    IntMatrix m(3, std::vector<std::int32_t>(cols));
    for (auto& row : m) {
      for (auto& v : row) v = static_cast<std::int32_t>(random() % (1 << 30)) - (1 << 29);
    }
    // The leading 3 x 3 minor, exact in 128 bits, shows the three rows independent.
    auto e = [&](int i, int j) { return static_cast<Wide>(m[i][j]); };
    const Wide minor = e(0, 0) * (e(1, 1) * e(2, 2) - e(1, 2) * e(2, 1)) -
                       e(0, 1) * (e(1, 0) * e(2, 2) - e(1, 2) * e(2, 0)) +
                       e(0, 2) * (e(1, 0) * e(2, 1) - e(1, 1) * e(2, 0));
    ASSERT_NE(minor, 0);
    m.push_back(m[0]);
    m.push_back(std::vector<std::int32_t>(cols));
    for (int j = 0; j < cols; ++j) {
      m[4][j] = m[1][j] - m[2][j];
      m[3][j] = m[0][j] + m[4][j];
    }
    std::swap(m[0], m[3]);
    Dense<std::int32_t> out(m);
    ASSERT_EQ(IntegerRank(cols, out.get(), out.Rows()), 3) << trial;
    ExpectBasisOf(m, out, 3, false);
  }
}

// ---- Sparse rows ----

TEST(SparseIntegerRank, NormalisesRowsAndDropsRepeats) {
  EXPECT_EQ(SparseIntegerRank(4, {}), 0);
  EXPECT_EQ(SparseIntegerRank(0, {{{0, 1}}}), 0);
  // Unsorted entries, zeros, a repeated column and a column out of range.
  std::vector<SparseRow> rows = {
      {{2, 1}, {0, 1}},          {{0, 1}, {2, 1}, {1, 0}},  // the first row again
      {{1, 3}, {1, -3}, {3, 2}},  // repeated column summing to zero: (0, 0, 0, 2)
      {{3, 5}, {9, 4}},           // column 9 is out of range: (0, 0, 0, 5)
      {{0, 2}, {2, 2}, {3, 4}},   // twice the first plus twice the third
  };
  EXPECT_EQ(SparseIntegerRank(4, rows), 2);
}

TEST(SparseIntegerRank, SixtyFourBitEntries) {
  const std::int64_t big = std::int64_t{1} << 62;
  // Independent rows whose elimination overflows 64 bits.
  std::vector<SparseRow> rows = {{{0, big - 1}, {1, big - 3}, {2, 5}},
                                 {{0, big - 7}, {1, big - 9}, {2, 11}},
                                 {{0, 3}, {1, big - 57}, {2, big - 1}}};
  EXPECT_EQ(SparseIntegerRank(3, rows), 3);
  // A repeated column whose sum leaves 64 bits, and the most negative value.
  std::vector<SparseRow> odd = {
      {{0, big}, {0, big}, {1, 1}},                              // (2^63, 1)
      {{0, std::numeric_limits<std::int64_t>::min()}, {1, -1}},  // (-2^63, -1)
      {{1, 2}}};
  EXPECT_EQ(SparseIntegerRank(2, odd), 2);
}

// Nested and blocked-repeat designs in the sparse form the analyses use: the rank is the
// number of distinct cells, since each row holds the indicator of its cell.
TEST(SparseIntegerRank, LargeDesignsCountDistinctCells) {
  const int males = 60;
  const int females = 5;
  std::vector<SparseRow> nested;
  for (int obs = 0; obs < 6000; ++obs) {
    const int male = obs % males;
    const int female = (obs / males) % females;
    nested.push_back({{0, 1}, {1 + male, 1}, {1 + males + male * females + female, 1}});
  }
  EXPECT_EQ(SparseIntegerRank(1 + males + males * females, nested), males * females);

  // Block, repeat within block, male within block, female within male, female x repeat.
  const int blocks = 3, repeats = 2, malesPerBlock = 4, femalesPerMale = 3;
  const int repeatBase = 1 + blocks;
  const int maleBase = repeatBase + blocks * repeats;
  const int femaleBase = maleBase + blocks * malesPerBlock;
  const int cellBase = femaleBase + blocks * malesPerBlock * femalesPerMale;
  const int cols = cellBase + blocks * malesPerBlock * femalesPerMale * repeats;
  std::vector<SparseRow> blocked;
  for (int obs = 0; obs < 5000; ++obs) {
    const int b = obs % blocks;
    const int r = (obs / blocks) % repeats;
    const int m = b * malesPerBlock + (obs / 7) % malesPerBlock;
    const int f = m * femalesPerMale + (obs / 11) % femalesPerMale;
    blocked.push_back({{0, 1},
                       {1 + b, 1},
                       {repeatBase + b * repeats + r, 1},
                       {maleBase + m, 1},
                       {femaleBase + f, 1},
                       {cellBase + f * repeats + r, 1}});
  }
  EXPECT_EQ(SparseIntegerRank(cols, blocked), blocks * malesPerBlock * femalesPerMale * repeats);
}

}  // namespace
}  // namespace quorvel
