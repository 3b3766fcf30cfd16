// The main view: painting of the echo, "Please wait" and the report, and its commands.
#include "app/qt/quorvel_view.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "app/commands/view_painting.h"
#include "import/model_spec.h"

namespace quorvel {
namespace {

constexpr int kAnalysisTimerId = 1;
constexpr int kLinePitch = 20;  // pixels from one text line to the next; also one scroll step

}  // namespace

CQuorvelView::CQuorvelView(CQuorvelDoc* document, QWidget* parent)
    : QAbstractScrollArea(parent), document_(document), font_(ViewFont()), dotPhase_(kDotPhaseStart) {
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  setFocusPolicy(Qt::StrongFocus);
  setFrameShape(QFrame::NoFrame);
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
void CQuorvelView::OnFileOpen() { OpenCommand(session_); }
void CQuorvelView::OnFileSaveAs() { SaveReportAs(session_); }
// Each Model entry runs the model of its number in the model table.
void CQuorvelView::OnModel1() { RunAnalysis(session_, ModelSpecByNumber(1)->kind); }
void CQuorvelView::OnModel2() { RunAnalysis(session_, ModelSpecByNumber(2)->kind); }
void CQuorvelView::OnModel3() { RunAnalysis(session_, ModelSpecByNumber(3)->kind); }
void CQuorvelView::OnHelpManual() { OpenManual(session_); }

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
  const std::vector<TextItem> items = PaintView(session_.state, ViewSize{client.width(), client.height()},
                                                dotPhase_, dirty.top(), dirty.bottom() + 1);
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
