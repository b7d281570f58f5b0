// The TCP and TLS receivers against real loopback clients: framing across reads, the
// connection's address and port, the connection limit, push-back without loss, IPv6, and TLS
// handshakes that fail for one connection only.

#include "reception/tcp_syslog_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "reception/tls_session.h"
#include "reception/udp_test_peer.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

class Sink : public testing::RecordingSink {
 public:
  void OnLocalMessage(std::string_view text) override { local.emplace_back(text); }
  std::vector<std::string> local;
};

// Serves the server until `done` holds or 5 s pass.
bool PumpUntil(CTcpSyslogServer& server, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd watched{server.descriptor(), POLLIN, 0};
    if (poll(&watched, 1, 20) == 1) server.OnReceive();
  }
  return true;
}

// A connected blocking client socket, or -1.
int Connect(int32_t port, const char* address = "127.0.0.1") {
  const bool v6 = std::string(address).find(':') != std::string::npos;
  const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage to{};
  socklen_t length = 0;
  if (v6) {
    auto& a = reinterpret_cast<sockaddr_in6&>(to);
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET6, address, &a.sin6_addr);
    length = sizeof a;
  } else {
    auto& a = reinterpret_cast<sockaddr_in&>(to);
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &a.sin_addr);
    length = sizeof a;
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), length) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int32_t LocalPort(int fd) {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
  return ntohs(reinterpret_cast<sockaddr_in&>(local).sin_port);
}

void Send(int fd, std::string_view bytes) {
  ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

TEST(TcpSyslogServerTest, FramesOfSeveralConnectionsArriveWithTheirSenders) {
  Sink sink;
  CTcpSyslogServer server(sink, 0, {"127.0.0.1"}, {.maxConnections = 10});
  ASSERT_TRUE(server.created());
  const int a = Connect(server.boundPort());
  const int b = Connect(server.boundPort());
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  Send(a, "12 <13>from a 1<13>from a");
  Send(b, "<14>from b 1\r\n<14>fr");
  ASSERT_TRUE(PumpUntil(server, [&] { return sink.datagrams.size() == 2 && server.connectionCount() == 2; }));
  Send(a, " 2\n");
  Send(b, "om b 2\n");
  close(b);  // the frame it began before closing still counts
  Send(a, "<13>unended");
  close(a);
  ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 0; }));
  std::vector<std::string> fromA, fromB;
  for (const auto& d : sink.datagrams) {
    EXPECT_EQ(d.address, "127.0.0.1");
    (d.text.find("from a") != std::string::npos || d.text == "<13>unended" ? fromA : fromB).push_back(d.text);
  }
  EXPECT_EQ(fromA, (std::vector<std::string>{"<13>from a 1", "<13>from a 2", "<13>unended"}));
  EXPECT_EQ(fromB, (std::vector<std::string>{"<14>from b 1", "<14>from b 2"}));
  EXPECT_TRUE(sink.local.empty());
}

TEST(TcpSyslogServerTest, ConnectionsBeyondTheLimitAreRefusedWithOneReport) {
  Sink sink;
  CTcpSyslogServer server(sink, 0, {"127.0.0.1"}, {.maxConnections = 2});
  ASSERT_TRUE(server.created());
  const int first = Connect(server.boundPort());
  const int second = Connect(server.boundPort());
  ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 2; }));
  const int third = Connect(server.boundPort());
  const int fourth = Connect(server.boundPort());
  const int32_t thirdPort = LocalPort(third);
  ASSERT_TRUE(PumpUntil(server, [&] {
    char byte;
    return recv(third, &byte, 1, MSG_DONTWAIT) == 0 && recv(fourth, &byte, 1, MSG_DONTWAIT) == 0;
  }));
  ASSERT_EQ(sink.local.size(), 1u);
  EXPECT_NE(sink.local[0].find("port " + std::to_string(thirdPort) + " refused"), std::string::npos) << sink.local[0];
  EXPECT_NE(sink.local[0].find("tcpmaxconn"), std::string::npos);

  // Once one closes, a new connection is served.
  close(first);
  ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 1; }));
  const int fifth = Connect(server.boundPort());
  Send(fifth, "<13>after\n");
  ASSERT_TRUE(PumpUntil(server, [&] { return sink.datagrams.size() == 1; }));
  EXPECT_EQ(sink.datagrams[0].port, LocalPort(fifth));
  for (int fd : {second, third, fourth, fifth}) close(fd);
}

