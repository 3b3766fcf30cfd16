// Exact row space of restriction rows by fraction-free elimination with gcd reduction.
#include "numeric/row_space.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <optional>

namespace quorvel {
namespace {

// A rational number in lowest terms with a positive denominator; arithmetic fails (empty)
// when a value leaves the 64-bit range.
struct Fraction {
  std::int64_t num = 0;
  std::int64_t den = 1;
  bool operator==(const Fraction&) const = default;
  auto operator<=>(const Fraction&) const = default;
};

std::optional<Fraction> Make(std::int64_t num, std::int64_t den) {
  if (den == 0) return std::nullopt;
  if (den < 0) {
    if (num == INT64_MIN || den == INT64_MIN) return std::nullopt;
    num = -num;
    den = -den;
  }
  const std::int64_t g = std::gcd(num < 0 ? -num : num, den);
  return Fraction{num / (g == 0 ? 1 : g), den / (g == 0 ? 1 : g)};
}

std::optional<Fraction> Multiply(Fraction a, Fraction b) {
  std::int64_t num = 0;
  std::int64_t den = 0;
  if (__builtin_mul_overflow(a.num, b.num, &num) || __builtin_mul_overflow(a.den, b.den, &den))
    return std::nullopt;
  return Make(num, den);
}

std::optional<Fraction> Subtract(Fraction a, Fraction b) {
  std::int64_t left = 0;
  std::int64_t right = 0;
  std::int64_t num = 0;
  std::int64_t den = 0;
  if (__builtin_mul_overflow(a.num, b.den, &left) || __builtin_mul_overflow(b.num, a.den, &right) ||
      __builtin_sub_overflow(left, right, &num) || __builtin_mul_overflow(a.den, b.den, &den))
    return std::nullopt;
  return Make(num, den);
}

std::optional<Fraction> Divide(Fraction a, Fraction b) {
  if (b.num == 0) return std::nullopt;
  return Multiply(a, Fraction{b.den, b.num});  // Multiply normalises the sign
}

}  // namespace

RowSpace::RowSpace(int columnCount, const std::vector<std::vector<int>>& rows,
                   const std::vector<bool>& keep)
    : columnCount_(columnCount) {
  std::vector<SparseRow> kept;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    Row row;
    for (const int column : rows[k]) {
      if (column < 0 || column >= columnCount) continue;
      if (!keep.empty() && !keep[column]) continue;
      row[column] += 1;
    }
    SparseRow sparse;
    for (const auto& [column, value] : row) sparse.push_back({column, value});
    kept.push_back(std::move(sparse));
    if (!exact_ || row.empty()) continue;
    if (!Reduce(row)) {
      exact_ = false;
      continue;
    }
    if (row.empty()) continue;
    const int pivot = row.begin()->first;
    echelon_.emplace(pivot, std::move(row));
    basisRows_.push_back(static_cast<int>(k));
  }
  if (exact_) {
    rank_ = static_cast<int>(echelon_.size());
    for (const int k : basisRows_) basis_.push_back(kept[k]);
    return;
  }
  UseRankEngine(kept);
}

void RowSpace::UseRankEngine(const std::vector<SparseRow>& rows) {
  echelon_.clear();
  basisRows_.clear();
  basis_.clear();
  rank_ = 0;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (rows[k].empty()) continue;
    std::vector<SparseRow> candidate = basis_;
    candidate.push_back(rows[k]);
    const int rank = RankOf(std::move(candidate));
    if (rank > rank_) {
      rank_ = rank;
      basis_.push_back(rows[k]);
      basisRows_.push_back(static_cast<int>(k));
    }
  }
}

int RowSpace::RankOf(std::vector<SparseRow> rows) const {
  return SparseIntegerRank(columnCount_, std::move(rows));
}

bool RowSpace::Contains(std::map<int, std::int64_t> vector) const {
  for (auto at = vector.begin(); at != vector.end();) {
    at = at->second == 0 ? vector.erase(at) : std::next(at);
  }
  if (exact_) {
    Row row = vector;
    if (Reduce(row)) return row.empty();
  }
  // The rank engine: the vector lies in the space when it adds nothing to the basis's rank.
  std::vector<SparseRow> rows = basis_;
  SparseRow sparse;
  for (const auto& [column, value] : vector) sparse.push_back({column, value});
  rows.push_back(std::move(sparse));
  return RankOf(std::move(rows)) == rank_;
}

std::vector<std::map<int, std::int64_t>> RowSpace::EchelonRows() const {
  std::vector<Row> rows;
  if (!exact_) return rows;
  for (const auto& [pivot, row] : echelon_) rows.push_back(row);
  return rows;
}

