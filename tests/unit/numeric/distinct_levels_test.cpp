// Distinct levels and cells: ascending, lexicographic, any number of distinct values.
#include "numeric/distinct_levels.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>

namespace quorvel {
namespace {

TEST(DistinctLevels, SmallCases) {
  const std::vector<std::int32_t> a = {3, 1, 3, 2};
  EXPECT_EQ(DistinctLevels(a), (CodeList{1, 2, 3}));
  const std::vector<std::int32_t> b = {10, 20, 30};
  EXPECT_EQ(DistinctLevels(b), (CodeList{10, 20, 30}));
  const std::vector<std::int32_t> c = {-1, 0, -1};
  EXPECT_EQ(DistinctLevels(c), (CodeList{-1, 0}));
  const std::vector<std::int32_t> one = {7};
  EXPECT_EQ(DistinctLevels(one), (CodeList{7}));
  EXPECT_TRUE(DistinctLevels({}).empty());
  const std::vector<std::int32_t> extremes = {INT32_MAX, INT32_MIN, 0, INT32_MIN};
  EXPECT_EQ(DistinctLevels(extremes), (CodeList{INT32_MIN, 0, INT32_MAX}));
}

TEST(DistinctCells, SmallCases) {
  const std::vector<std::int32_t> p1 = {2, 1, 1, 2};
  const std::vector<std::int32_t> p2 = {1, 2, 1, 1};
  const auto pairs = DistinctPairs(p1, p2);
  EXPECT_EQ(pairs[0], (CodeList{1, 1, 2}));
  EXPECT_EQ(pairs[1], (CodeList{1, 2, 1}));

  const std::vector<std::int32_t> t1 = {1, 1};
  const std::vector<std::int32_t> t3 = {5, 2};
  const auto triples = DistinctTriples(t1, t1, t3);
  EXPECT_EQ(triples[2], (CodeList{2, 5}));

  const std::vector<std::int32_t> single = {4};
  const auto quads = DistinctQuadruples(single, single, single, single);
  for (const CodeList& column : quads) EXPECT_EQ(column, (CodeList{4}));
}

// Many observations with many distinct values, against an ordered set.
TEST(DistinctCells, MatchOrderedSetOnLargeInputs) {
  std::mt19937 random(3);
  const std::size_t n = 65535;
  std::vector<std::int32_t> c[4];
  for (auto& column : c) column.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    c[0][i] = static_cast<std::int32_t>(random());              // nearly all distinct
    c[1][i] = static_cast<std::int32_t>(random() % 300) - 150;  // negative codes too
    c[2][i] = static_cast<std::int32_t>(random() % 5);
    c[3][i] = static_cast<std::int32_t>(random() % 3);
  }
  const std::set<std::int32_t> levels(c[0].begin(), c[0].end());
  EXPECT_EQ(DistinctLevels(c[0]), CodeList(levels.begin(), levels.end()));

  std::set<std::tuple<int, int>> pairSet;
  std::set<std::tuple<int, int, int>> tripleSet;
  std::set<std::tuple<int, int, int, int>> quadSet;
  for (std::size_t i = 0; i < n; ++i) {
    pairSet.insert({c[1][i], c[2][i]});
    tripleSet.insert({c[1][i], c[2][i], c[3][i]});
    quadSet.insert({c[3][i], c[1][i], c[2][i], c[3][i]});
  }
  const auto pairs = DistinctPairs(c[1], c[2]);
  ASSERT_EQ(pairs[0].size(), pairSet.size());
  std::size_t j = 0;
  for (const auto& [a, b] : pairSet) {
    EXPECT_EQ(pairs[0][j], a);
    EXPECT_EQ(pairs[1][j], b);
    ++j;
  }
  const auto triples = DistinctTriples(c[1], c[2], c[3]);
  ASSERT_EQ(triples[0].size(), tripleSet.size());
  j = 0;
  for (const auto& [a, b, d] : tripleSet) {
    ASSERT_EQ(std::tie(triples[0][j], triples[1][j], triples[2][j]), std::tie(a, b, d));
    ++j;
  }
  const auto quads = DistinctQuadruples(c[3], c[1], c[2], c[3]);
  ASSERT_EQ(quads[0].size(), quadSet.size());
  j = 0;
  for (const auto& [a, b, d, e] : quadSet) {
    ASSERT_EQ(std::tie(quads[0][j], quads[1][j], quads[2][j], quads[3][j]), std::tie(a, b, d, e));
    ++j;
  }
}

}  // namespace
}  // namespace quorvel
