// The About box: the application's icon, name and version and three lines about it.
#pragma once

#include <QDialog>

namespace quorvel {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace quorvel
