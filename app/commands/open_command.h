// The Open command: choose a workbook, validate its first worksheet, write the data echo
// and show it.
#pragma once

#include <memory>
#include <string>

#include "app/state/app_state.h"
#include "app/state/platform.h"
#include "import/design_data.h"

namespace quorvel {

// Message texts of the Open command, shown verbatim with a warning icon.
inline constexpr const char* kMsgFileCannotBeOpened = "File cannot be opened!";
// Shown when the echo cannot be written: the file's path, then this text.
inline constexpr const char* kMsgEchoNotCreatedSuffix = " cannot be created!";

inline constexpr const char* kOpenFilter =
    "Workbooks(*.xls;*.xlsx;*.ods;*.csv;*.tsv)|*.xls;*.xlsx;*.ods;*.csv;*.tsv|"
    "Excel 97-2003 workbooks(*.xls)|*.xls|Excel workbooks(*.xlsx)|*.xlsx|"
    "OpenDocument spreadsheets(*.ods)|*.ods|Text files(*.csv;*.tsv)|*.csv;*.tsv|"
    "All files(*.*)|*.*||";
inline constexpr const char* kEchoFileName = "tmp.txt";

// The Open command. Asks for a workbook starting in state.dialogFolder, sets dataFileName
// and dataFolder (with its trailing separator) from the choice, then imports it as
// ImportWorkbook does. Every failure shows its message with a warning icon and ends the
// command; designData is replaced only when the whole import succeeds.
void ImportDataSheet(AppState& state, std::shared_ptr<const DesignData>& designData,
                     Platform& platform);

// The import of a workbook already chosen: loads `workbookPath`, validates its first
// worksheet, writes the echo to state.dataFolder + "tmp.txt", sets the scroll size to
// 120 x cols + 340 by 20 x rows + 400, DisplayMode Echo, and invalidates the view; then
// passes the platform the warning about columns the data region left out (empty if none).
// state.dataFolder and dataFileName are the caller's. On failure shows the message
// (warning icon), leaves designData, DisplayMode and the scroll size as they were and
// returns false.
bool ImportWorkbook(AppState& state, std::shared_ptr<const DesignData>& designData,
                    Platform& platform, const std::string& workbookPath);

}  // namespace quorvel
