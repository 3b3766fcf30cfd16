// The split of a loop over threads: every item done exactly once whatever the number of
// threads, and a failure in one range reported after all ranges have ended.
#include "analysis/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <vector>

namespace quorvel {
namespace {

TEST(ParallelRanges, EveryItemOnceForAnyThreadCount) {
  for (const std::size_t count : {0u, 1u, 2u, 7u, 1000u, 1001u}) {
    for (const std::size_t threads : {1u, 2u, 3u, 8u, 5000u}) {
      std::vector<std::atomic<int>> visits(count);
      ParallelRanges(
          count, 1,
          [&](std::size_t begin, std::size_t end) {
            EXPECT_LE(begin, end);
            for (std::size_t k = begin; k < end; ++k) visits[k].fetch_add(1);
          },
          threads);
      for (std::size_t k = 0; k < count; ++k) {
        ASSERT_EQ(visits[k].load(), 1) << "item " << k << " of " << count << ", " << threads;
      }
    }
  }
}

TEST(ParallelRanges, FewItemsStayOnTheCallingThread) {
  int ranges = 0;
  ParallelRanges(
      99, 100,
      [&](std::size_t begin, std::size_t end) {
        ++ranges;  // one range only, so no race
        EXPECT_EQ(begin, 0u);
        EXPECT_EQ(end, 99u);
      },
      4);
  EXPECT_EQ(ranges, 1);
}

TEST(ParallelRanges, AFailingRangeIsRethrownAfterTheOthersEnd) {
  std::atomic<int> finished{0};
  EXPECT_THROW(ParallelRanges(
                   4, 1,
                   [&](std::size_t begin, std::size_t) {
                     if (begin == 2) throw std::runtime_error("stopped");
                     finished.fetch_add(1);
                   },
                   4),
               std::runtime_error);
  EXPECT_EQ(finished.load(), 3);
}

}  // namespace
}  // namespace quorvel
