// qvparse: shows how the system reads syslog datagram texts.
//
//   qvparse [--from ADDRESS] [TEXT...]
//
// Parses each TEXT (or each line of standard input when none is given) as a datagram from
// ADDRESS (default 192.0.2.1, a remote sender) and prints its detail block and the record line
// that history and relay carry.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "core/message/syslog_message.h"

namespace {

void Show(const std::string& address, const std::string& text) {
  qv::SyslogMessage record;
  record.ParseDatagram(address, 514, text);
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
  if (texts.empty()) {
    for (std::string line; std::getline(std::cin, line);) Show(address, line);
  }
  for (const std::string& text : texts) Show(address, text);
  return 0;
}
