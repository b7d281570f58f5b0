#include "rules/rule.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

class RuleTest : public ::testing::Test {
 protected:
  qv::testing::TempHome home_;
  const CSettingsStore& store_ = AppSettings();
};

SyslogMessage Record(int32_t facility, int32_t severity, std::string text, std::string address = "10.0.0.1") {
  SyslogMessage message;
  message.facility = facility;
  message.severity = severity;
  message.message = std::move(text);
  message.ipAddress = std::move(address);
  message.hostName = "host1";
  message.timeReceived = 1'700'000'000;
  return message;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  for (size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2) {
    lines.push_back(text.substr(begin, end - begin));
  }
  EXPECT_EQ(begin, text.size()) << "text after the last CR LF";
  return lines;
}

TEST_F(RuleTest, ConstructionTakesTheMailSettingsAndLoadDefaultsFillAnEmptySection) {
  store_.SetString("Settings", "mailsubject", "Syslog alert");
  store_.SetString("Settings", "mailtext", "See below");
  CRule rule;
  EXPECT_EQ(rule.EMailSubject, "Syslog alert");
  EXPECT_EQ(rule.EMailText, "See below");
  EXPECT_TRUE(rule.EMailInclude);
  EXPECT_EQ(rule.SNMPCommunity, "public");
  EXPECT_EQ(rule.SNMPSenderOid, "1.3.6.1.4.1.0");
  EXPECT_EQ(rule.SNMPString, "$all");
  EXPECT_EQ(rule.SNMPGenericType, 6u);
  EXPECT_FALSE(rule.HasCompiledPattern());

  rule.Name = "leftover";
  rule.Severity = 3;
  EXPECT_TRUE(rule.Load("Rules\\rule7"));
  EXPECT_EQ(rule.Enabled, 1);
  EXPECT_EQ(rule.Action, kActionMessageBox);
  EXPECT_EQ(rule.Name, "");
  EXPECT_EQ(rule.Severity, -1);
  EXPECT_EQ(rule.Facility, -1);
  EXPECT_EQ(rule.IP, 0u);
  EXPECT_EQ(rule.timeRangeEnd, 0);
}

TEST_F(RuleTest, SaveAndLoadRoundTripEveryStoredField) {
  CRule rule;
  rule.Enabled = 0;
  rule.Severity = 12;
  rule.Name = "Router alarms";
  rule.Hostname = "core-sw1";
  rule.IP = 3232235786u;
  rule.Facility = 23;
  rule.Action = kActionSnmpTrap;
  rule.ActionValue = "192.0.2.7";
  rule.ActionInt = 4;
  rule.ThreshSecs = 4000000000u;
  rule.Message = "link.*down";
  rule.UseRegExp = true;
  rule.Highlighted = true;
  rule.TimeRange = 3600;
  rule.SNMPCommunity = "private";
  rule.SNMPSenderOid = "1.3.6.1.4.1.9";
  rule.SNMPString = "$host: $msg";
  rule.SNMPStringOid = "1.3.6.1.4.1.9.1";
  rule.SNMPSpecificType = 7;
  rule.SNMPGenericType = 1;
  rule.Save("Rules\\rule0");

  CRule back;
  back.Load("Rules\\rule0");
  EXPECT_EQ(back.Enabled, 0);
  EXPECT_EQ(back.Severity, 12);
  EXPECT_EQ(back.Name, "Router alarms");
  EXPECT_EQ(back.Hostname, "core-sw1");
  EXPECT_EQ(back.IP, 3232235786u);
  EXPECT_EQ(back.Facility, 23);
  EXPECT_EQ(back.Action, kActionSnmpTrap);
  EXPECT_EQ(back.ActionValue, "192.0.2.7");
  EXPECT_EQ(back.ActionInt, 4u);
  EXPECT_EQ(back.ThreshSecs, 4000000000u);
  EXPECT_EQ(back.Message, "link.*down");
  EXPECT_TRUE(back.UseRegExp);
  EXPECT_TRUE(back.Highlighted);
  EXPECT_EQ(back.TimeRange, 3600);
  EXPECT_EQ(back.SNMPCommunity, "private");
  EXPECT_EQ(back.SNMPSenderOid, "1.3.6.1.4.1.9");
  EXPECT_EQ(back.SNMPString, "$host: $msg");
  EXPECT_EQ(back.SNMPStringOid, "1.3.6.1.4.1.9.1");
  EXPECT_EQ(back.SNMPSpecificType, 7u);
  EXPECT_EQ(back.SNMPGenericType, 1u);

  store_.SetInt("Rules\\rule0", "UseRegExp", 5);  // any non-zero flag reads as set
  back.Load("Rules\\rule0");
  EXPECT_TRUE(back.UseRegExp);
}

