// The exact rank of integer matrices.
#include "numeric/matrix.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

namespace quorvel {

namespace {

// ---------------------------------------------------------------------------------------
// Exact rank.
//
// The rank of a matrix is the rank of its distinct non-zero rows, so repeated rows are
// dropped first. The distinct rows are then inserted one by one into an echelon basis
// keyed by leading column: a row is reduced against the basis row that leads in its own
// leading column until it vanishes (dependent) or leads in a free column (a new basis
// row). Rows are kept sparse, which keeps 0/1 designs with thousands of columns cheap.
//
// Reduction is fraction-free: v <- (a/g) v - (b/g) w with a, b the leading entries and
// g = gcd(a, b), formed in 128 bits, then divided by the gcd of its entries. A reduced
// row is the primitive integer vector of its direction, whose entries are bounded by
// minors of the input, so they fit 64 bits unless the minors do not. If one does not
// fit, the rank is found instead by elimination modulo word-sized primes, with enough
// primes that their product exceeds Hadamard's bound on the minors, which makes that
// rank exact as well.
// ---------------------------------------------------------------------------------------

using Row = SparseRow;

__extension__ typedef unsigned __int128 UInt128;
__extension__ typedef __int128 Int128;

std::uint64_t Magnitude(std::int64_t v) {
  return v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

// A combined entry before reduction: products of two 64-bit values and their difference
// fit in 128 bits.
struct WideEntry {
  int column;
  Int128 value;
};

UInt128 WideMagnitude(Int128 v) {
  return v < 0 ? UInt128{0} - static_cast<UInt128>(v) : static_cast<UInt128>(v);
}

UInt128 WideGcd(UInt128 a, UInt128 b) {
  while (b != 0) {
    const UInt128 r = a % b;
    a = b;
    b = r;
  }
  return a;
}

// out = ca * v - cb * w divided by the gcd of its entries, with its leading entry
// positive and zeros dropped. False when an entry of the result leaves 64 bits.
bool Combine(std::int64_t ca, const Row& v, std::int64_t cb, const Row& w,
             std::vector<WideEntry>& wide, Row& out) {
  wide.clear();
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < v.size() || j < w.size()) {
    WideEntry e{0, 0};
    if (j >= w.size() || (i < v.size() && v[i].column < w[j].column)) {
      e = {v[i].column, static_cast<Int128>(ca) * v[i].value};
      ++i;
    } else if (i >= v.size() || w[j].column < v[i].column) {
      e = {w[j].column, -(static_cast<Int128>(cb) * w[j].value)};
      ++j;
    } else {
      e = {v[i].column,
           static_cast<Int128>(ca) * v[i].value - static_cast<Int128>(cb) * w[j].value};
      ++i;
      ++j;
    }
    if (e.value != 0) wide.push_back(e);
  }
  out.clear();
  if (wide.empty()) return true;

  UInt128 g = 0;
  for (const WideEntry& e : wide) {
    g = WideGcd(WideMagnitude(e.value), g);
    if (g == 1) break;
  }
  const Int128 divisor = static_cast<Int128>(g) * (wide.front().value < 0 ? -1 : 1);
  // The most negative 64-bit value is kept out, so that every magnitude and quotient
  // below stays representable.
  const Int128 limit = std::numeric_limits<std::int64_t>::max();
  for (const WideEntry& e : wide) {
    const Int128 value = e.value / divisor;
    if (value > limit || value < -limit) return false;
    out.push_back({e.column, static_cast<std::int64_t>(value)});
  }
  return true;
}

// Divides a non-empty row by the gcd of its entries and makes its leading entry positive.
void MakePrimitive(Row& v) {
  std::uint64_t g = 0;
  for (const SparseEntry& e : v) {
    g = std::gcd(g, Magnitude(e.value));
    if (g == 1) break;
  }
  const std::int64_t divisor = static_cast<std::int64_t>(g) * (v.front().value < 0 ? -1 : 1);
  if (divisor == 1) return;
  for (SparseEntry& e : v) e.value /= divisor;
}

// Clears entry `column` of v with w, whose entry there is not zero: v <- (a/g) v - (b/g) w
// with a = w[column], b = v[column], g = gcd(a, b). False on overflow.
bool Eliminate(Row& v, const Row& w, std::int64_t a, std::int64_t b, std::vector<WideEntry>& wide,
               Row& scratch) {
  const std::int64_t g = static_cast<std::int64_t>(std::gcd(Magnitude(a), Magnitude(b)));
  if (!Combine(a / g, v, b / g, w, wide, scratch)) return false;
  std::swap(v, scratch);
  return true;
}

std::int64_t EntryAt(const Row& row, int column) {
  const auto it = std::lower_bound(row.begin(), row.end(), column,
                                   [](const SparseEntry& e, int c) { return e.column < c; });
  return it != row.end() && it->column == column ? it->value : 0;
}

// Brings an echelon basis (ordered by leading column) to reduced form: each row zero in
// the leading columns of the others. Rows are reduced from the last up, each against
// the already reduced rows below it. False on overflow (the basis is then unusable).
bool ReduceEchelon(std::vector<Row>& basis) {
  std::vector<WideEntry> wide;
  Row scratch;
  for (std::size_t i = basis.size(); i-- > 0;) {
    for (std::size_t j = i + 1; j < basis.size(); ++j) {
      const int column = basis[j].front().column;
      const std::int64_t b = EntryAt(basis[i], column);
      if (b != 0 && !Eliminate(basis[i], basis[j], basis[j].front().value, b, wide, scratch))
        return false;
    }
  }
  return true;
}

// The echelon basis of a set of rows, or only its size and origins when the exact
// elimination had to leave 64-bit integers.
struct RankResult {
  int rank = 0;
  bool echelonKnown = false;
  std::vector<Row> echelon;  // ordered by leading column (when echelonKnown)
  std::vector<int> sources;  // for each basis row, the index of the input row it came from
};

// Distinct, non-empty rows given one at a time: Get(i, row) fills row i in sparse form
// (ascending columns, non-zero values).
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual int Size() const = 0;
  virtual void Get(int index, Row& row) const = 0;
};

// Fraction-free elimination with 64-bit entries (128-bit intermediates). False when an
// entry of a reduced row would not fit 64 bits.
bool EchelonInt64(const RowSource& source, int cols, RankResult& result) {
  const int limit = std::min(source.Size(), cols);
  std::vector<int> basisOf(static_cast<std::size_t>(cols), -1);  // leading column -> basis row
  std::vector<Row> basis;
  std::vector<int> sources;
  Row v;
  Row scratch;
  std::vector<WideEntry> wide;
  for (int s = 0; s < source.Size() && static_cast<int>(basis.size()) < limit; ++s) {
    source.Get(s, v);
    for (const SparseEntry& e : v) {
      if (e.value == std::numeric_limits<std::int64_t>::min()) return false;
    }
    while (!v.empty()) {
      const int lead = basisOf[static_cast<std::size_t>(v.front().column)];
      if (lead < 0) {
        MakePrimitive(v);
        basisOf[static_cast<std::size_t>(v.front().column)] = static_cast<int>(basis.size());
        basis.push_back(v);
        sources.push_back(s);
        break;
      }
      const Row& w = basis[static_cast<std::size_t>(lead)];
      if (!Eliminate(v, w, w.front().value, v.front().value, wide, scratch)) return false;
    }
  }

  // Order the basis by leading column: row echelon form.
  std::vector<int> order(basis.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int x, int y) {
    return basis[static_cast<std::size_t>(x)].front().column <
           basis[static_cast<std::size_t>(y)].front().column;
  });
  result.rank = static_cast<int>(basis.size());
  result.echelonKnown = true;
  result.echelon.clear();
  result.sources.clear();
  for (int k : order) {
    result.echelon.push_back(std::move(basis[static_cast<std::size_t>(k)]));
    result.sources.push_back(sources[static_cast<std::size_t>(k)]);
  }
  return true;
}

