#include "core/message/host_name_cache.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace qv {
namespace {

TEST(HostNameCacheTest, EachAddressIsLookedUpOnceFailuresIncluded) {
  int lookups = 0;
  CHostNameCache cache([&lookups](uint32_t address) {
    ++lookups;
    return address == inet_addr("10.0.0.1") ? std::string("router1") : std::string();
  });
  EXPECT_EQ(cache.Resolve("10.0.0.1"), "router1");
  EXPECT_EQ(cache.Resolve("10.0.0.2"), "");
  EXPECT_EQ(cache.Resolve("10.0.0.1"), "router1");
  EXPECT_EQ(cache.Resolve("10.0.0.2"), "");
  EXPECT_EQ(lookups, 2);
  cache.Clear();
  EXPECT_EQ(cache.Resolve("10.0.0.2"), "");
  EXPECT_EQ(lookups, 3);
}

TEST(HostNameCacheTest, ASilentResolverHoldsTheCallerOnceAndBriefly) {
  using namespace std::chrono_literals;
  // A resolver that answers only when the test lets it (or after 5 s, so that a cache that
  // waits for it fails the timing checks instead of hanging).
  auto gate = std::make_shared<std::promise<void>>();
  std::shared_future<void> opened = gate->get_future().share();
  auto calls = std::make_shared<std::atomic<int>>(0);
  CHostNameCache cache(
      [opened, calls](uint32_t address) {
        ++*calls;
        opened.wait_for(5s);
        return address == inet_addr("10.0.0.1") ? std::string("late-name") : std::string();
      },
      CHostNameCache::Options{200ms, 65536, 2});
  auto timed = [&cache](const char* address, std::string* name) {
    const auto started = std::chrono::steady_clock::now();
    *name = cache.Resolve(address);
    return std::chrono::steady_clock::now() - started;
  };

  std::string name;
  const auto first = timed("10.0.0.1", &name);
  EXPECT_EQ(name, "");
  EXPECT_GE(first, 190ms);
  EXPECT_LT(first, 2s);
  // The resolver is overdue: nobody waits for it again, and no third look-up is started.
  EXPECT_LT(timed("10.0.0.1", &name), 100ms);
  EXPECT_LT(timed("10.0.0.2", &name), 100ms);
  EXPECT_LT(timed("10.0.0.3", &name), 100ms);
  EXPECT_EQ(cache.size(), 2u);
  for (int wait = 0; wait < 100 && *calls < 2; ++wait) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(*calls, 2);

  // The late answers are kept; the address that found every look-up busy is tried again.
  gate->set_value();
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (cache.Resolve("10.0.0.1") != "late-name" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(cache.Resolve("10.0.0.1"), "late-name");
  EXPECT_EQ(cache.Resolve("10.0.0.3"), "");
  EXPECT_EQ(*calls, 3);
}

TEST(HostNameCacheTest, TheLeastRecentlyUsedAddressIsForgottenFirst) {
  auto lookups = std::make_shared<std::map<uint32_t, int>>();
  auto mutex = std::make_shared<std::mutex>();
  CHostNameCache cache(
      [lookups, mutex](uint32_t address) {
        std::lock_guard<std::mutex> lock(*mutex);
        ++(*lookups)[address];
        return std::string("h") + std::to_string(address >> 24);
      },
      CHostNameCache::Options{std::chrono::seconds(5), 3, 8});
  for (const char* address : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.1", "10.0.0.4"}) cache.Resolve(address);
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.Resolve("10.0.0.1"), "h1");  // used again before 10.0.0.4 came: kept
  EXPECT_EQ(cache.Resolve("10.0.0.4"), "h4");
  EXPECT_EQ(cache.Resolve("10.0.0.2"), "h2");  // forgotten, looked up again
  std::lock_guard<std::mutex> lock(*mutex);
  EXPECT_EQ(*lookups, (std::map<uint32_t, int>{{inet_addr("10.0.0.1"), 1},
                                               {inet_addr("10.0.0.2"), 2},
                                               {inet_addr("10.0.0.3"), 1},
                                               {inet_addr("10.0.0.4"), 1}}));
}

TEST(HostNameCacheTest, TheSystemResolverNamesLoopback) {
  CHostNameCache cache;
  EXPECT_EQ(cache.Resolve("127.0.0.1"), "localhost");  // from /etc/hosts
}

}  // namespace
}  // namespace qv
