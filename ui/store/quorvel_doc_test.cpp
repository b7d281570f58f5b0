#include "ui/store/quorvel_doc.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/settings/settings_store.h"
#include "reception/relay.h"
#include "reception/udp_test_peer.h"
#include "testing/free_udp_port.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"
#include "ui/store/export_formats.h"
#include "ui/store/store_test_support.h"
#include "viewerlink/viewer_certificates.h"

namespace qv {
namespace {

using testing::FakeService;
using testing::ProcessEventsUntil;
using testing::RecordingFrame;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

int CountLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

class QuorvelDocTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureCoreApplication();
    AppSettings().SetInt("Settings", "EventLog", 0);  // no event-log translators in these tests
    port_ = testing::FreeUdpPort();
    AppSettings().SetInt("Settings", "udpport", port_);
  }

  std::unique_ptr<CQuorvelDoc> MakeDoc(FakeService** service, RecordingFrame* frame) {
    auto fake = std::make_unique<FakeService>();
    *service = fake.get();
    auto doc = std::make_unique<CQuorvelDoc>(CQuorvelDoc::ExecutorFactory(), std::move(fake));
    doc->SetFrame(frame);
    return doc;
  }

  testing::TempHome home_;
  int32_t port_ = 0;
};

TEST_F(QuorvelDocTest, DatagramsRunRulesAndHistoryOnlyWhileTheServiceIsNotRunning) {
  testing::SaveRule(0, "mark", kActionHighlight, "urgent");
  testing::SaveRule(1, "drop", kActionDiscard, "drop");

  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  doc->ReloadRules();
  const std::string history = home_.file("qvhista.txt");

  doc->OnDatagram("10.0.0.5", 1025, "<34>Oct 11 22:14:15 mymachine urgent\nsecond line");
  doc->OnDatagram("10.0.0.5", 1025, "<34>drop me");
  ASSERT_EQ(doc->GetShownCount(), 1);
  SyslogMessage stored = doc->GetMessage(ShownPosition(0));
  EXPECT_EQ(stored.message, "urgent second line");
  EXPECT_EQ(stored.hostName, "mymachine");
  EXPECT_TRUE(stored.highlighted);
  EXPECT_EQ(CountLines(ReadAll(history)), 1);
  EXPECT_EQ(frame.addresses, std::vector<std::string>{"10.0.0.5"});
  EXPECT_EQ(frame.facilities, std::vector<int32_t>{4});
  EXPECT_EQ(frame.refreshRequests, 1);
  EXPECT_FALSE(doc->IsModified());  // received, not changed by the user

  doc->OnLocalMessage("report\r\nline");
  EXPECT_EQ(doc->GetMessage(ShownPosition(1)).message, "report\xC2\xAE\xC2\xB6line");
  EXPECT_EQ(doc->GetMessage(ShownPosition(1)).hostName, "localhost");
  const std::string lines = ReadAll(history);
  EXPECT_EQ(CountLines(lines), 2) << lines;

  // With the service running it runs the rules and writes the history, not the viewer.
  service->running = true;
  doc->UpdateStatus();
  doc->OnDatagram("10.0.0.6", 1026, "<34>urgent, but not here");
  doc->OnDatagram("10.0.0.6", 1026, "<34>drop me too");
  doc->OnLocalMessage("local");
  EXPECT_EQ(doc->GetShownCount(), 5);
  EXPECT_FALSE(doc->GetMessage(ShownPosition(2)).highlighted);
  EXPECT_EQ(ReadAll(history), lines);
  EXPECT_EQ(doc->GetMessage(ShownPosition(99)).message, "");
}

// Mails that each wait for a turn the test gives; each reports when it is done.
struct MailTurns {
  std::mutex mutex;
  std::condition_variable changed;
  int allowed = 0;
  int done = 0;
};

