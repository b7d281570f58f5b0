#include "rules/actions/action_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/message/names.h"
#include "core/settings/settings_store.h"
#include "platform/registry/registry.h"
#include "reception/udp_test_peer.h"
#include "rules/actions/event_log_copy.h"
#include "rules/actions/reporting_message_boxes.h"
#include "rules/actions/save_to_file.h"
#include "rules/mail/smtp_test_server.h"
#include "rules/rules_engine.h"
#include "snmp/snmp_message.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Pair;

class RecordingSink : public CSyslogSink {
 public:
  void OnDatagram(std::string_view, int32_t, std::string_view) override {}
  void OnLocalMessage(std::string_view text) override { reports.emplace_back(text); }
  std::vector<std::string> reports;
};

class RecordingBoxes : public CMessageBoxHost {
 public:
  void ShowMessageBox(const std::string& caption, const std::string& text) override { boxes.emplace_back(caption, text); }
  void ShowUnknownRule(const std::string& ruleName) override { unknown.push_back(ruleName); }
  std::vector<std::pair<std::string, std::string>> boxes;
  std::vector<std::string> unknown;
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a command and returns what it printed.
std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    for (std::size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
    pclose(pipe);
  }
  return text;
}

bool WaitForFile(const std::filesystem::path& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

SyslogMessage Sample() {
  SyslogMessage m;
  m.facility = 16;
  m.severity = 3;
  m.hostName = "gw1";
  m.ipAddress = "10.0.0.1";
  m.senderPort = 514;
  m.timeReceived = 1791183787;  // 5 October 2026 07:03:07 UTC
  m.message = "link down";
  return m;
}

CRule Rule(const std::string& name, int32_t action, const std::string& value = "") {
  CRule rule;
  rule.Name = name;
  rule.Action = action;
  rule.ActionValue = value;
  return rule;
}

// Rules stored in a fresh data root, loaded into an engine whose executor is the runner.
class ActionRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { AppSettings().SetInt("Settings", "timeutc", 1); }

  void Store(const CRule& rule) {
    rule.Save(RuleSectionName(count_));
    AppSettings().SetInt("Settings", "rulescount", ++count_);
  }

  void Load(std::unique_ptr<CMessageBoxHost> host = nullptr) {
    if (host == nullptr) {
      auto recording = std::make_unique<RecordingBoxes>();
      boxes_ = recording.get();
      host = std::move(recording);
    }
    engine_ = std::make_unique<CRulesEngine>(sink_, std::make_unique<CActionRunner>(std::move(host), options_));
    engine_->LoadRules(nullptr);
  }

  SyslogMessage Run(SyslogMessage message) {
    bool discard = false;
    bool highlight = false;
    engine_->RunRules(message, discard, highlight);
    return message;
  }

  qv::testing::TempHome home_;
  RecordingSink sink_;
  CActionRunner::Options options_;
  RecordingBoxes* boxes_ = nullptr;
  std::unique_ptr<CRulesEngine> engine_;
  int count_ = 0;
};

TEST_F(ActionRunnerTest, RunProgramKeepsAHostileMessageInsideItsArgument) {
  // A program found by name on the search path that writes its arguments to a file.
  const std::filesystem::path bin = home_.path() / "bin";
  std::filesystem::create_directories(bin);
  const std::filesystem::path probe = bin / "qv-argv-probe";
  std::ofstream(probe) << "#!/bin/sh\nout=$1; shift\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$out.tmp\"\n"
                          "mv \"$out.tmp\" \"$out\"\n";
  std::filesystem::permissions(probe, std::filesystem::perms::owner_all);
  const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
  setenv("PATH", (bin.string() + ":" + path).c_str(), 1);

  const std::filesystem::path out = home_.path() / "argv";
  const std::filesystem::path pwned = home_.path() / "pwned";
  Store(Rule("run", kActionRunProgram, "qv-argv-probe " + out.string() + " \"$hostname: $msg\" $severity  last"));
  Load();
  SyslogMessage message = Sample();
  message.message = "it's \"a\" ; $(touch " + pwned.string() + ") `touch " + pwned.string() + "` | x\nline 2";
  Run(message);

  setenv("PATH", path.c_str(), 1);
  ASSERT_TRUE(WaitForFile(out));
  EXPECT_EQ(ReadFile(out), "[gw1: " + message.message + "]\n[ERROR]\n[last]\n");
  EXPECT_FALSE(std::filesystem::exists(pwned));
}

