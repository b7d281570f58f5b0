#include "core/message/syslog_header.h"

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

// ".digits", dropped: times are whole seconds.
void SkipFraction(Cursor& at, std::size_t most) {
  const std::size_t start = at.position();
  if (!(at.Literal('.') && at.Digits(1, most))) at.Restore(start);
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

// "YYYY-MM-DDThh:mm:ss[.frac](Z|+hh:mm|-hh:mm)" as UTC seconds; nullopt when malformed, and
// `unrepresentable` set when well formed but outside the record's 32-bit time.
std::optional<int64_t> ReadRfc3339(Cursor& at) {
  const std::size_t start = at.position();
  BsdStamp fields;
  std::optional<int64_t> year, month, day;
  const bool date = (year = at.Digits(4, 4)) && at.Literal('-') && (month = at.Digits(2, 2)) && at.Literal('-') &&
                    (day = at.Digits(2, 2)) && *month >= 1 && *month <= 12 && *day >= 1 &&
                    *day <= DaysInMonth(*year, *month);
  if (!(date && (at.Literal('T') || at.Literal('t')) && ReadClock(at, fields, 2))) {
    at.Restore(start);
    return std::nullopt;
  }
  SkipFraction(at, 9);
  int64_t offset = 0;
  if (!(at.Literal('Z') || at.Literal('z'))) {
    const char sign = at.Peek();
    std::optional<int64_t> hours, minutes;
    if (!((at.Literal('+') || at.Literal('-')) && (hours = at.Digits(2, 2)) && at.Literal(':') &&
          (minutes = at.Digits(2, 2)) && *hours <= 23 && *minutes <= 59)) {
      at.Restore(start);
      return std::nullopt;
    }
    offset = (*hours * 60 + *minutes) * 60 * (sign == '-' ? -1 : 1);
  }
  const int64_t local = DaysFromCivil(*year, *month, *day) * 86400 + fields.hour * 3600 + fields.minute * 60 +
                        fields.second;
  return local - offset;
}

// "Mmm dd [yyyy ]hh:mm:ss[.fff]" with a month name as written (three letters, case as in the
// table) and the day padded by a space or a zero.
std::optional<BsdStamp> ReadBsdStamp(Cursor& at) {
  const std::size_t start = at.position();
  BsdStamp stamp;
  const std::string_view rest = at.Rest();
  if (rest.size() < 4 || rest[3] != ' ') return std::nullopt;
  bool monthFound = false;
  for (std::size_t m = 0; m < kMonthNames.size() && !monthFound; ++m) {
    if (rest.substr(0, 3) == kMonthNames[m]) {
      stamp.month = static_cast<int>(m);
      monthFound = true;
    }
  }
  if (!monthFound) return std::nullopt;
  at.Restore(start + 3);
  at.Spaces();
  const auto day = at.Digits(1, 2);
  if (!(day && *day >= 1 && *day <= 31 && at.Spaces())) {
    at.Restore(start);
    return std::nullopt;
  }
  stamp.day = static_cast<int>(*day);
  const std::size_t beforeYear = at.position();
  const auto year = at.Digits(4, 4);
  if (year && at.Spaces() && *year >= 1970) {
    stamp.year = static_cast<int>(*year);
  } else {
    at.Restore(beforeYear);
  }
  if (!ReadClock(at, stamp, 1)) {
    at.Restore(start);
    return std::nullopt;
  }
  SkipFraction(at, 9);
  return stamp;
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

// SD-NAME: 1..32 printable characters except '=', ' ', ']' and '"'.
bool ReadSdName(Cursor& at) {
  std::size_t count = 0;
  for (char c = at.Peek(); !at.AtEnd() && c >= 33 && c <= 126 && c != '=' && c != ']' && c != '"'; c = at.Peek()) {
    at.Literal(c);
    ++count;
  }
  return count >= 1 && count <= 32;
}

// One or more "[SD-ID *(SP PARAM-NAME="value")]"; inside values '\' escapes the next character.
bool ReadStructuredData(Cursor& at) {
  int elements = 0;
  while (at.Literal('[')) {
    if (!ReadSdName(at)) return false;
    while (at.Literal(' ')) {
      if (!(ReadSdName(at) && at.Literal('=') && at.Literal('"'))) return false;
      for (;;) {
        if (at.AtEnd()) return false;
        const char c = at.Peek();
        at.Literal(c);
        if (c == '"') break;
        if (c == '\\' && !at.AtEnd()) at.Literal(at.Peek());
      }
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

}  // namespace

ParseOptions ReadParseOptions() {
  const CSettingsStore& settings = AppSettings();
  ParseOptions options;
  options.rfc5424 = settings.GetInt("Settings", "rfc5424", 1) != 0;
  options.lenient = settings.GetInt("Settings", "lenient", 1) != 0;
  options.yearFix = settings.GetInt("Settings", "yearfix", 0) != 0;
  return options;
}

std::optional<SyslogHeader> ParseRfc5424Header(std::string_view text) {
  Cursor at(text);
  SyslogHeader header;
  const auto priority = ReadPriority(at);
  if (!(priority && *priority <= 191 && at.Literal('1') && at.Literal(' '))) return std::nullopt;
  header.priority = *priority;

  if (at.Literal('-')) {
    header.timeSent = 0;
  } else if (const auto seconds = ReadRfc3339(at)) {
    header.timeSent = FitSeconds(*seconds).value_or(0);
  } else {
    return std::nullopt;
  }
  if (!at.Literal(' ')) return std::nullopt;

  std::optional<std::string_view> host, app, procId, msgId;
  if (!((host = ReadHeaderField(at, 255)) && at.Literal(' ') && (app = ReadHeaderField(at, 48)) && at.Literal(' ') &&
        (procId = ReadHeaderField(at, 128)) && at.Literal(' ') && (msgId = ReadHeaderField(at, 32)) &&
        at.Literal(' '))) {
    return std::nullopt;
  }
  if (host->find(',') != std::string_view::npos) return std::nullopt;  // would shift the record line's fields

  const std::size_t sdStart = at.position();
  if (!at.Literal('-') && !ReadStructuredData(at)) return std::nullopt;
  const std::string_view structuredData = text.substr(sdStart, at.position() - sdStart);
  std::string_view body;
  if (!at.AtEnd()) {
    if (!at.Literal(' ')) return std::nullopt;
    body = at.Rest();
    if (body.substr(0, kByteOrderMark.size()) == kByteOrderMark) body.remove_prefix(kByteOrderMark.size());
  }

  if (*host != "-") header.hostName = *host;
  std::string tag;
  if (*app != "-") tag = *app;
  if (*procId != "-") tag.append("[").append(*procId).append("]");
  if (!tag.empty()) tag += ':';
  AppendPart(header.message, tag);
  if (*msgId != "-") AppendPart(header.message, *msgId);
  if (structuredData != "-") AppendPart(header.message, structuredData);
  AppendPart(header.message, body);
  return header;
}

std::optional<SyslogHeader> ParseLenientHeader(std::string_view text) {
  Cursor at(text);
  SyslogHeader header;
  const auto priority = ReadPriority(at);
  if (!priority) return std::nullopt;
  header.priority = *priority;

  // A sequence number "123: " before the stamp.
  const std::size_t afterPriority = at.position();
  if (!(at.Digits(1, 10) && at.Literal(':') && at.Spaces())) at.Restore(afterPriority);
  // Cisco marks a stamp it does not trust with '*' (clock never set) or '.' (sync lost).
  if (!at.Literal('*')) at.Literal('.');

  if (const auto seconds = ReadRfc3339(at)) {
    header.timeSent = FitSeconds(*seconds).value_or(0);
  } else if (const auto stamp = ReadBsdStamp(at)) {
    if (stamp->year != 0) {
      header.timeSent = BsdStampSeconds(*stamp, 0, false);
    } else {
      header.bsd = stamp;
    }
  } else {
    return std::nullopt;
  }

  // Cisco's "show-timezone" writes the zone before the colon; only UTC and GMT are certain to
  // be zones rather than a tag, and they agree with reading the stamp as UTC.
  const std::size_t afterStamp = at.position();
  if (!(at.Literal(' ') && (at.Rest().substr(0, 4) == "UTC:" || at.Rest().substr(0, 4) == "GMT:"))) {
    at.Restore(afterStamp);
  } else {
    at.Restore(at.position() + 3);
  }
  const bool stampEndsInColon = at.Literal(':');
  if (!at.Spaces()) return std::nullopt;
  const std::size_t wordStart = at.position();
  const std::string_view word = at.Word();
  if (word.empty()) return std::nullopt;
  const bool isTag = word.back() == ':' || word.find('[') != std::string_view::npos;
  if (stampEndsInColon || isTag) {
    at.Restore(wordStart);
  } else {
    if (word.size() > kHostWordLimit || word.find(',') != std::string_view::npos) return std::nullopt;
    header.hostName = word;
    if (!at.Spaces()) return std::nullopt;
  }
  const std::string_view rest = at.Rest();
  const std::string_view message = rest.substr(0, rest.find('\n'));
  if (message.empty()) return std::nullopt;
  header.message = message;
  return header;
}

bool LooksMisreadAsHost(std::string_view hostWord) {
  return hostWord.empty() || hostWord.back() == ':' || hostWord.find('[') != std::string_view::npos ||
         hostWord.front() == '.' || hostWord.front() == ':';
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
