// Times of the desktop program's charts as a user meets them: the real main window on
// Qt's offscreen platform runs Model 3, then the Charts view is built and painted. Two
// cases: the 10,000-row test workbook (100 males, 5 traits), and 300 males with 23
// traits generated in memory. Times are medians (and maxima) of repeated runs.
//
//   chart_bench [--runs N] [--save DIR]
//
// --save writes every chart of both cases as PNG into DIR, at the size the window shows.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/qt/charts_view.h"
#include "app/qt/main_frame.h"
#include "app/qt/quorvel_doc.h"
#include "app/qt/quorvel_view.h"
#include "numeric/distinct_levels.h"

namespace {

using quorvel::ChartKind;
using quorvel::ChartsView;
using quorvel::CMainFrame;

constexpr const char* kKindNames[] = {"Males", "Variance", "Correlations"};
const QSize kWindow(1180, 820);

struct Figures {
  double median = 0;
  double maximum = 0;
};

// Milliseconds of `runs` calls of `step`: median and maximum.
Figures Measure(int runs, const std::function<void(int)>& step) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    QElapsedTimer clock;
    clock.start();
    step(r);
    times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back()};
}

// Runs Model 3 in the window and waits for the hand-off; returns the seconds it took.
double RunModel3(CMainFrame& frame) {
  quorvel::CQuorvelView* view = frame.GetActiveView();
  QElapsedTimer clock;
  clock.start();
  view->OnModel3();
  while (view->GetSession().runInProgress) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(2);
  }
  return static_cast<double>(clock.elapsed()) / 1000.0;
}

// 300 males x 2 females x 3 progeny, 23 traits sharing male and female effects.
quorvel::DesignData ManyMalesManyTraits() {
  constexpr int kMales = 300, kFemales = 2, kProgeny = 3, kTraits = 23;
  std::mt19937_64 random(7);
  std::normal_distribution<double> normal;
  quorvel::DesignData data;
  data.kind = quorvel::ModelKind::Nested;
  data.factorCount = 2;
  data.factorNames = {"Male", "Female", "", ""};
  data.traitCount = kTraits;
  data.factorCodes.assign(2, {});
  data.traitValues.assign(kTraits, {});
  for (int m = 0; m < kMales; ++m) {
    const double male = normal(random);
    for (int f = 0; f < kFemales; ++f) {
      const double female = 0.8 * normal(random);
      for (int k = 0; k < kProgeny; ++k) {
        data.factorCodes[0].push_back(m + 1);
        data.factorCodes[1].push_back(f + 1);
        for (int t = 0; t < kTraits; ++t) {
          const double sign = t % 3 == 2 ? -1 : 1;
          data.traitValues[static_cast<std::size_t>(t)].push_back(
              20 + t + sign * (0.5 + 0.05 * t) * male + 0.6 * female + 1.5 * normal(random));
        }
      }
    }
  }
  data.observationCount = static_cast<int>(data.factorCodes[0].size());
  for (int f = 0; f < 2; ++f) {
    data.levelCodes[static_cast<std::size_t>(f)] =
        quorvel::DistinctLevels(data.factorCodes[static_cast<std::size_t>(f)]);
    data.levelCounts[static_cast<std::size_t>(f)] =
        static_cast<int>(data.levelCodes[static_cast<std::size_t>(f)].size());
  }
  return data;
}

void SaveAll(ChartsView& charts, const QString& folder, const QString& stem) {
  QDir().mkpath(folder);
  for (int k = 0; k < 3; ++k) {
    charts.SetKind(static_cast<ChartKind>(k));
    const int variants = k == 2 ? std::max(1, charts.MatrixList()->count()) : 1;
    for (int v = 0; v < variants; ++v) {
      if (k == 2) charts.SetMatrix(v);
      const quorvel::Chart* chart = charts.Canvas()->CurrentChart();
      if (chart == nullptr) continue;
      const QString path = QStringLiteral("%1/%2-%3%4.png")
                               .arg(folder, stem, QString::fromLatin1(kKindNames[k]).toLower(),
                                    k == 2 ? QStringLiteral("-%1").arg(v) : QString());
      QString error;
      if (!quorvel::SaveChart(*chart, charts.Canvas()->font(), charts.Canvas()->size(), path,
                              error)) {
        std::fprintf(stderr, "chart_bench: %s: %s\n", qPrintable(path), qPrintable(error));
      }
    }
  }
}

