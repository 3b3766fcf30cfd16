// The "import" and "analyze" subcommands: the Open and Model commands of the desktop
// program, run through the console platform.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "app/commands/commands.h"
#include "import/design_data.h"
#include "report/text_report.h"

namespace quorvel {

// What analyze prints on standard output: the text report or the result as JSON.
enum class PrintFormat { Text, Json };

struct WorkbookCommandOptions {
  std::string workbook;  // the workbook, as given
  std::optional<std::string>
      outputDir;                   // where tmp.txt and result.txt go; else beside the workbook
  std::optional<ModelKind> model;  // analyze: the Model command; else the sheet's own layout
  PrintFormat print = PrintFormat::Text;  // analyze
  std::optional<std::string>
      exportPath;        // analyze: also write the result here (.json, .csv, .xlsx)
  ReportOptions report;  // analyze: the intervals' level and the report's interval section
};

class ConsolePlatform;

// The steps of analyze on one workbook, shared by the single-workbook command and the
// batch, which runs them once per workbook on a session and platform of its own.
//
// The view's start-up, dataFolder and dataFileName as the Open command sets them (with
// the output folder, when given, in place of the workbook's), then the import. False
// after the import's message has been shown through `platform`.
bool ImportForCommand(Session& session, Platform& platform, const WorkbookCommandOptions& options);

// How the run of an imported data set ended.
enum class RunEnd {
  Done,              // the report is written; session.lastRun holds it and the result
  Refused,           // the data set does not fit options.model ("The data is not ...")
  Cancelled,         // session.stopRun was raised; the previous report is kept
  ReportNotCreated,  // "Result file cannot be created!" has been shown
};

// Runs options.model, or the model of the sheet's layout, on the imported data set and
// drives the run's hand-off to its end.
RunEnd RunImportedModel(Session& session, ConsolePlatform& platform,
                        const WorkbookCommandOptions& options);

// Imports the workbook, writes tmp.txt and copies it to `out`. Returns 0, or 1 after the
// import's message has gone to `err` (nothing is written then).
int ImportWorkbookCommand(const WorkbookCommandOptions& options, std::FILE* out, std::FILE* err);

// Imports the workbook, runs the model, writes result.txt and prints the report (or the
// result as JSON) to `out`, as the run composed it in memory; with an export path, writes
// the export too. Returns 0, or 1 after the failing step's message has gone to `err`
// (a report that cannot be written: "Result file cannot be created!"). When `err` is a
// terminal, a run still going after half a second reports its stages there. SIGINT or
// SIGTERM stops the run, keeps the previous report and returns 130 or 143.
int AnalyzeWorkbookCommand(const WorkbookCommandOptions& options, std::FILE* out, std::FILE* err);

}  // namespace quorvel
