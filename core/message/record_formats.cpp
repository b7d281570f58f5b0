#include "core/message/record_formats.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

#include "core/message/line_break_markers.h"
#include "core/message/names.h"
#include "core/message/text_bytes.h"

namespace qv {
namespace {

constexpr std::size_t kMaxHostName = 255;
constexpr std::size_t kMaxAppName = 48;
constexpr std::size_t kMaxProcId = 128;

std::tm BreakDown(int32_t seconds, bool utc) {
  const time_t value = seconds;
  std::tm fields{};
  if ((utc ? gmtime_r(&value, &fields) : localtime_r(&value, &fields)) == nullptr) {
    fields = std::tm{};  // never for a 32-bit time on this platform; the epoch's fields then
    fields.tm_mday = 1;
    fields.tm_year = 70;
  }
  return fields;
}

// The sender's stamp when there is one, else the time received.
int32_t StampOf(const SyslogMessage& message) {
  return message.timeSent != 0 ? message.timeSent : message.timeReceived;
}

const std::string& HostOrAddress(const SyslogMessage& message) {
  return message.hostName.empty() ? message.ipAddress : message.hostName;
}

bool IsPrintableAscii(char c) { return c >= '!' && c <= '~'; }

struct Tag {
  std::string_view app;
  std::string_view procId;
  std::string_view body;
};

// "app: body" or "app[procid]: body" (or the tag alone), such that the RFC 5424 parser joins
// APP-NAME, PROCID and MSG back into exactly the same text.
std::optional<Tag> SplitTag(std::string_view text) {
  const std::size_t appEnd = text.find_first_of("[:");
  if (appEnd == std::string_view::npos || appEnd == 0 || appEnd > kMaxAppName) return std::nullopt;
  Tag tag;
  tag.app = text.substr(0, appEnd);
  std::size_t colon = appEnd;
  if (text[appEnd] == '[') {
    const std::size_t close = text.find(']', appEnd);
    if (close == std::string_view::npos || close == appEnd + 1 || close - appEnd - 1 > kMaxProcId) return std::nullopt;
    tag.procId = text.substr(appEnd + 1, close - appEnd - 1);
    colon = close + 1;
    if (colon >= text.size() || text[colon] != ':') return std::nullopt;
  }
  const auto fits = [](std::string_view part) {
    return part != "-" && std::all_of(part.begin(), part.end(), [](char c) { return IsPrintableAscii(c) && c != '[' && c != ']'; });
  };
  if (!fits(tag.app) || (!tag.procId.empty() && !fits(tag.procId))) return std::nullopt;
  if (colon + 1 < text.size()) {
    if (text[colon + 1] != ' ') return std::nullopt;  // "a:b" is text, not a tag
    tag.body = text.substr(colon + 2);
    if (tag.body.empty()) return std::nullopt;  // "app: " would read back without its blank
  }
  return tag;
}

void AppendJsonString(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    char32_t codePoint = 0;
    if (byte >= 0x80) {
      const std::size_t length = Utf8Sequence(bytes, i, &codePoint);
      if (length > 0) {
        out.append(bytes.substr(i, length));
        i += length;
        continue;
      }
      // Not UTF-8: the byte's Windows-1252 character, itself written as UTF-8 (it is below U+FFFF).
      const char16_t c = Windows1252(byte);
      if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
      } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      }
      out += static_cast<char>(0x80 | (c & 0x3F));
      ++i;
      continue;
    }
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += static_cast<char>(byte);
        }
    }
    ++i;
  }
  out += '"';
}

void AppendCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

RecordFormat SaveToFileFormat(uint32_t actionInt) {
  return actionInt <= static_cast<uint32_t>(RecordFormat::kJsonLines) ? static_cast<RecordFormat>(actionInt)
                                                                       : RecordFormat::kRecordLine;
}

