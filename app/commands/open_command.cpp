// The Open command.
#include "app/commands/open_command.h"

#include <optional>

#include "import/data_echo.h"
#include "import/read_design_sheet.h"
#include "workbook/open_workbook.h"

namespace quorvel {

void ImportDataSheet(AppState& state, std::shared_ptr<const DesignData>& designData,
                     Platform& platform) {
  FileDialogSpec spec;
  spec.filter = kOpenFilter;
  spec.defaultExtension = "";
  spec.initialFileName = "*.xls;*.xlsx;*.ods;*.csv;*.tsv";
  spec.startFolder = state.dialogFolder;
  spec.hideReadOnly = true;
  const std::optional<ChosenFile> chosen = platform.ChooseOpenFile(spec);
  if (!chosen) {
    platform.ShowMessage(kMsgFileCannotBeOpened, MessageIcon::Warning);
    return;
  }

  // The folder keeps its trailing separator: the full path with the file name cut off.
  const std::string& path = chosen->fullPath;
  const std::string& name = chosen->fileName;
  state.dataFileName = name;
  if (path.size() >= name.size() &&
      path.compare(path.size() - name.size(), name.size(), name) == 0) {
    state.dataFolder = path.substr(0, path.size() - name.size());
  } else {
    const std::size_t slash = path.find_last_of('/');
    state.dataFolder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  }
  ImportWorkbook(state, designData, platform, state.dataFolder + state.dataFileName);
}

bool ImportWorkbook(AppState& state, std::shared_ptr<const DesignData>& designData,
                    Platform& platform, const std::string& workbookPath) {
  auto sheet = std::make_unique<DesignSheet>();
  {
    // The workbook lives only while its first worksheet is validated.
    Kalvex::OpenedWorkbook workbook;
    Kalvex::OpenWorkbook(workbookPath.c_str(), workbook, Kalvex::SheetSelection::FirstOnly);
    const Kalvex::SheetGrid* grid = workbook.SheetCount() < 1 ? nullptr : workbook.Sheet(0);
    if (grid == nullptr) {
      platform.ShowMessage(kMsgDataError, MessageIcon::Warning);
      return false;
    }
    if (const std::optional<std::string> error = ReadDesignSheet(*grid, *sheet)) {
      platform.ShowMessage(*error, MessageIcon::Warning);
      return false;
    }
  }

  const std::string echoPath = state.dataFolder + kEchoFileName;
  if (!WriteDataEcho(echoPath, sheet->data, sheet->traitNames)) {
    platform.ShowMessage(echoPath + kMsgEchoNotCreatedSuffix, MessageIcon::Warning);
    return false;
  }

  designData = std::make_shared<const DesignData>(std::move(sheet->data));
  platform.SetScrollSize(120 * sheet->cols + 340, 20 * sheet->rows + 400);
  state.displayMode.store(DisplayMode::Echo);
  platform.InvalidateView();
  // Columns the extent rule dropped are named; a clean sheet clears an earlier warning.
  platform.ShowStatus(LeftOutColumnsWarning(*sheet));
  return true;
}

}  // namespace quorvel
