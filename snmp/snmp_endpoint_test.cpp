#include "snmp/snmp_endpoint.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace qv {
namespace {

CSnmpMessage Trap(std::string_view text) {
  CSnmpMessage trap(kPduTrapV2);
  trap.SetVersion(CSnmpMessage::kVersion2c);
  trap.AppendBinding(*CSnmpOid::FromText("1.3.6.1.4.1.0"), std::make_unique<CSnmpOctetString>(std::string(text)));
  return trap;
}

void SendRaw(uint16_t port, const Bytes& bytes) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(bytes.size()));
  close(fd);
}

TEST(SnmpEndpointTest, SendsReceivesAndRepliesToTheSenderOnLoopback) {
  CSnmpEndpoint receiver(0, 5);
  ASSERT_TRUE(receiver.Ready());
  CSnmpEndpoint sender(receiver.LocalPort(), 5, "127.0.0.1");
  ASSERT_TRUE(sender.Ready());
  EXPECT_EQ(sender.PeerPort(), receiver.LocalPort());

  const CSnmpMessage trap = Trap("hello");
  EXPECT_EQ(sender.Send(trap), static_cast<int>(trap.Encode().size()));
  const auto received = receiver.Receive();
  ASSERT_TRUE(received);
  EXPECT_EQ(received->BindingValueText(1), "hello");
  EXPECT_EQ(receiver.PeerAddress(), "127.0.0.1");
  EXPECT_EQ(receiver.PeerPort(), sender.LocalPort());

  EXPECT_GT(receiver.Reply(Trap("back")), 0);
  const auto reply = sender.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->BindingValueText(1), "back");
}

TEST(SnmpEndpointTest, ReceiveGivesUpAfterItsTimeOut) {
  CSnmpEndpoint receiver(0, 1);
  ASSERT_TRUE(receiver.Ready());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(receiver.Receive());
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_EQ(receiver.Reply(Trap("nobody")), 0);  // no peer yet
}

TEST(SnmpEndpointTest, DatagramsThatDoNotFitTheBufferOrDoNotDecodeAreDropped) {
  CSnmpEndpoint receiver(0, 2);
  CSnmpEndpoint sender(receiver.LocalPort(), 2, "localhost");
  ASSERT_TRUE(receiver.Ready() && sender.Ready());
  EXPECT_EQ(receiver.BufferSize(), CSnmpEndpoint::kDefaultBufferSize);

  receiver.SetBufferSize(10);
  sender.Send(Trap("too long for ten bytes"));
  EXPECT_FALSE(receiver.Receive());

  receiver.SetBufferSize(65536);
  SendRaw(receiver.LocalPort(), {0x30, 0x05, 0x02, 0x09, 0x00});
  EXPECT_FALSE(receiver.Receive());
  EXPECT_EQ(receiver.PeerAddress(), "127.0.0.1");  // the sender is known even so

  EXPECT_GT(sender.Send(Trap(std::string(60000, 'x'))), 60000);
  const auto large = receiver.Receive();
  ASSERT_TRUE(large);
  EXPECT_EQ(large->BindingValueText(1).size(), 60000u);
}

TEST(SnmpEndpointTest, FailuresLeaveTheEndpointNotReadyWithTheReason) {
  CSnmpEndpoint holder(0, 1);
  ASSERT_TRUE(holder.Ready());
  CSnmpEndpoint second(holder.LocalPort(), 1);
  EXPECT_FALSE(second.Ready());
  EXPECT_EQ(second.LastError(), EADDRINUSE);
  EXPECT_EQ(second.LocalPort(), 0);
  EXPECT_EQ(second.Send(Trap("x")), 0);
  EXPECT_FALSE(second.Receive());

  CSnmpEndpoint unresolved(162, 1, "");
  EXPECT_FALSE(unresolved.Ready());
  EXPECT_LT(unresolved.LastError(), 0);
  EXPECT_FALSE(unresolved.LastErrorText().empty());
  EXPECT_EQ(unresolved.Send(Trap("x")), 0);
}

}  // namespace
}  // namespace qv
