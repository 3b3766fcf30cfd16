// Exact row space of restriction rows by fraction-free elimination with gcd reduction.
#include "numeric/row_space.h"

#include <cstdlib>
#include <numeric>

namespace quorvel {

RowSpace::RowSpace(int columnCount, const std::vector<std::vector<int>>& rows,
                   const std::vector<bool>& keep) {
  for (std::size_t k = 0; k < rows.size(); ++k) {
    Row row;
    for (const int column : rows[k]) {
      if (column < 0 || column >= columnCount) continue;
      if (!keep.empty() && !keep[column]) continue;
      row[column] += 1;
    }
    if (row.empty()) continue;
    if (!Reduce(row)) exact_ = false;
    if (row.empty()) continue;
    const int pivot = row.begin()->first;
    echelon_.emplace(pivot, std::move(row));
    basisRows_.push_back(static_cast<int>(k));
  }
}

bool RowSpace::Contains(std::map<int, std::int64_t> vector) const {
  for (auto at = vector.begin(); at != vector.end();) {
    at = at->second == 0 ? vector.erase(at) : std::next(at);
  }
  if (!Reduce(vector)) exact_ = false;
  return vector.empty();
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

}  // namespace quorvel