class TurnTakingMails : public CActionExecutor {
 public:
  explicit TurnTakingMails(std::shared_ptr<MailTurns> turns) : turns_(std::move(turns)) {}
  void BeginLoadRules(const ActionContext&) override {}
  void RuleLoaded(const CRule&, const ActionContext&) override {}
  void Execute(const CRule&, const SyslogMessage& message, const ActionContext& context) override {
    std::unique_lock lock(turns_->mutex);
    turns_->changed.wait(lock, [this] { return turns_->done < turns_->allowed; });
    ++turns_->done;
    turns_->changed.notify_all();
    lock.unlock();
    context.reporter.OnLocalMessage("mailed " + message.message);
  }

 private:
  std::shared_ptr<MailTurns> turns_;
};

TEST_F(QuorvelDocTest, MailsWaitOnTheirWorkerReportBackHereAndThoseLeftAtCloseAreCounted) {
  testing::SaveRule(0, "page", kActionSendMail, "page");
  auto turns = std::make_shared<MailTurns>();
  turns->allowed = 1;
  RecordingFrame frame;
  auto doc = std::make_unique<CQuorvelDoc>(
      [turns](CSyslogSink&) { return std::make_unique<TurnTakingMails>(turns); }, std::make_unique<FakeService>());
  doc->SetFrame(&frame);
  doc->ReloadRules();

  for (const char* text : {"<14>page one", "<14>page two", "<14>page three"}) doc->OnDatagram("10.0.0.5", 1025, text);
  EXPECT_EQ(doc->GetShownCount(), 3);  // stored while the mails wait
  // The first mail's report comes back through the event loop, after the messages.
  ASSERT_TRUE(ProcessEventsUntil([&] { return doc->GetShownCount() == 4; }));
  EXPECT_EQ(doc->GetMessage(ShownPosition(3)).message, "mailed page one");

  // "page two" holds the worker, "page three" waits: closing gives them the bound, then says so.
  const auto closing = std::chrono::steady_clock::now();
  doc.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, CQuorvelDoc::kStopBound + std::chrono::seconds(2));
  const std::string history = ReadAll(home_.file("qvhista.txt"));
  EXPECT_NE(history.find("Rules: 1 actions (mail, database, SNMP trap, program) were still waiting when Quorvel "
                         "closed and were skipped"),
            std::string::npos)
      << history;
  EXPECT_EQ(history.find("mailed page two"), std::string::npos);
  {
    const std::lock_guard lock(turns->mutex);
    turns->allowed = 3;
  }
  turns->changed.notify_all();
  std::unique_lock lock(turns->mutex);
  EXPECT_TRUE(turns->changed.wait_for(lock, std::chrono::seconds(5), [&] { return turns->done == 2; }));
}

TEST_F(QuorvelDocTest, StatusTellsWhoListens) {
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  const std::string port = std::to_string(port_);

  ASSERT_TRUE(doc->StartServer(port_));
  EXPECT_EQ(frame.listenText, "UI Listening on port " + port);
  EXPECT_EQ(doc->GetListenPort(), port_);
  EXPECT_EQ(frame.timeMarkStarts, 1);
  testing::UdpPeer peer;
  peer.SendTo(port_, "<13>over the wire");
  ASSERT_TRUE(ProcessEventsUntil([&] { return doc->GetShownCount() == 1; }));
  EXPECT_EQ(doc->GetMessage(ShownPosition(0)).message, "over the wire");

  // The port is held: a second document does not listen.
  FakeService* otherService = nullptr;
  RecordingFrame otherFrame;
  auto other = MakeDoc(&otherService, &otherFrame);
  EXPECT_FALSE(other->StartServer(port_));
  EXPECT_EQ(otherFrame.listenText, "Service and UI Server not listening");

  doc->StopServer(true);
  EXPECT_EQ(frame.listenText, "Service and UI Server not listening");
  EXPECT_EQ(doc->GetListenPort(), 0);
  EXPECT_GE(frame.timeMarkStops, 1);

  // With the service running the document takes the relay, without monitors or time mark.
  service->running = true;
  ASSERT_TRUE(doc->StartServer(port_));
  EXPECT_TRUE(doc->IsListeningOnRelay());
  EXPECT_EQ(doc->GetListenPort(), 0);
  EXPECT_EQ(frame.listenText, "Service Listening on port " + port + ", UI active");
  EXPECT_EQ(frame.timeMarkStarts, 1);
  EXPECT_EQ(std::filesystem::status(RelaySocketPath()).type(), std::filesystem::file_type::socket);

  // A relay held by a running viewer is not taken over.
  otherService->running = true;
  EXPECT_FALSE(other->StartServer(port_));
  EXPECT_EQ(otherFrame.listenText, "Service Listening on port " + port + ", UI not active");
}