TEST_F(ActionRunnerTest, RunProgramStartsNoMoreThanTheLimitAndSaysSoOnce) {
  const std::filesystem::path started = home_.path() / "started";
  std::filesystem::create_directories(started);
  auto count = [&] {
    return std::distance(std::filesystem::directory_iterator(started), std::filesystem::directory_iterator());
  };
  // Each program leaves a file and then runs for a second.
  options_.maxRunningPrograms = 2;
  Store(Rule("burst", kActionRunProgram, "sh -c \"mktemp -p '" + started.string() + "' >/dev/null; sleep 1\""));
  Load();
  for (int n = 0; n < 5; ++n) Run(Sample());
  ASSERT_EQ(sink_.reports.size(), 1u);
  EXPECT_EQ(sink_.reports[0], "Run Program: \"burst\" not started, 2 programs started by rules are still running");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(count(), 2);

  // Once they have ended, programs start again; the limit is reported at most once a minute.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (count() < 3 && std::chrono::steady_clock::now() < deadline) {
    Run(Sample());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_GE(count(), 3);
  EXPECT_EQ(sink_.reports.size(), 1u);
}

// Each rule writes today's file in the format of its ActionInt; values that name no format (a
// rule saved before there was a choice) keep the record line.
TEST_F(ActionRunnerTest, SaveToFileWritesTodaysFileInTheRulesFormat) {
  const std::pair<uint32_t, RecordFormat> formats[] = {{0, RecordFormat::kRecordLine},
                                                       {1, RecordFormat::kTraditional},
                                                       {2, RecordFormat::kRfc5424},
                                                       {3, RecordFormat::kJsonLines},
                                                       {12, RecordFormat::kRecordLine}};
  const auto name = [&](uint32_t actionInt) { return home_.file("f" + std::to_string(actionInt) + "-%Y%m%d.log"); };
  for (const auto& [actionInt, format] : formats) {
    CRule rule = Rule("file" + std::to_string(actionInt), kActionSaveToFile, name(actionInt));
    rule.ActionInt = actionInt;
    Store(rule);
  }
  Load();
  const SyslogMessage message = Sample();
  const std::time_t before = std::time(nullptr);
  Run(message);
  Run(message);
  for (const auto& [actionInt, format] : formats) {
    // Around midnight the lines may be in either day's file.
    std::string written = ReadFile(SaveFileName(name(actionInt), before));
    if (SaveFileName(name(actionInt), before) != SaveFileName(name(actionInt), std::time(nullptr))) {
      written += ReadFile(SaveFileName(name(actionInt), std::time(nullptr)));
    }
    EXPECT_EQ(written, FormatFileLine(message, format) + FormatFileLine(message, format)) << actionInt;
  }
}

TEST_F(ActionRunnerTest, SaveToFileSaysOnceAMinuteWhyAPlantedFileIsRefused) {
  const std::string fifo = home_.file("planted.log");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  Store(Rule("file", kActionSaveToFile, fifo));
  Load();
  for (int n = 0; n < 3; ++n) Run(Sample());  // none of them waits for a reader
  EXPECT_THAT(sink_.reports, ElementsAre("Save to file: cannot write " + fifo + ": is a FIFO (rule \"file\")"));
}

TEST_F(ActionRunnerTest, PlaySoundHandsTheFileToThePlayer) {
  std::vector<std::string> played;
  options_.playSound = [&](const std::string& path) {
    played.push_back(path);
    return false;
  };
  Store(Rule("sound", kActionPlaySound, "/usr/share/sounds/alarm.wav"));
  Load();
  Run(Sample());
  EXPECT_THAT(played, ElementsAre("/usr/share/sounds/alarm.wav"));
}

