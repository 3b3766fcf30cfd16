// Test support: a program run as a separate process.
#include "tests/support/cli_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "tests/support/report_compare.h"

extern char** environ;

namespace quorvel::testing {

CliProcess::CliProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::filesystem::path& folder)
    : outFile_(folder / "stdout"), errFile_(folder / "stderr") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);

  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStrings{"SOURCE_DATE_EPOCH=0", "TZ=UTC", "LC_ALL=C"};
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("SOURCE_DATE_EPOCH=", 0) != 0 && entry.rfind("TZ=", 0) != 0 &&
        entry.rfind("LC_ALL=", 0) != 0) {
      envStrings.push_back(entry);
    }
  }
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

CliProcess::~CliProcess() {
  if (pid_ > 0) Wait();
}

std::string CliProcess::ErrorSoFar() const { return ReadFile(errFile_.string()); }

ProcessResult CliProcess::Wait() {
  ProcessResult result;
  if (pid_ <= 0) return result;
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(outFile_.string());
  result.err = ReadFile(errFile_.string());
  return result;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& folder) {
  CliProcess process(program, args, folder);
  return process.Wait();
}

}  // namespace quorvel::testing
