#include "platform/telephony/telephony_library.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace tapi;

TEST(TelephonyLibraryTest, MissingLibraryOrFunctionAnswersOperationUnavailable) {
  CTelephonyLibrary missing("/nonexistent/libqvtapi.so");
  HLINEAPP app = 0;
  uint32_t devices = 0;
  uint32_t version = 0x00020002;
  LINEINITIALIZEEXPARAMS params{sizeof params, 0, 0, LINEINITIALIZEEXOPTION_USEEVENT, -1, 0};
  EXPECT_EQ(missing.lineInitializeExA(&app, nullptr, nullptr, nullptr, &devices, &version, &params),
            LINEERR_OPERATIONUNAVAIL);
  EXPECT_EQ(missing.lineShutdown(1), LINEERR_OPERATIONUNAVAIL);
  EXPECT_EQ(missing.lineGetMessage(1, nullptr, 0), LINEERR_OPERATIONUNAVAIL);

  // A library that loads but exports no line functions.
  CTelephonyLibrary wrong("libm.so.6");
  EXPECT_EQ(wrong.lineInitializeExA(&app, nullptr, nullptr, nullptr, &devices, &version, &params),
            LINEERR_OPERATIONUNAVAIL);
  EXPECT_EQ(wrong.lineClose(1), LINEERR_OPERATIONUNAVAIL);
}

TEST(TelephonyLibraryTest, DefaultPathFollowsTheEnvironment) {
  setenv("QUORVEL_TAPI_LIBRARY", "/opt/provider.so", 1);
  EXPECT_EQ(DefaultTelephonyLibraryPath(), "/opt/provider.so");
  unsetenv("QUORVEL_TAPI_LIBRARY");
  EXPECT_NE(DefaultTelephonyLibraryPath().find("libqvtapi.so"), std::string::npos);
}

TEST(TelephonyLibraryTest, ProviderIsFoundInTheBuildsAndThePackagesLayout) {
  testing::TempHome home;
  const struct {
    const char* library;  // relative to the folder of "bin"
    bool found;
  } cases[] = {{"lib/libqvtapi.so", true}, {"lib/quorvel/libqvtapi.so", true}, {"libqvtapi.so", false}};
  for (const auto& c : cases) {
    const auto top = home.path() / std::to_string(&c - cases);
    std::filesystem::create_directories((top / c.library).parent_path());
    std::ofstream(top / c.library) << "";
    const std::string found = ProviderLibraryBeside((top / "bin" / "dunmir").string());
    EXPECT_EQ(found, c.found ? (top / c.library).string() : "") << c.library;
  }
}

// The simulated provider through the run-time binding, as the call monitor uses it.
class SimulatedProviderTest : public ::testing::Test {
 protected:
  SimulatedProviderTest() : tapi_(QV_TAPI_PROVIDER_PATH) {
    std::filesystem::create_directories(home_.path() / "telephony" / "lines");
    std::filesystem::create_directories(home_.path() / "telephony" / "calls");
  }
  ~SimulatedProviderTest() override {
    if (app_ != 0) tapi_.lineShutdown(app_);
  }

  void WriteSpool(const std::string& name, const std::string& text) {
    const auto path = home_.path() / "telephony" / name;
    const auto temporary = path.parent_path() / ("." + path.filename().string());
    std::ofstream(temporary) << text;
    std::filesystem::rename(temporary, path);
  }

  uint32_t Initialize() {
    uint32_t devices = 0;
    uint32_t version = 0x00020002;
    LINEINITIALIZEEXPARAMS params{sizeof params, 0, 0, LINEINITIALIZEEXOPTION_USEEVENT, -1, 0};
    EXPECT_EQ(tapi_.lineInitializeExA(&app_, nullptr, nullptr, nullptr, &devices, &version, &params), 0);
    event_ = params.hEvent;
    return devices;
  }

  // Waits for the message event, then reads one message.
  LINEMESSAGE NextMessage() {
    pollfd waiting{event_, POLLIN, 0};
    EXPECT_EQ(poll(&waiting, 1, 3000), 1) << "no message arrived";
    LINEMESSAGE message{};
    EXPECT_EQ(tapi_.lineGetMessage(app_, &message, 0), 0);
    return message;
  }

  testing::TempHome home_;
  CTelephonyLibrary tapi_;
  HLINEAPP app_ = 0;
  int event_ = -1;
};

