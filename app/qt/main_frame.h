// The main window: menu bar, toolbar, status bar with the lock-key indicators, and the
// view that fills the rest.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QMainWindow>
#include <map>

#include "app/qt/command_ids.h"

class QAction;
class QLabel;
class QToolBar;

namespace quorvel {

class CQuorvelDoc;
class CQuorvelView;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(CQuorvelDoc* document, QWidget* parent = nullptr);

  CQuorvelView* GetActiveView() const { return view_; }
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
  // Shows a warning in the message pane in place of "Ready" (menu prompts still pass over
  // it) until the next one; the full text is also the pane's tooltip. An empty text
  // brings "Ready" back.
  void ShowWarning(const QString& text);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QAction* AddCommand(CommandId id, const QString& text, const QString& prompt,
                      const QList<QKeySequence>& keys = {});
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void ShowPrompt(const QString& prompt);

  CQuorvelView* view_;
  std::map<CommandId, QAction*> actions_;
  QToolBar* toolBar_ = nullptr;
  QLabel* messagePane_ = nullptr;
  QString idleText_;  // what the message pane shows while no menu entry is highlighted
  QList<QLabel*> indicators_;
};

}  // namespace quorvel