// ---- Modular elimination ----

std::uint64_t MulMod(std::uint64_t a, std::uint64_t b, std::uint64_t p) {
  return static_cast<std::uint64_t>(static_cast<UInt128>(a) * b % p);
}

std::uint64_t PowMod(std::uint64_t base, std::uint64_t exponent, std::uint64_t p) {
  std::uint64_t result = 1;
  base %= p;
  while (exponent > 0) {
    if (exponent & 1) result = MulMod(result, base, p);
    base = MulMod(base, base, p);
    exponent >>= 1;
  }
  return result;
}

// Deterministic Miller-Rabin for 64-bit n (these seven bases suffice below 2^64).
bool IsPrime(std::uint64_t n) {
  if (n < 2) return false;
  for (std::uint64_t small : {2u, 3u, 5u, 7u, 11u, 13u, 17u, 19u, 23u, 29u, 31u, 37u}) {
    if (n % small == 0) return n == small;
  }
  std::uint64_t d = n - 1;
  int twos = 0;
  while ((d & 1) == 0) {
    d >>= 1;
    ++twos;
  }
  for (std::uint64_t base :
       {2ull, 325ull, 9375ull, 28178ull, 450775ull, 9780504ull, 1795265022ull}) {
    std::uint64_t x = PowMod(base, d, n);
    if (x == 0 || x == 1 || x == n - 1) continue;
    bool composite = true;
    for (int r = 1; r < twos; ++r) {
      x = MulMod(x, x, n);
      if (x == n - 1) {
        composite = false;
        break;
      }
    }
    if (composite) return false;
  }
  return true;
}

