// Distinct factor levels and cells: sort the codes (or code tuples) and drop repeats,
// O(N log N) in the number of observations.
#include "numeric/distinct_levels.h"

#include <algorithm>
#include <cstddef>

namespace quorvel {
namespace {

// The distinct K-tuples formed by entry i of each column, ascending lexicographic, as
// K parallel lists. Columns of unequal length are read up to the shortest one.
template <std::size_t K>
std::array<CodeList, K> DistinctTuples(
    const std::array<std::span<const std::int32_t>, K>& columns) {
  std::size_t n = columns[0].size();
  for (const auto& column : columns) n = std::min(n, column.size());

  using Tuple = std::array<std::int32_t, K>;
  std::vector<Tuple> tuples(n);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t f = 0; f < K; ++f) tuples[i][f] = columns[f][i];
  }
  // std::array compares lexicographically with signed element comparison.
  std::sort(tuples.begin(), tuples.end());
  tuples.erase(std::unique(tuples.begin(), tuples.end()), tuples.end());

  std::array<CodeList, K> result;
  for (std::size_t f = 0; f < K; ++f) {
    result[f].reserve(tuples.size());
    for (const Tuple& t : tuples) result[f].push_back(t[f]);
  }
  return result;
}

}  // namespace

CodeList DistinctLevels(std::span<const std::int32_t> codes) {
  CodeList levels(codes.begin(), codes.end());
  std::sort(levels.begin(), levels.end());
  levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
  return levels;
}

std::array<CodeList, 2> DistinctPairs(std::span<const std::int32_t> first,
                                      std::span<const std::int32_t> second) {
  return DistinctTuples<2>({first, second});
}

std::array<CodeList, 3> DistinctTriples(std::span<const std::int32_t> first,
                                        std::span<const std::int32_t> second,
                                        std::span<const std::int32_t> third) {
  return DistinctTuples<3>({first, second, third});
}

std::array<CodeList, 4> DistinctQuadruples(std::span<const std::int32_t> first,
                                           std::span<const std::int32_t> second,
                                           std::span<const std::int32_t> third,
                                           std::span<const std::int32_t> fourth) {
  return DistinctTuples<4>({first, second, third, fourth});
}

}  // namespace quorvel
