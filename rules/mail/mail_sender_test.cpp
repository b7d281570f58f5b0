#include "rules/mail/mail_sender.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "rules/mail/smtp_test_server.h"
#include "testing/test_certificates.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RecordingSink : public CSyslogSink {
 public:
  void OnDatagram(std::string_view, int32_t, std::string_view) override {}
  void OnLocalMessage(std::string_view text) override { reports.emplace_back(text); }
  std::vector<std::string> reports;
};

// "Tue, 08 Dec 2026 13:56:27 +0100"
bool IsMailDate(std::string_view date) {
  static constexpr std::string_view kDays = "Mon,Tue,Wed,Thu,Fri,Sat,Sun,";
  static constexpr std::string_view kMonths = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec ";
  const std::string_view form = "Ddd, 00 Mmm 0000 00:00:00 +0000";
  if (date.size() != form.size() || kDays.find(date.substr(0, 4)) % 4 != 0 ||
      kMonths.find(date.substr(8, 4)) % 4 != 0 || (date[26] != '+' && date[26] != '-')) {
    return false;
  }
  for (std::size_t i = 0; i < form.size(); ++i) {
    if (form[i] == '0' && (date[i] < '0' || date[i] > '9')) return false;
    if ((form[i] == ' ' || form[i] == ':') && date[i] != form[i]) return false;
  }
  return true;
}

// "<seconds.pid.n@domain>"
bool IsMessageId(std::string_view id) {
  if (id.size() < 8 || id.front() != '<' || id.back() != '>') return false;
  const std::size_t at = id.find('@');
  if (at == std::string_view::npos || at + 2 >= id.size() || id.find('@', at + 1) != std::string_view::npos) return false;
  int dots = 0;
  for (std::size_t i = 1; i < at; ++i) {
    if (id[i] == '.') ++dots;
    else if (id[i] < '0' || id[i] > '9') return false;
  }
  return dots == 2;
}

// The Date and Message-ID header lines, checked for their form and replaced by "Date: D" and
// "Message-ID: I", so that the rest can be compared exactly.
std::string Normalized(std::string text) {
  struct Header {
    const char* name;
    bool (*valid)(std::string_view);
    const char* placeholder;
  };
  for (const Header& header : {Header{"Date: ", IsMailDate, "D"}, Header{"Message-ID: ", IsMessageId, "I"}}) {
    const std::size_t start = text.find(header.name);
    if (start == std::string::npos) continue;
    const std::size_t value = start + std::string_view(header.name).size();
    const std::size_t end = text.find("\r\n", value);
    if (end == std::string::npos || !header.valid(std::string_view(text).substr(value, end - value))) continue;
    text.replace(value, end - value, header.placeholder);
  }
  return text;
}

std::vector<std::string> Normalized(std::vector<std::string> texts) {
  for (std::string& text : texts) text = Normalized(std::move(text));
  return texts;
}

std::string HostName() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  return host;
}

class MailSenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppSettings().SetString("Settings", "mailserver", "127.0.0.1");
    AppSettings().SetString("Settings", "mailfrom", "syslog");
    AppSettings().SetString("Settings", "maildomain", "example.org");
  }

  CMailSender Sender(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    AppSettings().SetInt("Settings", "mailport", port);
    CMailSender::Options options;
    options.replyTimeout = timeout;
    options.trustStore = trustStore_;
    return CMailSender(sink_, options);
  }

  qv::testing::TempHome home_;
  RecordingSink sink_;
  std::string trustStore_;  // the system's store when empty
};

