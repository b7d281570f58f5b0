#include "reception/stream_forwarder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/message/record_formats.h"
#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "reception/tcp_syslog_server.h"
#include "reception/tls_session.h"
#include "reception/udp_test_peer.h"
#include "testing/temp_home.h"
#include "testing/test_certificates.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

// Pumps the server (and the forwarder's held-back reports) until `done`, 8 s at most.
bool PumpUntil(CTcpSyslogServer& server, const std::function<bool()>& done, CStreamForwarder* forwarder = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + 8s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd watched{server.descriptor(), POLLIN, 0};
    if (poll(&watched, 1, 20) == 1) server.OnReceive();
    if (forwarder != nullptr) forwarder->ReportHeldBack();
  }
  return true;
}

SyslogMessage Record(const std::string& text) {
  SyslogMessage record;
  record.ParseDatagram("10.0.0.7", 514, "<19>Oct 11 22:14:15 core-sw1 " + text);
  return record;
}

// A port nobody listens on (for now).
int32_t UnusedPort() {
  testing::RecordingSink probe;
  CTcpSyslogServer reserve(probe, 0, {"127.0.0.1"}, {.maxConnections = 1});
  return reserve.boundPort();
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class StreamForwarderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::make_unique<testing::TempHome>();
    certificates_ = std::make_unique<testing::TestCertificates>(folder_->path());
    made_ = certificates_->Make();
  }
  static void TearDownTestSuite() {
    certificates_.reset();
    folder_.reset();
  }
  void SetUp() override {
    if (!made_) GTEST_SKIP() << "the openssl tool cannot make the test's certificates";
  }

  // A server on `port` (0: any), over TLS with the certificate `name` when it is not empty,
  // asking clients for a certificate signed by the test's CA when `clientCa`.
  static std::unique_ptr<CTcpSyslogServer> Server(testing::RecordingSink& sink, int32_t port, const std::string& name,
                                                  bool clientCa = false) {
    std::shared_ptr<CTlsServerContext> tls;
    if (!name.empty()) {
      std::string error;
      tls = CTlsServerContext::Create(certificates_->certificate(name), certificates_->key(name),
                                      clientCa ? certificates_->ca() : "", &error);
      EXPECT_TRUE(tls) << error;
    }
    return std::make_unique<CTcpSyslogServer>(sink, port, std::vector<std::string>{"127.0.0.1"},
                                              ConnectionLimits{.maxConnections = 10}, tls);
  }
  static CStreamForwarder::Options Trusting() {
    CStreamForwarder::Options options;
    options.tls.caPath = certificates_->ca();
    options.reportInterval = 300ms;
    return options;
  }

  testing::TempHome home_;  // after the suite's folder, so the settings land here
  static inline std::unique_ptr<testing::TempHome> folder_;
  static inline std::unique_ptr<testing::TestCertificates> certificates_;
  static inline bool made_ = false;
};

// Each scheme, with today's line or, after "#5424", the RFC 5424 line that keeps the sender's
// stamp and host.
TEST_F(StreamForwarderTest, LinesGoOctetCountedInOrderOverOneConnection) {
  EXPECT_TRUE(CStreamForwarder::Handles("tcp://10.0.0.1:601"));
  EXPECT_TRUE(CStreamForwarder::Handles("tls://10.0.0.1:6514#5424"));
  EXPECT_FALSE(CStreamForwarder::Handles("10.0.0.1"));
  for (const std::string scheme : {"tcp", "tls"}) {
    for (const std::string suffix : {"", "#5424"}) {
      const std::string what = scheme + suffix;
      testing::RecordingSink sink;
      const auto server = Server(sink, 0, scheme == "tls" ? "server" : "");
      ASSERT_TRUE(server->created());
      const std::string target = scheme + "://127.0.0.1:" + std::to_string(server->boundPort()) + suffix;
      CStreamForwarder forwarder(nullptr, Trusting());
      // Values without a usable port are ignored and do not disturb the others.
      for (const char* bad : {"://127.0.0.1", ":/127.0.0.1:0", "://127.0.0.1:70000", "://:601", "://h:6x"}) {
        forwarder.Forward(scheme + bad + suffix, Record("ignored"));
      }
      const SyslogMessage records[] = {Record("first, with a comma"), Record("second"),
                                       Record("third\nwith a line feed")};
      for (const SyslogMessage& record : records) forwarder.Forward(target, record);
      ASSERT_TRUE(PumpUntil(*server, [&] { return sink.datagrams.size() == 3; })) << what;
      for (int i = 0; i < 3; ++i) {
        const SyslogMessage& record = records[i];
        EXPECT_EQ(sink.datagrams[i].text, suffix.empty() ? record.FormatSyslogLine() : FormatRfc5424Line(record))
            << what;
        SyslogMessage arrived;
        arrived.ParseDatagram(sink.datagrams[i].address, sink.datagrams[i].port, sink.datagrams[i].text);
        EXPECT_EQ(arrived.hostName, "core-sw1") << what;
        EXPECT_EQ(arrived.message, record.message) << what;
        if (!suffix.empty()) {
          EXPECT_EQ(arrived.timeSent, record.timeSent) << what;
        }
      }
      EXPECT_EQ(server->connectionCount(), 1u) << what;
    }
  }
}