TEST_F(SimulatedProviderTest, LineDevicesComeFromTheSpoolAndNegotiateVersions) {
  WriteSpool("lines/modem1", "name=Sportster 56k\n");
  WriteSpool("lines/phone", "media=voice\nversions=0x00030000-0x00030001\n");
  ASSERT_EQ(Initialize(), 2u);

  uint32_t version = 0;
  LINEEXTENSIONID extension{};
  EXPECT_EQ(tapi_.lineNegotiateAPIVersion(app_, 0, 0x00020002, 0x00020002, &version, &extension), 0);
  EXPECT_EQ(version, 0x00020002u);
  EXPECT_EQ(tapi_.lineNegotiateAPIVersion(app_, 1, 0x00020002, 0x00020002, &version, &extension),
            LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(tapi_.lineNegotiateAPIVersion(app_, 2, 0x00020002, 0x00020002, &version, &extension),
            LINEERR_BADDEVICEID);

  std::vector<uint32_t> buffer(1276 / 4, 0);
  auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
  caps->dwTotalSize = 1276;
  ASSERT_EQ(tapi_.lineGetDevCapsA(app_, 0, 0x00020002, 0, caps), 0);
  EXPECT_EQ(caps->dwMediaModes, LINEMEDIAMODE_DATAMODEM);
  ASSERT_EQ(caps->dwLineNameSize, sizeof "Sportster 56k");
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data()) + caps->dwLineNameOffset, "Sportster 56k");

  // Too small for the texts: only the needed size says so.
  caps->dwTotalSize = sizeof(LINEDEVCAPS) + 4;
  ASSERT_EQ(tapi_.lineGetDevCapsA(app_, 0, 0x00020002, 0, caps), 0);
  EXPECT_EQ(caps->dwLineNameSize, 0u);
  EXPECT_EQ(caps->dwUsedSize, sizeof(LINEDEVCAPS));
  EXPECT_GT(caps->dwNeededSize, caps->dwTotalSize);
  caps->dwTotalSize = 8;
  EXPECT_EQ(tapi_.lineGetDevCapsA(app_, 0, 0x00020002, 0, caps), LINEERR_STRUCTURETOOSMALL);
}

TEST_F(SimulatedProviderTest, APlacedCallRingsAndGoesIdleWhenItsFileIsRemoved) {
  WriteSpool("lines/modem1", "");
  ASSERT_EQ(Initialize(), 1u);
  HLINE line = 0;
  LINECALLPARAMS params{sizeof params, LINEBEARERMODE_VOICE, 0, 0, LINEMEDIAMODE_DATAMODEM, 0, 0, 0};
  ASSERT_EQ(tapi_.lineOpenA(app_, 0, &line, 0x00020002, 0, 7, LINECALLPRIVILEGE_MONITOR, LINEMEDIAMODE_DATAMODEM,
                            &params),
            0);
  ASSERT_EQ(tapi_.lineSetStatusMessages(line, LINEDEVSTATE_RINGING, 0), 0);
  LINEMESSAGE message{};
  EXPECT_EQ(tapi_.lineGetMessage(app_, &message, 0), LINEERR_OPERATIONFAILED) << "nothing happened yet";

  WriteSpool("calls/first", "caller=0123 456789\n");
  message = NextMessage();
  EXPECT_EQ(message.dwMessageID, LINE_APPNEWCALL);
  EXPECT_EQ(message.hDevice, line);
  EXPECT_EQ(message.dwCallbackInstance, 7u);
  const auto call = static_cast<HCALL>(message.dwParam2);
  message = NextMessage();
  EXPECT_EQ(message.dwMessageID, LINE_LINEDEVSTATE);
  EXPECT_EQ(message.dwParam1, LINEDEVSTATE_RINGING);
  message = NextMessage();
  EXPECT_EQ(message.dwMessageID, LINE_CALLSTATE);
  EXPECT_EQ(message.hDevice, call);
  EXPECT_EQ(message.dwParam1, LINECALLSTATE_OFFERING);
  pollfd waiting{event_, POLLIN, 0};
  EXPECT_EQ(poll(&waiting, 1, 0), 0) << "the event is clear once the queue is empty";

  std::filesystem::remove(home_.path() / "telephony" / "calls" / "first");
  EXPECT_EQ(NextMessage().dwParam1, LINECALLSTATE_DISCONNECTED);
  message = NextMessage();
  EXPECT_EQ(message.hDevice, call);
  EXPECT_EQ(message.dwParam1, LINECALLSTATE_IDLE);

  std::vector<uint32_t> buffer(4420 / 4, 0);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
  info->dwTotalSize = 4420;
  ASSERT_EQ(tapi_.lineGetCallInfoA(call, info), 0);
  EXPECT_EQ(info->dwOrigin, LINECALLORIGIN_INBOUND);
  EXPECT_EQ(info->dwCallerIDFlags, LINECALLPARTYID_ADDRESS);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data()) + info->dwCallerIDOffset, "0123 456789");
  EXPECT_EQ(tapi_.lineDeallocateCall(call), 0);
  EXPECT_EQ(tapi_.lineGetCallInfoA(call, info), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(tapi_.lineClose(line), 0);
  EXPECT_EQ(tapi_.lineClose(line), LINEERR_INVALLINEHANDLE);
}

TEST_F(SimulatedProviderTest, ACallWithADurationEndsByItselfAndUsesUpItsFile) {
  WriteSpool("lines/modem1", "");
  ASSERT_EQ(Initialize(), 1u);
  HLINE line = 0;
  ASSERT_EQ(tapi_.lineOpenA(app_, 0, &line, 0x00020002, 0, 0, LINECALLPRIVILEGE_MONITOR, 0, nullptr), 0);
  WriteSpool("calls/out", "direction=out\ncalled=100\napp=Dialer\nduration=0\n");
  std::vector<uint32_t> states;
  for (int i = 0; i < 5; ++i) {
    const LINEMESSAGE message = NextMessage();
    if (message.dwMessageID == LINE_CALLSTATE) states.push_back(static_cast<uint32_t>(message.dwParam1));
  }
  EXPECT_EQ(states, (std::vector<uint32_t>{LINECALLSTATE_DIALING, LINECALLSTATE_CONNECTED,
                                           LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
  EXPECT_FALSE(std::filesystem::exists(home_.path() / "telephony" / "calls" / "out"));
}

}  // namespace
}  // namespace qv
