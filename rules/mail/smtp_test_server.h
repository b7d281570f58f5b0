#pragma once
// For tests: one of the SMTP servers of smtp_test_server.py, started on 127.0.0.1 at a port the
// system picks, with its records in a folder of its own. The server is ended by its process id
// when the object goes; it also ends by itself after a minute.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qv::testing {

class SmtpTestServer {
 public:
  // `mode` is "smtpd" (a real server), "tls" (the same inside TLS from the first byte), "refuse" (errors only), "split" (a greeting in two
  // chunks, then 250 to everything), "trickle" (a byte of greeting every 0.2 s, no line end) or
  // "slow" (connection after connection, each reply after 0.1 s). `folder` must exist and be
  // empty. `port` 0 lets the system pick one. `options` are the script's further options
  // (--cert, --key, --user, --password, --only).
  SmtpTestServer(const std::string& mode, const std::filesystem::path& folder, uint16_t port = 0,
                 const std::vector<std::string>& options = {})
      : folder_(folder) {
    std::vector<std::string> words = {"/usr/bin/python3", QV_SMTP_TEST_SERVER_SCRIPT, mode, folder.string(),
                                      std::to_string(port)};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (pid_ > 0 && port_ == 0 && std::chrono::steady_clock::now() < deadline) {
      const std::string text = Read("port");
      if (!text.empty()) port_ = static_cast<uint16_t>(std::stoi(text));
      else std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~SmtpTestServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  SmtpTestServer(const SmtpTestServer&) = delete;
  SmtpTestServer& operator=(const SmtpTestServer&) = delete;

  // 0 when the server did not start.
  uint16_t port() const { return port_; }

  // The command lines received, each with its line end.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const std::string all = Read("lines");
    for (std::size_t from = 0; from < all.size();) {
      const std::size_t end = all.find('\n', from);
      const std::size_t next = end == std::string::npos ? all.size() : end + 1;
      lines.push_back(all.substr(from, next - from));
      from = next;
    }
    return lines;
  }

  // The n-th delivered mail (from 1): envelope sender, recipients and data, a line each.
  std::string Mail(int n) const { return Read("mail-" + std::to_string(n)); }

 private:
  std::string Read(const std::string& name) const {
    std::ifstream in(folder_ / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path folder_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

}  // namespace qv::testing
