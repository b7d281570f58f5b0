// The fixed text renderings of a record.

#include <cstdio>
#include <ctime>

#include "core/message/names.h"
#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"

namespace qv {
namespace {

constexpr const char* kInvalid = "invalid";

// Breaks a 32-bit time down; false when the platform cannot.
bool BreakDown(int32_t seconds, bool utc, std::tm* fields) {
  const time_t value = seconds;
  return (utc ? gmtime_r(&value, fields) : localtime_r(&value, fields)) != nullptr;
}

// "Mmm dd hh:mm:ss", with the English month names whatever the locale.
std::string MonthDayTime(const std::tm& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%s %02d %02d:%02d:%02d", kMonthNames[static_cast<std::size_t>(t.tm_mon) % 12],
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

}  // namespace

std::string SyslogMessage::FormatTimeReceived() const {
  return FormatTimeReceived(AppSettings().GetInt("Settings", "timeutc", 0) != 0);
}

std::string SyslogMessage::FormatTimeReceived(bool utc) const {
  std::tm t{};
  if (!BreakDown(timeReceived, utc, &t)) return kInvalid;
  if (utc) return MonthDayTime(t) + " UTC";
  return MonthDayTime(t) + " " + (t.tm_zone != nullptr ? t.tm_zone : "");
}

std::string SyslogMessage::FormatTimeReceivedStd() const {
  std::tm t{};
  if (!BreakDown(timeReceived, true, &t)) return kInvalid;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string SyslogMessage::FormatTimeSent() const {
  std::tm t{};
  if (timeSent == 0 || !BreakDown(timeSent, true, &t)) return "";
  return MonthDayTime(t);
}

std::string SyslogMessage::FormatExportText() const {
  std::string line = FormatTimeReceived();
  for (const std::string& field : {hostName, ipAddress, std::string(FacilityName(facility)),
                                   std::string(SeverityName(severity)), FormatTimeSent()}) {
    line += ',';
    line += field;
  }
  line += ",\"";
  line += message;
  line += '"';
  return line;
}

std::string SyslogMessage::FormatExportLine() const { return FormatExportText() + "\r\n"; }

std::string SyslogMessage::FormatDetailBlock() const {
  return "Received: " + FormatTimeReceived() + "\r\nHostname: " + hostName + "\r\nIP Addr: " + ipAddress +
         "\r\nFacility: " + FacilityName(facility) + "\r\nSeverity: " + SeverityName(severity) +
         "\r\nMessage: " + message + "\r\n";
}

std::string SyslogMessage::FormatSyslogLine() const {
  // The sent time is shown as local time here, the sender's stamp in the other renderings.
  std::tm t{};
  if (!BreakDown(timeSent != 0 ? timeSent : timeReceived, false, &t)) {
    t = std::tm{};  // a time the platform cannot break down goes out as the epoch
    t.tm_mday = 1;
  }
  char head[64];
  std::snprintf(head, sizeof head, "<%lld>%s %2d %02d:%02d:%02d ",
                static_cast<long long>(facility) * 8 + severity,
                kMonthNames[static_cast<std::size_t>(t.tm_mon) % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return head + (hostName.empty() ? ipAddress : hostName) + " " + message;
}

}  // namespace qv
