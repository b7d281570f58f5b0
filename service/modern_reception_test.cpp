// The receivers beside UDP, end to end: a real dunmir in the foreground, real clients (logger
// over UDP and TCP, rsyslog forwarding over TCP, openssl over TLS, a datagram from ::1, a local
// user without privileges), and the history read back from the data root.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "reception/tcp_syslog_server.h"
#include "reception/udp_test_peer.h"
#include "service/dunmir_test_process.h"
#include "testing/free_udp_port.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

bool Accepts(int32_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

void Shell(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

class ModernReceptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    udpPort_ = qv::testing::FreeUdpPort();
    tcpPort_ = qv::testing::FreeTcpPort();
    AppSettings().SetInt("Settings", "udpport", udpPort_);
    AppSettings().SetInt("Settings", "tcpport", tcpPort_);
    AppSettings().SetInt("Settings", "SNMPTrapMonitor", 0);
  }
  void TearDown() override {
    if (dunmir_ > 0) {
      kill(dunmir_, SIGTERM);
      EXPECT_EQ(qv::testing::WaitForExit(dunmir_), 0);
    }
  }

  // Starts dunmir and waits until `port` takes TCP connections.
  void StartDunmir(int32_t port) {
    dunmir_ = qv::testing::SpawnDunmir({"debug"});
    ASSERT_TRUE(WaitFor([port] { return Accepts(port); }));
  }

  std::vector<SyslogMessage> History() const {
    std::vector<SyslogMessage> records;
    for (const char* name : {"qvhista.txt", "qvhistb.txt"}) {
      std::ifstream file(home_.file(name));
      for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        records.emplace_back().ReadRecordLine(line);
      }
    }
    return records;
  }

  // The stored records whose message holds `text`, once `count` of them are there (10 s at most).
  std::vector<SyslogMessage> Stored(const std::string& text, std::size_t count) const {
    std::vector<SyslogMessage> found;
    WaitFor([&] {
      found.clear();
      for (const SyslogMessage& record : History()) {
        if (record.message.find(text) != std::string::npos) found.push_back(record);
      }
      return found.size() >= count;
    });
    return found;
  }

  qv::testing::TempHome home_;
  int32_t udpPort_ = 0;
  int32_t tcpPort_ = 0;
  pid_t dunmir_ = -1;
};

TEST_F(ModernReceptionTest, LoggerOverUdpAndTcpAndADatagramFromIpv6Loopback) {
  AppSettings().SetInt("Settings", "ipv6", 1);
  StartDunmir(tcpPort_);
  const std::string to = " -n 127.0.0.1 -P ";
  Shell("logger --rfc5424 -d" + to + std::to_string(udpPort_) + " -p local3.err -t qv5424 'five four two four'");
  Shell("logger -T --octet-count" + to + std::to_string(tcpPort_) + " -t qvtcp 'octet counted frame'");
  Shell("logger -T" + to + std::to_string(tcpPort_) + " -t qvtcp 'line ended frame'");

  const std::vector<SyslogMessage> udp = Stored("five four two four", 1);
  ASSERT_EQ(udp.size(), 1u);
  EXPECT_EQ(udp[0].facility, 19);
  EXPECT_EQ(udp[0].severity, 3);
  char host[256] = "";
  gethostname(host, sizeof host);
  EXPECT_EQ(udp[0].hostName, host);
  EXPECT_EQ(udp[0].ipAddress, "127.0.0.1");
  EXPECT_EQ(udp[0].message, "qv5424: five four two four");  // logger's timeQuality left out
  EXPECT_LE(std::abs(udp[0].timeSent - udp[0].timeReceived), 5);

  for (const char* text : {"octet counted frame", "line ended frame"}) {
    const std::vector<SyslogMessage> tcp = Stored(text, 1);
    ASSERT_EQ(tcp.size(), 1u) << text;
    EXPECT_EQ(tcp[0].ipAddress, "127.0.0.1");
    EXPECT_GT(tcp[0].senderPort, 0);
    EXPECT_EQ(tcp[0].hostName, host);
    EXPECT_EQ(tcp[0].message.rfind("qvtcp: ", 0), 0u) << tcp[0].message;
  }

  const int v6 = socket(AF_INET6, SOCK_DGRAM, 0);
  sockaddr_in6 loopback{};
  loopback.sin6_family = AF_INET6;
  loopback.sin6_addr = in6addr_loopback;
  if (v6 < 0 || bind(v6, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) != 0) GTEST_SKIP() << "no ::1";
  loopback.sin6_port = htons(static_cast<uint16_t>(udpPort_));
  const std::string datagram = "<13>Dec  8 01:51:06 v6host qv6: from the IPv6 loopback";
  sendto(v6, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback);
  close(v6);
  const std::vector<SyslogMessage> six = Stored("from the IPv6 loopback", 1);
  ASSERT_EQ(six.size(), 1u);
  EXPECT_EQ(six[0].ipAddress, "::1");
  EXPECT_EQ(six[0].hostName, "v6host");
}

