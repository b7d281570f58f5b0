// The editing dialogs without a display: each driven through its controls, with the settings it
// stores read back. Questions, refusals and choosers are answered by FakePrompts.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <functional>

#include "core/message/syslog_header.h"
#include "core/settings/settings_store.h"
#include "reception/syslog_receivers.h"
#include "rules/mail/smtp_test_server.h"
#include "testing/test_certificates.h"
#include "rules/rule.h"
#include "testing/postgres_server.h"
#include "testing/temp_home.h"
#include "ui/dialogs/database_settings_dialog.h"
#include "ui/dialogs/monitor_list_dialogs.h"
#include "ui/dialogs/option_dialogs.h"
#include "ui/dialogs/parameter_dialogs.h"
#include "ui/dialogs/rule_editor_dialog.h"
#include "ui/dialogs/settings_file_dialogs.h"
#include "ui/dialogs/user_prompts.h"
#include "ui/editors/database_setup.h"

namespace qv {
namespace {

class FakePrompts : public CUserPrompts {
 public:
  bool AskYesNo(QWidget*, const QString& caption, const QString& text) override {
    questions << caption + "|" + text;
    return answer;
  }
  void Refuse(QWidget*, const QString& text) override { refusals << text; }
  std::optional<QColor> ChooseColour(QWidget*, const QColor& initial) override {
    initialColour = initial;
    return colour;
  }
  QString ChooseValueFile(QWidget*, const QString&, FileKind kind) override {
    kinds.push_back(kind);
    return file;
  }
  QString ChooseExistingFile(QWidget*, const QString&, const QString&, FileKind kind) override {
    kinds.push_back(kind);
    return file;
  }
  QStringList ChooseExistingFiles(QWidget*, const QString&, FileKind kind) override {
    kinds.push_back(kind);
    return files;
  }
  QString ChooseDatabaseFile(QWidget*, const QString&) override { return file; }
  int RunDialog(QDialog& dialog) override { return runDialog ? runDialog(dialog) : QDialog::Rejected; }

