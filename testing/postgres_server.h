#pragma once
// A PostgreSQL server of the test's own: a fresh cluster in a temporary folder that listens
// only on a Unix socket there, started and stopped by the test. Tests skip when the server
// binaries or the ODBC driver are not installed.

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace qv::testing {

class PostgresServer {
 public:
  explicit PostgresServer(const std::filesystem::path& folder) : dir_(folder / "pg") {
    std::error_code absent;  // no server installed: not available
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", absent)) {
      if (std::filesystem::exists(entry.path() / "bin" / "initdb")) bin_ = (entry.path() / "bin").string();
    }
  }
  ~PostgresServer() {
    if (started_) Run(bin_ + "/pg_ctl -D " + dir_.string() + " -m immediate -w stop");
  }

  bool available() const { return !bin_.empty(); }

  // Whether unixODBC knows the driver that ConnectString names.
  static bool DriverRegistered() {
    std::ifstream drivers("/etc/odbcinst.ini");
    for (std::string line; std::getline(drivers, line);) {
      if (line == "[PostgreSQL Unicode]") return true;
    }
    return false;
  }

  bool Start() {
    std::filesystem::create_directories(dir_);
    // The server refuses to run as root; it runs as the "postgres" account then.
    if (geteuid() == 0) {
      if (std::system(("chown postgres " + dir_.string() + " 2>/dev/null").c_str()) != 0) return false;
      // That account must pass through the test's private folder to reach its own.
      std::filesystem::permissions(dir_.parent_path(), std::filesystem::perms::others_exec,
                                   std::filesystem::perm_options::add);
      asUser_ = "runuser -u postgres -- ";
    }
    if (!Run(bin_ + "/initdb -D " + dir_.string() + " -U postgres --auth=trust --no-sync -E UTF8")) return false;
    started_ = Run(bin_ + "/pg_ctl -D " + dir_.string() + " -l " + dir_.string() + "/log -w -t 60 -o \"-p " +
                   std::to_string(kPort) + " -k " + dir_.string() + " -c listen_addresses=''\" start");
    return started_;
  }

  std::string ConnectString() const {
    return "ODBC;Driver=PostgreSQL Unicode;Servername=" + dir_.string() + ";Port=" + std::to_string(kPort) +
           ";Database=postgres;Username=postgres;";
  }

  std::string Query(const std::string& sql) const {
    const std::string command = asUser_ + bin_ + "/psql -h " + dir_.string() + " -p " + std::to_string(kPort) +
                                " -U postgres -At -c \"" + sql + "\" postgres 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    std::array<char, 256> buffer{};
    while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
    if (pipe != nullptr) pclose(pipe);
    return output;
  }

 private:
  static constexpr int kPort = 54329;  // names the socket file only; nothing listens on TCP

  bool Run(const std::string& command) const {
    return std::system((asUser_ + command + " >/dev/null 2>&1").c_str()) == 0;
  }

  std::filesystem::path dir_;
  std::string bin_;
  std::string asUser_;
  bool started_ = false;
};

}  // namespace qv::testing
