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
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "core/settings/settings_store.h"
#include "reception/relay.h"
#include "reception/relay_receiver.h"
#include "rules/rule.h"
#include "service/dunmir_test_process.h"
#include "service/service_program_test_support.h"
#include "service/service_installer.h"
#include "service/service_user.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"

namespace qv {
namespace {


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


// Exit code and output of the shell command `command` run as the user `name` with its groups.
std::pair<int, std::string> RunAs(const std::string& name, const std::string& command) {
  const passwd* user = getpwnam(name.c_str());
  if (user == nullptr) return {-1, "no user " + name};
  const uid_t uid = user->pw_uid;
  const gid_t gid = user->pw_gid;
  int out[2];
  if (pipe(out) != 0) return {-1, "no pipe"};
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(out[0]);
    if (initgroups(name.c_str(), gid) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0) _exit(126);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string output;
  char chunk[256];
  for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) output.append(chunk, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
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
  const auto [refused, line] = testing::RunDunmirForErrors("debug");
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
  ASSERT_TRUE(testing::WaitFor([] { return UdpPortIsTaken(514); }));
  const auto serviceFields = StatusFields("/proc/" + std::to_string(service) + "/status");
  CRelayReceiver viewer;  // root's viewer, fed by the service running as quorvel
  std::string error;
  ASSERT_TRUE(viewer.Bind(RelaySocketPath(), &error)) << error;
  SendTo514("<13>please run me");
  const bool ran = testing::WaitFor([&] { return StatusFields(childStatus).count("CapAmb") == 1; });
  std::vector<std::string> relayed;
  EXPECT_TRUE(testing::WaitFor([&] { return viewer.ReceiveBatch(relayed, 1) == 1; }));
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

TEST_F(ServiceUserTest, AMemberOfTheGroupQueriesAndStopsTheServiceThatRootAddedAndStarted) {
  setenv("QUORVEL_SYSTEMD_UNIT_DIR", etc_.file("units").c_str(), 1);  // never the machine's
  std::filesystem::create_directories(etc_.file("units"));
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "udpport", 514);
  store.SetInt("Settings", "SNMPTrapMonitor", 0);
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  ASSERT_NE(getpwnam(kServiceUser), nullptr) << "'dunmir add' makes the user";
  ASSERT_TRUE(RunSystemTool({"useradd", "--no-create-home", "--no-user-group", "--groups", kServiceGroup, "qvmember"}));

  const std::string qvsc = QVSC_PATH;
  EXPECT_EQ(RunAs("root", qvsc + " start"), std::pair(0, std::string("Quorvel: RUNNING\n")));
  EXPECT_EQ(RunAs("qvmember", qvsc + " query"), std::pair(0, std::string("Quorvel: RUNNING\n")));
  EXPECT_EQ(RunAs("qvmember", qvsc + " stop"), std::pair(0, std::string("Quorvel: STOPPED\n")));
  EXPECT_EQ(testing::RunDunmir({"remove"}), 0);
  unsetenv("QUORVEL_SYSTEMD_UNIT_DIR");
}

}  // namespace
}  // namespace qv
