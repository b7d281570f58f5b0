// qvparse: shows how the system reads syslog datagram texts.
//
//   qvparse [--strict] [--from ADDRESS] TEXT...
//   qvparse [--strict] [--from ADDRESS] -
//
// Parses each TEXT as a datagram from ADDRESS (default 192.0.2.1, a remote sender), exactly as
// the programs read it with the header forms stored in the settings ("rfc5424", "lenient",
// "yearfix", "rfc5424sd"), and prints its detail block and the record line that history and
// relay carry. With "-" it reads one datagram per line of standard input and prints only its
// record line, so that a captured log of a device can be checked in bulk. "--strict" reads as
// "lenient" 0 does. Host names are not looked up. Without a datagram it prints its usage and
// exits with 2.

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

void ShowDetails(qv::CDatagramReader& reader, const std::string& address, const std::string& text) {
  const qv::SyslogMessage record = reader.Read(address, 514, text);
  std::fputs(record.FormatDetailBlock().c_str(), stdout);
  std::printf("Sent: %s\r\nRecord line: %s\r\n", record.FormatTimeSent().c_str(), record.FormatRecordLine().c_str());
}

// The record line of each line of standard input, one output line each (without the CR).
void ShowRecordLines(qv::CDatagramReader& reader, const std::string& address) {
  for (std::string line; std::getline(std::cin, line);) {
    std::string record = reader.Read(address, 514, line).FormatRecordLine();
    record.resize(record.size() - 2);
    std::puts(record.c_str());
  }
}

int Usage() {
  std::fputs("usage: qvparse [--strict] [--from ADDRESS] TEXT...\n"
             "       qvparse [--strict] [--from ADDRESS] -   (one datagram per line of standard input)\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string address = "192.0.2.1";
  bool strict = false;
  bool fromInput = false;
  std::vector<std::string> texts;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--from") == 0 && i + 1 < argc) {
      address = argv[++i];
    } else if (std::strcmp(argv[i], "--strict") == 0) {
      strict = true;
    } else if (std::strcmp(argv[i], "-") == 0) {
      fromInput = true;
    } else {
      texts.emplace_back(argv[i]);
    }
  }
  if (texts.empty() == !fromInput) return Usage();  // neither, or both
  qv::ParseOptions options = StoredParseOptions();
  if (strict) options.lenient = false;
  qv::CDatagramReader reader(options, false);
  if (fromInput) ShowRecordLines(reader, address);
  for (const std::string& text : texts) ShowDetails(reader, address, text);
  return 0;
}
