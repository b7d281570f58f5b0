#include "core/message/host_name_cache.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
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

// Shared with the look-up threads, which may finish after the cache is gone.
struct CHostNameCache::State {
  struct Entry {
    std::string name;
    bool pending = true;
    std::list<uint32_t>::iterator recency;
  };

  State(ReverseLookup lookupFunction, Options cacheOptions)
      : lookup(std::move(lookupFunction)), options(cacheOptions) {}

  // Marks the entry most recently used.
  void Touch(Entry& entry) { recent.splice(recent.begin(), recent, entry.recency); }

  Entry& Insert(uint32_t address) {
    if (options.capacity > 0 && entries.size() >= options.capacity) {
      entries.erase(recent.back());
      recent.pop_back();
    }
    recent.push_front(address);
    Entry& entry = entries[address];
    entry.recency = recent.begin();
    return entry;
  }

  void Finish(uint32_t address, std::string name) {
    std::lock_guard<std::mutex> lock(mutex);
    --running;
    // The entry may have been forgotten (Clear, or pushed out) in the meantime.
    const auto found = entries.find(address);
    if (found != entries.end() && found->second.pending) {
      found->second.name = std::move(name);
      found->second.pending = false;
    }
    answered.notify_all();
  }

  const ReverseLookup lookup;
  const Options options;
  std::mutex mutex;
  std::condition_variable answered;
  std::unordered_map<uint32_t, Entry> entries;
  std::list<uint32_t> recent;  // most recently used first
  std::size_t running = 0;     // look-ups not yet finished
};

CHostNameCache::CHostNameCache() : CHostNameCache(SystemReverseLookup) {}

CHostNameCache::CHostNameCache(ReverseLookup lookup) : CHostNameCache(std::move(lookup), Options{}) {}

CHostNameCache::CHostNameCache(ReverseLookup lookup, Options options)
    : state_(std::make_shared<State>(std::move(lookup), options)) {}

CHostNameCache::~CHostNameCache() = default;

std::string CHostNameCache::Resolve(std::string_view dottedAddress) {
  const uint32_t address = inet_addr(std::string(dottedAddress).c_str());
  State& state = *state_;
  std::unique_lock<std::mutex> lock(state.mutex);
  const auto found = state.entries.find(address);
  if (found != state.entries.end()) {
    state.Touch(found->second);
    return found->second.pending ? std::string() : found->second.name;
  }
  if (state.running >= state.options.maxPending) return "";
  // Any look-up still running now has already outlived its wait.
  const bool wait = state.running == 0;
  state.Insert(address);
  try {
    std::thread([shared = state_, address] { shared->Finish(address, shared->lookup(address)); }).detach();
  } catch (const std::system_error&) {
    state.entries.at(address).pending = false;  // no thread to be had: counts as a failed look-up
    return "";
  }
  ++state.running;
  if (!wait) return "";
  // Forgotten meanwhile (a capacity of one and another look-up finishing) counts as unanswered.
  auto entry = [&]() -> State::Entry* {
    const auto it = state.entries.find(address);
    return it == state.entries.end() ? nullptr : &it->second;
  };
  state.answered.wait_for(lock, state.options.wait, [&] { return entry() == nullptr || !entry()->pending; });
  const State::Entry* answer = entry();
  return answer == nullptr || answer->pending ? std::string() : answer->name;
}

void CHostNameCache::Clear() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->entries.clear();
  state_->recent.clear();
}

std::size_t CHostNameCache::size() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->entries.size();
}

}  // namespace qv
