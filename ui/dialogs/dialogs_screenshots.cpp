// Shows each editing dialog with some content on the display it is given and writes what the
// display shows into PNG files (argument: the output folder). Run under Xvfb by
// screenshots_under_xvfb.sh; the data root is a temporary one.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>

#include "core/message/record_formats.h"
#include "core/settings/settings_store.h"
#include "rules/rule.h"
#include "testing/temp_home.h"
#include "ui/app/main_frame.h"
#include "ui/app/quorvel_view.h"
#include "ui/dialogs/database_settings_dialog.h"
#include "ui/dialogs/monitor_list_dialogs.h"
#include "ui/dialogs/option_dialogs.h"
#include "ui/dialogs/parameter_dialogs.h"
#include "ui/dialogs/rule_editor_dialog.h"
#include "ui/dialogs/user_prompts.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/store_test_support.h"

namespace {

using namespace qv;

void StoreSamples() {
  const CSettingsStore& store = AppSettings();
  const char* names[] = {"Disk full mail", "Drop debug noise", "Core switch trap"};
  const int32_t actions[] = {kActionSendMail, kActionDiscard, kActionSnmpTrap};
  for (int n = 0; n < 3; ++n) {
    CRule rule;
    rule.Name = names[n];
    rule.Action = actions[n];
    rule.Message = n == 0 ? "disk full" : "";
    rule.ActionValue = n == 0 ? "ops@example.org" : n == 2 ? "nms.example.org" : "";
    rule.Hostname = n == 0 ? "fileserver" : "";
    rule.Severity = n == 1 ? 7 : 11;
    rule.IP = n == 2 ? 0xC0A8010Au : 0;
    rule.Save(RuleSectionName(n));
  }
  CRule file;
  file.Name = "Auth log as JSON";
  file.Facility = 4;
  file.Action = kActionSaveToFile;
  file.ActionValue = "/var/log/quorvel/auth-%Y%m%d.jsonl";
  file.ActionInt = static_cast<uint32_t>(RecordFormat::kJsonLines);
  file.Save(RuleSectionName(3));
  store.SetInt("Settings", "rulescount", 4);
  store.SetString("Files", "file0", "/var/log/syslog");
  store.SetInt("Files", "filelog0", 1);
  store.SetString("Files", "file1", "/etc/ssh/sshd_config");
  store.SetInt("Settings", "filecount", 2);
  store.SetString("Pings", "ping0", "core-switch.example.org");
  store.SetString("Pings", "ping1", "192.168.1.1");
  store.SetInt("Settings", "pingcount", 2);
  store.SetString("Settings", "mailserver", "smtp.example.org");
  store.SetString("Settings", "mailfrom", "quorvel@example.org");
  store.SetString("Settings", "mailsubject", "Syslog alert from $host");
  store.SetString("Settings", "mailtext", "A message matched the rule $rule:");
  store.SetInt("Settings", "tcpport", 601);
  store.SetInt("Settings", "tlsport", 6514);
  store.SetString("Settings", "tlscert", "/etc/quorvel/tls/syslog.example.org.crt.pem");
  store.SetString("Settings", "tlskey", "/etc/quorvel/tls/syslog.example.org.key.pem");
  store.SetString("Settings", "forwardca", "/etc/quorvel/tls/central-ca.pem");
  store.SetInt("Settings", "viewerport", 6600);
}

// What a desktop's dark scheme hands the program.
QPalette DarkPalette() {
  QPalette dark;
  const QColor window(0x35, 0x35, 0x35), base(0x24, 0x24, 0x24), text(0xE6, 0xE6, 0xE6);
  for (const auto& [role, colour] : {std::pair{QPalette::Window, window}, {QPalette::WindowText, text},
                                     {QPalette::Base, base}, {QPalette::AlternateBase, window}, {QPalette::Text, text},
                                     {QPalette::Button, window}, {QPalette::ButtonText, text},
                                     {QPalette::ToolTipBase, window}, {QPalette::ToolTipText, text},
                                     {QPalette::Highlight, QColor(0x2A, 0x82, 0xDA)},
                                     {QPalette::HighlightedText, QColor(Qt::white)},
                                     {QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90)}}) {
    dark.setColor(role, colour);
  }
  dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
  dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
  return dark;
}

