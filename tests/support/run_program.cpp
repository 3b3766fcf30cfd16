// Test support: programs run in a child process.
#include "tests/support/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "tests/support/report_compare.h"

extern char** environ;

namespace quorvel::testing {
namespace {

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=') + 1); }

}  // namespace

StartedProgram::StartedProgram(const std::vector<std::string>& argv, const std::string& scratch,
                               const std::vector<std::string>& environment) {
  static std::atomic<int> counter{0};
  const std::string stem =
      scratch + "/program" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  outPath_ = stem + ".out";
  errPath_ = stem + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);

  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  std::vector<std::string> env{"SOURCE_DATE_EPOCH=0", "TZ=UTC", "LC_ALL=C"};
  env.insert(env.end(), environment.begin(), environment.end());
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& own : env) replaced = replaced || NameOf(own) == NameOf(entry);
    if (!replaced) env.push_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data()) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

ProgramRun StartedProgram::Finish() {
  ProgramRun run;
  if (pid_ <= 0) return run;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
  }
  pid_ = -1;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  run.out = ReadFile(outPath_);
  run.err = ReadFile(errPath_);
  ::unlink(outPath_.c_str());
  ::unlink(errPath_.c_str());
  return run;
}

ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& scratch,
                      const std::vector<std::string>& environment) {
  StartedProgram program(argv, scratch, environment);
  return program.Finish();
}

}  // namespace quorvel::testing
