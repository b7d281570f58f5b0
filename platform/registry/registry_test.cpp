#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "testing/temp_home.h"

namespace qv::reg {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  qv::testing::TempHome home_;
};

uint32_t ReadDword(HKEY key, std::string_view name) {
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(QueryValue(key, name, &type, &data), kSuccess);
  EXPECT_EQ(type, kRegDword);
  uint32_t value = 0;
  if (data.size() == sizeof value) std::memcpy(&value, data.data(), sizeof value);
  return value;
}

TEST_F(RegistryTest, ValuesRoundTripWithTheirTypesAndNamesIgnoreCase) {
  ScopedKey key;
  ASSERT_EQ(CreateKey(LocalMachine(), "Software\\Fendrake\\Quorvel\\Settings", Access::kReadWrite, key.out()),
            kSuccess);
  EXPECT_EQ(SetDword(key.get(), "udpport", 1514), kSuccess);
  EXPECT_EQ(SetSz(key.get(), "histpath", "/var/log/q"), kSuccess);
  EXPECT_EQ(SetSz(key.get(), "empty", ""), kSuccess);

  ScopedKey other;
  ASSERT_EQ(OpenKey(LocalMachine(), "SOFTWARE\\fendrake\\QUORVEL\\settings", Access::kRead, other.out()), kSuccess);
  EXPECT_EQ(ReadDword(other.get(), "UDPPORT"), 1514u);
  uint32_t type = 0;
  std::string text;
  ASSERT_EQ(QueryValue(other.get(), "HistPath", &type, &text), kSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(text, "/var/log/q");
  ASSERT_EQ(QueryValue(other.get(), "empty", &type, &text), kSuccess);
  EXPECT_EQ(text, "");
  EXPECT_EQ(QueryValue(other.get(), "absent", &type, &text), kFileNotFound);

  // Overwriting changes type and data in place; the first spelling of the name stays.
  EXPECT_EQ(SetSz(key.get(), "UDPPORT", "text now"), kSuccess);
  std::string name;
  ASSERT_EQ(EnumValue(key.get(), 2, &name, &type, &text), kSuccess);
  EXPECT_EQ(name, "udpport");
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(EnumValue(key.get(), 3, &name, &type, &text), kNoMoreItems);
}

TEST_F(RegistryTest, ReadOnlyHandlesAndMissingKeysRefuseCleanly) {
  ScopedKey missing;
  EXPECT_EQ(OpenKey(LocalMachine(), "Software\\Nothing", Access::kRead, missing.out()), kFileNotFound);
  EXPECT_FALSE(missing);

  ScopedKey created;
  ASSERT_EQ(CreateKey(LocalMachine(), "Software\\X", Access::kRead, created.out()), kSuccess);
  EXPECT_EQ(SetDword(created.get(), "a", 1), kAccessDenied);
  EXPECT_EQ(DeleteValue(created.get(), "a"), kAccessDenied);
  EXPECT_EQ(SetDword(nullptr, "a", 1), kInvalidHandle);
  EXPECT_EQ(QueryValue(nullptr, "a", nullptr, nullptr), kInvalidHandle);
}

TEST_F(RegistryTest, SubKeysEnumerateInNameOrderAndDeleteWithEverythingBelow) {
  ScopedKey rules;
  ASSERT_EQ(CreateKey(LocalMachine(), "Software\\Q\\Rules", Access::kReadWrite, rules.out()), kSuccess);
  for (const char* name : {"rule1", "Rule0", "rule2\\deeper"}) {
    ScopedKey child;
    ASSERT_EQ(CreateKey(rules.get(), name, Access::kReadWrite, child.out()), kSuccess);
    ASSERT_EQ(SetSz(child.get(), "Name", name), kSuccess);
  }
  uint32_t count = 0;
  ASSERT_EQ(QuerySubKeyCount(rules.get(), &count), kSuccess);
  EXPECT_EQ(count, 3u);
  std::string name;
  ASSERT_EQ(EnumKey(rules.get(), 0, &name), kSuccess);
  EXPECT_EQ(name, "Rule0");
  ASSERT_EQ(EnumKey(rules.get(), 2, &name), kSuccess);
  EXPECT_EQ(name, "rule2");
  EXPECT_EQ(EnumKey(rules.get(), 3, &name), kNoMoreItems);

  ScopedKey parent;
  ASSERT_EQ(OpenKey(LocalMachine(), "Software\\Q", Access::kReadWrite, parent.out()), kSuccess);
  EXPECT_EQ(DeleteKey(parent.get(), "RULES"), kSuccess);
  ScopedKey gone;
  EXPECT_EQ(OpenKey(LocalMachine(), "Software\\Q\\Rules\\rule2\\deeper", Access::kRead, gone.out()), kFileNotFound);
  // The handle opened before the deletion now reports it instead of writing into nowhere.
  EXPECT_EQ(SetDword(rules.get(), "x", 1), kKeyDeleted);
  EXPECT_EQ(DeleteKey(parent.get(), "Rules"), kFileNotFound);
}

TEST_F(RegistryTest, AWriteInOneProcessIsSeenByTheNextReadOfAnother) {
  ScopedKey key;
  ASSERT_EQ(CreateKey(LocalMachine(), "Software\\Shared", Access::kReadWrite, key.out()), kSuccess);
  ASSERT_EQ(SetDword(key.get(), "n", 1), kSuccess);
  EXPECT_EQ(ReadDword(key.get(), "n"), 1u);  // this process has the database open now

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A fresh process image would hold its own connection; a forked child must not reuse the
    // parent's, so it writes through the sqlite3 shell like any other program.
    execlp("sqlite3", "sqlite3", home_.file("registry.db").c_str(),
           "UPDATE vals SET data = X'07000000' WHERE name = 'n';", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadDword(key.get(), "n"), 7u);
}

TEST(RegistryStoreTest, AStoreThatCannotBeOpenedDeniesAccess) {
  qv::testing::TempHome home;
  const std::string blocked = home.file("plain-file");
  { std::FILE* f = std::fopen(blocked.c_str(), "w"); std::fclose(f); }
  setenv("QUORVEL_HOME", (blocked + "/home").c_str(), 1);
  ScopedKey key;
  EXPECT_EQ(CreateKey(LocalMachine(), "Software\\X", Access::kReadWrite, key.out()), kAccessDenied);
  EXPECT_FALSE(key);
}

TEST(RegistryPathTest, RootPrefixesAreStrippedWithoutRegardToCase) {
  EXPECT_EQ(StripRootPrefix("HKLM\\Software\\X"), "Software\\X");
  EXPECT_EQ(StripRootPrefix("hkey_local_machine\\Software"), "Software");
  EXPECT_EQ(StripRootPrefix("HKLM"), "");
  EXPECT_EQ(StripRootPrefix("HKLMX\\Software"), "HKLMX\\Software");
  EXPECT_EQ(StripRootPrefix("Software\\X"), "Software\\X");
}

}  // namespace
}  // namespace qv::reg