// Sends `text` as one datagram to 127.0.0.1:`port`, and each of `frames` over one TCP
// connection to 127.0.0.1:`tcpPort`, from a child process that is the user "nobody" when the
// test runs as root. True when everything was sent.
bool SendAsAnotherLocalUser(int32_t port, const std::string& text, int32_t tcpPort, const std::string& frames) {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    if (geteuid() == 0 && (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)) _exit(2);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    if (sendto(udp, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
        static_cast<ssize_t>(text.size())) {
      _exit(3);
    }
    to.sin_port = htons(static_cast<uint16_t>(tcpPort));
    const int tcp = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(tcp, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        send(tcp, frames.data(), frames.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frames.size())) {
      _exit(4);
    }
    close(tcp);
    _exit(0);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A local user who writes record lines to the syslog ports, over UDP or TCP in either framing,
// gets them stored as ordinary messages from 127.0.0.1: the sender, host, severity, times and
// highlight they name are not taken.
TEST_F(ModernReceptionTest, ARecordLineFromALocalUserIsAnOrdinaryMessage) {
  StartDunmir(tcpPort_);
  const auto forged = [](const std::string& way) {
    return "1,0,core-router,10.66.66.66,514,0,1700000000,1700000000,\"forged over " + way + "\"";
  };
  const std::string counted = forged("counted tcp");
  ASSERT_TRUE(SendAsAnotherLocalUser(udpPort_, forged("udp"), tcpPort_,
                                     forged("tcp") + "\n" + std::to_string(counted.size()) + " " + counted));

  const int32_t before = static_cast<int32_t>(std::time(nullptr)) - 60;
  for (const std::string way : {"udp", "tcp", "counted tcp"}) {
    const std::vector<SyslogMessage> stored = Stored("forged over " + way + "\"", 1);
    ASSERT_EQ(stored.size(), 1u) << way;
    EXPECT_EQ(stored[0].message, forged(way));
    EXPECT_EQ(stored[0].ipAddress, "127.0.0.1") << way;
    EXPECT_EQ(stored[0].hostName, "") << way;
    EXPECT_EQ(stored[0].facility, 1) << way;
    EXPECT_EQ(stored[0].severity, 5) << way;
    EXPECT_FALSE(stored[0].highlighted) << way;
    EXPECT_GT(stored[0].timeReceived, before) << way;
    EXPECT_NE(stored[0].senderPort, 514) << way;
  }
}

TEST_F(ModernReceptionTest, RsyslogForwardsOverTcpInBothFramings) {
  // Debian's rsyslog, unpacked into the test's folder, never installed.
  const std::filesystem::path work = home_.path() / "rsyslog";
  std::filesystem::create_directories(work / "debs");
  const std::string debs = (work / "debs").string();
  const std::string download = "cd " + debs + " && apt-get download -q rsyslog libestr0 libfastjson4 >/dev/null 2>&1";
  if (std::system(download.c_str()) != 0) {
    GTEST_SKIP() << "cannot download Debian's rsyslog package";
  }
  const std::string root = (work / "root").string();
  Shell("for deb in " + debs + "/*.deb; do dpkg-deb -x \"$deb\" " + root + "; done");
  const std::string libdir = root + "/usr/lib/x86_64-linux-gnu";
  const int32_t rsyslogPort = qv::testing::FreeUdpPort();
  {
    std::ofstream conf(work / "rsyslog.conf");
    conf << "module(load=\"imudp\")\n"
         << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << rsyslogPort << "\")\n"
         << "if $msg contains 'via rsyslog' then {\n"
         << "  action(type=\"omfwd\" target=\"127.0.0.1\" port=\"" << tcpPort_
         << "\" protocol=\"tcp\" TCP_Framing=\"octet-counted\" template=\"RSYSLOG_SyslogProtocol23Format\")\n"
         << "  action(type=\"omfwd\" target=\"127.0.0.1\" port=\"" << tcpPort_
         << "\" protocol=\"tcp\" TCP_Framing=\"traditional\")\n"
         << "}\n";
  }
  StartDunmir(tcpPort_);
  const pid_t rsyslog = fork();
  if (rsyslog == 0) {
    const std::string conf = (work / "rsyslog.conf").string();
    const std::string modules = libdir + "/rsyslog";
    setenv("LD_LIBRARY_PATH", libdir.c_str(), 1);
    freopen("/dev/null", "w", stderr);
    execl((root + "/usr/sbin/rsyslogd").c_str(), "rsyslogd", "-n", "-iNONE", "-f", conf.c_str(), "-M",
          modules.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::this_thread::sleep_for(1s);  // rsyslog opens its input
  Shell("logger --rfc3164 -d -n 127.0.0.1 -P " + std::to_string(rsyslogPort) +
      " -p local4.warning -t fwdtest 'forwarded via rsyslog'");
  const std::vector<SyslogMessage> forwarded = Stored("forwarded via rsyslog", 2);
  kill(rsyslog, SIGTERM);
  qv::testing::WaitForExit(rsyslog);
  ASSERT_EQ(forwarded.size(), 2u);
  char host[256] = "";
  gethostname(host, sizeof host);
  for (const SyslogMessage& record : forwarded) {
    EXPECT_EQ(record.facility, 20);
    EXPECT_EQ(record.severity, 4);
    EXPECT_EQ(record.ipAddress, "127.0.0.1");
    EXPECT_EQ(record.hostName, host);
    EXPECT_NE(record.timeSent, 0);
    // The RFC 5424 form and the traditional one both read into tag and text, without the host.
    EXPECT_EQ(record.message.rfind("fwdtest", 0), 0u) << record.message;
  }
}

TEST_F(ModernReceptionTest, OpensslClientOverTlsAndAPlainClientThatFailsItsHandshake) {
  const std::string cert = home_.file("server-cert.pem");
  const std::string key = home_.file("server-key.pem");
  if (std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout " + key +
                   " -out " + cert + " 2>/dev/null")
                      .c_str()) != 0) {
    GTEST_SKIP() << "the openssl tool is missing";
  }
  const int32_t tlsPort = qv::testing::FreeTcpPort();
  AppSettings().SetInt("Settings", "tlsport", tlsPort);
  AppSettings().SetString("Settings", "tlscert", cert.c_str());
  AppSettings().SetString("Settings", "tlskey", key.c_str());
  StartDunmir(tlsPort);  // that first probe is itself a client that never speaks TLS

  const std::string frame = "<14>Dec  8 01:51:06 tlshost qvtls: sent over TLS";
  Shell("printf '%s' '" + std::to_string(frame.size()) + " " + frame +
        "' | timeout 10 openssl s_client -connect 127.0.0.1:" + std::to_string(tlsPort) +
        " -quiet -no_ign_eof >/dev/null 2>&1");
  const std::vector<SyslogMessage> tls = Stored("sent over TLS", 1);
  ASSERT_EQ(tls.size(), 1u);
  EXPECT_EQ(tls[0].hostName, "tlshost");
  EXPECT_EQ(tls[0].message, "qvtls: sent over TLS");
  EXPECT_EQ(tls[0].ipAddress, "127.0.0.1");

  const std::vector<SyslogMessage> failures = Stored("TLS syslog: handshake with 127.0.0.1 port", 1);
  ASSERT_GE(failures.size(), 1u);
  EXPECT_EQ(failures[0].facility, 5);
}

TEST_F(ModernReceptionTest, AReceiverThatCannotOpenStopsTheService) {
  // A TLS port without a readable certificate, then a TCP port that is taken.
  AppSettings().SetInt("Settings", "tlsport", qv::testing::FreeTcpPort());
  AppSettings().SetString("Settings", "tlscert", home_.file("missing.pem").c_str());
  EXPECT_EQ(qv::testing::RunDunmir({"debug"}), 1);
  AppSettings().SetInt("Settings", "tlsport", 0);
  testing::RecordingSink sink;
  CTcpSyslogServer holder(sink, tcpPort_, {"127.0.0.1"}, {.maxConnections = 1});
  ASSERT_TRUE(holder.created());
  EXPECT_EQ(qv::testing::RunDunmir({"debug"}), 1);
}

TEST_F(ModernReceptionTest, ARuleForwardsOverTcpWithOctetCounting) {
  testing::RecordingSink upstream;
  CTcpSyslogServer server(upstream, 0, {"127.0.0.1"}, {.maxConnections = 4});
  ASSERT_TRUE(server.created());
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "rulescount", 1);
  store.SetString("Rules\\rule0", "Message", "forward me");
  store.SetInt("Rules\\rule0", "Action", 2);
  store.SetString("Rules\\rule0", "ActionValue", ("tcp://127.0.0.1:" + std::to_string(server.boundPort())).c_str());
  StartDunmir(tcpPort_);
  Shell("logger --rfc3164 -T --octet-count -n 127.0.0.1 -P " + std::to_string(tcpPort_) +
        " -t qvfwd 'please forward me'");
  ASSERT_TRUE(WaitFor([&] {
    pollfd watched{server.descriptor(), POLLIN, 0};
    if (poll(&watched, 1, 20) == 1) server.OnReceive();
    return !upstream.datagrams.empty();
  }));
  // The record's syslog line, as UDP forwarding sends it: priority, stamp, host, text.
  SyslogMessage forwarded;
  forwarded.ParseDatagram(upstream.datagrams[0].address, upstream.datagrams[0].port, upstream.datagrams[0].text);
  EXPECT_EQ(forwarded.message, "qvfwd: please forward me");
  EXPECT_EQ(forwarded.facility, 1);
}

}  // namespace
}  // namespace qv
