// The desktop program's window system on Qt.
#include "app/qt/qt_platform.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

#include "app/qt/command_ids.h"
#include "app/qt/quorvel_view.h"

namespace quorvel {
namespace {

QString FromLocal(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string ToLocal(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Runs a modal file dialog as the settings ask. A wildcard initial name ("*.txt") is the
// filter again and is not put into the name field.
std::optional<ChosenFile> RunFileDialog(QWidget* parent, const FileDialogSpec& spec, bool save) {
  QFileDialog dialog(parent, save ? QObject::tr("Save As") : QObject::tr("Open"));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters(NameFiltersFromDialogFilter(spec.filter));
  dialog.setDefaultSuffix(QString::fromStdString(spec.defaultExtension));
  // Qt's dialogs have no read-only check box, so spec.hideReadOnly needs nothing here.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !spec.promptOverwrite);
  if (!spec.startFolder.empty()) dialog.setDirectory(FromLocal(spec.startFolder));
  const QString initial = QString::fromStdString(spec.initialFileName);
  if (!initial.isEmpty() && !initial.contains(QLatin1Char('*'))) dialog.selectFile(initial);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString path = dialog.selectedFiles().constFirst();
  return ChosenFile{ToLocal(path), ToLocal(QFileInfo(path).fileName())};
}

}  // namespace

QStringList NameFiltersFromDialogFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype k = 0; k + 1 < parts.size(); k += 2) {
    QString name = parts[k].trimmed();
    if (name.isEmpty()) break;  // the "||" that ends the list
    // The name may carry its patterns in brackets already; Qt wants them after a blank.
    if (const qsizetype open = name.lastIndexOf(QLatin1Char('(')); open > 0 && name.endsWith(QLatin1Char(')'))) {
      name = name.left(open).trimmed();
    }
    QStringList patterns = parts[k + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) {
      pattern = pattern.trimmed();
      if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    }
    filters << QStringLiteral("%1 (%2)").arg(name, patterns.join(QLatin1Char(' ')));
  }
  return filters;
}

QtPlatform::~QtPlatform() { JoinWorkers(); }

void QtPlatform::ShowMessage(const std::string& text, MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                  QString::fromLatin1(kAppName), QString::fromUtf8(text), QMessageBox::Ok,
                  view_.window());
  box.exec();
}

std::optional<ChosenFile> QtPlatform::ChooseOpenFile(const FileDialogSpec& spec) {
  return RunFileDialog(view_.window(), spec, false);
}

std::optional<ChosenFile> QtPlatform::ChooseSaveFile(const FileDialogSpec& spec) {
  return RunFileDialog(view_.window(), spec, true);
}

void QtPlatform::StartTimer(int id, int periodMs) {
  QTimer*& timer = timers_[id];
  if (timer == nullptr) {
    timer = new QTimer(&view_);
    QObject::connect(timer, &QTimer::timeout, &view_, [this, id] { view_.OnTimer(id); });
  }
  timer->start(periodMs);  // restarts a running timer
}

void QtPlatform::StopTimer(int id) {
  if (auto found = timers_.find(id); found != timers_.end()) found->second->stop();
}

bool QtPlatform::TimerActive(int id) const {
  const auto found = timers_.find(id);
  return found != timers_.end() && found->second->isActive();
}

void QtPlatform::InvalidateView() { view_.viewport()->update(); }

void QtPlatform::SetScrollSize(int width, int height) { view_.SetScrollSize(width, height); }

void QtPlatform::StartWorker(std::function<void()> body) {
  // A new run starts only after the last one has handed over, so earlier workers have
  // finished or are returning: joining them here keeps one thread object per live run.
  JoinWorkers();
  workers_.emplace_back(std::move(body));
}

void QtPlatform::JoinWorkers() {
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  workers_.clear();
}

void QtPlatform::ShellOpen(const std::string& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(FromLocal(path)));
}

std::string QtPlatform::ExecutablePath() const { return ToLocal(QCoreApplication::applicationFilePath()); }

ViewSize QtPlatform::ClientAreaSize() const {
  const QSize size = view_.viewport()->size();
  return ViewSize{size.width(), size.height()};
}

void QtPlatform::RunStateChanged(bool running) { emit view_.runStateChanged(running); }

void QtPlatform::ShowStatus(const std::string& text) {
  emit view_.statusWarning(QString::fromUtf8(text));
}

}  // namespace quorvel
