#pragma once
// What the option dialogs ask of the user beyond their own controls: yes/no questions, the
// refusal of a field, and the desktop's colour and file choosers. The dialogs reach these only
// through this interface, so that tests can answer in place of a person; DefaultPrompts() uses
// QMessageBox, QColorDialog and QFileDialog. Used on the user-interface thread only.

#include <QColor>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "ui/editors/file_kinds.h"

class QDialog;
class QWidget;

namespace qv {

class CUserPrompts {
 public:
  virtual ~CUserPrompts() = default;
  // A question with Yes and No and the exclamation icon; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text);
  // A field's refusal ("Please enter a positive integer."), an information box.
  virtual void Refuse(QWidget* parent, const QString& text);
  // The colour chooser, fully opened at `initial`; nothing when cancelled. The 16 custom
  // colours last for the program's run.
  virtual std::optional<QColor> ChooseColour(QWidget* parent, const QColor& initial);
  // Each chooser opens on the files of its kind (FileNameFilters); empty when cancelled.
  // One existing or new file for a rule's value.
  virtual QString ChooseValueFile(QWidget* parent, const QString& initial, FileKind kind);
  // One existing file.
  virtual QString ChooseExistingFile(QWidget* parent, const QString& title, const QString& initial, FileKind kind);
  // Several existing files ("File Select").
  virtual QStringList ChooseExistingFiles(QWidget* parent, const QString& title, FileKind kind);
  // A database file for SQLite's driver, which may not exist yet.
  virtual QString ChooseDatabaseFile(QWidget* parent, const QString& initial);
  // Runs a sub-dialog (the rule editor's parameter dialogs) modally; its result code.
  virtual int RunDialog(QDialog& dialog);
};

CUserPrompts& DefaultPrompts();

// FileNameFilters(kind) as one QFileDialog filter text ("A (*.a);;All Files (*)").
QString NameFilterText(FileKind kind);

// Colours as the settings store them (red in the lowest byte) and as Qt holds them.
QColor ColourFromSetting(uint32_t colour);
uint32_t SettingFromColour(const QColor& colour);

}  // namespace qv
