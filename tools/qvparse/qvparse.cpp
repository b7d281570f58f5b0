// qvparse: shows how the system reads syslog datagram texts.
//
//   qvparse [--from ADDRESS] [TEXT...]
//
// Parses each TEXT (or each line of standard input when none is given) as a datagram from
// ADDRESS (default 192.0.2.1, a remote sender), exactly as the programs read it with the header
// forms stored in the settings ("rfc5424", "lenient", "yearfix"), and prints its detail block
// and the record line that history and relay carry. Host names are not looked up.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "core/message/syslog_header.h"
#include "core/message/syslog_message.h"
#include "platform/paths/data_root.h"
#include "reception/datagram_reader.h"

namespace {

// The stored header forms, or the defaults (said on standard error) when the data root cannot
// be used.
qv::ParseOptions StoredParseOptions() {
  qv::UseSharedUmask();
  if (const std::string problem = qv::CheckDataRoot(); !problem.empty()) {
    std::fprintf(stderr, "qvparse: %s; reading with the default header forms\n", problem.c_str());
    return qv::ParseOptions{};
  }
  return qv::ReadParseOptions();
}

void Show(qv::CDatagramReader& reader, const std::string& address, const std::string& text) {
  const qv::SyslogMessage record = reader.Read(address, 514, text);
  std::fputs(record.FormatDetailBlock().c_str(), stdout);
  std::printf("Sent: %s\r\nRecord line: %s\r\n", record.FormatTimeSent().c_str(), record.FormatRecordLine().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string address = "192.0.2.1";
  std::vector<std::string> texts;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--from") == 0 && i + 1 < argc) {
      address = argv[++i];
    } else {
      texts.emplace_back(argv[i]);
    }
  }
  qv::CDatagramReader reader(StoredParseOptions(), false);
  if (texts.empty()) {
    for (std::string line; std::getline(std::cin, line);) Show(reader, address, line);
  }
  for (const std::string& text : texts) Show(reader, address, text);
  return 0;
}
