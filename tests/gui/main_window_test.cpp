// The desktop program as a user meets it: resources of the main window, the Open and Model
// commands through the real dialogs, the run's hand-off, the view's painting, Save As,
// Manual and the About box. Runs on the offscreen platform.
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <functional>

#include "app/qt/command_ids.h"
#include "app/qt/main_frame.h"
#include "app/qt/qt_platform.h"
#include "app/qt/quorvel_app.h"
#include "app/qt/quorvel_view.h"
#include "app/qt/recent_file_list.h"

namespace quorvel {
namespace {

// Calls `handler` with the next modal window once it shows (a message box or dialog that
// the command under test opens and waits on).
void WhenModalShows(std::function<void(QWidget*)> handler) {
  auto* poll = new QTimer(qApp);
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, handler] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    handler(modal);
  });
  poll->start();
}

struct MessageSeen {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::Information;
};

// Triggers `action` and answers the message box it shows with OK.
MessageSeen TriggerAndReadMessage(QAction* action) {
  MessageSeen seen;
  WhenModalShows([&seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
      modal->close();
      return;
    }
    seen = {box->windowTitle(), box->text(), box->icon()};
    box->accept();
  });
  action->trigger();
  return seen;
}

struct DialogSeen {
  QStringList nameFilters;
  QString directory;
  QString defaultSuffix;
  QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
};

// Triggers `action` and answers its file dialog with `path` (an empty path cancels).
DialogSeen TriggerAndChooseFile(QAction* action, const QString& path) {
  DialogSeen seen;
  WhenModalShows([&seen, path](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr) {
      modal->close();
      return;
    }
    seen = {dialog->nameFilters(), dialog->directory().absolutePath(), dialog->defaultSuffix(),
            dialog->acceptMode()};
    if (path.isEmpty()) {
      dialog->reject();
      return;
    }
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, reached through the public slot
  });
  action->trigger();
  return seen;
}

QStringList ReportLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList lines;
  while (!file.atEnd()) {
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
    lines << QString::fromLatin1(line);
  }
  return lines;
}

// Collects the URLs the desktop is asked to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void openUrl(const QUrl& url) { urls << url; }
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 public:
  explicit MainWindowTest(CQuorvelApp& app) : app_(app) {}

 private:
  QAction* Command(CommandId id) { return frame_->CommandAction(id); }
  Session& TheSession() { return view_->GetSession(); }
  // The leftmost column of ink in the pixel rows [top, top + 20) of the view, or -1.
  int FirstInk(const QImage& image, int top, QRgb background) const;

  CQuorvelApp& app_;
  CMainFrame* frame_ = nullptr;
  CQuorvelView* view_ = nullptr;
  QTemporaryDir folder_;

 private slots:
  void initTestCase();
  void titleMenusToolbarAndStatusBar();
  void keyboardTable();
  void statusPrompts();
  void startUpAndRefusalsBeforeOpen();
  void openModel3HandOffAndPaint();
  void pleaseWaitFollowsTheClientCentreAndScroll();
  void saveAsCopiesTheReportAndMovesTheDialogFolder();
  void newDocumentRestartsTheView();
  void manualOpensBesideTheProgram();
  void aboutBox();
  void recentFileListKeepsItsEntries();
  void dialogFiltersInQtForm();
  void leftOutColumnsWarnInTheStatusBar();
};

void MainWindowTest::initTestCase() {
  frame_ = app_.MainFrame();
  QVERIFY(frame_ != nullptr);
  view_ = frame_->GetActiveView();
  QVERIFY(view_ != nullptr);
  QVERIFY(folder_.isValid());
  frame_->resize(900, 700);
  frame_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(frame_));
}