// Every prime used here lies in [2^61, 2^62), so each contributes more than 61 bits.
constexpr double kBitsPerPrime = 61.0;

struct ModEntry {
  int column;
  std::uint64_t value;
};
using ModRow = std::vector<ModEntry>;

// Residues of a sparse row modulo p; repeated columns are summed, zeros dropped.
void Residues(const Row& row, std::uint64_t p, ModRow& out) {
  out.clear();
  const std::int64_t sp = static_cast<std::int64_t>(p);
  for (const SparseEntry& e : row) {
    std::int64_t r = e.value % sp;
    if (r < 0) r += sp;
    const std::uint64_t value = static_cast<std::uint64_t>(r);
    if (!out.empty() && out.back().column == e.column) {
      out.back().value = (out.back().value + value) % p;
      if (out.back().value == 0) out.pop_back();
    } else if (value != 0) {
      out.push_back({e.column, value});
    }
  }
}

// Rank modulo p, with the input rows that formed the basis.
int RankModP(const RowSource& source, int cols, std::uint64_t p, std::vector<int>& sources) {
  const int limit = std::min(source.Size(), cols);
  std::vector<int> basisOf(static_cast<std::size_t>(cols), -1);
  std::vector<ModRow> basis;  // leading entry 1
  sources.clear();
  Row input;
  ModRow v;
  ModRow scratch;
  for (int s = 0; s < source.Size() && static_cast<int>(basis.size()) < limit; ++s) {
    source.Get(s, input);
    Residues(input, p, v);
    while (!v.empty()) {
      const int lead = basisOf[static_cast<std::size_t>(v.front().column)];
      if (lead < 0) {
        const std::uint64_t inverse = PowMod(v.front().value, p - 2, p);
        for (ModEntry& e : v) e.value = MulMod(e.value, inverse, p);
        basisOf[static_cast<std::size_t>(v.front().column)] = static_cast<int>(basis.size());
        basis.push_back(v);
        sources.push_back(s);
        break;
      }
      // v <- v - v_lead * w, which clears the leading column.
      const ModRow& w = basis[static_cast<std::size_t>(lead)];
      const std::uint64_t factor = v.front().value;
      scratch.clear();
      std::size_t i = 1;
      std::size_t j = 1;
      while (i < v.size() || j < w.size()) {
        if (j >= w.size() || (i < v.size() && v[i].column < w[j].column)) {
          scratch.push_back(v[i++]);
        } else {
          const std::uint64_t sub = MulMod(factor, w[j].value, p);
          if (i >= v.size() || w[j].column < v[i].column) {
            if (sub != 0) scratch.push_back({w[j].column, p - sub});
          } else {
            const std::uint64_t value = (v[i].value + p - sub) % p;
            if (value != 0) scratch.push_back({w[j].column, value});
            ++i;
          }
          ++j;
        }
      }
      std::swap(v, scratch);
    }
  }
  return static_cast<int>(basis.size());
}

