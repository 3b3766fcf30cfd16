// The stop signals' handler.
#include "cli/stop_signals.h"

#include <signal.h>

namespace quorvel {
namespace {

std::atomic<bool>* volatile runStopFlag = nullptr;
volatile sig_atomic_t stopSignal = 0;
struct sigaction oldInt {};
struct sigaction oldTerm {};

extern "C" void StopOnSignal(int signal) {
  stopSignal = signal;
  if (std::atomic<bool>* flag = runStopFlag) flag->store(true);
}

}  // namespace

StopSignals::StopSignals(std::atomic<bool>* flag) {
  static_assert(std::atomic<bool>::is_always_lock_free, "the handler stores to the flag");
  stopSignal = 0;
  runStopFlag = flag;
  struct sigaction action {};
  action.sa_handler = StopOnSignal;
  // Reads and writes in progress go on: the run stops at its own checks, not at an
  // interrupted call that would look like a damaged file.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &oldInt);
  sigaction(SIGTERM, &action, &oldTerm);
}

StopSignals::~StopSignals() {
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  runStopFlag = nullptr;
}

int StopSignals::ExitStatus() { return stopSignal == 0 ? 0 : 128 + stopSignal; }

}  // namespace quorvel
