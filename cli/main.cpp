// quorvel-cli: the command-line front end. The first argument names a subcommand; each
// subcommand takes its own arguments.
#include <cstring>
#include <iostream>
#include <span>

#include "cli/cells_command.h"

namespace {

constexpr int kUsageError = 2;

struct Subcommand {
  const char* name;
  const char* arguments;    // shown in the usage text
  int argumentCount;        // arguments after the subcommand's name
  int (*run)(std::span<char*> arguments);
};

int RunCells(std::span<char*> arguments) { return quorvel::RunCellsCommand(arguments[0], std::cout, std::cerr); }

constexpr Subcommand kSubcommands[] = {
    {"cells", "FILE.xls", 1, RunCells},
};

int Usage() {
  std::cerr << "usage:\n";
  for (const Subcommand& subcommand : kSubcommands) {
    std::cerr << "  quorvel-cli " << subcommand.name << ' ' << subcommand.arguments << '\n';
  }
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  for (const Subcommand& subcommand : kSubcommands) {
    if (std::strcmp(argv[1], subcommand.name) != 0) continue;
    if (argc - 2 != subcommand.argumentCount) return Usage();
    return subcommand.run(std::span<char*>(argv + 2, static_cast<std::size_t>(argc - 2)));
  }
  std::cerr << "quorvel-cli: unknown subcommand '" << argv[1] << "'\n";
  return Usage();
}