// log2 of a bound on every minor of the rows: the product of the largest min(rows, cols)
// row norms (Hadamard's inequality), each norm >= 1. Repeated columns of a row are
// bounded by the sum of their magnitudes.
double HadamardLog2Bound(const RowSource& source, int cols) {
  std::vector<double> logs;
  Row row;
  for (int s = 0; s < source.Size(); ++s) {
    source.Get(s, row);
    long double sumSquares = 0;
    long double run = 0;
    for (std::size_t k = 0; k < row.size(); ++k) {
      run += static_cast<long double>(Magnitude(row[k].value));
      if (k + 1 == row.size() || row[k + 1].column != row[k].column) {
        sumSquares += run * run;
        run = 0;
      }
    }
    logs.push_back(static_cast<double>(0.5L * std::log2(std::max(sumSquares, 1.0L))));
  }
  const std::size_t keep = std::min(logs.size(), static_cast<std::size_t>(cols));
  std::partial_sort(logs.begin(), logs.begin() + static_cast<std::ptrdiff_t>(keep), logs.end(),
                    std::greater<>());
  double total = 0;
  for (std::size_t k = 0; k < keep; ++k) total += logs[k];
  return total;
}

// Exact rank by elimination modulo primes. Each modular rank is at most the true rank r,
// and equals it for every prime that does not divide a fixed non-zero r x r minor; once
// the product of the primes exceeds the bound on that minor, one of them cannot divide
// it, so the largest modular rank is r.
void RankModular(const RowSource& source, int cols, RankResult& result) {
  const int limit = std::min(source.Size(), cols);
  const double bits = HadamardLog2Bound(source, cols) * (1.0 + 1e-9) + 2.0;
  result = RankResult{};
  double covered = 0;
  std::uint64_t candidate = (std::uint64_t{1} << 62) - 1;
  std::vector<int> sources;
  while (covered <= bits && result.rank < limit) {
    while (!IsPrime(candidate)) candidate -= 2;
    const int rank = RankModP(source, cols, candidate, sources);
    if (rank > result.rank || result.sources.empty()) {
      result.rank = rank;
      result.sources = sources;
    }
    covered += kBitsPerPrime;
    candidate -= 2;
  }
}

RankResult ExactRank(const RowSource& source, int cols) {
  RankResult result;
  if (!EchelonInt64(source, cols, result)) RankModular(source, cols, result);
  return result;
}

// ---- Row sources ----

bool EntryLess(const SparseEntry& x, const SparseEntry& y) {
  return x.column != y.column ? x.column < y.column : x.value < y.value;
}
bool EntryEqual(const SparseEntry& x, const SparseEntry& y) {
  return x.column == y.column && x.value == y.value;
}

class SparseSource : public RowSource {
 public:
  explicit SparseSource(const std::vector<Row>& rows) : rows_(rows) {}
  int Size() const override { return static_cast<int>(rows_.size()); }
  void Get(int index, Row& row) const override { row = rows_[static_cast<std::size_t>(index)]; }

 private:
  const std::vector<Row>& rows_;
};

class DenseSource : public RowSource {
 public:
  DenseSource(std::int32_t** m, int cols, std::vector<int> rowIndices)
      : m_(m), cols_(cols), rowIndices_(std::move(rowIndices)) {}
  int Size() const override { return static_cast<int>(rowIndices_.size()); }
  void Get(int index, Row& row) const override {
    row.clear();
    const std::int32_t* data = m_[rowIndices_[static_cast<std::size_t>(index)]];
    for (int j = 0; j < cols_; ++j) {
      if (data[j] != 0) row.push_back({j, data[j]});
    }
  }
  int RowIndex(int index) const { return rowIndices_[static_cast<std::size_t>(index)]; }

 private:
  std::int32_t** m_;
  int cols_;
  std::vector<int> rowIndices_;
};

