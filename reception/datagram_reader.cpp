#include "reception/datagram_reader.h"

#include <algorithm>
#include <utility>

namespace qv {

CDatagramReader::CDatagramReader(const ParseOptions& options, bool resolveNames, CHostNameCache::ReverseLookup lookup)
    : options_(options), resolveNames_(resolveNames), names_(std::move(lookup)) {}

SyslogMessage CDatagramReader::Read(std::string_view senderAddress, int32_t senderPort, std::string_view text) {
  text_.assign(text);
  if (text_.size() > 1) std::replace(text_.begin() + 1, text_.end(), '\n', ' ');

  SyslogMessage record;
  record.ParseDatagram(senderAddress, senderPort, text_, options_);
  const bool ipv4 = record.ipAddress.find(':') == std::string::npos;
  if (resolveNames_ && ipv4 && record.hostName.empty()) record.hostName = names_.Resolve(record.ipAddress);
  return record;
}

}  // namespace qv
