#include "core/message/syslog_message.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <climits>
#include <initializer_list>
#include <ctime>
#include <optional>
#include <utility>

#include "core/message/line_break_markers.h"
#include "core/message/names.h"
#include "core/message/time_conversions.h"

namespace qv {
namespace {

constexpr int32_t kHighestPriority = 199;  // facility 24; above it no facility is known
constexpr std::size_t kMonthWordLimit = 15;  // month and host words of a syslog time stamp are
constexpr std::size_t kHostWordLimit = 63;   // read into buffers of 16 and 64 characters

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a text the way the C library's formatted input does for the directives the syslog
// patterns use; each call consumes what it matched and fails without a partial match counting.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool Literal(char c) {
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  // A white-space directive: any amount of white space, including none.
  void Spaces() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  }

  // %d with an optional field width (which counts the sign). Out-of-range values saturate.
  bool Integer(int32_t* value, std::size_t width = SIZE_MAX) {
    Spaces();
    std::size_t end = pos_;
    const std::size_t limit = width == SIZE_MAX ? text_.size() : std::min(text_.size(), pos_ + width);
    bool negative = false;
    if (end < limit && (text_[end] == '+' || text_[end] == '-')) negative = text_[end++] == '-';
    int64_t number = 0;
    const std::size_t digitsStart = end;
    for (; end < limit && IsDigit(text_[end]); ++end) {
      if (number <= INT32_MAX) number = number * 10 + (text_[end] - '0');
    }
    if (end == digitsStart) return false;
    if (negative) number = -number;
    *value = static_cast<int32_t>(std::clamp<int64_t>(number, INT32_MIN, INT32_MAX));
    pos_ = end;
    return true;
  }