TEST_F(ActionRunnerTest, SendMailDeliversTheMessageLineWithoutMacros) {
  qv::testing::SmtpTestServer server("smtpd", home_.path());
  ASSERT_NE(server.port(), 0);
  AppSettings().SetInt("Settings", "mailport", server.port());
  AppSettings().SetString("Settings", "mailserver", "127.0.0.1");
  AppSettings().SetString("Settings", "mailfrom", "syslog");
  AppSettings().SetString("Settings", "maildomain", "example.org");
  AppSettings().SetInt("Settings", "maildebug", 1);
  CRule rule = Rule("mail", kActionSendMail, "ops@example.net");
  rule.EMailSubject = "$hostname alarm";
  rule.EMailText = "Look at $msg:";
  rule.EMailInclude = true;
  Store(rule);
  Load();
  const SyslogMessage message = Sample();
  Run(message);

  std::string mail = server.Mail(1);
  const std::size_t date = mail.find("Date: ");
  const std::size_t id = mail.find("Message-ID: ");
  ASSERT_NE(date, std::string::npos);
  ASSERT_NE(id, std::string::npos);
  mail.erase(date, mail.find("\r\n", id) + 2 - date);  // the two lines, checked by the mail client's tests
  EXPECT_EQ(mail,
            "syslog@example.org\nops@example.net\n"
            "From: syslog@example.org\r\nTo: ops@example.net\r\nSubject: $hostname alarm\r\n\r\n"
            "Look at $msg:\r\n" + message.FormatExportLine() + "\r\n");
  ASSERT_FALSE(sink_.reports.empty());  // the dialogue, reported through the engine's reporter
  EXPECT_EQ(sink_.reports.front(), "connecting to 127.0.0.1");
}

TEST_F(ActionRunnerTest, FailedMailsAreReportedWithoutMailDebugAtMostOncePerIntervalWithTheirCount) {
  // A loopback port that nothing listens on: every mail fails at once.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);
  AppSettings().SetString("Settings", "mailserver", "127.0.0.1");
  AppSettings().SetInt("Settings", "mailport", ntohs(address.sin_port));
  options_.reportInterval = std::chrono::milliseconds(300);
  CActionRunner runner(std::make_unique<RecordingBoxes>(), options_);
  const ActionContext context{sink_, nullptr};
  const CRule first = Rule("pager", kActionSendMail, "ops@example.net");
  const CRule second = Rule("archive", kActionSendMail, "log@example.net");

  for (int i = 0; i < 3; ++i) runner.Execute(first, Sample(), context);
  runner.Execute(second, Sample(), context);
  runner.ReportHeldBack(context);  // too early: nothing more
  const std::string refused = " failed: cannot connect to 127.0.0.1 port " + std::to_string(ntohs(address.sin_port)) +
                              ": Connection refused; check the Email Settings and the mail server";
  EXPECT_THAT(sink_.reports, ElementsAre("Send E-Mail: \"pager\"" + refused, "Send E-Mail: \"archive\"" + refused));

  sink_.reports.clear();
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  runner.ReportHeldBack(context);
  EXPECT_THAT(sink_.reports, ElementsAre("Send E-Mail: \"pager\": 2 more mails failed since the last report"));

  sink_.reports.clear();
  runner.Execute(first, Sample(), context);  // held back again
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  runner.Execute(first, Sample(), context);
  EXPECT_THAT(sink_.reports, ElementsAre("Send E-Mail: \"pager\"" + refused.substr(0, refused.find(';')) +
                                         " (2 mails of this rule failed since the last report)" +
                                         refused.substr(refused.find(';'))));
}

TEST_F(ActionRunnerTest, MessageBoxesAndUnknownActionsGoToTheBoxHost) {
  Store(Rule("first box", kActionMessageBox, "$hostname says $msg"));
  Store(Rule("second box", kActionMessageBox, "from $ipaddr"));
  Store(Rule("imported", 13));
  Load();
  Run(Sample());
  EXPECT_THAT(boxes_->boxes, ElementsAre(Pair("first box", "gw1 says link down"), Pair("second box", "from 10.0.0.1")));
  EXPECT_THAT(boxes_->unknown, ElementsAre("imported"));

  // The service's boxes become local messages.
  Load(std::make_unique<CReportingMessageBoxes>(sink_));
  Run(Sample());
  EXPECT_THAT(sink_.reports, ElementsAre("Message box \"first box\": gw1 says link down",
                                         "Message box \"second box\": from 10.0.0.1", "Unknown rule fired: imported"));
}

