#pragma once
// Reverse name look-ups of sender addresses, cached per message store. Failures are cached too,
// so an address is looked up at most once while it stays in the cache.
//
// A look-up never holds the caller for long: it runs on a thread of its own, and Resolve waits
// for it at most Options::wait. A look-up that takes longer goes on in the background and its
// answer is kept for later messages from that address; meanwhile they get an empty name at
// once, and while any look-up is overdue Resolve waits for no other (the resolver is evidently
// slow), so a silent name server costs the receiving thread one wait, not one per address. At
// most Options::maxPending look-ups run at once; an address met while all are busy gets an
// empty name and is tried again at its next message.
//
// The cache keeps the Options::capacity most recently used addresses; finding one takes
// constant time.
//
// Resolve and Clear are meant for one thread (the receiving thread); the look-ups' threads
// share the cache's state safely and may outlive the cache, so the look-up function must stay
// usable until every look-up it started has returned.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

class CHostNameCache {
 public:
  // Looks up the name of an IPv4 address in network order; empty when there is none. Called on
  // a look-up thread.
  using ReverseLookup = std::function<std::string(uint32_t addressNetworkOrder)>;

  struct Options {
    std::chrono::milliseconds wait{2000};  // the longest Resolve waits for a new look-up
    std::size_t capacity = 65536;          // addresses kept; 0: no limit
    std::size_t maxPending = 8;            // look-ups running at once
  };

  CHostNameCache();
  explicit CHostNameCache(ReverseLookup lookup);
  CHostNameCache(ReverseLookup lookup, Options options);
  ~CHostNameCache();
  CHostNameCache(const CHostNameCache&) = delete;
  CHostNameCache& operator=(const CHostNameCache&) = delete;

  // The host name for a dotted address: from the cache, or by a reverse look-up waited for at
  // most Options::wait; empty when there is none (yet).
  std::string Resolve(std::string_view dottedAddress);
  // Forgets every entry (the windowed program does so when its store is emptied).
  void Clear();
  // Addresses held, answered or still being looked up.
  std::size_t size() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// The platform's reverse look-up (the resolver: /etc/hosts, DNS).
std::string SystemReverseLookup(uint32_t addressNetworkOrder);

}  // namespace qv
