#include "core/message/syslog_header.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
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

Fields ParsedFields(std::string_view text, const ParseOptions& options = ParseOptions{}) {
  const SyslogMessage m = Parse(text, options);
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

  // Structured data follows the text as written, escaped quotes and brackets included; with
  // "rfc5424sd" it stands before the text. MSG may be absent.
  const std::string_view event =
      "<165>1 2003-10-11T22:14:15.003Z mymachine.example.com evntslog - ID47 [exampleSDID@32473 iut=\"3\" "
      "eventSource=\"Application\" eventID=\"1011\"] \xEF\xBB\xBF"
      "An application event log entry...";
  EXPECT_EQ(Parse(event).message,
            "evntslog: ID47 An application event log entry... [exampleSDID@32473 iut=\"3\" "
            "eventSource=\"Application\" eventID=\"1011\"]");
  EXPECT_EQ(Parse(event, {.fullStructuredData = true}).message,
            "evntslog: ID47 [exampleSDID@32473 iut=\"3\" eventSource=\"Application\" eventID=\"1011\"] An application "
            "event log entry...");
  EXPECT_EQ(Parse("<165>1 2003-10-11T22:14:15.003Z host evntslog - ID47 [exampleSDID@32473 iut=\"3\" "
                  "text=\"a \\\"quoted\\\" \\] bracket\"][examplePriority@32473 class=\"high\"]")
                .message,
            "evntslog: ID47 [exampleSDID@32473 iut=\"3\" text=\"a \\\"quoted\\\" \\] bracket\"][examplePriority@32473 "
            "class=\"high\"]");

  // util-linux logger --rfc5424, as it goes on the wire: only informational structured data,
  // which is left out unless "rfc5424sd" asks for it; beside an element of the event it stays.
  const std::string_view logger =
      "<13>1 2026-12-08T01:51:06.886723+00:00 vm root - - [timeQuality tzKnown=\"1\" isSynced=\"0\"] hello world";
  EXPECT_EQ(ParsedFields(logger), (Fields{1, 5, 1796694666, "vm", "root: hello world"}));
  EXPECT_EQ(Parse(logger, {.fullStructuredData = true}).message,
            "root: [timeQuality tzKnown=\"1\" isSynced=\"0\"] hello world");
  EXPECT_EQ(Parse("<13>1 - vm root - - [origin ip=\"10.0.0.1\"][meta sequenceId=\"1\"][x@1 a=\"b\"] hi").message,
            "root: hi [origin ip=\"10.0.0.1\"][meta sequenceId=\"1\"][x@1 a=\"b\"]");

  // Every header field nil: no host, no time, only the text.
  EXPECT_EQ(ParsedFields("<14>1 - - - - - - just text"), (Fields{1, 6, 0, "", "just text"}));
  EXPECT_EQ(Parse("<14>1 - - - 42 - -").message, "[42]:");
  // A stamp beyond the record's 32-bit seconds keeps the message but no time.
  EXPECT_EQ(Parse("<14>1 2100-01-01T00:00:00Z h a - - - x").timeSent, 0);
}

