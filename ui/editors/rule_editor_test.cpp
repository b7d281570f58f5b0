#include "ui/editors/rule_editor.h"

#include <gtest/gtest.h>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

const CSettingsStore& Store() { return AppSettings(); }

int RowOf(int32_t code) {
  for (std::size_t row = 0; row < kRuleActions.size(); ++row) {
    if (kRuleActions[row].code == code) return static_cast<int>(row);
  }
  return -1;
}

void StoreRules(std::initializer_list<const char*> names) {
  int n = 0;
  for (const char* name : names) {
    CRule rule;
    rule.Name = name;
    rule.Action = kActionDiscard;
    rule.Save(RuleSectionName(n++));
  }
  Store().SetInt("Settings", "rulescount", n);
}

TEST(RuleEditorTest, OpenTakesEveryStoredRuleAndSaveWritesTheListOrder) {
  qv::testing::TempHome home;
  StoreRules({"first", "second", "third", "beyond the count"});
  Store().SetInt("Settings", "rulescount", 3);
  Store().SetInt("Rules\\rule1", "Enabled", 0);
  Store().SetInt("Rules\\rule1", "Highlighted", 1);

  CRuleEditor editor;
  editor.Open();
  ASSERT_EQ(editor.names(), (std::vector<std::string>{"first", "second", "third"}));
  EXPECT_FALSE(editor.rules()[1].Highlighted);
  EXPECT_FALSE(editor.modified());

  EXPECT_EQ(editor.MoveRow(2, 0), 0);  // the third rule dragged onto the first
  EXPECT_EQ(editor.MoveRow(0, 1), 1);  // onto the second: before it, counted after the removal
  EXPECT_EQ(editor.MoveRow(0, -1), 2);  // below the last row: to the end
  EXPECT_EQ(editor.names(), (std::vector<std::string>{"third", "second", "first"}));
  editor.Save();
  EXPECT_EQ(Store().GetString("Rules\\rule0", "Name"), "third");
  EXPECT_EQ(Store().GetString("Rules\\rule1", "Name"), "second");
  EXPECT_EQ(Store().GetInt("Rules\\rule1", "Enabled", 1), 0);  // disabled rules are saved like any other
  EXPECT_EQ(Store().GetInt("Rules\\rule1", "Highlighted", 1), 0);
  EXPECT_EQ(Store().GetString("Rules\\rule2", "Name"), "first");
  EXPECT_EQ(Store().GetInt("Settings", "rulescount", 0), 3);
}

TEST(RuleEditorTest, RenamingAddsASecondRuleAndDeletingLeavesTheSectionBeyondTheCount) {
  qv::testing::TempHome home;
  StoreRules({"disk", "link"});
  CRuleEditor editor;
  editor.Open();
  ASSERT_TRUE(editor.LoadRule("disk"));
  EXPECT_FALSE(editor.LoadRule("nobody"));
  editor.fields().name = "disk full";
  editor.MarkModified();
  EXPECT_TRUE(editor.ShouldAskToSave());
  ASSERT_FALSE(editor.AddModify());
  EXPECT_FALSE(editor.modified());
  EXPECT_EQ(editor.names(), (std::vector<std::string>{"disk", "link", "disk full"}));
  EXPECT_EQ(editor.rules().size(), 3u);

  editor.fields().name = "link";  // same name: replaces the rule, lists nothing new
  editor.fields().message = "link down";
  ASSERT_FALSE(editor.AddModify());
  EXPECT_EQ(editor.names().size(), 3u);
  EXPECT_EQ(editor.rules()[1].Message, "link down");

  editor.fields().name = "disk";
  editor.DeleteRule();
  editor.fields().name = "not listed";
  editor.DeleteRule();
  editor.Save();
  EXPECT_EQ(Store().GetInt("Settings", "rulescount", 0), 2);
  EXPECT_EQ(Store().GetString("Rules\\rule0", "Message"), "link down");
  EXPECT_EQ(Store().GetString("Rules\\rule1", "Name"), "disk full");
  EXPECT_EQ(Store().GetString("Rules\\rule2", "Name"), "");  // never written: the list had two rows

  editor.ClearAll();
  EXPECT_TRUE(editor.names().empty());
  EXPECT_TRUE(editor.modified());
  EXPECT_TRUE(editor.fields().name.empty());
}

