#include "rules/actions/run_program.h"

#include <cerrno>
#include <string>
#include <vector>

#include "platform/process/command_line.h"
#include "platform/process/process_starter.h"
#include "rules/actions/substitute_macros.h"

namespace qv {

int RunProgram(std::string_view commandText, const SyslogMessage& message) {
  std::vector<std::string> words = SplitCommandLine(commandText);
  if (words.empty()) return EINVAL;
  for (std::string& word : words) word = SubstituteMacros(word, message, false);
  return StartProcess(words);
}

}  // namespace qv
