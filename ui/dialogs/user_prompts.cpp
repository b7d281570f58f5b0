#include "ui/dialogs/user_prompts.h"

#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace qv {

bool CUserPrompts::AskYesNo(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
  return box.exec() == QMessageBox::Yes;
}

void CUserPrompts::Refuse(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QString(), text);
}

std::optional<QColor> CUserPrompts::ChooseColour(QWidget* parent, const QColor& initial) {
  const QColor chosen = QColorDialog::getColor(initial, parent);  // Qt keeps the custom colours for the run
  if (!chosen.isValid()) return std::nullopt;
  return chosen;
}

QString CUserPrompts::ChooseValueFile(QWidget* parent, const QString& initial) {
  // A save dialog without the overwrite question: an existing file is the usual choice, and a
  // missing one (a new log file, say) may be named.
  return QFileDialog::getSaveFileName(parent, QString(), initial, QStringLiteral("*.*"), nullptr,
                                      QFileDialog::DontConfirmOverwrite);
}

QStringList CUserPrompts::ChooseExistingFiles(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileNames(parent, title, QString(), filter);
}

QString CUserPrompts::ChooseDatabaseFile(QWidget* parent, const QString& initial) {
  return QFileDialog::getSaveFileName(parent, QStringLiteral("Database File"), initial, QString(), nullptr,
                                      QFileDialog::DontConfirmOverwrite);
}

int CUserPrompts::RunDialog(QDialog& dialog) { return dialog.exec(); }

CUserPrompts& DefaultPrompts() {
  static CUserPrompts prompts;
  return prompts;
}

QColor ColourFromSetting(uint32_t colour) {
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF), static_cast<int>((colour >> 16) & 0xFF));
}

uint32_t SettingFromColour(const QColor& colour) {
  return static_cast<uint32_t>(colour.red()) | (static_cast<uint32_t>(colour.green()) << 8) |
         (static_cast<uint32_t>(colour.blue()) << 16);
}

}  // namespace qv
