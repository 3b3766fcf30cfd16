// quorvel-cli as a child process.
#include "tests/support/cli_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "tests/support/report_compare.h"

extern char** environ;

namespace quorvel::testing {

CliResult RunCli(const std::string& cli, const std::vector<std::string>& args,
                 const std::filesystem::path& scratch) {
  const std::filesystem::path outFile = scratch / "stdout";
  const std::filesystem::path errFile = scratch / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);

  std::vector<std::string> argStrings{cli};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
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
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  CliResult result;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(outFile.string());
  result.err = ReadFile(errFile.string());
  return result;
}

}  // namespace quorvel::testing
