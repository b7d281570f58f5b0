#include <gtest/gtest.h>

#include "core/message/syslog_header.h"
#include "core/settings/settings_store.h"
#include "reception/stream_forwarder.h"
#include "reception/syslog_receivers.h"
#include "testing/temp_home.h"
#include "ui/editors/monitor_lists.h"
#include "ui/editors/preferences.h"
#include "ui/editors/trap_parameters.h"
#include "viewerlink/viewer_server.h"

namespace qv {
namespace {

const CSettingsStore& Store() { return AppSettings(); }

TEST(FileListEditorTest, NewPathsGoOnTopReplacingTheSamePathAndSaveWritesEveryRow) {
  qv::testing::TempHome home;
  Store().SetString("Files", "file0", "/var/log/syslog");
  Store().SetInt("Files", "filelog0", 7);
  Store().SetString("Files", "file1", "");
  Store().SetString("Files", "file2", "/etc");
  Store().SetString("Files", "file3", "/beyond/the/count");
  Store().SetInt("Settings", "filecount", 3);

  CFileListEditor editor;
  editor.Load();
  EXPECT_EQ(editor.rows(), (std::vector<WatchedFile>{{"/var/log/syslog", true}, {"/etc", false}}));
  editor.Add("/etc", true);
  editor.Add("", true);
  editor.Add("/ETC", false);  // paths compare exactly
  EXPECT_EQ(editor.rows(), (std::vector<WatchedFile>{{"/ETC", false}, {"/etc", true}, {"/var/log/syslog", true}}));
  editor.Remove({2, 0, 2, 9});
  EXPECT_EQ(editor.rows(), (std::vector<WatchedFile>{{"/etc", true}}));
  editor.Save();
  EXPECT_EQ(Store().GetInt("Settings", "filecount", 0), 1);
  EXPECT_EQ(Store().GetString("Files", "file0"), "/etc");
  EXPECT_EQ(Store().GetInt("Files", "filelog0", 0), 1);
  EXPECT_EQ(Store().GetString("Files", "file3"), "/beyond/the/count");  // left alone, never read
  editor.ClearAll();
  editor.Save();
  EXPECT_EQ(Store().GetInt("Settings", "filecount", 1), 0);
}

TEST(PingListEditorTest, HostsAreSortedUniqueWithoutCaseAndTheFieldsKeepTheirRanges) {
  qv::testing::TempHome home;
  Store().SetString("Pings", "ping0", "switch");
  Store().SetString("Pings", "ping1", "");
  Store().SetString("Pings", "ping2", "Alpha");
  Store().SetInt("Settings", "pingcount", 3);

  CPingListEditor editor;
  editor.Load();
  EXPECT_EQ(editor.hosts(), (std::vector<std::string>{"Alpha", "switch"}));
  EXPECT_EQ(editor.timeout, "5000");
  EXPECT_EQ(editor.pollPeriod, "30");
  EXPECT_FALSE(editor.Add("SWITCH"));
  EXPECT_FALSE(editor.Add(""));
  EXPECT_TRUE(editor.Add("127.0.0.1"));
  EXPECT_TRUE(editor.Add("beta"));
  EXPECT_EQ(editor.hosts(), (std::vector<std::string>{"127.0.0.1", "Alpha", "beta", "switch"}));
  editor.Remove({1});

  const struct {
    const char* timeout;
    const char* poll;
    CPingListEditor::Field field;
    const char* message;
  } refused[] = {
      {"49", "30", CPingListEditor::Field::kTimeout, "Please enter an integer between 50 and 30000."},
      {"30001", "30", CPingListEditor::Field::kTimeout, "Please enter an integer between 50 and 30000."},
      {"5s", "30", CPingListEditor::Field::kTimeout, "Please enter a positive integer."},
      {"50", "0", CPingListEditor::Field::kPollPeriod, "Please enter an integer between 1 and 3600."},
      {"50", "3601", CPingListEditor::Field::kPollPeriod, "Please enter an integer between 1 and 3600."},
  };
  for (const auto& r : refused) {
    editor.timeout = r.timeout;
    editor.pollPeriod = r.poll;
    const auto error = editor.Save();
    ASSERT_TRUE(error) << r.timeout << " " << r.poll;
    EXPECT_EQ(error->field, r.field);
    EXPECT_EQ(error->message, r.message);
  }
  EXPECT_EQ(Store().GetInt("Settings", "pingcount", 0), 3);  // nothing written yet

  editor.timeout = "30000";
  editor.pollPeriod = "1";
  ASSERT_FALSE(editor.Save());
  EXPECT_EQ(Store().GetInt("Settings", "pingcount", 0), 3);
  EXPECT_EQ(Store().GetString("Pings", "ping0"), "127.0.0.1");
  EXPECT_EQ(Store().GetString("Pings", "ping2"), "switch");
  EXPECT_EQ(Store().GetInt("Settings", "pingtimeout", 0), 30000);
  EXPECT_EQ(Store().GetInt("Settings", "pingpoll", 0), 1);
}

TEST(PreferencesTest, DefaultsRangesAndStartHiddenWritingBothKeys) {
  qv::testing::TempHome home;
  PreferencesFields f = CPreferences::Load();
  EXPECT_EQ(f.maxsize, "100000");
  EXPECT_EQ(f.udpport, "514");
  EXPECT_EQ(f.timemark, "0");
  EXPECT_EQ(f.historysize, "1000");
  EXPECT_EQ(f.msgboxtime, "30");
  EXPECT_EQ(f.dblclick, 2);
  EXPECT_TRUE(f.loadhistory && f.startserver);
  EXPECT_FALSE(f.resolve || f.resolvetextip || f.timeutc || f.startHidden || f.promptforsave || f.maildebug);

  const auto refused = [&](std::string PreferencesFields::*member, const char* text, CPreferences::Field field,
                           const char* message) {
    PreferencesFields bad = f;
    bad.*member = text;
    const auto error = CPreferences::Save(bad);
    ASSERT_TRUE(error) << text;
    EXPECT_EQ(error->field, field);
    EXPECT_EQ(error->message, message);
  };
  const char* port = "Please enter an integer between 1 and 32767.";
  refused(&PreferencesFields::udpport, "40000", CPreferences::Field::kUdpPort, port);
  refused(&PreferencesFields::udpport, "0", CPreferences::Field::kUdpPort, port);
  refused(&PreferencesFields::udpport, "-1", CPreferences::Field::kUdpPort, "Please enter a positive integer.");
  refused(&PreferencesFields::timemark, "60001", CPreferences::Field::kTimeMark,
          "Please enter an integer between 0 and 60000.");
  refused(&PreferencesFields::maxsize, "10000001", CPreferences::Field::kMaxSize,
          "Please enter an integer between 1 and 10000000.");
  refused(&PreferencesFields::historysize, "4294967296", CPreferences::Field::kHistorySize,
          "Please enter a positive integer.");
  refused(&PreferencesFields::msgboxtime, "32768", CPreferences::Field::kMessageBoxTime,
          "Please enter an integer between 0 and 32767.");
  EXPECT_EQ(Store().GetInt("Settings", "udpport", -7), -7);  // a refused dialog writes nothing

  f.udpport = kDefaultPortText;
  f.timemark = "0";
  f.historysize = "4294967295";
  f.startHidden = true;
  f.dblclick = 0;
  f.loadhistory = false;
  ASSERT_FALSE(CPreferences::Save(f));
  EXPECT_EQ(Store().GetInt("Settings", "udpport", 0), 514);
  EXPECT_EQ(Store().GetInt("Settings", "hideifmini", 0), 1);
  EXPECT_EQ(Store().GetInt("Settings", "startminimized", 0), 1);
  EXPECT_EQ(Store().GetInt("Settings", "loadhistory", 1), 0);
  EXPECT_EQ(Store().GetInt("Settings", "dblclick", 2), 0);
  EXPECT_EQ(Store().GetInt("Settings", "timemark", 9), 0);
  EXPECT_EQ(CPreferences::Load().historysize, "4294967295");
  EXPECT_TRUE(CPreferences::Load().startHidden);
}

// The "Reception" page shows what the receivers would read, refuses what could not listen, and
// writes the keys the receivers read.
TEST(PreferencesTest, TheReceptionPageReadsAndWritesWhatTheReceiversRead) {
  qv::testing::TempHome home;
  ReceptionFields r = CPreferences::Load().reception;
  EXPECT_TRUE(r.rfc5424 && r.lenient);
  EXPECT_FALSE(r.rfc5424sd || r.yearfix || r.ipv6);
  EXPECT_EQ(r.tcpport + " " + r.tcpmaxconn + " " + r.tlsport, "0 1000 0");
  EXPECT_EQ(r.tlscert + r.tlskey + r.tlsca, "");
  Store().SetInt("Settings", "lenient", 0);
  Store().SetInt("Settings", "tcpport", 601);
  Store().SetString("Settings", "tlsca", "/etc/quorvel/ca.pem");
  r = CPreferences::Load().reception;
  EXPECT_FALSE(r.lenient);
  EXPECT_EQ(r.tcpport, "601");
  EXPECT_EQ(r.tlsca, "/etc/quorvel/ca.pem");

  using Field = CPreferences::Field;
  const char* port = "Please enter an integer between 0 and 65535.";
  const struct {
    const char *tcpport, *tcpmaxconn, *tlsport, *tlscert, *tlskey;
    Field field;
    const char* message;
  } refused[] = {
      {"65536", "1000", "0", "", "", Field::kTcpPort, port},
      {"601x", "1000", "0", "", "", Field::kTcpPort, "Please enter a positive integer."},
      {"601", "0", "0", "", "", Field::kTcpMaxConnections, "Please enter an integer between 1 and 1000000."},
      {"601", "1000001", "0", "", "", Field::kTcpMaxConnections, "Please enter an integer between 1 and 1000000."},
      {"0", "1000", "70000", "c.pem", "k.pem", Field::kTlsPort, port},
      {"6514", "1000", "6514", "c.pem", "k.pem", Field::kTlsPort, "The TCP and TLS ports must differ."},
      {"0", "1000", "6514", " ", "k.pem", Field::kTlsCertificate,
       "Syslog over TLS needs a certificate file (PEM), or a TLS port of 0."},
      {"0", "1000", "6514", "c.pem", "", Field::kTlsKey,
       "Syslog over TLS needs a private key file (PEM), or a TLS port of 0."},
  };
  PreferencesFields f = CPreferences::Load();
  for (const auto& c : refused) {
    PreferencesFields bad = f;
    bad.reception.tcpport = c.tcpport;
    bad.reception.tcpmaxconn = c.tcpmaxconn;
    bad.reception.tlsport = c.tlsport;
    bad.reception.tlscert = c.tlscert;
    bad.reception.tlskey = c.tlskey;
    const auto error = CPreferences::Save(bad);
    ASSERT_TRUE(error) << c.tcpport << " " << c.tcpmaxconn << " " << c.tlsport;
    EXPECT_EQ(error->field, c.field) << c.message;
    EXPECT_EQ(error->message, c.message);
  }
  EXPECT_EQ(Store().GetInt("Settings", "udpport", -7), -7);  // a refused dialog writes nothing

  // Both off with the files left in, or on with different ports and the files given.
  f.reception = {false, true, true, true, true, "0", "1", "0", "", "", "", "64", "", "", "", "0", "", "", ""};
  ASSERT_FALSE(CPreferences::Save(f));
  f.reception = {false, true, true,  true, true, "1601", "20", "6514", "/etc/q/cert.pem", "/etc/q/key.pem", "",
                 "64",  "",   "",    "",   "0",  "",     "",   ""};
  ASSERT_FALSE(CPreferences::Save(f));
  const ParseOptions forms = ReadParseOptions();
  EXPECT_FALSE(forms.rfc5424);
  EXPECT_TRUE(forms.fullStructuredData && forms.lenient && forms.yearFix);
  const ReceiverSettings receivers = ReceiverSettings::Read();
  EXPECT_TRUE(receivers.ipv6);
  EXPECT_EQ(receivers.tcpPort, 1601);
  EXPECT_EQ(receivers.tcpMaxConnections, 20);
  EXPECT_EQ(receivers.tlsPort, 6514);
  EXPECT_EQ(receivers.tlsCertificate, "/etc/q/cert.pem");
  EXPECT_EQ(receivers.tlsKey, "/etc/q/key.pem");
  EXPECT_EQ(receivers.tlsCa, "");  // emptied: the page showed it and the user cleared it
}

TEST(PreferencesTest, TheForwardingAndViewersPageReadsChecksAndWritesWhatTheServiceReads) {
  qv::testing::TempHome home;
  ReceptionFields r = CPreferences::Load().reception;
  EXPECT_EQ(r.forwardqueue + " " + r.viewerport, "64 0");
  EXPECT_EQ(r.forwardca + r.forwardcert + r.forwardkey + r.viewercert + r.viewerkey + r.viewerca, "");
  Store().SetInt("Settings", "forwardqueue", 0);  // the forwarder reads it as its least, 1 MiB
  Store().SetString("Settings", "viewerca", "/etc/q/viewers.pem");
  r = CPreferences::Load().reception;
  EXPECT_EQ(r.forwardqueue, "1");
  EXPECT_EQ(r.viewerca, "/etc/q/viewers.pem");

  using Field = CPreferences::Field;
  const std::string together =
      "The service's certificate for remote viewers and its private key go together: give both PEM files, or "
      "neither (the service then makes its own).";
  const struct {
    std::string ReceptionFields::*member;
    const char* value;
    Field field;
    std::string message;
  } refused[] = {
      {&ReceptionFields::forwardqueue, "0", Field::kForwardQueue, "Please enter an integer between 1 and 65536."},
      {&ReceptionFields::forwardqueue, "65537", Field::kForwardQueue, "Please enter an integer between 1 and 65536."},
      {&ReceptionFields::viewerport, "65536", Field::kViewerPort, "Please enter an integer between 0 and 65535."},
      {&ReceptionFields::viewerport, "601", Field::kViewerPort,
       "The remote viewers' port must differ from the TCP and TLS ports."},
      {&ReceptionFields::forwardkey, "k.pem", Field::kForwardCertificate,
       "A private key for forwarding needs its client certificate file (PEM)."},
      {&ReceptionFields::viewercert, "c.pem", Field::kViewerKey, together},
      {&ReceptionFields::viewerkey, "k.pem", Field::kViewerCertificate, together},
  };
  PreferencesFields f = CPreferences::Load();
  f.reception.tcpport = "601";
  for (const auto& c : refused) {
    PreferencesFields bad = f;
    bad.reception.*c.member = c.value;
    const auto error = CPreferences::Save(bad);
    ASSERT_TRUE(error) << c.value;
    EXPECT_EQ(error->field, c.field) << c.value;
    EXPECT_EQ(error->message, c.message);
  }
  EXPECT_EQ(Store().GetInt("Settings", "tcpport", -7), -7);  // a refused dialog writes nothing

  f.reception.forwardqueue = "128";
  f.reception.forwardca = "/etc/q/central-ca.pem";
  f.reception.forwardcert = "/etc/q/edge.pem";  // holding its key too
  f.reception.viewerport = "6600";
  f.reception.viewerca = "";  // cleared: the data root's authority again
  ASSERT_FALSE(CPreferences::Save(f));
  const CStreamForwarder::Options forwarding = CStreamForwarder::Options::Read();
  EXPECT_EQ(forwarding.maxBytes, 128u * 1024 * 1024);
  EXPECT_EQ(forwarding.tls.caPath, "/etc/q/central-ca.pem");
  EXPECT_EQ(forwarding.tls.certificatePath + "|" + forwarding.tls.keyPath, "/etc/q/edge.pem|");
  const ViewerLinkSettings viewers = ViewerLinkSettings::Read();
  EXPECT_EQ(viewers.port, 6600);
  EXPECT_EQ(viewers.certificate + viewers.key + viewers.ca, "");
}

TEST(SeverityColoursTest, DefaultsTheTableAndChoicesAreStoredAtOnce) {
  qv::testing::TempHome home;
  EXPECT_EQ(CSeverityColours::Get(0), 0x0000FFu);  // red
  EXPECT_EQ(CSeverityColours::Get(1), 0x00C0FFu);  // 255, 192, 0
  EXPECT_EQ(CSeverityColours::Get(7), 0xE0E0E0u);
  CSeverityColours::Set(4, 0x123456);
  EXPECT_EQ(Store().GetInt("Settings", "color4", 0), 0x123456);
  EXPECT_EQ(CSeverityColours::Reset(4), 0xC0FFFFu);
  EXPECT_EQ(Store().GetInt("Settings", "color4", 0), 0xC0FFFF);
}

TEST(EmailAndTrapParametersTest, TheSixSettingsAndTheSixTrapFields) {
  qv::testing::TempHome home;
  Store().SetString("Settings", "mailtext", "old text");
  EmailSettings mail = EmailSettings::Load();
  EXPECT_TRUE(mail.include);
  EXPECT_EQ(mail.text, "old text");
  EXPECT_EQ(mail.port, "25");
  EXPECT_EQ(mail.security, kMailPlain);
  EXPECT_TRUE(mail.verify);
  mail.server = "smtp.example.org";
  mail.from = "q@example.org";
  mail.domain = "example.org";
  mail.subject = "Alarm";
  mail.text = "";
  mail.include = false;
  mail.port = "65536";
  const auto refused = mail.Save();  // nothing is written while the port is wrong
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->field, EmailSettings::Field::kPort);
  EXPECT_EQ(refused->message, "Please enter an integer between 1 and 65535.");
  EXPECT_EQ(Store().GetString("Settings", "mailserver", "absent"), "absent");
  mail.port = " 587";
  mail.security = kMailStartTls;
  mail.user = "q";
  mail.password = "pw";
  mail.verify = false;
  ASSERT_FALSE(mail.Save());
  EXPECT_EQ(Store().GetString("Settings", "mailserver"), "smtp.example.org");
  EXPECT_EQ(Store().GetString("Settings", "mailtext", "absent"), "");  // empty texts are written too
  EXPECT_EQ(Store().GetInt("Settings", "includemsg", 1), 0);
  const MailSettings stored = MailSettings::Load();
  EXPECT_EQ(stored.from, "q@example.org");
  EXPECT_EQ(stored.port, 587);
  EXPECT_EQ(stored.security, kMailStartTls);
  EXPECT_EQ(stored.user, "q");
  EXPECT_EQ(stored.password, "pw");
  EXPECT_FALSE(stored.verify);
  EXPECT_EQ(EmailSettings::Load().port, "587");