void MainWindowTest::titleMenusToolbarAndStatusBar() {
  QCOMPARE(frame_->windowTitle(), QStringLiteral("Untitled - Quorvel"));

  // Menus in order, entries with their exact texts and command ids (0: separator).
  const QList<QPair<QString, QList<QPair<QString, int>>>> expected = {
      {"&File", {{"&Open...\tCtrl+O", 57601}, {"Save &As...", 57604}, {"", 0}, {"E&xit", 57665}}},
      {"&Ananlysis", {{"&Model 1", 32776}, {"&Model 2", 32774}, {"&Model 3", 32775}}},
      {"&Help", {{"&Manual (PDF)", 32778}, {"&About Quorvel...", 57664}}},
  };
  const QList<QAction*> menus = frame_->menuBar()->actions();
  QCOMPARE(menus.size(), expected.size());
  for (qsizetype m = 0; m < menus.size(); ++m) {
    QCOMPARE(menus[m]->text(), expected[m].first);
    const QList<QAction*> entries = menus[m]->menu()->actions();
    QCOMPARE(entries.size(), expected[m].second.size());
    for (qsizetype e = 0; e < entries.size(); ++e) {
      QCOMPARE(entries[e]->isSeparator(), expected[m].second[e].second == 0);
      if (entries[e]->isSeparator()) continue;
      QCOMPARE(entries[e]->text(), expected[m].second[e].first);
      QCOMPARE(entries[e]->data().toInt(), expected[m].second[e].second);
    }
  }

  // Toolbar: Open, Save As, Manual, the same actions as the menu, with icons and tooltips.
  const QList<QAction*> buttons = frame_->ToolBar()->actions();
  QCOMPARE(buttons.size(), 3);
  const int buttonIds[] = {57601, 57604, 32778};
  const char* tips[] = {"Open", "Save As", "Manual (PDF)"};
  for (int k = 0; k < 3; ++k) {
    QCOMPARE(buttons[k]->data().toInt(), buttonIds[k]);
    QVERIFY(!buttons[k]->icon().isNull());
    QCOMPARE(buttons[k]->toolTip(), QString::fromLatin1(tips[k]));
  }
  QCOMPARE(frame_->ToolBar()->allowedAreas(), Qt::AllToolBarAreas);
  QCOMPARE(frame_->toolBarArea(frame_->ToolBar()), Qt::TopToolBarArea);

  // Status bar: the message pane, then CAP, NUM and SCRL.
  QCOMPARE(frame_->MessagePane()->text(), QStringLiteral("Ready"));
  QStringList panes;
  for (QLabel* pane : frame_->IndicatorPanes()) panes << pane->objectName();
  QCOMPARE(panes, QStringList({"CAP", "NUM", "SCRL"}));
}

void MainWindowTest::keyboardTable() {
  const QList<QPair<QKeySequence, int>> table = {
      {QKeySequence("Ctrl+N"), 57600},         {QKeySequence("Ctrl+O"), 57601},
      {QKeySequence("Ctrl+S"), 57603},         {QKeySequence("Ctrl+P"), 57607},
      {QKeySequence("Ctrl+Z"), 57643},         {QKeySequence("Alt+Backspace"), 57643},
      {QKeySequence("Ctrl+X"), 57635},         {QKeySequence("Shift+Del"), 57635},
      {QKeySequence("Ctrl+C"), 57634},         {QKeySequence("Ctrl+Ins"), 57634},
      {QKeySequence("Ctrl+V"), 57637},         {QKeySequence("Shift+Ins"), 57637},
      {QKeySequence("F6"), 57680},             {QKeySequence("Shift+F6"), 57681},
  };
  for (const auto& [keys, id] : table) {
    QList<int> ids;
    for (QAction* action : frame_->actions()) {
      if (action->shortcuts().contains(keys)) ids << action->data().toInt();
    }
    QCOMPARE(ids, QList<int>{id});
  }
}

void MainWindowTest::statusPrompts() {
  Command(CommandId::FileOpen)->showStatusText(frame_);
  QCOMPARE(frame_->MessagePane()->text(), QStringLiteral("Open an existing document"));
  Command(CommandId::FileSaveAs)->showStatusText(frame_);
  QCOMPARE(frame_->MessagePane()->text(), QStringLiteral("Save the active document with a new name"));
  Command(CommandId::AppExit)->showStatusText(frame_);
  QCOMPARE(frame_->MessagePane()->text(), QStringLiteral("Quit the application; prompts to save documents"));

  // A highlighted Model entry has no prompt: the pane goes blank, and "Ready" comes back
  // when the menu closes.
  QMenu* analysis = frame_->menuBar()->actions()[1]->menu();
  analysis->popup(frame_->mapToGlobal(QPoint(40, 40)));
  QTRY_VERIFY(analysis->isVisible());
  analysis->setActiveAction(Command(CommandId::Model2));
  QCOMPARE(frame_->MessagePane()->text(), QString());
  analysis->hide();
  QCOMPARE(frame_->MessagePane()->text(), QStringLiteral("Ready"));
}

