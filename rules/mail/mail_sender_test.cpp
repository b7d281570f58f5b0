#include "rules/mail/mail_sender.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "rules/mail/smtp_test_server.h"
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
    return CMailSender(sink_, CMailSender::Options{timeout, port});
  }

  qv::testing::TempHome home_;
  RecordingSink sink_;
};

TEST_F(MailSenderTest, RealServerReceivesTheDialogueAndTheMailWithAndWithoutBody) {
  qv::testing::SmtpTestServer server("smtpd", home_.path());
  ASSERT_NE(server.port(), 0);
  CMailSender sender = Sender(server.port());
  const std::string body = "Oct 05 07:03:07 UTC,gw1,10.0.0.1,local0,WARNING,,\"link down\"\r\n";

  EXPECT_TRUE(sender.SendMail("ops@example.net", body, "Link alarm", "A link went down.", false));
  EXPECT_THAT(server.Lines(), ElementsAre("HELO example.org\r\n", "MAIL FROM: syslog@example.org\r\n",
                                          "RCPT TO: ops@example.net\r\n", "DATA\r\n", "QUIT\r\n"));
  EXPECT_EQ(server.Mail(1),
            "syslog@example.org\nops@example.net\n"
            "From: syslog@example.org\r\nTo: ops@example.net\r\nSubject: Link alarm\r\n\r\n"
            "A link went down.\r\n");

  EXPECT_TRUE(sender.SendMail("ops@example.net", body, "Link alarm", "A link went down.", true));
  EXPECT_EQ(server.Mail(2),
            "syslog@example.org\nops@example.net\n"
            "From: syslog@example.org\r\nTo: ops@example.net\r\nSubject: Link alarm\r\n\r\n"
            "A link went down.\r\n" + body + "\r\n");
  EXPECT_THAT(sink_.reports, IsEmpty());  // "maildebug" is off
}

TEST_F(MailSenderTest, MessageTextCannotEndTheDataOrAddRecipientsOrHeaders) {
  qv::testing::SmtpTestServer server("smtpd", home_.path());
  ASSERT_NE(server.port(), 0);
  CMailSender sender = Sender(server.port());
  const std::string text = ".hidden\nbefore\n.\nQUIT\r\nRCPT TO: evil@example.com\rafter";

  AppSettings().SetString("Settings", "maildomain", "example.org\r\n");
  EXPECT_TRUE(sender.SendMail("ops@example.net\r\n", ".body\r\n", "alarm\r\nBcc: evil@example.com", text, true));
  EXPECT_THAT(server.Lines(), ElementsAre("HELO example.org\r\n", "MAIL FROM: syslog@example.org\r\n",
                                          "RCPT TO: ops@example.net\r\n", "DATA\r\n", "QUIT\r\n"));
  EXPECT_EQ(server.Mail(1),
            "syslog@example.org\nops@example.net\n"
            "From: syslog@example.org\r\nTo: ops@example.net\r\n"
            "Subject: alarmBcc: evil@example.com\r\n\r\n"
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
  EXPECT_THAT(server.Lines(),
              ElementsAre("HELO\r\n", "MAIL FROM: " + from + "\r\n", "RCPT TO: ops\r\n", "DATA\r\n",
                          "From: " + from + "\r\n", "To: ops\r\n", "Subject: s\r\n", "\r\n", "t\r\n", ".\r\n",
                          "QUIT\r\n"));
  // The greeting came in two chunks: the reply is the second one, up to its line feed.
  EXPECT_THAT(sink_.reports,
              ElementsAre("connecting to 127.0.0.1", "Server said >second chunk\r\n<", "We said >HELO\r\n<",
                          "Server said >250 fine\r\n<", "We said >MAIL FROM: " + from + "\r\n<",
                          "Server said >250 fine\r\n<", "We said >RCPT TO: ops\r\n<", "Server said >250 fine\r\n<",
                          "We said >DATA\r\n<", "Server said >354 go ahead\r\n<",
                          "We said >From: " + from + "\r\nTo: ops\r\nSubject: s\r\n\r\nt<", "We said >\r\n.\r\n<",
                          "Server said >250 fine\r\n<", "We said >QUIT\r\n<", "Server said >221 bye\r\n<"));
}

TEST_F(MailSenderTest, ErrorRepliesDoNotStopTheDialogue) {
  qv::testing::SmtpTestServer server("refuse", home_.path());
  ASSERT_NE(server.port(), 0);
  CMailSender sender = Sender(server.port());

  EXPECT_TRUE(sender.SendMail("ops@example.net", "", "s", "t", false));
  // The refusing server reads the data as commands; whatever it read last, QUIT was sent.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (server.Lines().size() < 11 && std::chrono::steady_clock::now() < deadline) usleep(20000);
  EXPECT_THAT(server.Lines(),
              ElementsAre("HELO example.org\r\n", "MAIL FROM: syslog@example.org\r\n", "RCPT TO: ops@example.net\r\n",
                          "DATA\r\n", "From: syslog@example.org\r\n", "To: ops@example.net\r\n", "Subject: s\r\n",
                          "\r\n", "t\r\n", ".\r\n", "QUIT\r\n"));
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
  CMailSender sender(sink_, CMailSender::Options{std::chrono::seconds(1), server.port(), std::chrono::milliseconds(1500)});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(sender.SendMail("ops", "", "s", "t", false));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(1400));
  EXPECT_LT(took, std::chrono::seconds(5));
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
