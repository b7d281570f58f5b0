// The service program as a process: its command words, running with and without the service
// manager, and ending on signals.

#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry/registry.h"
#include "reception/relay.h"
#include "reception/relay_receiver.h"
#include "platform/services/service_manager.h"
#include "platform/services/service_record.h"
#include "platform/services/service_state.h"
#include "service/control/service_control.h"
#include "service/dunmir_test_process.h"
#include "service/service_program_test_support.h"
#include "service/service_app.h"
#include "core/settings/settings_store.h"

namespace qv {
namespace {

using testing::QueryStatus;
using testing::WaitFor;

std::string Value(std::string_view name) {
  reg::ScopedKey key;
  std::string data = "<absent>";
  if (reg::OpenKey(reg::LocalMachine(), "SYSTEM\\CurrentControlSet\\Services\\Quorvel", reg::Access::kRead,
                   key.out()) == reg::kSuccess) {
    reg::QueryValue(key.get(), name, nullptr, &data);
  }
  return data;
}

uint32_t DwordValue(std::string_view name) {
  const std::string data = Value(name);
  uint32_t value = 0;
  if (data.size() == 4) std::memcpy(&value, data.data(), 4);
  return value;
}

// True once the process handles both SIGTERM and SIGINT itself (the "SigCgt" mask).
bool CatchesTerminationSignals(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    const unsigned long long wanted = (1ULL << (SIGTERM - 1)) | (1ULL << (SIGINT - 1));
    return (mask & wanted) == wanted;
  }
  return false;
}

using DunmirTest = testing::ServiceProgramTest;

using testing::RunDunmirForErrors;

TEST_F(DunmirTest, ADataRootOthersCouldUseAndAnUnusableSyslogPortAreRefusedInOneLine) {
  const std::string root = home_.path().string();
  ASSERT_EQ(chmod(root.c_str(), 0777), 0);
  for (const char* word : {"add", "debug", "remove"}) {
    EXPECT_EQ(RunDunmirForErrors(word),
              std::pair(1, "dunmir: " + root + " is open to other users (mode 0777); close it with chmod o-rwx\n"));
  }
  ASSERT_EQ(chmod(root.c_str(), 0700), 0);
  ASSERT_EQ(chown(root.c_str(), 65534, 65534), 0);
  EXPECT_EQ(RunDunmirForErrors("debug"), std::pair(1, "dunmir: " + root + " belongs to user 65534, not to this user (" +
                                                    std::to_string(geteuid()) + "), root or the service's user quorvel\n"));
  ASSERT_EQ(chown(root.c_str(), geteuid(), getegid()), 0);

  for (const int32_t port : {0, 32514, 32515, 65536, -1}) {
    AppSettings().SetInt("Settings", "udpport", port);
    EXPECT_EQ(RunDunmirForErrors("debug"),
              std::pair(1, "dunmir: udpport " + std::to_string(port) +
                               " cannot be used: the syslog port must be 1 to 65535 and not 32514 or 32515\n"));
  }
}

TEST_F(DunmirTest, AddAsRootSharesTheDataRootWithTheGroupQuorvel) {
  // groupadd may change only a private copy of /etc, in a mount namespace of this test's own.
  if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    GTEST_SKIP() << "needs root for a mount namespace of its own";
  }
  const std::filesystem::path etc = home_.path() / "etc";
  std::error_code ignored;
  std::filesystem::copy("/etc", etc, std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks,
                        ignored);
  ASSERT_EQ(mount(etc.c_str(), "/etc", nullptr, MS_BIND, nullptr), 0);
  setenv("PATH", path_.c_str(), 1);
  AppSettings().SetInt("Settings", "udpport", 1514);  // the settings exist before the service is added

  const int added = testing::RunDunmir({"add"}).value_or(-1);
  // What the service makes afterwards is the group's too: its event log database, for one.
  const pid_t service = testing::SpawnDunmir({"debug"});
  testing::WaitFor([&] { return std::filesystem::exists(home_.file("eventlog/eventlog.db")); });
  kill(service, SIGTERM);
  testing::WaitForExit(service);
  struct stat events {};
  stat(home_.file("eventlog/eventlog.db").c_str(), &events);
  const group* quorvel = getgrnam("quorvel");
  struct stat root {}, settings {};
  stat(home_.path().c_str(), &root);
  stat(home_.file("registry.db").c_str(), &settings);
  CRelayReceiver viewer;
  std::string error;
  const bool bound = viewer.Bind(RelaySocketPath(), &error);
  struct stat relay {};
  stat(RelaySocketPath().c_str(), &relay);
  EXPECT_EQ(testing::RunDunmir({"remove"}), 0);
  umount2("/etc", MNT_DETACH);