void MainWindowTest::startUpAndRefusalsBeforeOpen() {
  AppState& state = TheSession().state;
  QCOMPARE(state.displayMode.load(), DisplayMode::Blank);
  QCOMPARE(view_->ScrollSize(), QSize(100, 100));
  QCOMPARE(QString::fromStdString(state.programFolder), QCoreApplication::applicationDirPath());
  QCOMPARE(state.dialogFolder, state.programFolder);

  const MessageSeen model = TriggerAndReadMessage(Command(CommandId::Model3));
  QCOMPARE(model.title, QStringLiteral("Quorvel"));
  QCOMPARE(model.text, QStringLiteral("The data is not appropriate to this model."));
  QCOMPARE(model.icon, QMessageBox::NoIcon);

  const MessageSeen save = TriggerAndReadMessage(Command(CommandId::FileSaveAs));
  QCOMPARE(save.text, QStringLiteral("Please perform computing!"));

  // Cancelling the Open dialog is answered with the import's warning.
  MessageSeen cancelled;
  WhenModalShows([&cancelled](QWidget* modal) {
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      WhenModalShows([&cancelled](QWidget* box) {
        auto* message = qobject_cast<QMessageBox*>(box);
        if (message == nullptr) {
          box->close();
          return;
        }
        cancelled = {message->windowTitle(), message->text(), message->icon()};
        message->accept();
      });
      dialog->reject();
    }
  });
  Command(CommandId::FileOpen)->trigger();
  QCOMPARE(cancelled.title, QStringLiteral("Quorvel"));
  QCOMPARE(cancelled.text, QStringLiteral("File cannot be opened!"));
  QCOMPARE(cancelled.icon, QMessageBox::Warning);
  QCOMPARE(state.displayMode.load(), DisplayMode::Blank);
}

int MainWindowTest::FirstInk(const QImage& image, int top, QRgb background) const {
  for (int x = 0; x < image.width(); ++x) {
    for (int y = top; y < std::min(top + 20, image.height()); ++y) {
      const QRgb pixel = image.pixel(x, y);
      if (qAbs(qGray(pixel) - qGray(background)) > 96) return x;
    }
  }
  return -1;
}

