// Remote viewers against a real dunmir, in a network namespace of the test's own, with
// certificates made by `qvreg viewer-cert`: who is refused, the backfill and the live stream
// that follows it, a viewer that stops reading, and the most viewers served at once.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "service/dunmir_test_process.h"
#include "testing/free_udp_port.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"
#include "testing/wait_for.h"
#include "viewerlink/viewer_protocol.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using qv::testing::WaitFor;

// A blocking TCP connection to 127.0.0.1:`port`, reads timing out after `timeout`; -1 on failure.
int Connect(int32_t port, std::chrono::milliseconds timeout = 5s) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval wait{static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string Message(const std::string& recordLine) {
  SyslogMessage record;
  record.ReadRecordLine(recordLine);
  return record.message;
}

// A viewer as the protocol describes it, on OpenSSL: the file `qvreg viewer-cert` wrote gives
// its certificate, its key and the CA that must have signed the service's certificate.
class TestViewer {
 public:
  // False when the TLS handshake (or, with the default, the request) was refused.
  bool Open(int32_t port, const std::string& certificateFile, std::chrono::milliseconds timeout = 5s) {
    context_.reset(SSL_CTX_new(TLS_client_method()));
    SSL_CTX* context = context_.get();
    if (!certificateFile.empty() && (SSL_CTX_use_certificate_file(context, certificateFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
                                     SSL_CTX_use_PrivateKey_file(context, certificateFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
                                     SSL_CTX_load_verify_locations(context, certificateFile.c_str(), nullptr) != 1)) {
      return false;
    }
    SSL_CTX_set_verify(context, certificateFile.empty() ? SSL_VERIFY_NONE : SSL_VERIFY_PEER, nullptr);
    fd_ = Connect(port, timeout);
    ssl_.reset(SSL_new(context));
    if (fd_ < 0 || !ssl_) return false;
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), "127.0.0.1");  // the service's name
    SSL_set_fd(ssl_.get(), fd_);
    ERR_clear_error();
    return SSL_connect(ssl_.get()) == 1;
  }
  ~TestViewer() {
    ssl_.reset();
    if (fd_ >= 0) close(fd_);
  }

  bool Request(uint32_t lines) {
    const std::string request = FormatBackfillRequest(lines);
    return SSL_write(ssl_.get(), request.data(), static_cast<int>(request.size())) == static_cast<int>(request.size());
  }

  // Reads until `count` record lines are in, the stream ends or a read times out; the
  // messages of the records read, markers included.
  std::vector<std::string> Read(std::size_t count) {
    std::array<char, 16384> buffer{};
    while (messages_.size() < count) {
      const int read = SSL_read(ssl_.get(), buffer.data(), static_cast<int>(buffer.size()));
      if (read <= 0) {
        // A read that timed out is no end: the service still holds the connection.
        ended_ = SSL_get_error(ssl_.get(), read) != SSL_ERROR_WANT_READ;
        break;
      }
      const bool ok = reader_.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(read)),
                                   [&](std::string_view line) { messages_.push_back(Message(std::string(line))); });
      EXPECT_TRUE(ok);
      if (!ok) break;
    }
    const auto end = messages_.begin() + static_cast<std::ptrdiff_t>(std::min(count, messages_.size()));
    std::vector<std::string> taken(messages_.begin(), end);
    messages_.erase(messages_.begin(), end);
    return taken;
  }
  // True when the service ended the connection (nothing more to read), false when a read timed
  // out first.
  bool Ended() {
    if (!ended_) Read(SIZE_MAX);
    return ended_;
  }

 private:
  struct FreeContext {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  };
  struct FreeSsl {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
  };
  std::unique_ptr<SSL_CTX, FreeContext> context_;
  std::unique_ptr<SSL, FreeSsl> ssl_;
  int fd_ = -1;
  CViewerFrameReader reader_;
  std::deque<std::string> messages_;  // read and not yet taken
  bool ended_ = false;
};

// "m000123" for message 123: the order shows in the text.
std::string Numbered(int number) {
  char text[16];
  std::snprintf(text, sizeof text, "m%06d", number);
  return text;
}

std::vector<std::string> Numbers(int from, int to) {
  std::vector<std::string> messages;
  for (int i = from; i < to; ++i) messages.push_back(Numbered(i));
  return messages;
}

class ViewerLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qv::testing::OwnNetworkNamespace::Enter()) GTEST_SKIP() << "cannot make a network namespace (needs root)";
    tcpPort_ = qv::testing::FreeTcpPort();
    viewerPort_ = qv::testing::FreeTcpPort();
    const CSettingsStore& store = AppSettings();
    store.SetInt("Settings", "udpport", qv::testing::FreeUdpPort());
    store.SetInt("Settings", "tcpport", tcpPort_);
    store.SetInt("Settings", "viewerport", viewerPort_);
    store.SetInt("Settings", "historysize", 100000);  // holds every message of the tests
    store.SetInt("Settings", "SNMPTrapMonitor", 0);
    store.SetInt("Settings", "EventLog", 0);
    certificate_ = ViewerCertificate(home_, "desk");
    ASSERT_FALSE(certificate_.empty());
    dunmir_ = qv::testing::SpawnDunmir({"debug"});
    ASSERT_TRUE(WaitFor([this] {
      const int fd = Connect(viewerPort_);
      if (fd >= 0) close(fd);
      return fd >= 0;
    }));
    // That connection's refusal is said from the link's thread: it is in the history before any
    // message of the test, so that it cannot count among a backfill's lines.
    ASSERT_TRUE(WaitFor([this] {
      const std::vector<std::string> history = History();
      return std::any_of(history.begin(), history.end(),
                         [](const std::string& line) { return line.rfind("Viewer link: refused", 0) == 0; });
    }));
    sender_ = Connect(tcpPort_);
    ASSERT_GE(sender_, 0);
  }
  void TearDown() override {
    if (sender_ >= 0) close(sender_);
    if (dunmir_ > 0) {
      kill(dunmir_, SIGTERM);
      EXPECT_EQ(qv::testing::WaitForExit(dunmir_), 0);
    }
  }

  // The path `qvreg viewer-cert NAME` printed, run on the data root of `home`.
  static std::string ViewerCertificate(const qv::testing::TempHome& home, const std::string& name) {
    const std::string command = "QUORVEL_HOME=" + home.path().string() + " " + QVREG_PATH + " viewer-cert " + name;
    std::FILE* pipe = popen(command.c_str(), "r");
    std::array<char, 512> line{};
    std::string path = pipe != nullptr && std::fgets(line.data(), line.size(), pipe) != nullptr ? line.data() : "";
    if (pipe != nullptr && pclose(pipe) != 0) return "";
    if (!path.empty() && path.back() == '\n') path.pop_back();
    return path;
  }

  // Sends messages `from` to `to` (exclusive) over TCP, octet-counted.
  void Send(int from, int to) {
    std::string frames;
    for (int i = from; i < to; ++i) {
      const std::string message = "<13>Dec  8 10:00:00 router " + Numbered(i);
      frames += std::to_string(message.size()) + " " + message;
      if (frames.size() > 60000 || i + 1 == to) {
        ASSERT_EQ(send(sender_, frames.data(), frames.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frames.size()));
        frames.clear();
      }
    }
  }

  std::vector<std::string> History() const { return qv::testing::HistoryMessages(home_); }
  // The history's messages of the numbered kind only.
  std::vector<std::string> NumberedHistory() const {
    std::vector<std::string> numbered;
    for (const std::string& message : History()) {
      if (message.rfind("m", 0) == 0) numbered.push_back(message);
    }
    return numbered;
  }
  bool HistoryHolds(std::size_t numbered) const { return NumberedHistory().size() >= numbered; }

  qv::testing::TempHome home_;
  int32_t tcpPort_ = 0;
  int32_t viewerPort_ = 0;
  std::string certificate_;
  pid_t dunmir_ = -1;
  int sender_ = -1;
};