TEST_F(MailSenderTest, RealServerReceivesTheDialogueAndTheMailWithAndWithoutBody) {
  qv::testing::SmtpTestServer server("smtpd", home_.path());
  ASSERT_NE(server.port(), 0);
  CMailSender sender = Sender(server.port());
  const std::string body = "Oct 05 07:03:07 UTC,gw1,10.0.0.1,local0,WARNING,,\"link down\"\r\n";

  EXPECT_TRUE(sender.SendMail("ops@example.net", body, "Link alarm", "A link went down.", false));
  EXPECT_THAT(server.Lines(), ElementsAre("HELO example.org\r\n", "MAIL FROM:<syslog@example.org>\r\n",
                                          "RCPT TO:<ops@example.net>\r\n", "DATA\r\n", "QUIT\r\n"));
  EXPECT_EQ(Normalized(server.Mail(1)),
            "syslog@example.org\nops@example.net\n"
            "From: syslog@example.org\r\nTo: ops@example.net\r\nSubject: Link alarm\r\nDate: D\r\nMessage-ID: I\r\n\r\n"
            "A link went down.\r\n");

  EXPECT_TRUE(sender.SendMail("ops@example.net", body, "Link alarm", "A link went down.", true));
  EXPECT_EQ(Normalized(server.Mail(2)),
            "syslog@example.org\nops@example.net\n"
            "From: syslog@example.org\r\nTo: ops@example.net\r\nSubject: Link alarm\r\nDate: D\r\nMessage-ID: I\r\n\r\n"
            "A link went down.\r\n" + body + "\r\n");
  EXPECT_NE(server.Mail(1).substr(server.Mail(1).find("Message-ID:"), 40),
            server.Mail(2).substr(server.Mail(2).find("Message-ID:"), 40));
  EXPECT_THAT(sink_.reports, IsEmpty());  // "maildebug" is off
}

TEST_F(MailSenderTest, MessageTextCannotEndTheDataOrAddRecipientsOrHeaders) {
  qv::testing::SmtpTestServer server("smtpd", home_.path());
  ASSERT_NE(server.port(), 0);
  CMailSender sender = Sender(server.port());
  const std::string text = ".hidden\nbefore\n.\nQUIT\r\nRCPT TO: evil@example.com\rafter";

  AppSettings().SetString("Settings", "maildomain", "example.org\r\n");
  EXPECT_TRUE(sender.SendMail("ops@example.net\r\n", ".body\r\n", "alarm\r\nBcc: evil@example.com", text, true));
  EXPECT_THAT(server.Lines(), ElementsAre("HELO example.org\r\n", "MAIL FROM:<syslog@example.org>\r\n",
                                          "RCPT TO:<ops@example.net>\r\n", "DATA\r\n", "QUIT\r\n"));
  EXPECT_EQ(Normalized(server.Mail(1)),
            "syslog@example.org\nops@example.net\n"
            "From: syslog@example.org\r\nTo: ops@example.net\r\n"
            "Subject: alarmBcc: evil@example.com\r\nDate: D\r\nMessage-ID: I\r\n\r\n"
            ".hidden\r\nbefore\r\n.\r\nQUIT\r\nRCPT TO: evil@example.com\r\nafter\r\n.body\r\n\r\n");
  EXPECT_EQ(server.Mail(2), "");
}

