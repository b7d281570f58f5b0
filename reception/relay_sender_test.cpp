#include "reception/relay_sender.h"

#include <gtest/gtest.h>

#include "reception/relay.h"
#include "reception/udp_test_peer.h"

namespace qv {
namespace {

TEST(RelaySenderTest, SendsTheLineWithoutItsLineEndFromTheRelayPortOnLoopback) {
  testing::RecordingSink viewer;
  CSyslogSocket listener(viewer, RELAY_PORT, "127.0.0.1");
  ASSERT_TRUE(listener.created());

  CRelaySender relay;
  ASSERT_TRUE(relay.bound());
  relay.Relay("0,5,localhost,127.0.0.1,514,7,2000,1000,\"-----Time Mark-----\"\r\n");
  relay.Relay("");  // too short to carry a record: nothing is sent
  relay.Relay("1,1,h,10.0.0.1,600,5,3,0,\"second\"\r\n");
  relay.Flush();
  ASSERT_TRUE(testing::ReceiveUntil(listener, viewer, 2));
  EXPECT_EQ(viewer.datagrams[0].text, "0,5,localhost,127.0.0.1,514,7,2000,1000,\"-----Time Mark-----\"");
  EXPECT_EQ(viewer.datagrams[0].address, "127.0.0.1");
  EXPECT_EQ(viewer.datagrams[0].port, RELAY_SOURCE_PORT);
  EXPECT_EQ(viewer.datagrams[1].text, "1,1,h,10.0.0.1,600,5,3,0,\"second\"");

  // A full queue goes out by itself, in order.
  for (std::size_t i = 0; i < CRelaySender::kMaxQueued; ++i) relay.Relay(std::to_string(i) + "\r\n");
  ASSERT_TRUE(testing::ReceiveUntil(listener, viewer, 2 + CRelaySender::kMaxQueued));
  EXPECT_EQ(viewer.datagrams[2].text, "0");
  EXPECT_EQ(viewer.datagrams.back().text, std::to_string(CRelaySender::kMaxQueued - 1));

  // The relay port is held on loopback only, and a second relay cannot take it.
  CRelaySender second;
  EXPECT_FALSE(second.bound());
}

}  // namespace
}  // namespace qv
