#include "core/message/record_formats.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "testing/temp_home.h"

namespace qv {
namespace {

constexpr int32_t kOct5 = 1791183787;  // 5 October 2026 07:03:07 UTC, 09:03:07 XST

// Every rendering of one record in a fixed zone two hours east of UTC, named "XST".
class RecordFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    hadZone_ = zone != nullptr;
    savedZone_ = hadZone_ ? zone : "";
    setenv("TZ", "XST-2", 1);
    tzset();
  }
  void TearDown() override {
    if (hadZone_) setenv("TZ", savedZone_.c_str(), 1); else unsetenv("TZ");
    tzset();
  }

  static SyslogMessage Record(std::string host, std::string address, int32_t facility, int32_t severity,
                              int32_t sent, std::string text) {
    SyslogMessage m;
    m.hostName = std::move(host);
    m.ipAddress = std::move(address);
    m.senderPort = 514;
    m.facility = facility;
    m.severity = severity;
    m.timeReceived = kOct5;
    m.timeSent = sent;
    m.message = std::move(text);
    return m;
  }

 private:
  bool hadZone_ = false;
  std::string savedZone_;
};

TEST_F(RecordFormatsTest, EachFormatRendersTheRecordAsOneLine) {
  struct Case {
    const char* what;
    SyslogMessage record;
    std::string traditional, rfc5424, json, csv;
  };
  const Case cases[] = {
      {"sender's stamp, tag", Record("mymachine", "10.0.0.5", 4, 2, kOct5 + 7200, "su: 'su root' failed"),
       "Oct  5 09:03:07 mymachine su: 'su root' failed",
       "<34>1 2026-10-05T09:03:07Z mymachine su - - - 'su root' failed",
       R"({"received":"2026-10-05T07:03:07Z","sent":"2026-10-05T09:03:07Z","host":"mymachine","address":"10.0.0.5",)"
       R"("port":514,"facility":4,"facility_name":"security","severity":2,"severity_name":"CRITICAL",)"
       R"("message":"su: 'su root' failed"})",
       "2026-10-05T07:03:07Z,2026-10-05T09:03:07Z,mymachine,10.0.0.5,514,4,security,2,CRITICAL,su: 'su root' failed"},
      {"no stamp, no host, process id, quotes and commas", Record("", "192.0.2.7", 23, 7, 0, "sshd[42]: a, \"b\" c"),
       "Oct  5 09:03:07 192.0.2.7 sshd[42]: a, \"b\" c",  // the time received, local
       "<191>1 2026-10-05T07:03:07Z 192.0.2.7 sshd 42 - - a, \"b\" c",
       R"({"received":"2026-10-05T07:03:07Z","sent":null,"host":"","address":"192.0.2.7","port":514,"facility":23,)"
       R"("facility_name":"local7","severity":7,"severity_name":"DEBUG","message":"sshd[42]: a, \"b\" c"})",
       R"(2026-10-05T07:03:07Z,,,192.0.2.7,514,23,local7,7,DEBUG,"sshd[42]: a, ""b"" c")"},
      {"line breaks, tab, control byte, backslash", Record("h", "10.0.0.1", 1, 5, 0, "a\r\nb\tc\x01\\"),
       "Oct  5 09:03:07 h a\xC2\xAE\xC2\xB6" "b\tc\x01\\",
       "<13>1 2026-10-05T07:03:07Z h - - - - a\xC2\xAE\xC2\xB6" "b\tc\x01\\",
       R"({"received":"2026-10-05T07:03:07Z","sent":null,"host":"h","address":"10.0.0.1","port":514,"facility":1,)"
       R"("facility_name":"user","severity":5,"severity_name":"NOTICE","message":"a\r\nb\tc\u0001\\"})",
       "2026-10-05T07:03:07Z,,h,10.0.0.1,514,1,user,5,NOTICE,\"a\r\nb\tc\x01\\\""},
      {"invalid UTF-8, facility 25, empty message, host with a blank and a comma",
       Record("a b,c", "Unknown", 25, 0, 0, ""), "Oct  5 09:03:07 a b,c ",
       "<200>1 2026-10-05T07:03:07Z a_b_c - - - -",
       R"({"received":"2026-10-05T07:03:07Z","sent":null,"host":"a b,c","address":"Unknown","port":514,"facility":25,)"
       R"("facility_name":"UNKNOWN","severity":0,"severity_name":"EMERGENCY","message":""})",
       "2026-10-05T07:03:07Z,,\"a b,c\",Unknown,514,25,UNKNOWN,0,EMERGENCY,"},
      {"not tags: no blank after the colon, '-' as name, text alone", Record("h", "", 1, 6, 0, "a:b"),
       "Oct  5 09:03:07 h a:b", "<14>1 2026-10-05T07:03:07Z h - - - - a:b",
       R"({"received":"2026-10-05T07:03:07Z","sent":null,"host":"h","address":"","port":514,"facility":1,)"
       R"("facility_name":"user","severity":6,"severity_name":"INFORMATIONAL","message":"a:b"})",
       "2026-10-05T07:03:07Z,,h,,514,1,user,6,INFORMATIONAL,a:b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FormatTraditionalLine(c.record), c.traditional);
    EXPECT_EQ(FormatRfc5424Line(c.record), c.rfc5424);
    EXPECT_EQ(FormatJsonLine(c.record), c.json);
    EXPECT_EQ(FormatCsvLine(c.record), c.csv);
  }

  // File lines carry the line end of their format; only CSV has a header.
  const SyslogMessage& m = cases[0].record;
  EXPECT_EQ(FormatFileLine(m, RecordFormat::kRecordLine), m.FormatRecordLine());
  EXPECT_EQ(FormatFileLine(m, RecordFormat::kTraditional), cases[0].traditional + "\n");
  EXPECT_EQ(FormatFileLine(m, RecordFormat::kRfc5424), cases[0].rfc5424 + "\n");
  EXPECT_EQ(FormatFileLine(m, RecordFormat::kJsonLines), cases[0].json + "\n");
  EXPECT_EQ(FormatFileLine(m, RecordFormat::kCsv), cases[0].csv + "\r\n");
  EXPECT_EQ(FormatFileLine(m, RecordFormat::kSyslogLine), m.FormatSyslogLine() + "\n");
  EXPECT_EQ(FileHeader(RecordFormat::kCsv), std::string(kCsvHeader) + "\r\n");
  EXPECT_EQ(FileHeader(RecordFormat::kJsonLines), "");
}

