#include "ui/find/address_names.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace qv {

namespace {

bool IsRunCharacter(char c) { return (c >= '0' && c <= '9') || c == '.'; }

bool IsDottedAddress(const std::string& run) {
  return std::count(run.begin(), run.end(), '.') == 3 && inet_addr(run.c_str()) != INADDR_NONE;
}

// Replaces every occurrence of `run` not adjoined by another digit or dot.
void ReplaceStandalone(std::string& text, const std::string& run, const std::string& name) {
  for (size_t at = text.find(run); at != std::string::npos; at = text.find(run, at)) {
    const size_t end = at + run.size();
    const bool alone = (at == 0 || !IsRunCharacter(text[at - 1])) && (end == text.size() || !IsRunCharacter(text[end]));
    if (!alone) {
      at = end;
      continue;
    }
    text.replace(at, run.size(), name);
    at += name.size();
  }
}

}  // namespace

AddressReplacement ReplaceAddresses(const std::string& text, const AddressNameLookup& lookup) {
  AddressReplacement result{text, false};
  size_t position = 0;
  while (true) {
    const size_t begin = text.find_first_of("0123456789", position);
    if (begin == std::string::npos) break;
    size_t end = begin;
    while (end < text.size() && IsRunCharacter(text[end])) ++end;
    const std::string run = text.substr(begin, end - begin);
    if (IsDottedAddress(run)) {
      const std::optional<std::string> name = lookup(run);
      if (!name) {
        result.pending = true;
      } else if (!name->empty()) {
        ReplaceStandalone(result.text, run, *name);
      }
    }
    position = end;
  }
  return result;
}

struct CBackgroundNameResolver::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::string> queue;
  std::map<std::string, std::optional<std::string>> answers;  // nullopt: queued
  std::function<void()> onResolved;
  bool stopping = false;
};

CBackgroundNameResolver::CBackgroundNameResolver(std::function<void()> onResolved, CHostNameCache::ReverseLookup lookup)
    : shared_(std::make_shared<Shared>()) {
  shared_->onResolved = std::move(onResolved);
  std::thread([shared = shared_, lookup = std::move(lookup)]() mutable {
    // This thread may wait for slow answers: nobody else waits on it.
    CHostNameCache cache(std::move(lookup), CHostNameCache::Options{std::chrono::minutes(1), 65536, 8});
    std::unique_lock lock(shared->mutex);
    while (true) {
      shared->wake.wait(lock, [&] { return shared->stopping || !shared->queue.empty(); });
      if (shared->stopping) return;
      const std::string address = std::move(shared->queue.front());
      shared->queue.pop_front();
      lock.unlock();
      std::string name = cache.Resolve(address);
      lock.lock();
      shared->answers[address] = std::move(name);
      if (shared->stopping) return;
      if (shared->onResolved) {
        // Called under the lock, so the destructor cannot pass between the check and the call.
        shared->onResolved();
      }
    }
  }).detach();
}

CBackgroundNameResolver::~CBackgroundNameResolver() {
  std::lock_guard lock(shared_->mutex);
  shared_->stopping = true;
  shared_->onResolved = nullptr;
  shared_->wake.notify_all();
}

std::optional<std::string> CBackgroundNameResolver::Lookup(const std::string& dottedAddress) {
  std::lock_guard lock(shared_->mutex);
  const auto [found, inserted] = shared_->answers.try_emplace(dottedAddress);
  if (inserted) {
    shared_->queue.push_back(dottedAddress);
    shared_->wake.notify_one();
  }
  return found->second;
}

}  // namespace qv
