// The three charts of a result, painted with QPainter: the male effects as a caterpillar
// plot, the variance components and heritabilities, and a genetic correlation matrix as
// a heat map. Each chart lays itself out in the rectangle it is given, in logical pixels
// measured from the font it is given, so it reads the same on a screen at any scaling, in
// a PNG and in an SVG file.
#pragma once

#include <QFont>
#include <QImage>
#include <QRectF>
#include <QString>
#include <memory>
#include <vector>

#include "app/commands/chart_data.h"

class QPainter;

namespace quorvel {

// One thing a chart drew that stands for a number of the result: a male's row, a
// component's bar, a heritability's row, a cell of the matrix. The view shows `tip` when
// the pointer rests on `area`; the tests count and inspect them.
struct ChartMark {
  enum class Kind { MaleRow, ComponentBar, Heritability, Cell };
  Kind kind = Kind::MaleRow;
  QRectF area;
  // Where the value's own colour fills: a bar (empty for a value that is not a number).
  QRectF body;
  QString tip;
  // Drawn with a flag: an interval that is undefined, a value outside the 0-1 scale that
  // was clipped, a correlation that is undefined (a hatched cell).
  bool flagged = false;
  // Male rows: differs from the best male at p <= 0.05.
  bool significant = false;
  // The value's own colour where it has one (bars, markers, cells).
  QColor colour;
};

class Chart {
 public:
  virtual ~Chart() = default;
  // The chart's title, also the stem of the name it is saved under.
  virtual QString Title() const = 0;
  // The smallest size (logical pixels) at which every label and value stays legible.
  virtual QSizeF MinimumSize(const QFont& font) const = 0;
  // The size beyond which the chart only adds empty space; a saved chart is cut to it.
  virtual QSizeF LargestUsefulSize(const QFont& font) const;
  // Paints the chart into `area` on a white ground and tells what it drew.
  virtual std::vector<ChartMark> Paint(QPainter& painter, const QRectF& area,
                                       const QFont& font) const = 0;
};

// `context` is the line under the title: the model and the workbook.
std::unique_ptr<Chart> MakeMaleEffectPlot(MaleEffectChart data, QString context);
std::unique_ptr<Chart> MakeVariancePlot(VarianceChart data, QString context);
// `highlight` is the trait whose row and column are outlined (-1: none).
std::unique_ptr<Chart> MakeCorrelationHeatMap(CorrelationChart data, int highlight,
                                              QString context);

// The chart drawn at `size` logical pixels into an image of `scale` device pixels per
// logical pixel.
QImage RenderChart(const Chart& chart, const QFont& font, QSize size, qreal scale = 1);

// The size a chart shown at `shown` is saved at: the same, less the empty space beyond its
// largest useful size, never below its minimum.
QSize SavedChartSize(const Chart& chart, const QFont& font, QSize shown);

// Saves the chart drawn at `size` as PNG (at twice the pixels, sharp in print and on a
// slide; fewer for a chart so long that the image would pass 50 million pixels or 32,000
// a side) or as SVG, by the extension of `path` (.png or .svg, any case). False with
// `error` set when the file cannot be written or the extension is neither.
bool SaveChart(const Chart& chart, const QFont& font, QSize size, const QString& path,
               QString& error);

// The segments of a hatching at 45 degrees, `spacing` apart, clipped to `rect`: drawn as
// lines, so that it looks the same on the screen, in PNG and in SVG.
std::vector<QLineF> HatchLines(const QRectF& rect, qreal spacing);

}  // namespace quorvel
