#include "ui/dialogs/settings_file_dialogs.h"

#include <QFileDialog>
#include <memory>

namespace qv {

QFileDialog* MakeSettingsFileDialog(QWidget* parent, bool forExport) {
  auto* dialog = new QFileDialog(parent, forExport ? QStringLiteral("Export Settings") : QStringLiteral("Import Settings"));
  dialog->setAcceptMode(forExport ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog->setFileMode(forExport ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog->setNameFilter(QStringLiteral("Text Files (*.txt)"));
  dialog->setDefaultSuffix(QStringLiteral("txt"));
  dialog->selectFile(QStringLiteral("settings.txt"));
  return dialog;
}

QString ChooseSettingsFile(QWidget* parent, bool forExport) {
  std::unique_ptr<QFileDialog> dialog(MakeSettingsFileDialog(parent, forExport));
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
  return dialog->selectedFiles().front();
}

}  // namespace qv
