#pragma once
// Reverse name look-ups of sender addresses, cached per message store. Failures are cached too,
// so an address is looked up at most once. Not locked: used from the receiving thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class CHostNameCache {
 public:
  // Looks up the name of an IPv4 address in network order; empty when there is none.
  using ReverseLookup = std::function<std::string(uint32_t addressNetworkOrder)>;

  CHostNameCache();
  explicit CHostNameCache(ReverseLookup lookup);

  // The host name for a dotted address, from the cache or by a (blocking) reverse look-up.
  std::string Resolve(std::string_view dottedAddress);
  // Forgets every entry (the windowed program does so when its store is emptied).
  void Clear() { entries_.clear(); }
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string name;
    uint32_t address;
  };
  ReverseLookup lookup_;
  std::vector<Entry> entries_;
};

// The platform's reverse look-up (the resolver: /etc/hosts, DNS).
std::string SystemReverseLookup(uint32_t addressNetworkOrder);

}  // namespace qv
