#pragma once
// The "Run Program" action: starts a program named in a command text, with macros replaced.
//
// The text is split into words first (spaces and tabs separate words, double quotes group them;
// see platform/process/command_line.h), then the macros are replaced inside each word, then the
// first word is started by name on the search path with the others as its arguments. No shell
// is involved, so whatever a message holds (quotes, ";", "$(...)", line ends) stays inside the
// argument its macro was written in: `notify "$hostname: $msg"` always gives two arguments.
//
// The programs rules start are counted while they run, and no more than a limit run at once: a
// burst of matching messages must not fill the machine with processes (each also holds a
// descriptor of the process that started it while it runs).

#include <atomic>
#include <memory>
#include <string_view>

#include "core/message/syslog_message.h"

namespace qv {

inline constexpr int kMaxRunningRulePrograms = 64;

// Starts programs for rules, at most `limit` running at once. Safe to use from one thread; the
// count is kept up to date by the process's child reaper.
class CRuleProgramStarter {
 public:
  explicit CRuleProgramStarter(int limit = kMaxRunningRulePrograms);

  // Starts the program and returns at once; nothing waits for it. Returns 0 when it was started,
  // EAGAIN when `limit` programs started here are still running (nothing is started), else the
  // errno value of the failure (EINVAL for a text without words, ENOENT for a program not on the
  // search path).
  int Run(std::string_view commandText, const SyslogMessage& message);

  int Running() const { return running_->load(); }
  int Limit() const { return limit_; }

 private:
  int limit_;
  // Shared with the reaper's exit callbacks, which may come after this object is gone.
  std::shared_ptr<std::atomic<int>> running_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace qv