TEST_F(RecordFormatsTest, SavedRulesOutsideTheFourFormatsKeepTheRecordLine) {
  const std::pair<uint32_t, RecordFormat> cases[] = {
      {0, RecordFormat::kRecordLine}, {1, RecordFormat::kTraditional}, {2, RecordFormat::kRfc5424},
      {3, RecordFormat::kJsonLines},  {4, RecordFormat::kRecordLine},  {12, RecordFormat::kRecordLine},
      {0xFFFFFFFF, RecordFormat::kRecordLine}};
  for (const auto& [actionInt, format] : cases) EXPECT_EQ(SaveToFileFormat(actionInt), format) << actionInt;
}

// What the RFC 5424 rendering carries reads back through our own parser to the same fields.
TEST_F(RecordFormatsTest, Rfc5424LinesReadBackToTheSameFields) {
  const SyslogMessage records[] = {
      Record("mymachine", "10.0.0.5", 4, 2, kOct5 + 7200, "su: 'su root' failed"),
      Record("router-1.example.net", "10.0.0.6", 16, 4, kOct5 - 86400 * 40, "%LINK-3-UPDOWN: Interface Gi0/1, changed"),
      Record("h", "10.0.0.7", 0, 0, kOct5, "kernel[0]: [ 12.5] x"),
      Record("h", "10.0.0.7", 3, 6, kOct5, "app[pid-1]:  two blanks before"),
      Record("h", "10.0.0.7", 3, 6, kOct5, "app:"),
      Record("h", "10.0.0.7", 3, 6, kOct5, "[bracketed] text, \"quoted\" = x"),
      Record("h", "10.0.0.7", 3, 6, kOct5, "caf\xC3\xA9 \xE9 bytes"),
      Record("h", "10.0.0.7", 3, 6, kOct5, ""),
      Record("h", "10.0.0.7", 3, 6, kOct5, "- dash first"),
      Record("", "192.0.2.1", 24, 3, kOct5, "Windows entry"),  // facility 24 only leniently
  };
  for (const SyslogMessage& sent : records) {
    const std::string line = FormatRfc5424Line(sent);
    SCOPED_TRACE(line);
    SyslogMessage back;
    back.ParseDatagram(sent.ipAddress, 514, line);
    EXPECT_EQ(back.facility, sent.facility);
    EXPECT_EQ(back.severity, sent.severity);
    EXPECT_EQ(back.hostName, sent.hostName.empty() ? sent.ipAddress : sent.hostName);
    EXPECT_EQ(back.timeSent, sent.timeSent);
    EXPECT_EQ(back.message, sent.message);
  }
  // Without a stamp of its own, the record goes out with the time it was received.
  SyslogMessage back;
  back.ParseDatagram("10.0.0.1", 514, FormatRfc5424Line(Record("h", "10.0.0.1", 1, 5, 0, "x")));
  EXPECT_EQ(back.timeSent, kOct5);
}

