// The Charts view.
#include "app/qt/charts_view.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QScrollArea>
#include <QTabBar>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt/command_ids.h"

namespace quorvel {
namespace {

constexpr const char* kPngFilter = "PNG image (*.png)";
constexpr const char* kSvgFilter = "SVG drawing (*.svg)";

// A file name made of the words of a title: "Male effects on Trait1" -> "male_effects_on_trait1".
QString FileNameOf(const QString& title) {
  QString name;
  for (const QChar c : title.toLower()) {
    if (c.isLetterOrNumber() && c.unicode() < 128) {
      name += c;
    } else if (!name.isEmpty() && !name.endsWith(QLatin1Char('_'))) {
      name += QLatin1Char('_');
    }
  }
  while (name.endsWith(QLatin1Char('_'))) name.chop(1);
  return name.isEmpty() ? QStringLiteral("chart") : name;
}

}  // namespace

ChartCanvas::ChartCanvas(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
}

void ChartCanvas::SetChart(std::unique_ptr<Chart> chart) {
  chart_ = std::move(chart);
  marks_.clear();
  setMinimumSize(chart_ ? chart_->MinimumSize(font()).toSize() + QSize(1, 1) : QSize(0, 0));
  updateGeometry();
  update();
}

QSize ChartCanvas::sizeHint() const {
  return chart_ ? chart_->MinimumSize(font()).toSize() + QSize(1, 1) : QSize(400, 300);
}

void ChartCanvas::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  if (!chart_) {
    painter.fillRect(rect(), palette().base());
    marks_.clear();
    return;
  }
  marks_ = chart_->Paint(painter, QRectF(rect()), font());
}

bool ChartCanvas::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const auto found = std::find_if(marks_.begin(), marks_.end(), [help](const ChartMark& mark) {
      return mark.area.contains(help->pos());
    });
    if (found != marks_.end()) {
      QToolTip::showText(help->globalPos(), found->tip, this, found->area.toAlignedRect());
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return QWidget::event(event);
}

void ChartCanvas::contextMenuEvent(QContextMenuEvent* event) {
  if (!chart_) return;
  QMenu menu(this);
  connect(menu.addAction(QStringLiteral("Save Chart As...")), &QAction::triggered, this,
          &ChartCanvas::saveRequested);
  menu.exec(event->globalPos());
}

ChartsView::ChartsView(QWidget* parent)
    : QWidget(parent),
      kinds_(new QTabBar(this)),
      traitLabel_(new QLabel(QStringLiteral("&Trait:"), this)),
      traits_(new QComboBox(this)),
      matrixLabel_(new QLabel(QStringLiteral("&Effect:"), this)),
      matrices_(new QComboBox(this)),
      empty_(new QLabel(this)),
      scroll_(new QScrollArea(this)),
      canvas_(new ChartCanvas) {
  kinds_->addTab(QStringLiteral("&Males"));
  kinds_->addTab(QStringLiteral("&Variance"));
  kinds_->addTab(QStringLiteral("C&orrelations"));
  kinds_->setDrawBase(false);
  kinds_->setExpanding(false);
  traitLabel_->setBuddy(traits_);
  matrixLabel_->setBuddy(matrices_);
  traits_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  matrices_->setSizeAdjustPolicy(QComboBox::AdjustToContents);

  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(6, 4, 6, 0);
  bar->addWidget(kinds_);
  bar->addSpacing(16);
  bar->addWidget(traitLabel_);
  bar->addWidget(traits_);
  bar->addWidget(matrixLabel_);
  bar->addWidget(matrices_);
  bar->addStretch(1);

  scroll_->setWidget(canvas_);
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setBackgroundRole(QPalette::Base);
  empty_->setAlignment(Qt::AlignCenter);
  empty_->hide();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addLayout(bar);
  layout->addWidget(scroll_, 1);
  layout->addWidget(empty_, 1);

  connect(kinds_, &QTabBar::currentChanged, this, [this] { Rebuild(); });
  connect(traits_, &QComboBox::currentIndexChanged, this, [this] { Rebuild(); });
  connect(matrices_, &QComboBox::currentIndexChanged, this, [this] { Rebuild(); });
  connect(canvas_, &ChartCanvas::saveRequested, this, &ChartsView::SaveChartAs);
  Rebuild();
}

void ChartsView::SetResult(std::shared_ptr<const AnalysisResult> result, const QString& source,
                           const QString& folder, double fallbackLevel) {
  result_ = std::move(result);
  source_ = source;
  if (folder_.isEmpty() || !folder.isEmpty()) folder_ = folder;
  fallbackLevel_ = fallbackLevel;

  // The lists are refilled without a rebuild for each change; the choices made stay
  // where the new result has them.
  const int trait = traits_->currentIndex();
  const QString matrix = matrices_->currentText();
  {
    const QSignalBlocker blockTraits(traits_);
    const QSignalBlocker blockMatrices(matrices_);
    traits_->clear();
    matrices_->clear();
    if (result_) {
      for (const TraitResult& t : result_->traits) traits_->addItem(QString::fromStdString(t.name));
      for (const CorrelationChart& c : BuildCorrelationCharts(*result_)) {
        matrices_->addItem(QString::fromStdString(c.title));
      }
    }
    traits_->setCurrentIndex(std::clamp(trait, 0, traits_->count() - 1));
    const int m = matrices_->findText(matrix);
    matrices_->setCurrentIndex(m >= 0 ? m : 0);
  }
  Rebuild();
}