TEST_F(StreamForwarderTest, LinesWaitForADestinationThatComesUpLater) {
  const int32_t port = UnusedPort();
  CStreamForwarder forwarder(nullptr, Trusting());
  const std::string target = "tcp://[127.0.0.1]:" + std::to_string(port);
  forwarder.Forward(target, Record("queued early"));
  std::this_thread::sleep_for(300ms);
  testing::RecordingSink sink;
  const auto server = Server(sink, port, "");
  ASSERT_TRUE(server->created());
  forwarder.Forward(target, Record("queued later"));
  ASSERT_TRUE(PumpUntil(*server, [&] { return sink.datagrams.size() == 2; }));
  EXPECT_TRUE(Contains(sink.datagrams[0].text, "queued early"));
  EXPECT_TRUE(Contains(sink.datagrams[1].text, "queued later"));
}

// The queue's bound comes from "forwardqueue" (MiB) and holds for TCP and TLS alike; failed
// attempts and drops are each said once, then at most once per interval with their count.
TEST_F(StreamForwarderTest, ADestinationThatIsDownKeepsTheNewestLinesWithinItsBoundAndSaysWhy) {
  AppSettings().SetInt("Settings", "forwardqueue", 1);
  AppSettings().SetString("Settings", "forwardca", certificates_->ca().c_str());
  CStreamForwarder::Options options = CStreamForwarder::Options::Read();
  ASSERT_EQ(options.maxBytes, 1024u * 1024u);
  options.reportInterval = 300ms;
  for (const std::string scheme : {"tcp", "tls"}) {
    const int32_t port = UnusedPort();
    const std::string target = scheme + "://127.0.0.1:" + std::to_string(port);
    std::vector<std::string> drops, failures;
    CStreamForwarder forwarder(
        [&](const std::string& text) { (Contains(text, "were dropped") ? drops : failures).push_back(text); }, options);
    forwarder.Forward(target, Record("line 0"));
    for (int waits = 0; waits < 400 && failures.empty(); ++waits) {
      std::this_thread::sleep_for(20ms);
      forwarder.ReportHeldBack();
    }
    ASSERT_FALSE(failures.empty()) << scheme;
    EXPECT_EQ(failures[0], "Send to another Syslog server: cannot connect to " + target +
                               ": Connection refused; its lines wait and are sent once it answers");
    // 200 lines of 20 KB: four times what the queue may hold.
    constexpr int kLines = 200;
    const std::string filler(20000, 'x');
    for (int i = 1; i < kLines; ++i) forwarder.Forward(target, Record("line " + std::to_string(i) + " " + filler));
    EXPECT_LE(forwarder.queuedBytes(), options.maxBytes) << scheme;
    EXPECT_GE(forwarder.queuedBytes(), options.maxBytes - 2 * 20100) << scheme;
    ASSERT_EQ(drops.size(), 1u) << scheme;  // the first drops at once, the others held back
    const std::string said = "Send to another Syslog server: ";
    ASSERT_TRUE(drops[0].starts_with(said)) << drops[0];
    const int firstDropped = std::stoi(drops[0].substr(said.size()));
    EXPECT_TRUE(Contains(drops[0], " lines for " + target + " were dropped")) << drops[0];

    std::this_thread::sleep_for(350ms);
    forwarder.ReportHeldBack();
    ASSERT_EQ(drops.size(), 2u) << scheme;
    ASSERT_TRUE(drops[1].starts_with(said));
    const int heldBack = std::stoi(drops[1].substr(said.size()));

    // The destination comes up: it gets the newest lines, in order, and nothing that was counted.
    testing::RecordingSink sink;
    const auto server = Server(sink, port, scheme == "tls" ? "server" : "");
    ASSERT_TRUE(server->created());
    ASSERT_TRUE(PumpUntil(*server, [&] {
      return !sink.datagrams.empty() && Contains(sink.datagrams.back().text, "line " + std::to_string(kLines - 1) + " ");
    }));
    EXPECT_EQ(static_cast<int>(sink.datagrams.size()) + firstDropped + heldBack, kLines) << scheme;
    EXPECT_TRUE(Contains(sink.datagrams.front().text, "line " + std::to_string(firstDropped + heldBack) + " "))
        << scheme;
    forwarder.ReportHeldBack();
    EXPECT_EQ(failures.back(), "Send to another Syslog server: connected to " + target +
                                   " again; the lines that waited are sent");
  }
}

