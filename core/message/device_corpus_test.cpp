// Real device forms (testdata/device_forms.txt) read as mature syslog servers read them: the
// share of datagrams whose host and time sent agree must stay at 93% or more, and every one we
// read otherwise must be one the corpus explains with a "# differs:" comment, so that neither a
// regression nor a stale explanation goes unseen.

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "core/message/syslog_message.h"

namespace qv {
namespace {

struct CorpusEntry {
  int line = 0;
  bool differs = false;
  std::string host;
  std::string time;
  std::string text;
};

std::vector<CorpusEntry> ReadCorpus() {
  std::vector<CorpusEntry> entries;
  std::ifstream in(QUORVEL_DEVICE_FORMS);
  bool differs = false;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.empty()) continue;
    if (line.front() == '#') {
      differs = differs || line.rfind("# differs: ", 0) == 0;
      continue;
    }
    const std::size_t first = line.find('\t');
    const std::size_t second = line.find('\t', first + 1);
    EXPECT_NE(second, std::string::npos) << "line " << number << " needs HOST, TIME and DATAGRAM";
    if (second == std::string::npos) continue;
    entries.push_back({number, differs, line.substr(0, first), line.substr(first + 1, second - first - 1),
                       line.substr(second + 1)});
    differs = false;
  }
  return entries;
}

// The time sent in the corpus' form: a stamp with a year in UTC, one without as the sender wrote it.
std::string TimeAsWritten(int32_t timeSent, bool withYear) {
  if (timeSent == 0) return "-";
  const std::time_t seconds = timeSent;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, withYear ? "%Y-%m-%d %H:%M:%S" : "%b %d %H:%M:%S", &utc);
  return text;
}

TEST(DeviceCorpusTest, HostAndTimeAgreeWithMatureServers) {
  const std::vector<CorpusEntry> entries = ReadCorpus();
  ASSERT_GE(entries.size(), 150u);
  std::size_t agreeing = 0;
  for (const CorpusEntry& entry : entries) {
    SyslogMessage record;
    record.ParseDatagram("192.0.2.1", 514, entry.text);
    const std::string host = record.hostName.empty() ? "-" : record.hostName;
    const bool withYear = entry.time.size() > 4 && entry.time[4] == '-';
    const std::string time = TimeAsWritten(record.timeSent, withYear);
    const bool agrees = host == entry.host && time == entry.time;
    agreeing += agrees ? 1 : 0;
    EXPECT_EQ(agrees, !entry.differs) << "line " << entry.line << " read as host \"" << host << "\", time \"" << time
                                      << "\": " << entry.text;
  }
  const double share = static_cast<double>(agreeing) / static_cast<double>(entries.size());
  std::cout << "device forms: " << agreeing << " of " << entries.size() << " agree (" << share * 100 << "%)\n";
  RecordProperty("agreement", std::to_string(share));
  EXPECT_GE(share, 0.93);
}

}  // namespace
}  // namespace qv
