#include "core/message/syslog_header.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>

#include "core/message/header_cursor.h"
#include "core/message/names.h"
#include "core/message/time_conversions.h"
#include "core/settings/settings_store.h"

namespace qv {
namespace {

using header::Cursor;
using header::IsDigit;

constexpr std::size_t kHostWordLimit = 63;  // as the classic form's host buffer of 64 characters
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::optional<int32_t> FitSeconds(int64_t seconds) {
  if (seconds < INT32_MIN || seconds > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(seconds);
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int64_t year, int64_t month) {
  constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return kDays[static_cast<std::size_t>(month - 1)] + (month == 2 && IsLeapYear(static_cast<int>(year)) ? 1 : 0);
}

// "<" 1-3 digits ">".
std::optional<int32_t> ReadPriority(Cursor& at) {
  const std::size_t start = at.position();
  std::optional<int64_t> value;
  if (at.Literal('<') && (value = at.Digits(1, 3)) && at.Literal('>')) return static_cast<int32_t>(*value);
  at.Restore(start);
  return std::nullopt;
}

// ".digits", dropped: times are whole seconds. At most `most` digits, or any number.
void SkipFraction(Cursor& at, std::size_t most) {
  const std::size_t start = at.position();
  if (!at.Literal('.')) return;
  const std::size_t count = at.SkipDigits();
  if (count == 0 || count > most) at.Restore(start);
}

// "hh:mm:ss" with two digits each, in range (a leap second 60 allowed).
bool ReadClock(Cursor& at, BsdStamp& stamp, std::size_t leastDigits) {
  const std::size_t start = at.position();
  std::optional<int64_t> hour, minute, second;
  if ((hour = at.Digits(leastDigits, 2)) && at.Literal(':') && (minute = at.Digits(2, 2)) && at.Literal(':') &&
      (second = at.Digits(2, 2)) && *hour <= 23 && *minute <= 59 && *second <= 60) {
    stamp.hour = static_cast<int>(*hour);
    stamp.minute = static_cast<int>(*minute);
    stamp.second = static_cast<int>(*second);
    return true;
  }
  at.Restore(start);
  return false;
}

// How far an RFC 3339 stamp may stray from the grammar.
struct Rfc3339Leniency {
  bool anyFraction = false;  // more than nine fraction digits
  bool noOffset = false;     // no "Z" or offset: read as UTC, like the BSD stamps
  bool blankForT = false;    // "2006-11-10 10:43:21"
};

// "YYYY-MM-DDThh:mm:ss[.frac](Z|+hh:mm|-hh:mm)" as UTC seconds; nullopt when malformed.
std::optional<int64_t> ReadRfc3339(Cursor& at, const Rfc3339Leniency& leniency) {
  const std::size_t start = at.position();
  BsdStamp fields;
  std::optional<int64_t> year, month, day;
  const bool date = (year = at.Digits(4, 4)) && at.Literal('-') && (month = at.Digits(2, 2)) && at.Literal('-') &&
                    (day = at.Digits(2, 2)) && *month >= 1 && *month <= 12 && *day >= 1 &&
                    *day <= DaysInMonth(*year, *month);
  if (!(date && (at.Literal('T') || at.Literal('t') || (leniency.blankForT && at.Literal(' '))) &&
        ReadClock(at, fields, 2))) {
    at.Restore(start);
    return std::nullopt;
  }
  SkipFraction(at, leniency.anyFraction ? SIZE_MAX : 9);
  int64_t offset = 0;
  if (!(at.Literal('Z') || at.Literal('z'))) {
    const std::size_t offsetStart = at.position();
    const char sign = at.Peek();
    std::optional<int64_t> hours, minutes;
    if ((at.Literal('+') || at.Literal('-')) && (hours = at.Digits(2, 2)) && at.Literal(':') &&
        (minutes = at.Digits(2, 2)) && *hours <= 23 && *minutes <= 59) {
      offset = (*hours * 60 + *minutes) * 60 * (sign == '-' ? -1 : 1);
    } else if (leniency.noOffset) {
      at.Restore(offsetStart);
    } else {
      at.Restore(start);
      return std::nullopt;
    }
  }
  const int64_t local = DaysFromCivil(*year, *month, *day) * 86400 + fields.hour * 3600 + fields.minute * 60 +
                        fields.second;
  return local - offset;
}

// "yyyy" of a year from 1970 on, followed by a blank or the end ("2001:db8::1" is a host).
std::optional<int> ReadYear(Cursor& at) {
  const std::size_t start = at.position();
  const auto year = at.Digits(4, 4);
  if (year && *year >= 1970 && (at.AtEnd() || at.Peek() == ' ')) return static_cast<int>(*year);
  at.Restore(start);
  return std::nullopt;
}

// "Mmm dd [yyyy ]hh:mm:ss[.fff][ yyyy]" with a month name in any case and the day padded by a
// space or a zero. A year after the clock is what Linksys and some firewalls send.
// Fills `stamp` only where it succeeds.
bool ReadBsdStamp(Cursor& at, BsdStamp& stamp) {
  const std::size_t start = at.position();
  const std::string_view rest = at.Rest();
  if (rest.size() < 4 || rest[3] != ' ') return false;
  const auto month = MonthIndex(rest);
  if (!month) return false;
  stamp.month = *month;
  at.Restore(start + 3);
  at.Spaces();
  const auto day = at.Digits(1, 2);
  if (!(day && *day >= 1 && *day <= 31 && at.Spaces())) {
    at.Restore(start);
    return false;
  }
  stamp.day = static_cast<int>(*day);
  const std::size_t beforeYear = at.position();
  if (const auto year = ReadYear(at); year && at.Spaces()) {
    stamp.year = *year;
  } else {
    at.Restore(beforeYear);
  }
  if (!ReadClock(at, stamp, 1)) {
    at.Restore(start);
    return false;
  }
  SkipFraction(at, SIZE_MAX);
  const std::size_t afterClock = at.position();
  if (stamp.year == 0 && at.Spaces()) {
    if (const auto year = ReadYear(at)) {
      stamp.year = *year;
    } else {
      at.Restore(afterClock);
    }
  }
  return true;
}

// RFC 5424's PRINTUSASCII words: 1..`most` characters 33..126, or "-".
std::optional<std::string_view> ReadHeaderField(Cursor& at, std::size_t most) {
  const std::size_t start = at.position();
  const std::string_view word = at.Word();
  bool printable = !word.empty() && word.size() <= most;
  for (char c : word) printable = printable && c >= 33 && c <= 126;
  if (!printable) {
    at.Restore(start);
    return std::nullopt;
  }
  return word;
}

// SD-NAME: 1..`most` printable characters except '=', ' ', ']' and '"'.
std::optional<std::string_view> ReadSdName(Cursor& at, std::size_t most) {
  const std::size_t start = at.position();
  for (char c = at.Peek(); !at.AtEnd() && c >= 33 && c <= 126 && c != '=' && c != ']' && c != '"'; c = at.Peek()) {
    at.Literal(c);
  }
  const std::size_t count = at.position() - start;
  if (count < 1 || count > most) return std::nullopt;
  return at.Since(start);
}

// A parameter value: '"' ... '"' where '\' escapes the next character, or, when `unquoted` is
// allowed, the characters up to the next blank or ']'.
bool ReadSdValue(Cursor& at, bool unquoted) {
  if (at.Literal('"')) {
    for (;;) {
      if (at.AtEnd()) return false;
      const char c = at.Peek();
      at.Literal(c);
      if (c == '"') return true;
      if (c == '\\' && !at.AtEnd()) at.Literal(at.Peek());
    }
  }
  if (!unquoted) return false;
  const std::size_t start = at.position();
  while (!at.AtEnd() && at.Peek() != ' ' && at.Peek() != ']') at.Literal(at.Peek());
  return at.position() > start;
}

// The elements RFC 5424 defines to describe the message rather than the event.
bool IsInformational(std::string_view sdId) { return sdId == "timeQuality" || sdId == "origin" || sdId == "meta"; }

// One or more "[SD-ID *(SP PARAM-NAME="value")]". `meaningful` tells whether an element other
// than the informational ones was read. With `lenient`: names of any length, unquoted values,
// blanks around '=' and before ']'.
bool ReadStructuredData(Cursor& at, bool lenient, bool& meaningful) {
  const std::size_t nameLimit = lenient ? SIZE_MAX : 32;
  int elements = 0;
  while (at.Literal('[')) {
    const auto id = ReadSdName(at, nameLimit);
    if (!id) return false;
    meaningful = meaningful || !IsInformational(*id);
    while (lenient ? at.Spaces() : at.Literal(' ')) {
      if (lenient && at.Peek() == ']') break;
      if (!ReadSdName(at, nameLimit)) return false;
      if (lenient) at.Spaces();
      if (!at.Literal('=')) return false;
      if (lenient) at.Spaces();
      if (!ReadSdValue(at, lenient)) return false;
    }
    if (!at.Literal(']')) return false;
    ++elements;
  }
  return elements > 0;
}

void AppendPart(std::string& message, std::string_view part) {
  if (part.empty()) return;
  if (!message.empty()) message += ' ';
  message += part;
}

// Could `word` name a host: letters, digits and ".-_:@/" (addresses of both families, a
// "host@chroot", a "firewall/vdom"), not ending in ':' (a tag). What syslog-ng accepts.
bool IsHostWord(std::string_view word) {
  static constexpr std::array<bool, 256> kHostCharacters = [] {
    std::array<bool, 256> allowed{};
    for (int c = 0; c < 256; ++c) {
      allowed[static_cast<std::size_t>(c)] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                             c == '.' || c == '-' || c == '_' || c == ':' || c == '@' || c == '/';
    }
    return allowed;
  }();
  if (word.empty() || word.back() == ':') return false;
  for (const char c : word) {
    if (!kHostCharacters[static_cast<uint8_t>(c)]) return false;
  }
  return true;
}

// A program's tag: "su:", "sshd[42]:", "%ASA-6-302013:".
bool IsTagWord(std::string_view word) {
  return !word.empty() && (word.back() == ':' || word.find('[') != std::string_view::npos || word.front() == '%');
}

// "[*|.]STAMP[ UTC|GMT][:]" into the header's time; `endsInColon` tells of the ':'. Results go
// straight into place: small structures copied through optionals cost more than the parse.
bool ReadLenientStamp(Cursor& at, SyslogHeader& header, bool& endsInColon) {
  const std::size_t start = at.position();
  // Cisco marks a stamp it does not trust with '*' (clock never set) or '.' (sync lost).
  if (!at.Literal('*')) at.Literal('.');
  BsdStamp stamp;
  if (const auto seconds = ReadRfc3339(at, {.anyFraction = true, .noOffset = true, .blankForT = true})) {
    header.timeSent = FitSeconds(*seconds).value_or(0);
  } else if (ReadBsdStamp(at, stamp)) {
    if (stamp.year != 0) {
      header.timeSent = BsdStampSeconds(stamp, 0, false);
    } else {
      header.bsd = stamp;
    }
  } else {
    at.Restore(start);
    return false;
  }
  // Cisco's "show-timezone" writes the zone before the colon; only UTC and GMT are certain to
  // be zones rather than a tag, and they agree with reading the stamp as UTC.
  const std::string_view rest = at.Rest();
  if (rest.size() >= 5 && rest[0] == ' ' && (rest.substr(1, 4) == "UTC:" || rest.substr(1, 4) == "GMT:")) {
    at.Restore(at.position() + 4);
  }
  endsInColon = at.Literal(':');
  return true;
}

// Cisco's counters before the stamp: "29: " and, with "service sequence-numbers", "000123: ".
void SkipSequenceNumbers(Cursor& at) {
  for (int i = 0; i < 2; ++i) {
    const std::size_t start = at.position();
    if (!(at.Digits(1, 10) && at.Literal(':') && at.Spaces())) {
      at.Restore(start);
      return;
    }
  }
}

// Cisco's "logging origin-id": "origin: " right before the stamp.
bool ReadOriginAndStamp(Cursor& at, SyslogHeader& header, bool& endsInColon) {
  const char first = at.Peek();
  if (!(IsDigit(first) || (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z'))) return false;
  const std::size_t start = at.position();
  const std::string_view word = at.Word();
  const std::string_view origin = word.substr(0, word.empty() ? 0 : word.size() - 1);
  if (word.size() > 1 && word.size() <= kHostWordLimit + 1 && word.back() == ':' && IsHostWord(origin) &&
      at.Spaces()) {
    if (ReadLenientStamp(at, header, endsInColon)) {
      header.hostName = origin;
      return true;
    }
  }
  at.Restore(start);
  return false;
}

// AIX: "Message forwarded from HOST: ".
bool ReadForwardedFrom(Cursor& at, std::string& hostName) {
  constexpr std::string_view kForwarded = "Message forwarded from ";
  if (at.Rest().substr(0, kForwarded.size()) != kForwarded) return false;
  const std::size_t start = at.position();
  at.Restore(start + kForwarded.size());
  const std::string_view word = at.Word();
  const std::string_view host = word.substr(0, word.empty() ? 0 : word.size() - 1);
  if (word.size() > 1 && word.size() <= kHostWordLimit + 1 && word.back() == ':' && IsHostWord(host)) {
    hostName = host;
    at.Spaces();
    return true;
  }
  at.Restore(start);
  return false;
}

// What the word after the stamp is.
enum class HostWord { kHost, kNotHost, kTooLong };

// Reads the word after the stamp as the host, or leaves it to the message.
HostWord ReadHostWord(Cursor& at, bool stampEndsInColon, std::string& hostName) {
  const std::size_t start = at.position();
  const std::string_view word = at.Word();
  if (!IsHostWord(word)) {
    at.Restore(start);
    return HostWord::kNotHost;
  }
  if (word.size() > kHostWordLimit) return HostWord::kTooLong;  // as the classic form's buffer
  const std::size_t end = at.position();
  at.Spaces();
  // After "stamp:" Cisco puts the tag; a host there is followed by one.
  if (stampEndsInColon && !IsTagWord(at.Word())) {
    at.Restore(start);
    return HostWord::kNotHost;
  }
  at.Restore(end);
  at.Spaces();
  hostName = word;
  return HostWord::kHost;
}

}  // namespace

ParseOptions ReadParseOptions() {
  const CSettingsStore& settings = AppSettings();
  ParseOptions options;  // holds the defaults
  options.rfc5424 = settings.GetInt("Settings", "rfc5424", options.rfc5424 ? 1 : 0) != 0;
  options.lenient = settings.GetInt("Settings", "lenient", options.lenient ? 1 : 0) != 0;
  options.yearFix = settings.GetInt("Settings", "yearfix", options.yearFix ? 1 : 0) != 0;
  options.fullStructuredData = settings.GetInt("Settings", "rfc5424sd", options.fullStructuredData ? 1 : 0) != 0;
  return options;
}

std::optional<SyslogHeader> ParseRfc5424Header(std::string_view text, const ParseOptions& options) {
  const bool lenient = options.lenient;
  Cursor at(text);
  SyslogHeader header;
  const auto priority = ReadPriority(at);
  // Above 191 no facility is defined; leniently the header is read all the same.
  if (!(priority && (lenient || *priority <= 191) && at.Literal('1') && at.Literal(' '))) return std::nullopt;
  header.priority = *priority;

  if (at.Literal('-')) {
    header.timeSent = 0;
  } else if (const auto seconds = ReadRfc3339(at, {.anyFraction = lenient, .noOffset = lenient})) {
    header.timeSent = FitSeconds(*seconds).value_or(0);
  } else {
    return std::nullopt;
  }
  if (!at.Literal(' ')) return std::nullopt;

  // Real senders overrun the lengths of APP-NAME (48), PROCID (128) and MSGID (32).
  const auto limit = [lenient](std::size_t standard) { return lenient ? SIZE_MAX : standard; };
  std::optional<std::string_view> host, app, procId, msgId;
  if (!((host = ReadHeaderField(at, 255)) && at.Literal(' ') && (app = ReadHeaderField(at, limit(48))) &&
        at.Literal(' ') && (procId = ReadHeaderField(at, limit(128))) && at.Literal(' ') &&
        (msgId = ReadHeaderField(at, limit(32))) && at.Literal(' '))) {
    return std::nullopt;
  }
  if (host->find(',') != std::string_view::npos) return std::nullopt;  // would shift the record line's fields

  const std::size_t sdStart = at.position();
  bool meaningful = false;
  std::string_view structuredData;
  std::string_view body;
  if ((at.Literal('-') || ReadStructuredData(at, lenient, meaningful)) && (at.AtEnd() || at.Literal(' '))) {
    structuredData = text.substr(sdStart, at.position() - sdStart);
    if (!structuredData.empty() && structuredData.back() == ' ') structuredData.remove_suffix(1);
    body = at.Rest();
  } else if (lenient) {
    // What cannot be read as structured data is the sender's text.
    at.Restore(sdStart);
    body = at.Rest();
  } else {
    return std::nullopt;
  }
  if (body.substr(0, kByteOrderMark.size()) == kByteOrderMark) body.remove_prefix(kByteOrderMark.size());
  if (structuredData == "-") structuredData = {};

  if (*host != "-") header.hostName = *host;
  std::string tag;
  if (*app != "-") tag = *app;
  if (*procId != "-") tag.append("[").append(*procId).append("]");
  if (!tag.empty()) tag += ':';
  AppendPart(header.message, tag);
  if (*msgId != "-") AppendPart(header.message, *msgId);
  if (options.fullStructuredData) AppendPart(header.message, structuredData);
  AppendPart(header.message, body);
  if (!options.fullStructuredData && meaningful) AppendPart(header.message, structuredData);
  return header;
}

std::optional<SyslogHeader> ParseLenientHeader(std::string_view text) {
  Cursor at(text);
  SyslogHeader header;
  bool stamp = false;
  bool endsInColon = false;
  if (at.Peek() == '<') {
    const auto priority = ReadPriority(at);
    if (!priority) return std::nullopt;
    header.priority = *priority;
    at.Spaces();  // "<7> Aug 29 ..."
    // Every form begins with a counter, a stamp, its mark or an origin; "%ASA-..." right after
    // the priority (a device without stamp, the most common of them) is none.
    const char first = at.Peek();
    if (!(IsDigit(first) || (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z') || first == '*' ||
          first == '.')) {
      return std::nullopt;
    }
    SkipSequenceNumbers(at);
    stamp = ReadLenientStamp(at, header, endsInColon) || ReadOriginAndStamp(at, header, endsInColon);
  } else {
    header.priority = kPlainPriority;
    stamp = ReadLenientStamp(at, header, endsInColon);
  }
  if (!stamp) return std::nullopt;

  if (!at.Spaces() || at.AtEnd()) return std::nullopt;
  if (header.hostName.empty() && !ReadForwardedFrom(at, header.hostName) &&
      ReadHostWord(at, endsInColon, header.hostName) == HostWord::kTooLong) {
    return std::nullopt;
  }
  const std::string_view rest = at.Rest();
  header.message = rest.substr(0, rest.find('\n'));
  if (header.message.empty() && header.hostName.empty()) return std::nullopt;
  return header;
}

bool LooksMisreadAsHost(std::string_view hostWord, std::string_view message) {
  const bool year = hostWord.size() == 4 && std::all_of(hostWord.begin(), hostWord.end(), IsDigit);
  return !IsHostWord(hostWord) || hostWord.front() == '.' || hostWord.front() == ':' || year ||
         (hostWord == "Message" && message.substr(0, 15) == "forwarded from ");
}

int32_t BsdStampSeconds(const BsdStamp& stamp, int32_t received, bool yearFix) {
  const auto secondsIn = [&stamp](int year) {
    const CalendarFields fields{stamp.second, stamp.minute, stamp.hour, stamp.day, stamp.month, year - 1900};
    return static_cast<int64_t>(CalendarToNtpSeconds(fields, 0)) - kNtpToUnixOffset;
  };
  int64_t seconds = 0;
  if (stamp.year != 0) {
    seconds = secondsIn(stamp.year);
  } else {
    const int year = UtcYearOf(received);
    seconds = secondsIn(year);
    if (yearFix) {
      for (int candidate : {year - 1, year + 1}) {
        const int64_t other = secondsIn(candidate);
        if (std::llabs(other - received) < std::llabs(seconds - received)) seconds = other;
      }
    }
  }
  return FitSeconds(seconds).value_or(0);
}

}  // namespace qv
