// Command ids of the menu, toolbar and keyboard table, and the texts of the main window.
#pragma once

namespace quorvel {

// Every command the window knows, by the id it carries in menus, toolbar and keys.
enum class CommandId : int {
  FileNew = 57600,
  FileOpen = 57601,
  FileSave = 57603,
  FileSaveAs = 57604,
  FilePrint = 57607,
  EditCopy = 57634,
  EditCut = 57635,
  EditPaste = 57637,
  EditUndo = 57643,
  AppAbout = 57664,
  AppExit = 57665,
  NextPane = 57680,
  PrevPane = 57681,
  Model2 = 32774,
  Model3 = 32775,
  Model1 = 32776,
  HelpManual = 32778,
  // Beyond the classic menu: results as data, charts, cancelling, intervals, finding.
  FileExport = 32780,
  FileSaveChart = 32781,
  RunCancel = 32782,
  ConfidenceIntervals = 32783,
  EditFind = 32784,
  EditFindNext = 32785,
  EditFindPrevious = 32786,
};

inline constexpr const char* kAppName = "Quorvel";  // title of the window and of every message box
inline constexpr const char* kDefaultDocName = "Untitled";  // the document never gets a file name
inline constexpr const char* kIdleText = "Ready";  // status bar while no menu entry is highlighted
inline constexpr const char* kSettingsOrganisation = "Local AppWizard-Generated Applications";
inline constexpr int kRecentFileCount = 4;

// Status-bar prompts and tooltips ("prompt\ntooltip" split in two).
inline constexpr const char* kPromptOpen = "Open an existing document";
inline constexpr const char* kTipOpen = "Open";
inline constexpr const char* kPromptSaveAs = "Save the active document with a new name";
inline constexpr const char* kTipSaveAs = "Save As";
inline constexpr const char* kPromptExit = "Quit the application; prompts to save documents";
inline constexpr const char* kPromptAbout =
    "Display program information, version number and copyright";

inline constexpr const char* kPromptExport = "Save the results as JSON, CSV or an Excel workbook";
inline constexpr const char* kPromptSaveChart =
    "Save the chart shown as a PNG image or an SVG drawing";
inline constexpr const char* kPromptCancel = "Stop the analysis in progress";
inline constexpr const char* kTipCancel = "Cancel the analysis (Esc)";
inline constexpr const char* kPromptIntervals = "Add the confidence intervals to the report";
inline constexpr const char* kRunningText = "Analysing... press Esc to cancel";

// Settings of the program's own, beside the recent-file list.
inline constexpr const char* kSettingIntervals = "Options/ConfidenceIntervals";
inline constexpr const char* kSettingLevel = "Options/ConfidenceLevel";
inline constexpr const char* kSettingGeometry = "MainWindow/Geometry";
inline constexpr const char* kSettingWindowState = "MainWindow/State";

// The About box.
inline constexpr const char* kAboutTitle = "About Quorvel";
inline constexpr const char* kAboutVersion = "Quorvel, Version 1.0";
inline constexpr const char* kAboutText =
    "Nested mating designs in quantitative genetics:\n"
    "least-squares tests, variance components,\n"
    "heritabilities and genetic correlations.";

}  // namespace quorvel