TEST_F(RuleTest, OnlyTheGroupOfTheLoadedActionIsRead) {
  store_.SetString("Settings", "mailsubject", "current subject");
  CRule snmp;
  snmp.Action = kActionSnmpTrap;
  snmp.SNMPCommunity = "private";
  snmp.EMailSubject = "never stored";
  snmp.Save("Rules\\rule0");
  EXPECT_EQ(store_.GetString("Rules\\rule0", "EMailSubject", "absent"), "absent");

  // Saved again as a mail rule: the SNMP values stay in the section, but are not read.
  CRule mail;
  mail.Load("Rules\\rule0");
  EXPECT_EQ(mail.SNMPCommunity, "private");
  EXPECT_EQ(mail.EMailSubject, "current subject");  // an SNMP rule carries the mail settings
  mail.Action = kActionSendMail;
  mail.EMailSubject = "Disk";
  mail.EMailInclude = false;
  mail.Save("Rules\\rule0");
  EXPECT_EQ(store_.GetString("Rules\\rule0", "SNMPCommunity"), "private");

  CRule back;
  back.Load("Rules\\rule0");
  EXPECT_EQ(back.SNMPCommunity, "public");
  EXPECT_EQ(back.EMailSubject, "Disk");
  EXPECT_FALSE(back.EMailInclude);
}

TEST_F(RuleTest, ExportLinesFollowTheFixedOrder) {
  CRule disk;
  disk.Name = "Disk";
  disk.Action = kActionDiscard;
  std::ostringstream out;
  EXPECT_TRUE(disk.WriteSettingsLines(out, "Rules\\rule0"));
  const std::vector<std::string> expected = {
      "s Rules\\rule0 Name Disk",
      "s Rules\\rule0 Hostname ",
      "s Rules\\rule0 Message ",
      "s Rules\\rule0 ActionValue ",
      "i Rules\\rule0 Enabled 1",
      "i Rules\\rule0 IP 0",
      "i Rules\\rule0 Facility -1",
      "i Rules\\rule0 Severity -1",
      "i Rules\\rule0 UseRegExp 0",
      "i Rules\\rule0 Action 3",
      "i Rules\\rule0 Highlighted 0",
      "i Rules\\rule0 TimeRange 0",
      "i Rules\\rule0 ThreshSecs 0",
      "i Rules\\rule0 ActionInt 0",
  };
  EXPECT_EQ(Lines(out.str()), expected);

  // A stored rule exported: the address as its decimal number, texts as held, the group of
  // its action at the end.
  CRule trap;
  trap.Name = "Trap, please";
  trap.IP = 3232235786u;
  trap.TimeRange = -1;
  trap.Action = kActionSnmpTrap;
  trap.Save("Rules\\rule1");
  CRule stored;
  stored.Load("Rules\\rule1");
  std::ostringstream trapOut;
  stored.WriteSettingsLines(trapOut, "Rules\\rule1");
  const std::vector<std::string> lines = Lines(trapOut.str());
  ASSERT_EQ(lines.size(), 20u);
  EXPECT_EQ(lines[0], "s Rules\\rule1 Name Trap, please");
  EXPECT_EQ(lines[5], "i Rules\\rule1 IP 3232235786");
  EXPECT_EQ(lines[11], "i Rules\\rule1 TimeRange 4294967295");
  EXPECT_EQ(lines[14], "s Rules\\rule1 SNMPCommunity public");
  EXPECT_EQ(lines[16], "s Rules\\rule1 SNMPString $all");
  EXPECT_EQ(lines[18], "i Rules\\rule1 SNMPSpecificType 0");
  EXPECT_EQ(lines[19], "i Rules\\rule1 SNMPGenericType 6");

  CRule mail;
  mail.Action = kActionSendMail;
  mail.EMailSubject = "Subject";
  std::ostringstream mailOut;
  mail.WriteSettingsLines(mailOut, "Rules\\rule2");
  const std::vector<std::string> mailLines = Lines(mailOut.str());
  ASSERT_EQ(mailLines.size(), 17u);
  EXPECT_EQ(mailLines[14], "s Rules\\rule2 EMailSubject Subject");
  EXPECT_EQ(mailLines[15], "s Rules\\rule2 EMailText ");
  EXPECT_EQ(mailLines[16], "i Rules\\rule2 EMailInclude 1");
}

