#pragma once
// The forms in which a record leaves the system for other tools: the files of "Save to file",
// File > Export, and forwarding in RFC 5424. Each rendering is one line; breaks inside a text
// never split it (the line forms write CR and LF as the store's markers, line_break_markers.h,
// JSON and CSV escape or quote them). Pure functions of the record, safe on any thread; none
// reads a setting.
//
// Times: `timeReceived` is UTC; `timeSent` holds the sender's own clock fields read as UTC
// (syslog_message.h), so renderings that show the sender's stamp break it down in UTC and mark
// it "Z", which reads back to the same value.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/message/syslog_message.h"

namespace qv {

// The values are those a "Save to file" rule stores in ActionInt (0..3); the last two are
// offered by File > Export only.
enum class RecordFormat : uint32_t {
  kRecordLine = 0,   // FormatRecordLine, as the history holds it; CR LF
  kTraditional = 1,  // FormatTraditionalLine; LF
  kRfc5424 = 2,      // FormatRfc5424Line; LF
  kJsonLines = 3,    // FormatJsonLine; LF
  kCsv = 4,          // FormatCsvLine after the header kCsvHeader; CR LF
  kSyslogLine = 5,   // FormatSyslogLine, the RFC 3164 line that Import reads back; LF
};

// The format of a "Save to file" rule: its ActionInt, or the record line for any value other
// than 0..3 (rules saved before there was a choice may hold anything there).
RecordFormat SaveToFileFormat(uint32_t actionInt);

// "Mmm dd hh:mm:ss host message", as rsyslog writes by default: the sender's stamp when there
// is one, else the time received in local time, the day padded with a blank ("Oct  5"); the
// host name, else the address. The message keeps the tag that senders put at its start.
std::string FormatTraditionalLine(const SyslogMessage& message);

// "<PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID - - MSG" (RFC 5424), no line end:
// - PRI is facility x 8 + severity; facilities beyond 23 (24 "Windows", 25 "UNKNOWN" and above,
//   all written as 25) give priorities above 191, which strict readers refuse and ours reads;
// - TIMESTAMP is the sender's stamp, else the time received, as "YYYY-MM-DDThh:mm:ssZ";
// - HOSTNAME is the host name, else the address, else "-"; bytes outside '!'..'~' and commas
//   become '_' and it is cut at 255;
// - a tag at the start of the message ("app:", "app[42]:", followed by a blank or nothing)
//   becomes APP-NAME and PROCID, both "-" otherwise; MSGID and STRUCTURED-DATA are "-";
// - MSG is the rest of the message as it is (no byte-order mark), absent when empty.
// Our own parser reads the line back to the same facility, severity, host, sent time and
// message (timeSent 0 reads back as the time received).
std::string FormatRfc5424Line(const SyslogMessage& message);

// One JSON object without line end:
// {"received":"2026-10-05T07:03:07Z","sent":"2026-10-05T09:03:07Z"|null,"host":"..",
//  "address":"..","port":514,"facility":4,"facility_name":"security","severity":2,
//  "severity_name":"CRITICAL","message":".."}
// Strings are valid UTF-8 JSON whatever the bytes: '"', '\\' and control characters are
// escaped, valid UTF-8 is kept, and every other byte is the character Windows-1252 gives it
// (as the viewer shows it, text_bytes.h).
std::string FormatJsonLine(const SyslogMessage& message);

// received,sent,host,address,port,facility,facility_name,severity,severity_name,message with
// the times as in JSON (sent empty when there is none), each text field quoted as RFC 4180
// asks (in double quotes, inner quotes doubled) when it holds a comma, a quote, CR or LF.
// No line end.
inline constexpr std::string_view kCsvHeader =
    "received,sent,host,address,port,facility,facility_name,severity,severity_name,message";
std::string FormatCsvLine(const SyslogMessage& message);

// A line of a file in `format`, with its line end.
std::string FormatFileLine(const SyslogMessage& message, RecordFormat format);

// What a file in `format` begins with: kCsvHeader and CR LF for CSV, nothing for the others.
std::string FileHeader(RecordFormat format);

// A time as RFC 3339 in UTC: "YYYY-MM-DDThh:mm:ssZ".
std::string Rfc3339Utc(int32_t seconds);

}  // namespace qv
