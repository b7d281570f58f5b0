#include "platform/telephony/provider/spool_format.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/telephony/tapi.h"
#include "testing/temp_home.h"

namespace qv::simtapi {
namespace {

using namespace tapi;

TEST(SpoolFormatTest, LineFilesHaveDefaultsAndReadTheirKeys) {
  const SpoolLine plain = ParseSpoolLine("modem1", "");
  EXPECT_EQ(plain.name, "modem1");
  EXPECT_EQ(plain.mediaModes, LINEMEDIAMODE_DATAMODEM);
  EXPECT_EQ(plain.lowVersion, 0x00010003u);
  EXPECT_EQ(plain.highVersion, 0x00020002u);

  const SpoolLine line = ParseSpoolLine("m2",
                                        "# a voice line\n"
                                        "  NAME =  Office Phone \r\n"
                                        "media=voice, fax\n"
                                        "versions=0x00030000-0x00030001\n"
                                        "no equals sign here\n"
                                        "colour=blue\n");
  EXPECT_EQ(line.name, "Office Phone");
  EXPECT_EQ(line.mediaModes, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_G3FAX);
  EXPECT_EQ(line.lowVersion, 0x00030000u);
  EXPECT_EQ(line.highVersion, 0x00030001u);

  // Versions that do not read, or run backwards, leave the default.
  EXPECT_EQ(ParseSpoolLine("m", "versions=0x30001-0x30000").highVersion, 0x00020002u);
  EXPECT_EQ(ParseSpoolLine("m", "versions=banana").lowVersion, 0x00010003u);
}

TEST(SpoolFormatTest, CallFilesGiveAddressFlagsOnlyToPartiesWithANumberUnlessTold) {
  const SpoolCall incoming = ParseSpoolCall("caller=555 0100\n");
  EXPECT_FALSE(incoming.outbound);
  EXPECT_EQ(incoming.callerId, "555 0100");
  EXPECT_EQ(incoming.callerFlags, LINECALLPARTYID_ADDRESS);
  EXPECT_EQ(incoming.calledFlags, 0u);
  EXPECT_FALSE(incoming.durationSeconds);

  const SpoolCall flagged = ParseSpoolCall("caller=555\ncallerflags=unknown|UNAVAIL, blocked\n");
  EXPECT_EQ(flagged.callerFlags, LINECALLPARTYID_UNKNOWN | LINECALLPARTYID_UNAVAIL | LINECALLPARTYID_BLOCKED);
  EXPECT_EQ(ParseSpoolCall("caller=555\ncallerflags=none\n").callerFlags, 0u);

  const SpoolCall outgoing = ParseSpoolCall("direction=OUT\nline=modem2\ncalled=0800 123\napp=Dialer\nduration=3\n");
  EXPECT_TRUE(outgoing.outbound);
  EXPECT_EQ(outgoing.line, "modem2");
  EXPECT_EQ(outgoing.calledFlags, LINECALLPARTYID_ADDRESS);
  EXPECT_EQ(outgoing.appName, "Dialer");
  EXPECT_EQ(outgoing.durationSeconds, 3);
  EXPECT_FALSE(ParseSpoolCall("duration=-1").durationSeconds);
  EXPECT_FALSE(ParseSpoolCall("duration=3s").durationSeconds);
}

TEST(SpoolFormatTest, LinesAreReadInNameOrderSkippingHiddenAndOversizedFiles) {
  testing::TempHome home;
  const auto folder = home.path() / "lines";
  std::filesystem::create_directories(folder / "subfolder");
  std::ofstream(folder / "b") << "name=Second\n";
  std::ofstream(folder / "a") << "name=First\n";
  std::ofstream(folder / ".hidden") << "name=Hidden\n";
  std::ofstream(folder / "huge") << std::string(kMaxSpoolFileBytes + 1, '#');
  const auto lines = ReadSpoolLines(folder.string());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].name, "First");
  EXPECT_EQ(lines[1].id, "b");
  EXPECT_TRUE(ReadSpoolLines((home.path() / "missing").string()).empty());
}

}  // namespace
}  // namespace qv::simtapi
