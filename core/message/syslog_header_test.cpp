#include "core/message/syslog_header.h"

#include <gtest/gtest.h>

#include <ctime>
#include <ostream>
#include <string>
#include <utility>

#include "core/message/syslog_message.h"
#include "core/message/time_conversions.h"

namespace qv {
namespace {

SyslogMessage Parse(std::string_view text, const ParseOptions& options = ParseOptions{}) {
  SyslogMessage record;
  record.ParseDatagram("192.0.2.9", 40000, text, options);
  return record;
}

// The fields a header fills, compared in one expectation.
struct Fields {
  int32_t facility = 0;
  int32_t severity = 0;
  int32_t timeSent = 0;
  std::string hostName;
  std::string message;
  bool operator==(const Fields&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Fields& f) {
    return out << f.facility << '.' << f.severity << " at " << f.timeSent << " from \"" << f.hostName << "\": \""
               << f.message << '"';
  }
};

Fields ParsedFields(std::string_view text) {
  const SyslogMessage m = Parse(text);
  return {m.facility, m.severity, m.timeSent, m.hostName, m.message};
}

// Seconds of a stamp without a year, placed in the current UTC year as the classic form does.
int32_t ThisYear(int month, int day, int hour, int minute, int second) {
  const BsdStamp stamp{0, month, day, hour, minute, second};
  return BsdStampSeconds(stamp, static_cast<int32_t>(std::time(nullptr)), false);
}

TEST(Rfc5424Test, TheStandardsOwnExamplesAndLoggerOutput) {
  // The byte-order mark before MSG is dropped; "-" PROCID and STRUCTURED-DATA leave no trace.
  const std::string_view su =
      "<34>1 2003-10-11T22:14:15.003Z mymachine.example.com su - ID47 - \xEF\xBB\xBF'su root' failed for lonvick on "
      "/dev/pts/8";
  EXPECT_EQ(ParsedFields(su),
            (Fields{4, 2, 1065910455, "mymachine.example.com", "su: ID47 'su root' failed for lonvick on /dev/pts/8"}));
  EXPECT_EQ(Parse(su).ipAddress, "192.0.2.9");
  EXPECT_EQ(Parse(su).senderPort, 40000);

  // An offset is applied and the microseconds dropped; the host may be an address.
  EXPECT_EQ(
      ParsedFields("<165>1 2003-08-24T05:14:15.000003-07:00 192.0.2.1 myproc 8710 - - %% It's time to make the do-nuts."),
            (Fields{20, 5, 1061727255, "192.0.2.1", "myproc[8710]: %% It's time to make the do-nuts."}));

  // Structured data is kept as written, escaped quotes and brackets included; MSG may be absent.
  EXPECT_EQ(Parse("<165>1 2003-10-11T22:14:15.003Z mymachine.example.com evntslog - ID47 [exampleSDID@32473 iut=\"3\" "
                  "eventSource=\"Application\" eventID=\"1011\"] \xEF\xBB\xBF"
                  "An application event log entry...")
                .message,
            "evntslog: ID47 [exampleSDID@32473 iut=\"3\" eventSource=\"Application\" eventID=\"1011\"] An application "
            "event log entry...");
  EXPECT_EQ(Parse("<165>1 2003-10-11T22:14:15.003Z host evntslog - ID47 [exampleSDID@32473 iut=\"3\" "
                  "text=\"a \\\"quoted\\\" \\] bracket\"][examplePriority@32473 class=\"high\"]")
                .message,
            "evntslog: ID47 [exampleSDID@32473 iut=\"3\" text=\"a \\\"quoted\\\" \\] bracket\"][examplePriority@32473 "
            "class=\"high\"]");

  // util-linux logger --rfc5424, as it goes on the wire.
  EXPECT_EQ(ParsedFields("<13>1 2026-12-08T01:51:06.886723+00:00 vm root - - [timeQuality tzKnown=\"1\" "
                         "isSynced=\"0\"] hello world"),
            (Fields{1, 5, 1796694666, "vm", "root: [timeQuality tzKnown=\"1\" isSynced=\"0\"] hello world"}));

  // Every header field nil: no host, no time, only the text.
  EXPECT_EQ(ParsedFields("<14>1 - - - - - - just text"), (Fields{1, 6, 0, "", "just text"}));
  EXPECT_EQ(Parse("<14>1 - - - 42 - -").message, "[42]:");
  // A stamp beyond the record's 32-bit seconds keeps the message but no time.
  EXPECT_EQ(Parse("<14>1 2100-01-01T00:00:00Z h a - - - x").timeSent, 0);
}

TEST(Rfc5424Test, MalformedHeadersFallBackToTheClassicSteps) {
  for (const char* text : {
           "<34>2 2003-10-11T22:14:15Z host app - - - version 2",
           "<34>1 2003-13-11T22:14:15Z host app - - - month 13",
           "<34>1 2003-02-29T22:14:15Z host app - - - not a leap year",
           "<34>1 2003-10-11 22:14:15Z host app - - - no T",
           "<34>1 2003-10-11T22:14:15+0100 host app - - - offset without colon",
           "<34>1 2003-10-11T22:14:15Z host app - - no structured data",
           "<34>1 2003-10-11T22:14:15Z host app - - [id unterminated=\"x] text",
           "<34>1 2003-10-11T22:14:15Z host app - - [id a=unquoted] text",
           "<34>1 2003-10-11T22:14:15Z a,b app - - - comma in host",
           "<34>1 2003-10-11T22:14:15Z host app - - -text glued to nil SD",
           "<192>1 - - - - - - priority out of range",
       }) {
    const SyslogMessage m = Parse(text);
    const std::string_view afterPriority = std::string_view(text).substr(std::string_view(text).find('>') + 1);
    EXPECT_EQ(m.message, afterPriority) << text;
    EXPECT_EQ(m.hostName, "") << text;
    EXPECT_EQ(m.timeSent, 0) << text;
  }
  // With "rfc5424" off a valid header is only a priority and text.
  const char* valid = "<13>1 2003-10-11T22:14:15Z host app 1 ID - text";
  EXPECT_EQ(Parse(valid, {.rfc5424 = false}).message, "1 2003-10-11T22:14:15Z host app 1 ID - text");
  EXPECT_EQ(Parse(valid).message, "app[1]: ID text");
}

TEST(LenientRfc3164Test, DeviceFormsAreReadIntoTheFields) {
  const int32_t march1 = ThisYear(2, 1, 0, 0, 1);
  const int32_t december8 = ThisYear(11, 8, 1, 51, 6);
  const int32_t october11 = ThisYear(9, 11, 22, 14, 15);
  const std::pair<const char*, Fields> cases[] = {
      // Cisco IOS: sequence number, '*' for a clock never set, milliseconds, a colon after the stamp.
      {"<189>123: *Mar  1 00:00:01.123: %SYS-5-CONFIG_I: Configured from console",
       {23, 5, march1, "", "%SYS-5-CONFIG_I: Configured from console"}},
      // With the zone shown (UTC or GMT only) and the ASA's year.
      {"<190>97: Dec  8 01:51:06.512 UTC: %SEC-6-IPACCESSLOGP: list 101 denied tcp",
       {23, 6, december8, "", "%SEC-6-IPACCESSLOGP: list 101 denied tcp"}},
      {"<166>Dec 08 2026 01:51:06: %ASA-6-302013: Built inbound TCP connection",
       {20, 6, 1796694666, "", "%ASA-6-302013: Built inbound TCP connection"}},
      // '.' marks a clock that lost its synchronisation.
      {"<187>45: .Jun 12 10:00:00.5: %LINK-3-UPDOWN: down",
       {23, 3, ThisYear(5, 12, 10, 0, 0), "", "%LINK-3-UPDOWN: down"}},
      // The colon after the stamp no longer becomes the host ":".
      {"<13>Mar  1 00:00:01: %LINK-3-UPDOWN: Interface Gi0/1, changed state to up",
       {1, 5, march1, "", "%LINK-3-UPDOWN: Interface Gi0/1, changed state to up"}},
      // A year in the stamp is used, with a host.
      {"<13>Mar  1 2026 00:00:01 edge-sw3 %SYS-5-RESTART: System restarted",
       {1, 5, 1772323201, "edge-sw3", "%SYS-5-RESTART: System restarted"}},
      // An RFC 3339 stamp in place of the BSD one (rsyslog's forward format, many appliances).
      {"<30>1996-12-19T16:39:57-08:00 fw01 kernel: eth0 up", {3, 6, 851042397, "fw01", "kernel: eth0 up"}},
      {"<30>1985-04-12T23:20:50.52Z h m", {3, 6, 482196050, "h", "m"}},
      // Linux senders without a host word: a tag straight after the stamp.
      {"<38>Dec  8 01:51:06 sshd[4242]: Accepted publickey for root",
       {4, 6, december8, "", "sshd[4242]: Accepted publickey for root"}},
      {"<13>Oct 11 22:14:15 su: 'su root' failed", {1, 5, october11, "", "su: 'su root' failed"}},
      // Milliseconds before a host.
      {"<134>Oct 11 22:14:15.250 lb01 haproxy[77]: started", {16, 6, october11, "lb01", "haproxy[77]: started"}},
      // The classic form with a host is read exactly as before (Juniper, logger --rfc3164).
      {"<28>Mar  1 00:00:01 mx480-re0 mgd[1234]: UI_COMMIT: User 'lab' committed",
       {3, 4, march1, "mx480-re0", "mgd[1234]: UI_COMMIT: User 'lab' committed"}},
      {"<156>Dec  8 01:51:06 vm myapp: hi", {19, 4, december8, "vm", "myapp: hi"}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParsedFields(text), expected) << text;
}

TEST(LenientRfc3164Test, WhatItCannotReadKeepsTheClassicResult) {
  // With "lenient" off, the device forms fall back as they always did.
  const ParseOptions classic{.lenient = false};
  EXPECT_EQ(Parse("<13>Mar  1 00:00:01: %LINK-3-UPDOWN: up", classic).hostName, ":");
  EXPECT_EQ(Parse("<189>123: *Mar  1 00:00:01.123: %SYS-5-CONFIG_I: x", classic).message,
            "123: *Mar  1 00:00:01.123: %SYS-5-CONFIG_I: x");
  // No stamp, or a stamp without text: the priority form keeps everything.
  for (const char* text : {"<189>123: %SYS-5-CONFIG_I: no stamp", "<13>Mar  1 00:00:01:"}) {
    const SyslogMessage m = Parse(text);
    EXPECT_EQ(m.timeSent, 0) << text;
    EXPECT_EQ(m.message, std::string_view(text).substr(std::string_view(text).find('>') + 1)) << text;
  }
  // What only the classic scan accepts (a month in capitals, a clock out of range) is read by it.
  for (const char* text : {"<13>MAR  1 00:00:01: x", "<13>Mar  1 24:00:01: x", "<13>Mar 32 00:00:01: x"}) {
    const SyslogMessage m = Parse(text);
    EXPECT_EQ(m.hostName, ":") << text;
    EXPECT_EQ(m.message, "x") << text;
  }
  // A host word that the record line could not hold stays unread.
  EXPECT_EQ(Parse("<13>Oct 11 2026 22:14:15 a,b text").message, "Oct 11 2026 22:14:15 a,b text");
  EXPECT_EQ(Parse("<13>Oct 11 2026 22:14:15 " + std::string(64, 'h') + " text").hostName, "");
}

TEST(YearTest, StampsWithoutAYearTakeTheNearestYearOnlyWhenAsked) {
  const BsdStamp newYearsEve{0, 11, 31, 23, 59, 59};
  const BsdStamp newYear{0, 0, 1, 0, 0, 5};
  const int32_t firstOfJanuary2026 = 1767225600 + 10;  // 2026-01-01T00:00:10Z
  const int32_t lastOfDecember2026 = 1798761600 - 10;  // 2026-12-31T23:59:50Z
  EXPECT_EQ(BsdStampSeconds(newYearsEve, firstOfJanuary2026, true), 1767225599);  // 2025
  EXPECT_EQ(BsdStampSeconds(newYear, lastOfDecember2026, true), 1798761605);      // 2027
  EXPECT_EQ(BsdStampSeconds(newYearsEve, lastOfDecember2026, true), 1798761599);  // 2026
  // Off, the current year is taken whatever the distance; a stamp's own year always wins.
  EXPECT_EQ(BsdStampSeconds(newYearsEve, firstOfJanuary2026, false), 1798761599);
  EXPECT_EQ(BsdStampSeconds({2020, 11, 31, 23, 59, 59}, firstOfJanuary2026, true), 1609459199);

  // Through the parser: with "yearfix" the stamp lands within half a year of its arrival.
  const SyslogMessage m = Parse("<13>Jan  1 00:00:00 host text", {.yearFix = true});
  EXPECT_LE(std::abs(static_cast<int64_t>(m.timeSent) - m.timeReceived), 184 * 86400);
}

}  // namespace
}  // namespace qv
