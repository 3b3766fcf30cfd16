// The main window and its resources: menu, toolbar, keyboard table and status bar.
#include "app/qt/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/qt/charts_view.h"
#include "app/qt/find_bar.h"
#include "app/qt/lock_keys.h"
#include "app/qt/quorvel_view.h"
#include "import/model_spec.h"

namespace quorvel {
namespace {

// The commands a running analysis must finish before: they would change or read what the
// run is writing.
constexpr CommandId kRunGuardedCommands[] = {CommandId::FileOpen, CommandId::FileSaveAs,
                                             CommandId::Model1, CommandId::Model2,
                                             CommandId::Model3};

// The one local file a drag carries, or an empty string.
QString DraggedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().constFirst();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

CMainFrame::CMainFrame(CQuorvelDoc* document, QWidget* parent)
    : QMainWindow(parent),
      view_(new CQuorvelView(document, this)),
      charts_(new ChartsView(this)),
      tabs_(new QTabWidget(this)),
      findBar_(new FindBar(this)),
      idleText_(QLatin1String(kIdleText)) {
  setWindowTitle(
      QStringLiteral("%1 - %2").arg(QLatin1String(kDefaultDocName), QLatin1String(kAppName)));
  // The report view fills the window; the tab bar appears only once there are charts
  // beside it, and the find bar under the report only when asked for.
  tabs_->setDocumentMode(true);
  tabs_->setTabBarAutoHide(true);
  tabs_->addTab(view_, QStringLiteral("&Report"));
  charts_->hide();
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(tabs_, 1);
  layout->addWidget(findBar_);
  setCentralWidget(central);
  setAcceptDrops(true);

  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  connect(view_, &CQuorvelView::runStateChanged, this,
          [this](bool running) { EnableRunCommands(!running); });
  connect(view_, &CQuorvelView::shownContentChanged, this, &CMainFrame::UpdateResultCommands);
  connect(tabs_, &QTabWidget::currentChanged, this, &CMainFrame::UpdateResultCommands);
  connect(findBar_, &FindBar::findRequested, this, &CMainFrame::OnFind);
  connect(findBar_, &FindBar::closed, this, [this] {
    view_->ClearFindMatch();
    view_->setFocus();
  });
  connect(view_, &CQuorvelView::statusWarning, this, &CMainFrame::ShowWarning);
  qApp->installEventFilter(this);
  EnableRunCommands(true);
  UpdateResultCommands();
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
  QAction* saveAs = AddCommand(CommandId::FileSaveAs, QStringLiteral("Save &As..."),
                               QLatin1String(kPromptSaveAs));
  saveAs->setToolTip(QLatin1String(kTipSaveAs));
  QAction* exit =
      AddCommand(CommandId::AppExit, QStringLiteral("E&xit"), QLatin1String(kPromptExit));
  // The Model entries' texts come from the model table.
  auto modelText = [](int number) {
    return QString::fromUtf8(ModelSpecByNumber(number)->menuText);
  };
  QAction* model1 = AddCommand(CommandId::Model1, modelText(1), QString());
  QAction* model2 = AddCommand(CommandId::Model2, modelText(2), QString());
  QAction* model3 = AddCommand(CommandId::Model3, modelText(3), QString());
  QAction* manual = AddCommand(CommandId::HelpManual, QStringLiteral("&Manual (PDF)"), QString());
  manual->setToolTip(QStringLiteral("Manual (PDF)"));
  QAction* about = AddCommand(CommandId::AppAbout, QStringLiteral("&About Quorvel..."),
                              QLatin1String(kPromptAbout));
  QAction* exportResults = AddCommand(CommandId::FileExport, QStringLiteral("&Export Results..."),
                                      QLatin1String(kPromptExport));
  QAction* saveChart = AddCommand(CommandId::FileSaveChart, QStringLiteral("Save C&hart As..."),
                                  QLatin1String(kPromptSaveChart));
  QAction* cancel = AddCommand(CommandId::RunCancel, QStringLiteral("&Cancel Run\tEsc"),
                               QLatin1String(kPromptCancel), {QKeySequence(Qt::Key_Escape)});
  cancel->setToolTip(QLatin1String(kTipCancel));
  QAction* intervals =
      AddCommand(CommandId::ConfidenceIntervals, QStringLiteral("Confidence Intervals"),
                 QLatin1String(kPromptIntervals));
  intervals->setCheckable(true);
  QAction* find =
      AddCommand(CommandId::EditFind, QStringLiteral("&Find...\tCtrl+F"),
                 QStringLiteral("Find text in the report"), {QKeySequence(Qt::CTRL | Qt::Key_F)});
  QAction* findNext = AddCommand(CommandId::EditFindNext, QStringLiteral("Find &Next\tF3"),
                                 QStringLiteral("Find the next match"), {QKeySequence(Qt::Key_F3)});
  QAction* findPrevious =
      AddCommand(CommandId::EditFindPrevious, QStringLiteral("Find &Previous\tShift+F3"),
                 QStringLiteral("Find the previous match"), {QKeySequence(Qt::SHIFT | Qt::Key_F3)});

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(open);
  file->addAction(saveAs);
  file->addAction(exportResults);
  file->addAction(saveChart);
  file->addSeparator();
  file->addAction(exit);
  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->addAction(find);
  edit->addAction(findNext);
  edit->addAction(findPrevious);
  QMenu* analysis = menuBar()->addMenu(QStringLiteral("&Ananlysis"));
  analysis->addAction(model1);
  analysis->addAction(model2);
  analysis->addAction(model3);
  analysis->addAction(cancel);
  analysis->addSeparator();
  analysis->addAction(intervals);
  QMenu* level = analysis->addMenu(QStringLiteral("Confidence &Level"));
  levels_ = new QActionGroup(this);
  for (double value : kConfidenceLevels) {
    QAction* entry = level->addAction(QStringLiteral("%1%").arg(std::lround(value * 100)));
    entry->setCheckable(true);
    entry->setData(value);
    levels_->addAction(entry);
  }
  levels_->actions()[2]->setChecked(true);  // 95 %
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(manual);
  help->addAction(about);
  for (QMenu* menu : {file, edit, analysis, help}) {
    connect(menu, &QMenu::aboutToHide, this, [this] { messagePane_->setText(idleText_); });
  }

  connect(open, &QAction::triggered, view_, &CQuorvelView::OnFileOpen);
  connect(saveAs, &QAction::triggered, view_, &CQuorvelView::OnFileSaveAs);
  connect(model1, &QAction::triggered, view_, &CQuorvelView::OnModel1);
  connect(model2, &QAction::triggered, view_, &CQuorvelView::OnModel2);
  connect(model3, &QAction::triggered, view_, &CQuorvelView::OnModel3);
  connect(manual, &QAction::triggered, view_, &CQuorvelView::OnHelpManual);
  connect(exportResults, &QAction::triggered, view_, &CQuorvelView::OnFileExport);
  connect(saveChart, &QAction::triggered, charts_, &ChartsView::SaveChartAs);
  connect(cancel, &QAction::triggered, view_, &CQuorvelView::OnCancelRun);
  connect(intervals, &QAction::toggled, this, &CMainFrame::OnIntervalsChanged);
  connect(levels_, &QActionGroup::triggered, this, &CMainFrame::OnIntervalsChanged);
  connect(find, &QAction::triggered, this, [this] {
    tabs_->setCurrentWidget(view_);
    findBar_->Open();
  });
  connect(findNext, &QAction::triggered, this, [this] { OnFind(true); });
  connect(findPrevious, &QAction::triggered, this, [this] { OnFind(false); });

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
      {CommandId::EditUndo,
       {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}},
      {CommandId::EditCut,
       {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
      {CommandId::EditCopy,
       {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
      {CommandId::EditPaste,
       {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
      {CommandId::NextPane, {QKeySequence(Qt::Key_F6)}},
      {CommandId::PrevPane, {QKeySequence(Qt::SHIFT | Qt::Key_F6)}},
  };
  for (const auto& command : inert)
    AddCommand(command.id, QString(), QString(), command.keys)->setEnabled(false);
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
  toolBar_->addSeparator();
  CommandAction(CommandId::RunCancel)->setIcon(look->standardIcon(QStyle::SP_BrowserStop));
  toolBar_->addAction(CommandAction(CommandId::RunCancel));
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
  // Cancel (and its Esc) exists only while a run does.
  CommandAction(CommandId::RunCancel)->setEnabled(!enabled);
  idleText_ = !enabled             ? QLatin1String(kRunningText)
              : warning_.isEmpty() ? QLatin1String(kIdleText)
                                   : warning_;
  messagePane_->setText(idleText_);
}

void CMainFrame::UpdateResultCommands() {
  Session& session = view_->GetSession();
  const AnalysisResult* result = ShownResult(session);
  CommandAction(CommandId::FileExport)->setEnabled(result != nullptr);
  if (result == nullptr) {
    if (const int index = tabs_->indexOf(charts_); index >= 0) tabs_->removeTab(index);
    if (chartedResult_ != nullptr) charts_->Clear();
    chartedResult_ = nullptr;
  } else {
    // The charts follow the shown result; they are rebuilt only when it is a new one.
    if (result != chartedResult_) {
      chartedResult_ = result;
      charts_->SetResult(session.shownResult, QString::fromStdString(session.shownSource),
                         QString::fromStdString(session.state.dataFolder),
                         session.reportOptions.level);
    }
    if (tabs_->indexOf(charts_) < 0) tabs_->addTab(charts_, QStringLiteral("&Charts"));
  }
  CommandAction(CommandId::FileSaveChart)
      ->setEnabled(result != nullptr && tabs_->currentWidget() == charts_ &&
                   charts_->Canvas()->CurrentChart() != nullptr);
}

void CMainFrame::OnFind(bool forward) {
  if (findBar_->Text().isEmpty()) {
    tabs_->setCurrentWidget(view_);
    findBar_->Open();
    return;
  }
  if (findBar_->isHidden()) findBar_->show();
  tabs_->setCurrentWidget(view_);
  ShowFindOutcome(forward);
}

void CMainFrame::ShowFindOutcome(bool forward) {
  QString outcome;
  const bool found = view_->Find(findBar_->Text(), forward, &outcome);
  findBar_->ShowOutcome(outcome, found);
}

void CMainFrame::OnIntervalsChanged() {
  Session& session = view_->GetSession();
  session.reportOptions.intervals = CommandAction(CommandId::ConfidenceIntervals)->isChecked();
  if (const QAction* level = levels_->checkedAction())
    session.reportOptions.level = level->data().toDouble();
  QSettings settings;
  settings.setValue(QLatin1String(kSettingIntervals), session.reportOptions.intervals);
  settings.setValue(QLatin1String(kSettingLevel), session.reportOptions.level);
}

QList<QAction*> CMainFrame::LevelActions() const { return levels_->actions(); }

bool CMainFrame::RestoreSettings() {
  const QSettings settings;
  const bool inReport = settings.value(QLatin1String(kSettingIntervals), false).toBool();
  const double level = settings.value(QLatin1String(kSettingLevel), 0.95).toDouble();
  {
    // The entries are set quietly; the session takes both values at once below.
    QAction* intervals = CommandAction(CommandId::ConfidenceIntervals);
    const QSignalBlocker quiet(intervals);
    intervals->setChecked(inReport);
    for (QAction* entry : levels_->actions()) {
      if (std::abs(entry->data().toDouble() - level) < 1e-9) entry->setChecked(true);
    }
  }
  OnIntervalsChanged();
  const QByteArray geometry = settings.value(QLatin1String(kSettingGeometry)).toByteArray();
  restoreState(settings.value(QLatin1String(kSettingWindowState)).toByteArray());
  return !geometry.isEmpty() && restoreGeometry(geometry);
}

void CMainFrame::SaveSettings() const {
  QSettings settings;
  settings.setValue(QLatin1String(kSettingGeometry), saveGeometry());
  settings.setValue(QLatin1String(kSettingWindowState), saveState());
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  SaveSettings();
  // A run in progress is stopped, and the window waits for its worker before it goes:
  // nothing may keep running once the window is closed. A worker that does not stop in
  // time ends with the program.
  if (view_->GetSession().runInProgress) {
    hide();
    if (!view_->StopRunAndWait(kCloseWait)) {
      QSettings().sync();
      std::fputs("quorvel: the analysis did not stop; the program ends without it.\n", stderr);
      std::_Exit(0);
    }
  }
  event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (!view_->GetSession().runInProgress && !DraggedFile(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  }
}

void CMainFrame::dropEvent(QDropEvent* event) {
  const QString path = DraggedFile(event->mimeData());
  if (path.isEmpty() || view_->GetSession().runInProgress) return;
  event->acceptProposedAction();
  tabs_->setCurrentWidget(view_);
  view_->OpenGivenWorkbook(QFileInfo(path).absoluteFilePath());
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
  const bool entryHighlighted =
      menu != nullptr && menu->isVisible() && menu->activeAction() != nullptr;
  messagePane_->setText(entryHighlighted ? QString() : idleText_);
}

void CMainFrame::ShowWarning(const QString& text) {
  warning_ = text;
  messagePane_->setToolTip(text);
  if (CommandAction(CommandId::RunCancel)->isEnabled()) return;  // the run's hint stays
  idleText_ = text.isEmpty() ? QLatin1String(kIdleText) : text;
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
