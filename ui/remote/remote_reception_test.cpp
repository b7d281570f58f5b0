// The viewer's end of the viewer link against a real dunmir, in a network namespace of the
// test's own: backfill then live lines, a service that goes away and comes back (the missed
// lines arrive once), and a service whose certificate the viewer's CA did not sign (refused
// until its fingerprint is pinned).

#include "ui/remote/remote_reception.h"
#include "ui/remote/remote_settings.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "service/dunmir_test_process.h"
#include "testing/free_udp_port.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"
#include "viewerlink/viewer_certificates.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

TEST(RemoteAddressTest, HostAndPortOrRefused) {
  const struct {
    const char* text;
    bool ok;
    const char* host;
    int32_t port;
  } cases[] = {
      {"logs.example:6515", true, "logs.example", 6515}, {"10.0.0.7:1", true, "10.0.0.7", 1},
      {"[::1]:6515", true, "::1", 6515},                 {"logs.example", false, "", 0},
      {"logs.example:", false, "", 0},                  {":6515", false, "", 0},
      {"logs.example:65536", false, "", 0},             {"logs.example:0", false, "", 0},
      {"logs.example:65a", false, "", 0},               {"a b:1", false, "", 0},
  };
  for (const auto& c : cases) {
    std::string host;
    int32_t port = 0;
    EXPECT_EQ(ParseRemoteAddress(c.text, &host, &port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
    }
  }
}

TEST(RemoteSettingsTest, LastConnectionAndPinsPerHost) {
  qv::testing::TempHome home;
  EXPECT_EQ(LastRemoteTarget().host, "");
  RememberRemoteActive(true);
  EXPECT_FALSE(RemoteWasActive()) << "nothing to connect to again";
  RememberRemoteTarget({"logs.example", 7000, "/home/ann/desk.pem", "not kept", 5});
  PinRemoteFingerprint("logs.example", "AA:BB");
  const struct {
    int32_t maxsize;
    const char* host;
    const char* pin;
    uint32_t backfill;
  } cases[] = {
      {500, "logs.example", "AA:BB", 500},
      {0, "logs.example", "AA:BB", 100000},  // "maxsize" 0 means its default
      {500, "other.example", "", 500},       // a pin belongs to its host only
  };
  for (const auto& c : cases) {
    AppSettings().SetInt("Settings", "maxsize", c.maxsize);
    const RemoteTarget target = WithStoredTrust({c.host, 7000, "", "", 0});
    EXPECT_EQ(target.pinnedFingerprint, c.pin) << c.host;
    EXPECT_EQ(target.backfill, c.backfill) << c.maxsize;
  }
  const RemoteTarget last = LastRemoteTarget();
  EXPECT_EQ(last.host, "logs.example");
  EXPECT_EQ(last.port, 7000);
  EXPECT_EQ(last.certificateFile, "/home/ann/desk.pem");
  EXPECT_EQ(last.pinnedFingerprint, "AA:BB");
  EXPECT_TRUE(RemoteWasActive());
  RememberRemoteActive(false);
  EXPECT_FALSE(RemoteWasActive());
}

std::string Numbered(int number) {
  char text[16];
  std::snprintf(text, sizeof text, "m%06d", number);
  return text;
}

class RemoteReceptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qv::testing::OwnNetworkNamespace::Enter()) GTEST_SKIP() << "cannot make a network namespace (needs root)";
    tcpPort_ = qv::testing::FreeTcpPort();
    viewerPort_ = qv::testing::FreeTcpPort();
    const CSettingsStore& store = AppSettings();
    store.SetInt("Settings", "udpport", qv::testing::FreeUdpPort());
    store.SetInt("Settings", "tcpport", tcpPort_);
    store.SetInt("Settings", "viewerport", viewerPort_);
    store.SetInt("Settings", "SNMPTrapMonitor", 0);
    store.SetInt("Settings", "EventLog", 0);
    const std::string command = std::string(QVREG_PATH) + " viewer-cert desk";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::array<char, 512> line{};
    if (pipe != nullptr && std::fgets(line.data(), line.size(), pipe) != nullptr) certificate_ = line.data();
    if (pipe != nullptr) pclose(pipe);
    if (!certificate_.empty()) certificate_.pop_back();
    ASSERT_FALSE(certificate_.empty());
  }
  void TearDown() override { StopDunmir(); }

  void StartDunmir() {
    dunmir_ = qv::testing::SpawnDunmir({"debug"});
    ASSERT_TRUE(WaitFor([this] { return Accepts(tcpPort_); }));
  }
  void StopDunmir() {
    if (dunmir_ <= 0) return;
    kill(dunmir_, SIGTERM);
    EXPECT_EQ(qv::testing::WaitForExit(dunmir_), 0);
    dunmir_ = -1;
  }
  static bool Accepts(int32_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool accepted = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    close(fd);
    return accepted;
  }
  // Messages `from` to `to` (exclusive) over one TCP connection, and waits for the history.
  void Send(int from, int to) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(tcpPort_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    std::string frames;
    for (int i = from; i < to; ++i) {
      const std::string message = "<13>" + Numbered(i);
      frames += std::to_string(message.size()) + " " + message;
    }
    ASSERT_EQ(send(fd, frames.data(), frames.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frames.size()));
    close(fd);
    ASSERT_TRUE(WaitFor([this, to] {
      for (const std::string& message : qv::testing::HistoryMessages(home_)) {
        if (message == Numbered(to - 1)) return true;
      }
      return false;
    }));
  }
  RemoteTarget Target(uint32_t backfill) const { return {"127.0.0.1", viewerPort_, certificate_, "", backfill}; }

  // The numbered messages `reception` has handed over so far, gathered into `got`.
  static void Collect(CRemoteReception& reception, std::vector<std::string>& got) {
    std::vector<std::string> lines;
    reception.Take(lines, SIZE_MAX);
    for (const std::string& line : lines) {
      SyslogMessage record;
      record.ReadRecordLine(line);
      if (record.message.rfind("m", 0) == 0) got.push_back(record.message);
    }
  }

  qv::testing::TempHome home_;
  int32_t tcpPort_ = 0;
  int32_t viewerPort_ = 0;
  std::string certificate_;
  pid_t dunmir_ = -1;
};

