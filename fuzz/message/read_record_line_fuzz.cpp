// Any line read as a record line leaves a record that renders and serialises without fault.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/message/syslog_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  qv::SyslogMessage record;
  record.ReadRecordLine(line);
  record.ParseFileLine(line);
  (void)record.FormatRecordLine();
  (void)record.FormatSyslogLine();
  (void)record.FormatTimeSent();
  (void)record.FormatTimeReceivedStd();
  return 0;
}