  bool answer = true;
  QStringList questions;
  QStringList refusals;
  std::optional<QColor> colour;
  QColor initialColour;
  QString file;
  QStringList files;
  std::vector<FileKind> kinds;  // asked of the file choosers, in order
  std::function<int(QDialog&)> runDialog;
};

const CSettingsStore& Store() { return AppSettings(); }

template <typename T>
T* Child(QObject* parent, const char* name) {
  T* child = parent->findChild<T*>(QString::fromLatin1(name));
  if (child == nullptr) qFatal("no child %s", name);
  return child;
}

void Click(QObject* parent, const char* button) { QTest::mouseClick(Child<QPushButton>(parent, button), Qt::LeftButton); }

void Type(QObject* parent, const char* edit, const QString& text) {
  QLineEdit* line = Child<QLineEdit>(parent, edit);
  line->selectAll();
  QTest::keyClick(line, Qt::Key_Delete);
  QTest::keyClicks(line, text);
}

// Chooses an entry as the user would, so that the combo box reports it as activated.
void Choose(QObject* parent, const char* combo, int index) {
  QComboBox* box = Child<QComboBox>(parent, combo);
  box->setCurrentIndex(index);
  emit box->activated(index);
}

int ActionRow(int32_t code) {
  for (std::size_t row = 0; row < kRuleActions.size(); ++row) {
    if (kRuleActions[row].code == code) return static_cast<int>(row);
  }
  return -1;
}

void StoreRules(const QStringList& names) {
  for (int n = 0; n < names.size(); ++n) {
    CRule rule;
    rule.Name = names[n].toStdString();
    rule.Save(RuleSectionName(n));
  }
  Store().SetInt("Settings", "rulescount", static_cast<int32_t>(names.size()));
}

QStringList ListTexts(QListWidget* list) {
  QStringList texts;
  for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
  return texts;
}

// A drag that enters `target`, moves to `at` and drops there.
void Drop(QWidget* target, const QPoint& at, QMimeData* data) {
  QDragEnterEvent enter(at, Qt::MoveAction | Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QDragMoveEvent move(at, Qt::MoveAction | Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &move);
  QDropEvent drop(QPointF(at), Qt::MoveAction | Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void ruleEditorDragsAddsAndSavesInListOrder() {
    qv::testing::TempHome home;
    StoreRules({"one", "two", "three"});
    FakePrompts prompts;
    CRuleEditorDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* list = Child<CRuleNameList>(&dialog, "rules");
    QCOMPARE(ListTexts(list), QStringList({"one", "two", "three"}));
    QVERIFY(!Child<QPushButton>(&dialog, "addModify")->isEnabled());

    // The third rule dragged onto the first.
    list->setCurrentRow(2);
    std::unique_ptr<QMimeData> dragged(list->model()->mimeData({list->currentIndex()}));
    Drop(list->viewport(), list->visualItemRect(list->item(0)).center(), dragged.get());
    QCOMPARE(ListTexts(list), QStringList({"three", "one", "two"}));
    QCOMPARE(list->currentRow(), 0);

    // A new rule "Modify Severity" to "Warning or Higher".
    Type(&dialog, "name", "severity");
    QVERIFY(Child<QPushButton>(&dialog, "addModify")->isEnabled());
    Choose(&dialog, "action", ActionRow(kActionModifySeverity));
    QCOMPARE(Child<QGroupBox>(&dialog, "valueGroup")->title(), QString("Severity"));
    QVERIFY(Child<QComboBox>(&dialog, "valueList")->isVisibleTo(&dialog));
    QVERIFY(!Child<QLineEdit>(&dialog, "value")->isVisibleTo(&dialog));
    Choose(&dialog, "valueList", 12);
    QCOMPARE(Child<QComboBox>(&dialog, "valueList")->currentText(), QString("Warning or Higher"));
    Type(&dialog, "threshold", "604801");
    Click(&dialog, "addModify");
    QCOMPARE(prompts.refusals, QStringList({"Please enter an integer between 0 and 604800."}));
    QCOMPARE(list->count(), 3);
    Type(&dialog, "threshold", "60");
    Click(&dialog, "addModify");
    QCOMPARE(ListTexts(list), QStringList({"three", "one", "two", "severity"}));

    // "Save to file" takes a file name and, beside it, a file format that starts at the record line.
    Click(&dialog, "newRule");
    Type(&dialog, "name", "json");
    Choose(&dialog, "action", ActionRow(kActionSaveToFile));
    QVERIFY(Child<QLineEdit>(&dialog, "value")->isVisibleTo(&dialog));
    QVERIFY(Child<QPushButton>(&dialog, "chooseFile")->isVisibleTo(&dialog));
    QVERIFY(Child<QComboBox>(&dialog, "valueList")->isVisibleTo(&dialog));
    QCOMPARE(Child<QComboBox>(&dialog, "valueList")->currentText(), QString("Record line"));
    Type(&dialog, "value", "/var/log/quorvel/%Y%m%d.json");
    Choose(&dialog, "valueList", 3);
    Click(&dialog, "addModify");

    // A trap rule whose parameters come from "Advanced".
    Click(&dialog, "newRule");
    QCOMPARE(Child<QLineEdit>(&dialog, "name")->text(), QString());
    QCOMPARE(Child<QGroupBox>(&dialog, "valueGroup")->title(), QString("Message"));
    Type(&dialog, "name", "trap");
    Choose(&dialog, "action", ActionRow(kActionSnmpTrap));
    QVERIFY(Child<QPushButton>(&dialog, "advanced")->isVisibleTo(&dialog));
    Type(&dialog, "value", "nms.example.org");
    prompts.runDialog = [](QDialog& parameters) {
      Child<QLineEdit>(&parameters, "community")->setText("changed");
      Click(&parameters, "default");  // back to "public" everywhere
      Child<QLineEdit>(&parameters, "senderOid")->setText("1.3.6.1.4.1.9");
      Child<QLineEdit>(&parameters, "specificType")->setText("x");
      parameters.accept();  // refused: not a number
      if (parameters.result() == QDialog::Accepted) return int(QDialog::Rejected);
      Child<QLineEdit>(&parameters, "specificType")->setText("42");
      parameters.accept();
      return parameters.result();
    };
    Click(&dialog, "advanced");
    QCOMPARE(prompts.refusals.size(), 2);
    // OK with the rule not yet added asks first; Yes adds it, then everything is saved.
    dialog.accept();
    QCOMPARE(prompts.questions, QStringList({"Changes might be lost!|Save changes?"}));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    QCOMPARE(Store().GetInt("Settings", "rulescount", 0), 6);
    QCOMPARE(Store().GetString("Rules\\rule0", "Name"), std::string("three"));
    QCOMPARE(Store().GetString("Rules\\rule3", "Name"), std::string("severity"));
    QCOMPARE(Store().GetInt("Rules\\rule3", "Action", 0), int(kActionModifySeverity));
    QCOMPARE(Store().GetInt("Rules\\rule3", "ActionInt", 0), 12);
    QCOMPARE(Store().GetInt("Rules\\rule3", "ThreshSecs", 0), 60);
    QCOMPARE(Store().GetInt("Rules\\rule4", "Action", 0), int(kActionSaveToFile));
    QCOMPARE(Store().GetInt("Rules\\rule4", "ActionInt", 0), 3);
    QCOMPARE(Store().GetString("Rules\\rule4", "ActionValue"), std::string("/var/log/quorvel/%Y%m%d.json"));
    QCOMPARE(Store().GetString("Rules\\rule5", "SNMPCommunity"), std::string("public"));
    QCOMPARE(Store().GetString("Rules\\rule5", "SNMPSenderOid"), std::string("1.3.6.1.4.1.9"));
    QCOMPARE(Store().GetInt("Rules\\rule5", "SNMPSpecificType", 0), 42);
    QCOMPARE(Store().GetString("Rules\\rule5", "ActionValue"), std::string("nms.example.org"));
  }

  void ruleEditorLoadsAsksAndDiscardsWhenClosedByItsFrame() {
    qv::testing::TempHome home;
    StoreRules({"disk", "link"});
    FakePrompts prompts;
    CRuleEditorDialog dialog(prompts);
    auto* list = Child<CRuleNameList>(&dialog, "rules");
    emit list->itemDoubleClicked(list->item(0));
    QCOMPARE(Child<QLineEdit>(&dialog, "name")->text(), QString("disk"));
    QVERIFY(prompts.questions.isEmpty());

    // A changed field, then another rule: "Save changes?"; No keeps the old text.
    Type(&dialog, "message", "disk full");
    prompts.answer = false;
    emit list->itemDoubleClicked(list->item(1));
    QCOMPARE(prompts.questions.size(), 1);
    QCOMPARE(Child<QLineEdit>(&dialog, "name")->text(), QString("link"));
    emit list->itemDoubleClicked(list->item(0));
    QCOMPARE(Child<QLineEdit>(&dialog, "message")->text(), QString());

    // Mail parameters through "Advanced", and Yes this time.
    Choose(&dialog, "action", ActionRow(kActionSendMail));
    prompts.runDialog = [](QDialog& parameters) {
      Child<QLineEdit>(&parameters, "subject")->setText("Disk on $host");
      Child<QCheckBox>(&parameters, "include")->setChecked(false);
      return int(QDialog::Accepted);
    };
    Click(&dialog, "advanced");
    prompts.answer = true;
    emit list->itemDoubleClicked(list->item(1));
    QCOMPARE(prompts.questions.size(), 2);

    // Clear All asks first; No keeps the rows.
    prompts.answer = false;
    Click(&dialog, "clearAll");
    QCOMPARE(prompts.questions.last(), QString("Warning!|This Will Delete all the rules.  Are you sure?"));
    QCOMPARE(list->count(), 2);
    prompts.answer = true;
    Click(&dialog, "clearAll");
    QCOMPARE(list->count(), 0);

    dialog.reject();  // the window's close box
    QCOMPARE(Store().GetInt("Settings", "rulescount", 0), 2);
    QCOMPARE(Store().GetInt("Rules\\rule0", "Action", 6), 6);

    CRuleEditorDialog again(prompts);
    emit Child<CRuleNameList>(&again, "rules")->itemDoubleClicked(Child<CRuleNameList>(&again, "rules")->item(0));
    Choose(&again, "action", ActionRow(kActionSendMail));
    Click(&again, "addModify");
    Click(&again, "ok");
    QCOMPARE(Store().GetInt("Rules\\rule0", "Action", 6), int(kActionSendMail));
    QCOMPARE(Store().GetInt("Rules\\rule0", "EMailInclude", 1), 1);  // the edits of the closed dialog are gone
  }

  // "Save changes?" on a double-click: Add/Modify refills the list, and the clicked rule must
  // still be the one loaded and selected.
  void ruleEditorLoadsTheClickedRuleAfterSavingTheEditedOne() {
    struct Case {
      bool yes;
      QStringList listed;
    };
    for (const Case& c : {Case{true, {"disk", "link", "fan"}}, Case{false, {"disk", "link"}}}) {
      qv::testing::TempHome home;
      StoreRules({"disk", "link"});
      FakePrompts prompts;
      prompts.answer = c.yes;
      CRuleEditorDialog dialog(prompts);
      auto* list = Child<CRuleNameList>(&dialog, "rules");
      Type(&dialog, "name", "fan");
      Type(&dialog, "message", "fan stopped");
      emit list->itemDoubleClicked(list->item(1));
      QCOMPARE(prompts.questions, QStringList({"Changes might be lost!|Save changes?"}));
      QCOMPARE(ListTexts(list), c.listed);
      QCOMPARE(list->currentRow(), 1);
      QCOMPARE(Child<QLineEdit>(&dialog, "name")->text(), QString("link"));
      QCOMPARE(Child<QLineEdit>(&dialog, "message")->text(), QString());
      Click(&dialog, "ok");
      QCOMPARE(Store().GetInt("Settings", "rulescount", 0), int(c.listed.size()));
      if (c.yes) QCOMPARE(Store().GetString("Rules\\rule2", "Message"), std::string("fan stopped"));
    }
  }

  // Cancel discards like the window's frame; "&Delete Rule" needs a listed rule as well as a
  // name; "..." offers the files the action uses.
  void ruleEditorCancelsDeletesOnlyListedRulesAndChoosesFilesByAction() {
    qv::testing::TempHome home;
    StoreRules({"one"});
    FakePrompts prompts;
    CRuleEditorDialog dialog(prompts);
    auto* list = Child<CRuleNameList>(&dialog, "rules");
    auto* deleteRule = Child<QPushButton>(&dialog, "deleteRule");
    QVERIFY(!deleteRule->isEnabled());
    emit list->itemDoubleClicked(list->item(0));
    QVERIFY(deleteRule->isEnabled());
    Click(&dialog, "deleteRule");
    QCOMPARE(list->count(), 0);
    QCOMPARE(Child<QLineEdit>(&dialog, "name")->text(), QString("one"));
    QVERIFY(!deleteRule->isEnabled());
    Type(&dialog, "name", "two");
    QVERIFY(!deleteRule->isEnabled());
    QVERIFY(Child<QPushButton>(&dialog, "addModify")->isEnabled());

    const struct {
      int32_t action;
      FileKind kind;
    } choosers[] = {{kActionRunProgram, FileKind::kProgram}, {kActionSaveToFile, FileKind::kTextLog}, {kActionPlaySound, FileKind::kSound}};
    prompts.file = "/usr/share/sounds/alert.wav";
    for (const auto& chooser : choosers) {
      Choose(&dialog, "action", ActionRow(chooser.action));
      Click(&dialog, "chooseFile");
      QVERIFY(prompts.kinds.back() == chooser.kind);
    }
    QCOMPARE(Child<QLineEdit>(&dialog, "value")->text(), prompts.file);
    Click(&dialog, "addModify");
    QVERIFY(deleteRule->isEnabled());
    Click(&dialog, "cancel");
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(prompts.questions.isEmpty());
    QCOMPARE(Store().GetInt("Settings", "rulescount", 0), 1);
    QCOMPARE(Store().GetString("Rules\\rule0", "Name"), std::string("one"));
  }

  // Every field, list and button of the option dialogs says what it does (the dialog's own OK
  // and Cancel excepted).
  void everyFieldOfTheOptionDialogsHasATooltip() {
    qv::testing::TempHome home;
    StoreRules({"one"});
    FakePrompts prompts;
    CPreferencesDialog preferences(prompts);
    CEmailSettingsDialog email(prompts);
    CRuleEditorDialog rules(prompts);
    CEmailParametersDialog mail(EmailParameters::Defaults());
    CTrapParametersDialog trap(TrapParameters{}, prompts);
    CFileListDialog files(prompts);
    CPingListDialog pings(prompts);
    for (QDialog* dialog : std::initializer_list<QDialog*>{&preferences, &email, &rules, &mail, &trap, &files, &pings}) {
      int fields = 0;
      for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        const bool field = qobject_cast<QLineEdit*>(widget) || qobject_cast<QAbstractButton*>(widget) ||
                           qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractItemView*>(widget) ||
                           widget->objectName() == "swatch";
        // The parts of a combo box or tab bar and the dialog's own button box belong to their owners.
        bool part = false;
        for (QWidget* owner = widget->parentWidget(); owner != dialog && owner != nullptr; owner = owner->parentWidget()) {
          part = part || qobject_cast<QComboBox*>(owner) || qobject_cast<QDialogButtonBox*>(owner) ||
                 qobject_cast<QAbstractItemView*>(owner) || qobject_cast<QTabBar*>(owner);
        }
        if (!field || part) continue;
        ++fields;
        const QString label = qobject_cast<QAbstractButton*>(widget) ? qobject_cast<QAbstractButton*>(widget)->text()
                                                                    : widget->objectName();
        QVERIFY2(!widget->toolTip().isEmpty(), qPrintable(dialog->windowTitle() + ": " + label));
      }
      QVERIFY2(fields >= 3, qPrintable(dialog->windowTitle()));
    }
  }

  void monitorListsTakeDroppedFilesAndKeepTheirRanges() {
    qv::testing::TempHome home;
    FakePrompts prompts;
    CFileListDialog files(prompts);
    files.show();
    QVERIFY(QTest::qWaitForWindowExposed(&files));
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile("/var/log/syslog"), QUrl::fromLocalFile("/etc/hosts")});
    Child<QCheckBox>(&files, "log")->setChecked(true);
    Drop(&files, QPoint(10, 10), &dropped);
    Child<QCheckBox>(&files, "log")->setChecked(false);
    prompts.files = {"/etc/passwd"};
    Click(&files, "browse");
    auto* tree = Child<QTreeWidget>(&files, "files");
    QCOMPARE(tree->topLevelItemCount(), 3);
    QVERIFY(prompts.kinds == std::vector<FileKind>{FileKind::kTextLog});
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("/etc/passwd"));
    QCOMPARE(tree->topLevelItem(1)->text(1), QString("Yes"));
    tree->topLevelItem(2)->setSelected(true);
    QCOMPARE(Child<QLineEdit>(&files, "path")->text(), QString("/var/log/syslog"));
    QVERIFY(Child<QCheckBox>(&files, "log")->isChecked());
    tree->clearSelection();
    tree->topLevelItem(0)->setSelected(true);
    Click(&files, "delete");
    files.accept();
    QCOMPARE(Store().GetInt("Settings", "filecount", 0), 2);
    QCOMPARE(Store().GetString("Files", "file0"), std::string("/etc/hosts"));
    QCOMPARE(Store().GetInt("Files", "filelog1", 0), 1);

