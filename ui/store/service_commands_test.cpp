#include "ui/store/service_commands.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "core/settings/settings_store.h"
#include "reception/udp_test_peer.h"
#include "testing/free_udp_port.h"
#include "testing/temp_home.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/refresh_coalescer.h"
#include "ui/store/store_test_support.h"

namespace qv {
namespace {

using testing::FakeService;
using testing::RecordingFrame;

class ServiceCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureCoreApplication();
    AppSettings().SetInt("Settings", "EventLog", 0);
    port_ = testing::FreeUdpPort();
    AppSettings().SetInt("Settings", "udpport", port_);
    auto fake = std::make_unique<FakeService>();
    service_ = fake.get();
    doc_ = std::make_unique<CQuorvelDoc>(CQuorvelDoc::ExecutorFactory(), std::move(fake));
    doc_->SetFrame(&frame_);
    commands_ = std::make_unique<CServiceCommands>(*doc_, [this](std::chrono::milliseconds) { ++sleeps_; });
  }

  testing::TempHome home_;
  int32_t port_ = 0;
  FakeService* service_ = nullptr;
  RecordingFrame frame_;
  std::unique_ptr<CQuorvelDoc> doc_;
  int sleeps_ = 0;
  std::unique_ptr<CServiceCommands> commands_;
};

TEST_F(ServiceCommandsTest, StartingAndStoppingTheServiceMovesTheListener) {
  ASSERT_TRUE(doc_->StartServer(port_));
  commands_->StartService();
  EXPECT_EQ(service_->starts, 1);
  EXPECT_TRUE(doc_->IsListeningOnRelay());
  EXPECT_EQ(frame_.listenText, "Service Listening on port " + std::to_string(port_) + ", UI active");

  commands_->StopService();
  EXPECT_FALSE(doc_->IsListeningOnRelay());
  EXPECT_EQ(doc_->GetListenPort(), port_);
  EXPECT_EQ(sleeps_, 0);

  // Not listening before: a service started here is followed all the same.
  doc_->StopServer(true);
  service_->running = false;
  commands_->StartService();
  EXPECT_TRUE(doc_->IsListeningOnRelay());
  doc_->StopServer(true);

  // The port to listen on again stays taken: 20 tries, 250 ms apart, then nobody listens.
  service_->running = false;
  ASSERT_TRUE(doc_->StartServer(port_));
  testing::UdpPeer squatter;
  ASSERT_TRUE(squatter.bound());
  AppSettings().SetInt("Settings", "udpport", squatter.port());
  commands_->StopService();
  EXPECT_EQ(sleeps_, CServiceCommands::kRelistenTries);
  EXPECT_EQ(frame_.listenText, "Service and UI Server not listening");
  EXPECT_FALSE(doc_->UpdateStatus());
}

TEST_F(ServiceCommandsTest, TheWatchTakesOverUdpWhenTheServiceStopsAndApplyRestartsIt) {
  service_->running = true;
  ASSERT_TRUE(doc_->StartServer(port_));
  ASSERT_TRUE(doc_->IsListeningOnRelay());
  CServiceWatch watch(*commands_, *doc_);
  int changes = 0;
  QObject::connect(&watch, &CServiceWatch::stateChanged, [&] { ++changes; });
  watch.Poll();
  EXPECT_TRUE(watch.serviceRunning());
  EXPECT_EQ(changes, 1);
  watch.Poll();
  EXPECT_EQ(changes, 1);  // nothing new

  service_->running = false;  // stopped from outside
  watch.Poll();
  EXPECT_EQ(changes, 2);
  EXPECT_FALSE(doc_->IsListeningOnRelay());
  EXPECT_EQ(doc_->GetListenPort(), port_);
  EXPECT_FALSE(commands_->Watch());

  commands_->ApplySettings();  // listening, service stopped: listen again, no service restart
  EXPECT_EQ(service_->starts, 0);
  EXPECT_EQ(doc_->GetListenPort(), port_);
  service_->running = true;
  doc_->StopServer(true);
  commands_->ApplySettings();  // not listening: restart the service only
  EXPECT_EQ(service_->stops, 1);
  EXPECT_EQ(service_->starts, 1);
  EXPECT_FALSE(doc_->UpdateStatus());
}

TEST_F(ServiceCommandsTest, AServiceStartedFromOutsideIsFollowedFromUdpButANotListeningDocumentIsLeftSo) {
  CServiceWatch watch(*commands_, *doc_);
  ASSERT_TRUE(doc_->StartServer(port_));
  service_->running = true;  // "qvsc start", say, on another port
  watch.Poll();
  EXPECT_TRUE(doc_->IsListeningOnRelay());
  EXPECT_EQ(frame_.listenText, "Service Listening on port " + std::to_string(port_) + ", UI active");

  doc_->StopServer(true);  // "Stop User Interface Listening" is respected
  watch.Poll();
  EXPECT_FALSE(doc_->UpdateStatus());
}

