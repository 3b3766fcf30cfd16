// The command line of quorvel-cli.
#include "cli/cli_arguments.h"

namespace quorvel {

const char* CliUsageText() {
  return "Usage: quorvel-cli COMMAND FILE.xls [OPTIONS]\n"
         "Analyses a nested mating design read from the first worksheet of a workbook;\n"
         "FILE.xls stands for an .xls, .xlsx, .ods, .csv or .tsv file.\n"
         "\n"
         "Commands:\n"
         "  import FILE.xls [--output-dir DIR]\n"
         "      Reads and checks the sheet, writes the data echo tmp.txt (beside the\n"
         "      workbook, or in DIR) and prints it.\n"
         "  analyze FILE.xls [--model 1|2|3] [--output-dir DIR]\n"
         "      Imports the sheet as above, runs the model (by default the one the sheet's\n"
         "      layout fits), writes the report result.txt and prints it.\n"
         "        --model 1   yijklt = u + Bi + Ril + Mij + Fijk + (FR)ijkl + eijklt\n"
         "                    (columns Block, Male, Female, Repeat, Trait1, ...)\n"
         "        --model 2   yijkl = u + Bi + Mj + Fjk + eijkl (Block, Male, Female, Trait1, "
         "...)\n"
         "        --model 3   yijk = u + Mi + Fij + eijk (Male, Female, Trait1, ...)\n"
         "  cells FILE.xls\n"
         "      Lists the decoded cells of every worksheet.\n"
         "\n"
         "Options:\n"
         "  --help       Show this text.\n"
         "  --version    Show the version.\n"
         "\n"
         "Exit status: 0 on success, 1 when the workbook cannot be imported or analysed (the\n"
         "reason goes to standard error), 2 on a usage error.\n"
         "SOURCE_DATE_EPOCH, when set, takes the place of the clock in the report's time stamp.\n";
}

std::optional<CliArguments> ParseCliArguments(const std::vector<std::string>& args,
                                              std::string& error) {
  CliArguments parsed;
  if (args.empty()) {
    error = "no command given (try --help)";
    return std::nullopt;
  }
  const std::string& command = args[0];
  if (command == "--help" || command == "-h") return parsed;
  if (command == "--version") {
    parsed.command = CliCommand::Version;
    return parsed;
  }
  if (command == "import") {
    parsed.command = CliCommand::Import;
  } else if (command == "analyze") {
    parsed.command = CliCommand::Analyze;
  } else if (command == "cells") {
    parsed.command = CliCommand::Cells;
  } else {
    error = "unknown command '" + command + "' (try --help)";
    return std::nullopt;
  }

  bool haveWorkbook = false;
  for (std::size_t k = 1; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (arg == "--help" || arg == "-h") {
      parsed.command = CliCommand::Help;
      return parsed;
    }
    const bool takesValue = arg == "--output-dir" || arg == "--model";
    if (takesValue && parsed.command == CliCommand::Cells) {
      error = "cells takes no option " + arg;
      return std::nullopt;
    }
    if (takesValue && k + 1 >= args.size()) {
      error = "option " + arg + " needs a value";
      return std::nullopt;
    }
    if (arg == "--output-dir") {
      parsed.options.outputDir = args[++k];
    } else if (arg == "--model") {
      if (parsed.command != CliCommand::Analyze) {
        error = "--model belongs to analyze";
        return std::nullopt;
      }
      const std::string& value = args[++k];
      if (value == "1") {
        parsed.options.model = ModelKind::BlockedRepeat;
      } else if (value == "2") {
        parsed.options.model = ModelKind::Blocked;
      } else if (value == "3") {
        parsed.options.model = ModelKind::Nested;
      } else {
        error = "--model must be 1, 2 or 3, not '" + value + "'";
        return std::nullopt;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg + " (try --help)";
      return std::nullopt;
    } else if (haveWorkbook) {
      error = "one workbook only: '" + arg + "' is one too many";
      return std::nullopt;
    } else {
      parsed.options.workbook = arg;
      haveWorkbook = true;
    }
  }
  if (!haveWorkbook) {
    error = command + " needs a workbook (FILE.xls)";
    return std::nullopt;
  }
  return parsed;
}

}  // namespace quorvel
