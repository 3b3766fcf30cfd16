// The find bar.
#include "app/qt/find_bar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>

namespace quorvel {

FindBar::FindBar(QWidget* parent)
    : QWidget(parent),
      field_(new QLineEdit(this)),
      previous_(new QToolButton(this)),
      next_(new QToolButton(this)),
      outcome_(new QLabel(this)) {
  auto* label = new QLabel(QStringLiteral("Find:"), this);
  label->setBuddy(field_);
  field_->setObjectName(QStringLiteral("findField"));
  field_->setClearButtonEnabled(true);
  field_->setMinimumWidth(field_->fontMetrics().averageCharWidth() * 28);
  previous_->setText(QStringLiteral("Previous"));
  previous_->setToolTip(QStringLiteral("Find the previous match (Shift+F3)"));
  next_->setText(QStringLiteral("Next"));
  next_->setToolTip(QStringLiteral("Find the next match (F3)"));
  auto* close = new QToolButton(this);
  close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
  close->setToolTip(QStringLiteral("Close the find bar (Esc)"));
  close->setAutoRaise(true);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(6, 3, 6, 3);
  layout->addWidget(label);
  layout->addWidget(field_);
  layout->addWidget(previous_);
  layout->addWidget(next_);
  layout->addWidget(outcome_, 1);
  layout->addWidget(close);

  connect(field_, &QLineEdit::returnPressed, this, [this] { emit findRequested(true); });
  connect(field_, &QLineEdit::textChanged, this, [this] { outcome_->clear(); });
  connect(next_, &QToolButton::clicked, this, [this] { emit findRequested(true); });
  connect(previous_, &QToolButton::clicked, this, [this] { emit findRequested(false); });
  connect(close, &QToolButton::clicked, this, [this] {
    hide();
    emit closed();
  });
  hide();
}

QString FindBar::Text() const { return field_->text(); }

void FindBar::Open() {
  show();
  field_->setFocus(Qt::ShortcutFocusReason);
  field_->selectAll();
}

void FindBar::ShowOutcome(const QString& text, bool found) {
  outcome_->setText(text);
  QPalette colours = outcome_->palette();
  colours.setColor(QPalette::WindowText,
                   found ? palette().color(QPalette::WindowText) : QColor(170, 20, 20));
  outcome_->setPalette(colours);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    hide();
    emit closed();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & Qt::ShiftModifier)) {
    emit findRequested(false);
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace quorvel