TEST_F(ViewerLinkTest, OnlyViewersWithACertificateFromTheViewersCaAreServed) {
  qv::testing::TempHome otherHome;  // another service's CA
  const std::string foreign = ViewerCertificate(otherHome, "stranger");
  ASSERT_FALSE(foreign.empty());
  setenv("QUORVEL_HOME", home_.path().c_str(), 1);
  Send(0, 3);
  ASSERT_TRUE(WaitFor([this] { return HistoryHolds(3); }));
  const struct {
    const char* name;
    std::string certificate;
  } refused[] = {{"a certificate from another CA", foreign}, {"no certificate", ""}};
  for (const auto& c : refused) {
    TestViewer viewer;
    const bool opened = viewer.Open(viewerPort_, c.certificate);
    // TLS 1.3 clients learn of the refusal at their first read.
    if (opened) {
      viewer.Request(10);
      EXPECT_TRUE(viewer.Read(1).empty()) << c.name;
    }
    EXPECT_TRUE(viewer.Ended()) << c.name;
  }
  // Plain TCP: the request gets no answer but the end of the connection.
  const int plain = Connect(viewerPort_);
  ASSERT_GE(plain, 0);
  const std::string request = FormatBackfillRequest(10);
  send(plain, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  std::array<char, 256> bytes{};
  ssize_t got = 0;
  while ((got = recv(plain, bytes.data(), bytes.size(), 0)) > 0) answer.append(bytes.data(), static_cast<std::size_t>(got));
  EXPECT_TRUE(got == 0 || (got < 0 && errno == ECONNRESET)) << "not ended: " << std::strerror(errno);
  EXPECT_EQ(answer.find("m00000"), std::string::npos) << "a record came back over plain TCP";
  EXPECT_LE(answer.size(), 16u) << "more than a TLS alert came back";
  close(plain);
  // The first refusal is a local message with the client's address; the others of the minute
  // are counted into the next.
  ASSERT_TRUE(WaitFor([this] {
    for (const std::string& message : History()) {
      if (message.find("Viewer link: refused a viewer from 127.0.0.1 port ") == 0) return true;
    }
    return false;
  }));
  // A viewer with the right file is served meanwhile.
  TestViewer viewer;
  ASSERT_TRUE(viewer.Open(viewerPort_, certificate_));
  ASSERT_TRUE(viewer.Request(3));
  EXPECT_EQ(viewer.Read(3), Numbers(0, 3));
}

TEST_F(ViewerLinkTest, BackfillOfTheLastThousandLinesThenEveryLiveLineInOrder) {
  Send(0, 1500);
  ASSERT_TRUE(WaitFor([this] { return HistoryHolds(1500); }));
  TestViewer viewer;
  ASSERT_TRUE(viewer.Open(viewerPort_, certificate_));
  ASSERT_TRUE(viewer.Request(1000));
  EXPECT_EQ(viewer.Read(1000), Numbers(500, 1500));
  Send(1500, 3000);
  EXPECT_EQ(viewer.Read(1500), Numbers(1500, 3000));
  // A second viewer asking for nothing gets only what comes after its request.
  TestViewer later;
  ASSERT_TRUE(later.Open(viewerPort_, certificate_));
  ASSERT_TRUE(later.Request(0));
  std::this_thread::sleep_for(300ms);  // the request is read before the next line arrives
  Send(3000, 3010);
  EXPECT_EQ(later.Read(10), Numbers(3000, 3010));
  EXPECT_EQ(viewer.Read(10), Numbers(3000, 3010));
}

TEST_F(ViewerLinkTest, AViewerThatStopsReadingLosesItsOldestLinesAndIsToldWhileTheHistoryKeepsAll) {
  constexpr int kBurst = 200000;
  TestViewer stalled;
  ASSERT_TRUE(stalled.Open(viewerPort_, certificate_, 20s));
  ASSERT_TRUE(stalled.Request(0));
  std::this_thread::sleep_for(300ms);
  const auto start = Clock::now();
  Send(0, kBurst);
  // The service does not wait for the viewer: the burst is in the history while it sleeps.
  ASSERT_TRUE(WaitFor([this] { return HistoryHolds(kBurst); }, 60s));
  std::this_thread::sleep_for(10s - std::min<Clock::duration>(Clock::now() - start, 10s));
  EXPECT_EQ(NumberedHistory(), Numbers(0, kBurst));
  Send(kBurst, kBurst + 10);

  // What the viewer reads: lines in order, one marker with the count of the gap, lines in order
  // up to the last one sent.
  std::vector<std::string> lines;
  uint64_t dropped = 0;
  int markers = 0;
  while (lines.empty() || lines.back() != Numbered(kBurst + 9)) {
    const std::vector<std::string> got = stalled.Read(1);
    ASSERT_EQ(got.size(), 1u) << "the stream ended after " << lines.size() << " lines";
    if (got[0].find("Viewer link: ") == 0) {
      ++markers;
      dropped += std::stoull(got[0].substr(13));
      EXPECT_NE(got[0].find(" messages were dropped for this viewer"), std::string::npos) << got[0];
      EXPECT_FALSE(lines.empty()) << "the oldest lines go, not the first ones the socket holds";
      continue;
    }
    EXPECT_TRUE(lines.empty() || got[0] > lines.back()) << got[0] << " after " << lines.back();
    lines.push_back(got[0]);
  }
  EXPECT_EQ(markers, 1);
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(lines.size() + dropped, static_cast<std::size_t>(kBurst + 10));
}

TEST_F(ViewerLinkTest, SixteenViewersAreServedAndTheSeventeenthIsRefused) {
  std::vector<std::unique_ptr<TestViewer>> viewers;
  for (std::size_t i = 0; i < kMaxViewers; ++i) {
    viewers.push_back(std::make_unique<TestViewer>());
    ASSERT_TRUE(viewers.back()->Open(viewerPort_, certificate_)) << i;
    ASSERT_TRUE(viewers.back()->Request(0)) << i;
  }
  std::this_thread::sleep_for(500ms);
  Send(0, 1);
  for (auto& viewer : viewers) EXPECT_EQ(viewer->Read(1), Numbers(0, 1));

  TestViewer seventeenth;
  ASSERT_TRUE(seventeenth.Open(viewerPort_, certificate_));
  ASSERT_TRUE(seventeenth.Request(0));
  const std::vector<std::string> told = seventeenth.Read(2);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("serves 16 viewers already"), std::string::npos) << told[0];
  EXPECT_TRUE(seventeenth.Ended());
  ASSERT_TRUE(WaitFor([this] {
    for (const std::string& message : History()) {
      if (message.find("16 viewers are served") != std::string::npos) return true;
    }
    return false;
  }));
  // One leaves: a new viewer takes its place.
  viewers.pop_back();
  std::this_thread::sleep_for(300ms);
  TestViewer next;
  ASSERT_TRUE(next.Open(viewerPort_, certificate_));
  ASSERT_TRUE(next.Request(0));
  std::this_thread::sleep_for(300ms);
  Send(1, 2);
  EXPECT_EQ(next.Read(1), Numbers(1, 2));
}

}  // namespace
}  // namespace qv
