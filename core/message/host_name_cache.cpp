#include "core/message/host_name_cache.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <utility>

namespace qv {

std::string SystemReverseLookup(uint32_t addressNetworkOrder) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = addressNetworkOrder;
  char name[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, name, sizeof name, nullptr, 0,
                  NI_NAMEREQD) != 0) {
    return "";
  }
  return name;
}

CHostNameCache::CHostNameCache() : CHostNameCache(SystemReverseLookup) {}

CHostNameCache::CHostNameCache(ReverseLookup lookup) : lookup_(std::move(lookup)) {}

std::string CHostNameCache::Resolve(std::string_view dottedAddress) {
  const uint32_t address = inet_addr(std::string(dottedAddress).c_str());
  for (const Entry& entry : entries_) {
    if (entry.address == address) return entry.name;
  }
  entries_.push_back({lookup_(address), address});
  return entries_.back().name;
}

}  // namespace qv
