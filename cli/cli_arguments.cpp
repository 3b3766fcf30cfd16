// The command line of quorvel-cli.
#include "cli/cli_arguments.h"

#include <charconv>
#include <system_error>

#include "export/result_export.h"
#include "import/model_spec.h"

namespace quorvel {
namespace {

// The options of analyze that only a batch has. Returns false when `arg` is none of them;
// otherwise takes its value from args[k + 1] (advancing k) and sets `error` on misuse.
bool ParseBatchOption(const std::vector<std::string>& args, std::size_t& k, BatchOptions& batch,
                      std::string& error) {
  const std::string& arg = args[k];
  if (arg == "--progress") {
    batch.progress = true;
    return true;
  }
  if (arg != "--jobs" && arg != "--summary" && arg != "--export-format") return false;
  if (k + 1 >= args.size()) {
    error = "option " + arg + " needs a value";
    return true;
  }
  const std::string& value = args[++k];
  if (arg == "--jobs") {
    int jobs = 0;
    const auto [end, status] = std::from_chars(value.data(), value.data() + value.size(), jobs);
    if (status != std::errc() || end != value.data() + value.size() || jobs < 1 || jobs > 4096) {
      error = "--jobs must be a whole number from 1 to 4096, not '" + value + "'";
    }
    batch.jobs = jobs;
  } else if (arg == "--summary") {
    if (!ExportFormatOf(value)) {
      error = "--summary needs a file ending in .csv, .json or .xlsx, not '" + value + "'";
    }
    batch.summaryPath = value;
  } else {
    batch.exportFormat = value == "json"   ? std::optional(ExportFormat::Json)
                         : value == "csv"  ? std::optional(ExportFormat::Csv)
                         : value == "xlsx" ? std::optional(ExportFormat::Xlsx)
                                           : std::nullopt;
    if (!batch.exportFormat) {
      error = "--export-format must be json, csv or xlsx, not '" + value + "'";
    }
  }
  return true;
}

// A confidence level: a decimal number strictly between 0 and 1 and nothing else.
bool ParseLevel(const std::string& text, double& level) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || !(value > 0.0 && value < 1.0)) return false;
  level = value;
  return true;
}

}  // namespace