void ChartsView::Clear() { SetResult(nullptr, QString(), QString(), fallbackLevel_); }

ChartKind ChartsView::Kind() const { return static_cast<ChartKind>(kinds_->currentIndex()); }
void ChartsView::SetKind(ChartKind kind) { kinds_->setCurrentIndex(static_cast<int>(kind)); }
void ChartsView::SetTrait(int trait) { traits_->setCurrentIndex(trait); }
void ChartsView::SetMatrix(int matrix) { matrices_->setCurrentIndex(matrix); }

void ChartsView::Rebuild() {
  const ChartKind kind = Kind();
  const bool correlations = kind == ChartKind::Correlations;
  traitLabel_->setText(correlations ? QStringLiteral("Outline &trait:")
                                    : QStringLiteral("&Trait:"));
  matrixLabel_->setVisible(correlations);
  matrices_->setVisible(correlations);

  std::unique_ptr<Chart> chart;
  QString why;
  const int trait = traits_->currentIndex();
  if (!result_) {
    why = QStringLiteral("Run a model to see its charts.");
  } else if (result_->traits.empty()) {
    why = QStringLiteral("The data set has no trait to chart.");
  } else {
    const QString context = QStringLiteral("Model %1: %2 \u2014 %3")
                                .arg(ModelNumber(result_->kind))
                                .arg(QString::fromLatin1(ModelFormula(result_->kind)), source_);
    const int t = std::clamp(trait, 0, static_cast<int>(result_->traits.size()) - 1);
    switch (kind) {
      case ChartKind::Males:
        if (result_->maleCount > 0) {
          chart = MakeMaleEffectPlot(BuildMaleEffectChart(*result_, t, fallbackLevel_), context);
        } else {
          why = QStringLiteral("The model has no male effects to chart.");
        }
        break;
      case ChartKind::Variance:
        chart = MakeVariancePlot(BuildVarianceChart(*result_, t), context);
        break;
      case ChartKind::Correlations: {
        std::vector<CorrelationChart> matrices = BuildCorrelationCharts(*result_);
        const int m = matrices_->currentIndex();
        if (result_->traits.size() < 2 || matrices.empty() || m < 0 ||
            m >= static_cast<int>(matrices.size())) {
          why = QStringLiteral("Genetic correlations need at least two traits.");
        } else {
          chart =
              MakeCorrelationHeatMap(std::move(matrices[static_cast<std::size_t>(m)]), t, context);
        }
        break;
      }
    }
  }
  empty_->setText(why);
  empty_->setVisible(chart == nullptr);
  scroll_->setVisible(chart != nullptr);
  canvas_->SetChart(std::move(chart));
  // The canvas takes its new size at once, not at the scroll area's next layout, so that
  // its first paint is already at the size the chart needs.
  canvas_->resize(canvas_->minimumSize().expandedTo(scroll_->viewport()->size()));
}

QString ChartsView::SuggestedName() const {
  const Chart* chart = canvas_->CurrentChart();
  if (chart == nullptr) return {};
  QString stem = source_;
  if (const qsizetype dot = stem.lastIndexOf(QLatin1Char('.')); dot > 0) stem.truncate(dot);
  const QString title = FileNameOf(chart->Title());
  return stem.isEmpty() ? title : FileNameOf(stem) + QLatin1Char('_') + title;
}

void ChartsView::SaveChartAs() {
  const Chart* chart = canvas_->CurrentChart();
  if (chart == nullptr) return;
  QFileDialog dialog(window(), QStringLiteral("Save Chart As"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({QLatin1String(kPngFilter), QLatin1String(kSvgFilter)});
  dialog.setDefaultSuffix(QStringLiteral("png"));
  // The extension follows the type chosen in the dialog.
  connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
    dialog.setDefaultSuffix(filter == QLatin1String(kSvgFilter) ? QStringLiteral("svg")
                                                                : QStringLiteral("png"));
  });
  if (!folder_.isEmpty()) dialog.setDirectory(folder_);
  dialog.selectFile(SuggestedName() + QStringLiteral(".png"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().constFirst();
  folder_ = QFileInfo(path).absolutePath();

  QString error;
  // The chart as shown, without the empty space a large window leaves around a small one.
  const QSize size = SavedChartSize(*chart, canvas_->font(), canvas_->size());
  if (!SaveChart(*chart, canvas_->font(), size, path, error)) {
    QMessageBox box(
        QMessageBox::NoIcon, QString::fromLatin1(kAppName),
        QStringLiteral("%1 cannot be created!\n%2").arg(QDir::toNativeSeparators(path), error),
        QMessageBox::Ok, window());
    box.exec();
  }
}

}  // namespace quorvel
