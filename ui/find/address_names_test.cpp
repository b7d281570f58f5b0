#include "ui/find/address_names.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace qv {
namespace {

AddressNameLookup Known(std::map<std::string, std::string> names) {
  return [names = std::move(names)](const std::string& address) -> std::optional<std::string> {
    const auto found = names.find(address);
    if (found == names.end()) return std::nullopt;
    return found->second;
  };
}

TEST(AddressNamesTest, OnlyValidFourPartAddressesAreReplaced) {
  const AddressNameLookup lookup = Known({{"192.168.1.10", "gateway"},
                                         {"10.0.0.1", "router"},
                                         {"255.255.255.255", "broadcast"},
                                         {"1.2.3.4", ""},
                                         {"10.0.0.11", ""},
                                         {"110.0.0.1", ""}});
  EXPECT_EQ(ReplaceAddresses("login from 192.168.1.10 failed", lookup).text, "login from gateway failed");
  EXPECT_EQ(ReplaceAddresses("192.168.1.10 to 192.168.1.10.", lookup).text, "gateway to 192.168.1.10.");
  // Not addresses, or not the same address: left alone. An occurrence inside a longer run
  // (10.0.0.11, 110.0.0.1) is another address, not this one.
  for (const char* unchanged : {"to 255.255.255.255 now", "version 10.0.1.2.3", "1.2.3 and 1.2.3.4.5",
                                "nameless 1.2.3.4", "no digits at all", "", "10.0.0.11 and 110.0.0.1",
                                "999.0.0.1", "1..2.3"}) {
    const AddressReplacement result = ReplaceAddresses(unchanged, lookup);
    EXPECT_EQ(result.text, unchanged);
    EXPECT_FALSE(result.pending) << unchanged;
  }
  EXPECT_EQ(ReplaceAddresses("10.0.0.11 then 10.0.0.1", lookup).text, "10.0.0.11 then router");

  const AddressReplacement waiting = ReplaceAddresses("from 10.0.0.1 via 172.16.0.9", lookup);
  EXPECT_EQ(waiting.text, "from router via 172.16.0.9");
  EXPECT_TRUE(waiting.pending);
}

TEST(AddressNamesTest, BackgroundResolverAnswersLaterAndLooksUpEachAddressOnce) {
  std::mutex mutex;
  std::condition_variable arrived;
  int answers = 0;
  std::atomic<int> lookups{0};
  std::atomic<bool> release{false};
  std::map<uint32_t, std::string> names{{inet_addr("192.168.1.10"), "gateway"}};
  CBackgroundNameResolver resolver(
      [&] {
        std::lock_guard lock(mutex);
        ++answers;
        arrived.notify_all();
      },
      [&](uint32_t address) {
        ++lookups;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a slow resolver
        const auto found = names.find(address);
        return found == names.end() ? std::string() : found->second;
      });
  // The first calls answer at once, without waiting for the slow resolver.
  EXPECT_FALSE(resolver.Lookup("192.168.1.10"));
  EXPECT_FALSE(resolver.Lookup("192.168.1.10"));
  EXPECT_FALSE(resolver.Lookup("10.9.9.9"));
  release = true;
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(10), [&] { return answers == 2; }));
  }
  EXPECT_EQ(resolver.Lookup("192.168.1.10"), "gateway");
  EXPECT_EQ(resolver.Lookup("10.9.9.9"), "");
  EXPECT_EQ(lookups, 2);
}

TEST(AddressNamesTest, DestroyingTheResolverDoesNotWaitForALookUp) {
  std::atomic<bool> release{false};
  std::atomic<int> calls{0};
  const auto started = std::chrono::steady_clock::now();
  {
    CBackgroundNameResolver resolver([&] { ++calls; },
                                     [&](uint32_t) {
                                       while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                       return std::string("late");
                                     });
    resolver.Lookup("10.0.0.1");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  release = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace qv
