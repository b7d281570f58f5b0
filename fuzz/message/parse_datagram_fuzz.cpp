// Any datagram text, from a remote and from a loopback sender, with every header form on or
// off, parses without fault; the record line of either holds no line break but its own CR LF,
// and what a remote sender gets stored reads back from it as the same record, its line breaks
// shown as markers.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/message/line_break_markers.h"
#include "core/message/syslog_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the header forms; the rest is the datagram.
  const qv::ParseOptions options{.rfc5424 = (data[0] & 1) != 0, .lenient = (data[0] & 2) != 0,
                                 .yearFix = (data[0] & 4) != 0, .fullStructuredData = (data[0] & 8) != 0};
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  qv::SyslogMessage remote;
  remote.ParseDatagram("192.0.2.1", 514, text, options);
  if (remote.facility < 0 || remote.facility > 25 || remote.severity < 0 || remote.severity > 7) std::abort();
  // A host name holds no comma, which would shift the fields of the record line.
  if (remote.hostName.find(',') != std::string::npos) std::abort();

  qv::SyslogMessage local;
  local.ParseDatagram("127.0.0.1", 514, text);
  // No text makes a loopback sender another sender.
  if (local.ipAddress != "127.0.0.1" || local.senderPort != 514) std::abort();
  const std::string localLine = local.FormatRecordLine();
  if (localLine.find_first_of("\r\n") != localLine.size() - 2) std::abort();

  // The record line of a parsed datagram is what history and relay carry: one line that reads
  // back as the record.
  const std::string line = remote.FormatRecordLine();
  if (line.find_first_of("\r\n") != line.size() - 2) std::abort();
  qv::SyslogMessage back;
  back.ReadRecordLine(std::string_view(line).substr(0, line.size() - 2));
  qv::SyslogMessage expected = remote;
  qv::ReplaceLineBreaks(expected.hostName);
  qv::ReplaceLineBreaks(expected.message);
  if (!(back == expected)) std::abort();
  return 0;
}