// Sets this thread's effective CAP_NET_BIND_SERVICE; false when it cannot be changed.
bool SetBindCapability(bool on) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  constexpr uint32_t kBit = 1U << CAP_NET_BIND_SERVICE;
  if (on && (data[0].permitted & kBit) == 0) return false;
  data[0].effective = on ? (data[0].effective | kBit) : (data[0].effective & ~kBit);
  return syscall(SYS_capset, &header, data) == 0;
}

TEST_F(ServiceCommandsTest, WhyTheViewerDoesNotReceiveIsSaidOnceAsALocalMessageAndTheStatusTip) {
  testing::UdpPeer squatter;
  ASSERT_TRUE(squatter.bound());
  const bool mayBindLow = SetBindCapability(true);
  // A TCP port held by a listener of the test's own.
  const int tcpHolder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in tcpAddress{};
  tcpAddress.sin_family = AF_INET;
  tcpAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof tcpAddress;
  ASSERT_EQ(bind(tcpHolder, reinterpret_cast<sockaddr*>(&tcpAddress), sizeof tcpAddress), 0);
  ASSERT_EQ(listen(tcpHolder, 1), 0);
  ASSERT_EQ(getsockname(tcpHolder, reinterpret_cast<sockaddr*>(&tcpAddress), &length), 0);
  const int32_t tcpPort = ntohs(tcpAddress.sin_port);
  struct Case {
    const char* name;
    bool installed;
    bool startFails;
    int32_t port;  // 0: press "Start Background Service" instead of listening
    int32_t tcpport;
    std::vector<std::string> said;  // all in the one local message and the tip
  };
  const Case cases[] = {
      {"service not installed", false, false, 0, 0, {"background service is not installed", "'dunmir add'"}},
      {"service stops at once", true, true, 0, 0,
       {"The background service stopped at once: cannot receive syslog on UDP port 514: Address already in use"}},
      {"port taken", true, false, squatter.port(), 0, {"UDP port " + std::to_string(squatter.port()), "another program"}},
      {"port needs privileges", false, false, 1, 0,
       {"UDP port 1 cannot be used: permission denied", "'dunmir add'", "CAP_NET_BIND_SERVICE", "above 1023"}},
      {"TCP port taken while UDP works", true, false, port_, tcpPort,
       {"The viewer cannot receive syslog on TCP port " + std::to_string(tcpPort) + ": Address already in use"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service_->installed = c.installed;
    service_->running = false;
    service_->startFails = c.startFails;
    service_->failure = c.startFails ? "cannot receive syslog on UDP port 514: Address already in use" : "";
    doc_->NewDocument();
    AppSettings().SetInt("Settings", "tcpport", c.tcpport);
    const bool dropped = c.port == 1 && mayBindLow && SetBindCapability(false);
    for (int twice = 0; twice < 2; ++twice) {
      if (c.port == 0) {
        commands_->StartService();
      } else {
        EXPECT_EQ(doc_->StartServer(c.port), c.tcpport != 0);  // UDP alone works
        if (c.tcpport != 0) doc_->StopServer(true);
      }
    }
    if (dropped) SetBindCapability(true);
    ASSERT_EQ(doc_->GetShownCount(), 1);
    const std::string message = doc_->GetMessage(ShownPosition(0)).message;
    EXPECT_EQ(frame_.listenTip, message);
    for (const std::string& part : c.said) EXPECT_NE(message.find(part), std::string::npos) << message;

    AppSettings().SetInt("Settings", "tcpport", 0);
    ASSERT_TRUE(doc_->StartServer(port_));  // listening again clears the tip
    EXPECT_EQ(frame_.listenTip, "");
    doc_->StopServer(true);
  }
  close(tcpHolder);
}

// The views follow new messages once per burst, and within 250 ms however steady the stream.
TEST_F(ServiceCommandsTest, RefreshesComeOncePerBurstAndNeverLaterThan250Ms) {
  struct CoalescingFrame : RecordingFrame {
    CRefreshCoalescer coalescer;
    void RequestRefresh() override { coalescer.Request(); }
  } frame;
  doc_->SetFrame(&frame);
  int updates = 0;
  QElapsedTimer clock;
  qint64 firstUpdate = -1;
  QObject::connect(&frame.coalescer, &CRefreshCoalescer::refreshDue, [&] {
    if (updates++ == 0) firstUpdate = clock.elapsed();
  });

  clock.start();
  for (int i = 0; i < 1000; ++i) doc_->OnLocalMessage("burst");
  ASSERT_LT(clock.elapsed(), 100);
  testing::ProcessEventsUntil([] { return false; }, 400);
  EXPECT_EQ(updates, 1);

  updates = 0;
  clock.restart();
  while (clock.elapsed() < 600) {
    doc_->OnLocalMessage("steady");
    testing::ProcessEventsUntil([] { return false; }, 50);
  }
  EXPECT_GE(updates, 2);
  EXPECT_LE(firstUpdate, 250 + 100);  // the timer's own slack on a busy machine
}

}  // namespace
}  // namespace qv
