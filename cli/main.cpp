// quorvel-cli: the command-line front end. The first argument names a subcommand; the
// Open and Model commands of the desktop program run here without a window.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cells_command.h"
#include "cli/cli_arguments.h"
#include "cli/workbook_commands.h"

namespace {

constexpr int kUsageError = 2;

int UsageError(const std::string& error) {
  std::cerr << "quorvel-cli: " << error << "\n"
            << "usage: quorvel-cli import FILE [--output-dir DIR]\n"
            << "       quorvel-cli analyze FILE [--model 1|2|3] [--output-dir DIR]\n"
            << "                           [--format text|json] [--export PATH]\n"
            << "       quorvel-cli analyze FILE... [--model 1|2|3] [--output-dir DIR] [--jobs N]\n"
            << "                           [--summary PATH] [--export-format json|csv|xlsx]\n"
            << "                           [--progress]\n"
            << "       quorvel-cli cells FILE\n"
            << "       quorvel-cli --help | --version\n";
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const std::optional<quorvel::CliArguments> parsed = quorvel::ParseCliArguments(args, error);
  if (!parsed) return UsageError(error);

  const quorvel::WorkbookCommandOptions& options = parsed->options;
  switch (parsed->command) {
    case quorvel::CliCommand::Help:
      std::fputs(quorvel::CliUsageText(), stdout);
      return 0;
    case quorvel::CliCommand::Version:
      std::fputs(quorvel::kCliVersionText, stdout);
      return 0;
    case quorvel::CliCommand::Cells:
      return quorvel::RunCellsCommand(options.workbook.c_str(), std::cout, std::cerr);
    case quorvel::CliCommand::Import:
      return quorvel::ImportWorkbookCommand(options, stdout, stderr);
    case quorvel::CliCommand::Analyze:
      if (parsed->batch) {
        quorvel::BatchOptions batch = parsed->batchOptions;
        batch.progress = batch.progress || ::isatty(STDERR_FILENO) == 1;
        return quorvel::RunBatchCommand(options, batch, stderr);
      }
      return quorvel::AnalyzeWorkbookCommand(options, stdout, stderr);
  }
  return kUsageError;
}
