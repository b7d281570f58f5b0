// Interoperability with Debian's net-snmp tools: snmptrapd receives what SendSnmpTrap sends, and
// snmptrap and snmpinform send to an endpoint of ours. Everything stays on loopback, on ports
// the system chooses; every tool is ended by its process id within a few seconds.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "snmp/snmp_endpoint.h"
#include "snmp/test_child_process.h"
#include "snmp/trap_report.h"
#include "snmp/trap_sender.h"
#include "testing/free_udp_port.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using testing::CTestChildProcess;

class NetSnmpInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = testing::NetSnmpEnvironment(home_.path());
  }

  std::unique_ptr<CTestChildProcess> Run(const std::vector<std::string>& argv, const std::string& outputName) {
    auto child = std::make_unique<CTestChildProcess>(argv, env_, home_.file(outputName));
    EXPECT_TRUE(child->Started()) << argv[0] << " is missing; scripts/setup.sh installs it";
    return child;
  }

  // What a station of ours received from snmptrap sent with `version`, community "public" and
  // `arguments`; the tool must have ended well.
  std::optional<CSnmpMessage> TrapFromSnmptrap(const std::string& version, const std::vector<std::string>& arguments) {
    CSnmpEndpoint station(0, 5);
    EXPECT_TRUE(station.Ready());
    std::vector<std::string> argv = {"snmptrap", version, "-c", "public",
                                     "127.0.0.1:" + std::to_string(station.LocalPort())};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto snmptrap = Run(argv, "snmptrap.out");
    std::optional<CSnmpMessage> trap = station.Receive();
    EXPECT_EQ(snmptrap->WaitForExit(5s), 0) << snmptrap->Output();
    return trap;
  }

  qv::testing::TempHome home_;
  std::map<std::string, std::string> env_;
};

TEST_F(NetSnmpInteropTest, SnmptrapdShowsTheTrapsSentBySendSnmpTrap) {
  std::ofstream(home_.file("snmptrapd.conf"))
      << "disableAuthorization yes\n"
         "format1 TRAP1 %P|enterprise=%N|agent=%A|generic=%w|specific=%q|uptime=%T|%v\\n\n";
  const uint16_t port = static_cast<uint16_t>(testing::FreeUdpPort());
  auto trapd = Run({"snmptrapd", "-f", "-Lo", "-n", "-C", "-On", "-c", home_.file("snmptrapd.conf"),
                    "udp:127.0.0.1:" + std::to_string(port)},
                   "snmptrapd.out");
  ASSERT_TRUE(trapd->WaitForOutput("NET-SNMP version", 5s)) << trapd->Output();

  SendSnmpTrap("127.0.0.1", "router1: disk full on /var", "ops", "1.3.6.1.4.1.9999.1", 2, 17,
               "1.3.6.1.4.1.9999.1.1", "10.1.2.3", port);
  SendSnmpTrap("localhost", "made here", "public", "1.3.6.1.4.1.0", 6, 0, "1.3.6.1.4.1.0", "127.0.0.1", port);
  ASSERT_TRUE(trapd->WaitForOutput("made here", 5s)) << trapd->Output();
  trapd->Kill();

  const std::string output = trapd->Output();
  EXPECT_NE(output.find("TRAP1 TRAP, SNMP v1, community ops|enterprise=.1.3.6.1.4.1.9999.1|agent=10.1.2.3|"
                        "generic=2|specific=17|uptime=0|"
                        ".1.3.6.1.4.1.9999.1.1 = STRING: \"router1: disk full on /var\""),
            std::string::npos)
      << output;
  // snmptrapd shows the specific number of an enterprise-specific trap as an arc (".0").
  in_addr local{};
  local.s_addr = GetLocalAddress();
  EXPECT_NE(output.find(std::string("TRAP1 TRAP, SNMP v1, community public|enterprise=.1.3.6.1.4.1.0|agent=") +
                        inet_ntoa(local) + "|generic=6|specific=.0|uptime=0|.1.3.6.1.4.1.0 = STRING: \"made here\""),
            std::string::npos)
      << output;
}

TEST_F(NetSnmpInteropTest, SnmpV1TrapFromSnmptrapGivesTheReferenceLine) {
  const auto trap =
      TrapFromSnmptrap("-v1", {"1.3.6.1.4.1.0", "10.0.0.5", "6", "0", "0", "1.3.6.1.4.1.0", "s", "disk full"});
  ASSERT_TRUE(trap);
  EXPECT_EQ(TrapReportText(*trap),
            "SNMP Trap: Ver=1 Community=public Type=EnterpriseSpecific/0 Timestamp=0 Sender's OID=1.3.6.1.4.1.0 "
            "[OID=1.3.6.1.4.1.0 String=disk full]");
  EXPECT_EQ(TrapReportAddress(*trap, "192.0.2.9"), "10.0.0.5");
}

TEST_F(NetSnmpInteropTest, SnmpV2cTrapFromSnmptrapIsEnterpriseSpecificWithEveryBinding) {
  const auto trap = TrapFromSnmptrap("-v2c", {"0", "1.3.6.1.6.3.1.1.5.3", "1.3.6.1.2.1.2.2.1.1.2", "i", "2",
                                              "1.3.6.1.4.1.0.7", "x", "01FF"});
  ASSERT_TRUE(trap);
  EXPECT_EQ(TrapReportText(*trap),
            "SNMP Trap: Ver=2 Community=public Type=EnterpriseSpecific/3 Timestamp=0 "
            "[OID=1.3.6.1.2.1.1.3.0 TimeTick=0] [OID=1.3.6.1.6.3.1.1.4.1.0 OID=1.3.6.1.6.3.1.1.5.3] "
            "[OID=1.3.6.1.2.1.2.2.1.1.2 Integer=2] [OID=1.3.6.1.4.1.0.7 String=01ff]");
  EXPECT_EQ(TrapReportAddress(*trap, "192.0.2.9"), "192.0.2.9");
}

TEST_F(NetSnmpInteropTest, SnmpinformSucceedsWhenAnsweredWithAResponse) {
  CSnmpEndpoint station(0, 5);
  ASSERT_TRUE(station.Ready());
  auto snmpinform = Run({"snmpinform", "-v2c", "-c", "public", "-r", "0", "-t", "5",
                         "127.0.0.1:" + std::to_string(station.LocalPort()), "0", "1.3.6.1.6.3.1.1.5.1"},
                        "snmpinform.out");
  auto inform = station.Receive();
  ASSERT_TRUE(inform);
  EXPECT_EQ(inform->PduType(), kPduInformRequest);
  EXPECT_EQ(TrapReportText(*inform),
            "SNMP Trap: Ver=2 Community=public Type=EnterpriseSpecific/1 Timestamp=0 "
            "[OID=1.3.6.1.2.1.1.3.0 TimeTick=0] [OID=1.3.6.1.6.3.1.1.4.1.0 OID=1.3.6.1.6.3.1.1.5.1]");

  inform->SetPduType(kPduResponse);
  inform->SetErrorStatus(0);
  inform->SetErrorIndex(0);
  EXPECT_GT(station.Reply(*inform), 0);
  EXPECT_EQ(snmpinform->WaitForExit(6s), 0) << snmpinform->Output();
}

}  // namespace
}  // namespace qv