TEST(RuleEditorTest, FieldsBecomeTheRuleAndLoadBackAndBadFieldsChangeNothing) {
  qv::testing::TempHome home;
  Store().SetString("Settings", "mailsubject", "Alert from $host");
  CRuleEditor editor;
  editor.Open();
  EXPECT_EQ(editor.fields().email.subject, "Alert from $host");
  EXPECT_TRUE(editor.fields().email.include);
  EXPECT_EQ(editor.fields().trap, TrapParameters{});

  RuleFields& f = editor.fields();
  f.name = "severity";
  f.address = "192.168.1.10";
  f.facilityPosition = 24;  // local7
  f.severityPosition = 13;  // "Warning or Higher"
  f.threshold = " 604800 ";
  f.hostname = "router1";
  f.message = "^link";
  f.useRegExp = true;
  f.enabled = false;
  editor.ChooseAction(RowOf(kActionModifySeverity));
  EXPECT_EQ(f.valuePosition, 0);
  f.valuePosition = 12;  // "Warning or Higher" of the value list
  f.trap.community = "private";
  ASSERT_FALSE(editor.AddModify());
  const CRule& rule = editor.rules().back();
  EXPECT_EQ(rule.IP, 3232235786u);
  EXPECT_EQ(rule.Facility, 23);
  EXPECT_EQ(rule.Severity, 12);
  EXPECT_EQ(rule.ThreshSecs, 604800u);
  EXPECT_EQ(rule.Action, kActionModifySeverity);
  EXPECT_EQ(rule.ActionInt, 12u);
  EXPECT_EQ(rule.Enabled, 0);
  EXPECT_EQ(rule.SNMPCommunity, "private");
  EXPECT_EQ(rule.EMailSubject, "Alert from $host");
  const RuleFields saved = f;

  editor.NewRule();
  EXPECT_EQ(f.name, "");
  EXPECT_EQ(f.actionRow, 0);
  EXPECT_EQ(f.valuePosition, 12);  // the value list keeps its choice
  ASSERT_TRUE(editor.LoadRule("severity"));
  EXPECT_EQ(f.address, saved.address);
  EXPECT_EQ(f.threshold, "604800");
  EXPECT_EQ(f.facilityPosition, 24);
  EXPECT_EQ(f.severityPosition, 13);
  EXPECT_EQ(f.actionRow, RowOf(kActionModifySeverity));
  EXPECT_EQ(f.valuePosition, 12);
  EXPECT_EQ(f.trap, saved.trap);
  EXPECT_FALSE(f.enabled);

  for (const char* threshold : {"604801", "-1", "1e3", ""}) {
    f.threshold = threshold;
    f.name = "refused";
    const auto error = editor.AddModify();
    ASSERT_TRUE(error) << threshold;
    EXPECT_EQ(error->field, CRuleEditor::Field::kThreshold);
    EXPECT_EQ(error->message, threshold == std::string("604801") ? "Please enter an integer between 0 and 604800."
                                                                 : "Please enter a positive integer.");
  }
  f.threshold = "0";
  for (const char* address : {"256.1.1.1", "1.2.3.4.5", "a.b.c.d"}) {
    f.address = address;
    ASSERT_TRUE(editor.AddModify()) << address;
  }
  EXPECT_EQ(editor.names().size(), 1u);  // nothing refused was listed

  f.address = "10..3";  // blank parts of the address control read as 0
  ASSERT_FALSE(editor.AddModify());
  EXPECT_EQ(editor.rules().back().IP, 0x0A000300u);
  f.address = "";
  f.facilityPosition = 0;
  f.severityPosition = 0;
  ASSERT_FALSE(editor.AddModify());
  EXPECT_EQ(editor.rules().back().IP, 0u);
  EXPECT_EQ(editor.rules().back().Facility, -1);
  EXPECT_EQ(editor.rules().back().Severity, -1);
}

TEST(RuleEditorTest, EachActionShowsTheValueControlsItsFlagsAskFor) {
  const ValueControls message = ValueControlsFor(0);
  EXPECT_EQ(message.caption, "Message");
  EXPECT_TRUE(message.edit);
  EXPECT_FALSE(message.fileChooser || message.list || message.advanced);

  const ValueControls program = ValueControlsFor(RowOf(kActionRunProgram));
  EXPECT_TRUE(program.edit && program.fileChooser);
  const ValueControls discard = ValueControlsFor(RowOf(kActionDiscard));
  EXPECT_TRUE(discard.caption.empty());
  EXPECT_FALSE(discard.edit || discard.fileChooser || discard.list || discard.advanced);
  const ValueControls mail = ValueControlsFor(RowOf(kActionSendMail));
  EXPECT_TRUE(mail.edit && mail.advanced);
  EXPECT_EQ(mail.caption, "To Address");

  const ValueControls facility = ValueControlsFor(RowOf(kActionModifyFacility));
  EXPECT_TRUE(facility.list);
  EXPECT_FALSE(facility.edit);
  ASSERT_EQ(facility.listItems.size(), 25u);
  EXPECT_EQ(facility.listItems[0], "kernel");
  const ValueControls severity = ValueControlsFor(RowOf(kActionModifySeverity));
  ASSERT_EQ(severity.listItems.size(), 16u);
  EXPECT_EQ(severity.listItems[12], "Warning or Higher");
  EXPECT_EQ(SeverityChoices()[13], "Warning or Higher");
  EXPECT_EQ(FacilityChoices().size(), 26u);

  // "Save to file" takes its file name and, beside it, the file format.
  const ValueControls file = ValueControlsFor(RowOf(kActionSaveToFile));
  EXPECT_TRUE(file.edit && file.fileChooser && file.list);
  // In the order of the numbers stored in ActionInt.
  EXPECT_EQ(file.listItems,
            (std::vector<std::string>{"Record line", "Traditional syslog line", "RFC 5424 line", "JSON lines"}));
}

// The "..." chooser opens on the files the action uses; every action with a chooser names one.
TEST(RuleEditorTest, TheFileChooserOffersTheKindOfFileTheActionUses) {
  const struct {
    int32_t action;
    FileKind kind;
  } cases[] = {{kActionRunProgram, FileKind::kProgram}, {kActionSaveToFile, FileKind::kTextLog}, {kActionPlaySound, FileKind::kSound}};
  for (const auto& c : cases) EXPECT_EQ(ValueControlsFor(RowOf(c.action)).fileKind, c.kind) << c.action;
  for (std::size_t row = 0; row < kRuleActions.size(); ++row) {
    const ValueControls controls = ValueControlsFor(static_cast<int>(row));
    EXPECT_EQ(controls.fileChooser, controls.fileKind != FileKind::kAny) << kRuleActions[row].name;
  }
}

}  // namespace
}  // namespace qv
