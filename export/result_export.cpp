// Export formats by file name, and the writing of each.
#include "export/result_export.h"

#include <algorithm>
#include <cctype>

#include "io/atomic_file.h"

namespace quorvel {

std::optional<ExportFormat> ExportFormatOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
  std::string extension = path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == "json") return ExportFormat::Json;
  if (extension == "csv") return ExportFormat::Csv;
  if (extension == "xlsx") return ExportFormat::Xlsx;
  return std::nullopt;
}

bool WriteResultExport(const AnalysisResult& result, const ExportContext& context,
                       ExportFormat format, const std::string& path, std::string& error) {
  switch (format) {
    case ExportFormat::Json:
      return WriteFileAtomically(path, FormatResultJson(result, context), &error);
    case ExportFormat::Csv:
      return WriteFileAtomically(path, FormatResultCsv(result), &error);
    case ExportFormat::Xlsx:
      return WriteResultXlsx(result, context, path, error);
  }
  return false;
}

}  // namespace quorvel