TEST_F(MailSenderTest, EmptyDomainSaysPlainHeloAndUsesTheHostName) {
  AppSettings().SetString("Settings", "maildomain", "");
  AppSettings().SetInt("Settings", "maildebug", 1);
  qv::testing::SmtpTestServer server("split", home_.path());
  ASSERT_NE(server.port(), 0);
  CMailSender sender = Sender(server.port());

  EXPECT_TRUE(sender.SendMail("ops", "body\r\n", "s", "t", false));
  const std::string from = "syslog@" + HostName();
  EXPECT_THAT(Normalized(server.Lines()),
              ElementsAre("HELO\r\n", "MAIL FROM:<" + from + ">\r\n", "RCPT TO:<ops>\r\n", "DATA\r\n",
                          "From: " + from + "\r\n", "To: ops\r\n", "Subject: s\r\n", "Date: D\r\n",
                          "Message-ID: I\r\n", "\r\n", "t\r\n", ".\r\n", "QUIT\r\n"));
  // The greeting came in two chunks: the reply is both, up to the line feed.
  EXPECT_THAT(Normalized(sink_.reports),
              ElementsAre("connecting to 127.0.0.1", "Server said >220 first chunk second chunk\r\n<", "We said >HELO\r\n<",
                          "Server said >250 fine\r\n<", "We said >MAIL FROM:<" + from + ">\r\n<",
                          "Server said >250 fine\r\n<", "We said >RCPT TO:<ops>\r\n<", "Server said >250 fine\r\n<",
                          "We said >DATA\r\n<", "Server said >354 go ahead\r\n<",
                          "We said >From: " + from + "\r\nTo: ops\r\nSubject: s\r\nDate: D\r\nMessage-ID: I\r\n\r\nt<", "We said >\r\n.\r\n<",
                          "Server said >250 fine\r\n<", "We said >QUIT\r\n<", "Server said >221 bye\r\n<"));
}

TEST_F(MailSenderTest, TheDialogueStopsWithQuitAtTheFirstUnexpectedReply) {
  struct Case {
    const char* server;
    const char* from;
    std::vector<std::string> lines;  // what the server read
    const char* failure;             // the start of failure()
  } cases[] = {
      // A From address with "@" is used as is; the real server refuses the doubled one with 553.
      {"smtpd", "quorvel@example.com@example.com",
       {"HELO example.org\r\n", "MAIL FROM:<quorvel@example.com@example.com>\r\n", "QUIT\r\n"},
       "the server answered MAIL FROM with \"553"},
      {"refuse", "syslog", {"QUIT\r\n"}, "the server answered the connection with \"554 not today\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    const std::filesystem::path folder = home_.path() / c.server;
    std::filesystem::create_directory(folder);
    AppSettings().SetString("Settings", "mailfrom", c.from);
    qv::testing::SmtpTestServer server(c.server, folder);
    ASSERT_NE(server.port(), 0);
    CMailSender sender = Sender(server.port());

    EXPECT_FALSE(sender.SendMail("ops@example.net", "", "s", "t", false));
    EXPECT_THAT(sender.failure(), ::testing::StartsWith(c.failure));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (server.Lines().size() < c.lines.size() && std::chrono::steady_clock::now() < deadline) usleep(20000);
    EXPECT_EQ(server.Lines(), c.lines);
    EXPECT_EQ(server.Mail(1), "");
    EXPECT_THAT(sink_.reports, IsEmpty());  // the action reports the failure, not the client
  }
}

TEST_F(MailSenderTest, RepliesOfSeveralLinesAreReadWhole) {
  AppSettings().SetInt("Settings", "maildebug", 1);
  qv::testing::SmtpTestServer server("multiline", home_.path());
  ASSERT_NE(server.port(), 0);
  CMailSender sender = Sender(server.port());
  EXPECT_TRUE(sender.SendMail("ops", "", "s", "t", false)) << sender.failure();
  ASSERT_GE(sink_.reports.size(), 4u);
  EXPECT_EQ(sink_.reports[1], "Server said >220-first line\r\n220 second line\r\n<");
  EXPECT_EQ(sink_.reports[3], "Server said >250-hello\r\n250 pleased\r\n<");
  EXPECT_EQ(server.Lines().back(), "QUIT\r\n");
}

TEST_F(MailSenderTest, UnreachableServersFailWithTheirReports) {
  AppSettings().SetInt("Settings", "maildebug", 1);
  // A port that nothing listens on.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  socklen_t length = sizeof any;
  getsockname(probe, reinterpret_cast<sockaddr*>(&any), &length);
  close(probe);

  EXPECT_FALSE(Sender(ntohs(any.sin_port)).SendMail("ops", "", "s", "t", false));
  EXPECT_THAT(sink_.reports, ElementsAre("connecting to 127.0.0.1", "Couldn't connect to host(111)"));

  sink_.reports.clear();
  AppSettings().SetString("Settings", "mailserver", "");
  EXPECT_FALSE(Sender(25).SendMail("ops", "", "s", "t", false));
  ASSERT_EQ(sink_.reports.size(), 2u);
  EXPECT_EQ(sink_.reports[0], "connecting to ");
  EXPECT_THAT(sink_.reports[1], ::testing::StartsWith("Couldn't determine address for , ("));
}

TEST_F(MailSenderTest, NamesAreLookedUp) {
  AppSettings().SetString("Settings", "mailserver", "localhost");
  qv::testing::SmtpTestServer server("smtpd", home_.path());
  ASSERT_NE(server.port(), 0);
  EXPECT_TRUE(Sender(server.port()).SendMail("ops@example.net", "", "s", "t", false));
  EXPECT_EQ(server.Lines().size(), 5u);
}

TEST_F(MailSenderTest, SilentServerTimesOutAndNothingIsSent) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Sender(ntohs(address.sin_port), std::chrono::milliseconds(300)).SendMail("ops", "", "s", "t", false));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(290));
  EXPECT_LT(waited, std::chrono::seconds(5));

  const int accepted = accept(listener, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  char byte;
  EXPECT_EQ(recv(accepted, &byte, 1, 0), 0);  // closed without a word
  close(accepted);
  close(listener);
}

