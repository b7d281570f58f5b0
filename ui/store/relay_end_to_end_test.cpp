// The document against a real dunmir under the service manager: relay mode while the service
// runs, taking over "udpport" once it stops.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/settings/settings_store.h"
#include "reception/udp_test_peer.h"
#include "service/dunmir_test_process.h"
#include "service/service_program_test_support.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/service_commands.h"
#include "ui/store/store_test_support.h"

namespace qv {
namespace {

int HistoryLinesWith(const std::string& path, const std::string& text) {
  std::ifstream in(path);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) count += line.find(text) != std::string::npos ? 1 : 0;
  return count;
}

class RelayEndToEndTest : public testing::ServiceProgramTest {
 protected:
  void SetUp() override {
    ServiceProgramTest::SetUp();
    testing::EnsureCoreApplication();
    AppSettings().SetInt("Settings", "EventLog", 0);
    testing::SaveRule(0, "mark", kActionHighlight, "urgent");
    port_ = AppSettings().GetInt("Settings", "udpport", 0);
  }

  // Sends `text` to "udpport" and waits until the document holds `count` messages.
  bool SendAndWait(CQuorvelDoc& doc, const std::string& text, int count) {
    peer_.SendTo(port_, text);
    return testing::ProcessEventsUntil([&] { return doc.GetShownCount() >= count; });
  }

  int32_t port_ = 0;
  testing::UdpPeer peer_;
};

TEST_F(RelayEndToEndTest, TheViewerShowsTheServicesRecordsAndTakesOverWhenItStops) {
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  CSystemServiceAccess control;
  ASSERT_TRUE(control.Start());
  ASSERT_TRUE(control.IsRunning());

  testing::RecordingFrame frame;
  CQuorvelDoc doc;
  doc.SetFrame(&frame);
  doc.StartReception();
  ASSERT_TRUE(doc.IsListeningOnRelay());
  EXPECT_EQ(frame.listenText, "Service Listening on port " + std::to_string(port_) + ", UI active");

  ASSERT_TRUE(SendAndWait(doc, "<13>urgent: disk full", 1));
  ASSERT_TRUE(SendAndWait(doc, "<14>all is well", 2));
  const SyslogMessage urgent = doc.GetMessage(ShownPosition(doc.GetShownCount() - 2));
  EXPECT_EQ(urgent.message, "urgent: disk full");
  EXPECT_TRUE(urgent.highlighted);  // the service's rule highlighted it
  EXPECT_EQ(urgent.ipAddress, "127.0.0.1");
  EXPECT_EQ(urgent.senderPort, peer_.port());
  EXPECT_FALSE(doc.GetMessage(ShownPosition(doc.GetShownCount() - 1)).highlighted);
  const std::string history = home_.file("qvhista.txt");
  EXPECT_EQ(HistoryLinesWith(history, "urgent: disk full"), 1);  // written once, by the service

  // Stopped from outside: the watch moves the viewer back to "udpport" within about a second.
  CServiceCommands commands(doc);
  CServiceWatch watch(commands, doc);
  ASSERT_TRUE(control.Stop());
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(testing::ProcessEventsUntil([&] { return doc.GetListenPort() == port_; }, 5000));
  EXPECT_LT(clock.elapsed(), 2500);
  EXPECT_FALSE(watch.serviceRunning());
  EXPECT_EQ(frame.listenText, "UI Listening on port " + std::to_string(port_));

  // Now the viewer runs the rules and writes the history itself.
  const int held = doc.GetShownCount();
  ASSERT_TRUE(SendAndWait(doc, "<13>urgent again", held + 1));
  EXPECT_TRUE(doc.GetMessage(ShownPosition(held)).highlighted);
  EXPECT_EQ(HistoryLinesWith(history, "urgent again"), 1);

  // And the service start routine gives reception back to the service.
  commands.StartService();
  EXPECT_TRUE(doc.IsListeningOnRelay());
  ASSERT_TRUE(SendAndWait(doc, "<13>back to the service", held + 2));
  EXPECT_EQ(HistoryLinesWith(history, "back to the service"), 1);
  commands.StopService();
  EXPECT_EQ(doc.GetListenPort(), port_);
}

TEST_F(RelayEndToEndTest, AServiceStartedFromTheToolbarIsFollowedAndOneThatCannotRunIsExplained) {
  testing::RecordingFrame frame;
  CQuorvelDoc doc;
  doc.SetFrame(&frame);
  CServiceCommands commands(doc);
  const auto lastMessage = [&] { return doc.GetMessage(ShownPosition(doc.GetShownCount() - 1)).message; };

  commands.StartService();  // before "dunmir add"
  ASSERT_EQ(doc.GetShownCount(), 1);
  EXPECT_NE(lastMessage().find("not installed"), std::string::npos) << lastMessage();

  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  {
    testing::UdpPeer holder("127.0.0.1", port_);  // another syslog server, say
    ASSERT_TRUE(holder.bound());
    commands.StartService();
    ASSERT_EQ(doc.GetShownCount(), 2);
    EXPECT_EQ(lastMessage(), "The background service stopped at once: cannot receive syslog on UDP port " +
                                 std::to_string(port_) + ": Address already in use");
    EXPECT_EQ(frame.listenTip, lastMessage());
  }

  // The viewer does not listen; the service started from its toolbar is followed all the same.
  ASSERT_FALSE(doc.UpdateStatus());
  commands.StartService();
  ASSERT_TRUE(doc.IsListeningOnRelay());
  EXPECT_EQ(frame.listenText, "Service Listening on port " + std::to_string(port_) + ", UI active");
  ASSERT_TRUE(SendAndWait(doc, "<14>seen through the relay", 3));
  EXPECT_EQ(lastMessage(), "seen through the relay");
  commands.StopService();
}

}  // namespace
}  // namespace qv
