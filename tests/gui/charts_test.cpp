// The charts of real results: every test workbook the analysis accepts is analysed and
// each of its charts drawn offscreen; one known feature per chart is read back from the
// pixels (a marker row per male, a bar per component in its colour, a hatched cell per
// undefined correlation); charts draw alike at twice the scale and save as PNG and SVG.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <map>
#include <memory>

#include "analysis/analyze_design.h"
#include "app/commands/open_command.h"
#include "app/qt/chart_painter.h"
#include "app/qt/charts_view.h"
#include "tests/support/fake_platform.h"

namespace quorvel {
namespace {

struct AnalysedFixture {
  QString name;
  std::shared_ptr<const AnalysisResult> result;
};

// Every test workbook the import accepts with at least one trait, analysed.
std::vector<AnalysedFixture> AnalyseFixtures() {
  std::vector<AnalysedFixture> fixtures;
  const QDir folder(QStringLiteral(QUORVEL_TEST_DATA "/xls/fixtures"));
  QTemporaryDir scratch;
  for (const QString& name : folder.entryList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name)) {
    FakePlatform platform;
    AppState state;
    state.dataFolder = scratch.path().toStdString() + "/";
    std::shared_ptr<const DesignData> data = std::make_shared<const DesignData>();
    if (!ImportWorkbook(state, data, platform, folder.filePath(name).toStdString())) continue;
    if (data->traitCount == 0) continue;
    AnalysisOptions options;
    options.diagnostics = nullptr;
    fixtures.push_back(
        {name, std::make_shared<const AnalysisResult>(AnalyzeDesign(*data, options))});
  }
  return fixtures;
}

bool Near(QRgb pixel, const QColor& colour, int tolerance) {
  return std::abs(qRed(pixel) - colour.red()) <= tolerance &&
         std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
         std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

std::vector<ChartMark> PaintMarks(const Chart& chart, const QFont& font, QSize size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&image);
  return chart.Paint(painter, QRectF(QPointF(0, 0), QSizeF(size)), font);
}

}  // namespace

class ChartsTest : public QObject {
  Q_OBJECT

 private:
  const AnalysedFixture& Fixture(const QString& name) const {
    const auto found = std::find_if(fixtures_.begin(), fixtures_.end(),
                                    [&](const AnalysedFixture& f) { return f.name == name; });
    if (found == fixtures_.end()) qFatal("no analysed fixture %s", qPrintable(name));
    return *found;
  }

  std::vector<AnalysedFixture> fixtures_;
  QFont font_;

 private slots:
  void initTestCase();
  void everyChartOfEveryFixtureDraws();
  void malesChartHasAMarkerRowPerMale();
  void varianceChartHasABarPerComponentAndFlagsMissingIntervals();
  void correlationChartHatchesEveryUndefinedCell();
  void chartsDrawAlikeAtTwiceTheScale();
  void chartsSaveAsPngAndSvg();
  void hatchingStaysInsideItsCell();
};

void ChartsTest::initTestCase() {
  fixtures_ = AnalyseFixtures();
  // Every layout is among them, with the two largest trait counts.
  QVERIFY(fixtures_.size() >= 20);
  std::map<ModelKind, int> kinds;
  for (const AnalysedFixture& f : fixtures_) ++kinds[f.result->kind];
  QCOMPARE(kinds.size(), std::size_t{3});
  QCOMPARE(Fixture(QStringLiteral("traits_23.gn.xls")).result->traits.size(), std::size_t{23});
  font_ = QApplication::font();
}

