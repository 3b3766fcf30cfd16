// The charts of a result, painted with QPainter.
#include "app/qt/chart_painter.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

// Colours of everything that is not data: near-black ink, greys for grid and bands.
const QColor kInk(33, 33, 33);
const QColor kMuted(100, 100, 100);
const QColor kGrid(222, 222, 222);
const QColor kBand(244, 244, 246);
const QColor kUndefinedFill(232, 232, 232);

QColor ToQColor(ChartColour c) { return QColor(c.red, c.green, c.blue); }

// The fonts of a chart, all derived from the base font so that they scale with it.
struct ChartFonts {
  explicit ChartFonts(const QFont& base)
      : text(base), title(base), small(base), bold(base), italic(base) {
    title.setBold(true);
    title.setPointSizeF(base.pointSizeF() > 0 ? base.pointSizeF() * 1.3 : 12);
    if (base.pointSizeF() <= 0) title.setPixelSize(static_cast<int>(base.pixelSize() * 1.3));
    small.setPointSizeF(base.pointSizeF() > 0 ? base.pointSizeF() * 0.88 : 8);
    if (base.pointSizeF() <= 0) small.setPixelSize(std::max(6, base.pixelSize() * 7 / 8));
    bold.setBold(true);
    italic.setItalic(true);
  }
  QFont text, title, small, bold, italic;
  qreal Line() const { return QFontMetricsF(text).lineSpacing(); }
  qreal Width(const QString& s, const QFont& f) const {
    return QFontMetricsF(f).horizontalAdvance(s);
  }
};

// A number as a label prints it: with a true minus sign, which is as wide as a digit and
// reads better than a hyphen.
QString Signed(QString text) { return text.replace(QLatin1Char('-'), QChar(0x2212)); }

// A number for an axis tick, with the decimals its step needs.
QString TickText(double value, double step) {
  const int decimals =
      step > 0 ? std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 8) : 0;
  if (std::abs(value) >= 1e6 || (std::abs(value) < 1e-4 && value != 0)) {
    return Signed(QString::number(value, 'g', 3));
  }
  return Signed(QString::number(value, 'f', decimals));
}

// A value as the charts' labels and tooltips print it: 4 significant digits at least.
QString ValueText(double value) {
  if (std::isnan(value)) return QStringLiteral("nan");
  if (std::isinf(value)) return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
  const double magnitude = std::abs(value);
  if (magnitude != 0 && (magnitude >= 1e6 || magnitude < 1e-3))
    return QString::number(value, 'g', 4);
  return QString::number(value, 'f', magnitude >= 1000 ? 1 : magnitude >= 10 ? 2 : 4);
}

QString IntervalText(double lower, double upper) {
  if (!std::isfinite(lower) || !std::isfinite(upper)) return QStringLiteral("undefined");
  return QStringLiteral("[%1, %2]").arg(ValueText(lower), ValueText(upper));
}

QString PercentText(double level) {
  return QString::number(level * 100, 'g', 3) + QLatin1Char('%');
}

// A linear map from data values to one pixel coordinate.
struct LinearAxis {
  double low = 0, high = 1;
  qreal from = 0, to = 1;  // pixel positions of low and high
  qreal Map(double v) const { return from + (v - low) / (high - low) * (to - from); }
  bool Contains(double v) const {
    return v >= low - 1e-12 * std::abs(high - low) && v <= high + 1e-12 * std::abs(high - low);
  }
};