std::vector<std::string> Numbers(int from, int to) {
  std::vector<std::string> numbers;
  for (int i = from; i < to; ++i) numbers.push_back(Numbered(i));
  return numbers;
}

TEST_F(RemoteReceptionTest, BackfillLiveAndAfterTheServiceCameBackOnlyTheMissedLines) {
  StartDunmir();
  Send(0, 20);
  CRemoteReception reception(Target(5), [] {});
  reception.Start();
  std::vector<std::string> got;
  ASSERT_TRUE(WaitFor([&] {
    Collect(reception, got);
    return got.size() >= 5;
  })) << reception.StatusText();
  EXPECT_EQ(reception.StatusText(), "Connected to 127.0.0.1:" + std::to_string(viewerPort_));
  Send(20, 25);
  ASSERT_TRUE(WaitFor([&] {
    Collect(reception, got);
    return got.size() >= 10;
  }));
  EXPECT_EQ(got, Numbers(15, 25));

  // The service stops: the status says so and when it tries again.
  StopDunmir();
  ASSERT_TRUE(WaitFor([&] { return reception.state() == CRemoteReception::State::kBroken; }));
  EXPECT_NE(reception.StatusText().find("Not connected to 127.0.0.1:"), std::string::npos) << reception.StatusText();
  EXPECT_NE(reception.StatusText().find("trying again in"), std::string::npos) << reception.StatusText();
  // Back with lines the viewer missed: they come once, after what it had.
  StartDunmir();
  Send(25, 28);
  ASSERT_TRUE(WaitFor([&] {
    Collect(reception, got);
    return got.size() >= 13;
  }, 70s));
  Send(28, 30);
  ASSERT_TRUE(WaitFor([&] {
    Collect(reception, got);
    return got.size() >= 15;
  }));
  std::this_thread::sleep_for(200ms);
  Collect(reception, got);
  EXPECT_EQ(got, Numbers(15, 30));
}

TEST_F(RemoteReceptionTest, AServiceCertificateFromAnotherCaIsRefusedUntilItsFingerprintIsPinned) {
  // The service shows a certificate signed by another CA; it still takes this data root's viewers.
  qv::testing::TempHome elsewhere;
  ViewerCertificateFiles foreign;
  std::string error;
  ASSERT_TRUE(EnsureViewerServerCertificate(&foreign, &error)) << error;
  setenv("QUORVEL_HOME", home_.path().c_str(), 1);
  AppSettings().SetString("Settings", "viewercert", foreign.certificate.c_str());
  AppSettings().SetString("Settings", "viewerkey", foreign.key.c_str());
  StartDunmir();
  Send(0, 3);

  std::string fingerprint;
  {
    CRemoteReception untrusting(Target(3), [] {});
    untrusting.Start();
    ASSERT_TRUE(WaitFor([&] { return untrusting.state() == CRemoteReception::State::kUntrusted; }));
    fingerprint = untrusting.untrustedFingerprint();
    EXPECT_EQ(fingerprint.size(), 32u * 3 - 1) << fingerprint;
    EXPECT_NE(untrusting.StatusText().find("not trusted"), std::string::npos) << untrusting.StatusText();
    std::vector<std::string> got;
    Collect(untrusting, got);
    EXPECT_TRUE(got.empty());
  }
  RemoteTarget pinned = Target(3);
  pinned.pinnedFingerprint = fingerprint;
  CRemoteReception reception(pinned, [] {});
  reception.Start();
  std::vector<std::string> got;
  ASSERT_TRUE(WaitFor([&] {
    Collect(reception, got);
    return got.size() >= 3;
  }));
  EXPECT_EQ(got, Numbers(0, 3));
}

}  // namespace
}  // namespace qv
