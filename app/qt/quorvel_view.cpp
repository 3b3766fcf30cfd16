// The main view: painting of the echo, "Please wait" and the report, and its commands.
#include "app/qt/quorvel_view.h"

#include <QFile>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "app/commands/export_command.h"
#include "app/commands/view_painting.h"
#include "import/model_spec.h"

namespace quorvel {
namespace {

constexpr int kAnalysisTimerId = 1;
constexpr int kLinePitch = 20;   // pixels from one text line to the next; also one scroll step
constexpr int kLineX = 40;       // left edge of every echo and report line
constexpr int kFirstLineY = 20;  // top of line 0
const QColor kFindMark(255, 226, 84);  // behind the text found

}  // namespace

CQuorvelView::CQuorvelView(CQuorvelDoc* document, QWidget* parent)
    : QAbstractScrollArea(parent),
      document_(document),
      font_(ViewFont()),
      dotPhase_(kDotPhaseStart) {
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  setFocusPolicy(Qt::StrongFocus);
  setFrameShape(QFrame::NoFrame);
  // A run that starts or hands over changes what is shown; a match found before is stale.
  connect(this, &CQuorvelView::runStateChanged, this, [this] {
    ClearFindMatch();
    emit shownContentChanged();
  });
}

CQuorvelView::~CQuorvelView() { platform_.JoinWorkers(); }

QFont CQuorvelView::ViewFont() {
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  // Qt sizes a font by its em; the view's 20 pixels are the whole character cell, as tall
  // as the line pitch. Courier New and Liberation Mono reach that at an em of 18 pixels,
  // where a character is 10.8 pixels wide: what the report's scroll width of 10 pixels per
  // character plus a margin of 140 was made for.
  for (int pixels = kLinePitch; pixels > 6; --pixels) {
    font.setPixelSize(pixels);
    if (QFontMetrics(font).height() <= kLinePitch) break;
  }
  return font;
}

void CQuorvelView::SetScrollSize(int width, int height) {
  scrollWidth_ = width;
  scrollHeight_ = height;
  UpdateScrollBars();
}

void CQuorvelView::UpdateScrollBars() {
  const QSize client = viewport()->size();
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, std::max(0, scrollWidth_ - client.width()));
  horizontal->setPageStep(std::max(1, client.width()));
  horizontal->setSingleStep(kLinePitch);
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, std::max(0, scrollHeight_ - client.height()));
  vertical->setPageStep(std::max(1, client.height()));
  vertical->setSingleStep(kLinePitch);
}

void CQuorvelView::OnTimer(int id) {
  if (id == kAnalysisTimerId) OnAnalysisTick(session_);
}

void CQuorvelView::OnInitialUpdate() { ViewStartUp(session_); }

void CQuorvelView::OnFileOpen() {
  OpenCommand(session_);
  ClearFindMatch();
  emit shownContentChanged();
}

void CQuorvelView::OpenGivenWorkbook(const QString& path) {
  OpenWorkbookAt(session_, QFile::encodeName(path).toStdString());
  ClearFindMatch();
  emit shownContentChanged();
}

void CQuorvelView::OnFileSaveAs() { SaveReportAs(session_); }
void CQuorvelView::OnFileExport() { ExportResults(session_); }
// Each Model entry runs the model of its number in the model table.
void CQuorvelView::OnModel1() { RunAnalysis(session_, ModelSpecByNumber(1)->kind); }
void CQuorvelView::OnModel2() { RunAnalysis(session_, ModelSpecByNumber(2)->kind); }
void CQuorvelView::OnModel3() { RunAnalysis(session_, ModelSpecByNumber(3)->kind); }
void CQuorvelView::OnHelpManual() { OpenManual(session_); }
void CQuorvelView::OnCancelRun() { CancelRun(session_); }

bool CQuorvelView::StopRunAndWait(std::chrono::milliseconds timeout) {
  CancelRun(session_);
  return platform_.JoinWorkersFor(timeout);
}

void CQuorvelView::ClearFindMatch() {
  if (!match_) return;
  match_.reset();
  viewport()->update();
}

bool CQuorvelView::Find(const QString& needle, bool forward, QString* outcome) {
  const std::vector<std::string> lines = ShownTextLines(session_.state);
  // From the last match (past it when going forward), or else from the first line in view.
  int line = std::max(0, (verticalScrollBar()->value() + kLinePitch - kFirstLineY) / kLinePitch);
  int column = 0;
  if (match_) {
    line = match_->line;
    column = match_->column + (forward ? 1 : 0);
  }
  const std::optional<TextMatch> found =
      FindText(lines, needle.toStdString(), line, column,
               forward ? FindDirection::Forward : FindDirection::Backward);
  match_ = found;
  viewport()->update();
  if (!found) {
    if (outcome != nullptr) *outcome = QStringLiteral("Not found");
    return false;
  }
  if (outcome != nullptr) *outcome = QStringLiteral("Line %1").arg(found->line + 1);

  // Scroll so that the match is in view: a third from the top when it was out of view.
  const QFontMetricsF metrics(font_);
  const double advance = metrics.horizontalAdvance(QLatin1Char(' '));
  const int top = kFirstLineY + kLinePitch * found->line;
  QScrollBar* vertical = verticalScrollBar();
  if (top < vertical->value() || top + kLinePitch > vertical->value() + viewport()->height()) {
    vertical->setValue(top - viewport()->height() / 3);
  }
  const int left = kLineX + static_cast<int>(advance * found->column);
  const int right = kLineX + static_cast<int>(advance * (found->column + found->length)) + 1;
  QScrollBar* horizontal = horizontalScrollBar();
  if (left < horizontal->value() || right > horizontal->value() + viewport()->width()) {
    horizontal->setValue(std::max(0, left - kLineX));
  }
  return true;
}

void CQuorvelView::paintEvent(QPaintEvent* event) {
  if (document_ == nullptr) return;
  QPainter painter(viewport());
  painter.setFont(font_);
  // Items are placed in the scrolled drawing area; the painter shifts them by the scroll
  // position, "Please wait" included.
  const QPoint offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
  painter.translate(-offset);
  const QRect dirty = event->rect().translated(offset);
  const QSize client = viewport()->size();
  const std::vector<TextItem> items =
      PaintView(session_.state, ViewSize{client.width(), client.height()}, dotPhase_, dirty.top(),
                dirty.bottom() + 1);
  // The text found is marked behind its characters.
  const DisplayMode mode = session_.state.displayMode.load();
  if (match_ && (mode == DisplayMode::Echo || mode == DisplayMode::Report)) {
    const double advance = QFontMetricsF(font_).horizontalAdvance(QLatin1Char(' '));
    painter.fillRect(
        QRectF(kLineX + advance * match_->column, kFirstLineY + kLinePitch * match_->line,
               advance * match_->length, kLinePitch),
        kFindMark);
  }
  // An item's y is the top of its character cell; Qt draws from the base line.
  const int ascent = QFontMetrics(font_).ascent();
  for (const TextItem& item : items) {
    painter.setPen(QColor(item.colour.red, item.colour.green, item.colour.blue));
    painter.drawText(QPoint(item.x, item.y + ascent), QString::fromUtf8(item.text));
  }
}

void CQuorvelView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void CQuorvelView::scrollContentsBy(int /*dx*/, int /*dy*/) { viewport()->update(); }

}  // namespace quorvel
