#include "platform/eventlog/message_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "testing/temp_home.h"

namespace qv::evt {
namespace {

using Args = std::vector<std::string>;

TEST(MessageFileTest, MessagesAreReadWithTheirIdentifiersAndLineEnds) {
  const CMessageFile file = CMessageFile::Parse(
      "; a comment\r\n"
      "MessageId=1000\r\n"
      "Severity=Warning\r\n"
      "SymbolicName=DISK_FULL\r\n"
      "Disk %1 is full.\r\n"
      ".\r\n"
      "stray text outside a message\n"
      "MessageId=\n"
      "line one\n"
      "\n"
      "line three%0\n"
      ".\n"
      "messageid = 0xC0000010\n"
      "; not a comment inside a message\n"
      ".\n"
      "MessageId=banana\n"
      "dropped\n"
      ".\n"
      "MessageId=5000000000\n"
      "too large, dropped\n"
      ".\n"
      "MessageId=7\n"
      "never ends\n");
  ASSERT_NE(file.Find(1000), nullptr);
  EXPECT_EQ(*file.Find(1000), "Disk %1 is full.\r\n");
  ASSERT_NE(file.Find(1001), nullptr);
  EXPECT_EQ(*file.Find(1001), "line one\r\n\r\nline three%0\r\n");
  ASSERT_NE(file.Find(0xC0000010), nullptr);
  EXPECT_EQ(*file.Find(0xC0000010), "; not a comment inside a message\r\n");
  EXPECT_EQ(file.Find(7), nullptr);
  EXPECT_EQ(file.Find(705032704), nullptr);  // 5000000000 cut to 32 bits
  EXPECT_EQ(file.Find(0), nullptr);
}

TEST(MessageFileTest, FilesThatCannotBeReadOrAreNoMessageFilesHoldNothing) {
  qv::testing::TempHome home;
  EXPECT_FALSE(CMessageFile::Load(home.file("missing.txt")).has_value());
  std::ofstream(home.file("binary.dll"), std::ios::binary) << std::string("MZ\x90\0\x03\0\0\0\xff\xff", 10);
  const auto binary = CMessageFile::Load(home.file("binary.dll"));
  ASSERT_TRUE(binary.has_value());
  EXPECT_EQ(binary->Find(0), nullptr);
}

TEST(FormatMessageTest, InsertionsAndEscapes) {
  EXPECT_EQ(FormatMessage("Disk %1 on %2 is full.%n", {"C", "host"}), "Disk C on host is full.\r\n");
  EXPECT_EQ(FormatMessage("%2%1%2", {"a", "b"}), "bab");
  EXPECT_EQ(FormatMessage("100%% %. %! %t|%r|% |", {}), "100% . ! \t|\r| |");
  EXPECT_EQ(FormatMessage("kept\r\n%0dropped", {}), "kept\r\n");
  EXPECT_EQ(FormatMessage("[%1!-6s!][%1!6s!][%1!.2s!][%1!d!]", {"abc"}), "[abc   ][   abc][ab][abc]");
  EXPECT_EQ(FormatMessage("%12 then %1", Args(12, "x")), "x then x");
  EXPECT_EQ(FormatMessage("%123", Args(12, "x")), "x3");
  EXPECT_EQ(FormatMessage("%q and a trailing %", {}), "%q and a trailing %");
}

TEST(FormatMessageTest, InsertionsWithoutAStringStayAsWritten) {
  EXPECT_EQ(FormatMessage("%1 %2 %3!s! %99", {"only"}), "only %2 %3!s! %99");
  EXPECT_EQ(FormatMessage("%1", {}), "%1");
  EXPECT_EQ(FormatMessage("%1!99999999s!", {"x"}).size(), 4096u);  // width is bounded
}

TEST(FormatEventMessageTest, ParameterStringsAreLookedUpInTheSameFile) {
  const CMessageFile file = CMessageFile::Parse(
      "MessageId=1\nAccess %1 to %2 (%3)%0\n.\n"
      "MessageId=1234\nRead Data%0\n.\n"
      "MessageId=77\nwith %1 inside%0\n.\n");
  EXPECT_EQ(FormatEventMessage(file, 1, {"%%1234", "%%999", "file"}), "Access Read Data to %%999 (file)");
  EXPECT_EQ(FormatEventMessage(file, 1, {"%%77", "%%", "%%12x"}), "Access with %1 inside to %% (%%12x)");
  EXPECT_EQ(FormatEventMessage(file, 2, {"a"}), std::nullopt);
}

TEST(OwnMessageFileTest, EventZeroIsItsOneInsertionString) {
  qv::testing::TempHome home;
  ASSERT_TRUE(InstallOwnMessageFile());
  EXPECT_EQ(OwnMessageFilePath(), home.file("qvmsg.txt"));
  ASSERT_TRUE(InstallOwnMessageFile());  // a second time changes nothing
  const auto file = CMessageFile::Load(OwnMessageFilePath());
  ASSERT_TRUE(file.has_value());
  const std::string detail = "Received: x\r\nMessage: 100% it's %1 \"quoted\"";
  EXPECT_EQ(FormatEventMessage(*file, 0, {detail}), detail);
  EXPECT_EQ(FormatEventMessage(*file, 1, {detail}), std::nullopt);

  std::ofstream(OwnMessageFilePath()) << "damaged";
  ASSERT_TRUE(InstallOwnMessageFile());
  EXPECT_EQ(FormatEventMessage(*CMessageFile::Load(OwnMessageFilePath()), 0, {"x"}), "x");
}

}  // namespace
}  // namespace qv::evt