// Title and context line; returns the y below them.
qreal PaintHeader(QPainter& painter, const QRectF& area, const ChartFonts& fonts,
                  const QString& title, const QString& context) {
  const qreal margin = fonts.Line() * 0.8;
  qreal y = area.top() + margin;
  painter.setPen(kInk);
  painter.setFont(fonts.title);
  const qreal titleHeight = QFontMetricsF(fonts.title).lineSpacing();
  painter.drawText(QRectF(area.left() + margin, y, area.width() - 2 * margin, titleHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, title);
  y += titleHeight;
  if (!context.isEmpty()) {
    painter.setFont(fonts.small);
    painter.setPen(kMuted);
    const qreal h = QFontMetricsF(fonts.small).lineSpacing();
    painter.drawText(QRectF(area.left() + margin, y, area.width() - 2 * margin, h),
                     Qt::AlignLeft | Qt::AlignVCenter, context);
    y += h;
  }
  return y + fonts.Line() * 0.6;
}

// A short vertical or horizontal error bar with end caps.
void PaintWhisker(QPainter& painter, QPointF a, QPointF b, qreal cap, bool capA = true,
                  bool capB = true) {
  painter.drawLine(a, b);
  const bool vertical = std::abs(a.x() - b.x()) < std::abs(a.y() - b.y());
  const QPointF half = vertical ? QPointF(cap / 2, 0) : QPointF(0, cap / 2);
  if (capA) painter.drawLine(a - half, a + half);
  if (capB) painter.drawLine(b - half, b + half);
}

// An arrow head at `tip` pointing in direction (dx, dy) (a unit step), `size` long.
void PaintArrowHead(QPainter& painter, QPointF tip, qreal dx, qreal dy, qreal size) {
  const QPointF back = tip - QPointF(dx, dy) * size;
  const QPointF side = QPointF(-dy, dx) * (size * 0.55);
  QPainterPath head;
  head.moveTo(tip);
  head.lineTo(back + side);
  head.lineTo(back - side);
  head.closeSubpath();
  painter.fillPath(head, painter.pen().color());
}

enum class MarkerShape { Circle, Diamond, Triangle };

void PaintMarker(QPainter& painter, QPointF centre, qreal radius, MarkerShape shape,
                 const QColor& fill, const QColor& outline, qreal outlineWidth) {
  painter.setPen(QPen(outline, outlineWidth));
  painter.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
  switch (shape) {
    case MarkerShape::Circle:
      painter.drawEllipse(centre, radius, radius);
      break;
    case MarkerShape::Diamond: {
      const qreal r = radius * 1.3;
      const QPointF points[] = {centre + QPointF(0, -r), centre + QPointF(r, 0),
                                centre + QPointF(0, r), centre + QPointF(-r, 0)};
      painter.drawPolygon(points, 4);
      break;
    }
    case MarkerShape::Triangle: {
      const qreal r = radius * 1.25;
      const QPointF points[] = {centre + QPointF(0, -r), centre + QPointF(r, r * 0.8),
                                centre + QPointF(-r, r * 0.8)};
      painter.drawPolygon(points, 3);
      break;
    }
  }
  painter.setBrush(Qt::NoBrush);
}

void PaintHatch(QPainter& painter, const QRectF& rect, qreal spacing, const QColor& colour) {
  painter.setPen(QPen(colour, 1));
  for (const QLineF& line : HatchLines(rect, spacing)) painter.drawLine(line);
}

// Ticks of [low, high] spread over `pixels`, at least `labelWidth` apart.
std::vector<double> TicksFor(double low, double high, qreal pixels, qreal labelWidth) {
  const int target = std::clamp(static_cast<int>(pixels / std::max<qreal>(labelWidth, 1)), 2, 10);
  return NiceTicks(low, high, target);
}

// ---------------------------------------------------------------------------------------
// Males: a caterpillar plot.

// The male chart's legend items: a marker and its meaning.
struct LegendItem {
  MarkerShape shape;
  QColor fill;
  QColor outline;
  QString text;
};

// Viridis picks: the best male green, males that differ from it dark purple (filled),
// the rest blue (hollow). Shape and fill tell them apart without colour.
const QColor kBestColour = ToQColor(ViridisColour(0.72));
const QColor kSignificantColour = ToQColor(ViridisColour(0.0));
const QColor kPlainColour = ToQColor(ViridisColour(0.33));
const QString kMeanText = QStringLiteral("mean of males (0)");

class MaleEffectPlot final : public Chart {
 public:
  MaleEffectPlot(MaleEffectChart data, QString context)
      : data_(std::move(data)), context_(std::move(context)) {}

  QString Title() const override {
    return QStringLiteral("Male effects on %1").arg(QString::fromStdString(data_.trait));
  }

  QSizeF MinimumSize(const QFont& font) const override {
    const ChartFonts fonts(font);
    const qreal line = fonts.Line();
    const qreal rows = std::max<qreal>(1, static_cast<qreal>(data_.rows.size()));
    return {std::max(LabelWidth(fonts) + AnnotationWidth(fonts) + 30 * line, LegendWidth(fonts)),
            HeaderHeight(fonts) + rows * RowPitch(fonts) + 3 * line + LegendHeight(fonts) + line};
  }

  std::vector<ChartMark> Paint(QPainter& painter, const QRectF& area,
                               const QFont& font) const override;

 private:
  static qreal RowPitch(const ChartFonts& fonts) { return std::ceil(fonts.Line() * 1.2); }
  static qreal HeaderHeight(const ChartFonts& fonts) {
    return fonts.Line() * 0.8 + QFontMetricsF(fonts.title).lineSpacing() +
           QFontMetricsF(fonts.small).lineSpacing() + fonts.Line() * 1.6;
  }
  static qreal LegendHeight(const ChartFonts& fonts) { return fonts.Line() * 2.4; }
  qreal LabelWidth(const ChartFonts& fonts) const {
    qreal widest = fonts.Width(QStringLiteral("M0000"), fonts.text);
    for (const MaleEffectRow& row : data_.rows) {
      widest = std::max(widest, fonts.Width(QString::fromStdString(row.name), fonts.text));
    }
    return widest + fonts.Line() * 1.6;
  }
  static qreal AnnotationWidth(const ChartFonts& fonts) {
    return fonts.Width(QStringLiteral("not estimable"), fonts.small) + fonts.Line() * 1.6;
  }
  std::vector<LegendItem> Legend() const;
  // The legend's row: each marker and its text, then the mean's dashed line and its text.
  qreal LegendWidth(const ChartFonts& fonts) const {
    const qreal line = fonts.Line();
    qreal width = 2 * line * 0.8 + line * 1.6 + fonts.Width(kMeanText, fonts.small);
    for (const LegendItem& item : Legend()) {
      width += line * 0.64 + line * 0.5 + fonts.Width(item.text, fonts.small) + line * 1.2;
    }
    return width;
  }

  MaleEffectChart data_;
  QString context_;
};

std::vector<LegendItem> MaleEffectPlot::Legend() const {
  return {{MarkerShape::Diamond, kBestColour, kInk, QStringLiteral("best male (highest estimate)")},
          {MarkerShape::Circle, kSignificantColour, kSignificantColour,
           QStringLiteral("differs from the best: * p \u2264 0.05, ** p < 0.01")},
          {MarkerShape::Circle, Qt::white, kPlainColour,
           QStringLiteral("does not differ from the best")}};
}

std::vector<ChartMark> MaleEffectPlot::Paint(QPainter& painter, const QRectF& area,
                                             const QFont& font) const {
  const ChartFonts fonts(font);
  const qreal line = fonts.Line();
  const qreal margin = line * 0.8;
  painter.fillRect(area, Qt::white);
  const QString context =
      context_ + QStringLiteral(" \u2014 fixed model, %1 t intervals (error DF %2)")
                     .arg(PercentText(data_.level))
                     .arg(data_.errorDF);
  const qreal top = PaintHeader(painter, area, fonts, Title(), context) + line;
  const qreal labelWidth = LabelWidth(fonts);
  const qreal annotationWidth = AnnotationWidth(fonts);
  // Only rows that meet the area being repainted are drawn (a long plot scrolls); every
  // row still gives its mark.
  const QRectF exposed = painter.hasClipping() ? painter.clipBoundingRect() : area;

  const QRectF plot(area.left() + margin + labelWidth, top,
                    area.width() - 2 * margin - labelWidth - annotationWidth,
                    area.bottom() - top - 3 * line - LegendHeight(fonts) - margin);
  std::vector<ChartMark> marks;
  if (data_.rows.empty() || plot.width() <= 0 || plot.height() <= 0) return marks;

  // The x range covers zero, every estimate and every defined interval.
  double low = 0, high = 0;
  for (const MaleEffectRow& row : data_.rows) {
    for (double v : {row.estimate, row.lower, row.upper}) {
      if (std::isfinite(v)) {
        low = std::min(low, v);
        high = std::max(high, v);
      }
    }
  }
  const std::vector<double> ticks =
      TicksFor(low, high, plot.width(), fonts.Width(QStringLiteral("-000.00"), fonts.small) * 1.6);
  LinearAxis x{ticks.front(), ticks.back(), plot.left(), plot.right()};
  const qreal pitch = plot.height() / static_cast<qreal>(data_.rows.size());

  // Bands on every other row, the grid at the ticks, the mean (zero) line.
  for (std::size_t k = 1; k < data_.rows.size(); k += 2) {
    const QRectF band(area.left() + margin, plot.top() + pitch * static_cast<qreal>(k),
                      area.width() - 2 * margin, pitch);
    if (band.intersects(exposed)) painter.fillRect(band, kBand);
  }
  painter.setPen(QPen(kGrid, 1));
  for (double t : ticks)
    painter.drawLine(QPointF(x.Map(t), plot.top()), QPointF(x.Map(t), plot.bottom()));
  painter.setPen(QPen(kMuted, 1.2, Qt::DashLine));
  const qreal zero = x.Map(0);
  painter.drawLine(QPointF(zero, plot.top()), QPointF(zero, plot.bottom()));
  // The tick values above the rows as well as below: a long plot is read from the top.
  const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
  painter.setFont(fonts.small);
  painter.setPen(kInk);
  for (double t : ticks) {
    painter.drawText(QRectF(x.Map(t) - 60, plot.top() - line * 1.2, 120, line),
                     Qt::AlignHCenter | Qt::AlignBottom, TickText(t, step));
  }

  const qreal radius = std::min(pitch * 0.32, line * 0.32);
  const qreal cap = std::min(pitch * 0.5, line * 0.5);
  for (std::size_t k = 0; k < data_.rows.size(); ++k) {
    const MaleEffectRow& row = data_.rows[k];
    const qreal y = plot.top() + pitch * (static_cast<qreal>(k) + 0.5);
    const QRectF rowArea(area.left() + margin, y - pitch / 2, area.width() - 2 * margin, pitch);
    const bool draw = rowArea.intersects(exposed);
    if (draw) {
      painter.setPen(kInk);
      painter.setFont(row.best ? fonts.bold : fonts.text);
      painter.drawText(QRectF(area.left() + margin, y - pitch / 2, labelWidth - line * 0.6, pitch),
                       Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(row.name));
    }

    ChartMark mark;
    mark.kind = ChartMark::Kind::MaleRow;
    mark.area = rowArea;
    mark.significant = row.versusBest != Significance::None;
    QString note;
    const bool intervalDefined = std::isfinite(row.lower) && std::isfinite(row.upper);
    if (!std::isfinite(row.estimate)) {
      note = QStringLiteral("not estimable");
      mark.flagged = true;
    } else {
      if (intervalDefined) {
        painter.setPen(QPen(kInk, 1.3));
        if (draw)
          PaintWhisker(painter, QPointF(x.Map(row.lower), y), QPointF(x.Map(row.upper), y), cap);
      } else {
        note = QStringLiteral("no interval");
        mark.flagged = true;
      }
      const QPointF centre(x.Map(row.estimate), y);
      if (row.best) {
        if (draw)
          PaintMarker(painter, centre, radius, MarkerShape::Diamond, kBestColour, kInk, 1.2);
        mark.colour = kBestColour;
        if (note.isEmpty()) note = QStringLiteral("best");
      } else if (mark.significant) {
        if (draw) {
          PaintMarker(painter, centre, radius, MarkerShape::Circle, kSignificantColour,
                      kSignificantColour, 1.2);
        }
        mark.colour = kSignificantColour;
        if (note.isEmpty())
          note = row.versusBest == Significance::One ? QStringLiteral("**") : QStringLiteral("*");
      } else {
        if (draw)
          PaintMarker(painter, centre, radius, MarkerShape::Circle, Qt::white, kPlainColour, 1.6);
        mark.colour = kPlainColour;
      }
    }
    if (draw && !note.isEmpty()) {
      painter.setFont(note.startsWith(QLatin1Char('*')) ? fonts.bold : fonts.small);
      painter.setPen(mark.flagged ? kMuted : kInk);
      painter.drawText(QRectF(plot.right() + line * 0.6, y - pitch / 2, annotationWidth, pitch),
                       Qt::AlignLeft | Qt::AlignVCenter, note);
    }
    mark.tip = QStringLiteral("%1: estimate %2, %3 interval %4")
                   .arg(QString::fromStdString(row.name), ValueText(row.estimate),
                        PercentText(data_.level), IntervalText(row.lower, row.upper));
    if (!row.best && std::isfinite(row.pVersusBest)) {
      mark.tip +=
          QStringLiteral("\ndifference from the best male: p = %1").arg(ValueText(row.pVersusBest));
    }
    marks.push_back(mark);
  }

  // The x axis: ticks, their values and the axis title.
  painter.setPen(QPen(kInk, 1));
  painter.drawLine(plot.bottomLeft(), plot.bottomRight());
  painter.setFont(fonts.small);
  for (double t : ticks) {
    const qreal px = x.Map(t);
    painter.drawLine(QPointF(px, plot.bottom()), QPointF(px, plot.bottom() + line * 0.3));
    painter.drawText(QRectF(px - 60, plot.bottom() + line * 0.35, 120, line),
                     Qt::AlignHCenter | Qt::AlignTop, TickText(t, step));
  }
  painter.setFont(fonts.text);
  painter.drawText(
      QRectF(plot.left(), plot.bottom() + line * 1.3, plot.width(), line), Qt::AlignCenter,
      QStringLiteral("Male effect (deviation from the mean of males), with its %1 interval")
          .arg(PercentText(data_.level)));

  // The legend, in one row below the axis title.
  const std::vector<LegendItem> legend = Legend();
  qreal lx = area.left() + margin;
  const qreal ly = area.bottom() - margin - LegendHeight(fonts) / 2;
  painter.setFont(fonts.small);
  for (const LegendItem& item : legend) {
    PaintMarker(painter, QPointF(lx + radius + 2, ly), radius, item.shape, item.fill, item.outline,
                1.4);
    lx += radius * 2 + line * 0.5;
    painter.setPen(kInk);
    const qreal w = fonts.Width(item.text, fonts.small);
    painter.drawText(QRectF(lx, ly - line / 2, w + 4, line), Qt::AlignLeft | Qt::AlignVCenter,
                     item.text);
    lx += w + line * 1.2;
  }
  painter.setPen(QPen(kMuted, 1.2, Qt::DashLine));
  painter.drawLine(QPointF(lx, ly), QPointF(lx + line * 1.2, ly));
  lx += line * 1.6;
  painter.setPen(kInk);
  painter.drawText(QRectF(lx, ly - line / 2, fonts.Width(kMeanText, fonts.small) + 4, line),
                   Qt::AlignLeft | Qt::AlignVCenter, kMeanText);
  return marks;
}

// ---------------------------------------------------------------------------------------
// Variance components and heritabilities.

QString ComponentMeaning(const std::string& name) {
  if (name == "Sigma_M") return QStringLiteral("males");
  if (name == "Sigma_F") return QStringLiteral("females");
  if (name == "Sigma_FR") return QStringLiteral("female \u00d7 repeat");
  if (name == "Sigma_E") return QStringLiteral("residual");
  return {};
}

// What a heritability's row says beside the scale: a missing interval, a value outside
// 0-1 drawn at the edge.
QString HeritabilityNote(const EstimateWithInterval& h) {
  const ClippedOnUnitScale clipped = ClipToUnitScale(h);
  QStringList notes;
  if (std::isnan(clipped.lower) || std::isnan(clipped.upper)) {
    notes << QStringLiteral("\u2020 no interval");
  }
  if (std::isnan(clipped.estimate)) {
    notes << QStringLiteral("nan");
  } else if (clipped.estimateClipped) {
    notes << QStringLiteral("\u25b2 %1 outside").arg(Signed(ValueText(h.estimate)));
  }
  return notes.join(QStringLiteral(", "));
}

QString HeritabilityMeaning(const std::string& name) {
  if (name == "Hi") return QStringLiteral("individual");
  if (name == "Hm") return QStringLiteral("male means");
  return {};
}

class VariancePlot final : public Chart {
 public:
  VariancePlot(VarianceChart data, QString context)
      : data_(std::move(data)), context_(std::move(context)) {}

  QString Title() const override {
    return QStringLiteral("Variance components and heritabilities of %1")
        .arg(QString::fromStdString(data_.trait));
  }

  QSizeF MinimumSize(const QFont& font) const override {
    const ChartFonts fonts(font);
    const qreal line = fonts.Line();
    const qreal slotCount = std::max<qreal>(3, static_cast<qreal>(data_.components.size()));
    const qreal slot = fonts.Width(QStringLiteral("female \u00d7 repeat"), fonts.small) + line;
    qreal notes = 0;
    for (const QString& note : Notes()) notes = std::max(notes, fonts.Width(note, fonts.small));
    return {std::max({slotCount * slot + AxisWidth(fonts) + 2 * line,
                      fonts.Width(QStringLiteral("Hm (male means)"), fonts.text) + 34 * line,
                      notes + 2 * line}),
            fonts.Line() * 36};
  }

  std::vector<ChartMark> Paint(QPainter& painter, const QRectF& area,
                               const QFont& font) const override;

 private:
  static qreal AxisWidth(const ChartFonts& fonts) {
    return fonts.Width(QStringLiteral("-0000.00"), fonts.small) + fonts.Line();
  }
  // The notes at the bottom: how the intervals were found, what a flag means.
  static QStringList Notes() {
    return {QStringLiteral("Intervals: residual exact chi-square; other components Satterthwaite; "
                           "Hi and Hm Wald (approximate, weak near 0 and 1)."),
            QStringLiteral("\u2020 no interval: the estimate is not positive or its sampling "
                           "variance is not finite."),
            QStringLiteral("\u25b2 a value outside 0\u20131 is drawn at the edge; an interval that "
                           "reaches past an edge ends in an arrow.")};
  }
  void PaintComponents(QPainter& painter, const QRectF& panel, const ChartFonts& fonts,
                       std::vector<ChartMark>& marks) const;
  void PaintHeritabilities(QPainter& painter, const QRectF& panel, const ChartFonts& fonts,
                           std::vector<ChartMark>& marks) const;

  VarianceChart data_;
  QString context_;
};

std::vector<ChartMark> VariancePlot::Paint(QPainter& painter, const QRectF& area,
                                           const QFont& font) const {
  const ChartFonts fonts(font);
  const qreal line = fonts.Line();
  const qreal margin = line * 0.8;
  painter.fillRect(area, Qt::white);
  const qreal top = PaintHeader(
      painter, area, fonts, Title(),
      context_ +
          QStringLiteral(" \u2014 random model, %1 intervals").arg(PercentText(data_.level)));
  const QStringList notes = Notes();
  const qreal notesHeight = QFontMetricsF(fonts.small).lineSpacing() * notes.size() + margin;
  const qreal heritabilityHeight = line * 7.5;
  const QRectF components(area.left() + margin, top, area.width() - 2 * margin,
                          area.bottom() - top - heritabilityHeight - notesHeight - line);
  const QRectF heritabilities(area.left() + margin, components.bottom() + line,
                              area.width() - 2 * margin, heritabilityHeight);
  std::vector<ChartMark> marks;
  PaintComponents(painter, components, fonts, marks);
  PaintHeritabilities(painter, heritabilities, fonts, marks);

  painter.setFont(fonts.small);
  painter.setPen(kMuted);
  qreal y = area.bottom() - notesHeight + margin * 0.2;
  for (const QString& note : notes) {
    const qreal h = QFontMetricsF(fonts.small).lineSpacing();
    painter.drawText(QRectF(area.left() + margin, y, area.width() - 2 * margin, h),
                     Qt::AlignLeft | Qt::AlignVCenter, note);
    y += h;
  }
  return marks;
}

void VariancePlot::PaintComponents(QPainter& painter, const QRectF& panel, const ChartFonts& fonts,
                                   std::vector<ChartMark>& marks) const {
  const qreal line = fonts.Line();
  painter.setFont(fonts.bold);
  painter.setPen(kInk);
  painter.drawText(QRectF(panel.left(), panel.top(), panel.width(), line),
                   Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Variance components"));
  const QRectF plot(panel.left() + AxisWidth(fonts), panel.top() + line * 2.2,
                    panel.width() - AxisWidth(fonts), panel.height() - line * 5.2);
  if (data_.components.empty() || plot.height() <= 0) return;

  // The axis covers zero, the estimates and the lower bounds; upper bounds only up to three
  // times the largest estimate, beyond which a whisker ends in an arrow at the top.
  double low = 0, high = 0, largest = 0;
  for (const EstimateWithInterval& c : data_.components) {
    if (std::isfinite(c.estimate)) {
      low = std::min(low, c.estimate);
      high = std::max(high, c.estimate);
      largest = std::max(largest, std::abs(c.estimate));
    }
    if (c.IntervalDefined()) low = std::min(low, c.lower);
  }
  const double ceiling = largest > 0 ? 3 * largest : 1;
  for (const EstimateWithInterval& c : data_.components) {
    if (c.IntervalDefined()) high = std::max(high, std::min(c.upper, ceiling));
  }
  const std::vector<double> ticks = TicksFor(low, high, plot.height(), line * 2.2);
  const LinearAxis y{ticks.front(), ticks.back(), plot.bottom(), plot.top()};

  painter.setFont(fonts.small);
  const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
  for (double t : ticks) {
    const qreal py = y.Map(t);
    painter.setPen(QPen(kGrid, 1));
    painter.drawLine(QPointF(plot.left(), py), QPointF(plot.right(), py));
    painter.setPen(kInk);
    painter.drawText(QRectF(panel.left(), py - line / 2, AxisWidth(fonts) - line * 0.5, line),
                     Qt::AlignRight | Qt::AlignVCenter, TickText(t, step));
  }
  painter.setPen(QPen(kInk, 1.2));
  painter.drawLine(QPointF(plot.left(), y.Map(0)), QPointF(plot.right(), y.Map(0)));
  painter.drawLine(plot.topLeft(), plot.bottomLeft());

  const qreal slot = plot.width() / static_cast<qreal>(data_.components.size());
  const qreal barWidth = std::min(slot * 0.5, line * 5);
  const std::size_t n = data_.components.size();
  for (std::size_t k = 0; k < n; ++k) {
    const EstimateWithInterval& c = data_.components[k];
    const qreal cx = plot.left() + slot * (static_cast<qreal>(k) + 0.5);
    // Colours from the dark end of viridis to its middle, lighter from top term to residual.
    const QColor fill = ToQColor(ViridisColour(
        n > 1 ? 0.12 + 0.6 * static_cast<double>(k) / static_cast<double>(n - 1) : 0.4));
    ChartMark mark;
    mark.kind = ChartMark::Kind::ComponentBar;
    mark.colour = fill;
    const bool finite = std::isfinite(c.estimate);
    const qreal base = y.Map(0);
    const qreal end = finite ? y.Map(c.estimate) : base;
    const QRectF bar(cx - barWidth / 2, std::min(base, end), barWidth, std::abs(end - base));
    mark.area = bar.adjusted(0, -1, 0, 1);
    if (finite) mark.body = bar;
    if (finite) {
      painter.fillRect(bar, fill);
      painter.setPen(QPen(kInk, 1));
      painter.drawRect(bar);
    }

    // The whisker, clipped at the axis ends with an arrow.
    QString flag;
    if (c.IntervalDefined()) {
      const bool clippedHigh = c.upper > y.high;
      const bool clippedLow = c.lower < y.low;
      const qreal top = y.Map(std::min(c.upper, y.high));
      const qreal bottom = y.Map(std::max(c.lower, y.low));
      painter.setPen(QPen(kInk, 1.6));
      PaintWhisker(painter, QPointF(cx, bottom), QPointF(cx, top), barWidth * 0.45, !clippedLow,
                   !clippedHigh);
      if (clippedHigh) {
        PaintArrowHead(painter, QPointF(cx, top - 1), 0, -1, line * 0.55);
        painter.setFont(fonts.small);
        painter.drawText(QRectF(cx + line * 0.3, top - line * 0.2, slot / 2, line),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("to %1").arg(Signed(ValueText(c.upper))));
      }
      mark.area = mark.area.united(QRectF(cx - barWidth / 2, top, barWidth, bottom - top));
    } else {
      flag = QStringLiteral("\u2020 no interval");
      mark.flagged = true;
    }

    // The value beside the bar's end, the flag under the name.
    painter.setFont(fonts.small);
    painter.setPen(kInk);
    const QString value = finite ? Signed(ValueText(c.estimate)) : QStringLiteral("nan");
    const qreal valueY = finite && c.estimate < 0 ? end + line * 0.1 : end - line * 1.1;
    painter.drawText(QRectF(cx - slot / 2 + 2, valueY, slot / 2 - barWidth / 2 - 2, line),
                     Qt::AlignRight | Qt::AlignVCenter, value);
    painter.setFont(fonts.bold);
    painter.drawText(QRectF(cx - slot / 2, plot.bottom() + line * 0.4, slot, line), Qt::AlignCenter,
                     QString::fromStdString(c.name));
    painter.setFont(fonts.small);
    painter.setPen(kMuted);
    painter.drawText(QRectF(cx - slot / 2, plot.bottom() + line * 1.4, slot, line), Qt::AlignCenter,
                     ComponentMeaning(c.name));
    if (!flag.isEmpty()) {
      painter.setPen(kInk);
      painter.setFont(fonts.italic);
      painter.drawText(QRectF(cx - slot / 2, plot.bottom() + line * 2.4, slot, line),
                       Qt::AlignCenter, flag);
    }
    mark.tip =
        QStringLiteral("%1 (%2): %3, %4 interval %5")
            .arg(QString::fromStdString(c.name), ComponentMeaning(c.name), ValueText(c.estimate),
                 PercentText(data_.level), IntervalText(c.lower, c.upper));
    if (!c.method.empty())
      mark.tip += QStringLiteral(" (%1)").arg(QString::fromStdString(c.method));
    marks.push_back(mark);
  }
}

void VariancePlot::PaintHeritabilities(QPainter& painter, const QRectF& panel,
                                       const ChartFonts& fonts,
                                       std::vector<ChartMark>& marks) const {
  const qreal line = fonts.Line();
  painter.setFont(fonts.bold);
  painter.setPen(kInk);
  painter.drawText(QRectF(panel.left(), panel.top(), panel.width(), line),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Heritabilities (0\u20131 scale)"));
  const qreal labelWidth = fonts.Width(QStringLiteral("Hm (male means)"), fonts.text) + line;
  // The notes beside the scale: as wide as the longest one needs.
  qreal noteWidth = fonts.Width(QStringLiteral("\u25b2 \u22120.0000 outside"), fonts.small);
  for (const EstimateWithInterval& h : data_.heritabilities) {
    noteWidth = std::max(noteWidth, fonts.Width(HeritabilityNote(h), fonts.small));
  }
  noteWidth += line;
  const QRectF plot(panel.left() + labelWidth, panel.top() + line * 1.5,
                    panel.width() - labelWidth - noteWidth, panel.height() - line * 3.2);
  if (plot.width() <= 0) return;
  const LinearAxis x{0, 1, plot.left(), plot.right()};

  painter.setFont(fonts.small);
  for (int k = 0; k <= 10; k += 2) {
    const double t = k / 10.0;
    painter.setPen(QPen(kGrid, 1));
    painter.drawLine(QPointF(x.Map(t), plot.top()), QPointF(x.Map(t), plot.bottom()));
    painter.setPen(kInk);
    painter.drawLine(QPointF(x.Map(t), plot.bottom()),
                     QPointF(x.Map(t), plot.bottom() + line * 0.3));
    painter.drawText(QRectF(x.Map(t) - 30, plot.bottom() + line * 0.35, 60, line),
                     Qt::AlignHCenter | Qt::AlignTop, QString::number(t, 'f', 1));
  }
  painter.setPen(QPen(kInk, 1));
  painter.drawLine(plot.bottomLeft(), plot.bottomRight());

  const std::size_t n = data_.heritabilities.size();
  if (n == 0) return;
  const qreal pitch = plot.height() / static_cast<qreal>(n);
  const qreal radius = std::min(pitch * 0.3, line * 0.34);
  const QColor fill = ToQColor(ViridisColour(0.55));
  for (std::size_t k = 0; k < n; ++k) {
    const EstimateWithInterval& h = data_.heritabilities[k];
    const ClippedOnUnitScale clipped = ClipToUnitScale(h);
    const qreal py = plot.top() + pitch * (static_cast<qreal>(k) + 0.5);
    painter.setFont(fonts.text);
    painter.setPen(kInk);
    painter.drawText(
        QRectF(panel.left(), py - line / 2, labelWidth - line * 0.5, line),
        Qt::AlignRight | Qt::AlignVCenter,
        QStringLiteral("%1 (%2)").arg(QString::fromStdString(h.name), HeritabilityMeaning(h.name)));
    ChartMark mark;
    mark.kind = ChartMark::Kind::Heritability;
    mark.area = QRectF(plot.left(), py - pitch / 2, plot.width(), pitch);
    mark.colour = fill;
    if (!std::isnan(clipped.lower) && !std::isnan(clipped.upper)) {
      painter.setPen(QPen(kInk, 1.6));
      const QPointF a(x.Map(clipped.lower), py), b(x.Map(clipped.upper), py);
      PaintWhisker(painter, a, b, radius * 2.4, !clipped.lowerClipped, !clipped.upperClipped);
      if (clipped.lowerClipped) PaintArrowHead(painter, a, -1, 0, line * 0.5);
      if (clipped.upperClipped) PaintArrowHead(painter, b, 1, 0, line * 0.5);
    }
    if (clipped.estimateClipped) {
      PaintMarker(painter, QPointF(x.Map(clipped.estimate), py), radius, MarkerShape::Triangle,
                  fill, kInk, 1.2);
    } else if (!std::isnan(clipped.estimate)) {
      PaintMarker(painter, QPointF(x.Map(clipped.estimate), py), radius, MarkerShape::Circle, fill,
                  kInk, 1.2);
    }
    mark.flagged = std::isnan(clipped.estimate) || std::isnan(clipped.lower) ||
                   clipped.estimateClipped || clipped.lowerClipped || clipped.upperClipped;
    const QString note = HeritabilityNote(h);
    if (!note.isEmpty()) {
      painter.setFont(fonts.small);
      painter.setPen(kInk);
      painter.drawText(QRectF(plot.right() + line * 0.6, py - line / 2, noteWidth, line),
                       Qt::AlignLeft | Qt::AlignVCenter, note);
    }
    mark.tip =
        QStringLiteral("%1 (%2): %3, %4 interval %5")
            .arg(QString::fromStdString(h.name), HeritabilityMeaning(h.name), ValueText(h.estimate),
                 PercentText(data_.level), IntervalText(h.lower, h.upper));
    marks.push_back(mark);
  }
}

// ---------------------------------------------------------------------------------------
// A correlation matrix as a heat map.

class CorrelationHeatMap final : public Chart {
 public:
  CorrelationHeatMap(CorrelationChart data, int highlight, QString context)
      : data_(std::move(data)), highlight_(highlight), context_(std::move(context)) {}

  QString Title() const override {
    return QStringLiteral("Genetic correlations between traits: %1 effects")
        .arg(QString::fromStdString(data_.title).toLower());
  }

  QSizeF MinimumSize(const QFont& font) const override {
    const ChartFonts fonts(font);
    const qreal line = fonts.Line();
    const qreal n = std::max<qreal>(1, static_cast<qreal>(data_.traits.size()));
    const QSizeF cell = MinimumCell(fonts);
    return {2 * line + LabelWidth(fonts) + n * cell.width() + LegendWidth(fonts),
            HeaderHeight(fonts) + ColumnLabelHeight(fonts, cell.width()) + n * cell.height() +
                3 * line};
  }

  QSizeF LargestUsefulSize(const QFont& font) const override {
    const ChartFonts fonts(font);
    const qreal line = fonts.Line();
    const qreal n = std::max<qreal>(1, static_cast<qreal>(data_.traits.size()));
    const QSizeF cell(MinimumCell(fonts).width() * 2.2, MinimumCell(fonts).height() * 1.8);
    return {2 * line + LabelWidth(fonts) + n * cell.width() + LegendWidth(fonts),
            HeaderHeight(fonts) + ColumnLabelHeight(fonts, cell.width()) +
                std::max(n * cell.height(), line * 9.5) + 3 * line};
  }

  std::vector<ChartMark> Paint(QPainter& painter, const QRectF& area,
                               const QFont& font) const override;

 private:
  static QSizeF MinimumCell(const ChartFonts& fonts) {
    const qreal w = std::max(fonts.Width(QStringLiteral("-0.00"), fonts.text),
                             fonts.Width(QStringLiteral("(0.00)"), fonts.small));
    return {w + fonts.Line() * 0.8, QFontMetricsF(fonts.text).lineSpacing() +
                                        QFontMetricsF(fonts.small).lineSpacing() +
                                        fonts.Line() * 0.5};
  }
  static qreal HeaderHeight(const ChartFonts& fonts) {
    return fonts.Line() * 0.8 + QFontMetricsF(fonts.title).lineSpacing() +
           QFontMetricsF(fonts.small).lineSpacing() + fonts.Line() * 0.6;
  }
  qreal LabelWidth(const ChartFonts& fonts) const {
    qreal widest = 0;
    for (const std::string& name : data_.traits) {
      widest = std::max(widest, fonts.Width(QString::fromStdString(name), fonts.bold));
    }
    return widest + fonts.Line() * 0.8;
  }
  // Column labels stand upright when they are wider than a cell.
  bool UprightLabels(const ChartFonts& fonts, qreal cellWidth) const {
    return LabelWidth(fonts) - fonts.Line() * 0.8 > cellWidth - fonts.Line() * 0.3;
  }
  qreal ColumnLabelHeight(const ChartFonts& fonts, qreal cellWidth) const {
    return UprightLabels(fonts, cellWidth) ? LabelWidth(fonts) : fonts.Line() * 1.3;
  }
  static qreal LegendWidth(const ChartFonts& fonts) {
    return fonts.Width(QStringLiteral("undefined"), fonts.small) + fonts.Line() * 3.5;
  }

  CorrelationChart data_;
  int highlight_;
  QString context_;
};

std::vector<ChartMark> CorrelationHeatMap::Paint(QPainter& painter, const QRectF& area,
                                                 const QFont& font) const {
  const ChartFonts fonts(font);
  const qreal line = fonts.Line();
  const qreal margin = line * 0.8;
  painter.fillRect(area, Qt::white);
  const qreal top =
      PaintHeader(painter, area, fonts, Title(),
                  context_ + QStringLiteral(" \u2014 r with its standard error in brackets"));
  std::vector<ChartMark> marks;
  const int n = static_cast<int>(data_.traits.size());
  if (n == 0) return marks;

  // Square-ish cells as large as the area allows, never below their minimum.
  const QSizeF minimum = MinimumCell(fonts);
  const qreal labels = LabelWidth(fonts);
  const qreal availableWidth = area.width() - 2 * margin - labels - LegendWidth(fonts);
  qreal cellWidth = std::max(minimum.width(), availableWidth / n);
  const qreal columnLabels = ColumnLabelHeight(fonts, cellWidth);
  const qreal availableHeight = area.bottom() - top - columnLabels - 2 * line;
  qreal cellHeight = std::max(minimum.height(), availableHeight / n);
  // Cells no wider than 2.2 times their height and no taller than wide.
  // Cells grow with the window only so far: beyond about twice their minimum the numbers
  // would float in wide fields of colour, far from their labels.
  cellWidth = std::min(cellWidth, minimum.width() * 2.2);
  cellHeight = std::min(cellHeight, minimum.height() * 1.8);
  const QPointF origin(area.left() + margin + labels, top + ColumnLabelHeight(fonts, cellWidth));
  const bool upright = UprightLabels(fonts, cellWidth);

  // Labels of rows and columns.
  painter.setPen(kInk);
  for (int i = 0; i < n; ++i) {
    const QString name = QString::fromStdString(data_.traits[static_cast<std::size_t>(i)]);
    painter.setFont(i == highlight_ ? fonts.bold : fonts.text);
    painter.drawText(
        QRectF(area.left() + margin, origin.y() + i * cellHeight, labels - line * 0.5, cellHeight),
        Qt::AlignRight | Qt::AlignVCenter, name);
    const qreal cx = origin.x() + (i + 0.5) * cellWidth;
    if (upright) {
      painter.save();
      painter.translate(cx, origin.y() - line * 0.3);
      painter.rotate(-90);
      painter.drawText(QRectF(0, -cellWidth / 2, labels, cellWidth),
                       Qt::AlignLeft | Qt::AlignVCenter, name);
      painter.restore();
    } else {
      painter.drawText(QRectF(cx - cellWidth / 2, origin.y() - line * 1.3, cellWidth, line * 1.2),
                       Qt::AlignHCenter | Qt::AlignBottom, name);
    }
  }

  // The cells: colour for r, r and its SE written in them, hatching where r is undefined.
  const qreal hatch = std::max<qreal>(5, line * 0.45);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const CorrelationCell& cell = data_.Cell(i, j);
      const QRectF box(origin.x() + j * cellWidth, origin.y() + i * cellHeight, cellWidth,
                       cellHeight);
      ChartMark mark;
      mark.kind = ChartMark::Kind::Cell;
      mark.area = box;
      const QString rowName = QString::fromStdString(data_.traits[static_cast<std::size_t>(i)]);
      const QString columnName = QString::fromStdString(data_.traits[static_cast<std::size_t>(j)]);
      QString valueText, seText;
      QColor fill;
      if (i == j) {
        fill = QColor(250, 250, 250);
        valueText = QStringLiteral("1");
      } else if (!cell.Defined()) {
        fill = kUndefinedFill;
        mark.flagged = true;
      } else {
        fill = ToQColor(DivergingColour(cell.r));
        valueText = Signed(QString::number(cell.r, 'f', 2));
        seText = std::isfinite(cell.se)
                     ? QStringLiteral("(%1)").arg(QString::number(cell.se, 'f', 2))
                     : QStringLiteral("(nan)");
      }
      mark.colour = fill;
      painter.fillRect(box, fill);
      if (mark.flagged) PaintHatch(painter, box, hatch, QColor(150, 150, 150));
      painter.setPen(QPen(Qt::white, 1));
      painter.drawRect(box);
      if (!valueText.isEmpty()) {
        const bool dark = Luminance({fill.red(), fill.green(), fill.blue()}) < 0.33;
        painter.setPen(dark ? Qt::white : kInk);
        painter.setFont(fonts.text);
        const qreal textHeight = QFontMetricsF(fonts.text).lineSpacing();
        const qreal seHeight = seText.isEmpty() ? 0 : QFontMetricsF(fonts.small).lineSpacing();
        const qreal y0 = box.center().y() - (textHeight + seHeight) / 2;
        painter.drawText(QRectF(box.left(), y0, box.width(), textHeight), Qt::AlignCenter,
                         valueText);
        if (!seText.isEmpty()) {
          painter.setFont(fonts.small);
          painter.drawText(QRectF(box.left(), y0 + textHeight, box.width(), seHeight),
                           Qt::AlignCenter, seText);
        }
      }
      mark.tip = i == j ? rowName
                        : QStringLiteral("%1 with %2: r = %3, SE = %4")
                              .arg(rowName, columnName, ValueText(cell.r), ValueText(cell.se));
      if (mark.flagged) mark.tip += QStringLiteral(" (undefined)");
      marks.push_back(mark);
    }
  }
  if (highlight_ >= 0 && highlight_ < n) {
    painter.setPen(QPen(kInk, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(
        QRectF(origin.x(), origin.y() + highlight_ * cellHeight, n * cellWidth, cellHeight));
    painter.drawRect(
        QRectF(origin.x() + highlight_ * cellWidth, origin.y(), cellWidth, n * cellHeight));
  }

  // The legend: the colour scale from -1 to 1 and the hatched swatch of "undefined".
  const qreal legendLeft = origin.x() + n * cellWidth + line * 1.2;
  const qreal barWidth = line * 0.9;
  const qreal barHeight = std::max(line * 6, std::min(n * cellHeight, line * 12));
  const QRectF scale(legendLeft, origin.y() + line * 1.4, barWidth, barHeight);
  QLinearGradient gradient(scale.bottomLeft(), scale.topLeft());
  for (int k = 0; k <= 20; ++k) {
    gradient.setColorAt(k / 20.0, ToQColor(DivergingColour(-1 + k / 10.0)));
  }
  painter.fillRect(scale, gradient);
  painter.setPen(QPen(kInk, 1));
  painter.drawRect(scale);
  painter.setFont(fonts.small);
  for (double t : {-1.0, -0.5, 0.0, 0.5, 1.0}) {
    const qreal py = scale.bottom() - (t + 1) / 2 * scale.height();
    painter.drawLine(QPointF(scale.right(), py), QPointF(scale.right() + line * 0.25, py));
    painter.drawText(QRectF(scale.right() + line * 0.35, py - line / 2, line * 2.5, line),
                     Qt::AlignLeft | Qt::AlignVCenter, Signed(QString::number(t, 'g', 2)));
  }
  painter.setFont(fonts.italic);
  painter.drawText(QRectF(legendLeft, origin.y(), line * 3, line), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("r"));
  painter.setFont(fonts.small);
  const QRectF swatch(legendLeft, scale.bottom() + line, barWidth, barWidth);
  painter.fillRect(swatch, kUndefinedFill);
  PaintHatch(painter, swatch, hatch / 1.5, QColor(150, 150, 150));
  painter.setPen(QPen(kInk, 1));
  painter.drawRect(swatch);
  painter.drawText(
      QRectF(swatch.right() + line * 0.35, swatch.center().y() - line / 2, line * 5, line),
      Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("undefined"));
  return marks;
}

}  // namespace

QSizeF Chart::LargestUsefulSize(const QFont& /*font*/) const { return {1e6, 1e6}; }

std::unique_ptr<Chart> MakeMaleEffectPlot(MaleEffectChart data, QString context) {
  return std::make_unique<MaleEffectPlot>(std::move(data), std::move(context));
}

std::unique_ptr<Chart> MakeVariancePlot(VarianceChart data, QString context) {
  return std::make_unique<VariancePlot>(std::move(data), std::move(context));
}

std::unique_ptr<Chart> MakeCorrelationHeatMap(CorrelationChart data, int highlight,
                                              QString context) {
  return std::make_unique<CorrelationHeatMap>(std::move(data), highlight, std::move(context));
}

QImage RenderChart(const Chart& chart, const QFont& font, QSize size, qreal scale) {
  QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  chart.Paint(painter, QRectF(QPointF(0, 0), QSizeF(size)), font);
  painter.end();
  return image;
}

QSize SavedChartSize(const Chart& chart, const QFont& font, QSize shown) {
  return shown.boundedTo(chart.LargestUsefulSize(font).toSize())
      .expandedTo(chart.MinimumSize(font).toSize());
}

bool SaveChart(const Chart& chart, const QFont& font, QSize size, const QString& path,
               QString& error) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  QSaveFile file(path);
  if (suffix != QLatin1String("png") && suffix != QLatin1String("svg")) {
    error = QStringLiteral("A chart is saved as .png or .svg.");
    return false;
  }
  if (!file.open(QIODevice::WriteOnly)) {
    error = file.errorString();
    return false;
  }
  if (suffix == QLatin1String("png")) {
    // Twice the pixels, less for a very long chart (thousands of males): the image stays
    // within 50 million pixels and within the 32,000 pixels a side that QPainter draws.
    const qreal area = static_cast<qreal>(size.width()) * static_cast<qreal>(size.height());
    const qreal scale =
        std::min({2.0, std::sqrt(50e6 / std::max<qreal>(area, 1)),
                  32000.0 / std::max(1, size.width()), 32000.0 / std::max(1, size.height())});
    const QImage image = RenderChart(chart, font, size, scale);
    if (!image.save(&file, "PNG")) {
      error = QStringLiteral("The image could not be encoded.");
      file.cancelWriting();
      return false;
    }
  } else {
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(chart.Title());
    svg.setDescription(QStringLiteral("Quorvel chart"));
    QPainter painter;
    if (!painter.begin(&svg)) {
      error = QStringLiteral("The drawing could not be started.");
      file.cancelWriting();
      return false;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    chart.Paint(painter, QRectF(QPointF(0, 0), QSizeF(size)), font);
    painter.end();
  }
  if (!file.commit()) {
    error = file.errorString();
    return false;
  }
  return true;
}

std::vector<QLineF> HatchLines(const QRectF& rect, qreal spacing) {
  // Lines x + y = c for c from the top-left corner to the bottom-right, each cut to the
  // rectangle: it enters through the top or right edge and leaves through the left or
  // bottom edge.
  std::vector<QLineF> lines;
  if (spacing <= 0 || rect.isEmpty()) return lines;
  const qreal left = rect.left(), right = rect.right(), top = rect.top(), bottom = rect.bottom();
  for (qreal c = left + top + spacing / 2; c < right + bottom; c += spacing) {
    const QPointF start(std::min(right, c - top), std::max(top, c - right));
    const QPointF end(std::max(left, c - bottom), std::min(bottom, c - left));
    lines.emplace_back(start, end);
  }
  return lines;
}

}  // namespace quorvel