// Sends `bytes` over a new TCP connection to 127.0.0.1:`port` and closes it; false when the
// connection was refused.
bool SendOverTcp(int32_t port, const std::string& bytes) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool sent = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  close(fd);
  return sent;
}

TEST_F(QuorvelDocTest, FollowingARemoteServiceNeitherListensNorLoadsTheHistoryUntilDisconnected) {
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  ASSERT_TRUE(doc->StartServer(port_));
  std::string certificate, error;
  ASSERT_TRUE(IssueViewerCertificate("desk", &certificate, &error)) << error;
  WriteFile(home_.file("qvhista.txt"), "0,5,localhost,127.0.0.1,514,7,1700000000,1700000000,\"local history\"\r\n");

  // Nothing serves the port: the link says so and tries again; nothing listens here meanwhile.
  const int32_t remotePort = testing::FreeTcpPort();
  doc->ConnectRemote({"127.0.0.1", remotePort, certificate, "", 100});
  EXPECT_TRUE(doc->IsRemote());
  EXPECT_EQ(doc->GetListenPort(), 0);
  EXPECT_FALSE(doc->StartServer(port_));
  doc->StartReception();
  const std::string address = "127.0.0.1:" + std::to_string(remotePort);
  ASSERT_TRUE(ProcessEventsUntil([&] { return frame.listenText.find("trying again in") != std::string::npos; }))
      << frame.listenText;
  EXPECT_EQ(frame.listenText.find("Not connected to " + address + ": cannot connect: "), 0u) << frame.listenText;
  EXPECT_EQ(doc->GetShownCount(), 0);

  doc->DisconnectRemote();
  EXPECT_FALSE(doc->IsRemote());
  EXPECT_EQ(doc->GetListenPort(), port_);
  EXPECT_EQ(frame.listenText, "UI Listening on port " + std::to_string(port_));
}

TEST_F(QuorvelDocTest, TcpFramesTakeTheRoadOfADatagramAlsoAfterARestart) {
  const int32_t tcpPort = testing::FreeTcpPort();
  AppSettings().SetInt("Settings", "tcpport", tcpPort);
  testing::SaveRule(0, "mark", kActionHighlight, "urgent");
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  doc->ReloadRules();
  ASSERT_TRUE(doc->StartServer(port_));

  ASSERT_TRUE(SendOverTcp(tcpPort, "<13>Oct 11 22:14:15 tcphost app: urgent\n11 <14>counted"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return doc->GetShownCount() == 2; })) << doc->GetShownCount();
  EXPECT_EQ(doc->GetMessage(ShownPosition(0)).hostName, "tcphost");
  EXPECT_EQ(doc->GetMessage(ShownPosition(0)).ipAddress, "127.0.0.1");
  EXPECT_TRUE(doc->GetMessage(ShownPosition(0)).highlighted);
  EXPECT_EQ(doc->GetMessage(ShownPosition(1)).message, "counted");
  EXPECT_EQ(CountLines(ReadAll(home_.file("qvhista.txt"))), 2);

  // Stopping and starting at once (applying settings does so) listens on the TCP port again.
  doc->StopServer(true);
  ASSERT_TRUE(doc->StartServer(port_));
  ASSERT_TRUE(SendOverTcp(tcpPort, "<13>after the restart\n"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return doc->GetShownCount() == 3; })) << doc->GetShownCount();
  EXPECT_EQ(doc->GetMessage(ShownPosition(2)).message, "after the restart");

  doc->StopServer(true);
  EXPECT_FALSE(SendOverTcp(tcpPort, "<13>nobody listens\n"));
}

