// Any text given straight to the header parsers, in either reading: what they accept holds no
// host that the record line could not carry, a priority as written, stamp fields in range and,
// for the RFC 3164 forms, a message that is the sender's own text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/message/syslog_header.h"

namespace {

void CheckCommon(const qv::SyslogHeader& header, std::string_view text, std::size_t hostLimit) {
  if (header.hostName.size() > hostLimit || header.hostName.find(',') != std::string::npos) std::abort();
  if (header.priority < 0 || header.priority > 999) std::abort();
  if (header.timeSent && header.bsd) std::abort();
  // Every character of the message comes from the text, but for the few the tag adds.
  if (header.message.size() > text.size() + 4) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the reading; the rest is the text.
  const qv::ParseOptions options{.rfc5424 = true, .lenient = (data[0] & 2) != 0, .yearFix = false,
                                 .fullStructuredData = (data[0] & 8) != 0};
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  if (const auto header = qv::ParseRfc5424Header(text, options)) CheckCommon(*header, text, 255);

  if (const auto header = qv::ParseLenientHeader(text)) {
    CheckCommon(*header, text, 63);
    if (text.find(header->message) == std::string_view::npos) std::abort();
    if (!header->timeSent && !header->bsd) std::abort();
    if (const auto& stamp = header->bsd) {
      if (stamp->month < 0 || stamp->month > 11 || stamp->day < 1 || stamp->day > 31 || stamp->hour > 23 ||
          stamp->minute > 59 || stamp->second > 60) {
        std::abort();
      }
    }
  }
  return 0;
}
