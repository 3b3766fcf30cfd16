// analyze on many workbooks at once: each one imported and analysed as the single-workbook
// command does it, on a pool of threads, its files in a folder of its own, and a summary
// table across all of them.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/workbook_commands.h"
#include "export/result_export.h"

namespace quorvel {

struct BatchOptions {
  std::vector<std::string> workbooks;        // as given, in order
  int jobs = 0;                              // workbooks analysed at once; 0: one per core
  std::optional<std::string> summaryPath;    // .csv, .json or .xlsx
  std::optional<ExportFormat> exportFormat;  // also write results.<ext> per workbook
  bool progress = false;                     // a line per finished workbook on `err`
};

// The folders the workbooks' files go to, in order: <base>/<stem>, where base is the output
// folder or, without one, the workbook's own folder, and the stem is the file name without
// its last extension. A folder that an earlier workbook's natural folder already names
// gets the first free suffix -2, -3, ...; a workbook whose folder is unique keeps it.
std::vector<std::string> BatchOutputFolders(const std::vector<std::string>& workbooks,
                                            const std::optional<std::string>& outputDir);

// The number of processors this process may run on (at least 1).
int AvailableCores();

// Runs analyze on every workbook with the model and options of `common` (its workbook and
// output folder are set per workbook): tmp.txt, result.txt and results.<ext> go to the
// workbook's folder of BatchOutputFolders, created when missing. Nothing goes to standard
// output; a failure's message goes to `err` as "FILE: MESSAGE", as does a line per finished
// workbook when `batch.progress` is set. Writes the summary, rows in the order the files
// were given, whatever order the jobs finish in. Returns 0 when every workbook succeeded,
// 1 when one failed or the summary could not be written. SIGINT or SIGTERM lets running
// analyses stop, starts no new one, keeps the files of finished workbooks, writes the
// summary of what finished (the others "stopped") and returns 130 or 143.
int RunBatchCommand(const WorkbookCommandOptions& common, const BatchOptions& batch,
                    std::FILE* err);

}  // namespace quorvel