// A connected blocking client socket from `source` (a loopback address), or -1.
int ConnectFrom(int32_t port, const char* source) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source, &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool ClosedByServer(int fd) {
  char byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

// The local messages that contain `part`.
std::size_t Reports(const Sink& sink, const std::string& part) {
  return static_cast<std::size_t>(
      std::count_if(sink.local.begin(), sink.local.end(), [&](const std::string& text) { return text.find(part) != std::string::npos; }));
}

TEST(TcpSyslogServerTest, SilentAndCrowdingConnectionsMakeRoomForASenderThatTalks) {
  Sink sink;
  CTcpSyslogServer server(sink, 0, {"127.0.0.1"},
                          {.maxConnections = 3, .perAddress = 2, .idle = 500ms, .evictableAfter = 100ms});
  ASSERT_TRUE(server.created());
  const int32_t port = server.boundPort();
  int talked = 0;
  auto talkUntil = [&](int talker, const std::function<bool()>& done) {
    auto next = std::chrono::steady_clock::now();
    return PumpUntil(server, [&] {
      if (std::chrono::steady_clock::now() >= next) {
        Send(talker, "<13>talk " + std::to_string(talked++) + "\n");
        next += 50ms;
      }
      return done();
    });
  };

  // One address holds at most two connections; the third is closed at once.
  const int first = ConnectFrom(port, "127.0.0.2");
  const int second = ConnectFrom(port, "127.0.0.2");
  Send(second, "<13>begun but never ended");
  ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 2; }));
  const int third = ConnectFrom(port, "127.0.0.2");
  ASSERT_TRUE(PumpUntil(server, [&] { return ClosedByServer(third); }));
  EXPECT_EQ(Reports(sink, "TCP syslog: connection from 127.0.0.2 port " + std::to_string(LocalPort(third)) +
                              " refused: 2 connections from this address are open (setting \"tcpperaddr\")"), 1u);

  // A full table admits a new connection in place of the one silent for longest.
  const int talker = ConnectFrom(port, "127.0.0.1");
  ASSERT_TRUE(talkUntil(talker, [&] { return server.connectionCount() == 3 && talked >= 3; }));
  const int crowding = ConnectFrom(port, "127.0.0.3");
  ASSERT_TRUE(talkUntil(talker, [&] { return ClosedByServer(first); }));
  EXPECT_EQ(Reports(sink, "closed the one from 127.0.0.2 port " + std::to_string(LocalPort(first))), 1u);

  // Whatever stays silent for the idle time is closed, and a frame it began is kept.
  ASSERT_TRUE(talkUntil(talker, [&] { return server.connectionCount() == 1; }));
  EXPECT_TRUE(ClosedByServer(second));
  EXPECT_TRUE(ClosedByServer(crowding));
  EXPECT_EQ(Reports(sink, "silent for 500 ms (setting \"tcpidle\")"), 1u) << "two idle closes, one report";
  close(talker);
  ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 0; }));
  std::vector<std::string> texts;
  for (const auto& d : sink.datagrams) texts.push_back(d.text);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "<13>begun but never ended"), 1);
  EXPECT_EQ(static_cast<int>(texts.size()), talked + 1);  // nothing the talker sent was lost
  EXPECT_EQ(sink.local.size(), 3u);
  for (int fd : {first, second, third, crowding}) close(fd);
}

TEST(TcpSyslogServerTest, AnIdleTimeOfZeroNeverClosesASilentConnection) {
  Sink sink;
  CTcpSyslogServer server(sink, 0, {"127.0.0.1"}, {.maxConnections = 2, .idle = 0ms, .handshake = 100ms});
  ASSERT_TRUE(server.created());
  const int silent = Connect(server.boundPort());
  ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 1; }));
  const auto until = std::chrono::steady_clock::now() + 300ms;  // past a dozen timer runs
  PumpUntil(server, [&] { return std::chrono::steady_clock::now() > until; });
  EXPECT_EQ(server.connectionCount(), 1u);
  EXPECT_FALSE(ClosedByServer(silent));
  close(silent);
}