    CPingListDialog pings(prompts);
    for (const char* host : {"switch", "Router", "SWITCH", ""}) {
      Type(&pings, "host", host);
      Click(&pings, "add");
    }
    QCOMPARE(ListTexts(Child<QListWidget>(&pings, "hosts")), QStringList({"Router", "switch"}));
    QCOMPARE(Child<QLineEdit>(&pings, "timeout")->text(), QString("5000"));
    Type(&pings, "timeout", "49");
    pings.accept();
    QCOMPARE(prompts.refusals.last(), QString("Please enter an integer between 50 and 30000."));
    QCOMPARE(pings.result(), int(QDialog::Rejected));
    Type(&pings, "timeout", "50");
    Type(&pings, "pollPeriod", "3600");
    pings.accept();
    QCOMPARE(pings.result(), int(QDialog::Accepted));
    QCOMPARE(Store().GetInt("Settings", "pingcount", 0), 2);
    QCOMPARE(Store().GetString("Pings", "ping0"), std::string("Router"));
    QCOMPARE(Store().GetInt("Settings", "pingtimeout", 0), 50);
    QCOMPARE(Store().GetInt("Settings", "pingpoll", 0), 3600);
  }

  void preferencesRefuseBadFieldsAndKeepColoursOnCancel() {
    qv::testing::TempHome home;
    FakePrompts prompts;
    {
      CPreferencesDialog dialog(prompts);
      QCOMPARE(Child<QLineEdit>(&dialog, "udpport")->text(), QString("514"));
      QCOMPARE(Child<QComboBox>(&dialog, "dblclick")->currentText(), QString("Find"));
      QCOMPARE(Child<QComboBox>(&dialog, "severity")->currentIndex(), -1);
      Type(&dialog, "udpport", "40000");
      dialog.accept();
      QCOMPARE(prompts.refusals, QStringList({"Please enter an integer between 1 and 32767."}));
      QCOMPARE(dialog.result(), int(QDialog::Rejected));
      Click(&dialog, "defaultPort");
      QCOMPARE(Child<QLineEdit>(&dialog, "udpport")->text(), QString("514"));
      Type(&dialog, "timemark", "60001");
      dialog.accept();
      QCOMPARE(prompts.refusals.last(), QString("Please enter an integer between 0 and 60000."));
      Type(&dialog, "timemark", "5");
      Type(&dialog, "maxsize", "12x");
      dialog.accept();
      QCOMPARE(prompts.refusals.last(), QString("Please enter a positive integer."));
      Type(&dialog, "maxsize", "5000");
      Child<QCheckBox>(&dialog, "startHidden")->click();
      dialog.accept();
      QCOMPARE(dialog.result(), int(QDialog::Accepted));
      QVERIFY(dialog.fields().startHidden);
      QVERIFY(!dialog.coloursChanged());
    }
    QCOMPARE(Store().GetInt("Settings", "hideifmini", 0), 1);
    QCOMPARE(Store().GetInt("Settings", "startminimized", 0), 1);
    QCOMPARE(Store().GetInt("Settings", "maxsize", 0), 5000);
    QCOMPARE(Store().GetInt("Settings", "timemark", 0), 5);

    // Set Color stores at once; Cancel keeps it and still asks for a repaint.
    CPreferencesDialog dialog(prompts);
    Child<QComboBox>(&dialog, "severity")->setCurrentIndex(3);
    prompts.colour = QColor(1, 2, 3);
    Click(&dialog, "setColour");
    QCOMPARE(prompts.initialColour, QColor(255, 192, 192));  // the default of "Error"
    QCOMPARE(Store().GetInt("Settings", "color3", 0), 0x030201);
    QCOMPARE(Child<QFrame>(&dialog, "swatch")->palette().color(QPalette::Window), QColor(1, 2, 3));
    Child<QComboBox>(&dialog, "severity")->setCurrentIndex(4);
    Click(&dialog, "setColour");
    Click(&dialog, "resetColour");
    QCOMPARE(Store().GetInt("Settings", "color4", 0), 0xC0FFFF);
    dialog.reject();
    QVERIFY(dialog.coloursChanged());
    QCOMPARE(Store().GetInt("Settings", "color3", 0), 0x030201);
  }

