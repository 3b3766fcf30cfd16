// The "Charts" view beside the report: a chart chosen by tab (Males, Variance,
// Correlations), the trait (or correlation matrix) chosen in a list, drawn as large as
// the window allows and scrollable when it needs more room; "Save Chart As..." from the
// File menu or the chart's context menu writes it as PNG or SVG.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "analysis/analysis_result.h"
#include "app/qt/chart_painter.h"

class QComboBox;
class QLabel;
class QScrollArea;
class QTabBar;

namespace quorvel {

enum class ChartKind { Males = 0, Variance = 1, Correlations = 2 };

// Paints one chart at its widget's size, never below the chart's minimum size.
class ChartCanvas : public QWidget {
  Q_OBJECT

 public:
  explicit ChartCanvas(QWidget* parent = nullptr);

  // Shows `chart` (null: nothing) and takes its minimum size.
  void SetChart(std::unique_ptr<Chart> chart);
  const Chart* CurrentChart() const { return chart_.get(); }
  // What the last paint drew.
  const std::vector<ChartMark>& Marks() const { return marks_; }
  QSize sizeHint() const override;

 signals:
  void saveRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  std::unique_ptr<Chart> chart_;
  std::vector<ChartMark> marks_;
};

class ChartsView : public QWidget {
  Q_OBJECT

 public:
  explicit ChartsView(QWidget* parent = nullptr);

  // Shows the charts of `result`; `source` is the workbook's file name, `folder` where the
  // first Save Chart As dialog starts, `fallbackLevel` the level of intervals the result
  // does not carry. The chart, trait and matrix chosen stay where they can.
  void SetResult(std::shared_ptr<const AnalysisResult> result, const QString& source,
                 const QString& folder, double fallbackLevel);
  void Clear();
  bool HasResult() const { return result_ != nullptr; }

  ChartKind Kind() const;
  void SetKind(ChartKind kind);
  // The trait of the Males and Variance charts, the trait outlined in the correlations.
  void SetTrait(int trait);
  // The correlation matrix shown (index in the result's list).
  void SetMatrix(int matrix);

  ChartCanvas* Canvas() const { return canvas_; }
  QTabBar* KindTabs() const { return kinds_; }
  QComboBox* TraitList() const { return traits_; }
  QComboBox* MatrixList() const { return matrices_; }

  // The file name proposed for the shown chart, without its extension.
  QString SuggestedName() const;

 public slots:
  // Asks for a .png or .svg file and saves the shown chart there at its shown size (less
  // the empty space a large window leaves around a small matrix).
  void SaveChartAs();

 private:
  void Rebuild();

  std::shared_ptr<const AnalysisResult> result_;
  QString source_;
  QString folder_;
  double fallbackLevel_ = 0.95;
  QTabBar* kinds_;
  QLabel* traitLabel_;
  QComboBox* traits_;
  QLabel* matrixLabel_;
  QComboBox* matrices_;
  QLabel* empty_;
  QScrollArea* scroll_;
  ChartCanvas* canvas_;
};

}  // namespace quorvel
