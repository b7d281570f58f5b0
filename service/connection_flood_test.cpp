// A real dunmir under a flood of connections that never talk, in a network namespace of the
// test's own: idle and stalled connections, garbage TLS handshakes, more connections than the
// table holds. Meanwhile a sender over UDP and one over TCP, each at 200 messages a second,
// must lose nothing, and each kind of trouble is said at most once.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
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

namespace qv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

sockaddr_in Loopback(const char* address, int32_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address, &to.sin_addr);
  return to;
}

// A TCP connection from `source` to 127.0.0.1:`port`; with `wait`, connected before it returns.
int ConnectFrom(const char* source, int32_t port, bool wait) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
  const sockaddr_in from = Loopback(source, 0);
  const sockaddr_in to = Loopback("127.0.0.1", port);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && (wait || errno != EINPROGRESS)) {
    close(fd);
    return -1;
  }
  return fd;
}

bool Accepts(int32_t port) {
  const int fd = ConnectFrom("127.0.0.1", port, true);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

class ConnectionFloodTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qv::testing::OwnNetworkNamespace::Enter()) GTEST_SKIP() << "cannot make a network namespace (needs root)";
    udpPort_ = qv::testing::FreeUdpPort();
    tcpPort_ = qv::testing::FreeTcpPort();
    tlsPort_ = qv::testing::FreeTcpPort();
    const CSettingsStore& store = AppSettings();
    store.SetInt("Settings", "udpport", udpPort_);
    store.SetInt("Settings", "tcpport", tcpPort_);
    store.SetInt("Settings", "SNMPTrapMonitor", 0);
  }
  void TearDown() override {
    if (dunmir_ > 0) {
      kill(dunmir_, SIGTERM);
      EXPECT_EQ(qv::testing::WaitForExit(dunmir_), 0);
    }
  }

  // TLS on its port with a certificate made now; false when the openssl tool is missing.
  bool UseTls() {
    const std::string cert = home_.file("cert.pem");
    const std::string key = home_.file("key.pem");
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout " + key +
                             " -out " + cert + " 2>/dev/null";
    if (std::system(make.c_str()) != 0) return false;
    AppSettings().SetInt("Settings", "tlsport", tlsPort_);
    AppSettings().SetString("Settings", "tlscert", cert.c_str());
    AppSettings().SetString("Settings", "tlskey", key.c_str());
    return true;
  }

  void StartDunmir() {
    dunmir_ = qv::testing::SpawnDunmir({"debug"});
    ASSERT_TRUE(WaitFor([this] { return Accepts(tcpPort_); }, 10s));
  }

  std::vector<std::string> History() const { return qv::testing::HistoryMessages(home_); }

  static std::size_t Containing(const std::vector<std::string>& messages, const std::string& part) {
    return static_cast<std::size_t>(std::count_if(messages.begin(), messages.end(), [&](const std::string& text) {
      return text.find(part) != std::string::npos;
    }));
  }

  qv::testing::TempHome home_;
  int32_t udpPort_ = 0;
  int32_t tcpPort_ = 0;
  int32_t tlsPort_ = 0;
  pid_t dunmir_ = -1;
};

TEST_F(ConnectionFloodTest, SendersOverUdpAndTcpLoseNothingWhileConnectionsFloodTheService) {
  if (!UseTls()) GTEST_SKIP() << "the openssl tool is missing";
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "tcpmaxconn", 20);
  store.SetInt("Settings", "tcpperaddr", 5);
  store.SetInt("Settings", "tcpidle", 2);
  StartDunmir();
  ASSERT_TRUE(WaitFor([this] { return Accepts(tlsPort_); }, 10s));

  // The flood: silent TCP connections from three addresses (at most 15 by the per-address
  // cap), stalled TLS handshakes from five (more than the 20 the table holds), and every
  // eighth TLS connection a garbage handshake. At most 1000 held at once, the oldest let go.
  std::atomic<bool> flooding{true};
  std::atomic<int> opened{0};
  std::thread flood([&] {
    const char* tcpSources[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};
    const char* tlsSources[] = {"127.0.0.5", "127.0.0.6", "127.0.0.7", "127.0.0.8", "127.0.0.9"};
    std::deque<int> held;
    for (int n = 0; flooding; ++n) {
      const bool tls = n % 2 == 1;
      const int fd = tls ? ConnectFrom(tlsSources[n % 5], tlsPort_, false) : ConnectFrom(tcpSources[n % 3], tcpPort_, false);
      if (fd >= 0) {
        ++opened;
        if (tls && n % 8 == 1) {
          std::this_thread::sleep_for(1ms);  // connected by now on loopback
          send(fd, "garbage, not a hello\n", 21, MSG_NOSIGNAL);
        }
        held.push_back(fd);
      }
      while (held.size() > 1000) {
        close(held.front());
        held.pop_front();
      }
      std::this_thread::sleep_for(3ms);
    }
    for (int fd : held) close(fd);
  });
  std::this_thread::sleep_for(1500ms);  // the TLS table is full and churning by now

  // The senders, 600 messages each at 200 a second, the TCP one connecting in mid-flood.
  constexpr int kMessages = 600;
  std::thread udp([&] {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Loopback("127.0.0.1", udpPort_);
    auto next = Clock::now();
    for (int i = 0; i < kMessages; ++i) {
      const std::string text = "<13>udp sender " + std::to_string(i) + " end";
      sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      std::this_thread::sleep_until(next += 5ms);
    }
    close(fd);
  });
  bool tcpConnected = false;
  std::thread tcp([&] {
    const int fd = ConnectFrom("127.0.0.1", tcpPort_, true);
    tcpConnected = fd >= 0;
    auto next = Clock::now();
    for (int i = 0; tcpConnected && i < kMessages; ++i) {
      const std::string text = "<13>tcp sender " + std::to_string(i) + " end\n";
      send(fd, text.data(), text.size(), MSG_NOSIGNAL);
      std::this_thread::sleep_until(next += 5ms);
    }
    if (fd >= 0) close(fd);
  });
  udp.join();
  tcp.join();
  flooding = false;
  flood.join();
  ASSERT_TRUE(tcpConnected);
  EXPECT_GT(opened.load(), 500);

  std::vector<std::string> history;
  WaitFor([&] {
    history = History();
    return Containing(history, "udp sender ") >= kMessages && Containing(history, "tcp sender ") >= kMessages;
  });
  for (const char* sender : {"udp sender ", "tcp sender "}) {
    for (int i = 0; i < kMessages; ++i) {
      ASSERT_EQ(Containing(history, sender + std::to_string(i) + " end"), 1u) << sender << i;
    }
  }
  // Each kind of trouble said once (the next time would be a minute later), naming its server.
  const std::pair<const char*, std::size_t> kinds[] = {
      {"TLS syslog: handshake with ", 1},
      {"TCP syslog: connection from 127.0.0.", 1},   // beyond the per-address cap
      {"TLS syslog: connection from 127.0.0.", 2},   // per address, and full with none idle
      {"connections are open (setting \"tcpmaxconn\"); closed the one from", 1},
      {"(setting \"tcpidle\")", 2},  // TCP and TLS
  };
  for (const auto& [part, most] : kinds) {
    EXPECT_GE(Containing(history, part), 1u) << part;
    EXPECT_LE(Containing(history, part), most) << part;
  }
  EXPECT_EQ(Containing(history, "TCP syslog: cannot accept"), 0u);
  EXPECT_EQ(Containing(history, "TLS syslog: cannot accept"), 0u);
}