  // The "Reception" page: a refusal shows its page, the PEM fields have their choosers, and OK
  // stores what the receivers read when listening starts.
  void preferencesReceptionPageRefusesOnItsPageAndStoresWhatTheReceiversRead() {
    qv::testing::TempHome home;
    FakePrompts prompts;
    CPreferencesDialog dialog(prompts);
    auto* pages = Child<QTabWidget>(&dialog, "pages");
    QCOMPARE(pages->tabText(1), QString("Reception"));
    QCOMPARE(Child<QLineEdit>(&dialog, "tcpmaxconn")->text(), QString("1000"));
    QVERIFY(Child<QCheckBox>(&dialog, "lenient")->isChecked());
    pages->setCurrentIndex(1);
    Type(&dialog, "tlsport", "6514");
    pages->setCurrentIndex(0);
    dialog.accept();
    QCOMPARE(prompts.refusals.last(), QString("Syslog over TLS needs a certificate file (PEM), or a TLS port of 0."));
    QCOMPARE(pages->currentIndex(), 1);
    prompts.file = "/etc/quorvel/cert.pem";
    Click(&dialog, "tlscertChoose");
    prompts.file = "/etc/quorvel/key.pem";
    Click(&dialog, "tlskeyChoose");
    QVERIFY(prompts.kinds == (std::vector<FileKind>{FileKind::kPem, FileKind::kPem}));
    Type(&dialog, "tcpport", "6514");
    pages->setCurrentIndex(0);
    dialog.accept();
    QCOMPARE(prompts.refusals.last(), QString("The TCP and TLS ports must differ."));
    QCOMPARE(pages->currentIndex(), 1);
    Type(&dialog, "tcpport", "1601");
    Child<QCheckBox>(&dialog, "yearfix")->click();
    Child<QCheckBox>(&dialog, "ipv6")->click();
    // A refusal on the third page shows it, with the field that is missing.
    QCOMPARE(pages->tabText(2), QString("Forwarding and Viewers"));
    prompts.file = "/etc/quorvel/edge.key";
    Click(&dialog, "forwardkeyChoose");
    pages->setCurrentIndex(0);
    dialog.accept();
    QCOMPARE(prompts.refusals.last(), QString("A private key for forwarding needs its client certificate file (PEM)."));
    QCOMPARE(pages->currentIndex(), 2);
    QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(Child<QLineEdit>(&dialog, "forwardcert")));
    Type(&dialog, "forwardcert", "/etc/quorvel/edge.pem");
    Type(&dialog, "viewerport", "6600");
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Store().GetString("Settings", "forwardcert"), std::string("/etc/quorvel/edge.pem"));
    QCOMPARE(Store().GetInt("Settings", "viewerport", 0), 6600);
    const ReceiverSettings receivers = ReceiverSettings::Read();
    QCOMPARE(receivers.tcpPort, 1601);
    QCOMPARE(receivers.tlsPort, 6514);
    QVERIFY(receivers.ipv6);
    QCOMPARE(receivers.tlsCertificate, std::string("/etc/quorvel/cert.pem"));
    QCOMPARE(receivers.tlsKey, std::string("/etc/quorvel/key.pem"));
    QVERIFY(ReadParseOptions().yearFix);
    QCOMPARE(Store().GetInt("Settings", "udpport", 0), 514);  // the other page is written too
  }

  void emailSettingsWriteTheSixKeys() {
    qv::testing::TempHome home;
    Store().SetString("Settings", "mailtext", "old");
    FakePrompts prompts;
    CEmailSettingsDialog dialog(prompts);
    QCOMPARE(Child<QLineEdit>(&dialog, "text")->text(), QString("old"));
    QVERIFY(Child<QCheckBox>(&dialog, "include")->isChecked());
    Type(&dialog, "server", "smtp.example.org");
    Type(&dialog, "from", "q@example.org");
    Type(&dialog, "domain", "example.org");
    Type(&dialog, "subject", "Syslog alert");
    Type(&dialog, "text", "");
    Child<QCheckBox>(&dialog, "include")->click();
    dialog.accept();
    QCOMPARE(Store().GetString("Settings", "mailserver"), std::string("smtp.example.org"));
    QCOMPARE(Store().GetString("Settings", "mailfrom"), std::string("q@example.org"));
    QCOMPARE(Store().GetString("Settings", "maildomain"), std::string("example.org"));
    QCOMPARE(Store().GetString("Settings", "mailsubject"), std::string("Syslog alert"));
    QCOMPARE(Store().GetString("Settings", "mailtext", "absent"), std::string(""));
    QCOMPARE(Store().GetInt("Settings", "includemsg", 1), 0);
  }

  // Send Test Mail uses the values in the dialog, unstored, off the window's thread, and shows
  // the outcome with the server's last reply; OK stores the new fields.
  void emailSettingsSendTestMailWithTheDialogsValues() {
    qv::testing::TempHome home;
    const qv::testing::TestCertificates certificates(home.path() / "certificates");
    QVERIFY(certificates.Make());
    std::filesystem::create_directory(home.path() / "smtp");
    qv::testing::SmtpTestServer server("smtpd", home.path() / "smtp", 0,
                                       {"--cert", certificates.certificate("server"), "--key", certificates.key("server"), "--user", "mailer",
                                        "--password", "s3cret!"});
    QVERIFY(server.port() != 0);
    FakePrompts prompts;
    CEmailSettingsDialog dialog(prompts);
    QCOMPARE(Child<QLineEdit>(&dialog, "port")->text(), QString("25"));
    QCOMPARE(Child<QComboBox>(&dialog, "security")->currentIndex(), 0);
    QVERIFY(Child<QCheckBox>(&dialog, "verify")->isChecked());
    QCOMPARE(Child<QLineEdit>(&dialog, "password")->echoMode(), QLineEdit::Password);
    Choose(&dialog, "security", 1);
    QCOMPARE(Child<QLineEdit>(&dialog, "port")->text(), QString("587"));  // the usual port follows
    Type(&dialog, "server", "127.0.0.1");
    Type(&dialog, "port", QString::number(server.port()));
    Type(&dialog, "from", "syslog");
    Type(&dialog, "domain", "example.org");
    Type(&dialog, "user", "mailer");
    Type(&dialog, "testRecipient", "ops@example.net");
    auto* result = Child<QLabel>(&dialog, "testResult");
    struct Attempt {
      const char* password;
      bool verify;
      const char* shown;  // the start of the result
    } attempts[] = {
        // The test's CA is not in this computer's store.
        {"s3cret!", true, "Test mail to ops@example.net not sent: the server's certificate is not trusted"},
        {"guessed", false, "Test mail to ops@example.net not sent: the server answered AUTH with \"535 "},
        {"s3cret!", false, "Test mail sent to ops@example.net. The server said: 250 OK"},
    };
    for (const Attempt& attempt : attempts) {
      Type(&dialog, "password", attempt.password);
      if (Child<QCheckBox>(&dialog, "verify")->isChecked() != attempt.verify) Child<QCheckBox>(&dialog, "verify")->click();
      Click(&dialog, "sendTest");
      // The click returns before the server has answered: the window stays live meanwhile.
      QCOMPARE(result->text(), QString("Sending the test mail..."));
      QVERIFY(!Child<QPushButton>(&dialog, "sendTest")->isEnabled());
      QTRY_VERIFY_WITH_TIMEOUT(result->text().startsWith(attempt.shown), 20000);
      QVERIFY(Child<QPushButton>(&dialog, "sendTest")->isEnabled());
    }
    QVERIFY(server.Mail(1).rfind("syslog@example.org\nops@example.net\nFrom: ", 0) == 0);
    QCOMPARE(Store().GetString("Settings", "mailpassword", "absent"), std::string("absent"));  // not stored by a test

    Type(&dialog, "port", "0");
    Click(&dialog, "sendTest");
    dialog.accept();
    QCOMPARE(prompts.refusals, QStringList({"Please enter an integer between 1 and 65535.",
                                            "Please enter an integer between 1 and 65535."}));
    QVERIFY(dialog.result() != QDialog::Accepted);
    QCOMPARE(Store().GetString("Settings", "mailserver", "absent"), std::string("absent"));
    Type(&dialog, "port", "465");
    Choose(&dialog, "security", 2);
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Store().GetInt("Settings", "mailport", 0), 465);
    QCOMPARE(Store().GetInt("Settings", "mailsecurity", 0), 2);
    QCOMPARE(Store().GetString("Settings", "mailuser"), std::string("mailer"));
    QCOMPARE(Store().GetString("Settings", "mailpassword"), std::string("s3cret!"));
    QCOMPARE(Store().GetInt("Settings", "mailverify", 1), 0);
  }

  void databaseSettingsStoreOnlyAConnectionThatOpens() {
    qv::testing::TempHome home;
    FakePrompts prompts;
    CDatabaseSettingsDialog dialog(prompts);
    auto* sources = Child<QTreeWidget>(&dialog, "sources");
    const QList<QTreeWidgetItem*> sqlite = sources->findItems("SQLite3", Qt::MatchExactly | Qt::MatchRecursive);
    if (sqlite.isEmpty()) QSKIP("the SQLite ODBC driver is not registered");
    QCOMPARE(Child<QLineEdit>(&dialog, "connectString")->text(), QString());
    QVERIFY(!Child<QPushButton>(&dialog, "chooseFile")->isEnabled());
    sqlite.front()->setSelected(true);
    QCOMPARE(Child<QLineEdit>(&dialog, "connectString")->text(), QString("Driver=SQLite3;"));
    QVERIFY(Child<QPushButton>(&dialog, "chooseFile")->isEnabled());
    prompts.file = QString::fromStdString(home.file("messages.db"));
    Click(&dialog, "chooseFile");
    QCOMPARE(Child<QLineEdit>(&dialog, "connectString")->text(), "Driver=SQLite3;Database=" + prompts.file + ";");

    // A failure stays in the dialog with the driver's reason and leaves "db" alone.
    Store().SetString("Settings", "db", "Driver=SQLite3;Database=/previous.db");
    Child<QLineEdit>(&dialog, "connectString")->setText("Driver=NoSuchDriver;");
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(Child<QPlainTextEdit>(&dialog, "status")->toPlainText().contains("NoSuchDriver"));
    QCOMPARE(Store().GetString("Settings", "db"), std::string("Driver=SQLite3;Database=/previous.db"));

    Child<QLineEdit>(&dialog, "connectString")->setText("Driver=SQLite3;Database=" + prompts.file + ";");
    Click(&dialog, "test");
    QCOMPARE(Child<QPlainTextEdit>(&dialog, "status")->toPlainText(), QString("The connection opened."));
    QCOMPARE(Store().GetString("Settings", "db"), std::string("Driver=SQLite3;Database=/previous.db"));
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Store().GetString("Settings", "db"), "Driver=SQLite3;Database=" + prompts.file.toStdString() + ";");

    CDatabaseSettingsDialog reopened(prompts);
    QCOMPARE(Child<QLineEdit>(&reopened, "connectString")->text().toStdString(), Store().GetString("Settings", "db"));
    reopened.reject();
  }

  void databaseSettingsKeepTheirWidthAndTestWhatOkStores() {
    qv::testing::TempHome home;
    FakePrompts prompts;
    CDatabaseSettingsDialog dialog(prompts);
    if (Child<QTreeWidget>(&dialog, "sources")->findItems("SQLite3", Qt::MatchExactly | Qt::MatchRecursive).isEmpty()) {
      QSKIP("the SQLite ODBC driver is not registered");
    }
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const int width = dialog.width();
    QVERIFY(width < 1000);
    // A database file 400 characters deep: a connection string far wider than the dialog.
    const std::filesystem::path folder = home.path() / std::string(200, 'd') / std::string(150, 'e');
    std::filesystem::create_directories(folder);
    const QString opens = QString::fromStdString("Driver=SQLite3;Database=" + (folder / "messages.db").string() + ";");
    const QString fails = "Driver=NoSuchDriver" + QString(300, 'x') + ";";
    auto* line = Child<QLineEdit>(&dialog, "connectString");
    auto* status = Child<QPlainTextEdit>(&dialog, "status");

    struct Step {
      QString typed;
      bool testBefore;           // Test with what the previous step left in the field
      bool testAfter;            // Test with the string typed
      bool accepted;             // OK closes the dialog
      const char* statusStarts;  // after Test, or after a refused OK
    };
    const Step steps[] = {
        {fails, false, true, false, "The connection failed: "},
        {opens, false, true, true, "The connection opened."},
        {opens, false, false, true, ""},                       // typed by hand, never tested: OK opens it first
        {fails, true, false, false, "The connection failed: "},  // changed after a Test: OK opens it first
    };
    for (const Step& step : steps) {
      Store().SetString("Settings", "db", "previous");
      dialog.setResult(QDialog::Rejected);
      dialog.show();
      if (step.testBefore) Click(&dialog, "test");
      status->clear();
      line->setText(step.typed);
      if (step.testAfter) Click(&dialog, "test");
      if (step.accepted || !step.testAfter) dialog.accept();
      QApplication::processEvents();
      QCOMPARE(dialog.result(), int(step.accepted ? QDialog::Accepted : QDialog::Rejected));
      QCOMPARE(Store().GetString("Settings", "db"), step.accepted ? step.typed.toStdString() : std::string("previous"));
      QVERIFY2(status->toPlainText().startsWith(step.statusStarts), qPrintable(status->toPlainText()));
      QCOMPARE(dialog.width(), width);
      QVERIFY(dialog.minimumSizeHint().width() <= width);
    }
  }

  void databaseSettingsWithPostgresql() {
    qv::testing::TempHome home;
    qv::testing::PostgresServer server(home.path());
    if (!server.available()) QSKIP("the PostgreSQL server binaries are not installed");
    if (!qv::testing::PostgresServer::DriverRegistered()) QSKIP("the PostgreSQL ODBC driver is not registered");
    QVERIFY(server.Start());
    FakePrompts prompts;
    CDatabaseSettingsDialog dialog(prompts);
    auto* sources = Child<QTreeWidget>(&dialog, "sources");
    const QList<QTreeWidgetItem*> driver = sources->findItems("PostgreSQL Unicode", Qt::MatchExactly | Qt::MatchRecursive);
    QVERIFY(!driver.isEmpty());
    driver.front()->setSelected(true);
    QVERIFY(!Child<QPushButton>(&dialog, "chooseFile")->isEnabled());
    Child<QLineEdit>(&dialog, "connectString")->setText(QString::fromStdString(server.ConnectString()));
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Store().GetString("Settings", "db"), server.ConnectString());
  }

  void settingsFileDialogsOfferSettingsTxt() {
    for (const bool forExport : {true, false}) {
      std::unique_ptr<QFileDialog> dialog(MakeSettingsFileDialog(nullptr, forExport));
      QCOMPARE(dialog->windowTitle(), forExport ? QString("Export Settings") : QString("Import Settings"));
      QCOMPARE(dialog->defaultSuffix(), QString("txt"));
      QCOMPARE(dialog->nameFilters(), QStringList({"Text Files (*.txt)"}));
      QCOMPARE(dialog->fileMode(), forExport ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
      QCOMPARE(dialog->acceptMode(), forExport ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    }
  }
};

}  // namespace qv

QTEST_MAIN(qv::DialogsTest)
#include "dialogs_test.moc"