// Each chart kind, each trait and each matrix, at a window's size: drawn, with as many
// marks as numbers to show and a tip for each.
void ChartsTest::everyChartOfEveryFixtureDraws() {
  for (const AnalysedFixture& fixture : fixtures_) {
    const AnalysisResult& result = *fixture.result;
    ChartsView view;
    view.resize(900, 640);
    view.SetResult(fixture.result, fixture.name, QString(), 0.95);
    const int traits = static_cast<int>(result.traits.size());
    for (int t = 0; t < traits; ++t) {
      view.SetTrait(t);
      view.SetKind(ChartKind::Males);
      QVERIFY(!view.Canvas()->grab().isNull());
      QCOMPARE(view.Canvas()->Marks().size(), static_cast<std::size_t>(result.maleCount));
      view.SetKind(ChartKind::Variance);
      QVERIFY(!view.Canvas()->grab().isNull());
      const RandomTraitResult& random = result.traits[static_cast<std::size_t>(t)].random;
      QCOMPARE(view.Canvas()->Marks().size(),
               random.components.size() + random.heritabilities.size());
      view.SetKind(ChartKind::Correlations);
      for (int m = 0; m < view.MatrixList()->count(); ++m) {
        view.SetMatrix(m);
        QVERIFY(!view.Canvas()->grab().isNull());
        QCOMPARE(view.Canvas()->Marks().size(), static_cast<std::size_t>(traits * traits));
      }
      if (traits < 2) QVERIFY(view.Canvas()->CurrentChart() == nullptr);  // says why instead
    }
    for (const ChartMark& mark : view.Canvas()->Marks()) QVERIFY(!mark.tip.isEmpty());
    QVERIFY2(!view.SuggestedName().isEmpty() || traits < 2, qPrintable(fixture.name));
  }
}

// Scanning the plot from top to bottom, the rows holding a marker colour form one run per
// male, and one more for the legend's markers.
void ChartsTest::malesChartHasAMarkerRowPerMale() {
  for (const QString& name :
       {QStringLiteral("nested_unbalanced.lo.xls"), QStringLiteral("nested_10000.lo.xls"),
        QStringLiteral("repeat_unbalanced.gn.xls")}) {
    const AnalysisResult& result = *Fixture(name).result;
    const std::unique_ptr<Chart> chart =
        MakeMaleEffectPlot(BuildMaleEffectChart(result, 0, 0.95), name);
    const QSize size = chart->MinimumSize(font_).toSize().expandedTo(QSize(900, 500));
    const QImage image = RenderChart(*chart, font_, size);
    const std::vector<ChartMark> marks = PaintMarks(*chart, font_, size);
    QCOMPARE(marks.size(), static_cast<std::size_t>(result.maleCount));
    std::vector<QColor> colours;
    for (const ChartMark& mark : marks) {
      if (std::find(colours.begin(), colours.end(), mark.colour) == colours.end())
        colours.push_back(mark.colour);
    }
    int runs = 0;
    int lastMarker = -100;
    for (int y = 0; y < image.height(); ++y) {
      bool marker = false;
      for (int x = 0; x < image.width() && !marker; ++x) {
        for (const QColor& colour : colours) marker = marker || Near(image.pixel(x, y), colour, 12);
      }
      // A run goes on over gaps of a few pixels (the hollow ring's thin sides).
      if (marker) {
        if (y - lastMarker > 4) ++runs;
        lastMarker = y;
      }
    }
    QCOMPARE(runs, result.maleCount + 1);
    // The best male leads and is the only one of its kind.
    QVERIFY(marks.front().tip.contains(QStringLiteral("estimate")));
    QCOMPARE(std::count_if(marks.begin(), marks.end(),
                           [&](const ChartMark& m) { return m.colour == marks.front().colour; }),
             1);
  }
}

