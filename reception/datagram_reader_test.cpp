#include "reception/datagram_reader.h"

#include <atomic>

#include <gtest/gtest.h>

namespace qv {
namespace {

// Names are looked up only when asked for, only for IPv4 senders, and only when the datagram
// named no host; the answer is cached per address until the names are forgotten.
TEST(DatagramReaderTest, LooksUpOnlyIpv4SendersThatNamedNoHost) {
  std::atomic<int> lookups{0};
  CDatagramReader reader(ParseOptions{}, true, [&lookups](uint32_t) {
    ++lookups;
    return std::string("router.example");
  });

  EXPECT_EQ(reader.Read("192.0.2.7", 514, "<13>Oct 11 22:14:15 named app: hello").hostName, "named");
  EXPECT_EQ(reader.Read("2001:db8::7", 514, "<13>plain text").hostName, "");
  EXPECT_EQ(lookups, 0);

  EXPECT_EQ(reader.Read("192.0.2.7", 514, "<13>plain text").hostName, "router.example");
  EXPECT_EQ(reader.Read("192.0.2.7", 514, "<13>again").hostName, "router.example");
  EXPECT_EQ(lookups, 1);
  reader.ForgetNames();
  EXPECT_EQ(reader.Read("192.0.2.7", 514, "<13>after forgetting").hostName, "router.example");
  EXPECT_EQ(lookups, 2);

  reader.SetResolveNames(false);
  EXPECT_EQ(reader.Read("192.0.2.8", 514, "<13>not looked up").hostName, "");
  EXPECT_EQ(lookups, 2);
}

TEST(DatagramReaderTest, FlattensLineFeedsAfterTheFirstCharacter) {
  CDatagramReader reader(ParseOptions{}, false);
  const SyslogMessage record = reader.Read("192.0.2.7", 514, "<13>Oct 11 22:14:15 host app: one\ntwo\n");
  EXPECT_EQ(record.message, "app: one two ");
}

}  // namespace
}  // namespace qv
