// The analysis result as data: JSON, a tidy CSV table and an .xlsx workbook.
#pragma once

#include <optional>
#include <string>

#include "analysis/analysis_result.h"

namespace quorvel {

// What the exports say about the run besides the result itself.
struct ExportContext {
  std::string source;   // the workbook's file name
  std::string version;  // the program's version
};

// The result as one JSON document (the shape of docs/result.schema.json): numbers in
// their shortest round-trip form, a value that is not finite as null.
std::string FormatResultJson(const AnalysisResult& result, const ExportContext& context);

// The result as one long table "trait,table,row,column,value", one row per number, full
// precision, an empty value for a number that is not finite, RFC 4180 quoting, CR LF.
std::string FormatResultCsv(const AnalysisResult& result);

// Writes the result as an .xlsx workbook at `path` (replaced whole): a sheet per table
// kind with a Trait column, numbers as numbers shown with 4 decimals, a bold frozen
// header row. False with `error` set when it cannot be written.
bool WriteResultXlsx(const AnalysisResult& result, const ExportContext& context,
                     const std::string& path, std::string& error);

enum class ExportFormat { Json, Csv, Xlsx };

// The export format a file name asks for by its extension (.json, .csv, .xlsx, any case).
std::optional<ExportFormat> ExportFormatOf(const std::string& path);

// Writes the export of `format` to `path`, replacing it whole; false with `error` set
// when it cannot be written.
bool WriteResultExport(const AnalysisResult& result, const ExportContext& context,
                       ExportFormat format, const std::string& path, std::string& error);

}  // namespace quorvel
