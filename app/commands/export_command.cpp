// The Export Results command.
#include "app/commands/export_command.h"

#include <optional>

#include "export/result_export.h"

namespace quorvel {
namespace {

constexpr const char* kProgramVersion = QUORVEL_VERSION;
constexpr const char* kCannotBeCreatedSuffix = " cannot be created!";

// The workbook's file name without its extension ("trial" for "trial.xls").
std::string Stem(const std::string& fileName) {
  const std::size_t dot = fileName.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

void ExportResults(Session& session) {
  if (session.runInProgress) return;
  Platform& platform = session.platform;
  const AnalysisResult* result = ShownResult(session);
  if (result == nullptr) {
    platform.ShowMessage(kMsgPerformComputing, MessageIcon::None);
    return;
  }

  FileDialogSpec spec;
  spec.filter = kExportFilter;
  spec.defaultExtension = "json";
  const std::string stem = Stem(session.shownSource);
  spec.initialFileName = (stem.empty() ? std::string("results") : stem + "_results") + ".json";
  spec.startFolder = session.exportFolder.empty() ? session.state.dataFolder : session.exportFolder;
  spec.hideReadOnly = true;
  spec.promptOverwrite = true;
  const std::optional<ChosenFile> chosen = platform.ChooseSaveFile(spec);
  if (!chosen) return;

  const std::optional<ExportFormat> format = ExportFormatOf(chosen->fullPath);
  if (!format) {
    platform.ShowMessage(chosen->fileName + kMsgExportExtensionSuffix, MessageIcon::None);
    return;
  }
  session.exportFolder = FolderOf(chosen->fullPath);
  const ExportContext context{session.shownSource, kProgramVersion};
  std::string error;
  if (!WriteResultExport(*result, context, *format, chosen->fullPath, error)) {
    platform.ShowMessage(
        chosen->fullPath + kCannotBeCreatedSuffix + (error.empty() ? "" : "\n" + error),
        MessageIcon::None);
  }
}

}  // namespace quorvel
