// Cooperative cancellation of an analysis: the caller raises a flag, the analysis looks
// at it between its steps and inside its long loops and gives up by throwing
// AnalysisCancelled, which unwinds every stage and frees what it held.
#pragma once

#include <atomic>
#include <exception>

namespace quorvel {

struct AnalysisCancelled : std::exception {
  const char* what() const noexcept override { return "analysis cancelled"; }
};

class StopToken {
 public:
  StopToken() = default;
  // The analysis stops once *flag is true; a null flag never stops it.
  explicit StopToken(const std::atomic<bool>* flag) : flag_(flag) {}

  bool StopRequested() const { return flag_ != nullptr && flag_->load(std::memory_order_relaxed); }
  void ThrowIfStopped() const {
    if (StopRequested()) throw AnalysisCancelled();
  }

 private:
  const std::atomic<bool>* flag_ = nullptr;
};

}  // namespace quorvel
