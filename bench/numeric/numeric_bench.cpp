// Timing of the distinct-level extraction and the exact rank on 65,535-row designs.
// Prints medians of repeated runs and the peak resident memory.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "numeric/distinct_levels.h"
#include "numeric/matrix.h"

namespace {

using Clock = std::chrono::steady_clock;

// Median wall time in milliseconds of `runs` calls of body, each after an untimed setup.
double MedianMs(int runs, const std::function<void()>& setup, const std::function<void()>& body) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    setup();
    const auto start = Clock::now();
    body();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The observations of a design: one code per factor and observation.
struct Design {
  std::vector<std::int32_t> block, male, female, repeat;
};

constexpr int kObservations = 65535;

// Nested: 300 males x 5 females, observations spread evenly over the 1,500 cells.
Design Nested() {
  Design d;
  for (int i = 0; i < kObservations; ++i) {
    d.male.push_back(i % 300 + 1);
    d.female.push_back((i / 300) % 5 + 1);
  }
  return d;
}

// Blocked with repeats: 3 blocks x 2 repeats, 100 males per block x 5 females.
Design BlockedRepeat() {
  Design d;
  for (int i = 0; i < kObservations; ++i) {
    const int b = i % 3;
    d.block.push_back(10 * (b + 1));
    d.repeat.push_back((i / 3) % 2 + 1);
    d.male.push_back(100 * b + (i / 6) % 100 + 1);
    d.female.push_back((i / 600) % 5 + 1);
  }
  return d;
}

// Design rows of the nested model: intercept, male, female within male.
std::vector<quorvel::SparseRow> NestedRows(const Design& d, int& cols) {
  cols = 1 + 300 + 1500;
  std::vector<quorvel::SparseRow> rows;
  for (int i = 0; i < kObservations; ++i) {
    const int m = d.male[i] - 1;
    rows.push_back({{0, 1}, {1 + m, 1}, {301 + m * 5 + d.female[i] - 1, 1}});
  }
  return rows;
}

// Design rows of the blocked-repeat model: intercept, block, repeat within block, male
// within block, female within male, female by repeat.
std::vector<quorvel::SparseRow> BlockedRepeatRows(const Design& d, int& cols) {
  const int repeatBase = 1 + 3, maleBase = repeatBase + 6, femaleBase = maleBase + 300;
  const int cellBase = femaleBase + 1500;
  cols = cellBase + 3000;
  std::vector<quorvel::SparseRow> rows;
  for (int i = 0; i < kObservations; ++i) {
    const int b = d.block[i] / 10 - 1;
    const int r = d.repeat[i] - 1;
    const int m = d.male[i] - 1;
    const int f = m * 5 + d.female[i] - 1;
    rows.push_back({{0, 1},
                    {1 + b, 1},
                    {repeatBase + b * 2 + r, 1},
                    {maleBase + m, 1},
                    {femaleBase + f, 1},
                    {cellBase + f * 2 + r, 1}});
  }
  return rows;
}

// The marking-and-bubble-sort extraction the sorted one replaces, for the ratio.
std::vector<std::int32_t> QuadraticLevels(const std::vector<std::int32_t>& codes) {
  std::vector<char> marked(codes.size(), 1);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (!marked[i]) continue;
    for (std::size_t j = i + 1; j < codes.size(); ++j) {
      if (codes[j] == codes[i]) marked[j] = 0;
    }
  }
  std::vector<std::int32_t> levels;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (marked[i]) levels.push_back(codes[i]);
  }
  for (std::size_t n = levels.size(); n > 1; --n) {
    for (std::size_t j = 0; j + 1 < n; ++j) {
      if (levels[j] > levels[j + 1]) std::swap(levels[j], levels[j + 1]);
    }
  }
  return levels;
}

