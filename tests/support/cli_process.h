// Test support: quorvel-cli run as a separate process, as a user runs it, with standard
// output and error captured in files, a fixed clock (SOURCE_DATE_EPOCH=0), time zone and
// locale.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quorvel::testing {

struct ProcessResult {
  int exitCode = -1;  // -1 when the process did not exit normally
  std::string out;
  std::string err;
};

class CliProcess {
 public:
  // Starts `program` with `args`; its standard output and error go to files in `folder`.
  CliProcess(const std::string& program, const std::vector<std::string>& args,
             const std::filesystem::path& folder);
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // What the process has written to standard error so far.
  std::string ErrorSoFar() const;
  // Waits for the process to end.
  ProcessResult Wait();

 private:
  std::filesystem::path outFile_;
  std::filesystem::path errFile_;
  pid_t pid_ = -1;
};

// Starts the program and waits for it.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& folder);

}  // namespace quorvel::testing
