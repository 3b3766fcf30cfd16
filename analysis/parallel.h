// The second core where it pays: a loop over independent items split into contiguous
// ranges, one per hardware thread. Each item is computed by the same code whichever thread
// runs it, so results do not depend on the number of threads.
#pragma once

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace quorvel {

// Calls body(begin, end) on disjoint ranges covering [0, count), in parallel when there
// are at least `minimumPerThread` items per thread, on at most `maximumThreads` threads
// (0: one per hardware thread). An exception thrown by a range (e.g. AnalysisCancelled) is
// rethrown once every range has ended.
template <typename Body>
void ParallelRanges(std::size_t count, std::size_t minimumPerThread, Body&& body,
                    std::size_t maximumThreads = 0) {
  const std::size_t hardware =
      maximumThreads != 0 ? maximumThreads : std::max(1u, std::thread::hardware_concurrency());
  const std::size_t threads =
      std::clamp<std::size_t>(count / std::max<std::size_t>(minimumPerThread, 1), 1, hardware);
  if (threads <= 1) {
    body(std::size_t{0}, count);
    return;
  }
  std::vector<std::exception_ptr> errors(threads);
  std::vector<std::thread> workers;
  for (std::size_t t = 1; t < threads; ++t) {
    workers.emplace_back([&, t] {
      try {
        body(count * t / threads, count * (t + 1) / threads);
      } catch (...) {
        errors[t] = std::current_exception();
      }
    });
  }
  try {
    body(std::size_t{0}, count / threads);
  } catch (...) {
    errors[0] = std::current_exception();
  }
  for (std::thread& worker : workers) worker.join();
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

}  // namespace quorvel
