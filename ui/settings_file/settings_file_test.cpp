#include "ui/settings_file/settings_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "core/settings/settings_store.h"
#include "rules/rule.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

const CSettingsStore& Store() { return AppSettings(); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Every stored field of a rule, as one comparable text.
std::string Describe(const char* section) {
  CRule rule;
  rule.Load(section);
  std::ostringstream out;
  rule.WriteSettingsLines(out, section);
  return out.str();
}

// A data root holding every kind of entry the file carries.
void FillStore() {
  const CSettingsStore& store = Store();
  store.SetInt("Settings", "hlcount", 2);
  store.SetString("Highlights\\highlight0", "String", "disk error");
  store.SetInt("Highlights\\highlight0", "useregexp", 1);
  store.SetInt("Highlights\\highlight0", "fg", 0x0000FF);
  store.SetInt("Highlights\\highlight0", "bg", 0x00FFFF);
  store.SetString("Highlights\\highlight1", "String", "err");  // colours absent: the defaults go out

  CRule mail;
  mail.Name = "Mail on disk";
  mail.Message = "disk full on /var";
  mail.IP = 3232235786u;  // 192.168.1.10, above what a signed 32-bit reading holds
  mail.Severity = 12;
  mail.Action = kActionSendMail;
  mail.ActionValue = "ops@example.org";
  mail.EMailSubject = "Disk $host";
  mail.EMailInclude = false;
  mail.Highlighted = true;  // never leaves the store for a rule
  mail.ThreshSecs = 604800;
  mail.Save("Rules\\rule0");
  CRule trap;
  trap.Name = "Trap";
  trap.Enabled = 0;
  trap.Action = kActionSnmpTrap;
  trap.ActionValue = "nms.example.org";
  trap.SNMPCommunity = "private";
  trap.SNMPSpecificType = 4000000000u;
  trap.Facility = 23;
  trap.Save("Rules\\rule1");
  CRule stale;  // beyond the count: never exported
  stale.Name = "stale";
  stale.Save("Rules\\rule2");
  store.SetInt("Settings", "rulescount", 2);

  CRule filter;
  filter.Name = "Highlighted from router";
  filter.Hostname = "router1";
  filter.Highlighted = true;  // kept for a filter
  filter.UseRegExp = true;
  filter.Message = "^link (up|down)$";
  filter.Save("Custom\\custom0");
  store.SetInt("Settings", "customcount", 1);
  store.SetString("Settings", "mailpassword", "s3cret-of-the-mail-server");  // never exported
}

TEST(SettingsFileTest, ExportWritesTheLinesInOrderAndImportIntoAFreshRootGivesTheSameSettings) {
  qv::testing::TempHome exporting;
  FillStore();
  const std::string file = exporting.file("settings.txt");
  WriteFile(file, std::string(10000, 'x'));  // replaced, not appended to
  ASSERT_TRUE(ExportSettings(file, HighlightColourDefaults{0x111111, 0xEEEEEE}));
  const std::string text = ReadFile(file);

  EXPECT_EQ(text.substr(0, text.find("i Settings rulescount")),
            "i Settings hlcount 2\r\n"
            "s Highlights\\highlight0 String disk error\r\n"
            "i Highlights\\highlight0 useregexp 1\r\n"
            "i Highlights\\highlight0 fg 255\r\n"
            "i Highlights\\highlight0 bg 65535\r\n"
            "s Highlights\\highlight1 String err\r\n"
            "i Highlights\\highlight1 useregexp 0\r\n"
            "i Highlights\\highlight1 fg 1118481\r\n"
            "i Highlights\\highlight1 bg 15658734\r\n");
  EXPECT_NE(text.find("i Settings rulescount 2\r\ns Rules\\rule0 Name Mail on disk\r\n"), std::string::npos);
  EXPECT_NE(text.find("i Rules\\rule0 IP 3232235786\r\n"), std::string::npos);
  EXPECT_NE(text.find("i Rules\\rule0 Highlighted 0\r\n"), std::string::npos);
  EXPECT_NE(text.find("i Rules\\rule1 Enabled 0\r\n"), std::string::npos);  // disabled rules go out too
  EXPECT_EQ(text.find("stale"), std::string::npos);
  EXPECT_EQ(text.find("s3cret"), std::string::npos);
  const std::size_t custom = text.find("i Settings customcount 1\r\n");
  ASSERT_NE(custom, std::string::npos);
  EXPECT_GT(custom, text.find("Rules\\rule1 SNMPGenericType"));
  EXPECT_NE(text.find("i Custom\\custom0 Highlighted 1\r\n", custom), std::string::npos);
  EXPECT_EQ(text.compare(text.size() - 2, 2, "\r\n"), 0);

  std::vector<std::string> expected;
  for (const char* section : {"Rules\\rule0", "Rules\\rule1", "Custom\\custom0"}) expected.push_back(Describe(section));
  EXPECT_NE(expected[0].find("Highlighted 1"), std::string::npos);  // as stored before the export

  qv::testing::TempHome importing;
  const SettingsImportResult result = ImportSettings(file);
  EXPECT_TRUE(result.completed);
  EXPECT_EQ(result.ignored, 5);  // the empty texts: absent in the new root, read as empty again
  EXPECT_EQ(Store().GetInt("Settings", "rulescount", 0), 2);
  EXPECT_EQ(Store().GetInt("Settings", "customcount", 0), 1);
  EXPECT_EQ(Store().GetInt("Settings", "hlcount", 0), 2);
  expected[0].replace(expected[0].find("Highlighted 1"), 13, "Highlighted 0");
  EXPECT_EQ(Describe("Rules\\rule0"), expected[0]);
  EXPECT_EQ(Describe("Rules\\rule1"), expected[1]);
  EXPECT_EQ(Describe("Custom\\custom0"), expected[2]);
  EXPECT_EQ(Store().GetString("Rules\\rule0", "Message"), "disk full on /var");
  EXPECT_EQ(static_cast<uint32_t>(Store().GetInt("Rules\\rule0", "IP", 0)), 3232235786u);
  EXPECT_EQ(static_cast<uint32_t>(Store().GetInt("Rules\\rule1", "SNMPSpecificType", 0)), 4000000000u);
  EXPECT_EQ(Store().GetString("Highlights\\highlight0", "String"), "disk error");
  EXPECT_EQ(Store().GetInt("Highlights\\highlight0", "useregexp", 0), 1);
  EXPECT_EQ(Store().GetInt("Highlights\\highlight0", "bg", 0), 0x00FFFF);
  EXPECT_EQ(Store().GetInt("Highlights\\highlight1", "fg", 0), 0x111111);
  EXPECT_EQ(Store().GetString("Rules\\rule2", "Name", "absent"), "absent");
}

TEST(SettingsFileTest, AHandWrittenFileImportsLineByLineAsTheFormatSays) {
  qv::testing::TempHome home;
  Store().SetString("Settings", "mailserver", "kept.example.org");
  const std::string file = home.file("hand.txt");
  WriteFile(file,
            "i Settings udpport 1514\r\n"
            "s Rules\\rule0 Message  disk   full  \r\n"    // blanks inside and at the end are kept
            "i Rules\\rule0 Facility -3xyz\r\n"            // atoi: stops at the first non-digit
            "i Rules\\rule0 ThreshSecs abc\r\n"            // no digits: 0
            "x Settings mailserver ignored.example\r\n"    // another kind
            "s Settings mailserver\r\n"                    // three parts only
            "s Settings mailserver \r\n"                   // an empty value
            "\r\n"
            "s\tSettings\t\tmailfrom\tq@example.org\r\n"   // any white space separates
            "s Settings maildomain example.org\rtrailing\r\n"
            "s Settings histpath /srv/no line end");       // the last line needs no line end
  const SettingsImportResult result = ImportSettings(file);
  EXPECT_TRUE(result.completed);
  EXPECT_EQ(result.applied, 7);
  EXPECT_EQ(result.ignored, 4);
  EXPECT_EQ(Store().GetInt("Settings", "udpport", 514), 1514);
  EXPECT_EQ(Store().GetString("Rules\\rule0", "Message"), "disk   full  ");
  EXPECT_EQ(Store().GetInt("Rules\\rule0", "Facility", 0), -3);
  EXPECT_EQ(Store().GetInt("Rules\\rule0", "ThreshSecs", 9), 0);
  EXPECT_EQ(Store().GetString("Settings", "mailserver"), "kept.example.org");
  EXPECT_EQ(Store().GetString("Settings", "mailfrom"), "q@example.org");
  EXPECT_EQ(Store().GetString("Settings", "maildomain"), "example.org");
  EXPECT_EQ(Store().GetString("settings", "histpath"), "/srv/no line end");

  EXPECT_FALSE(ImportSettings(home.file("missing.txt")).completed);
}

TEST(SettingsFileTest, PartsLongerThanTheLimitRefuseTheirLineAndNothingElse) {
  qv::testing::TempHome home;
  const std::string limit(kSettingsPartLimit, 'v');
  const std::string over(kSettingsPartLimit + 1, 'v');
  std::istringstream in("s Settings a " + limit + "\r\n" +
                        "s Settings b " + over + "\r\n" +
                        "s " + over + " c x\r\n" +
                        "s Settings " + over + " x\r\n" +
                        "s Settings d " + std::string(1 << 20, 'w') + "\r\n" +  // far beyond any buffer
                        "i Settings e 7\r\n");
  const SettingsImportResult result = ImportSettings(in);
  EXPECT_TRUE(result.completed);
  EXPECT_EQ(result.applied, 2);
  EXPECT_EQ(result.ignored, 4);
  EXPECT_EQ(Store().GetString("Settings", "a"), limit);
  EXPECT_EQ(Store().GetString("Settings", "b", "absent"), "absent");
  EXPECT_EQ(Store().GetString("Settings", "d", "absent"), "absent");
  EXPECT_EQ(Store().GetInt("Settings", "e", 0), 7);
}

TEST(SettingsFileTest, IntegersAreReadAsAtoiReadsThemAndKeepThirtyTwoBits) {
  EXPECT_EQ(ReadSettingsInteger("  42"), 42);
  EXPECT_EQ(ReadSettingsInteger("+7 8"), 7);
  EXPECT_EQ(ReadSettingsInteger("-2"), -2);
  EXPECT_EQ(ReadSettingsInteger("--2"), 0);
  EXPECT_EQ(ReadSettingsInteger(""), 0);
  EXPECT_EQ(ReadSettingsInteger("4294967295"), -1);
  EXPECT_EQ(ReadSettingsInteger("2147483648"), INT32_MIN);
  EXPECT_EQ(ReadSettingsInteger("4294967298"), 2);  // longer numbers wrap
}

}  // namespace
}  // namespace qv