// When the owner stops, what waits gets a bounded time to go; what is left is said.
TEST_F(StreamForwarderTest, FinishSendsWhatWaitsOrSaysWhatIsLost) {
  for (const bool up : {true, false}) {
    testing::RecordingSink sink;
    std::unique_ptr<CTcpSyslogServer> server;
    int32_t port = UnusedPort();
    if (up) {
      server = Server(sink, port, "");
      ASSERT_TRUE(server->created());
    }
    const std::string target = "tcp://127.0.0.1:" + std::to_string(port);
    std::vector<std::string> lost, failures;
    CStreamForwarder forwarder(
        [&](const std::string& text) { (Contains(text, "were not sent") ? lost : failures).push_back(text); },
        Trusting());
    for (const char* text : {"one", "two", "three"}) forwarder.Forward(target, Record(text));
    EXPECT_EQ(forwarder.Finish(up ? 3s : 300ms), up ? 0u : 3u) << up;
    if (up) {
      EXPECT_TRUE(lost.empty()) << lost[0];
      EXPECT_TRUE(PumpUntil(*server, [&] { return sink.datagrams.size() == 3; }));
    } else {
      ASSERT_EQ(lost.size(), 1u);
      EXPECT_EQ(lost[0], "Send to another Syslog server: 3 lines for " + target +
                             " were not sent before the program stopped and are lost");
      // The failure met meanwhile is said too, though nothing asked for reports after it.
      ASSERT_EQ(failures.size(), 1u);
      EXPECT_TRUE(failures[0].starts_with("Send to another Syslog server: cannot connect to " + target)) << failures[0];
    }
  }
}