TEST_F(MailSenderTest, ATricklingServerCannotHoldTheDialoguePastItsDeadline) {
  qv::testing::SmtpTestServer server("trickle", home_.path());
  ASSERT_NE(server.port(), 0);
  // Each byte comes well within the reply timeout, but no reply line ever ends.
  AppSettings().SetInt("Settings", "mailport", server.port());
  CMailSender::Options options;
  options.replyTimeout = std::chrono::seconds(1);
  options.dialogueDeadline = std::chrono::milliseconds(1500);
  CMailSender sender(sink_, options);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(sender.SendMail("ops", "", "s", "t", false));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(1400));
  EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(MailSenderTest, SecurityAndLoginAgainstARealServer) {
  const qv::testing::TestCertificates certificates(home_.path() / "certificates");
  ASSERT_TRUE(certificates.Make()) << "the openssl tool could not make the test's certificates";
  trustStore_ = certificates.ca();
  enum Login { kNone, kAny, kOnlyLogin };  // what the server asks for
  struct Case {
    const char* name;
    const char* mode;         // of the server
    const char* certificate;  // the server's: "server" (for localhost and 127.0.0.1), "other" (another
                              // name), "rogue" (no CA vouches for it); null: none, no STARTTLS
    Login login;
    int security;
    const char* server;  // "mailserver"
    const char* user;
    const char* password;
    int verify;
    const char* failure;  // the start of failure(); null: the mail is delivered
    std::vector<std::string> lines;  // the server's first lines; empty: not checked
  } cases[] = {
      {"plain", "smtpd", nullptr, kNone, 0, "127.0.0.1", "", "", 1, nullptr, {"HELO example.org\r\n"}},
      {"STARTTLS, AUTH PLAIN", "smtpd", "server", kAny, 1, "127.0.0.1", "mailer", "s3cret!", 1, nullptr,
       {"EHLO example.org\r\n", "STARTTLS\r\n", "EHLO example.org\r\n", "AUTH PLAIN ********\r\n"}},
      {"STARTTLS, only AUTH LOGIN offered", "smtpd", "server", kOnlyLogin, 1, "localhost", "mailer", "s3cret!", 1,
       nullptr, {"EHLO example.org\r\n", "STARTTLS\r\n", "EHLO example.org\r\n", "AUTH LOGIN\r\n"}},
      {"STARTTLS without login", "smtpd", "server", kNone, 1, "127.0.0.1", "", "", 1, nullptr,
       {"EHLO example.org\r\n", "STARTTLS\r\n", "EHLO example.org\r\n"}},
      {"TLS from the first byte", "tls", "server", kAny, 2, "127.0.0.1", "mailer", "s3cret!", 1, nullptr,
       {"EHLO example.org\r\n", "AUTH PLAIN ********\r\n"}},
      {"a wrong password", "smtpd", "server", kAny, 1, "127.0.0.1", "mailer", "guessed", 1,
       "the server answered AUTH with \"535", {}},
      {"a wrong password by AUTH LOGIN", "tls", "server", kOnlyLogin, 2, "127.0.0.1", "mailer", "guessed", 1,
       "the server answered the password with \"535", {}},
      {"an untrusted certificate", "smtpd", "rogue", kAny, 1, "127.0.0.1", "mailer", "s3cret!", 1,
       "the server's certificate is not trusted: ", {"EHLO example.org\r\n", "STARTTLS\r\n"}},
      {"a certificate made out to another name", "tls", "other", kAny, 2, "localhost", "mailer", "s3cret!", 1,
       "the server's certificate is not trusted: hostname mismatch", {}},
      {"a certificate made out to another address", "tls", "other", kAny, 2, "127.0.0.1", "mailer", "s3cret!", 1,
       "the server's certificate is not trusted: IP address mismatch", {}},
      {"an untrusted certificate without the check", "smtpd", "rogue", kAny, 1, "127.0.0.1", "mailer", "s3cret!", 0,
       nullptr, {}},
      {"a server without STARTTLS", "smtpd", nullptr, kNone, 1, "127.0.0.1", "", "", 1,
       "the server does not offer STARTTLS", {"EHLO example.org\r\n", "QUIT\r\n"}},
      {"credentials in plain text", "smtpd", nullptr, kNone, 0, "127.0.0.1", "mailer", "s3cret!", 1,
       "the user name and password are sent only over TLS", {}},
      {"TLS to a server that speaks plain text", "smtpd", nullptr, kNone, 2, "127.0.0.1", "", "", 1,
       "the TLS handshake failed", {}},
  };
  AppSettings().SetInt("Settings", "maildebug", 1);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path folder = home_.path() / ("server" + std::to_string(++n));
    std::filesystem::create_directory(folder);
    std::vector<std::string> options;
    if (c.certificate != nullptr) {
      options = {"--cert", certificates.certificate(c.certificate), "--key", certificates.key(c.certificate)};
    }
    if (c.login != kNone) options.insert(options.end(), {"--user", "mailer", "--password", "s3cret!"});
    if (c.login == kOnlyLogin) options.insert(options.end(), {"--only", "LOGIN"});
    qv::testing::SmtpTestServer server(c.mode, folder, 0, options);
    ASSERT_NE(server.port(), 0);
    AppSettings().SetString("Settings", "mailserver", c.server);
    AppSettings().SetInt("Settings", "mailsecurity", c.security);
    AppSettings().SetString("Settings", "mailuser", c.user);
    AppSettings().SetString("Settings", "mailpassword", c.password);
    AppSettings().SetInt("Settings", "mailverify", c.verify);
    sink_.reports.clear();
    CMailSender sender = Sender(server.port());

    const bool sent = sender.SendMail("ops@example.net", "", "s", "t", false);
    if (c.failure == nullptr) {
      EXPECT_TRUE(sent) << sender.failure();
      EXPECT_THAT(server.Mail(1), ::testing::StartsWith("syslog@example.org\nops@example.net\nFrom: "));
      EXPECT_EQ(sender.lastReply(), "250 OK");
    } else {
      EXPECT_FALSE(sent);
      EXPECT_THAT(sender.failure(), ::testing::StartsWith(c.failure));
      EXPECT_EQ(server.Mail(1), "");
    }
    if (!c.lines.empty()) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (server.Lines().size() < c.lines.size() && std::chrono::steady_clock::now() < deadline) usleep(20000);
      const std::vector<std::string> lines = server.Lines();
      EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + std::min(lines.size(), c.lines.size())),
                c.lines);
    }
    // Neither the password nor the user name reaches a report or the failure, in clear or in
    // base64; the login's lines are said masked.
    std::vector<std::string> said = sink_.reports;
    said.push_back(sender.failure());
    for (const std::string& text : said) {
      for (const char* secret : {"mailer", "s3cret!", "guessed", "AG1haWxlcgBzM2NyZXQh", "AG1haWxlcgBndWVzc2Vk",
                                 "bWFpbGVy", "czNjcmV0IQ==", "Z3Vlc3NlZA=="}) {
        EXPECT_EQ(text.find(secret), std::string::npos) << text;
      }
    }
    if (c.lines.size() > 3 && c.lines[3] == "AUTH LOGIN\r\n") {
      EXPECT_EQ(std::count(said.begin(), said.end(), "We said >****\r\n<"), 2);
    } else if (c.lines.size() > 1 && c.lines.back().rfind("AUTH PLAIN ", 0) == 0) {
      EXPECT_THAT(said, ::testing::Contains("We said >AUTH PLAIN ****\r\n<"));
    }
  }
}

