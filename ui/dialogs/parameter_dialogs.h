#pragma once
// The two parameter dialogs of the rule editor's "Advanced" button: "E-Mail Parameters" for the
// mail action and "SNMP Trap Parameters" for the trap action. Each shows the values it is given
// and hands them back after OK; nothing is stored here.

#include <QDialog>

#include "ui/editors/trap_parameters.h"

class QCheckBox;
class QLineEdit;

namespace qv {

class CUserPrompts;

class CEmailParametersDialog : public QDialog {
  Q_OBJECT
 public:
  CEmailParametersDialog(const EmailParameters& parameters, QWidget* parent = nullptr);
  EmailParameters parameters() const;

 private:
  QLineEdit* subject_;
  QLineEdit* text_;
  QCheckBox* include_;
};

class CTrapParametersDialog : public QDialog {
  Q_OBJECT
 public:
  CTrapParametersDialog(const TrapParameters& parameters, CUserPrompts& prompts, QWidget* parent = nullptr);
  // Valid after the dialog was accepted.
  const TrapParameters& parameters() const { return parameters_; }

  void accept() override;
  // "Default": every field back to the defaults of a new rule.
  void ResetToDefaults();

 private:
  void Show(const TrapParameters& parameters);

  CUserPrompts& prompts_;
  TrapParameters parameters_;
  QLineEdit* community_;
  QLineEdit* senderOid_;
  QLineEdit* genericType_;
  QLineEdit* specificType_;
  QLineEdit* stringOid_;
  QLineEdit* text_;
};

}  // namespace qv