  EXPECT_EQ(added, 0);
  ASSERT_NE(quorvel, nullptr);
  EXPECT_EQ(root.st_uid, 0u);
  EXPECT_EQ(root.st_gid, quorvel->gr_gid);
  EXPECT_EQ(root.st_mode & 07777, 02770u);
  EXPECT_EQ(settings.st_gid, quorvel->gr_gid);
  EXPECT_EQ(settings.st_mode & 0777, 0660u);
  EXPECT_EQ(events.st_gid, quorvel->gr_gid);
  EXPECT_EQ(events.st_mode & 0777, 0660u);
  ASSERT_TRUE(bound) << error;
  EXPECT_EQ(relay.st_mode & 0777, 0660u);
  EXPECT_EQ(relay.st_gid, quorvel->gr_gid);  // the folder's set-group-id bit passes it on
}

TEST(CommandWordTest, TheWholeTailCountsInAnyCase) {
  const auto word = [](std::vector<std::string> arguments) {
    std::string program = "dunmir";
    std::vector<char*> argv{program.data()};
    for (std::string& argument : arguments) argv.push_back(argument.data());
    return CommandWordOf(static_cast<int>(argv.size()), argv.data());
  };
  EXPECT_EQ(word({"add"}), CommandWord::kAdd);
  EXPECT_EQ(word({"ReMoVe"}), CommandWord::kRemove);
  EXPECT_EQ(word({"DEBUG"}), CommandWord::kDebug);
  EXPECT_EQ(word({}), CommandWord::kNormalStart);
  EXPECT_EQ(word({"debug", "now"}), CommandWord::kNormalStart);
  EXPECT_EQ(word({"add "}), CommandWord::kNormalStart);
  EXPECT_EQ(word({"install"}), CommandWord::kNormalStart);
}

TEST_F(DunmirTest, AddInstallsTheServiceOnceAndRemoveInAnyCaseTakesItAway) {
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  EXPECT_EQ(Value("ImagePath"), std::filesystem::canonical(DUNMIR_PATH).string());
  EXPECT_EQ(Value("DisplayName"), "Quorvel Syslog");
  EXPECT_EQ(Value("Description"), "Listens for and acts on syslog messages");
  EXPECT_EQ(Value("DependOnService"), "Tcpip");
  EXPECT_EQ(DwordValue("Start"), svc::kAutoStart);
  EXPECT_EQ(DwordValue("Type"), svc::kOwnProcess | svc::kInteractiveProcess);
  EXPECT_TRUE(std::filesystem::exists(units_ / "quorvel.service"));
  EXPECT_TRUE(std::filesystem::is_symlink(units_ / "multi-user.target.wants" / "quorvel.service"));

  EXPECT_EQ(testing::RunDunmir({"add"}), 1);
  EXPECT_EQ(testing::RunDunmir({"ADD"}), 1);

  // Removing stops the running service first.
  ASSERT_TRUE(CServiceControl().Start());
  const pid_t pid = QueryStatus().processId;
  ASSERT_GT(pid, 0);
  EXPECT_EQ(testing::RunDunmir({"REMOVE"}), 0);
  EXPECT_TRUE(WaitFor([&] { return !svc::ProcessIsAlive(pid, 0); }));
  EXPECT_FALSE(CServiceControl().IsInstalled());
  EXPECT_EQ(Value("Description"), "<absent>");
  EXPECT_FALSE(std::filesystem::exists(units_ / "quorvel.service"));
  EXPECT_EQ(testing::RunDunmir({"remove"}), 1);
}

TEST_F(DunmirTest, AddAndRemoveFailWithoutAUsableManager) {
  std::ofstream(home_.file("plain-file")) << "x";
  setenv("QUORVEL_HOME", home_.file("plain-file/below").c_str(), 1);
  EXPECT_EQ(testing::RunDunmir({"add"}), 1);
  EXPECT_EQ(testing::RunDunmir({"remove"}), 1);
  setenv("QUORVEL_HOME", home_.path().c_str(), 1);
}