TEST_F(RuleTest, ConditionsOnFacilitySeverityAddressTimeHostAndHighlight) {
  CRule rule;
  EXPECT_TRUE(rule.Matches(Record(3, 7, "")));

  rule.Severity = 12;  // "Warning or Higher"
  for (int severity = 0; severity <= 7; ++severity) {
    EXPECT_EQ(rule.Matches(Record(1, severity, "x")), severity <= 4) << severity;
  }
  rule.Severity = 8;
  EXPECT_TRUE(rule.Matches(Record(1, 0, "x")));
  EXPECT_FALSE(rule.Matches(Record(1, 1, "x")));
  rule.Severity = 15;
  EXPECT_TRUE(rule.Matches(Record(1, 7, "x")));
  rule.Severity = 3;
  EXPECT_TRUE(rule.Matches(Record(1, 3, "x")));
  EXPECT_FALSE(rule.Matches(Record(1, 2, "x")));
  rule.Severity = -1;

  rule.Facility = 4;
  EXPECT_FALSE(rule.Matches(Record(1, 3, "x")));
  EXPECT_TRUE(rule.Matches(Record(4, 3, "x")));
  rule.Facility = -1;

  rule.IP = 3232235786u;
  EXPECT_TRUE(rule.Matches(Record(1, 3, "x", "192.168.1.10")));
  EXPECT_FALSE(rule.Matches(Record(1, 3, "x", "192.168.1.11")));
  rule.IP = 0x0A000001;  // 10.0.0.1
  EXPECT_TRUE(rule.Matches(Record(1, 3, "x", "10.0.0.1")));
  EXPECT_FALSE(rule.Matches(Record(1, 3, "x", "Unknown")));
  // All ones is what an IPv6 text converts to; an IPv6 sender still never matches.
  rule.IP = 0xFFFFFFFF;
  EXPECT_TRUE(rule.Matches(Record(1, 3, "x", "255.255.255.255")));
  EXPECT_FALSE(rule.Matches(Record(1, 3, "x", "::1")));
  EXPECT_FALSE(rule.Matches(Record(1, 3, "x", "2001:db8::ff")));
  rule.IP = 0;
  EXPECT_TRUE(rule.Matches(Record(1, 3, "x", "2001:db8::ff")));

  rule.TimeRange = 1'700'000'000;
  EXPECT_FALSE(rule.Matches(Record(1, 3, "x")));  // upper bound 0: nothing
  rule.timeRangeEnd = 1'700'000'000;
  EXPECT_TRUE(rule.Matches(Record(1, 3, "x")));
  rule.TimeRange = 1'700'000'001;
  rule.timeRangeEnd = 1'700'000'100;
  EXPECT_FALSE(rule.Matches(Record(1, 3, "x")));
  rule.TimeRange = 0;

  rule.Hostname = "host1";
  EXPECT_TRUE(rule.Matches(Record(1, 3, "x")));
  SyslogMessage upper = Record(1, 3, "x");
  upper.hostName = "HOST1";
  EXPECT_FALSE(rule.Matches(upper));
  rule.Hostname.clear();

  rule.Highlighted = true;
  SyslogMessage marked = Record(1, 3, "x");
  EXPECT_FALSE(rule.Matches(marked));
  marked.highlighted = true;
  EXPECT_TRUE(rule.Matches(marked));
}

TEST(AddressToNumberTest, ConvertsAsInetAddrDoes) {
  for (const char* text : {"192.168.1.10", "0.0.0.0", "255.255.255.255", "10.0.0.1", "127.0.0.1", "1.2.3",
                           "1.2", "16909060", "0x7f.1", "010.0.0.1", "1.2.3.04", "1.2.3.4 ", "1.2.3.4 x",
                           "1.2.3.256", "1.2.3.1000", "1.2.3.4.", ".1.2.3", "1..2.3", "", "Unknown", "::1",
                           "-1.2.3.4", "+1.2.3.4"}) {
    EXPECT_EQ(AddressToNumber(text), ntohl(inet_addr(text))) << "'" << text << "'";
  }
}

