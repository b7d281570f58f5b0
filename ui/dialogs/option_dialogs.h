#pragma once
// "Preferences" (pages "General", "Reception" and "Forwarding and Viewers") and "Email Settings". Both read their
// settings when opened and write them on OK; Cancel discards the edits, except Preferences' severity colours, which are stored the
// moment they are chosen. After either closes the caller does its follow-up steps: for
// Preferences (on OK) the frame's hide flag, the document's resolve flag, the history size and
// apply settings, and (after OK or Cancel) a repaint when coloursChanged(); for Email Settings
// a restart of a running service.
//
// Email Settings' "Send Test Mail" sends one mail with the values in the dialog, stored or not,
// on a thread of its own (the window stays live), and shows the outcome with the server's last
// reply below the button.

#include <QDialog>

#include <memory>

#include "ui/editors/preferences.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;

namespace qv {

class CUserPrompts;

class CPreferencesDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CPreferencesDialog(CUserPrompts& prompts, QWidget* parent = nullptr);

  void accept() override;
  // The values written by OK.
  const PreferencesFields& fields() const { return fields_; }
  // A colour was set or reset, or "Show times as UTC" was clicked: the list must be redrawn.
  bool coloursChanged() const { return coloursChanged_; }

 private:
  QWidget* BuildReceptionPage(QWidget* history);
  QWidget* BuildLinksPage();
  // A row of `form` with a PEM file's name and a button opening the file chooser on it.
  QLineEdit* PemRow(QFormLayout* form, const char* label, const char* objectName, const char* title);
  void ShowReception(const ReceptionFields& fields);
  ReceptionFields TypedReception() const;
  void ShowSwatch(uint32_t colour);
  void OnSeverityChosen(int severity);
  void OnSetColour();
  void OnResetColour();

  CUserPrompts& prompts_;
  PreferencesFields fields_;
  bool coloursChanged_ = false;
  QLineEdit* maxsize_;
  QComboBox* dblclick_;
  QCheckBox* resolve_;
  QCheckBox* resolvetextip_;
  QCheckBox* timeutc_;
  QLineEdit* udpport_;
  QLineEdit* timemark_;
  QLineEdit* historysize_;
  QCheckBox* loadhistory_;
  QLineEdit* msgboxtime_;
  QCheckBox* startHidden_;
  QCheckBox* startserver_;
  QCheckBox* promptforsave_;
  QCheckBox* maildebug_;
  QComboBox* severity_;
  QFrame* swatch_;
  QTabWidget* tabs_;
  QCheckBox* rfc5424_;
  QCheckBox* rfc5424sd_;
  QCheckBox* lenient_;
  QCheckBox* yearfix_;
  QCheckBox* ipv6_;
  QLineEdit* tcpport_;
  QLineEdit* tcpmaxconn_;
  QLineEdit* tlsport_;
  QLineEdit* tlscert_;
  QLineEdit* tlskey_;
  QLineEdit* tlsca_;
  QLineEdit* forwardqueue_;
  QLineEdit* forwardca_;
  QLineEdit* forwardcert_;
  QLineEdit* forwardkey_;
  QLineEdit* viewerport_;
  QLineEdit* viewercert_;
  QLineEdit* viewerkey_;
  QLineEdit* viewerca_;
};

class CTestMail;

class CEmailSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CEmailSettingsDialog(CUserPrompts& prompts, QWidget* parent = nullptr);
  ~CEmailSettingsDialog() override;
  void accept() override;

 private:
  // The dialog's values; nullopt (the port field refused and focused) when the port is wrong.
  std::optional<EmailSettings> Typed();
  void OnSecurityChosen(int security);
  void OnSendTestMail();
  void OnTestMailTick();

  CUserPrompts& prompts_;
  std::unique_ptr<CTestMail> testMail_;
  QLineEdit* server_;
  QLineEdit* port_;
  QComboBox* security_;
  QLineEdit* user_;
  QLineEdit* password_;
  QCheckBox* verify_;
  QLineEdit* testRecipient_;
  QPushButton* sendTest_;
  QLabel* testResult_;
  QTimer* testTimer_;
  QLineEdit* from_;
  QLineEdit* domain_;
  QLineEdit* subject_;
  QLineEdit* text_;
  QCheckBox* include_;
};

}  // namespace qv