bool RowSpace::Reduce(Row& row) const {
  while (!row.empty()) {
    const auto [lead, leadValue] = *row.begin();
    const auto pivotRow = echelon_.find(lead);
    if (pivotRow == echelon_.end()) return true;  // leading column has no pivot: independent
    const std::int64_t pivotValue = pivotRow->second.begin()->second;

    // row = pivotValue * row - leadValue * pivotRow, which clears the leading column.
    Row updated;
    auto scaled = [](std::int64_t a, std::int64_t b, std::int64_t& out) {
      return !__builtin_mul_overflow(a, b, &out);
    };
    for (const auto& [column, value] : row) {
      std::int64_t product = 0;
      if (!scaled(pivotValue, value, product)) return false;
      updated[column] = product;
    }
    for (const auto& [column, value] : pivotRow->second) {
      std::int64_t product = 0;
      if (!scaled(leadValue, value, product)) return false;
      std::int64_t& entry = updated[column];
      if (__builtin_sub_overflow(entry, product, &entry)) return false;
    }
    std::int64_t divisor = 0;
    for (auto at = updated.begin(); at != updated.end();) {
      if (at->second == 0) {
        at = updated.erase(at);
      } else {
        divisor = std::gcd(divisor, std::llabs(at->second));
        ++at;
      }
    }
    if (divisor > 1) {
      for (auto& entry : updated) entry.second /= divisor;
    }
    row = std::move(updated);
  }
  return true;
}

std::vector<int> DifferenceClasses(int columnCount, const std::vector<std::vector<int>>& rows,
                                   const std::vector<int>& columns) {
  const int m = static_cast<int>(columns.size());
  std::vector<int> classes(static_cast<std::size_t>(m));
  std::iota(classes.begin(), classes.end(), 0);
  // Number the given columns last, so that the echelon rows led by one of them lie in
  // their span: those rows span the row space's intersection with it.
  std::vector<int> position(static_cast<std::size_t>(columnCount), -1);
  for (int k = 0; k < m; ++k) position[columns[k]] = columnCount - m + k;
  int next = 0;
  std::vector<int> renumber(static_cast<std::size_t>(columnCount));
  for (int c = 0; c < columnCount; ++c) renumber[c] = position[c] >= 0 ? position[c] : next++;
  std::vector<std::vector<int>> renumbered;
  for (const auto& row : rows) {
    std::vector<int> r;
    for (const int c : row) {
      if (c >= 0 && c < columnCount) r.push_back(renumber[c]);
    }
    renumbered.push_back(std::move(r));
  }
  const RowSpace space(columnCount, renumbered);
  auto bruteForce = [&] {
    // The rank engine, pair by pair (only when the 64-bit elimination did not hold).
    for (int a = 0; a < m; ++a) {
      if (classes[a] != a) continue;
      for (int b = a + 1; b < m; ++b) {
        if (space.Contains({{columnCount - m + a, 1}, {columnCount - m + b, -1}})) classes[b] = a;
      }
    }
    return classes;
  };
  if (!space.Eliminated()) return bruteForce();

  // The intersection's rows over the given columns (local indices), as fractions, reduced
  // to reduced echelon form.
  std::vector<std::map<int, Fraction>> basis;
  for (const auto& row : space.EchelonRows()) {
    if (row.begin()->first < columnCount - m) continue;
    std::map<int, Fraction> local;
    for (const auto& [column, value] : row) local[column - (columnCount - m)] = Fraction{value, 1};
    basis.push_back(std::move(local));
  }
  for (std::size_t i = 0; i < basis.size(); ++i) {
    const int pivot = basis[i].begin()->first;
    const Fraction lead = basis[i].begin()->second;
    for (auto& [column, value] : basis[i]) {
      const auto divided = Divide(value, lead);
      if (!divided) return bruteForce();
      value = *divided;
    }
    for (std::size_t j = 0; j < basis.size(); ++j) {
      if (j == i) continue;
      const auto at = basis[j].find(pivot);
      if (at == basis[j].end()) continue;
      const Fraction factor = at->second;
      for (const auto& [column, value] : basis[i]) {
        const auto product = Multiply(factor, value);
        const Fraction current = basis[j].count(column) ? basis[j][column] : Fraction{};
        const auto difference = product ? Subtract(current, *product) : std::nullopt;
        if (!difference) return bruteForce();
        if (difference->num == 0) {
          basis[j].erase(column);
        } else {
          basis[j][column] = *difference;
        }
      }
    }
  }
  // The remainder of e_c: e_c itself for a column without a pivot, minus its row (without
  // the pivot) for a pivot column.
  std::map<std::vector<std::pair<int, Fraction>>, int> classOf;
  std::map<int, std::size_t> rowOfPivot;
  for (std::size_t i = 0; i < basis.size(); ++i) rowOfPivot[basis[i].begin()->first] = i;
  for (int c = 0; c < m; ++c) {
    std::vector<std::pair<int, Fraction>> key;
    const auto at = rowOfPivot.find(c);
    if (at == rowOfPivot.end()) {
      key.push_back({c, Fraction{1, 1}});
    } else {
      for (const auto& [column, value] : basis[at->second]) {
        if (column != c) key.push_back({column, Fraction{-value.num, value.den}});
      }
    }
    const auto [entry, added] = classOf.emplace(std::move(key), c);
    classes[c] = entry->second;
  }
  return classes;
}

}  // namespace quorvel
