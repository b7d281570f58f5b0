#include "platform/telephony/provider/spool_format.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/telephony/tapi.h"

namespace qv::simtapi {
namespace {

using namespace tapi;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// Calls `handle(key, value)` for every "key=value" line, the key in lower case.
template <typename Handler>
void ForEachSetting(std::string_view text, Handler handle) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    handle(Lower(Trim(line.substr(0, equals))), Trim(line.substr(equals + 1)));
  }
}

// Each word of `text` (separated by commas, spaces or "|") looked up in `names`.
template <std::size_t N>
uint32_t ParseFlags(std::string_view text, const std::pair<const char*, uint32_t> (&names)[N]) {
  uint32_t flags = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(", \t|", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string word = Lower(text.substr(start, end - start));
    for (const auto& [name, flag] : names) {
      if (word == name) flags |= flag;
    }
    start = end + 1;
  }
  return flags;
}

constexpr std::pair<const char*, uint32_t> kPartyFlags[] = {
    {"blocked", LINECALLPARTYID_BLOCKED}, {"outofarea", LINECALLPARTYID_OUTOFAREA},
    {"name", LINECALLPARTYID_NAME},       {"address", LINECALLPARTYID_ADDRESS},
    {"partial", LINECALLPARTYID_PARTIAL}, {"unknown", LINECALLPARTYID_UNKNOWN},
    {"unavail", LINECALLPARTYID_UNAVAIL}, {"none", 0}};

constexpr std::pair<const char*, uint32_t> kMediaModes[] = {{"unknown", LINEMEDIAMODE_UNKNOWN},
                                                            {"voice", LINEMEDIAMODE_INTERACTIVEVOICE},
                                                            {"automatedvoice", LINEMEDIAMODE_AUTOMATEDVOICE},
                                                            {"datamodem", LINEMEDIAMODE_DATAMODEM},
                                                            {"fax", LINEMEDIAMODE_G3FAX}};

std::optional<uint32_t> ParseVersion(std::string_view text) {
  text = Trim(text);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

SpoolLine ParseSpoolLine(const std::string& id, std::string_view text) {
  SpoolLine line{id, id, LINEMEDIAMODE_DATAMODEM, 0x00010003, 0x00020002};
  ForEachSetting(text, [&](const std::string& key, std::string_view value) {
    if (key == "name" && !value.empty()) {
      line.name = value;
    } else if (key == "media") {
      line.mediaModes = ParseFlags(value, kMediaModes);
    } else if (key == "versions") {
      const std::size_t dash = value.find('-');
      const auto low = ParseVersion(value.substr(0, dash));
      const auto high = dash == std::string_view::npos ? low : ParseVersion(value.substr(dash + 1));
      if (low && high && *low <= *high) {
        line.lowVersion = *low;
        line.highVersion = *high;
      }
    }
  });
  return line;
}

SpoolCall ParseSpoolCall(std::string_view text) {
  SpoolCall call;
  std::optional<uint32_t> callerFlags;
  std::optional<uint32_t> calledFlags;
  ForEachSetting(text, [&](const std::string& key, std::string_view value) {
    if (key == "line") call.line = value;
    if (key == "direction") call.outbound = Lower(value) == "out";
    if (key == "caller") call.callerId = value;
    if (key == "callername") call.callerName = value;
    if (key == "callerflags") callerFlags = ParseFlags(value, kPartyFlags);
    if (key == "called") call.calledId = value;
    if (key == "calledflags") calledFlags = ParseFlags(value, kPartyFlags);
    if (key == "app") call.appName = value;
    if (key == "duration") {
      int64_t seconds = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (error == std::errc() && end == value.data() + value.size() && seconds >= 0) call.durationSeconds = seconds;
    }
  });
  call.callerFlags = callerFlags.value_or(call.callerId.empty() ? 0 : LINECALLPARTYID_ADDRESS);
  call.calledFlags = calledFlags.value_or(call.calledId.empty() ? 0 : LINECALLPARTYID_ADDRESS);
  return call;
}

std::optional<std::string> ReadSpoolFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxSpoolFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  const auto got = static_cast<std::size_t>(in.gcount());
  if (got > kMaxSpoolFileBytes || in.bad()) return std::nullopt;
  text.resize(got);
  return text;
}

std::vector<SpoolLine> ReadSpoolLines(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.empty() && name.front() != '.' && entry.is_regular_file(error)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<SpoolLine> lines;
  for (const std::string& name : names) {
    if (const auto text = ReadSpoolFile(folder + "/" + name)) lines.push_back(ParseSpoolLine(name, *text));
  }
  return lines;
}

}  // namespace qv::simtapi