TEST_F(RuleTest, PlainContentsIgnoreCaseAndPatternsKeepIt) {
  CRule plain;
  plain.Message = "error";
  EXPECT_TRUE(plain.Matches(Record(1, 3, "ERROR: disk full")));
  EXPECT_TRUE(plain.Matches(Record(1, 3, "an Error")));
  EXPECT_FALSE(plain.Matches(Record(1, 3, "err or")));
  EXPECT_EQ(plain.Message, "error");  // the user's text stays as written
  plain.Message = "disk  full";
  EXPECT_FALSE(plain.Matches(Record(1, 3, "ERROR: disk full")));

  CRule pattern;
  pattern.UseRegExp = true;
  pattern.Message = "error";
  EXPECT_FALSE(pattern.Matches(Record(1, 3, "ERROR: disk full")));
  EXPECT_TRUE(pattern.Matches(Record(1, 3, "error: disk full")));
  pattern.Message = "\\cerror";
  EXPECT_TRUE(pattern.Matches(Record(1, 3, "ERROR: disk full")));

  // A pattern that does not compile is looked for as plain text, with case.
  pattern.Message = "(";
  EXPECT_TRUE(pattern.Matches(Record(1, 3, "f(x)")));
  EXPECT_FALSE(pattern.Matches(Record(1, 3, "f x")));
  EXPECT_FALSE(pattern.HasCompiledPattern());
  pattern.Message = "a**";
  EXPECT_TRUE(pattern.Matches(Record(1, 3, "xa**")));
  EXPECT_FALSE(pattern.Matches(Record(1, 3, "xA**")));
}

TEST_F(RuleTest, CopiesCompileTheirOwnPattern) {
  CRule original;
  original.UseRegExp = true;
  original.Message = "^link <down>";
  EXPECT_TRUE(original.Matches(Record(1, 3, "link down now")));
  ASSERT_TRUE(original.HasCompiledPattern());

  CRule copy(original);
  EXPECT_FALSE(copy.HasCompiledPattern());
  EXPECT_TRUE(copy.Matches(Record(1, 3, "link down")));
  EXPECT_TRUE(copy.HasCompiledPattern());

  // Assigning replaces the pattern along with the text it was made from.
  CRule other;
  other.UseRegExp = true;
  other.Message = "^up$";
  EXPECT_TRUE(other.Matches(Record(1, 3, "up")));
  copy = other;
  EXPECT_FALSE(copy.HasCompiledPattern());
  EXPECT_TRUE(copy.Matches(Record(1, 3, "up")));
  EXPECT_FALSE(copy.Matches(Record(1, 3, "link down")));

  // A changed text is compiled afresh rather than matched with the old pattern.
  original.Message = "^up";
  EXPECT_TRUE(original.Matches(Record(1, 3, "up")));
  EXPECT_FALSE(original.Matches(Record(1, 3, "link down")));
}

TEST(RuleActionTableTest, EveryActionOnceWithItsInput) {
  std::set<int32_t> codes;
  for (const RuleActionInfo& action : kRuleActions) codes.insert(action.code);
  EXPECT_EQ(codes.size(), 13u);
  EXPECT_EQ(*codes.begin(), 0);
  EXPECT_EQ(*codes.rbegin(), 12);
  EXPECT_STREQ(kRuleActions[0].name, "Message Box");
  EXPECT_STREQ(kRuleActions[12].name, "Send SNMP Trap");

  EXPECT_EQ(FindRuleAction(kActionRunProgram)->input, kActionInputFileChooser);
  EXPECT_STREQ(FindRuleAction(kActionPlaySound)->parameter, "Sound file");
  EXPECT_EQ(FindRuleAction(kActionModifySeverity)->input, kActionInputNameList);
  EXPECT_EQ(FindRuleAction(kActionSaveToFile)->input, kActionInputFileChooser | kActionInputFormatList);
  EXPECT_EQ(FindRuleAction(kActionSendMail)->input, kActionInputAdvanced);
  EXPECT_STREQ(FindRuleAction(kActionSendMail)->parameter, "To Address");
  EXPECT_STREQ(FindRuleAction(kActionDiscard)->parameter, "");
  EXPECT_EQ(FindRuleAction(kActionDiscard)->input, 0u);
  EXPECT_EQ(FindRuleAction(13), nullptr);
}

}  // namespace
}  // namespace qv
