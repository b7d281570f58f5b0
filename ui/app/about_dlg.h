#pragma once
// "About Quorvel": the program's icon, its version line and "OK".

#include <QDialog>

namespace qv {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace qv
