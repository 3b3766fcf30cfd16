// Test support: another program run as a user runs it, its standard output and error
// captured, with a fixed clock, time zone and locale so that reports compare byte for byte.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quorvel::testing {

struct ProgramRun {
  int exitCode = -1;  // -1 when the program did not exit normally
  int signal = 0;     // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// A started program. Its output goes to files in `scratch`, read by Finish.
class StartedProgram {
 public:
  // argv[0] is the program's path. The environment is this process's, but
  // SOURCE_DATE_EPOCH=0, TZ=UTC and LC_ALL=C, then `environment` ("NAME=value") on top.
  StartedProgram(const std::vector<std::string>& argv, const std::string& scratch,
                 const std::vector<std::string>& environment = {});
  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Waits for the program's end and collects what it printed.
  ProgramRun Finish();

 private:
  pid_t pid_ = -1;
  std::string outPath_;
  std::string errPath_;
};

// Starts the program and waits for it.
ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& scratch,
                      const std::vector<std::string>& environment = {});

}  // namespace quorvel::testing
