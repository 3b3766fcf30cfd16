// The "import" and "analyze" subcommands.
#include "cli/workbook_commands.h"

#include <unistd.h>

#include <chrono>

#include "app/commands/commands.h"
#include "app/commands/open_command.h"
#include "cli/console_platform.h"
#include "cli/stop_signals.h"
#include "export/result_export.h"

namespace quorvel {
namespace {

constexpr const char* kProgramVersion = QUORVEL_VERSION;

// Sets dataFolder and dataFileName as the Open command would for the chosen workbook,
// except that the output folder, when given, takes the place of the workbook's folder.
void SetDataFiles(AppState& state, const WorkbookCommandOptions& options) {
  const std::string& path = options.workbook;
  const std::size_t slash = path.find_last_of('/');
  state.dataFileName = slash == std::string::npos ? path : path.substr(slash + 1);
  if (options.outputDir) {
    state.dataFolder = *options.outputDir;
    if (!state.dataFolder.empty() && state.dataFolder.back() != '/') state.dataFolder += '/';
  } else {
    state.dataFolder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  }
}

bool Print(const std::string& text, std::FILE* out) {
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  return std::fflush(out) == 0 && written;
}

bool CopyFileTo(const std::string& path, std::FILE* out) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[1 << 16];
  std::size_t got = 0;
  bool ok = true;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    ok = ok && std::fwrite(buffer, 1, got, out) == got;
  }
  ok = ok && std::ferror(file) == 0;
  std::fclose(file);
  return std::fflush(out) == 0 && ok;
}

}  // namespace

bool ImportForCommand(Session& session, Platform& platform, const WorkbookCommandOptions& options) {
  ViewStartUp(session);
  SetDataFiles(session.state, options);
  return ImportWorkbook(session.state, session.designData, platform, options.workbook);
}

RunEnd RunImportedModel(Session& session, ConsolePlatform& platform,
                        const WorkbookCommandOptions& options) {
  session.reportOptions = options.report;
  RunAnalysis(session, options.model.value_or(session.designData->kind));
  if (!session.runInProgress) return RunEnd::Refused;
  DriveAnalysisTimer(session, platform);
  switch (session.state.runStatus) {
    case RunStatus::Done:
      return RunEnd::Done;
    case RunStatus::Cancelled:
      return RunEnd::Cancelled;
    case RunStatus::ReportNotCreated:
      break;
  }
  return RunEnd::ReportNotCreated;
}

int ImportWorkbookCommand(const WorkbookCommandOptions& options, std::FILE* out, std::FILE* err) {
  ConsolePlatform platform(err);
  Session session(platform);
  if (!ImportForCommand(session, platform, options)) return 1;
  return CopyFileTo(session.state.dataFolder + kEchoFileName, out) ? 0 : 1;
}

int AnalyzeWorkbookCommand(const WorkbookCommandOptions& options, std::FILE* out, std::FILE* err) {
  ConsolePlatform platform(err);
  Session session(platform);
  // Ctrl+C (SIGINT) and SIGTERM stop the run through its stop flag: the previous report
  // stays whole and the program exits with 128 + the signal's number.
  const StopSignals signals(&session.stopRun);
  if (!ImportForCommand(session, platform, options))
    return StopSignals::ExitStatus() != 0 ? StopSignals::ExitStatus() : 1;
  if (StopSignals::ExitStatus() != 0) return StopSignals::ExitStatus();

  if (::isatty(::fileno(err)) == 1) {
    const auto start = std::chrono::steady_clock::now();
    session.runProgress = [start, err](std::string_view stage) {
      if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500)) return;
      std::fprintf(err, "quorvel-cli: %.*s\n", static_cast<int>(stage.size()), stage.data());
      std::fflush(err);
    };
  }

  const RunEnd end = RunImportedModel(session, platform, options);
  if (end == RunEnd::Refused) return 1;  // the data set does not fit the model
  if (end == RunEnd::Cancelled) {
    std::fputs("quorvel-cli: stopped; the previous report is kept\n", err);
    return StopSignals::ExitStatus() != 0 ? StopSignals::ExitStatus() : 1;
  }
  // A signal after the report was written ends the program without printing it.
  if (StopSignals::ExitStatus() != 0) return StopSignals::ExitStatus();
  // A report that could not be written has shown its message through the platform.
  if (end != RunEnd::Done) return 1;

  const AnalysisResult& result = *session.lastRun.result;
  const ExportContext context{session.state.dataFileName, kProgramVersion};
  const bool printed = options.print == PrintFormat::Json
                           ? Print(FormatResultJson(result, context), out)
                           : Print(*session.lastRun.report, out);
  if (!printed) {
    std::fprintf(err, "quorvel-cli: the report could not be written to standard output\n");
    return 1;
  }
  if (options.exportPath) {
    std::string error;
    const std::optional<ExportFormat> format = ExportFormatOf(*options.exportPath);
    if (!format || !WriteResultExport(result, context, *format, *options.exportPath, error)) {
      std::fprintf(err, "quorvel-cli: %s cannot be created: %s\n", options.exportPath->c_str(),
                   error.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace quorvel
