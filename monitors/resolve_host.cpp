#include "monitors/resolve_host.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

namespace qv {
namespace {

struct Lookup {
  std::string host;
  in_addr address{};
  std::atomic<bool> found{false};  // stored after address
  CManualResetEvent done;
};

void RunLookup(const std::shared_ptr<Lookup>& lookup) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* results = nullptr;
  if (getaddrinfo(lookup->host.c_str(), nullptr, &hints, &results) == 0 && results != nullptr) {
    lookup->address = reinterpret_cast<const sockaddr_in*>(results->ai_addr)->sin_addr;
    lookup->found.store(true, std::memory_order_release);
  }
  if (results != nullptr) freeaddrinfo(results);
  lookup->done.Set();
}

}  // namespace

ResolveResult ResolveHostIPv4(const std::string& host, const CManualResetEvent& stop, in_addr* address) {
  if (inet_aton(host.c_str(), address) != 0) return ResolveResult::kResolved;
  if (host.empty()) return ResolveResult::kFailed;

  auto lookup = std::make_shared<Lookup>();
  lookup->host = host;
  try {
    std::thread(RunLookup, lookup).detach();
  } catch (const std::system_error&) {
    return ResolveResult::kFailed;  // no thread to be had: the host counts as unresolved
  }
  const int fds[] = {stop.Fd(), lookup->done.Fd()};
  const int ready = WaitForAny(fds, -1);
  if (ready == 0) return ResolveResult::kStopped;
  if (ready != 1 || !lookup->found.load(std::memory_order_acquire)) return ResolveResult::kFailed;
  *address = lookup->address;
  return ResolveResult::kResolved;
}

}  // namespace qv