bool Shoot(QWidget& dialog, const QString& folder, const char* name) {
  dialog.show();
  if (!QTest::qWaitForWindowExposed(&dialog)) return false;
  QTest::qWait(300);
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(dialog.winId());
  const QString file = folder + "/dialog_" + name + ".png";
  const bool saved = !shot.isNull() && shot.save(file);
  std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "FAILED", qPrintable(file), shot.width(), shot.height());
  dialog.hide();
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  qv::testing::TempHome home;
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  StoreSamples();
  bool ok = true;

  CRuleEditorDialog rules(DefaultPrompts());
  auto* list = rules.findChild<QListWidget*>("rules");
  emit list->itemDoubleClicked(list->item(0));
  ok &= Shoot(rules, folder, "rule_editor");
  emit list->itemDoubleClicked(list->item(3));
  ok &= Shoot(rules, folder, "rule_editor_save_to_file");
  CRule trapRule;
  trapRule.Load("Rules\\rule2");
  CTrapParametersDialog trap(TrapParameters::FromRule(trapRule), DefaultPrompts());
  ok &= Shoot(trap, folder, "snmp_trap_parameters");
  CEmailParametersDialog mail(EmailParameters::Defaults());
  ok &= Shoot(mail, folder, "email_parameters");
  CFileListDialog files(DefaultPrompts());
  ok &= Shoot(files, folder, "file_list");
  CPingListDialog pings(DefaultPrompts());
  ok &= Shoot(pings, folder, "ping_list");
  CPreferencesDialog preferences(DefaultPrompts());
  preferences.findChild<QComboBox*>("severity")->setCurrentIndex(4);
  ok &= Shoot(preferences, folder, "preferences");
  CPreferencesDialog reception(DefaultPrompts());
  reception.findChild<QTabWidget*>("pages")->setCurrentIndex(1);
  ok &= Shoot(reception, folder, "preferences_reception");
  CPreferencesDialog links(DefaultPrompts());
  links.findChild<QTabWidget*>("pages")->setCurrentIndex(2);
  ok &= Shoot(links, folder, "preferences_forwarding");
  CEmailSettingsDialog email(DefaultPrompts());
  ok &= Shoot(email, folder, "email_settings");
  CDatabaseSettingsDialog database(DefaultPrompts());
  const auto sqlite = database.findChild<QTreeWidget*>("sources")->findItems("SQLite3", Qt::MatchExactly | Qt::MatchRecursive);
  if (!sqlite.isEmpty()) sqlite.front()->setSelected(true);
  database.findChild<QLineEdit*>("connectString")->setText("Driver=NoSuchDriver;Database=/nowhere.db");
  database.findChild<QPushButton*>("test")->click();
  ok &= Shoot(database, folder, "database_settings");
  // After a Test that opened a database file 300 characters deep: the dialog keeps its width.
  const int width = database.width();
  const QString deep = QDir(QString::fromStdString(home.path().string())).filePath(QString(150, 'd') + "/" + QString(150, 'e'));
  QDir().mkpath(deep);
  database.findChild<QLineEdit*>("connectString")->setText("Driver=SQLite3;Database=" + deep + "/messages.db;");
  database.findChild<QPushButton*>("test")->click();
  ok &= Shoot(database, folder, "database_settings_long");
  if (database.width() != width) {
    std::printf("FAILED the database settings grew from %d to %d pixels after Test\n", width, database.width());
    ok = false;
  }

  // The main window with a message of each severity and a highlighted one, turned dark while it
  // runs: the panes take the palette, the severity cells keep their colours with readable text.
  {
    AppSettings().SetInt("Settings", "startserver", 0);
    AppSettings().SetInt("Settings", "loadhistory", 0);
    AppSettings().SetInt("Settings", "color1", 0x800000);  // a dark blue of the user's, for white text
    CQuorvelDoc doc(CQuorvelDoc::ExecutorFactory{}, qv::testing::NoService());
    CMainFrame frame(doc);
    doc.NewDocument();
    frame.MessageList()->OnInitialUpdate();
    const char* texts[] = {"kernel panic on core-switch", "RAID array degraded", "fan 2 stopped",
                           "link down on eth3",          "disk 91% full",       "user admin logged in",
                           "DHCP lease renewed",         "polling interface counters"};
    for (int severity = 0; severity < 8; ++severity) {
      SyslogMessage record;
      record.severity = severity;
      record.facility = severity == 5 ? 10 : 3;
      record.hostName = severity % 2 != 0 ? "core-switch" : "fileserver";
      record.ipAddress = severity % 2 != 0 ? "192.168.1.1" : "192.168.1.20";
      record.timeReceived = record.timeSent = 1796750000 + severity * 7;
      record.message = texts[severity];
      doc.AddMessage(record, true);
    }
    doc.ToggleHighlight(ShownPosition(3));
    frame.UpdateAllViews();
    frame.resize(1200, 700);
    const QPalette light = QApplication::palette();
    QApplication::setPalette(DarkPalette());
    ok &= Shoot(frame, folder, "main_window_dark");
    QApplication::setPalette(light);
  }
  return ok ? 0 : 1;
}
