#include "snmp/trap_sender.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>

#include <set>

#include "snmp/snmp_endpoint.h"
#include "snmp/trap_report.h"

namespace qv {
namespace {

std::string Dotted(uint32_t networkOrder) {
  in_addr address{};
  address.s_addr = networkOrder;
  return inet_ntoa(address);
}

TEST(TrapSenderTest, TrapCarriesTheRuleFieldsAndTheTextAsOneStringBinding) {
  const auto trap = BuildSnmpTrap("router1: disk full", "public", "1.3.6.1.4.1.0", 6, 0, "1.3.6.1.4.1.0", "10.0.0.5");
  ASSERT_TRUE(trap);
  EXPECT_EQ(trap->Version(), 0);
  EXPECT_EQ(TrapReportText(*trap),
            "SNMP Trap: Ver=1 Community=public Type=EnterpriseSpecific/0 Timestamp=0 Sender's OID=1.3.6.1.4.1.0 "
            "[OID=1.3.6.1.4.1.0 String=router1: disk full]");
  EXPECT_EQ(trap->AgentAddressText(), "10.0.0.5");

  EXPECT_EQ(BuildSnmpTrap("x", "c", "1.3.6.1.4.1.0", 6, 0, "1.3.6.1.4.1.0", "not an address")->AgentAddressText(),
            "0.0.0.0");
  EXPECT_FALSE(BuildSnmpTrap("x", "c", "1.3.6.1.4.1.x", 6, 0, "1.3.6.1.4.1.0", "10.0.0.5"));
  EXPECT_FALSE(BuildSnmpTrap("x", "c", "1.3.6.1.4.1.0", 6, 0, "", "10.0.0.5"));
}

TEST(TrapSenderTest, AgentAddressIsTheSendersUnlessTheMessageWasMadeLocally) {
  CSnmpEndpoint station(0, 5);
  ASSERT_TRUE(station.Ready());

  SendSnmpTrap("127.0.0.1", "from a router", "public", "1.3.6.1.4.1.0", 6, 0, "1.3.6.1.4.1.0", "10.1.2.3",
               station.LocalPort());
  const auto routerTrap = station.Receive();
  ASSERT_TRUE(routerTrap);
  EXPECT_EQ(routerTrap->AgentAddressText(), "10.1.2.3");
  EXPECT_EQ(routerTrap->BindingValueText(1), "from a router");

  SendSnmpTrap("localhost", "made here", "public", "1.3.6.1.4.1.0", 6, 0, "1.3.6.1.4.1.0", "127.0.0.1",
               station.LocalPort());
  const auto localTrap = station.Receive();
  ASSERT_TRUE(localTrap);
  EXPECT_EQ(localTrap->AgentAddressText(), Dotted(GetLocalAddress()));
  EXPECT_NE(localTrap->AgentAddressText(), "127.0.0.1");

  // Nothing is sent for an enterprise that is not an object identifier, and the caller hears so.
  CSnmpEndpoint silent(0, 1);
  EXPECT_FALSE(SendSnmpTrap("127.0.0.1", "bad", "public", "enterprise", 6, 0, "1.3.6.1.4.1.0", "10.1.2.3",
                            silent.LocalPort()));
  EXPECT_FALSE(silent.Receive());
  // Blanks around the identifiers are not a mistake.
  EXPECT_TRUE(SendSnmpTrap("127.0.0.1", "padded", "public", " 1.3.6.1.4.1.0 ", 6, 0, "\t1.3.6.1.4.1.0", "10.1.2.3",
                           station.LocalPort()));
  const auto padded = station.Receive();
  ASSERT_TRUE(padded);
  EXPECT_EQ(padded->EnterpriseText(), "1.3.6.1.4.1.0");
}

TEST(TrapSenderTest, LocalAddressIsOneOfThisMachinesNonLoopbackAddresses) {
  const uint32_t local = GetLocalAddress();
  std::set<uint32_t> own;
  ifaddrs* list = nullptr;
  ASSERT_EQ(getifaddrs(&list), 0);
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
      own.insert(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
    }
  }
  freeifaddrs(list);
  if (local == 0) GTEST_SKIP() << "this machine has no address outside loopback";
  EXPECT_EQ(own.count(local), 1u) << Dotted(local);
  EXPECT_NE(ntohl(local) >> 24, 127u);
}

}  // namespace
}  // namespace qv