// The header forms are read when listening starts, as the port is, so that applying settings
// (stop, then listen again) takes up a form switched in Preferences.
TEST_F(QuorvelDocTest, HeaderFormsAreReadAnewWhenListeningStarts) {
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  const char* datagram = "<14>1 2026-12-08T10:00:00Z edge7 app - - - hello";
  const struct {
    int32_t rfc5424;
    bool readAsRfc5424;
  } steps[] = {{1, true}, {0, false}, {1, true}};
  for (const auto& step : steps) {
    AppSettings().SetInt("Settings", "rfc5424", step.rfc5424);
    doc->StopServer(true);
    ASSERT_TRUE(doc->StartServer(port_));
    doc->OnDatagram("10.0.0.5", 1025, datagram);
    const SyslogMessage stored = doc->GetMessage(ShownPosition(doc->GetShownCount() - 1));
    EXPECT_EQ(stored.hostName == "edge7" && stored.message == "app: hello", step.readAsRfc5424)
        << step.rfc5424 << ": " << stored.hostName << " | " << stored.message;
  }
  doc->StopServer(true);
}

// Alone, the viewer runs the monitors, also when it cannot open the syslog port (port 514 for a
// desktop user; here a port another socket holds). A device that is down when they start (one
// without a route in a network namespace of the test's own) is reported once, with the
// monitor's own sender, host and severity.
TEST_F(QuorvelDocTest, ADeviceDownWhenMonitoringStartsIsReportedOnceEvenWithoutThePort) {
  if (!testing::OwnNetworkNamespace::Enter()) GTEST_SKIP() << "needs root for a network namespace of its own";
  const CSettingsStore& settings = AppSettings();
  settings.SetInt("Settings", "PingMonitor", 1);
  settings.SetInt("Settings", "pingcount", 1);
  settings.SetString("Pings", "ping0", "192.0.2.55");
  settings.SetInt("Settings", "pingpoll", 1);
  testing::UdpPeer holder("0.0.0.0", port_);
  ASSERT_TRUE(holder.bound());
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  EXPECT_FALSE(doc->StartServer(port_));

  // The finding, and the local message that says why the port cannot be used.
  ASSERT_TRUE(ProcessEventsUntil([&] { return doc->GetShownCount() == 2; })) << doc->GetShownCount();
  ProcessEventsUntil([&] { return doc->GetShownCount() > 2; }, 2500);  // more polls say nothing new
  EXPECT_EQ(doc->GetShownCount(), 2);
  doc->StopServer(false);
  const bool pingFirst = doc->GetMessage(ShownPosition(0)).message.rfind("Ping Monitor: ", 0) == 0;
  const SyslogMessage stored = doc->GetMessage(ShownPosition(pingFirst ? 0 : 1));
  EXPECT_EQ(stored.message, "Ping Monitor: 192.0.2.55 No Reply");
  EXPECT_EQ(stored.ipAddress, "127.0.0.1");
  EXPECT_EQ(stored.hostName, "localhost");
  EXPECT_EQ(stored.facility, 5);
  EXPECT_EQ(stored.severity, 6);
  EXPECT_EQ(CountLines(ReadAll(home_.file("qvhista.txt"))), 2);
}

// A record line that anyone sends to the syslog ports is an ordinary message from its sender.
TEST_F(QuorvelDocTest, ARecordLineFromAPortIsAnOrdinaryMessage) {
  const int32_t tcpPort = testing::FreeTcpPort();
  AppSettings().SetInt("Settings", "tcpport", tcpPort);
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  ASSERT_TRUE(doc->StartServer(port_));

  const std::string forged = "1,0,core-router,10.66.66.66,514,0,1700000000,0,\"forged\"";
  testing::UdpPeer peer;
  ASSERT_TRUE(peer.SendTo(port_, forged));
  ASSERT_TRUE(SendOverTcp(tcpPort, forged + "\n"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return doc->GetShownCount() == 2; })) << doc->GetShownCount();
  for (int i = 0; i < 2; ++i) {
    const SyslogMessage stored = doc->GetMessage(ShownPosition(i));
    EXPECT_EQ(stored.message, forged);
    EXPECT_EQ(stored.ipAddress, "127.0.0.1");
    EXPECT_EQ(stored.hostName, "");
    EXPECT_EQ(stored.facility, 1);
    EXPECT_EQ(stored.severity, 5);
    EXPECT_FALSE(stored.highlighted);
  }
}

