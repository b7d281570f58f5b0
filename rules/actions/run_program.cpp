#include "rules/actions/run_program.h"

#include <cerrno>
#include <string>
#include <vector>

#include "platform/process/command_line.h"
#include "platform/process/process_starter.h"
#include "rules/actions/substitute_macros.h"

namespace qv {

CRuleProgramStarter::CRuleProgramStarter(int limit) : limit_(limit) {}

int CRuleProgramStarter::Run(std::string_view commandText, const SyslogMessage& message) {
  std::vector<std::string> words = SplitCommandLine(commandText);
  if (words.empty()) return EINVAL;
  if (running_->load() >= limit_) return EAGAIN;
  for (std::string& word : words) word = SubstituteMacros(word, message, false);
  ++*running_;
  const int error = StartProcess(words, nullptr, [running = running_] { --*running; });
  if (error != 0) --*running_;
  return error;
}

}  // namespace qv
