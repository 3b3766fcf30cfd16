// File > Export Results...: the shown report's result written as JSON, CSV or an Excel
// workbook.
#pragma once

#include "app/commands/commands.h"

namespace quorvel {

// The save dialog's filter of the three export formats; the first is the default.
inline constexpr const char* kExportFilter =
    "JSON files(*.json)|*.json|CSV files(*.csv)|*.csv|Excel workbooks(*.xlsx)|*.xlsx||";
inline constexpr const char* kMsgExportExtensionSuffix =
    " is not an export file name: it must end in .json, .csv or .xlsx.";

// Asks for a file (starting where the last export went, or else in the workbook's folder,
// with the workbook's name and "_results.json" proposed), and writes the shown result in
// the format of the chosen name's extension, replacing the file whole. Refused with
// kMsgPerformComputing unless a report is shown; ignored while a run is in progress. A
// name without a known extension, or a file that cannot be written, is named in a
// message and nothing is left behind.
void ExportResults(Session& session);

}  // namespace quorvel
