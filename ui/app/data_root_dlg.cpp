#include "ui/app/data_root_dlg.h"

#include <QPushButton>

namespace qv {

std::unique_ptr<QMessageBox> MakeDataRootDialog(const QString& question) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, "Quorvel", question);
  box->addButton("Use My Own Data Folder", QMessageBox::AcceptRole);
  QPushButton* quit = box->addButton("Quit", QMessageBox::RejectRole);
  box->setDefaultButton(quit);
  box->setEscapeButton(quit);
  return box;
}

bool AskToUseOwnDataRoot(const std::string& question) {
  const std::unique_ptr<QMessageBox> box = MakeDataRootDialog(QString::fromStdString(question));
  box->exec();
  return box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
}

}  // namespace qv
