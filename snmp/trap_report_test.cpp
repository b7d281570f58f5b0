#include "snmp/trap_report.h"

#include <gtest/gtest.h>

#include <climits>

namespace qv {
namespace {

CSnmpMessage V1Trap(int32_t generic, int32_t specific) {
  CSnmpMessage trap(kPduTrapV1);
  trap.SetEnterprise("1.3.6.1.4.1.0");
  trap.SetAgentAddress("10.0.0.5");
  trap.SetGenericTrap(generic);
  trap.SetSpecificTrap(specific);
  return trap;
}

TEST(TrapReportTest, SnmpV1TrapGivesTheReferenceLine) {
  CSnmpMessage trap = V1Trap(6, 0);
  trap.AppendBinding(*CSnmpOid::FromText("1.3.6.1.4.1.0"), std::make_unique<CSnmpOctetString>("disk full"));
  EXPECT_EQ(TrapReportText(trap),
            "SNMP Trap: Ver=1 Community=public Type=EnterpriseSpecific/0 Timestamp=0 Sender's OID=1.3.6.1.4.1.0 "
            "[OID=1.3.6.1.4.1.0 String=disk full]");
  EXPECT_EQ(TrapReportAddress(trap, "192.0.2.9"), "10.0.0.5") << "the agent, which a relay keeps";
  trap.SetAgentAddress("0.0.0.0");
  EXPECT_EQ(TrapReportAddress(trap, "192.0.2.9"), "192.0.2.9") << "no agent given: the source";

  CSnmpMessage linkDown = V1Trap(2, 9);
  linkDown.SetTimeStamp(4294967295u);
  linkDown.SetCommunity("ops");
  EXPECT_EQ(TrapReportText(linkDown),
            "SNMP Trap: Ver=1 Community=ops Type=LinkDown Timestamp=4294967295 Sender's OID=1.3.6.1.4.1.0");
}

TEST(TrapReportTest, GenericNumbersAreNamedModuloSevenAndNeverOutsideTheTable) {
  EXPECT_EQ(GenericTrapName(0), "ColdStart");
  EXPECT_EQ(GenericTrapName(4), "Authentication Failure");
  EXPECT_EQ(GenericTrapName(5), "egpNeighborLoss");
  EXPECT_EQ(GenericTrapName(7), "ColdStart");
  EXPECT_EQ(GenericTrapName(13), "EnterpriseSpecific");
  EXPECT_EQ(GenericTrapName(-1), "EnterpriseSpecific");
  EXPECT_EQ(GenericTrapName(-7), "ColdStart");
  EXPECT_EQ(GenericTrapName(INT32_MIN), GenericTrapName(INT32_MIN % 7 + 7));
  EXPECT_EQ(GenericTrapName(INT32_MAX), GenericTrapName(INT32_MAX % 7));

  // Only generic 6 itself carries the specific number; 13 is named like 6 but has no suffix.
  EXPECT_EQ(TrapReportText(V1Trap(13, 5)),
            "SNMP Trap: Ver=1 Community=public Type=EnterpriseSpecific Timestamp=0 Sender's OID=1.3.6.1.4.1.0");
  EXPECT_EQ(TrapReportText(V1Trap(7, 5)),
            "SNMP Trap: Ver=1 Community=public Type=ColdStart Timestamp=0 Sender's OID=1.3.6.1.4.1.0");
}

TEST(TrapReportTest, SnmpV2NotificationsListEveryBindingAndShowBinaryAsHexadecimal) {
  for (uint8_t type : {kPduTrapV2, kPduInformRequest}) {
    CSnmpMessage trap(type);
    trap.SetVersion(CSnmpMessage::kVersion2c);
    trap.AppendBinding(*CSnmpOid::FromText("1.3.6.1.2.1.1.3.0"), std::make_unique<CSnmpTimeTicks>(77));
    trap.AppendBinding(*CSnmpOid::FromText("1.3.6.1.6.3.1.1.4.1.0"),
                       std::make_unique<CSnmpOid>(*CSnmpOid::FromText("1.3.6.1.6.3.1.1.5.3")));
    trap.AppendBinding(*CSnmpOid::FromText("1.3.6.1.4.1.9.1"), std::make_unique<CSnmpOctetString>("\x01\xFE"));
    EXPECT_EQ(TrapReportText(trap),
              "SNMP Trap: Ver=2 Community=public Type=EnterpriseSpecific/3 Timestamp=0 "
              "[OID=1.3.6.1.2.1.1.3.0 TimeTick=77] [OID=1.3.6.1.6.3.1.1.4.1.0 OID=1.3.6.1.6.3.1.1.5.3] "
              "[OID=1.3.6.1.4.1.9.1 String=01fe]");
    EXPECT_EQ(TrapReportAddress(trap, "192.0.2.9"), "192.0.2.9") << "no agent field: the source";
  }
}

TEST(TrapReportTest, MessagesTheMonitorDropsGiveNoText) {
  EXPECT_FALSE(TrapReportText(CSnmpMessage(kPduGetRequest)));
  EXPECT_FALSE(TrapReportText(CSnmpMessage(kPduResponse)));
  EXPECT_FALSE(TrapReportText(CSnmpMessage(CSnmpMessage::kNoPdu)));

  const auto noVersion = CSnmpMessage::Decode(Bytes{0x30, 0x10, 0x04, 0x01, 'x', 0xA7, 0x0B, 0x02, 0x01, 0x05,
                                                    0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x00});
  ASSERT_TRUE(noVersion);
  EXPECT_FALSE(TrapReportText(*noVersion));

  CSnmpMessage hugeVersion = V1Trap(0, 0);
  hugeVersion.SetVersion(INT32_MAX);
  EXPECT_EQ(TrapReportText(hugeVersion)->substr(0, 25), "SNMP Trap: Ver=2147483648");
}

}  // namespace
}  // namespace qv