  TrapParameterFields fields = TrapParameterFields::From(TrapParameters{});
  EXPECT_EQ(fields.genericType, "6");
  EXPECT_EQ(fields.text, "$all");
  fields.specificType = "4294967295";
  fields.community = "private";
  TrapParameters read;
  ASSERT_FALSE(fields.Read(read));
  EXPECT_EQ(read.specificType, 4294967295u);
  EXPECT_EQ(read.community, "private");
  fields.genericType = "six";
  const auto error = fields.Read(read);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->field, TrapParameterFields::Field::kGenericType);
  EXPECT_EQ(read.community, "private");
}

TEST(EmailSettingsTest, AChangeOfSecuritySuggestsItsUsualPortOnlyOverAnotherUsualOne) {
  struct Case {
    const char* port;
    int32_t security;
    const char* suggested;
  } cases[] = {
      {"25", kMailStartTls, "587"}, {"25", kMailTls, "465"},   {"465", kMailPlain, "25"},
      {" 587 ", kMailTls, "465"},   {"", kMailStartTls, "587"}, {"2525", kMailTls, "2525"},
      {"5870", kMailPlain, "5870"}, {"465", 7, "465"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SuggestedMailPort(c.port, c.security), c.suggested) << c.port << " " << c.security;
  }
}

}  // namespace
}  // namespace qv
