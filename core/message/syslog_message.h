#pragma once
// The one record every message is held in, whether it arrived as a datagram, was injected by a
// monitor, was relayed from the service or was read back from a file; how a received datagram
// is parsed into it; the serialised record line that carries it through files and local
// datagrams; and its fixed text renderings. Records are plain values, copied at every hand-over.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/message/syslog_header.h"

namespace qv {

struct SyslogMessage {
  int32_t seq = 0;              // assigned by the message store; 0 until then
  int32_t severity = 0;         // 0..7
  std::string hostName;         // from the datagram, from a name look-up, or empty
  std::string ipAddress;        // sender's dotted address; "Unknown" for lines of a file
  int32_t facility = 0;         // 0..25 after parsing; 25 is "UNKNOWN"
  int32_t timeSent = 0;         // the datagram's time stamp read as UTC, 0 when it had none
  int32_t timeReceived = 0;     // arrival, seconds since 1970 UTC
  int32_t senderPort = 0;       // UDP source port; 514 for records made locally
  std::string message;
  bool highlighted = false;

  bool operator==(const SyslogMessage&) const = default;

  // Fills the record from a received datagram text (at most one line: callers replace line
  // feeds by spaces). A text that begins with '<' is a syslog message in the RFC 5424 form, the
  // RFC 3164 form or one of its looser variants (as `options` allow), the "<PRI>text" form, or
  // anything else. A text that does not begin with '<' has priority 13, whoever sent it; with
  // `lenient` its time and host are read when it begins with a full header (a stamp), else it
  // is a plain message that keeps the whole text. A datagram or a TCP frame is never read as a
  // record line, so no sender (a local user on the loopback address included) can set the
  // sender, times or severity of what is stored. The system's own findings come by a private
  // channel (CLocalChannel) instead. A priority above 199 gives facility 25 ("UNKNOWN") with
  // severity 7; one of four digits or more is followed by no header, only text.
  void ParseDatagram(std::string_view senderAddress, int32_t senderPort, std::string_view text,
                     const ParseOptions& options = ParseOptions{});

  // Fills the record from a line of a history, document or import file: a serialised record
  // line, or a syslog line beginning with '<' (address "Unknown", port 0).
  void ParseFileLine(std::string_view line);

  // Fills the fields of a serialised record line, without its CR LF, walking it from comma to
  // comma. A line without any comma changes nothing; a missing comma stops the walk and leaves
  // the remaining fields as they were. The message runs from after the opening quote to the
  // last character but one, so commas and quotes inside it need no escaping.
  void ReadRecordLine(std::string_view line);

  // highlighted,facility,host,address,port,severity,received,sent,"message" and CR LF. The
  // line never holds another line break: CR and LF inside the texts are written as their
  // markers (line_break_markers.h), so no field can start a record of its own in a file.
  std::string FormatRecordLine() const;

  // Renderings.
  // timeReceived as "%b %d %H:%M:%S UTC" when the setting "timeutc" is on (read at each call),
  // else in local time with the zone's abbreviation; "invalid" when it cannot be broken down.
  std::string FormatTimeReceived() const;
  // The same with "timeutc" given, for callers that render many records at once.
  std::string FormatTimeReceived(bool utc) const;
  // timeReceived as "%Y-%m-%d %H:%M:%S" in UTC.
  std::string FormatTimeReceivedStd() const;
  // timeSent as "%b %d %H:%M:%S" in UTC, which shows the sender's own time stamp; empty for 0.
  std::string FormatTimeSent() const;
  // received,host,address,facility,severity,sent,"message" with and without CR LF.
  std::string FormatExportLine() const;
  std::string FormatExportText() const;
  // "Received: ..\r\nHostname: ..\r\nIP Addr: ..\r\nFacility: ..\r\nSeverity: ..\r\nMessage: ..\r\n".
  std::string FormatDetailBlock() const;
  // "<PRI>Mmm dd hh:mm:ss host message" in local time, for forwarding; no line end.
  std::string FormatSyslogLine() const;
};

// A record the system makes itself (a local message, a monitor's finding): facility "syslog",
// `severity`, both times now, port 514, the source address, and host "localhost" when the
// source is exactly "127.0.0.1", else no host.
SyslogMessage MakeLocalRecord(std::string_view text, int32_t severity, std::string_view sourceAddress);

}  // namespace qv
