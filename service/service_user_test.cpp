// The service started as root runs its rules as the user quorvel. The user and its group are
// made by the test in a private copy of /etc (a mount namespace of its own), and the service
// receives on port 514 in a network namespace of the test's own, so the machine is untouched.

#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "core/settings/settings_store.h"
#include "rules/rule.h"
#include "service/dunmir_test_process.h"
#include "service/service_installer.h"
#include "service/service_user.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

template <typename Condition>
bool WaitFor(Condition condition) {
  for (const auto deadline = std::chrono::steady_clock::now() + 10s; !condition();) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// The fields of a /proc/<pid>/status file by name.
std::map<std::string, std::string> StatusFields(const std::string& path) {
  std::map<std::string, std::string> fields;
  std::ifstream status(path);
  for (std::string line; std::getline(status, line);) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    fields[line.substr(0, colon)] = value;
  }
  return fields;
}

bool UdpPortIsTaken(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
  close(fd);
  return taken;
}

void SendTo514(const std::string& text) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(514);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
  close(fd);
}

// Exit code and standard error of `dunmir debug`.
std::pair<int, std::string> RunDebugForErrors() {
  const std::string command = std::string(DUNMIR_PATH) + " debug 2>&1 >/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  std::array<char, 512> buffer{};
  while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class ServiceUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || !testing::OwnNetworkNamespace::Enter() || unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      GTEST_SKIP() << "needs root for network and mount namespaces of its own";
    }
    std::error_code ignored;
    std::filesystem::copy("/etc", etc_.path(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks |
                              std::filesystem::copy_options::overwrite_existing,
                          ignored);
    ASSERT_EQ(mount(etc_.path().c_str(), "/etc", nullptr, MS_BIND, nullptr), 0);
    mounted_ = true;
    ASSERT_EQ(getpwnam(kServiceUser), nullptr) << "the test's /etc already has the user";
    unsetenv(kRulesAsRootVariable);
  }
  void TearDown() override {
    if (mounted_) umount2("/etc", MNT_DETACH);
  }

  testing::TempHome etc_;  // the private copy of /etc; the data root is the next one
  testing::TempHome home_;
  bool mounted_ = false;
};

TEST_F(ServiceUserTest, AsRootItRefusesWithoutTheUserAndOtherwiseRunsRulesAsQuorvelWithOnlyThePortCapabilities) {
  const auto [refused, line] = RunDebugForErrors();
  EXPECT_EQ(refused, 1);
  EXPECT_NE(line.find("dunmir: started as root, but there is no user quorvel"), std::string::npos) << line;
  EXPECT_NE(line.find("'dunmir add'"), std::string::npos) << line;

  ASSERT_TRUE(RunSystemTool({"groupadd", "--system", kServiceGroup}));
  ASSERT_TRUE(MakeServiceUser(kServiceGroup));
  const passwd* user = getpwnam(kServiceUser);
  ASSERT_NE(user, nullptr);
  const std::string uid = std::to_string(user->pw_uid);
  const gid_t gid = user->pw_gid;

  const std::string childStatus = home_.file("child-status");
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "udpport", 514);  // only a kept CAP_NET_BIND_SERVICE binds it
  store.SetInt("Settings", "SNMPTrapMonitor", 0);
  store.SetInt("Settings", "rulescount", 1);
  store.SetString("Rules\\rule0", "Message", "run me");
  store.SetInt("Rules\\rule0", "Action", kActionRunProgram);
  store.SetString("Rules\\rule0", "ActionValue", ("/bin/sh -c \"cat /proc/self/status > " + childStatus + "\"").c_str());

  const pid_t service = testing::SpawnDunmir({"debug"});
  ASSERT_TRUE(WaitFor([] { return UdpPortIsTaken(514); }));
  const auto serviceFields = StatusFields("/proc/" + std::to_string(service) + "/status");
  SendTo514("<13>please run me");
  const bool ran = WaitFor([&] { return StatusFields(childStatus).count("CapAmb") == 1; });
  const auto childFields = StatusFields(childStatus);
  kill(service, SIGTERM);
  EXPECT_EQ(testing::WaitForExit(service), 0);

  const std::string all = uid + "\t" + uid + "\t" + uid + "\t" + uid;
  EXPECT_EQ(serviceFields.at("Uid"), all);
  EXPECT_EQ(serviceFields.at("Gid"), std::to_string(gid) + "\t" + std::to_string(gid) + "\t" + std::to_string(gid) +
                                         "\t" + std::to_string(gid));
  EXPECT_EQ(serviceFields.at("Groups"), std::to_string(gid));
  const std::string ports = "0000000000002400";  // CAP_NET_BIND_SERVICE (10) and CAP_NET_RAW (13)
  EXPECT_EQ(serviceFields.at("CapPrm"), ports);
  EXPECT_EQ(serviceFields.at("CapEff"), ports);
  EXPECT_EQ(serviceFields.at("CapInh"), "0000000000000000");
  EXPECT_EQ(serviceFields.at("CapAmb"), "0000000000000000");

  ASSERT_TRUE(ran) << "the rule's program did not run";
  EXPECT_EQ(childFields.at("Uid"), all);
  for (const char* set : {"CapPrm", "CapEff", "CapInh", "CapAmb"}) {
    EXPECT_EQ(childFields.at(set), "0000000000000000") << set;
  }

  // The root-made data root became the service's group's.
  struct stat root {};
  ASSERT_EQ(stat(home_.path().c_str(), &root), 0);
  EXPECT_EQ(root.st_gid, gid);
  EXPECT_EQ(root.st_mode & 07777, 02770u);
}

}  // namespace
}  // namespace qv