TEST_F(ActionRunnerTest, SnmpTrapCarriesTheStringWithMacros) {
  qv::testing::UdpPeer station("127.0.0.1", 0);
  ASSERT_TRUE(station.bound());
  options_.snmpTrapPort = static_cast<uint16_t>(station.port());
  CRule rule = Rule("trap", kActionSnmpTrap, "127.0.0.1");
  rule.SNMPCommunity = "secret";
  rule.SNMPSenderOid = "1.3.6.1.4.1.9999";
  rule.SNMPGenericType = 6;
  rule.SNMPSpecificType = 42;
  rule.SNMPStringOid = "1.3.6.1.4.1.9999.1";
  rule.SNMPString = "$hostname: $msg ($severity)";
  Store(rule);
  Load();
  Run(Sample());

  const auto datagram = station.Receive();
  ASSERT_TRUE(datagram.has_value());
  const auto trap = CSnmpMessage::Decode(
      ByteSpan(reinterpret_cast<const uint8_t*>(datagram->data()), datagram->size()));
  ASSERT_TRUE(trap.has_value());
  EXPECT_EQ(trap->Community(), "secret");
  EXPECT_EQ(trap->EnterpriseText(), "1.3.6.1.4.1.9999");
  EXPECT_EQ(trap->GenericTrap(), 6);
  EXPECT_EQ(trap->SpecificTrap(), 42);
  EXPECT_EQ(trap->AgentAddressText(), "10.0.0.1");
  ASSERT_EQ(trap->BindingCount(), 1);
  EXPECT_EQ(trap->BindingNameText(1), "1.3.6.1.4.1.9999.1");
  EXPECT_EQ(trap->BindingValueText(1), "gw1: link down (ERROR)");
}

TEST_F(ActionRunnerTest, ARuleWithAnInvalidOidIsReportedOnceUntilTheNextLoad) {
  qv::testing::UdpPeer station("127.0.0.1", 0);
  ASSERT_TRUE(station.bound());
  options_.snmpTrapPort = static_cast<uint16_t>(station.port());
  CRule rule = Rule("trap", kActionSnmpTrap, "127.0.0.1");
  rule.SNMPStringOid = "1.3.6.1.4.1.x";
  Store(rule);
  Load();
  Run(Sample());
  Run(Sample());
  EXPECT_THAT(sink_.reports, ElementsAre("Send SNMP Trap: \"trap\" not sent, \"1.3.6.1.4.1.x\" is not a valid OID"));
  EXPECT_FALSE(station.Receive(std::chrono::milliseconds(200)).has_value());
  engine_->LoadRules(nullptr);
  Run(Sample());
  EXPECT_EQ(sink_.reports.size(), 2u);
}

// The records of a log as qvevent lists them: number, times, type, id, source, computer, strings.
std::vector<std::vector<std::string>> ListedEvents(const std::string& log) {
  std::vector<std::vector<std::string>> events;
  std::istringstream lines(Output(std::string(QVEVENT_PATH) + " list " + log));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    events.push_back(fields);
  }
  return events;
}

TEST_F(ActionRunnerTest, EventLogCopyWritesTheDetailBlockWithTheTypeOfTheSeverity) {
  CRule severity = Rule("make it an error", kActionModifySeverity);
  severity.ActionInt = 2;
  severity.Facility = 23;  // only the messages of facility 23
  Store(severity);
  Store(Rule("copy", kActionEventLog));
  Load();

  SyslogMessage fromTranslator = Sample();
  fromTranslator.facility = kFacilityWindows;
  fromTranslator.ipAddress = "127.0.0.1";
  Run(fromTranslator);  // would loop: not written
  SyslogMessage local23 = fromTranslator;
  local23.facility = 23;
  local23.severity = 6;
  const SyslogMessage changed = Run(local23);
  EXPECT_EQ(changed.severity, 2);
  SyslogMessage warning = Sample();
  warning.severity = 4;
  Run(warning);

  const auto events = ListedEvents("Application");
  ASSERT_EQ(events.size(), 2u);
  ASSERT_EQ(events[0].size(), 8u);
  EXPECT_EQ(events[0][3], "error");
  EXPECT_EQ(events[0][4], "0");
  EXPECT_EQ(events[0][5], "quorvel");
  std::string detail = changed.FormatDetailBlock();
  for (std::size_t at = 0; (at = detail.find("\r\n", at)) != std::string::npos; at += 4) detail.replace(at, 2, "\\r\\n");
  EXPECT_EQ(events[0][7], detail);
  EXPECT_EQ(events[1][3], "warning");

  // The source was registered once, with the message file that shows event 0 as its string.
  reg::HKEY key = nullptr;
  ASSERT_EQ(reg::OpenKey(reg::LocalMachine(), "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\quorvel",
                         reg::Access::kRead, &key),
            reg::kSuccess);
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(reg::QueryValue(key, "EventMessageFile", &type, &data), reg::kSuccess);
  EXPECT_EQ(type, reg::kRegSz);
  EXPECT_EQ(data, home_.file("qvmsg.txt"));
  EXPECT_TRUE(std::filesystem::exists(data));
  EXPECT_EQ(reg::QueryValue(key, "TypesSupported", &type, &data), reg::kSuccess);
  EXPECT_EQ(type, reg::kRegDword);
  EXPECT_EQ(data, std::string("\x07\0\0\0", 4));
  reg::CloseKey(key);
}

