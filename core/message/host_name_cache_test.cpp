#include "core/message/host_name_cache.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

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

TEST(HostNameCacheTest, TheSystemResolverNamesLoopback) {
  CHostNameCache cache;
  EXPECT_EQ(cache.Resolve("127.0.0.1"), "localhost");  // from /etc/hosts
}

}  // namespace
}  // namespace qv