// Indices of the distinct non-zero rows of a dense matrix, first occurrences in order.
std::vector<int> DistinctDenseRows(std::int32_t** m, int cols, int rows) {
  const std::size_t width = static_cast<std::size_t>(cols) * sizeof(std::int32_t);
  std::vector<std::pair<std::uint64_t, int>> keyed;
  keyed.reserve(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    std::uint64_t h = 0x9e3779b97f4a7c15ull;
    bool zero = true;
    for (int j = 0; j < cols; ++j) {
      const std::uint32_t value = static_cast<std::uint32_t>(m[i][j]);
      if (value == 0) continue;
      zero = false;
      h ^= (static_cast<std::uint64_t>(j) << 32 | value) + 0x9e3779b97f4a7c15ull + (h << 6) +
           (h >> 2);
      h *= 0xbf58476d1ce4e5b9ull;
    }
    if (!zero) keyed.emplace_back(h, i);
  }
  std::sort(keyed.begin(), keyed.end());

  std::vector<int> distinct;
  std::vector<int> group;  // representatives within one run of equal hashes
  for (std::size_t k = 0; k < keyed.size();) {
    std::size_t end = k;
    while (end < keyed.size() && keyed[end].first == keyed[k].first) ++end;
    group.clear();
    for (std::size_t q = k; q < end; ++q) {
      const int i = keyed[q].second;
      const bool seen = std::any_of(group.begin(), group.end(),
                                    [&](int r) { return std::memcmp(m[r], m[i], width) == 0; });
      if (!seen) group.push_back(i);
    }
    distinct.insert(distinct.end(), group.begin(), group.end());
    k = end;
  }
  std::sort(distinct.begin(), distinct.end());
  return distinct;
}

bool FitsInt32(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    for (const SparseEntry& e : row) {
      if (e.value < std::numeric_limits<std::int32_t>::min() ||
          e.value > std::numeric_limits<std::int32_t>::max()) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

int IntegerRank(int cols, std::int32_t** m, int rows) {
  if (rows <= 0 || cols <= 0) return 0;
  DenseSource source(m, cols, DistinctDenseRows(m, cols, rows));
  RankResult result = ExactRank(source, cols);

  // What is written back: the echelon rows when every entry fits 32 bits, else their
  // reduced echelon form (smaller entries) if that fits; failing both, the independent
  // input rows the basis came from, which span the same space.
  std::vector<Row> output;
  if (result.echelonKnown && !FitsInt32(result.echelon)) {
    if (!ReduceEchelon(result.echelon) || !FitsInt32(result.echelon)) result.echelonKnown = false;
  }
  if (result.echelonKnown) {
    output = std::move(result.echelon);
  } else {
    output.resize(result.sources.size());
    for (std::size_t k = 0; k < result.sources.size(); ++k)
      source.Get(result.sources[k], output[k]);
  }
  for (int i = 0; i < rows; ++i) std::fill(m[i], m[i] + cols, 0);
  for (std::size_t k = 0; k < output.size(); ++k) {
    for (const SparseEntry& e : output[k]) m[k][e.column] = static_cast<std::int32_t>(e.value);
  }
  return result.rank;
}

int SparseIntegerRank(int cols, std::vector<SparseRow> rows) {
  if (cols <= 0) return 0;
  // Bring each row to its canonical form: columns in range, ascending, repeats summed,
  // zeros dropped. A sum that leaves 64 bits keeps the row's entries apart (the
  // modular elimination sums them itself) and rules out the 64-bit elimination.
  bool mergeOverflow = false;
  for (Row& row : rows) {
    std::erase_if(row, [cols](const SparseEntry& e) {
      return e.column < 0 || e.column >= cols || e.value == 0;
    });
    if (!std::is_sorted(row.begin(), row.end(), EntryLess))
      std::sort(row.begin(), row.end(), EntryLess);
    Row merged;
    bool overflow = false;
    for (const SparseEntry& e : row) {
      if (!merged.empty() && merged.back().column == e.column) {
        if (__builtin_add_overflow(merged.back().value, e.value, &merged.back().value)) {
          overflow = true;
          break;
        }
      } else {
        merged.push_back(e);
      }
    }
    if (overflow) {
      mergeOverflow = true;
      continue;
    }
    std::erase_if(merged, [](const SparseEntry& e) { return e.value == 0; });
    row = std::move(merged);
  }
  std::erase_if(rows, [](const Row& row) { return row.empty(); });

  // Repeated rows add nothing to the rank.
  std::sort(rows.begin(), rows.end(), [](const Row& x, const Row& y) {
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), EntryLess);
  });
  rows.erase(std::unique(rows.begin(), rows.end(),
                         [](const Row& x, const Row& y) {
                           return std::equal(x.begin(), x.end(), y.begin(), y.end(), EntryEqual);
                         }),
             rows.end());

  SparseSource source(rows);
  RankResult result;
  if (mergeOverflow) {
    RankModular(source, cols, result);
  } else {
    result = ExactRank(source, cols);
  }
  return result.rank;
}

}  // namespace quorvel