void DenseRank(const char* name, const std::vector<quorvel::SparseRow>& rows, int cols, int runs) {
  std::vector<std::int32_t> storage(static_cast<std::size_t>(rows.size()) *
                                    static_cast<std::size_t>(cols));
  std::vector<std::int32_t*> pointers(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i)
    pointers[i] = storage.data() + i * static_cast<std::size_t>(cols);
  int rank = 0;
  const double ms = MedianMs(
      runs,
      [&] {
        std::fill(storage.begin(), storage.end(), 0);
        for (std::size_t i = 0; i < rows.size(); ++i) {
          for (const auto& e : rows[i]) pointers[i][e.column] = static_cast<std::int32_t>(e.value);
        }
      },
      [&] { rank = quorvel::IntegerRank(cols, pointers.data(), static_cast<int>(rows.size())); });
  std::printf("%-52s %8.1f ms   rank %d of %zu x %d (%.0f MB dense)\n", name, ms, rank, rows.size(),
              cols, static_cast<double>(storage.size()) * 4 / 1e6);
}

void SparseRank(const char* name, const std::vector<quorvel::SparseRow>& rows, int cols, int runs) {
  int rank = 0;
  const double ms = MedianMs(
      runs, [] {}, [&] { rank = quorvel::SparseIntegerRank(cols, rows); });
  std::printf("%-52s %8.1f ms   rank %d of %zu x %d\n", name, ms, rank, rows.size(), cols);
}

}  // namespace

int main() {
  const Design nested = Nested();
  const Design repeat = BlockedRepeat();
  std::printf("65,535 observations; medians of repeated runs\n\n");

  std::size_t count = 0;
  const double levelsMs = MedianMs(
      31, [] {}, [&] { count = quorvel::DistinctLevels(nested.male).size(); });
  std::printf("%-52s %8.3f ms   %zu levels\n", "DistinctLevels (300 male codes)", levelsMs, count);
  std::vector<std::int32_t> allDistinct(kObservations);
  for (int i = 0; i < kObservations; ++i) allDistinct[i] = (i * 7919) % kObservations - 30000;
  const double distinctMs = MedianMs(
      31, [] {}, [&] { count = quorvel::DistinctLevels(allDistinct).size(); });
  std::printf("%-52s %8.3f ms   %zu levels\n", "DistinctLevels (all codes distinct)", distinctMs,
              count);
  const double pairsMs = MedianMs(
      31, [] {}, [&] { count = quorvel::DistinctPairs(nested.male, nested.female)[0].size(); });
  std::printf("%-52s %8.3f ms   %zu cells\n", "DistinctPairs (male, female)", pairsMs, count);
  const double triplesMs = MedianMs(
      31, [] {},
      [&] {
        count = quorvel::DistinctTriples(repeat.block, repeat.male, repeat.female)[0].size();
      });
  std::printf("%-52s %8.3f ms   %zu cells\n", "DistinctTriples (block, male, female)", triplesMs,
              count);
  const double quadsMs = MedianMs(
      31, [] {},
      [&] {
        count =
            quorvel::DistinctQuadruples(repeat.block, repeat.male, repeat.female, repeat.repeat)[0]
                .size();
      });
  std::printf("%-52s %8.3f ms   %zu cells\n", "DistinctQuadruples (block, male, female, rep)",
              quadsMs, count);
  const double quadraticMs = MedianMs(
      1, [] {}, [&] { count = QuadraticLevels(allDistinct).size(); });
  std::printf("%-52s %8.1f ms   (%.0f x the sorted extraction)\n\n",
              "marking + bubble sort, all codes distinct", quadraticMs, quadraticMs / distinctMs);

  int cols = 0;
  const auto nestedRows = NestedRows(nested, cols);
  SparseRank("SparseIntegerRank nested 300 x 5", nestedRows, cols, 11);
  DenseRank("IntegerRank nested 300 x 5 (dense)", nestedRows, cols, 5);
  int repeatCols = 0;
  const auto repeatRows = BlockedRepeatRows(repeat, repeatCols);
  SparseRank("SparseIntegerRank blocked-repeat 3 x 2 x 100 x 5", repeatRows, repeatCols, 11);
  DenseRank("IntegerRank blocked-repeat 3 x 2 x 100 x 5 (dense)", repeatRows, repeatCols, 3);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("\npeak resident memory %.0f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024);
  return 0;
}