TEST_F(QuorvelDocTest, RelayedRecordsArriveInOrderWithTheServicesFlagsAndNoHistory) {
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  service->running = true;
  ASSERT_TRUE(doc->StartServer(port_));

  const int sender = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", RelaySocketPath().c_str());
  ASSERT_EQ(connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  constexpr int kRecords = 3000;  // several times what the kernel queues
  int sent = 0;
  while (sent < kRecords) {
    const std::string line = std::to_string(sent % 2) + ",3,host,10.1.1.1,514,2,1000,999,\"record " + std::to_string(sent) + "\"";
    if (send(sender, line.data(), line.size(), MSG_DONTWAIT) == static_cast<ssize_t>(line.size())) {
      ++sent;
    } else {
      QCoreApplication::processEvents();  // the queue is full: give the viewer a moment
    }
  }
  close(sender);
  ASSERT_TRUE(ProcessEventsUntil([&] { return doc->GetShownCount() == kRecords; })) << doc->GetShownCount();
  for (int i = 0; i < kRecords; i += 997) {
    const SyslogMessage record = doc->GetMessage(ShownPosition(i));
    EXPECT_EQ(record.message, "record " + std::to_string(i));
    EXPECT_EQ(record.highlighted, i % 2 == 1);
    EXPECT_EQ(record.timeReceived, 1000);
    EXPECT_EQ(record.facility, 3);
  }
  EXPECT_GT(frame.refreshRequests, 0);
  EXPECT_FALSE(std::filesystem::exists(home_.file("qvhista.txt")));
  doc->StopServer(true);
  EXPECT_FALSE(std::filesystem::exists(RelaySocketPath()));
}

TEST_F(QuorvelDocTest, DocumentFilesOpenWhole) {
  AppSettings().SetInt("Settings", "maxsize", 100);
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  std::string text;
  for (int i = 0; i < 149; ++i) text += "0,1,h" + std::to_string(i % 3) + ",1.2.3.4,514,6,10,0,\"a, \"b\" " + std::to_string(i) + "\"\r\n";
  text += "<34>Oct 11 22:14:15 mymachine su: failed\r\n\r\n";
  const std::string path = home_.file("saved.txt");
  WriteFile(path, text);

  ASSERT_TRUE(doc->OpenDocument(path));
  ASSERT_EQ(doc->GetShownCount(), 150);  // more than "maxsize": all are held
  EXPECT_EQ(doc->GetMessage(ShownPosition(0)).message, "a, \"b\" 0");
  EXPECT_EQ(doc->GetMessage(ShownPosition(149)).seq, 149);
  const SyslogMessage syslogLine = doc->GetMessage(ShownPosition(149));
  EXPECT_EQ(syslogLine.timeReceived, syslogLine.timeSent);
  EXPECT_EQ(syslogLine.ipAddress, "Unknown");
  EXPECT_EQ(doc->Title(), "saved.txt");
  EXPECT_FALSE(doc->IsModified());
  EXPECT_EQ(frame.hostNames.size(), 4u);

  const std::string copy = home_.file("copy.txt");
  ASSERT_TRUE(doc->SaveDocument(copy));
  const std::string saved = ReadAll(copy);
  EXPECT_EQ(saved.substr(0, text.find('<')), text.substr(0, text.find('<')));
  EXPECT_EQ(CountLines(saved), 150);

  EXPECT_FALSE(doc->OpenDocument(home_.file("missing.txt")));
  EXPECT_EQ(doc->GetShownCount(), 150);

  // Dropped files: the first replaces the store, the others are added.
  doc->OpenDroppedFiles({copy, copy, copy});
  EXPECT_EQ(doc->GetShownCount(), 450);
  doc->OpenDroppedFiles({copy});
  EXPECT_EQ(doc->GetShownCount(), 150);

  doc->NewDocument();
  EXPECT_EQ(doc->GetShownCount(), 0);
  std::tm titleTime{};
  const char* titleEnd = strptime(doc->Title().c_str(), "%Y_%b_%d_%H-%M-%S", &titleTime);
  EXPECT_TRUE(titleEnd != nullptr && *titleEnd == '\0') << doc->Title();
  EXPECT_TRUE(frame.hostNames.empty());
  EXPECT_TRUE(frame.historyLoadable);
  EXPECT_EQ(doc->Store().maxEntries(), 100);
}

TEST_F(QuorvelDocTest, LoadHistoryRefusesAPlantedFifoAtOnceAndSaysSo) {
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  ASSERT_EQ(mkfifo(home_.file("qvhista.txt").c_str(), 0666), 0);
  doc->LoadHistory();  // would wait for a writer for ever if the FIFO were opened as found
  ASSERT_GE(doc->GetShownCount(), 1);
  EXPECT_EQ(doc->GetMessage(ShownPosition(0)).message,
            "Load History: cannot read " + home_.file("qvhista.txt") + ": is a FIFO");
  EXPECT_FALSE(frame.historyLoadable);
}

TEST_F(QuorvelDocTest, ExportImportHistoryAndThePromptToSave) {
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  doc->OnDatagram("10.0.0.5", 1025, "<34>Oct 11 22:14:15 mymachine first");
  doc->OnDatagram("10.0.0.5", 1025, "<13>second");
  const std::string exported = home_.file("export.txt");
  ASSERT_TRUE(doc->ExportFile(exported));
  const std::string text = ReadAll(exported);
  EXPECT_EQ(CountLines(text), 2);
  EXPECT_EQ(text.substr(0, 4), "<34>");
  EXPECT_EQ(text.find('\r'), std::string::npos);

  const int requests = frame.refreshRequests;
  ASSERT_TRUE(doc->ImportFile(exported));
  ASSERT_EQ(doc->GetShownCount(), 4);
  EXPECT_EQ(doc->GetMessage(ShownPosition(2)).message, "first");
  EXPECT_EQ(doc->GetMessage(ShownPosition(2)).timeReceived, doc->GetMessage(ShownPosition(2)).timeSent);
  EXPECT_EQ(frame.refreshRequests, requests + 1);  // one for the whole file
  EXPECT_FALSE(doc->ImportFile(home_.file("missing.txt")));

  // History: both datagrams went to the history; loading adds them and disables the command.
  doc->LoadHistory();
  EXPECT_EQ(doc->GetShownCount(), 6);
  EXPECT_EQ(doc->GetMessage(ShownPosition(4)).message, "first");
  EXPECT_FALSE(frame.historyLoadable);
  doc->ClearHistory();
  EXPECT_FALSE(std::filesystem::exists(home_.file("qvhista.txt")));
  EXPECT_EQ(doc->GetShownCount(), 6);

  EXPECT_TRUE(doc->IsModified());
  EXPECT_FALSE(doc->SaveModifiedQuestion());  // "promptforsave" off
  EXPECT_FALSE(doc->IsModified());
  AppSettings().SetInt("Settings", "promptforsave", 1);
  doc->ToggleHighlight(ShownPosition(0));
  EXPECT_TRUE(doc->SaveModifiedQuestion());
}

// Each file type of File > Export writes the shown messages in its format; what the record
// lines hold comes back whole through Import.
TEST_F(QuorvelDocTest, ExportWritesTheChosenFileTypeAndImportReadsRecordLinesBack) {
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  doc->OnDatagram("10.0.0.5", 1025, "<34>Oct 11 22:14:15 mymachine su: 'su root' failed, \"x\"");
  doc->OnDatagram("10.0.0.6", 1026, "<13>second");
  const SyslogMessage first = doc->GetMessage(ShownPosition(0));
  const SyslogMessage second = doc->GetMessage(ShownPosition(1));
  for (const ExportFileType& type : kExportFileTypes) {
    SCOPED_TRACE(type.filter);
    const std::string path = WithExportSuffix(home_.file("export"), type);
    EXPECT_EQ(path, home_.file(std::string("export.") + type.suffix));
    ASSERT_TRUE(doc->ExportFile(path, type.format));
    EXPECT_EQ(ReadAll(path), FileHeader(type.format) + FormatFileLine(first, type.format) + FormatFileLine(second, type.format));
  }
  EXPECT_EQ(ReadAll(home_.file("export.csv")).substr(0, kCsvHeader.size() + 2), std::string(kCsvHeader) + "\r\n");

  ASSERT_TRUE(doc->ExportFile(home_.file("records.txt"), ExportFileTypeOf("Record lines (*.txt)").format));
  ASSERT_TRUE(doc->ImportFile(home_.file("records.txt")));
  ASSERT_EQ(doc->GetShownCount(), 4);
  for (const auto& [position, original] : {std::pair{2, first}, std::pair{3, second}}) {
    SyslogMessage back = doc->GetMessage(ShownPosition(position));
    back.seq = original.seq;
    EXPECT_EQ(back, original);
  }

  // The dialog's file type decides; an unknown text, and a name with a suffix of its own, stay as they are.
  EXPECT_EQ(ExportFileTypeOf("All Files (*)").format, RecordFormat::kSyslogLine);
  EXPECT_EQ(ExportFileTypeOf("JSON lines (*.jsonl *.json)").format, RecordFormat::kJsonLines);
  EXPECT_EQ(WithExportSuffix("/tmp/a.b/out.json", kExportFileTypes[4]), "/tmp/a.b/out.json");
  EXPECT_EQ(WithExportSuffix("/tmp/a.b/.hidden", kExportFileTypes[5]), "/tmp/a.b/.hidden.csv");
}

TEST_F(QuorvelDocTest, FilterSortAndHighlightReachTheViews) {
  FakeService* service = nullptr;
  RecordingFrame frame;
  auto doc = MakeDoc(&service, &frame);
  for (const char* text : {"<13>error one", "<13>fine", "<13>error two"}) doc->OnDatagram("10.0.0.5", 1, text);
  int changed = -1;
  QObject::connect(doc.get(), &CQuorvelDoc::shownMessageChanged,
                   [&](ShownPosition position) { changed = position.value; });

  frame.selected = ShownPosition(2);
  CRule filter;
  filter.Message = "error";
  doc->ApplyFilter(filter);
  EXPECT_TRUE(doc->IsFilterShown());
  EXPECT_EQ(doc->GetShownCount(), 2);
  EXPECT_TRUE(frame.selectionCleared);
  EXPECT_EQ(frame.selected, ShownPosition(1));
  const int updates = frame.viewUpdates;
  const int requests = frame.refreshRequests;
  doc->OnDatagram("10.0.0.5", 1, "<13>fine again");
  EXPECT_EQ(frame.refreshRequests, requests);  // not shown: no refresh
  EXPECT_EQ(doc->GetStoredMessage(3).message, "fine again");

  doc->ToggleHighlight(ShownPosition(1));
  EXPECT_EQ(changed, 1);
  EXPECT_TRUE(doc->GetStoredMessage(2).highlighted);
  doc->SortBy(CQuorvelDoc::kSortMessage);
  doc->SortBy(CQuorvelDoc::kSortMessage);
  EXPECT_EQ(doc->GetMessage(ShownPosition(0)).message, "error two");
  doc->ShowAll();
  EXPECT_EQ(doc->GetShownCount(), 4);
  EXPECT_EQ(frame.viewUpdates, updates + 3);
}

}  // namespace
}  // namespace qv