void MainWindowTest::openModel3HandOffAndPaint() {
  const QString workbook = folder_.filePath(QStringLiteral("nested_design.xls"));
  QVERIFY(QFile::copy(QStringLiteral(QUORVEL_EXAMPLES "/nested_design.xls"), workbook));

  const DialogSeen open = TriggerAndChooseFile(Command(CommandId::FileOpen), workbook);
  QCOMPARE(open.mode, QFileDialog::AcceptOpen);
  QCOMPARE(open.nameFilters,
           QStringList({"Workbooks (*.xls *.xlsx *.ods *.csv *.tsv)", "Excel 97-2003 workbooks (*.xls)",
                        "Excel workbooks (*.xlsx)", "OpenDocument spreadsheets (*.ods)", "Text files (*.csv *.tsv)",
                        "All files (*)"}));
  QCOMPARE(open.defaultSuffix, QString());
  QCOMPARE(open.directory, QCoreApplication::applicationDirPath());
  AppState& state = TheSession().state;
  QCOMPARE(state.displayMode.load(), DisplayMode::Echo);
  // 296 observations in 5 columns: 297 rows with the header.
  QCOMPARE(view_->ScrollSize(), QSize(120 * 5 + 340, 20 * 297 + 400));

  // The run greys the commands that must wait for it, and gives them back at the hand-off.
  Command(CommandId::Model3)->trigger();
  for (CommandId id : {CommandId::FileOpen, CommandId::FileSaveAs, CommandId::Model1, CommandId::Model2,
                       CommandId::Model3}) {
    QVERIFY(!Command(id)->isEnabled());
  }
  QVERIFY(Command(CommandId::HelpManual)->isEnabled());
  QVERIFY(view_->GetPlatform().TimerActive(1));
  QTRY_VERIFY_WITH_TIMEOUT(Command(CommandId::Model3)->isEnabled(), 60000);
  QVERIFY(!view_->GetPlatform().TimerActive(1));
  QVERIFY(Command(CommandId::FileOpen)->isEnabled());
  QCOMPARE(state.displayMode.load(), DisplayMode::Report);

  // The scrollable size fits the report: 10 pixels per character of the longest line plus
  // 140, at least 1100; 20 per line plus 50.
  const QStringList lines = ReportLines(folder_.filePath(QStringLiteral("result.txt")));
  QVERIFY(lines.size() > 20);
  qsizetype longest = 0;
  for (const QString& line : lines) longest = std::max(longest, line.size());
  QCOMPARE(view_->ScrollSize(),
           QSize(std::max(10 * static_cast<int>(longest) + 140, 1100), 20 * static_cast<int>(lines.size()) + 50));

  // Line k is drawn from (40, 20 + 20k): ink in its 20-pixel row exactly when it has text,
  // starting after its leading blanks.
  view_->horizontalScrollBar()->setValue(0);
  view_->verticalScrollBar()->setValue(0);
  const QImage image = view_->viewport()->grab().toImage();
  const QRgb background = image.pixel(5, 5);
  const double advance = QFontMetricsF(CQuorvelView::ViewFont()).horizontalAdvance(QLatin1Char(' '));
  QCOMPARE(FirstInk(image, 0, background), -1);  // above the first line
  int checked = 0;
  for (int k = 0; 20 + 20 * k + 20 <= image.height() && k < lines.size(); ++k) {
    const QString& line = lines[k];
    const int leading = static_cast<int>(line.size() - QString(line).remove(QRegularExpression("^ +")).size());
    const int ink = FirstInk(image, 20 + 20 * k, background);
    if (line.trimmed().isEmpty()) {
      QCOMPARE(ink, -1);
      continue;
    }
    const double start = 40 + leading * advance;
    QVERIFY2(ink >= start - 1 && ink <= start + advance, qPrintable(QStringLiteral("line %1 ink at %2, text from %3")
                                                                        .arg(k).arg(ink).arg(start)));
    ++checked;
  }
  QVERIFY(checked >= 5);

  // Scrolled down by 60 pixels, line k moves up to 20k - 40: line 2 is the top row.
  view_->verticalScrollBar()->setValue(60);
  const QImage scrolled = view_->viewport()->grab().toImage();
  view_->verticalScrollBar()->setValue(0);
  QCOMPARE(FirstInk(scrolled, 0, background) >= 0, !lines[2].trimmed().isEmpty());
  QCOMPARE(FirstInk(scrolled, 20, background) >= 0, !lines[3].trimmed().isEmpty());
}

void MainWindowTest::pleaseWaitFollowsTheClientCentreAndScroll() {
  AppState& state = TheSession().state;
  const DisplayMode shown = state.displayMode.load();
  state.displayMode.store(DisplayMode::Waiting);
  const auto restore = qScopeGuard([this, &state, shown] {
    state.displayMode.store(shown);
    view_->verticalScrollBar()->setValue(0);
  });

  auto magentaRows = [](const QImage& image) {
    int top = -1;
    int bottom = -1;
    int left = image.width();
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.red() > 160 && c.blue() > 160 && c.green() < 100) {
          if (top < 0) top = y;
          bottom = y;
          left = std::min(left, x);
        }
      }
    }
    return QRect(QPoint(left, top), QPoint(left, bottom));
  };
  const QSize client = view_->viewport()->size();
  const int cx = client.width() / 2;
  const int cy = client.height() / 2;
  const QRect ink = magentaRows(view_->viewport()->grab().toImage());
  QVERIFY(ink.top() >= cy - 20 && ink.bottom() < cy + 2);
  QVERIFY(qAbs(ink.left() - (cx - 150)) <= 2);

  // Scrolled down by 40 pixels, the text moves up with the drawing area.
  view_->verticalScrollBar()->setValue(40);
  const QRect moved = magentaRows(view_->viewport()->grab().toImage());
  QCOMPARE(moved.top(), ink.top() - 40);

  // Every repaint advances the dots: 100 to 142 in steps of 7, then back to 100.
  QList<int> phases;
  for (int k = 0; k < 8; ++k) {
    phases << view_->DotPhase();
    view_->viewport()->grab();
  }
  const int start = phases.constFirst();
  for (int k = 1; k < phases.size(); ++k) {
    const int expected = phases[k - 1] + 7 > 142 ? 100 : phases[k - 1] + 7;
    QCOMPARE(phases[k], expected);
  }
  QVERIFY(start >= 100 && start <= 142);
}