TEST(TcpSyslogServerTest, ASlowOwnerPushesBackWithoutLosingAnything) {
  Sink sink;
  CTcpSyslogServer server(sink, 0, {"127.0.0.1"}, {.maxConnections = 10});
  ASSERT_TRUE(server.created());
  const int client = Connect(server.boundPort());
  ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 1; }));
  // Far more than the socket buffers hold: the sender blocks until the server reads.
  constexpr int kMessages = 50000;
  std::thread sender([client] {
    std::string batch;
    for (int i = 0; i < kMessages; ++i) {
      batch += "<13>message number " + std::to_string(i) + " padded to be a little longer than tiny\n";
      if (batch.size() > 60000 || i == kMessages - 1) {
        send(client, batch.data(), batch.size(), MSG_NOSIGNAL);
        batch.clear();
      }
    }
    close(client);
  });
  std::this_thread::sleep_for(300ms);  // the owner is busy; the sender must wait
  ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 0; }));
  sender.join();
  ASSERT_EQ(sink.datagrams.size(), static_cast<std::size_t>(kMessages));
  for (int i : {0, 12345, kMessages - 1}) {
    EXPECT_EQ(sink.datagrams[static_cast<std::size_t>(i)].text.substr(0, 25),
              ("<13>message number " + std::to_string(i) + " padded").substr(0, 25));
  }
}

TEST(TcpSyslogServerTest, IPv6ConnectionsCarryTheirIPv6Address) {
  Sink sink;
  CTcpSyslogServer server(sink, 0, {"127.0.0.1", "::1"}, {.maxConnections = 10});
  if (server.error() == EADDRNOTAVAIL || server.error() == EAFNOSUPPORT) GTEST_SKIP() << "no IPv6 loopback";
  ASSERT_TRUE(server.created());
  const int v6 = Connect(server.boundPort(), "::1");
  const int v4 = Connect(server.boundPort(), "127.0.0.1");
  ASSERT_GE(v6, 0);
  ASSERT_GE(v4, 0);
  Send(v6, "<13>over six\n");
  ASSERT_TRUE(PumpUntil(server, [&] { return sink.datagrams.size() == 1; }));
  Send(v4, "<13>over four\n");
  ASSERT_TRUE(PumpUntil(server, [&] { return sink.datagrams.size() == 2; }));
  EXPECT_EQ(sink.datagrams[0].address, "::1");
  EXPECT_EQ(sink.datagrams[0].port, LocalPort(v6));
  EXPECT_EQ(sink.datagrams[1].address, "127.0.0.1");
  close(v6);
  close(v4);
}

// A self-signed certificate and key made for the test with the openssl tool.
class TlsServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cert_ = (home_.path() / "cert.pem").string();
    key_ = (home_.path() / "key.pem").string();
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout " +
                                key_ + " -out " + cert_ + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "the openssl tool is missing";
  }

  // How a TLS client ends after sending: with a close notification, or by reading, which is
  // where TLS 1.3 tells the client that the server refused its certificate.
  enum Ending { kShutDown, kAwaitRefusal };

  // A TLS client on a thread of its own, so that the server can be pumped meanwhile: it
  // connects, sends `frames` once its handshake succeeds, ends as asked and closes.
  static std::thread StartTlsClient(int32_t port, std::string frames, Ending ending) {
    const int fd = Connect(port);
    return std::thread([fd, frames = std::move(frames), ending] {
      SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
      SSL* ssl = SSL_new(ctx);
      SSL_set_fd(ssl, fd);
      if (SSL_connect(ssl) == 1) {
        SSL_write(ssl, frames.data(), static_cast<int>(frames.size()));
        if (ending == kShutDown) {
          SSL_shutdown(ssl);
        } else {
          char byte;
          SSL_read(ssl, &byte, 1);
        }
      }
      SSL_free(ssl);
      SSL_CTX_free(ctx);
      close(fd);
    });
  }

  qv::testing::TempHome home_;
  std::string cert_, key_;
};

TEST_F(TlsServerTest, OctetCountedFramesOverTlsAndABadClientCostsOnlyItsConnection) {
  std::string why;
  auto context = CTlsServerContext::Create(cert_, key_, "", &why);
  ASSERT_TRUE(context) << why;
  Sink sink;
  CTcpSyslogServer server(sink, 0, {"127.0.0.1"}, {.maxConnections = 10}, context);
  ASSERT_TRUE(server.created());

  // A client that does not speak TLS.
  const int plain = Connect(server.boundPort());
  Send(plain, "<13>not tls at all\n");
  ASSERT_TRUE(PumpUntil(server, [&] { return sink.local.size() == 1; }));
  EXPECT_NE(sink.local[0].find("TLS syslog: handshake with 127.0.0.1 port " + std::to_string(LocalPort(plain))),
            std::string::npos) << sink.local[0];
  close(plain);

  // A real TLS client.
  std::thread client = StartTlsClient(server.boundPort(), "15 <13>first frame16 <13>second frame", kShutDown);
  const bool done = PumpUntil(server, [&] { return sink.datagrams.size() == 2 && server.connectionCount() == 0; });
  client.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(sink.datagrams[0].text, "<13>first frame");
  EXPECT_EQ(sink.datagrams[1].text, "<13>second frame");
  EXPECT_EQ(sink.local.size(), 1u);
}