// The figures of one case whose result the window shows.
void ReportCase(CMainFrame& frame, const char* name, int runs, const QString& saveFolder) {
  quorvel::Session& session = frame.GetActiveView()->GetSession();
  const auto result = session.shownResult;
  if (!result) {
    std::printf("%s: no result\n", name);
    return;
  }
  std::printf("%s: %d observations, %d males, %zu traits\n", name, result->observationCount,
              result->maleCount, result->traits.size());

  // Opening: a new Charts view given the result, laid out and painted at the window's size.
  for (int k = 0; k < 3; ++k) {
    const Figures open = Measure(runs, [&](int) {
      ChartsView charts;
      charts.resize(kWindow - QSize(0, 70));
      charts.SetResult(result, QStringLiteral("bench.xls"), QString(), 0.95);
      charts.SetKind(static_cast<ChartKind>(k));
      (void)charts.grab();
    });
    std::printf("  open %-12s median %7.1f ms   max %7.1f ms\n", kKindNames[k], open.median,
                open.maximum);
  }

  // Following the user: the window's Charts tab, a trait (or matrix) chosen after another.
  frame.Tabs()->setCurrentWidget(frame.Charts());
  ChartsView& charts = *frame.Charts();
  const int traits = static_cast<int>(result->traits.size());
  for (int k = 0; k < 3; ++k) {
    charts.SetKind(static_cast<ChartKind>(k));
    const Figures change = Measure(std::max(runs, traits), [&](int r) {
      charts.SetTrait(r % traits);
      charts.Canvas()->repaint();
    });
    std::printf("  next trait %-7s median %7.1f ms   max %7.1f ms   (%s chart %dx%d)\n",
                kKindNames[k], change.median, change.maximum, kKindNames[k],
                charts.Canvas()->width(), charts.Canvas()->height());
  }
  charts.SetKind(ChartKind::Males);
  const Figures resize = Measure(runs, [&](int r) {
    frame.resize(kWindow - QSize(r % 2 == 0 ? 200 : 0, r % 2 == 0 ? 150 : 0));
    QCoreApplication::processEvents();
    charts.Canvas()->repaint();
  });
  std::printf("  resize + repaint Males  median %7.1f ms   max %7.1f ms\n", resize.median,
              resize.maximum);
  frame.resize(kWindow);
  QCoreApplication::processEvents();
  if (!saveFolder.isEmpty()) SaveAll(charts, saveFolder, QString::fromLatin1(name));
  frame.Tabs()->setCurrentWidget(frame.GetActiveView());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QStandardPaths::setTestModeEnabled(true);  // never the user's own settings
  QApplication app(argc, argv);
  int runs = 15;
  QString saveFolder;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--runs") == 0 && k + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++k]));
    } else if (std::strcmp(argv[k], "--save") == 0 && k + 1 < argc) {
      saveFolder = QString::fromLocal8Bit(argv[++k]);
    } else {
      std::fprintf(stderr, "usage: chart_bench [--runs N] [--save DIR]\n");
      return 2;
    }
  }

  QTemporaryDir folder;
  quorvel::CQuorvelDoc document;
  CMainFrame frame(&document);
  frame.resize(kWindow);
  frame.show();
  frame.GetActiveView()->OnInitialUpdate();
  quorvel::Session& session = frame.GetActiveView()->GetSession();

  const QString workbook = folder.filePath(QStringLiteral("nested_10000.xls"));
  QFile::copy(QStringLiteral(QUORVEL_TEST_DATA "/xls/fixtures/nested_10000.lo.xls"), workbook);
  frame.GetActiveView()->OpenGivenWorkbook(workbook);
  std::printf("nested_10000: run and hand-off %.2f s\n", RunModel3(frame));
  ReportCase(frame, "nested_10000", runs, saveFolder);

  session.designData = std::make_shared<const quorvel::DesignData>(ManyMalesManyTraits());
  session.state.dataFileName = "males300.xls";
  std::printf("males300_traits23: run and hand-off %.2f s\n", RunModel3(frame));
  ReportCase(frame, "males300_traits23", runs, saveFolder);
  return 0;
}