TEST(EhloReplyTest, ExtensionsAreReadFromTheLinesAfterTheGreeting) {
  struct Case {
    const char* reply;
    bool startTls;
    const char* mechanisms;
  } cases[] = {
      {"250-mx.example.org\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN\r\n", true, "LOGIN PLAIN "},
      {"250-mx\r\n250-auth=login cram-md5\r\n250 starttls\r\n", true, "LOGIN CRAM-MD5 "},
      {"250-STARTTLS AUTH PLAIN\r\n250 HELP\r\n", false, ""},  // the greeting line names no extension
      {"250-mx\r\n250-STARTTLSX\r\n250-AUTHX PLAIN\r\n250 SIZE 100\r\n", false, ""},
      {"250 mx.example.org\r\n", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(OffersExtension(c.reply, "STARTTLS"), c.startTls);
    EXPECT_EQ(AuthMechanisms(c.reply), c.mechanisms);
  }
}

TEST(MailDateTest, DatesAreInRfc5322FormWithTheZonesOffset) {
  const char* saved = std::getenv("TZ");
  const std::string savedZone = saved != nullptr ? saved : "";
  struct Case {
    const char* zone;
    std::time_t when;
    const char* date;
  } cases[] = {
      {"UTC0", 0, "Thu, 01 Jan 1970 00:00:00 +0000"},
      {"UTC0", 1796738187, "Tue, 08 Dec 2026 13:56:27 +0000"},
      {"EST5", 1796738187, "Tue, 08 Dec 2026 08:56:27 -0500"},
      {"IST-5:30", 1796738187, "Tue, 08 Dec 2026 19:26:27 +0530"},
      {"NPT-5:45", 1796780000, "Wed, 09 Dec 2026 07:18:20 +0545"},
  };
  for (const Case& c : cases) {
    setenv("TZ", c.zone, 1);
    tzset();
    EXPECT_EQ(MailDate(c.when), c.date) << c.zone;
  }
  if (saved != nullptr) setenv("TZ", savedZone.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

TEST(SmtpDataTest, LineEndsBecomeCrLfAndLeadingDotsAreDoubled) {
  EXPECT_EQ(ToSmtpData(""), "");
  EXPECT_EQ(ToSmtpData("."), "..");
  EXPECT_EQ(ToSmtpData("a\nb\r\nc\rd\r\n"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(ToSmtpData("a.b\n..c\r\n.\r\n"), "a.b\r\n...c\r\n..\r\n");
  EXPECT_EQ(ToSmtpData("\n\n."), "\r\n\r\n..");
  EXPECT_EQ(WithoutLineBreaks("a\r\nb\rc\nd"), "abcd");
}

}  // namespace
}  // namespace qv
