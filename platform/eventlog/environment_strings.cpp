#include "platform/eventlog/environment_strings.h"

#include <cstdlib>

namespace qv::evt {

std::string ExpandEnvironmentStrings(std::string_view text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find('%', pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text.substr(pos, open - pos));
    const std::string name(text.substr(open + 1, close - open - 1));
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value != nullptr) {
      out += value;
    } else {
      out.append(text.substr(open, close - open + 1));  // "%%" or an unset name stays
    }
    pos = close + 1;
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace qv::evt
