// The main window: menu bar, toolbar, status bar with the lock-key indicators, and the
// view that fills the rest.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QMainWindow>
#include <chrono>
#include <map>

#include "app/qt/command_ids.h"

class QAction;
class QActionGroup;
class QLabel;
class QTabWidget;
class QToolBar;

namespace quorvel {

class CQuorvelDoc;
class CQuorvelView;
class ChartsView;
class FindBar;

// The confidence levels the Analysis menu offers.
inline constexpr double kConfidenceLevels[] = {0.80, 0.90, 0.95, 0.99};

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(CQuorvelDoc* document, QWidget* parent = nullptr);

  CQuorvelView* GetActiveView() const { return view_; }
  ChartsView* Charts() const { return charts_; }
  // The tabs "Report" (the view) and "Charts"; the tab bar shows only while a result is.
  QTabWidget* Tabs() const { return tabs_; }
  FindBar* Finder() const { return findBar_; }
  // The Confidence Level entries, one per kConfidenceLevels.
  QList<QAction*> LevelActions() const;

  // Reads the window's size and position and the interval options from the settings;
  // false when the settings hold no window geometry yet.
  bool RestoreSettings();
  void SaveSettings() const;
  // How long closing the window waits for a cancelled run's worker before the program
  // ends without it.
  static constexpr std::chrono::milliseconds kCloseWait{5000};
  // The one action of a command, shared by its menu entry, toolbar button and keys.
  QAction* CommandAction(CommandId id) const;
  QToolBar* ToolBar() const { return toolBar_; }
  // The status bar's panes: the message pane, then CAP, NUM and SCRL.
  QLabel* MessagePane() const { return messagePane_; }
  QList<QLabel*> IndicatorPanes() const { return indicators_; }

 public slots:
  // Greys (false) or restores (true) the commands that must wait for a run's end.
  void EnableRunCommands(bool enabled);
  // Shows the lock keys' states in the indicator panes.
  void UpdateKeyIndicators();
  // Offers the charts and the exports while a result is shown, and only then.
  void UpdateResultCommands();
  // Shows a warning in the message pane in place of "Ready" (menu prompts still pass over
  // it) until the next one; the full text is also the pane's tooltip. An empty text
  // brings "Ready" back.
  void ShowWarning(const QString& text);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QAction* AddCommand(CommandId id, const QString& text, const QString& prompt,
                      const QList<QKeySequence>& keys = {});
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void ShowPrompt(const QString& prompt);
  void OnFind(bool forward);
  void ShowFindOutcome(bool forward);
  void OnIntervalsChanged();

  CQuorvelView* view_;
  ChartsView* charts_;
  QTabWidget* tabs_;
  FindBar* findBar_;
  QActionGroup* levels_ = nullptr;
  const void* chartedResult_ = nullptr;  // the result the charts were built from
  std::map<CommandId, QAction*> actions_;
  QToolBar* toolBar_ = nullptr;
  QLabel* messagePane_ = nullptr;
  QString idleText_;  // what the message pane shows while no menu entry is highlighted
  QString warning_;   // the last command's warning, shown as the idle text while no run is
  QList<QLabel*> indicators_;
};

}  // namespace quorvel