// Python's own readers accept every line, and read back the texts: JSON as UTF-8 with the
// bytes that are not UTF-8 taken as Windows-1252, CSV as RFC 4180 fields.
TEST_F(RecordFormatsTest, PythonReadsTheJsonLinesAndTheCsvFile) {
  struct Case {
    std::string bytes;
    std::string text;  // what a reader gets, as UTF-8
  };
  const std::vector<Case> cases = {
      {"plain", "plain"},
      {"quote \" backslash \\ slash /", "quote \" backslash \\ slash /"},
      {std::string("nul \0 del \x7F esc \x1B", 17), std::string("nul \0 del \x7F esc \x1B", 17)},
      {"cr \r lf \n tab \t ff \f bs \b", "cr \r lf \n tab \t ff \f bs \b"},
      {"utf-8 caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "utf-8 caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"latin \xE9 euro \x80 quote \x93 undefined \x81 \xFF", "latin \xC3\xA9 euro \xE2\x82\xAC quote \xE2\x80\x9C undefined \xC2\x81 \xC3\xBF"},
      {"cut \xE2\x82 overlong \xC0\xAF surrogate \xED\xA0\x80", "cut \xC3\xA2\xE2\x80\x9A overlong \xC3\x80\xC2\xAF surrogate \xC3\xAD\xC2\xA0\xE2\x82\xAC"},
      {"", ""},
  };
  qv::testing::TempHome home;
  {
    std::ofstream json(home.file("lines.json"), std::ios::binary);
    std::ofstream csv(home.file("lines.csv"), std::ios::binary);
    csv << FileHeader(RecordFormat::kCsv);
    for (const Case& c : cases) {
      const SyslogMessage m = Record("h\xE9", "10.0.0.1", 1, 5, 0, c.bytes);
      json << FormatFileLine(m, RecordFormat::kJsonLines);
      csv << FormatFileLine(m, RecordFormat::kCsv);
    }
  }
  // One line per record: the JSON message as UTF-8 in hex, then the CSV field as bytes in hex
  // (RFC 4180 keeps bytes as they are).
  const std::string script =
      "import csv, json, sys\n"
      "for line in open(sys.argv[1], 'rb').read().split(b'\\n')[:-1]:\n"
      "    o = json.loads(line)\n"
      "    assert o['host'] == 'h\\u00e9' and o['facility_name'] == 'user' and o['sent'] is None, o\n"
      "    print('json', o['message'].encode('utf-8').hex())\n"
      "with open(sys.argv[2], newline='', encoding='latin-1') as f:\n"
      "    rows = list(csv.reader(f, strict=True))\n"
      "assert rows[0][9] == 'message' and len(rows[0]) == 10, rows[0]\n"
      "for row in rows[1:]:\n"
      "    assert len(row) == 10, row\n"
      "    print('csv', row[9].encode('latin-1').hex())\n";
  std::ofstream(home.file("read.py")) << script;
  const std::string command = "python3 " + home.file("read.py") + " " + home.file("lines.json") + " " + home.file("lines.csv");
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, count);
  ASSERT_EQ(pclose(pipe), 0) << output;

  const auto hex = [](std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) (out += kDigits[b >> 4]) += kDigits[b & 0xF];
    return out;
  };
  std::string expected;
  for (const Case& c : cases) expected += "json " + hex(c.text) + "\n";
  for (const Case& c : cases) expected += "csv " + hex(c.bytes) + "\n";
  EXPECT_EQ(output, expected);
}

}  // namespace
}  // namespace qv
