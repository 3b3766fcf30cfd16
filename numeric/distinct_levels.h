// Distinct factor levels and cells (combinations of codes) of a data set.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvel {

using CodeList = std::vector<std::int32_t>;

// The distinct codes of one factor column, ascending.
CodeList DistinctLevels(std::span<const std::int32_t> codes);

// The distinct combinations of two, three or four factor columns of equal length, as
// parallel arrays (entry j of each array together form combination j), ascending
// lexicographic: by the first code, then the second, and so on.
std::array<CodeList, 2> DistinctPairs(std::span<const std::int32_t> first,
                                      std::span<const std::int32_t> second);
std::array<CodeList, 3> DistinctTriples(std::span<const std::int32_t> first,
                                        std::span<const std::int32_t> second,
                                        std::span<const std::int32_t> third);
std::array<CodeList, 4> DistinctQuadruples(std::span<const std::int32_t> first,
                                           std::span<const std::int32_t> second,
                                           std::span<const std::int32_t> third,
                                           std::span<const std::int32_t> fourth);

}  // namespace quorvel
