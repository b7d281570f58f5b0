// Both ends of the relay over a real Unix datagram socket in a fresh data root.

#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "reception/relay.h"
#include "reception/relay_receiver.h"
#include "reception/relay_sender.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Reads until `out` holds `count` texts or five seconds have passed, flushing `sender` when
// lines wait in it, as the service does when the viewer's socket has room again.
bool ReceiveUntil(CRelayReceiver& receiver, std::vector<std::string>& out, std::size_t count,
                  CRelaySender* sender = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd watched{receiver.fd(), POLLIN, 0};
    if (poll(&watched, 1, 50) == 1) receiver.ReceiveBatch(out, CRelayReceiver::kMaxBatch);
    if (sender != nullptr && sender->waiting()) sender->Flush();
  }
  return out.size() >= count;
}

// A socket file like the one a crashed viewer leaves: bound, then closed without unlinking.
void LeaveStaleSocket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

TEST(RelayTest, RecordLinesArriveWholeInOrderWithoutTheirLineEnds) {
  qv::testing::TempHome home;
  EXPECT_EQ(RelaySocketPath(), home.file("relay"));
  CRelayReceiver viewer;
  std::string error;
  ASSERT_TRUE(viewer.Bind(RelaySocketPath(), &error)) << error;
  EXPECT_EQ(ModeOf(RelaySocketPath()), 0600u);

  CRelaySender relay(RelaySocketPath());
  relay.Relay("0,5,localhost,127.0.0.1,514,7,2000,1000,\"-----Time Mark-----\"\r\n");
  relay.Relay("");  // too short to carry a record: nothing is sent
  const std::string longest(2 * 65535, 'x');  // a full message of line-break markers
  relay.Relay("1,1,h,10.0.0.1,600,5,3,0,\"" + longest + "\"\r\n");
  relay.Flush();
  // More than one batch, and more than the kernel queues for the viewer (10 datagrams on a
  // plain kernel): what does not fit waits in the sender, in order.
  const std::size_t numbered = 3 * CRelaySender::kMaxBatch + 3;
  for (std::size_t i = 0; i < numbered; ++i) relay.Relay(std::to_string(i) + "\r\n");
  relay.Flush();

  std::vector<std::string> got;
  EXPECT_EQ(viewer.ReceiveBatch(got, 1), 1u);  // at most what was asked for
  ASSERT_TRUE(ReceiveUntil(viewer, got, 2 + numbered, &relay)) << got.size();
  EXPECT_EQ(got[0], "0,5,localhost,127.0.0.1,514,7,2000,1000,\"-----Time Mark-----\"");
  EXPECT_EQ(got[1], "1,1,h,10.0.0.1,600,5,3,0,\"" + longest + "\"");
  for (std::size_t i = 0; i < numbered; ++i) ASSERT_EQ(got[2 + i], std::to_string(i));
  EXPECT_EQ(viewer.ReceiveBatch(got, 10), 0u);
  EXPECT_EQ(relay.dropped(), 0u);

  viewer.Close();
  EXPECT_EQ(access(RelaySocketPath().c_str(), F_OK), -1);  // the file goes with the socket
  relay.Relay("after the viewer left\r\n");
  relay.Flush();  // nobody listens: dropped without fault
  EXPECT_FALSE(relay.waiting());
  EXPECT_EQ(relay.dropped(), 1u);
}

TEST(RelayTest, AStaleSocketIsReplacedButALiveOneOrAPlainFileIsNotTaken) {
  qv::testing::TempHome home;
  const std::string path = RelaySocketPath();
  std::string error;
  LeaveStaleSocket(path);
  CRelayReceiver first;
  ASSERT_TRUE(first.Bind(path, &error)) << error;

  CRelayReceiver second;
  EXPECT_FALSE(second.Bind(path, &error));
  EXPECT_EQ(error, path + " is held by another running viewer");
  second.Close();  // must not remove the first viewer's file
  CRelaySender relay(path);
  relay.Relay("still mine\r\n");
  relay.Flush();
  std::vector<std::string> got;
  ASSERT_TRUE(ReceiveUntil(first, got, 1));
  EXPECT_EQ(got[0], "still mine");
  first.Close();

  std::ofstream(path) << "not a socket";
  EXPECT_FALSE(second.Bind(path, &error));
  EXPECT_EQ(error, path + " exists and is not a socket; remove it to receive the relay");
  EXPECT_EQ(second.fd(), -1);
}