std::string Rfc3339Utc(int32_t seconds) {
  const std::tm t = BreakDown(seconds, true);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string FormatTraditionalLine(const SyslogMessage& message) {
  const std::tm t = BreakDown(StampOf(message), message.timeSent != 0);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%s %2d %02d:%02d:%02d ", kMonthNames[static_cast<std::size_t>(t.tm_mon) % 12],
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  std::string line = stamp;
  const std::string& host = HostOrAddress(message);
  line += host.empty() ? "-" : host;
  line += ' ';
  AppendWithLineBreakMarkers(line, message.message);
  return line;
}

std::string FormatRfc5424Line(const SyslogMessage& message) {
  const int32_t facility = std::clamp(message.facility, 0, kFacilityUnknown);
  std::string line = "<" + std::to_string(facility * 8 + (std::max(message.severity, 0) & 7)) + ">1 ";
  line += Rfc3339Utc(StampOf(message));
  line += ' ';
  const std::string& host = HostOrAddress(message);
  if (host.empty()) {
    line += '-';
  } else {
    for (char c : std::string_view(host).substr(0, kMaxHostName)) line += IsPrintableAscii(c) && c != ',' ? c : '_';
  }
  std::string_view body = message.message;
  if (const auto tag = SplitTag(body)) {
    line += ' ';
    line += tag->app;
    line += ' ';
    line += tag->procId.empty() ? "-" : tag->procId;
    body = tag->body;
  } else {
    line += " - -";
  }
  line += " - -";
  if (!body.empty()) {
    line += ' ';
    AppendWithLineBreakMarkers(line, body);
  }
  return line;
}

std::string FormatJsonLine(const SyslogMessage& message) {
  std::string line = "{\"received\":\"" + Rfc3339Utc(message.timeReceived) + "\",\"sent\":";
  line += message.timeSent != 0 ? "\"" + Rfc3339Utc(message.timeSent) + "\"" : std::string("null");
  line += ",\"host\":";
  AppendJsonString(line, message.hostName);
  line += ",\"address\":";
  AppendJsonString(line, message.ipAddress);
  line += ",\"port\":" + std::to_string(message.senderPort);
  line += ",\"facility\":" + std::to_string(message.facility);
  line += ",\"facility_name\":\"";
  line += FacilityName(message.facility);
  line += "\",\"severity\":" + std::to_string(message.severity);
  line += ",\"severity_name\":\"";
  line += SeverityName(message.severity);
  line += "\",\"message\":";
  AppendJsonString(line, message.message);
  line += '}';
  return line;
}

std::string FormatCsvLine(const SyslogMessage& message) {
  std::string line = Rfc3339Utc(message.timeReceived) + ',';
  if (message.timeSent != 0) line += Rfc3339Utc(message.timeSent);
  line += ',';
  AppendCsvField(line, message.hostName);
  line += ',';
  AppendCsvField(line, message.ipAddress);
  line += ',' + std::to_string(message.senderPort) + ',' + std::to_string(message.facility) + ',';
  line += FacilityName(message.facility);
  line += ',' + std::to_string(message.severity) + ',';
  line += SeverityName(message.severity);
  line += ',';
  AppendCsvField(line, message.message);
  return line;
}

std::string FormatFileLine(const SyslogMessage& message, RecordFormat format) {
  switch (format) {
    case RecordFormat::kRecordLine: return message.FormatRecordLine();
    case RecordFormat::kTraditional: return FormatTraditionalLine(message) + '\n';
    case RecordFormat::kRfc5424: return FormatRfc5424Line(message) + '\n';
    case RecordFormat::kJsonLines: return FormatJsonLine(message) + '\n';
    case RecordFormat::kCsv: return FormatCsvLine(message) + "\r\n";
    case RecordFormat::kSyslogLine: return message.FormatSyslogLine() + '\n';
  }
  return message.FormatRecordLine();
}

std::string FileHeader(RecordFormat format) {
  return format == RecordFormat::kCsv ? std::string(kCsvHeader) + "\r\n" : std::string();
}

}  // namespace qv
