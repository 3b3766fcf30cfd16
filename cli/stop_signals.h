// Ctrl+C (SIGINT) and SIGTERM while quorvel-cli analyses: the signal is noted and, when a
// run's stop flag is given, raised on it, so that the run ends at its next check.
#pragma once

#include <atomic>

namespace quorvel {

// Installs the handlers for its lifetime and restores the previous ones after. One at a
// time: the handlers keep the flag in process-wide variables.
class StopSignals {
 public:
  // `flag`, when not null, is raised by the handler.
  explicit StopSignals(std::atomic<bool>* flag = nullptr);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // 128 + the signal that arrived, or 0.
  static int ExitStatus();
};

}  // namespace quorvel
