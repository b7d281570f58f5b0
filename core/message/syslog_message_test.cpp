#include "core/message/syslog_message.h"

#include <gtest/gtest.h>

#include <ctime>

#include "core/message/line_break_markers.h"
#include "core/message/names.h"
#include "core/message/time_conversions.h"

namespace qv {
namespace {

SyslogMessage Parse(std::string_view text, std::string_view address = "10.0.0.5", int32_t port = 1025) {
  SyslogMessage record;
  record.ParseDatagram(address, port, text);
  return record;
}

// The stamp's fields as seconds since 1970 in the current UTC year.
int32_t StampThisYear(int month, int day, int hour, int minute, int second) {
  const time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  return static_cast<int32_t>(
      CalendarToNtpSeconds({second, minute, hour, day, month, utc.tm_year}, 0) - kNtpToUnixOffset);
}

TEST(ParseDatagramTest, Rfc3164FormFillsEveryField) {
  const int32_t before = static_cast<int32_t>(std::time(nullptr));
  const SyslogMessage m = Parse("<34>Oct 11 22:14:15 mymachine su: 'su root' failed");
  EXPECT_EQ(m.facility, 4);
  EXPECT_EQ(m.severity, 2);
  EXPECT_EQ(m.hostName, "mymachine");
  EXPECT_EQ(m.message, "su: 'su root' failed");
  EXPECT_EQ(m.timeSent, StampThisYear(9, 11, 22, 14, 15));
  EXPECT_EQ(m.ipAddress, "10.0.0.5");
  EXPECT_EQ(m.senderPort, 1025);
  EXPECT_GE(m.timeReceived, before);
  EXPECT_LE(m.timeReceived, before + 2);
  EXPECT_FALSE(m.highlighted);

  // A space-padded day, and extra white space before the message, are read like the C library does.
  const SyslogMessage padded = Parse("<34>Oct  5 09:03:07 host   text");
  EXPECT_EQ(padded.timeSent, StampThisYear(9, 5, 9, 3, 7));
  EXPECT_EQ(padded.message, "text");
}

TEST(ParseDatagramTest, TimeStampFieldsAreNotRangeChecked) {
  // A month that is no month name makes no stamp at all; the text is kept.
  const SyslogMessage noMonth = Parse("<14>Foo 01 00:00:00 h m");
  EXPECT_EQ(noMonth.timeSent, 0);
  EXPECT_EQ(noMonth.message, "Foo 01 00:00:00 h m");
  EXPECT_EQ(Parse("<14>Feb 31 12:00:00 h m").timeSent, StampThisYear(1, 31, 12, 0, 0));
  EXPECT_EQ(Parse("<14>Mar 01 25:00:00 h m").timeSent, StampThisYear(2, 2, 1, 0, 0));  // hour 25 carries
}

TEST(ParseDatagramTest, PriorityOnlyAndUnparsableForms) {
  const SyslogMessage plain = Parse("<13>hello world");
  EXPECT_EQ(plain.facility, 1);
  EXPECT_EQ(plain.severity, 5);
  EXPECT_EQ(plain.hostName, "");
  EXPECT_EQ(plain.message, "hello world");
  EXPECT_EQ(plain.timeSent, 0);

  const SyslogMessage garbage = Parse("<abc>text");
  EXPECT_EQ(garbage.message, "<abc>text");
  EXPECT_EQ(garbage.facility, 1);
  EXPECT_EQ(garbage.severity, 5);

  // A stamp and host without any message text: the classic form alone keeps all of it as text,
  // the lenient one reads the header and an empty message.
  SyslogMessage classic;
  classic.ParseDatagram("10.0.0.5", 1025, "<13>Oct 11 22:14:15 host", {.lenient = false});
  EXPECT_EQ(classic.message, "Oct 11 22:14:15 host");
  EXPECT_EQ(Parse("<13>Oct 11 22:14:15 host").hostName, "host");
  EXPECT_EQ(Parse("<13>Oct 11 22:14:15 host").message, "");
  EXPECT_EQ(Parse("<13>").message, "<13>");
  EXPECT_EQ(Parse("").message, "");
}

TEST(ParseDatagramTest, PrioritiesAreClampedToFacilityUnknown) {
  struct Case {
    const char* text;
    int32_t facility;
    int32_t severity;
  };
  // Above 199 no facility is known and no severity was meant: "UNKNOWN" and debug, never an alarm.
  for (const Case& c : {Case{"<191>x", 23, 7}, Case{"<199>x", 24, 7}, Case{"<200>x", 25, 7}, Case{"<250>x", 25, 7},
                        Case{"<1000>x", 25, 7}, Case{"<99999999999999>x", 25, 7}, Case{"<-1>x", 0, 7},
                        Case{"<0>x", 0, 0}}) {
    const SyslogMessage m = Parse(c.text);
    EXPECT_EQ(m.facility, c.facility) << c.text;
    EXPECT_EQ(m.severity, c.severity) << c.text;
    EXPECT_EQ(m.message, "x") << c.text;
  }
  EXPECT_STREQ(FacilityName(Parse("<199>x").facility), "Windows");
  EXPECT_STREQ(FacilityName(Parse("<250>x").facility), "UNKNOWN");
}

TEST(ParseDatagramTest, OverlongOrCommaHostWordsKeepTheWholeTextAsMessage) {
  const std::string longHost(64, 'h');
  const SyslogMessage tooLong = Parse("<13>Oct 11 22:14:15 " + longHost + " text");
  EXPECT_EQ(tooLong.hostName, "");
  EXPECT_EQ(tooLong.timeSent, 0);
  EXPECT_EQ(tooLong.message, "Oct 11 22:14:15 " + longHost + " text");

  const std::string fitting(63, 'h');
  EXPECT_EQ(Parse("<13>Oct 11 22:14:15 " + fitting + " text").hostName, fitting);

  const std::string longMonth = "Octoberrrrrrrrrrr";  // 17 characters
  EXPECT_EQ(Parse("<13>" + longMonth + " 11 22:14:15 h text").message, longMonth + " 11 22:14:15 h text");

  // A host word with a comma would shift the fields of the stored record line.
  const SyslogMessage forged = Parse("<13>Oct 11 22:14:15 a,127.0.0.1,514,0,0,0,\" text");
  EXPECT_EQ(forged.hostName, "");
  SyslogMessage readBack;
  std::string line = forged.FormatRecordLine();
  readBack.ReadRecordLine(std::string_view(line).substr(0, line.size() - 2));
  EXPECT_EQ(readBack.ipAddress, "10.0.0.5");
  EXPECT_EQ(readBack.message, forged.message);
}

// Whoever sends it, a text without a priority is a plain user notice from its sender: a
// complete record line from the loopback address sets no field of the record.
TEST(ParseDatagramTest, NoSenderCanMakeARecordLine) {
  const std::string forged = "1,24,evhost,10.66.66.66,514,0,2000,1000,\"Forged event\"";
  const int32_t before = static_cast<int32_t>(std::time(nullptr));
  const struct {
    std::string text;
    const char* sender;
  } cases[] = {
      {forged, "127.0.0.1"},
      {forged, "127.45.6.7"},
      {forged, "192.0.2.7"},
      {"0,3,h,1.2.3.4,514,6,10,0,\"\"", "127.0.0.1"},
      {"hello", "127.0.0.1"},
      {"", "127.0.0.1"},
      {"a,b,c", "127.0.0.1"},
      {"link down on ge-0/0/1", "10.1.1.1"},
  };
  for (const auto& [text, sender] : cases) {
    const SyslogMessage record = Parse(text, sender, 40000);
    EXPECT_EQ(record.message, text);
    EXPECT_FALSE(record.highlighted) << text;
    EXPECT_EQ(record.facility, 1) << text;
    EXPECT_EQ(record.severity, 5) << text;
    EXPECT_EQ(record.hostName, "") << text;
    EXPECT_EQ(record.ipAddress, sender) << text;
    EXPECT_EQ(record.senderPort, 40000) << text;
    EXPECT_EQ(record.timeSent, 0) << text;
    EXPECT_GE(record.timeReceived, before) << text;
  }
}

TEST(ParseDatagramTest, AnEmbeddedZeroEndsTheText) {
  EXPECT_EQ(Parse(std::string_view("<13>abc\0def", 11)).message, "abc");
}

TEST(RecordLineTest, FormatsTheFieldsInOrder) {
  SyslogMessage m;
  m.facility = 5;
  m.hostName = "localhost";
  m.ipAddress = "127.0.0.1";
  m.senderPort = 514;
  m.severity = 7;
  m.timeReceived = 2000;
  m.timeSent = 1000;
  m.message = "-----Time Mark-----";
  EXPECT_EQ(m.FormatRecordLine(), "0,5,localhost,127.0.0.1,514,7,2000,1000,\"-----Time Mark-----\"\r\n");
  m.highlighted = true;
  EXPECT_EQ(m.FormatRecordLine().substr(0, 2), "1,");
}

TEST(RecordLineTest, CommasAndQuotesInTheMessageRoundTrip) {
  SyslogMessage m;
  m.ReadRecordLine("0,1,h,1.2.3.4,514,6,10,0,\"a, \"b\" c\"");
  EXPECT_EQ(m.message, "a, \"b\" c");
  EXPECT_EQ(m.hostName, "h");
  EXPECT_EQ(m.ipAddress, "1.2.3.4");
  EXPECT_EQ(m.severity, 6);

  SyslogMessage original;
  original.highlighted = true;
  original.facility = 23;
  original.hostName = "core-sw1";
  original.ipAddress = "10.9.8.7";
  original.senderPort = 32768;
  original.severity = 4;
  original.timeReceived = 1765000000;
  original.timeSent = -5;
  original.message = "say \"hi\", then, \"bye\"";
  const std::string line = original.FormatRecordLine();
  SyslogMessage copy;
  copy.ReadRecordLine(std::string_view(line).substr(0, line.size() - 2));
  EXPECT_EQ(copy, original);
}

TEST(RecordLineTest, LineBreaksInAnyFieldAreWrittenAsMarkersSoTheLineStaysOne) {
  SyslogMessage m;
  m.hostName = "h\n";
  m.ipAddress = "1\r";
  m.message = "a\r\nb\n";
  EXPECT_EQ(m.FormatRecordLine(), "0,0,h\xC2\xB6,1\xC2\xAE,0,0,0,0,\"a\xC2\xAE\xC2\xB6" "b\xC2\xB6\"\r\n");
  std::string text = "\rx\n";
  ReplaceLineBreaks(text);
  EXPECT_EQ(text, "\xC2\xAEx\xC2\xB6");
  text = "\n\r" + std::string(100, 'y') + "\r\r\n";  // LF before CR, and breaks at the end
  ReplaceLineBreaks(text);
  EXPECT_EQ(text, "\xC2\xB6\xC2\xAE" + std::string(100, 'y') + "\xC2\xAE\xC2\xAE\xC2\xB6");

  // A remote sender's datagram that would plant a record of its own after a line break stays
  // inside its own message.
  const std::string forgery = "\n1,0,localhost,127.0.0.1,514,0,1700000000,0,\"FORGED\"";
  for (const std::string& text2 : {forgery, "x\r" + forgery.substr(1)}) {
    const std::string line = Parse(text2, "192.0.2.7").FormatRecordLine();
    EXPECT_EQ(line.find_first_of("\r\n"), line.size() - 2) << line;
    SyslogMessage back;
    back.ParseFileLine(std::string_view(line).substr(0, line.size() - 2));
    EXPECT_EQ(back.ipAddress, "192.0.2.7");
    EXPECT_NE(back.message.find("\"FORGED\""), std::string::npos);
  }
}

TEST(RecordLineTest, MalformedLinesChangeOnlyWhatTheyHold) {
  SyslogMessage m;
  m.ReadRecordLine("no comma at all");
  EXPECT_EQ(m, SyslogMessage());

  m.message = "kept";
  m.ReadRecordLine("1,-3,host,addr");
  EXPECT_TRUE(m.highlighted);
  EXPECT_EQ(m.facility, 0);  // negative facility reads as 0
  EXPECT_EQ(m.hostName, "host");
  EXPECT_EQ(m.ipAddress, "");  // no comma after the address: the walk stopped before it
  EXPECT_EQ(m.message, "kept");

  SyslogMessage big;
  big.ReadRecordLine("0,30,h,a,514,15,1,2,\"x\"");
  EXPECT_EQ(big.facility, 30);  // kept, and renders as UNKNOWN
  EXPECT_STREQ(FacilityName(big.facility), "UNKNOWN");
  EXPECT_EQ(big.severity, 7);  // masked to the low three bits

  SyslogMessage shortTail;
  shortTail.ReadRecordLine("0,1,h,a,514,5,1,2,");
  EXPECT_EQ(shortTail.message, "");
  shortTail.ReadRecordLine("0,1,h,a,514,5,1,2,\"");
  EXPECT_EQ(shortTail.message, "");
  shortTail.ReadRecordLine("0,1,h,a,514,5,1,2,\"\"");
  EXPECT_EQ(shortTail.message, "");
}

TEST(RecordLineTest, FileLinesMayBeRecordLinesOrSyslogLines) {
  SyslogMessage stored;
  stored.ParseFileLine("0,3,h,10.0.0.1,514,3,100,0,\"from history\"");
  EXPECT_EQ(stored.ipAddress, "10.0.0.1");
  EXPECT_EQ(stored.message, "from history");

  SyslogMessage syslog;
  syslog.ParseFileLine("<13>imported");
  EXPECT_EQ(syslog.ipAddress, "Unknown");
  EXPECT_EQ(syslog.senderPort, 0);
  EXPECT_EQ(syslog.message, "imported");
}

TEST(NamesTest, TablesAndLookups) {
  EXPECT_STREQ(FacilityName(4), "security");
  EXPECT_STREQ(FacilityName(10), "authpriv");  // told apart from 4
  EXPECT_STREQ(FacilityName(-2), "kernel");
  EXPECT_STREQ(FacilityName(25), "UNKNOWN");
  EXPECT_STREQ(SeverityName(6), "INFORMATIONAL");
  EXPECT_STREQ(SeverityName(-1), "EMERGENCY");
  EXPECT_STREQ(SeverityName(12), "WARNING");
  EXPECT_STREQ(kSeverityThresholdNames[4], "Warning or Higher");
  EXPECT_EQ(MonthIndex("Dec"), 11);
  EXPECT_EQ(MonthIndex("December"), 11);
  EXPECT_EQ(MonthIndex("dEC"), 11);  // in any case
  EXPECT_EQ(MonthIndex("Foo"), std::nullopt);
  EXPECT_EQ(MonthIndex("De"), std::nullopt);
}

}  // namespace
}  // namespace qv