TEST(EventTypeTest, SeveritiesMapToErrorWarningAndInformation) {
  EXPECT_EQ(EventTypeForSeverity(0), 1);
  EXPECT_EQ(EventTypeForSeverity(3), 1);
  EXPECT_EQ(EventTypeForSeverity(4), 2);
  EXPECT_EQ(EventTypeForSeverity(5), 4);
  EXPECT_EQ(EventTypeForSeverity(7), 4);
  EXPECT_EQ(EventTypeForSeverity(12), 2);  // a threshold value set by Modify Severity, read modulo 8
  EXPECT_EQ(EventTypeForSeverity(-1), 1);
}

TEST_F(ActionRunnerTest, SaveToDatabaseInsertsWithQuotesDoubled) {
  const std::string file = home_.file("messages.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE log (host TEXT, msg TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
  AppSettings().SetString("Settings", "db", ("ODBC;Driver=SQLite3;Database=" + file).c_str());
  Store(Rule("db", kActionDatabase, "INSERT INTO log VALUES ('$hostname', '$msg')"));
  Store(Rule("bad statement", kActionDatabase, "INSERT INTO nowhere VALUES (1)"));
  Load();
  EXPECT_THAT(sink_.reports, IsEmpty());

  SyslogMessage message = Sample();
  message.message = "it's 'quoted'";
  Run(message);

  std::vector<std::string> rows;
  sqlite3_stmt* query = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT host || '|' || msg FROM log", -1, &query, nullptr), SQLITE_OK);
  while (sqlite3_step(query) == SQLITE_ROW) rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)));
  sqlite3_finalize(query);
  sqlite3_close(db);
  EXPECT_THAT(rows, ElementsAre("gw1|it's 'quoted'"));
  ASSERT_EQ(sink_.reports.size(), 1u);  // the statement on a missing table, with the driver's text
  EXPECT_THAT(sink_.reports[0], ::testing::StartsWith("Database CDBException error: "));
  EXPECT_THAT(sink_.reports[0], HasSubstr("nowhere"));
  EXPECT_THAT(sink_.reports[0], ::testing::EndsWith(", (-1)"));
}

TEST_F(ActionRunnerTest, DatabaseErrorsAreReportedAtLoadAndForEveryMatchingMessage) {
  AppSettings().SetString("Settings", "db", "Driver=No Such Driver;Database=/nowhere");
  Store(Rule("db one", kActionDatabase, "INSERT INTO log VALUES ('$msg')"));
  Store(Rule("db two", kActionDatabase, "INSERT INTO log VALUES ('$msg')"));
  Load();
  ASSERT_EQ(sink_.reports.size(), 2u);  // each database rule of the load tries again
  EXPECT_THAT(sink_.reports[0], ::testing::StartsWith("Database CDBException error: "));
  EXPECT_THAT(sink_.reports[0], ::testing::EndsWith(", (-1)"));
  EXPECT_EQ(sink_.reports[1], sink_.reports[0]);

  sink_.reports.clear();
  Run(Sample());
  Run(Sample());
  EXPECT_THAT(sink_.reports,
              ElementsAre("Database CDBException error: The database connection is not open, (-2)",
                          "Database CDBException error: The database connection is not open, (-2)",
                          "Database CDBException error: The database connection is not open, (-2)",
                          "Database CDBException error: The database connection is not open, (-2)"));
}

}  // namespace
}  // namespace qv
