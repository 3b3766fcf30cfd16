// The main window and its resources: menu, toolbar, keyboard table and status bar.
#include "app/qt/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QToolBar>

#include "app/qt/lock_keys.h"
#include "app/qt/quorvel_view.h"

namespace quorvel {
namespace {

// The commands a running analysis must finish before: they would change or read what the
// run is writing.
constexpr CommandId kRunGuardedCommands[] = {CommandId::FileOpen, CommandId::FileSaveAs, CommandId::Model1,
                                             CommandId::Model2, CommandId::Model3};

}  // namespace

CMainFrame::CMainFrame(CQuorvelDoc* document, QWidget* parent)
    : QMainWindow(parent),
      view_(new CQuorvelView(document, this)),
      idleText_(QLatin1String(kIdleText)) {
  setWindowTitle(QStringLiteral("%1 - %2").arg(QLatin1String(kDefaultDocName), QLatin1String(kAppName)));
  setCentralWidget(view_);
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  connect(view_, &CQuorvelView::runStateChanged, this, [this](bool running) { EnableRunCommands(!running); });
  connect(view_, &CQuorvelView::statusWarning, this, &CMainFrame::ShowWarning);
  qApp->installEventFilter(this);
  view_->setFocus();
}

QAction* CMainFrame::CommandAction(CommandId id) const {
  const auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
}

QAction* CMainFrame::AddCommand(CommandId id, const QString& text, const QString& prompt,
                                const QList<QKeySequence>& keys) {
  auto* action = new QAction(text, this);
  action->setData(static_cast<int>(id));
  action->setStatusTip(prompt);
  action->setShortcuts(keys);
  addAction(action);  // keys work whether or not a menu shows the action
  actions_[id] = action;
  return action;
}

void CMainFrame::CreateMenus() {
  // A menu text carries its keys after a tab, which the menu shows in its key column.
  QAction* open = AddCommand(CommandId::FileOpen, QStringLiteral("&Open...\tCtrl+O"),
                             QLatin1String(kPromptOpen), {QKeySequence(Qt::CTRL | Qt::Key_O)});
  open->setToolTip(QLatin1String(kTipOpen));
  QAction* saveAs = AddCommand(CommandId::FileSaveAs, QStringLiteral("Save &As..."), QLatin1String(kPromptSaveAs));
  saveAs->setToolTip(QLatin1String(kTipSaveAs));
  QAction* exit = AddCommand(CommandId::AppExit, QStringLiteral("E&xit"), QLatin1String(kPromptExit));
  QAction* model1 = AddCommand(CommandId::Model1, QStringLiteral("&Model 1"), QString());
  QAction* model2 = AddCommand(CommandId::Model2, QStringLiteral("&Model 2"), QString());
  QAction* model3 = AddCommand(CommandId::Model3, QStringLiteral("&Model 3"), QString());
  QAction* manual = AddCommand(CommandId::HelpManual, QStringLiteral("&Manual (PDF)"), QString());
  manual->setToolTip(QStringLiteral("Manual (PDF)"));
  QAction* about = AddCommand(CommandId::AppAbout, QStringLiteral("&About Quorvel..."), QLatin1String(kPromptAbout));

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(open);
  file->addAction(saveAs);
  file->addSeparator();
  file->addAction(exit);
  QMenu* analysis = menuBar()->addMenu(QStringLiteral("&Ananlysis"));
  analysis->addAction(model1);
  analysis->addAction(model2);
  analysis->addAction(model3);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(manual);
  help->addAction(about);
  for (QMenu* menu : {file, analysis, help}) {
    connect(menu, &QMenu::aboutToHide, this, [this] { messagePane_->setText(idleText_); });
  }

  connect(open, &QAction::triggered, view_, &CQuorvelView::OnFileOpen);
  connect(saveAs, &QAction::triggered, view_, &CQuorvelView::OnFileSaveAs);
  connect(model1, &QAction::triggered, view_, &CQuorvelView::OnModel1);
  connect(model2, &QAction::triggered, view_, &CQuorvelView::OnModel2);
  connect(model3, &QAction::triggered, view_, &CQuorvelView::OnModel3);
  connect(manual, &QAction::triggered, view_, &CQuorvelView::OnHelpManual);

  // The rest of the keyboard table. New starts the view afresh (the application connects
  // it); the document has nothing to save or print and the view no selection or second
  // pane, so those keys stay inert, as commands without a handler.
  AddCommand(CommandId::FileNew, QString(), QString(), {QKeySequence(Qt::CTRL | Qt::Key_N)});
  const struct {
    CommandId id;
    QList<QKeySequence> keys;
  } inert[] = {
      {CommandId::FileSave, {QKeySequence(Qt::CTRL | Qt::Key_S)}},
      {CommandId::FilePrint, {QKeySequence(Qt::CTRL | Qt::Key_P)}},
      {CommandId::EditUndo, {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}},
      {CommandId::EditCut, {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
      {CommandId::EditCopy, {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
      {CommandId::EditPaste, {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
      {CommandId::NextPane, {QKeySequence(Qt::Key_F6)}},
      {CommandId::PrevPane, {QKeySequence(Qt::SHIFT | Qt::Key_F6)}},
  };
  for (const auto& command : inert) AddCommand(command.id, QString(), QString(), command.keys)->setEnabled(false);
}

void CMainFrame::CreateToolBar() {
  toolBar_ = addToolBar(QStringLiteral("Standard"));
  toolBar_->setObjectName(QStringLiteral("standardToolBar"));
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->setMovable(true);
  toolBar_->setFloatable(true);
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  QStyle* look = style();
  CommandAction(CommandId::FileOpen)->setIcon(look->standardIcon(QStyle::SP_DialogOpenButton));
  CommandAction(CommandId::FileSaveAs)->setIcon(look->standardIcon(QStyle::SP_DialogSaveButton));
  CommandAction(CommandId::HelpManual)->setIcon(look->standardIcon(QStyle::SP_DialogHelpButton));
  toolBar_->addAction(CommandAction(CommandId::FileOpen));
  toolBar_->addAction(CommandAction(CommandId::FileSaveAs));
  toolBar_->addAction(CommandAction(CommandId::HelpManual));
}

void CMainFrame::CreateStatusBar() {
  messagePane_ = new QLabel(idleText_, this);
  messagePane_->setObjectName(QStringLiteral("messagePane"));
  statusBar()->addWidget(messagePane_, 1);
  // Each indicator keeps the width of its text and shows the text only while its lock is on.
  for (const char* name : {"CAP", "NUM", "SCRL"}) {
    auto* pane = new QLabel(this);
    pane->setObjectName(QLatin1String(name));
    pane->setAccessibleName(QLatin1String(name));
    pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pane->setAlignment(Qt::AlignCenter);
    pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(QLatin1String(name)) + 12);
    statusBar()->addPermanentWidget(pane);
    indicators_.append(pane);
  }
  UpdateKeyIndicators();
}

void CMainFrame::EnableRunCommands(bool enabled) {
  for (CommandId id : kRunGuardedCommands) CommandAction(id)->setEnabled(enabled);
}

void CMainFrame::UpdateKeyIndicators() {
  const std::optional<LockKeys> keys = QueryLockKeys();
  const bool lit[] = {keys && keys->capsLock, keys && keys->numLock, keys && keys->scrollLock};
  for (qsizetype k = 0; k < indicators_.size(); ++k) {
    indicators_[k]->setText(lit[k] ? indicators_[k]->objectName() : QString());
  }
}

// A highlighted menu entry shows its prompt, blank when it has none; with no menu open the
// message pane reads "Ready", or the warning shown last.
void CMainFrame::ShowPrompt(const QString& prompt) {
  if (!prompt.isEmpty()) {
    messagePane_->setText(prompt);
    return;
  }
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  const bool entryHighlighted = menu != nullptr && menu->isVisible() && menu->activeAction() != nullptr;
  messagePane_->setText(entryHighlighted ? QString() : idleText_);
}

void CMainFrame::ShowWarning(const QString& text) {
  idleText_ = text.isEmpty() ? QLatin1String(kIdleText) : text;
  messagePane_->setToolTip(text);
  messagePane_->setText(idleText_);
}

bool CMainFrame::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    ShowPrompt(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  if (event->type() == QEvent::WindowActivate) UpdateKeyIndicators();
  return QMainWindow::event(event);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
    UpdateKeyIndicators();
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace quorvel