TEST_F(TlsServerTest, AClientThatNeverCompletesItsHandshakeIsClosedInTime) {
  std::string why;
  auto context = CTlsServerContext::Create(cert_, key_, "", &why);
  ASSERT_TRUE(context) << why;
  Sink sink;
  CTcpSyslogServer server(sink, 0, {"127.0.0.1"}, {.maxConnections = 10, .handshake = 200ms}, context);
  ASSERT_TRUE(server.created());
  const int silent = Connect(server.boundPort());
  ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 1; }));
  ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 0; }));
  ASSERT_EQ(sink.local.size(), 1u);
  EXPECT_NE(sink.local[0].find("not done within 200 ms"), std::string::npos) << sink.local[0];
  close(silent);
}

TEST_F(TlsServerTest, ARequiredClientCertificateThatIsMissingFailsTheHandshake) {
  std::string why;
  EXPECT_FALSE(CTlsServerContext::Create(cert_, (home_.path() / "absent.pem").string(), "", &why));
  EXPECT_NE(why.find("absent.pem"), std::string::npos) << why;
  auto context = CTlsServerContext::Create(cert_, key_, cert_, &why);
  ASSERT_TRUE(context) << why;
  Sink sink;
  CTcpSyslogServer server(sink, 0, {"127.0.0.1"}, {.maxConnections = 10}, context);
  std::thread client = StartTlsClient(server.boundPort(), "9 <13>never", kAwaitRefusal);
  const bool reported = PumpUntil(server, [&] { return sink.local.size() == 1 && server.connectionCount() == 0; });
  client.join();
  ASSERT_TRUE(reported);
  EXPECT_NE(sink.local[0].find("handshake"), std::string::npos) << sink.local[0];
  EXPECT_TRUE(sink.datagrams.empty());
}

// The highest descriptor this process has open.
int HighestDescriptor() {
  int highest = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    highest = std::max(highest, std::stoi(entry.path().filename().string()));
  }
  return highest;
}

TEST_F(TlsServerTest, OutOfDescriptorsWaitingConnectionsAreClosedAndTheServerServesAgainLater) {
  std::string why;
  auto context = CTlsServerContext::Create(cert_, key_, "", &why);
  ASSERT_TRUE(context) << why;
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "TCP");
    Sink sink;
    CTcpSyslogServer server(sink, 0, {"127.0.0.1"}, {.maxConnections = 100}, tls ? context : nullptr);
    ASSERT_TRUE(server.created());
    std::vector<int> waiting;
    for (int i = 0; i < 8; ++i) waiting.push_back(Connect(server.boundPort()));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(HighestDescriptor() + 1);  // no descriptor above the ones open
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<int> fillers;  // and none free below them
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
    const bool shed = PumpUntil(server, [&] {
      return std::count_if(waiting.begin(), waiting.end(), ClosedByServer) > 0 && !sink.local.empty();
    });
    for (int fd : fillers) close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_TRUE(shed);
    EXPECT_EQ(sink.local.at(0).rfind(std::string(tls ? "TLS" : "TCP") + " syslog: cannot accept connections on port " +
                                         std::to_string(server.boundPort()) + ": Too many open files",
                                     0), 0u) << sink.local[0];
    for (int fd : waiting) close(fd);
    ASSERT_TRUE(PumpUntil(server, [&] { return server.connectionCount() == 0; }));

    // With descriptors free again the listener is served again.
    if (tls) {
      std::thread client = StartTlsClient(server.boundPort(), "9 <13>again", kShutDown);
      const bool served = PumpUntil(server, [&] { return sink.datagrams.size() == 1; });
      client.join();
      EXPECT_TRUE(served);
    } else {
      const int again = Connect(server.boundPort());
      Send(again, "<13>again\n");
      EXPECT_TRUE(PumpUntil(server, [&] { return sink.datagrams.size() == 1; }));
      close(again);
    }
  }
}

}  // namespace
}  // namespace qv
