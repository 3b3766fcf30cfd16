// The "import" and "analyze" subcommands: the Open and Model commands of the desktop
// program, run through the console platform.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "import/design_data.h"

namespace quorvel {

struct WorkbookCommandOptions {
  std::string workbook;  // the .xls file, as given
  std::optional<std::string>
      outputDir;                   // where tmp.txt and result.txt go; else beside the workbook
  std::optional<ModelKind> model;  // analyze: the Model command; else the sheet's own layout
};

// Imports the workbook, writes tmp.txt and copies it to `out`. Returns 0, or 1 after the
// import's message has gone to `err` (nothing is written then).
int ImportWorkbookCommand(const WorkbookCommandOptions& options, std::FILE* out, std::FILE* err);

// Imports the workbook, runs the model, writes result.txt and copies it to `out`. Returns
// 0, or 1 after the failing step's message has gone to `err`. When `err` is a terminal, a
// run still going after half a second reports its stages there.
int AnalyzeWorkbookCommand(const WorkbookCommandOptions& options, std::FILE* out, std::FILE* err);

}  // namespace quorvel