void ChartsTest::varianceChartHasABarPerComponentAndFlagsMissingIntervals() {
  for (const QString& name :
       {QStringLiteral("nested_balanced.lo.xls"), QStringLiteral("blocked_unbalanced.lo.xls"),
        QStringLiteral("repeat_balanced.lo.xls")}) {
    const AnalysisResult& result = *Fixture(name).result;
    const VarianceChart data = BuildVarianceChart(result, 0);
    const std::unique_ptr<Chart> chart = MakeVariancePlot(data, name);
    const QSize size = chart->MinimumSize(font_).toSize();
    const QImage image = RenderChart(*chart, font_, size);
    const std::vector<ChartMark> marks = PaintMarks(*chart, font_, size);
    int bars = 0;
    for (std::size_t k = 0; k < marks.size(); ++k) {
      const ChartMark& mark = marks[k];
      if (mark.kind != ChartMark::Kind::ComponentBar) continue;
      const EstimateWithInterval& component = data.components[static_cast<std::size_t>(bars)];
      QCOMPARE(mark.flagged, !component.IntervalDefined());
      ++bars;
      // A bar of some height is filled with its colour beside the whisker at its middle,
      // and the mark covers the whisker too.
      const QRectF bar = mark.body;
      QVERIFY(mark.area.contains(bar));
      if (bar.height() < 8) continue;
      const QPoint inside(static_cast<int>(bar.left()) + 4, static_cast<int>(bar.center().y()));
      QVERIFY2(Near(image.pixel(inside), mark.colour, 2),
               qPrintable(QStringLiteral("%1 bar %2").arg(name).arg(bars)));
    }
    QCOMPARE(bars, static_cast<int>(data.components.size()));
    QCOMPARE(marks.size() - static_cast<std::size_t>(bars), data.heritabilities.size());
  }
}

// A hatched cell shows the hatching's grey; a defined cell its diverging colour.
void ChartsTest::correlationChartHatchesEveryUndefinedCell() {
  int undefinedSeen = 0;
  for (const AnalysedFixture& fixture : fixtures_) {
    for (const CorrelationChart& data : BuildCorrelationCharts(*fixture.result)) {
      if (data.traits.size() < 2) continue;
      const std::unique_ptr<Chart> chart = MakeCorrelationHeatMap(data, -1, fixture.name);
      const QSize size = chart->MinimumSize(font_).toSize();
      const QImage image = RenderChart(*chart, font_, size);
      const std::vector<ChartMark> marks = PaintMarks(*chart, font_, size);
      const int n = static_cast<int>(data.traits.size());
      int hatched = 0;
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
          // A cell's top-left corner holds no text: grey there is the hatching's.
          const QRect box =
              marks[static_cast<std::size_t>(i * n + j)].area.toRect().adjusted(2, 2, -2, -2);
          int grey = 0;
          for (int y = box.top(); y < box.top() + 7; ++y) {
            for (int x = box.left(); x < box.left() + 7; ++x) {
              const QRgb p = image.pixel(x, y);
              const bool neutral =
                  std::abs(qRed(p) - qGreen(p)) < 4 && std::abs(qGreen(p) - qBlue(p)) < 4;
              grey += neutral && qGray(p) >= 110 && qGray(p) <= 215;
            }
          }
          if (i != j && grey > 2) ++hatched;
          const CorrelationCell& cell = data.Cell(i, j);
          if (i != j && cell.Defined()) {
            const ChartColour expected = DivergingColour(cell.r);
            QVERIFY(Near(image.pixel(box.topLeft() + QPoint(1, 1)),
                         QColor(expected.red, expected.green, expected.blue), 2));
          }
        }
      }
      QCOMPARE(hatched, data.undefinedCount);
      undefinedSeen += hatched;
    }
  }
  QVERIFY(undefinedSeen > 0);  // the fixtures do have undefined correlations
}

void ChartsTest::chartsDrawAlikeAtTwiceTheScale() {
  const AnalysisResult& result = *Fixture(QStringLiteral("blocked_balanced.lo.xls")).result;
  std::vector<std::unique_ptr<Chart>> charts;
  charts.push_back(MakeMaleEffectPlot(BuildMaleEffectChart(result, 1, 0.95), QString()));
  charts.push_back(MakeVariancePlot(BuildVarianceChart(result, 1), QString()));
  charts.push_back(MakeCorrelationHeatMap(BuildCorrelationCharts(result).front(), 1, QString()));
  for (const auto& chart : charts) {
    const QSize size = chart->MinimumSize(font_).toSize();
    const QImage once = RenderChart(*chart, font_, size, 1);
    const QImage twice = RenderChart(*chart, font_, size, 2);
    QCOMPARE(twice.size(), size * 2);
    // The same picture: the darker pixels of the small one lie where the large one is dark.
    int compared = 0, agreeing = 0;
    for (int y = 0; y < size.height(); y += 3) {
      for (int x = 0; x < size.width(); x += 3) {
        if (qGray(once.pixel(x, y)) > 60) continue;
        ++compared;
        int darkest = 255;
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx)
            darkest = std::min(darkest, qGray(twice.pixel(2 * x + dx, 2 * y + dy)));
        agreeing += darkest < 140;
      }
    }
    QVERIFY(compared > 100);
    QVERIFY2(agreeing > compared * 9 / 10, qPrintable(chart->Title()));
  }
}