// The soft limit of open files holds the connections of every server, not of one; a hard
// limit too low for them is said once.
TEST_F(ConnectionFloodTest, TheOpenFilesLimitCoversTheTcpAndTlsServersTogether) {
  if (!UseTls()) GTEST_SKIP() << "the openssl tool is missing";
  AppSettings().SetInt("Settings", "tcpmaxconn", 5000);
  constexpr rlim_t kNeeded = 2 * 5000 + 128;
  rlimit own{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
  if (own.rlim_max != RLIM_INFINITY && own.rlim_max < kNeeded) GTEST_SKIP() << "the hard limit is lower";
  if (own.rlim_max == RLIM_INFINITY) own.rlim_max = kNeeded;
  for (const rlim_t hard : {own.rlim_max, rlim_t{2000}}) {
    SCOPED_TRACE(hard);
    // dunmir starts with a soft limit of 1024 and this hard limit.
    dunmir_ = fork();
    if (dunmir_ == 0) {
      const rlimit low{1024, hard};
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      if (setrlimit(RLIMIT_NOFILE, &low) == 0) execl(DUNMIR_PATH, DUNMIR_PATH, "debug", static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_TRUE(WaitFor([this] { return Accepts(tcpPort_); }, 10s));
    std::ifstream limits("/proc/" + std::to_string(dunmir_) + "/limits");
    std::string line;
    while (std::getline(limits, line) && line.rfind("Max open files", 0) != 0) {
    }
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(std::stoul(line.substr(std::string("Max open files").size())), std::min(kNeeded, hard));
    const std::string warning = "TCP and TLS syslog: the limit of open files is 2000, fewer than the 10128";
    EXPECT_TRUE(WaitFor([&] { return Containing(History(), warning) == (hard < kNeeded ? 1u : 0u); }, 5s));
    kill(dunmir_, SIGTERM);
    EXPECT_EQ(qv::testing::WaitForExit(dunmir_), 0);
    dunmir_ = -1;
  }
}

// The resident memory of a process, in kilobytes.
long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Connections that each carried one frame of 64 KiB hold no 64 KiB buffer while they idle.
TEST_F(ConnectionFloodTest, ConnectionsThatCarriedALongFrameGiveItsBufferBack) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer keeps freed memory resident (its quarantine)";
#endif
  AppSettings().SetInt("Settings", "historysize", 100000);  // holds every frame
  StartDunmir();
  const long before = ResidentKilobytes(dunmir_);
  constexpr int kConnections = 400;
  const std::string frame = "<13>long " + std::string(64 * 1024 - 10, 'x') + "\n";
  std::vector<int> held;
  const char* sources[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6",
                           "127.0.0.7", "127.0.0.8", "127.0.0.9", "127.0.0.10", "127.0.0.11"};
  for (int i = 0; i < kConnections; ++i) {
    const int fd = ConnectFrom(sources[i % 10], tcpPort_, true);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, frame.data(), frame.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frame.size()));
    held.push_back(fd);
  }
  ASSERT_TRUE(WaitFor([&] { return Containing(History(), "long xxx") == kConnections; }));
  const long after = ResidentKilobytes(dunmir_);
  for (int fd : held) close(fd);
  printf("resident before %ld kB, with %d idle connections %ld kB\n", before, kConnections, after);
  EXPECT_LT(after - before, kConnections * 64 / 4) << "kB";
}

}  // namespace
}  // namespace qv
