// The command line of quorvel-cli: subcommands, options and the usage text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/batch_command.h"
#include "cli/workbook_commands.h"

namespace quorvel {

enum class CliCommand { Help, Version, Import, Analyze, Cells };

struct CliArguments {
  CliCommand command = CliCommand::Help;
  WorkbookCommandOptions options;  // the workbook of import, analyze and cells, and their options
  // analyze on several workbooks, or with an option of the batch: every workbook and the
  // batch's options. `options` then holds the first workbook and the options they share.
  bool batch = false;
  BatchOptions batchOptions;
};

inline constexpr const char* kCliVersionText = "quorvel-cli 1.0.0.1\n";

// The text of --help.
const char* CliUsageText();

// Parses the arguments after the program name. On misuse returns nothing and sets `error`
// to a one-line explanation (without the program's name or a line end).
std::optional<CliArguments> ParseCliArguments(const std::vector<std::string>& args,
                                              std::string& error);

}  // namespace quorvel
