#include "monitors/call_monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "monitors/reporter_for_test.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Texts = std::vector<std::string>;

constexpr milliseconds kArrival{3000};

// Calls are placed through the simulated provider library, loaded at run time as in the
// programs, and its spool folder in the test's data root.
class CallMonitorTest : public ::testing::Test {
 protected:
  CallMonitorTest() : telephony_(QV_TAPI_PROVIDER_PATH), monitor_(collector_.Reporter(), telephony_) {}

  void Spool(const std::string& name, const std::string& text) {
    const auto path = home_.path() / "telephony" / name;
    std::filesystem::create_directories(path.parent_path());
    const auto temporary = path.parent_path() / ("." + path.filename().string());
    std::ofstream(temporary) << text;
    std::filesystem::rename(temporary, path);
  }
  // A call that ends as soon as it starts.
  std::string Call(const std::string& text) {
    Spool("calls/call" + std::to_string(++calls_), text + "\nduration=0\n");
    return collector_.WaitForTexts(++reported_, kArrival).back();
  }

  testing::TempHome home_;
  CTelephonyLibrary telephony_;
  testing::CFindingCollector collector_;
  CCallMonitor monitor_;
  int calls_ = 0;
  std::size_t reported_ = 0;
};

TEST_F(CallMonitorTest, ListensOnEverySuitableLineOnce) {
  Spool("lines/1", "name=Sportster 56k\n");
  Spool("lines/2", "name=Office Phone\nmedia=voice\n");
  Spool("lines/3", "name=Future Modem\nversions=0x00030000-0x00030001\n");
  Spool("lines/4", "name=Fax Modem\nmedia=datamodem,fax\n");
  monitor_.Start();
  EXPECT_EQ(collector_.WaitForTexts(2, kArrival),
            (Texts{"Call Monitor: Listening for calls on Sportster 56k", "Call Monitor: Listening for calls on Fax Modem"}));
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(collector_.Texts().size(), 2u);
  EXPECT_TRUE(monitor_.IsRunning());

  const auto start = Clock::now();
  EXPECT_TRUE(monitor_.Stop());
  EXPECT_LT(Clock::now() - start, milliseconds(1000));
}

TEST_F(CallMonitorTest, EachFinishedCallIsReportedOnceWithItsCallerText) {
  Spool("lines/modem", "name=Modem\n");
  monitor_.Start();
  reported_ = 1;
  ASSERT_EQ(collector_.WaitForTexts(1, kArrival), Texts{"Call Monitor: Listening for calls on Modem"});

  EXPECT_EQ(Call("caller=01632 960123"), "Call Monitor: Incoming call from 01632 960123");
  EXPECT_EQ(Call("caller=01632 960123\ncallerflags=blocked"), "Call Monitor: Incoming call from <Withheld>");
  EXPECT_EQ(Call("caller=01632 960123\ncallerflags=address,unknown,unavail"),
            "Call Monitor: Incoming call from <Currently Unknown>");
  EXPECT_EQ(Call("caller=01632 960123\ncallerflags=none"), "Call Monitor: Incoming call from <Unavailable>");
  EXPECT_EQ(Call("callerflags=outofarea"), "Call Monitor: Incoming call from <Unavailable>");
  EXPECT_EQ(Call("direction=out\napp=Dialer\ncalled=0800 123 456"),
            "Call Monitor: Dialer made an outbound call to 0800 123 456");
  EXPECT_EQ(Call("direction=out\napp=Dialer\ncalled=0800 123 456\ncalledflags=partial"),
            "Call Monitor: Dialer made an outbound call to <Unavailable>");
  EXPECT_EQ(Call("direction=out\ncalled=999"), "Call Monitor: <Unavailable> made an outbound call to 999");
  // Too long for the first buffer: the information is fetched again in a larger one.
  const std::string program(5000, 'p');
  EXPECT_EQ(Call("direction=out\ncalled=1\napp=" + program), "Call Monitor: " + program + " made an outbound call to 1");

  // A call in progress says nothing until it goes idle.
  Spool("calls/long", "caller=0117 496 0000\n");
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(collector_.Texts().size(), reported_);
  std::filesystem::remove(home_.path() / "telephony" / "calls" / "long");
  EXPECT_EQ(collector_.WaitForTexts(++reported_, kArrival).back(), "Call Monitor: Incoming call from 0117 496 0000");
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(collector_.Texts().size(), reported_);
  for (const auto& finding : collector_.Findings()) {
    EXPECT_EQ(finding.severity, 6);
    EXPECT_EQ(finding.sourceAddress, "127.0.0.1");
  }
}

TEST_F(CallMonitorTest, NoSuitableDeviceIsReportedAndEndsTheRun) {
  Spool("lines/voice", "media=voice\n");
  monitor_.Start();
  EXPECT_EQ(collector_.WaitForTexts(1, kArrival),
            Texts{"Call Monitor: No Device Suitable for monitoring calls found"});
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(monitor_.IsRunning());
}

TEST(CallMonitorWithoutProviderTest, NoLibraryMeansNoSuitableDevice) {
  testing::TempHome home;
  CTelephonyLibrary missing("/nonexistent/libqvtapi.so");
  testing::CFindingCollector collector;
  CCallMonitor monitor(collector.Reporter(), missing);
  monitor.Start();
  EXPECT_EQ(collector.WaitForTexts(1, kArrival), Texts{"Call Monitor: No Device Suitable for monitoring calls found"});
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(monitor.IsRunning());
  EXPECT_EQ(collector.Texts().size(), 1u);
}

}  // namespace
}  // namespace qv