void ChartsTest::chartsSaveAsPngAndSvg() {
  const AnalysisResult& result = *Fixture(QStringLiteral("nested_unbalanced.lo.xls")).result;
  const std::unique_ptr<Chart> chart =
      MakeCorrelationHeatMap(BuildCorrelationCharts(result).front(), 0, QString());
  const QSize size(640, 420);
  QTemporaryDir folder;
  QString error;
  const QString png = folder.filePath(QStringLiteral("chart.PNG"));
  QVERIFY2(SaveChart(*chart, font_, size, png, error), qPrintable(error));
  const QImage image(png);
  QCOMPARE(image.size(), size * 2);

  const QString svg = folder.filePath(QStringLiteral("chart.svg"));
  QVERIFY2(SaveChart(*chart, font_, size, svg, error), qPrintable(error));
  QSvgRenderer renderer(svg);
  QVERIFY(renderer.isValid());
  QCOMPARE(renderer.viewBox(), QRect(QPoint(0, 0), size));
  QFile file(svg);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QVERIFY(file.readAll().contains("Genetic correlations between traits: male effects"));

  // Thousands of males: the PNG gives up pixels rather than pass what QPainter can draw.
  MaleEffectChart many;
  for (int m = 0; m < 2500; ++m) {
    many.rows.push_back({"M" + std::to_string(m), m, 2500.0 - m, 2400.0 - m, 2600.0 - m});
  }
  const std::unique_ptr<Chart> tall = MakeMaleEffectPlot(many, QString());
  const QSize tallSize = tall->MinimumSize(font_).toSize();
  QVERIFY(tallSize.height() > 32000);
  const QString tallPng = folder.filePath(QStringLiteral("tall.png"));
  QVERIFY2(SaveChart(*tall, font_, tallSize, tallPng, error), qPrintable(error));
  const QImage tallImage(tallPng);
  QVERIFY(tallImage.height() <= 32000);
  QVERIFY(static_cast<double>(tallImage.width()) * tallImage.height() <= 50e6);

  QVERIFY(!SaveChart(*chart, font_, size, folder.filePath(QStringLiteral("chart.gif")), error));
  QVERIFY(!error.isEmpty());
  QVERIFY(
      !SaveChart(*chart, font_, size, folder.filePath(QStringLiteral("missing/chart.png")), error));
  QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("missing/chart.png"))));
}

void ChartsTest::hatchingStaysInsideItsCell() {
  const QRectF cell(10.5, 20, 40, 25);
  const std::vector<QLineF> lines = HatchLines(cell, 6);
  QVERIFY(std::abs(static_cast<double>(lines.size()) - (cell.width() + cell.height()) / 6) <= 1);
  const QRectF slack = cell.adjusted(-1e-9, -1e-9, 1e-9, 1e-9);
  for (const QLineF& line : lines) {
    QVERIFY(slack.contains(line.p1()) && slack.contains(line.p2()));
    QVERIFY(qAbs(qAbs(line.dx()) - qAbs(line.dy())) < 1e-9);  // 45 degrees
  }
  QVERIFY(HatchLines(QRectF(), 6).empty());
}

}  // namespace quorvel

int main(int argc, char** argv) {
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  quorvel::ChartsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "charts_test.moc"