TEST(RelayTest, TheSocketIsOpenToTheGroupOnlyInAGroupSharedFolder) {
  qv::testing::TempHome home;
  ASSERT_EQ(chmod(home.path().c_str(), 02770), 0);
  CRelayReceiver viewer;
  std::string error;
  ASSERT_TRUE(viewer.Bind(RelaySocketPath(), &error)) << error;
  EXPECT_EQ(ModeOf(RelaySocketPath()), 0660u);
}

TEST(RelayTest, TheSenderNeverWaitsHoldsABoundedBacklogAndFindsANewViewer) {
  qv::testing::TempHome home;
  const std::string path = RelaySocketPath();
  CRelaySender relay(path);
  relay.Relay("before any viewer\r\n");
  relay.Flush();
  EXPECT_EQ(relay.dropped(), 1u);

  auto viewer = std::make_unique<CRelayReceiver>();
  std::string error;
  ASSERT_TRUE(viewer->Bind(path, &error)) << error;
  // Nobody reads: 24 MiB of lines are more than the backlog holds; the rest is dropped at once.
  const std::string big(100 * 1024, 'b');
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 240; ++i) relay.Relay(std::to_string(i) + big + "\r\n");
  relay.Flush();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(relay.waiting());
  const std::size_t dropped = relay.dropped() - 1;
  EXPECT_GT(dropped, 50u);
  EXPECT_LT(dropped, 240u);
  std::vector<std::string> got;
  ASSERT_TRUE(ReceiveUntil(*viewer, got, 240 - dropped, &relay));
  EXPECT_EQ(got.front(), "0" + big);  // the first lines, in order; the last ones were dropped
  EXPECT_EQ(got.back(), std::to_string(239 - dropped) + big);
  EXPECT_FALSE(relay.waiting());

  // A viewer that crashed and one that came back: the sender follows the new socket.
  viewer.reset();
  LeaveStaleSocket(path);
  relay.Relay("into the stale socket\r\n");
  relay.Flush();
  CRelayReceiver back;
  ASSERT_TRUE(back.Bind(path, &error)) << error;
  relay.Relay("to the new viewer\r\n");
  relay.Flush();
  got.clear();
  ASSERT_TRUE(ReceiveUntil(back, got, 1));
  EXPECT_EQ(got, std::vector<std::string>{"to the new viewer"});
}

TEST(RelayTest, RecordsGoOnlyToASocketAtThePathOwnedByTheServiceOrAMemberOfTheSharedGroup) {
  const passwd* daemonUser = getpwnam("daemon");  // a member of its own primary group
  if (geteuid() != 0 || daemonUser == nullptr) GTEST_SKIP() << "needs root and the user daemon to own sockets";
  const uid_t member = daemonUser->pw_uid;
  const gid_t group = daemonUser->pw_gid;
  constexpr uid_t kStranger = 4243;  // no such user: a member of nothing
  struct Case {
    const char* name;
    bool link;       // the path is a symbolic link to a socket elsewhere
    uid_t owner;     // the receiving socket's owner
    bool shared;     // the data root is shared with `group`
    bool delivered;
  };
  const Case cases[] = {
      {"own socket", false, geteuid(), false, true},
      {"link to the own user's socket elsewhere", true, geteuid(), false, false},
      {"socket of a stranger", false, kStranger, true, false},
      {"socket of a member of the shared group", false, member, true, true},
      {"socket of that user without the shared group", false, member, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qv::testing::TempHome home;
    ASSERT_EQ(chown(home.path().c_str(), 0, c.shared ? group : 0), 0);
    ASSERT_EQ(chmod(home.path().c_str(), c.shared ? 02770 : 0700), 0);
    const std::string path = RelaySocketPath();
    const std::string elsewhere = home.file("elsewhere");
    CRelayReceiver receiver;
    std::string error;
    ASSERT_TRUE(receiver.Bind(c.link ? elsewhere : path, &error)) << error;
    if (c.link) {
      ASSERT_EQ(symlink(elsewhere.c_str(), path.c_str()), 0);
    }
    ASSERT_EQ(lchown(c.link ? elsewhere.c_str() : path.c_str(), c.owner, static_cast<gid_t>(-1)), 0);

    CRelaySender relay(path);
    relay.Relay("for the viewer only\r\n");
    relay.Flush();
    std::vector<std::string> got;  // a local datagram is queued by the time the send returns
    EXPECT_EQ(receiver.ReceiveBatch(got, 1), c.delivered ? 1u : 0u);
    EXPECT_EQ(relay.dropped(), c.delivered ? 0u : 1u);
  }
}

}  // namespace
}  // namespace qv
