#include "reception/datagram_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace qv {

CDatagramReader::CDatagramReader(const ParseOptions& options, bool resolveNames, CHostNameCache::ReverseLookup lookup)
    : options_(options), resolveNames_(resolveNames), names_(std::move(lookup)) {}

SyslogMessage CDatagramReader::Read(std::string_view senderAddress, int32_t senderPort, std::string_view text) {
  // Most datagrams hold no line feed after their first byte: those are parsed where they lie.
  std::string_view flat = text;
  if (text.size() > 1 && std::memchr(text.data() + 1, '\n', text.size() - 1) != nullptr) {
    text_.assign(text);
    std::replace(text_.begin() + 1, text_.end(), '\n', ' ');
    flat = text_;
  }

  SyslogMessage record;
  record.ParseDatagram(senderAddress, senderPort, flat, options_);
  FillHostName(record);
  return record;
}

void CDatagramReader::FillHostName(SyslogMessage& record) {
  const bool ipv4 = record.ipAddress.find(':') == std::string::npos;
  if (resolveNames_ && ipv4 && record.hostName.empty()) record.hostName = names_.Resolve(record.ipAddress);
}

}  // namespace qv