TEST_F(DunmirTest, OutsideTheManagerTheNormalStartRunsUntilASignalEndsIt) {
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, std::vector<std::string>{"run"}}) {
    const pid_t pid = testing::SpawnDunmir(arguments);
    ASSERT_TRUE(WaitFor([&] { return CatchesTerminationSignals(pid); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the program ended by itself";
    EXPECT_FALSE(CServiceControl().IsRunning());  // it did not pose as the service
    kill(pid, SIGTERM);
    EXPECT_EQ(testing::WaitForExit(pid), 0);
  }
}

TEST_F(DunmirTest, DebugEndsCleanlyOnSigtermAndSigint) {
  for (const int signal : {SIGTERM, SIGINT}) {
    const pid_t pid = testing::SpawnDunmir({"Debug"});
    ASSERT_TRUE(WaitFor([&] { return CatchesTerminationSignals(pid); }));
    kill(pid, signal);
    EXPECT_EQ(testing::WaitForExit(pid), 0) << "signal " << signal;
  }
}

// Sends `texts` to the service's UDP port on the loopback address, as fast as they go.
void SendDatagrams(const std::vector<std::string>& texts) {
  const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(AppSettings().GetInt("Settings", "udpport", 0)));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (const std::string& text : texts) {
    EXPECT_EQ(sendto(sender, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(text.size()));
  }
  close(sender);
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST_F(DunmirTest, ABurstKeepsEachHistoryFileWithinItsSize) {
  AppSettings().SetInt("Settings", "historysize", 1);  // 512 bytes a file
  const pid_t pid = testing::SpawnDunmir({"debug"});
  ASSERT_TRUE(WaitFor([&] { return CatchesTerminationSignals(pid); }));
  std::vector<std::string> burst;
  for (int i = 0; i < 300; ++i) burst.push_back("<13>burst line " + std::to_string(1000 + i) + std::string(60, '.'));
  SendDatagrams(burst);
  const auto a = home_.path() / "qvhista.txt";
  const auto b = home_.path() / "qvhistb.txt";
  EXPECT_TRUE(WaitFor([&] { return (ReadWhole(a) + ReadWhole(b)).find("burst line 1299") != std::string::npos; }));
  kill(pid, SIGTERM);
  EXPECT_EQ(testing::WaitForExit(pid), 0);
  for (const auto& path : {a, b}) {
    std::string text = ReadWhole(path);
    ASSERT_FALSE(text.empty()) << path;
    // Without its last line, a file is within the limit: it passes it by one line at most.
    text.pop_back();
    EXPECT_LE(text.rfind('\n') + 1, 512u) << path;
  }
}

TEST_F(DunmirTest, AFifoPlantedAsTheHistoryNeitherHoldsTheServiceNorKeepsItFromStopping) {
  const std::filesystem::path shared = home_.path() / "shared";
  std::filesystem::create_directories(shared);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);  // like /tmp
  ASSERT_EQ(mkfifo((shared / "qvhista.txt").c_str(), 0666), 0);
  AppSettings().SetString("Settings", "histpath", shared.c_str());
  const pid_t pid = testing::SpawnDunmir({"debug"});
  ASSERT_TRUE(WaitFor([&] { return CatchesTerminationSignals(pid); }));
  SendDatagrams({"<13>for the history"});  // which would wait for a reader of the FIFO for ever
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(pid, SIGTERM);
  EXPECT_EQ(testing::WaitForExit(pid, std::chrono::seconds(5)), 0);
}

TEST_F(DunmirTest, SigtermToTheServiceReportsItStoppedBeforeItEnds) {
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  ASSERT_TRUE(CServiceControl().Start());
  ASSERT_TRUE(CServiceControl().IsRunning());
  const pid_t pid = QueryStatus().processId;
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitFor([&] { return CatchesTerminationSignals(pid); }));
  kill(pid, SIGTERM);
  ASSERT_TRUE(WaitFor([&] { return !svc::ProcessIsAlive(pid, 0); }));
  const svc::ServiceStatus status = QueryStatus();
  EXPECT_EQ(status.currentState, svc::kStopped);
  EXPECT_EQ(status.win32ExitCode, 0u);  // not "process aborted": it went through its stop
}

}  // namespace
}  // namespace qv