const char* CliUsageText() {
  // The models' lines come from the model table: "--model N   formula (columns ...)".
  static const std::string text = [] {
    std::string models;
    for (const ModelSpec& spec : AllModelSpecs()) {
      std::string columns;
      for (const char* name : spec.factorNames) columns += std::string(name) + ", ";
      models += "        --model " + std::to_string(spec.menuNumber) + "   " + spec.formula + "\n" +
                "                    (columns " + columns + "Trait1, ...)\n";
    }
    return "Usage: quorvel-cli COMMAND FILE [OPTIONS]\n"
           "Analyses a nested mating design read from the first worksheet of a workbook;\n"
           "FILE is an .xls, .xlsx, .ods, .csv or .tsv file, recognised by its content.\n"
           "\n"
           "Commands:\n"
           "  import FILE [--output-dir DIR]\n"
           "      Reads and checks the sheet, writes the data echo tmp.txt (beside the\n"
           "      workbook, or in DIR) and prints it.\n"
           "  analyze FILE [--model 1|2|3] [--output-dir DIR] [--format text|json]\n"
           "                 [--export PATH] [--intervals] [--level L]\n"
           "      Imports the sheet as above, runs the model (by default the one the sheet's\n"
           "      layout fits), writes the report result.txt and prints it.\n" +
           models +
           "        --format json   print the result as JSON instead of the report\n"
           "                        (result.txt is written all the same)\n"
           "        --export PATH   also write the result to PATH: .json, .csv (one row per\n"
           "                        number) or .xlsx (a sheet per table)\n"
           "        --intervals     add the confidence intervals of the variance components\n"
           "                        and heritabilities to the report\n"
           "        --level L       the level of every confidence interval (report and\n"
           "                        exports), between 0 and 1; 0.95 by default\n"
           "  analyze FILE... [--model 1|2|3] [--output-dir DIR] [--jobs N]\n"
           "                 [--summary PATH] [--export-format json|csv|xlsx] [--progress]\n"
           "                 [--intervals] [--level L]\n"
           "      Several workbooks, or any of these options: a batch. Each workbook's\n"
           "      tmp.txt and result.txt go to DIR/STEM/ (without --output-dir, STEM/ beside\n"
           "      the workbook; a STEM given twice gets -2, -3, ...); nothing is printed on\n"
           "      standard output, failures go to standard error as FILE: MESSAGE.\n"
           "        --jobs N          analyse N workbooks at once (default: one per core)\n"
           "        --summary PATH    write one row per workbook and trait: levels, variance\n"
           "                          components, heritabilities, F tests and a status\n"
           "                          (.csv, .json or .xlsx)\n"
           "        --export-format F also write each workbook's results.json, .csv or .xlsx\n"
           "        --progress        a line per finished workbook on standard error (the\n"
           "                          default when standard error is a terminal)\n"
           "  cells FILE\n"
           "      Lists the decoded cells of every worksheet.\n"
           "\n"
           "Options:\n"
           "  --help       Show this text.\n"
           "  --version    Show the version.\n"
           "\n"
           "Exit status: 0 on success, 1 when the workbook (in a batch: any workbook) cannot be\n"
           "imported or analysed (the reason goes to standard error), 2 on a usage error,\n"
           "130 or 143 when stopped by Ctrl+C or SIGTERM.\n"
           "SOURCE_DATE_EPOCH, when set, takes the place of the clock in the report's time "
           "stamp.\n";
  }();
  return text.c_str();
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
    if (parsed.command == CliCommand::Analyze &&
        ParseBatchOption(args, k, parsed.batchOptions, error)) {
      if (!error.empty()) return std::nullopt;
      parsed.batch = true;
      continue;
    }
    const bool takesValue = arg == "--output-dir" || arg == "--model" || arg == "--format" ||
                            arg == "--export" || arg == "--level";
    if ((takesValue || arg == "--intervals") && parsed.command == CliCommand::Cells) {
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
      const ModelSpec* spec = nullptr;
      if (value.size() == 1 && value[0] >= '1' && value[0] <= '9')
        spec = ModelSpecByNumber(value[0] - '0');
      if (spec == nullptr) {
        error = "--model must be 1, 2 or 3, not '" + value + "'";
        return std::nullopt;
      }
      parsed.options.model = spec->kind;
    } else if (arg == "--format" || arg == "--export") {
      if (parsed.command != CliCommand::Analyze) {
        error = arg + " belongs to analyze";
        return std::nullopt;
      }
      const std::string& value = args[++k];
      if (arg == "--format") {
        if (value == "text") {
          parsed.options.print = PrintFormat::Text;
        } else if (value == "json") {
          parsed.options.print = PrintFormat::Json;
        } else {
          error = "--format must be text or json, not '" + value + "'";
          return std::nullopt;
        }
      } else {
        if (!ExportFormatOf(value)) {
          error = "--export needs a file ending in .json, .csv or .xlsx, not '" + value + "'";
          return std::nullopt;
        }
        parsed.options.exportPath = value;
      }
    } else if (arg == "--intervals" || arg == "--level") {
      if (parsed.command != CliCommand::Analyze) {
        error = arg + " belongs to analyze";
        return std::nullopt;
      }
      if (arg == "--intervals") {
        parsed.options.report.intervals = true;
      } else if (!ParseLevel(args[++k], parsed.options.report.level)) {
        error = "--level must be a number between 0 and 1 (e.g. 0.95), not '" + args[k] + "'";
        return std::nullopt;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg + " (try --help)";
      return std::nullopt;
    } else if (haveWorkbook && parsed.command != CliCommand::Analyze) {
      error = "one workbook only: '" + arg + "' is one too many";
      return std::nullopt;
    } else {
      if (!haveWorkbook) parsed.options.workbook = arg;
      parsed.batchOptions.workbooks.push_back(arg);
      haveWorkbook = true;
    }
  }
  if (!haveWorkbook) {
    error = command + " needs a workbook (FILE)";
    return std::nullopt;
  }
  if (parsed.batchOptions.workbooks.size() > 1) parsed.batch = true;
  if (parsed.batch && (parsed.options.print != PrintFormat::Text || parsed.options.exportPath)) {
    error = "--format and --export belong to a single workbook; a batch writes --export-format";
    return std::nullopt;
  }
  return parsed;
}

}  // namespace quorvel