void MainWindowTest::saveAsCopiesTheReportAndMovesTheDialogFolder() {
  QVERIFY(QDir(folder_.path()).mkdir(QStringLiteral("saved")));
  const QString target = folder_.filePath(QStringLiteral("saved/trial.txt"));
  const DialogSeen save = TriggerAndChooseFile(Command(CommandId::FileSaveAs), target);
  QCOMPARE(save.mode, QFileDialog::AcceptSave);
  QCOMPARE(save.nameFilters, QStringList({"Text files (*.txt)", "All files (*)"}));
  QCOMPARE(save.defaultSuffix, QStringLiteral("txt"));

  QFile report(folder_.filePath(QStringLiteral("result.txt")));
  QFile copy(target);
  QVERIFY(report.open(QIODevice::ReadOnly));
  QVERIFY(copy.open(QIODevice::ReadOnly));
  QCOMPARE(copy.readAll(), report.readAll());

  // The next dialog starts where the copy went; the view still shows the report.
  const DialogSeen again = TriggerAndChooseFile(Command(CommandId::FileSaveAs), QString());
  QCOMPARE(again.directory, folder_.filePath(QStringLiteral("saved")));
  QCOMPARE(TheSession().state.displayMode.load(), DisplayMode::Report);
  QCOMPARE(QString::fromStdString(TheSession().state.dataFolder), folder_.path() + QLatin1Char('/'));
}

void MainWindowTest::newDocumentRestartsTheView() {
  frame_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(frame_));
  QTest::keyClick(frame_, Qt::Key_N, Qt::ControlModifier);
  QCOMPARE(view_->ScrollSize(), QSize(100, 100));
  QCOMPARE(TheSession().state.dialogFolder, TheSession().state.programFolder);
  QCOMPARE(TheSession().state.displayMode.load(), DisplayMode::Report);
  QCOMPARE(frame_->windowTitle(), QStringLiteral("Untitled - Quorvel"));
}

void MainWindowTest::manualOpensBesideTheProgram() {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "openUrl");
  Command(CommandId::HelpManual)->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  QCOMPARE(catcher.urls.size(), 1);
  QCOMPARE(catcher.urls[0].toLocalFile(), QCoreApplication::applicationDirPath() + QStringLiteral("/Manual.pdf"));
}

