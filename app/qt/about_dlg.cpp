// The About box.
#include "app/qt/about_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/qt/app_icon.h"
#include "app/qt/command_ids.h"

namespace quorvel {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(kAboutTitle));
  setModal(true);

  // Icon at the top left, the version line beside it, the three lines below that, and
  // the OK button centred at the bottom.
  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("aboutIcon"));
  icon->setPixmap(QuorvelIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* version = new QLabel(QString::fromLatin1(kAboutVersion), this);
  version->setObjectName(QStringLiteral("aboutVersion"));
  auto* text = new QLabel(QString::fromLatin1(kAboutText), this);
  text->setObjectName(QStringLiteral("aboutText"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->setCenterButtons(true);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(20, 20, 20, 14);
  layout->setHorizontalSpacing(18);
  layout->addWidget(icon, 0, 0, 2, 1);
  layout->addWidget(version, 0, 1);
  layout->addWidget(text, 1, 1);
  layout->addWidget(buttons, 2, 0, 1, 2);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace quorvel