// What the server's certificate and the forwarder's files decide: lines delivered, or none and
// one report naming the reason.
TEST_F(StreamForwarderTest, TheServersCertificateIsCheckedAndAClientCertificateIsPresented) {
  struct Case {
    const char* what;
    const char* serverCertificate;
    bool serverAsksForClient;
    const char* host;
    bool trustTestCa;
    bool presentClient;
    const char* reason;  // empty: delivered
  };
  const Case cases[] = {
      {"signed by the CA, for the address", "server", false, "127.0.0.1", true, false, ""},
      {"signed by the CA, for the name", "server", false, "localhost", true, false, ""},
      {"a client certificate asked for and presented", "server", true, "localhost", true, true, ""},
      {"self-signed", "rogue", false, "127.0.0.1", true, false, "certificate verify failed: self-signed certificate"},
      {"for another name", "other", false, "localhost", true, false, "certificate verify failed: hostname mismatch"},
      {"for another address", "other", false, "127.0.0.1", true, false,
       "certificate verify failed: IP address mismatch"},
      {"the CA not in the system store", "server", false, "localhost", false, false,
       "certificate verify failed: unable to get local issuer certificate"},
      {"a client certificate asked for and missing", "server", true, "localhost", true, false,
       "the server refused the connection"},
  };
  for (const Case& test : cases) {
    testing::RecordingSink sink;
    const auto server = Server(sink, 0, test.serverCertificate, test.serverAsksForClient);
    ASSERT_TRUE(server->created());
    CStreamForwarder::Options options = Trusting();
    if (!test.trustTestCa) options.tls.caPath.clear();
    if (test.presentClient) {
      options.tls.certificatePath = certificates_->certificate("client");
      options.tls.keyPath = certificates_->key("client");
    }
    std::vector<std::string> reports;
    CStreamForwarder forwarder([&](const std::string& text) { reports.push_back(text); }, options);
    const std::string target = "tls://" + std::string(test.host) + ":" + std::to_string(server->boundPort());
    forwarder.Forward(target, Record("checked"));
    const bool expectDelivery = std::string(test.reason).empty();
    ASSERT_TRUE(PumpUntil(*server, [&] { return expectDelivery ? !sink.datagrams.empty() : !reports.empty(); },
                          &forwarder))
        << test.what;
    if (expectDelivery) {
      EXPECT_TRUE(Contains(sink.datagrams[0].text, "checked")) << test.what;
      EXPECT_TRUE(reports.empty()) << test.what << ": " << reports[0];
    } else {
      EXPECT_TRUE(sink.datagrams.empty()) << test.what;
      EXPECT_TRUE(reports[0].starts_with("Send to another Syslog server: cannot connect to " + target + ": " +
                                         test.reason))
          << test.what << ": " << reports[0];
    }
  }
}

// A server that stops in order tells its clients the end and reads until they end too: every
// line reaches it or its successor on the same port, once and in order. Another server that
// stops with it, whose client never ends, holds nobody up.
TEST_F(StreamForwarderTest, AServerThatStopsInOrderLosesNothingAndTheNextOneGetsTheRest) {
  for (const std::string scheme : {"tcp", "tls"}) {
    testing::RecordingSink ignored;
    const auto other = Server(ignored, 0, "");
    ASSERT_TRUE(other->created());
    const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(other->boundPort()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string certificate = scheme == "tls" ? "server" : "";
    testing::RecordingSink first;
    auto server = Server(first, 0, certificate);
    ASSERT_TRUE(server->created());
    const int32_t port = server->boundPort();
    const std::string target = scheme + "://localhost:" + std::to_string(port);
    CStreamForwarder forwarder(nullptr, Trusting());
    constexpr int kLines = 4000;
    int next = 0;
    for (; next < kLines / 2; ++next) {
      forwarder.Forward(target, Record("line " + std::to_string(next)));
      if (next == 100) {
        ASSERT_TRUE(PumpUntil(*server, [&] { return !first.datagrams.empty(); })) << scheme;
      }
    }
    const auto started = std::chrono::steady_clock::now();
    CTcpSyslogServer::Drain({other.get(), server.get()}, started + 1500ms);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 1500ms) << "the silent client ended?";
    close(silent);
    EXPECT_EQ(server->connectionCount(), 0u) << scheme << ": the client did not end its side";
    server.reset();
    for (; next < kLines; ++next) forwarder.Forward(target, Record("line " + std::to_string(next)));
    testing::RecordingSink second;
    server = Server(second, port, certificate);
    ASSERT_TRUE(server->created());
    ASSERT_TRUE(PumpUntil(*server, [&] { return first.datagrams.size() + second.datagrams.size() >= kLines; }))
        << scheme << ": " << first.datagrams.size() << " + " << second.datagrams.size();
    int expected = 0;
    for (const testing::RecordingSink* sink : {&first, &second}) {
      for (const testing::ReceivedDatagram& line : sink->datagrams) {
        ASSERT_TRUE(line.text.ends_with(" line " + std::to_string(expected))) << scheme << ": " << line.text;
        ++expected;
      }
    }
    EXPECT_EQ(expected, kLines);
  }
}

}  // namespace
}  // namespace qv
