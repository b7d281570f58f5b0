#include "ui/dialogs/user_prompts.h"

#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace qv {
namespace {

// A chooser over the files of `kind`; a program's chooser lists only executable files.
QStringList Choose(QWidget* parent, const QString& title, const QString& initial, FileKind kind,
                   QFileDialog::FileMode mode, QFileDialog::AcceptMode accept) {
  QFileDialog dialog(parent, title);
  dialog.setFileMode(mode);
  dialog.setAcceptMode(accept);
  // A rule's file or a database may be new; an existing one is the usual choice, so no
  // overwrite question.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setNameFilter(NameFilterText(kind));
  if (kind == FileKind::kProgram) dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
  if (!initial.isEmpty()) dialog.selectFile(initial);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString First(const QStringList& files) { return files.isEmpty() ? QString() : files.front(); }

}  // namespace

QString NameFilterText(FileKind kind) {
  QStringList filters;
  for (const std::string& filter : FileNameFilters(kind)) filters << QString::fromStdString(filter);
  return filters.join(QStringLiteral(";;"));
}

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

QString CUserPrompts::ChooseValueFile(QWidget* parent, const QString& initial, FileKind kind) {
  return First(Choose(parent, QString(), initial, kind, QFileDialog::AnyFile, QFileDialog::AcceptSave));
}

QString CUserPrompts::ChooseExistingFile(QWidget* parent, const QString& title, const QString& initial, FileKind kind) {
  return First(Choose(parent, title, initial, kind, QFileDialog::ExistingFile, QFileDialog::AcceptOpen));
}

QStringList CUserPrompts::ChooseExistingFiles(QWidget* parent, const QString& title, FileKind kind) {
  return Choose(parent, title, QString(), kind, QFileDialog::ExistingFiles, QFileDialog::AcceptOpen);
}

QString CUserPrompts::ChooseDatabaseFile(QWidget* parent, const QString& initial) {
  return First(Choose(parent, QStringLiteral("Database File"), initial, FileKind::kDatabase, QFileDialog::AnyFile,
                      QFileDialog::AcceptSave));
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
