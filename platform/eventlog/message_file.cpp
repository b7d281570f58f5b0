#include "platform/eventlog/message_file.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/paths/data_root.h"

namespace qv::evt {
namespace {

constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;
constexpr std::size_t kMaxInsertWidth = 4096;

constexpr std::string_view kOwnMessageFileName = "qvmsg.txt";
constexpr std::string_view kOwnMessageFileText =
    "; Messages of Quorvel's own event source \"quorvel\": each event carries its whole text as\n"
    "; its one insertion string.\n"
    "MessageId=0\n"
    "%1%0\n"
    ".\n";

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool StartsWithKeyword(std::string_view line, std::string_view keyword) {
  line = Trim(line);
  if (line.size() <= keyword.size()) return false;
  for (std::size_t i = 0; i < keyword.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(keyword[i]))) {
      return false;
    }
  }
  const std::string_view rest = Trim(line.substr(keyword.size()));
  return !rest.empty() && rest.front() == '=';
}

std::string_view ValueOf(std::string_view line) { return Trim(line.substr(line.find('=') + 1)); }

// Applies a printf-style string specification ("-10s", ".3s") to `arg`; false when `spec` is
// not one.
bool ApplySpec(std::string_view spec, const std::string& arg, std::string& out) {
  if (spec.empty() || (spec.back() != 's' && spec.back() != 'S')) return false;
  spec.remove_suffix(1);
  bool left = false;
  while (!spec.empty() && std::string_view("-+ #0").find(spec.front()) != std::string_view::npos) {
    left = left || spec.front() == '-';
    spec.remove_prefix(1);
  }
  const auto number = [&spec]() {
    std::size_t value = 0;
    while (!spec.empty() && std::isdigit(static_cast<unsigned char>(spec.front()))) {
      value = std::min(kMaxInsertWidth, value * 10 + static_cast<std::size_t>(spec.front() - '0'));
      spec.remove_prefix(1);
    }
    return value;
  };
  const std::size_t width = number();
  std::size_t precision = std::string::npos;
  if (!spec.empty() && spec.front() == '.') {
    spec.remove_prefix(1);
    precision = number();
  }
  if (!spec.empty()) return false;
  const std::string text = arg.substr(0, precision);
  const std::string padding(width > text.size() ? width - text.size() : 0, ' ');
  out += left ? text + padding : padding + text;
  return true;
}

}  // namespace

std::optional<CMessageFile> CMessageFile::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) return std::nullopt;
  }
  return Parse(text);
}

CMessageFile CMessageFile::Parse(std::string_view text) {
  enum class State { kOutside, kHeader, kText } state = State::kOutside;
  CMessageFile file;
  std::optional<uint32_t> id;  // of the message being read; empty when it is to be dropped
  std::optional<uint32_t> previous;
  std::string body;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (state == State::kOutside) {
      if (!StartsWithKeyword(line, "MessageId")) continue;
      const std::string_view value = ValueOf(line);
      if (value.empty()) {
        id = previous ? std::optional<uint32_t>(*previous + 1) : std::optional<uint32_t>(0);
      } else {
        id = ParseNumber(value);
      }
      body.clear();
      state = State::kHeader;
      continue;
    }
    if (state == State::kHeader) {
      if (StartsWithKeyword(line, "Severity") || StartsWithKeyword(line, "Facility") ||
          StartsWithKeyword(line, "SymbolicName") || StartsWithKeyword(line, "Language")) {
        continue;
      }
      state = State::kText;
    }
    if (line == ".") {
      if (id) {
        file.messages_[*id] = body;
        previous = id;
      }
      state = State::kOutside;
    } else {
      body.append(line);
      body.append("\r\n");
    }
  }
  return file;
}

const std::string* CMessageFile::Find(uint32_t id) const {
  const auto found = messages_.find(id);
  return found == messages_.end() ? nullptr : &found->second;
}

std::string FormatMessage(std::string_view text, const std::vector<std::string>& args) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 1 == text.size()) {
      out += '%';
      break;
    }
    const char next = text[i + 1];
    if (next >= '1' && next <= '9') {
      std::size_t j = i + 1;
      std::size_t number = 0;
      while (j < text.size() && j < i + 3 && std::isdigit(static_cast<unsigned char>(text[j]))) {
        number = number * 10 + static_cast<std::size_t>(text[j] - '0');
        ++j;
      }
      std::string_view spec;
      if (j < text.size() && text[j] == '!') {
        const std::size_t close = text.find('!', j + 1);
        if (close != std::string_view::npos) {
          spec = text.substr(j + 1, close - j - 1);
          j = close + 1;
        }
      }
      if (number <= args.size()) {
        const std::string& arg = args[number - 1];
        if (!ApplySpec(spec, arg, out)) out += arg;
      } else {
        out.append(text.substr(i, j - i));
      }
      i = j - 1;
      continue;
    }
    ++i;
    switch (next) {
      case '0': return out;
      case 'n': out += "\r\n"; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case '%':
      case '.':
      case '!':
      case ' ': out += next; break;
      default: out += '%'; out += next; break;
    }
  }
  return out;
}

std::optional<std::string> FormatEventMessage(const CMessageFile& file, uint32_t eventId,
                                              const std::vector<std::string>& strings) {
  const std::string* text = file.Find(eventId);
  if (text == nullptr) return std::nullopt;
  std::vector<std::string> args;
  args.reserve(strings.size());
  for (const std::string& string : strings) {
    std::optional<uint32_t> parameter;
    if (string.size() > 2 && string.compare(0, 2, "%%") == 0) {
      const std::size_t digits = string.find_first_not_of("0123456789", 2);
      parameter = ParseNumber(std::string_view(string).substr(2, digits == std::string::npos ? digits : digits - 2));
    }
    const std::string* looked = parameter ? file.Find(*parameter) : nullptr;
    args.push_back(looked != nullptr ? FormatMessage(*looked, {}) : string);
  }
  return FormatMessage(*text, args);
}

std::string OwnMessageFilePath() { return DataPath(std::string(kOwnMessageFileName)); }

bool InstallOwnMessageFile() {
  if (!EnsureDataRoot()) return false;
  const std::string path = OwnMessageFilePath();
  {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream current;
    current << in.rdbuf();
    if (in && current.str() == kOwnMessageFileText) return true;
  }
  const std::string temporary = path + "." + std::to_string(getpid()) + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << kOwnMessageFileText;
    if (!out.flush()) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

std::optional<uint32_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace qv::evt