void MainWindowTest::aboutBox() {
  QString title;
  QString version;
  QString text;
  bool hasIcon = false;
  QString defaultButton;
  WhenModalShows([&](QWidget* modal) {
    title = modal->windowTitle();
    if (auto* label = modal->findChild<QLabel*>(QStringLiteral("aboutVersion"))) version = label->text();
    if (auto* label = modal->findChild<QLabel*>(QStringLiteral("aboutText"))) text = label->text();
    if (auto* label = modal->findChild<QLabel*>(QStringLiteral("aboutIcon"))) hasIcon = !label->pixmap().isNull();
    for (QPushButton* button : modal->findChildren<QPushButton*>()) {
      if (button->isDefault()) defaultButton = button->text().remove(QLatin1Char('&'));
    }
    QTest::keyClick(modal, Qt::Key_Return);
  });
  Command(CommandId::AppAbout)->trigger();
  QCOMPARE(title, QStringLiteral("About Quorvel"));
  QCOMPARE(version, QStringLiteral("Quorvel, Version 1.0"));
  QVERIFY(hasIcon);
  QVERIFY(!text.isEmpty() && text.count(QLatin1Char('\n')) <= 2);
  QCOMPARE(defaultButton, QStringLiteral("OK"));
  QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void MainWindowTest::recentFileListKeepsItsEntries() {
  QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Local AppWizard-Generated Applications"));
  QCOMPARE(app_.RecentFiles().Entries().size(), 4);

  // The list is written back as read: numbered entries kept, empty and surplus ones gone.
  QSettings settings(folder_.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
  settings.setValue(QStringLiteral("Recent File List/File1"), QStringLiteral("/data/a.xls"));
  settings.setValue(QStringLiteral("Recent File List/File3"), QStringLiteral("/data/c.xls"));
  settings.setValue(QStringLiteral("Recent File List/File5"), QStringLiteral("/data/e.xls"));
  RecentFileList list(4);
  list.ReadList(settings);
  QCOMPARE(list.Entries(), QStringList({"/data/a.xls", "", "/data/c.xls", ""}));
  list.WriteList(settings);
  settings.beginGroup(QStringLiteral("Recent File List"));
  QCOMPARE(settings.childKeys(), QStringList({"File1", "File3"}));
  QCOMPARE(settings.value(QStringLiteral("File3")).toString(), QStringLiteral("/data/c.xls"));
}

void MainWindowTest::dialogFiltersInQtForm() {
  QCOMPARE(NameFiltersFromDialogFilter("Books(*.xls;*.xlt)|*.xls;*.xlt|Texts|*.txt||ignored|*.x"),
           QStringList({"Books (*.xls *.xlt)", "Texts (*.txt)"}));
  QCOMPARE(NameFiltersFromDialogFilter(""), QStringList());
}

// A sheet whose last row lacks its last trait loses that trait for every row: the message
// pane says so in place of "Ready" (menu prompts still pass over it) until a clean sheet
// is opened.
void MainWindowTest::leftOutColumnsWarnInTheStatusBar() {
  const QString partial = folder_.filePath(QStringLiteral("last_trait_missing.xls"));
  QVERIFY(QFile::copy(QStringLiteral(QUORVEL_TEST_DATA "/xls/fixtures/last_trait_missing.lo.xls"),
                      partial));
  const QString warning = QStringLiteral(
      "Trait column Trait3 (column 5) left out for every row: the data region ends at the last "
      "number of "
      "the sheet (row 25, column 4), and row 25 has no number in this column.");
  TriggerAndChooseFile(Command(CommandId::FileOpen), partial);
  QCOMPARE(TheSession().state.displayMode.load(), DisplayMode::Echo);
  QCOMPARE(frame_->MessagePane()->text(), warning);
  QCOMPARE(frame_->MessagePane()->toolTip(), warning);

  QMenu* file = frame_->menuBar()->actions().constFirst()->menu();
  file->popup(frame_->mapToGlobal(QPoint(40, 40)));
  QTRY_VERIFY(file->isVisible());
  file->setActiveAction(Command(CommandId::FileOpen));
  QCOMPARE(frame_->MessagePane()->text(), QStringLiteral("Open an existing document"));
  file->hide();
  QCOMPARE(frame_->MessagePane()->text(), warning);

  const QString clean = folder_.filePath(QStringLiteral("clean.xls"));
  QVERIFY(QFile::copy(QStringLiteral(QUORVEL_EXAMPLES "/nested_design.xls"), clean));
  TriggerAndChooseFile(Command(CommandId::FileOpen), clean);
  QCOMPARE(frame_->MessagePane()->text(), QStringLiteral("Ready"));
  QCOMPARE(frame_->MessagePane()->toolTip(), QString());
}

}  // namespace quorvel

int main(int argc, char** argv) {
  // Settings go to Qt's test location, never to the user's own.
  QStandardPaths::setTestModeEnabled(true);
  quorvel::CQuorvelApp app(argc, argv);
  if (!app.InitInstance()) return 1;
  quorvel::MainWindowTest test(app);
  const int failures = QTest::qExec(&test, argc, argv);
  app.MainFrame()->close();
  return failures;
}

#include "main_window_test.moc"
