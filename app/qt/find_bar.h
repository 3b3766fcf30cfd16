// The find bar under the report (Ctrl+F): the text to find, Previous and Next, and what
// the last search found. Enter finds the next match, Shift+Enter the previous one, Esc
// closes the bar.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;

namespace quorvel {

class FindBar : public QWidget {
  Q_OBJECT

 public:
  explicit FindBar(QWidget* parent = nullptr);

  QString Text() const;
  QLineEdit* Field() const { return field_; }
  // Shows the bar with the field focused and its text selected.
  void Open();
  // "3 of 12"-style or "Not found" after a search.
  void ShowOutcome(const QString& text, bool found);

 signals:
  // forward: Next (Enter, F3); otherwise Previous (Shift+Enter, Shift+F3).
  void findRequested(bool forward);
  void closed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLineEdit* field_;
  QToolButton* previous_;
  QToolButton* next_;
  QLabel* outcome_;
};

}  // namespace quorvel