  // %s: a word of at least one character that is not white space.
  bool Word(std::string_view* word) {
    Spaces();
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !IsSpace(text_[pos_])) ++pos_;
    *word = text_.substr(start, pos_ - start);
    return pos_ > start;
  }

  // %[^\n]: at least one character up to a line feed.
  bool RestOfLine(std::string_view* rest) {
    const std::size_t end = std::min(text_.find('\n', pos_), text_.size());
    if (end == pos_) return false;
    *rest = text_.substr(pos_, end - pos_);
    pos_ = end;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

struct Rfc3164Fields {
  int32_t priority = 0;
  int month = 0;
  int32_t day = 0, hour = 0, minute = 0, second = 0;
  std::string_view host;
  std::string_view message;
};

// "<%d>%s %2d %02d:%02d:%02d %s %[^\n]". A month word that names no month, a month or host
// word longer than its buffer, or a host word holding a comma (which would shift the fields of
// the record line it is stored in), makes the datagram fall back to the "<PRI>text" form, which
// keeps every character.
bool ScanRfc3164(std::string_view text, Rfc3164Fields* out) {
  Scanner scan(text);
  std::string_view monthWord;
  if (!(scan.Literal('<') && scan.Integer(&out->priority) && scan.Literal('>') && scan.Word(&monthWord))) return false;
  scan.Spaces();
  if (!(scan.Integer(&out->day, 2))) return false;
  scan.Spaces();
  if (!(scan.Integer(&out->hour, 2) && scan.Literal(':') && scan.Integer(&out->minute, 2) && scan.Literal(':') &&
        scan.Integer(&out->second, 2))) {
    return false;
  }
  scan.Spaces();
  if (!scan.Word(&out->host)) return false;
  scan.Spaces();
  if (!scan.RestOfLine(&out->message)) return false;
  // The month last: most texts that are no classic header fail sooner, and cheaper.
  const auto month = MonthIndex(monthWord);
  if (!month || monthWord.size() > kMonthWordLimit) return false;
  out->month = *month;
  return out->host.size() <= kHostWordLimit && out->host.find(',') == std::string_view::npos;
}

// A priority of four digits or more ("<1011>", "<3500000000>") is none that a sender meant:
// what follows it is not read as a header.
bool HasLongPriority(std::string_view text) {
  std::size_t at = 1;
  while (at < text.size() && IsSpace(text[at])) ++at;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  const std::size_t digits = at;
  while (at < text.size() && IsDigit(text[at])) ++at;
  return at - digits >= 4;
}

// "<%d>%[^\n]".
bool ScanPriorityForm(std::string_view text, int32_t* priority, std::string_view* rest) {
  Scanner scan(text);
  return scan.Literal('<') && scan.Integer(priority) && scan.Literal('>') && scan.RestOfLine(rest);
}

// The header forms read before the classic one: RFC 5424, then the lenient RFC 3164 variants
// where the classic scan failed or took something else for the host word.
std::optional<SyslogHeader> ReadModernHeader(std::string_view text, const Rfc3164Fields* classic,
                                             const ParseOptions& options) {
  if (options.rfc5424) {
    if (auto header = ParseRfc5424Header(text, options)) return header;
  }
  if (options.lenient && (classic == nullptr || LooksMisreadAsHost(classic->host, classic->message))) {
    return ParseLenientHeader(text);
  }
  return std::nullopt;
}

// The standard library's atoi/atol on a field that is not zero-terminated: leading white
// space, a sign, digits up to the first other character; 0 when there are none.
int32_t FieldNumber(std::string_view field) {
  Scanner scan(field);
  int32_t value = 0;
  return scan.Integer(&value) ? value : 0;
}

void AppendNumber(std::string& out, int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

}  // namespace

SyslogMessage MakeLocalRecord(std::string_view text, int32_t severity, std::string_view sourceAddress) {
  SyslogMessage record;
  record.severity = severity;
  record.hostName = sourceAddress == "127.0.0.1" ? "localhost" : "";
  record.ipAddress = sourceAddress;
  record.facility = kFacilitySyslog;
  record.timeSent = record.timeReceived = static_cast<int32_t>(std::time(nullptr));
  record.senderPort = 514;
  record.message = text;
  return record;
}

void SyslogMessage::ParseDatagram(std::string_view senderAddress, int32_t port, std::string_view text,
                                  const ParseOptions& options) {
  text = text.substr(0, text.find('\0'));
  const bool plain = text.empty() || text.front() != '<';
  timeReceived = static_cast<int32_t>(std::time(nullptr));
  timeSent = 0;
  int32_t priority = kPlainPriority;
  Rfc3164Fields fields;
  std::string_view rest;
  const bool headerForms = !plain && !HasLongPriority(text);
  const bool classic = headerForms && ScanRfc3164(text, &fields);
  std::optional<SyslogHeader> modern;
  if (headerForms) {
    modern = ReadModernHeader(text, classic ? &fields : nullptr, options);
  } else if (plain && options.lenient) {
    modern = ParseLenientHeader(text);  // a full header without its priority
  }
  if (modern) {
    priority = modern->priority;
    message = std::move(modern->message);
    hostName = std::move(modern->hostName);
    if (modern->timeSent) timeSent = *modern->timeSent;
    if (modern->bsd) timeSent = BsdStampSeconds(*modern->bsd, timeReceived, options.yearFix);
  } else if (classic) {
    priority = fields.priority;
    message.assign(fields.message);
    hostName.assign(fields.host);
    const BsdStamp stamp{0, fields.month, fields.day, fields.hour, fields.minute, fields.second};
    timeSent = BsdStampSeconds(stamp, timeReceived, options.yearFix);
  } else if (!plain && ScanPriorityForm(text, &priority, &rest)) {
    message.assign(rest);
    hostName.clear();
  } else {
    priority = kPlainPriority;
    message.assign(text);
    hostName.clear();
  }

  if (priority > kHighestPriority) {
    // No facility is known, and no severity was meant: debug, so that garbage raises no alarm.
    facility = kFacilityUnknown;
    severity = 7;
  } else {
    facility = priority < 0 ? 0 : priority >> 3;
    severity = priority & 7;
  }
  ipAddress.assign(senderAddress);
  senderPort = port;
  highlighted = false;
}

void SyslogMessage::ParseFileLine(std::string_view line) {
  if (!line.empty() && line.front() == '<') {
    ParseDatagram("Unknown", 0, line);
  } else {
    ReadRecordLine(line);
  }
}

void SyslogMessage::ReadRecordLine(std::string_view line) {
  std::size_t comma = line.find(',');
  if (comma == std::string_view::npos) return;
  highlighted = FieldNumber(line.substr(0, comma)) != 0;
  for (int field = 2; field <= 8; ++field) {
    const std::size_t next = line.find(',', comma + 1);
    if (next == std::string_view::npos) return;
    const std::string_view value = line.substr(comma + 1, next - comma - 1);
    switch (field) {
      case 2: facility = std::max(FieldNumber(value), 0); break;
      case 3: hostName.assign(value); break;
      case 4: ipAddress.assign(value); break;
      case 5: senderPort = FieldNumber(value); break;
      case 6: severity = FieldNumber(value) & 7; break;
      case 7: timeReceived = FieldNumber(value); break;
      case 8: timeSent = FieldNumber(value); break;
      default: break;
    }
    comma = next;
  }
  // Between the opening quote after the eighth comma and the closing quote at the end.
  const std::size_t start = comma + 2;
  message.assign(start < line.size() ? line.substr(start, line.size() - 1 - start) : std::string_view());
}

std::string SyslogMessage::FormatRecordLine() const {
  std::string line;
  line.reserve(48 + hostName.size() + ipAddress.size() + message.size());
  line += highlighted ? '1' : '0';
  line += ',';
  AppendNumber(line, facility);
  line += ',';
  AppendWithLineBreakMarkers(line, hostName);
  line += ',';
  AppendWithLineBreakMarkers(line, ipAddress);
  line += ',';
  for (const int32_t number : {senderPort, severity, timeReceived, timeSent}) {
    AppendNumber(line, number);
    line += ',';
  }
  line += '"';
  AppendWithLineBreakMarkers(line, message);
  line += "\"\r\n";
  return line;
}

}  // namespace qv
