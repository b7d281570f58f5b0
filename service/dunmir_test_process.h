#pragma once
// Runs the dunmir program for tests (DUNMIR_PATH is defined by the test's build rule): to the
// end, or in the background until the test signals it. Output goes to /dev/null, except
// standard error where a test reads it.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/message/syslog_message.h"
#include "testing/temp_home.h"

namespace qv::testing {

// The messages of the records in both history files of `home`, oldest file first.
inline std::vector<std::string> HistoryMessages(const TempHome& home) {
  std::vector<std::string> messages;
  for (const char* name : {"qvhistb.txt", "qvhista.txt"}) {
    std::ifstream file(home.file(name));
    for (std::string line; std::getline(file, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      SyslogMessage record;
      record.ReadRecordLine(line);
      messages.push_back(record.message);
    }
  }
  return messages;
}

// Starts dunmir with `arguments`; returns its process id.
inline pid_t SpawnDunmir(const std::vector<std::string>& arguments) {
  std::vector<std::string> words{DUNMIR_PATH};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// The exit code of a child, or nothing when it did not end normally within `limit` (it is then
// killed and reaped).
inline std::optional<int> WaitForExit(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

inline std::optional<int> RunDunmir(const std::vector<std::string>& arguments) {
  return WaitForExit(SpawnDunmir(arguments));
}

// The exit code of `dunmir <arguments>` (-1 when it did not end normally) and what it wrote to
// standard error.
inline std::pair<int, std::string> RunDunmirForErrors(const std::string& arguments) {
  const std::string command = std::string(DUNMIR_PATH) + " " + arguments + " 2>&1 >/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char chunk[512];
  while (pipe != nullptr && std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace qv::testing