TEST(Rfc5424Test, MalformedHeadersFallBackToTheClassicStepsWhenStrict) {
  const ParseOptions strict{.lenient = false};
  for (const char* text : {
           "<34>2 2003-10-11T22:14:15Z host app - - - version 2",
           "<34>1 2003-13-11T22:14:15Z host app - - - month 13",
           "<34>1 2003-02-29T22:14:15Z host app - - - not a leap year",
           "<34>1 2003-10-11 22:14:15Z host app - - - no T",
           "<34>1 2003-10-11T22:14:15+0100 host app - - - offset without colon",
           "<34>1 2003-10-11T22:14:15 host app - - - no offset",
           "<34>1 2003-10-11T22:14:15Z host app - - no structured data",
           "<34>1 2003-10-11T22:14:15Z host app - - [id unterminated=\"x] text",
           "<34>1 2003-10-11T22:14:15Z host app - - [id a=unquoted] text",
           "<34>1 2003-10-11T22:14:15Z host app - - [id a= \"blank\"] text",
           "<34>1 2003-10-11T22:14:15Z host a-name-of-49-characters-aaaaaaaaaaaaaaaaaaaaaaaaa - - - long APP-NAME",
           "<34>1 2003-10-11T22:14:15Z host app - - [an-sd-id-of-33-characters-aaaaaaa a=\"1\"] long SD-ID",
           "<34>1 2003-10-11T22:14:15Z a,b app - - - comma in host",
           "<34>1 2003-10-11T22:14:15Z host app - - -text glued to nil SD",
           "<192>1 - - - - - - priority out of range",
       }) {
    const SyslogMessage m = Parse(text, strict);
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

TEST(Rfc5424Test, LenientReadingKeepsTheHeaderOfAFaultyOne) {
  constexpr int32_t kStamp = 1065910455;  // 2003-10-11 22:14:15 UTC
  const std::string longName(49, 'a');
  const std::pair<std::string, Fields> cases[] = {
      // A blank after '=', an unquoted value (hypervisors), blanks before ']'.
      {"<165>1 2003-10-11T22:14:15.003Z mymachine.example.com evntslog - ID47 [exampleSDID@32473 iut=\"3\" "
       "eventSource= \"Application\" eventID=\"1011\"]",
       {20, 5, kStamp, "mymachine.example.com",
        "evntslog: ID47 [exampleSDID@32473 iut=\"3\" eventSource= \"Application\" eventID=\"1011\"]"}},
      {"<14>1 2003-10-11T22:14:15Z esx Hostd - - [meta sequenceId=1] started", {1, 6, kStamp, "esx", "Hostd: started"}},
      {"<14>1 2003-10-11T22:14:15Z h a - - [x@1 k = v ] t", {1, 6, kStamp, "h", "a: t [x@1 k = v ]"}},
      // Fields longer than the standard allows, and a stamp without offset (read as UTC) or
      // with more fraction digits than nine.
      {"<14>1 2003-10-11T22:14:15Z h " + longName + " - - - t", {1, 6, kStamp, "h", longName + ": t"}},
      {"<14>1 2003-10-11T22:14:15Z h a " + std::string(129, '7') + " " + std::string(33, 'M') + " - t",
       {1, 6, kStamp, "h", "a[" + std::string(129, '7') + "]: " + std::string(33, 'M') + " t"}},
      {"<14>1 2003-10-11T22:14:15Z h a - - [" + std::string(33, 's') + " " + std::string(33, 'p') + "=\"1\"] t",
       {1, 6, kStamp, "h", "a: t [" + std::string(33, 's') + " " + std::string(33, 'p') + "=\"1\"]"}},
      {"<14>1 2003-10-11T22:14:15.123 h a - - - no offset", {1, 6, kStamp, "h", "a: no offset"}},
      {"<14>1 2003-10-11T22:14:15.1234567890123Z h a - - - long fraction", {1, 6, kStamp, "h", "a: long fraction"}},
      // Structured data that still cannot be read is the sender's text.
      {"<34>1 2003-10-11T22:14:15Z host app - - no structured data", {4, 2, kStamp, "host", "app: no structured data"}},
      {"<34>1 2003-10-11T22:14:15Z host app - - [id unterminated=\"x] text",
       {4, 2, kStamp, "host", "app: [id unterminated=\"x] text"}},
      {"<34>1 2003-10-11T22:14:15Z host app - - -text glued", {4, 2, kStamp, "host", "app: -text glued"}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParsedFields(text), expected) << text;
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
  // What only the classic scan accepts (a clock out of range) is read by it.
  for (const char* text : {"<13>Mar  1 24:00:01: x", "<13>Mar 32 00:00:01: x"}) {
    const SyslogMessage m = Parse(text);
    EXPECT_EQ(m.hostName, ":") << text;
    EXPECT_EQ(m.message, "x") << text;
  }
  // A host word longer than the classic form's buffer stays unread.
  EXPECT_EQ(Parse("<13>Oct 11 2026 22:14:15 " + std::string(64, 'h') + " text").hostName, "");
}

// Each device form with what the lenient reading (the default) and the strict one make of it;
// `strict` is empty where both agree.
struct FormCase {
  const char* form;
  std::string text;
  Fields lenient;
  std::optional<Fields> strict;
};

TEST(DeviceFormsTest, EachFormInBothModes) {
  const int32_t august30 = ThisYear(7, 30, 23, 0, 5);
  const int32_t october11 = ThisYear(9, 11, 22, 14, 15);
  const int32_t april29 = ThisYear(3, 29, 13, 58, 40);
  const int32_t march1 = ThisYear(2, 1, 0, 0, 1);
  const std::string noPriority = "Oct 11 22:14:15 host text";
  const FormCase cases[] = {
      {"no message", "<14>Aug 30 23:00:05 X4711", {1, 6, august30, "X4711", ""}, Fields{1, 6, 0, "", "Aug 30 23:00:05 X4711"}},
      {"no message", "<14>Aug 30 23:00:05 X4711 ", {1, 6, august30, "X4711", ""},
       Fields{1, 6, 0, "", "Aug 30 23:00:05 X4711 "}},
      {"RFC 3339 in RFC 3164", "<167>2006-11-10T10:43:21.15600000000+01:00 gw1 kernel: up",
       {20, 7, 1163155401 - 3600, "gw1", "kernel: up"},
       Fields{20, 7, 0, "", "2006-11-10T10:43:21.15600000000+01:00 gw1 kernel: up"}},
      {"RFC 3339 in RFC 3164", "<13>2006-11-10 10:43:21 gw1 kernel: up", {1, 5, 1163155401, "gw1", "kernel: up"},
       Fields{1, 5, 0, "", "2006-11-10 10:43:21 gw1 kernel: up"}},
      {"month in any case", "<6>AUG 30 23:00:05 host tag msg", {0, 6, august30, "host", "tag msg"}, std::nullopt},
      {"month in any case", "<6>aug 30 23:00:05 host tag msg", {0, 6, august30, "host", "tag msg"}, std::nullopt},
      {"no month", "<6>Aux 30 23:00:05 host tag msg", {0, 6, 0, "", "Aux 30 23:00:05 host tag msg"}, std::nullopt},
      {"year after the time", "<190>Apr 15 21:28:13 2007 linksys app: msg", {23, 6, 1176672493, "linksys", "app: msg"},
       Fields{23, 6, ThisYear(3, 15, 21, 28, 13), "2007", "linksys app: msg"}},
      {"host after 'stamp:'", "<38>Mar 7 2008 19:06:53: example tag: testmessage",
       {4, 6, 1204916813, "example", "tag: testmessage"},
       Fields{4, 6, 0, "", "Mar 7 2008 19:06:53: example tag: testmessage"}},
      {"host after 'stamp:'", "<167>*Oct 11 22:14:15: mydevice.com %CRYPTO-4-RECVD_PKT_INV_SPI: decaps",
       {20, 7, october11, "mydevice.com", "%CRYPTO-4-RECVD_PKT_INV_SPI: decaps"},
       Fields{20, 7, 0, "", "*Oct 11 22:14:15: mydevice.com %CRYPTO-4-RECVD_PKT_INV_SPI: decaps"}},
      {"tag after 'stamp:'", "<166>Jan 05 2012 15:02:03: %ASA-6-302013: Built", {20, 6, 1325775723, "", "%ASA-6-302013: Built"},
       Fields{20, 6, 0, "", "Jan 05 2012 15:02:03: %ASA-6-302013: Built"}},
      {"tag after 'stamp:'", "<166>Oct 11 22:14:15: %PIX-6-302013: Built", {20, 6, october11, "", "%PIX-6-302013: Built"},
       Fields{20, 6, october11, ":", "%PIX-6-302013: Built"}},
      {"tag after 'stamp:'", "<13>Oct 11 22:14:15: word text", {1, 5, october11, "", "word text"},
       Fields{1, 5, october11, ":", "word text"}},
      {"Cisco origin", "<189>29: foo: *Apr 29 13:58:40.411: %SYS-5-CONFIG_I: Configured from console",
       {23, 5, april29, "foo", "%SYS-5-CONFIG_I: Configured from console"},
       Fields{23, 5, 0, "", "29: foo: *Apr 29 13:58:40.411: %SYS-5-CONFIG_I: Configured from console"}},
      {"Cisco sequence numbers", "<189>29: 000123: *Mar  1 00:00:01: %SYS-5-CONFIG_I: x",
       {23, 5, march1, "", "%SYS-5-CONFIG_I: x"}, Fields{23, 5, 0, "", "29: 000123: *Mar  1 00:00:01: %SYS-5-CONFIG_I: x"}},
      {"blank after PRI", "<7> Aug 30 23:00:05.156 ctld snmpd[2499]: text", {0, 7, august30, "ctld", "snmpd[2499]: text"},
       Fields{0, 7, august30, ".156", "ctld snmpd[2499]: text"}},
      {"no PRI", "Feb 18 16:01:59 serverX -- MARK --", {1, 5, ThisYear(1, 18, 16, 1, 59), "serverX", "-- MARK --"},
       Fields{1, 5, 0, "", "Feb 18 16:01:59 serverX -- MARK --"}},
      {"no PRI", "This is a message!", {1, 5, 0, "", "This is a message!"}, std::nullopt},
      {"PRI of four digits or more", "<1011>" + noPriority, {25, 7, 0, "", noPriority}, std::nullopt},
      {"PRI of four digits or more", "<3500000000>" + noPriority, {25, 7, 0, "", noPriority}, std::nullopt},
      {"PRI of four digits or more", "<" + std::string(31, '9') + ">" + noPriority, {25, 7, 0, "", noPriority},
       std::nullopt},
      {"PRI of four digits or more", "<0013>" + noPriority, {1, 5, 0, "", noPriority}, std::nullopt},
      {"PRI above 199", "<250>" + noPriority, {25, 7, october11, "host", "text"}, std::nullopt},
      {"PRI not a number", "<x112>" + noPriority, {1, 5, 0, "", "<x112>" + noPriority}, std::nullopt},
      {"AIX forwarded", "<13>Oct 11 22:14:15 Message forwarded from cdaix66: sshd[12]: Accepted",
       {1, 5, october11, "cdaix66", "sshd[12]: Accepted"},
       Fields{1, 5, october11, "Message", "forwarded from cdaix66: sshd[12]: Accepted"}},
      {"word that names no host", "<14>Oct 11 22:14:15 #001 MSWinEventLog 1 Security",
       {1, 6, october11, "", "#001 MSWinEventLog 1 Security"},
       Fields{1, 6, october11, "#001", "MSWinEventLog 1 Security"}},
      {"word that names no host", "<13>Oct 11 22:14:15 a,b text", {1, 5, october11, "", "a,b text"},
       Fields{1, 5, 0, "", "Oct 11 22:14:15 a,b text"}},
  };
  for (const FormCase& c : cases) {
    EXPECT_EQ(ParsedFields(c.text), c.lenient) << c.form << ": " << c.text;
    EXPECT_EQ(ParsedFields(c.text, {.lenient = false}), c.strict.value_or(c.lenient)) << c.form << ", strict: " << c.text;
  }
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
