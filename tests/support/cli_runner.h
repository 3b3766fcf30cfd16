// Test support: runs quorvel-cli as a separate process, as a user runs it, with standard
// output and error captured and a fixed clock, time zone and locale.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quorvel::testing {

struct CliResult {
  int exitCode = -1;  // -1 when the program could not start or did not exit normally
  std::string out;
  std::string err;
};

// Runs `cli` with `args`; the captured streams go through files in `scratch`.
CliResult RunCli(const std::string& cli, const std::vector<std::string>& args,
                 const std::filesystem::path& scratch);

}  // namespace quorvel::testing
