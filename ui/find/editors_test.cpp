// The working state of the custom filter and highlight editors: what is listed, and what Save
// leaves in the settings store.
#include <gtest/gtest.h>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"
#include "ui/find/custom_filter_list.h"
#include "ui/find/highlight_table.h"

namespace qv {
namespace {

class EditorsTest : public ::testing::Test {
 protected:
  std::string StoredName(int n) const { return store_.GetString("Custom\\custom" + std::to_string(n), "Name"); }

  qv::testing::TempHome home_;
  const CSettingsStore& store_ = AppSettings();
};

FilterFields Form(std::string name, std::string message = {}) {
  FilterFields form;
  form.name = std::move(name);
  form.message = std::move(message);
  return form;
}

TEST_F(EditorsTest, CustomFiltersAreRenumberedInListOrderAfterADelete) {
  CCustomFilterList filters;
  filters.Load();
  EXPECT_TRUE(filters.Names().empty());
  for (const char* name : {"first", "second", "third"}) filters.AddModify(Form(name, std::string("text of ") + name));
  filters.Save();
  EXPECT_EQ(store_.GetInt("Settings", "customcount", 0), 3);

  CCustomFilterList reopened;
  reopened.Load();
  ASSERT_EQ(reopened.Names(), (std::vector<std::string>{"first", "second", "third"}));
  reopened.Delete("first");
  reopened.SetOrder({"second"});  // not the listed names: ignored
  reopened.SetOrder({"third", "second"});
  reopened.Save();
  EXPECT_EQ(store_.GetInt("Settings", "customcount", 0), 2);
  EXPECT_EQ(StoredName(0), "third");
  EXPECT_EQ(store_.GetString("Custom\\custom0", "Message"), "text of third");
  EXPECT_EQ(StoredName(1), "second");
  EXPECT_EQ(StoredName(2), "third");  // beyond the count: left as it was, never read

  // A deleted name that is added again gets its old working entry replaced.
  reopened.AddModify(Form("first", "again"));
  EXPECT_EQ(reopened.Open("first").message, "again");
  reopened.ClearAll();
  reopened.Save();
  EXPECT_EQ(store_.GetInt("Settings", "customcount", -1), 0);
}

TEST_F(EditorsTest, CustomFilterFormRoundTripsAndTracksChanges) {
  CCustomFilterList filters;
  filters.Load();
  FilterFields form = Form("web", "GET /");
  form.address = "192.168.1.10";
  form.facilityIndex = 4;  // facility 3
  form.severityIndex = 13; // "Warning or Higher"
  form.hostName = "www";
  form.useRegExp = true;
  form.highlighted = true;
  form.seconds = 3600;
  EXPECT_FALSE(filters.NeedsSaveQuestion(form));
  filters.MarkChanged();
  EXPECT_TRUE(filters.NeedsSaveQuestion(form));
  EXPECT_FALSE(filters.NeedsSaveQuestion(Form("")));
  filters.AddModify(form);
  EXPECT_FALSE(filters.IsChanged());
  EXPECT_EQ(filters.Open("web"), form);

  // Modifying keeps one listed name; "no selection" list indexes are stored as any.
  form.facilityIndex = -1;
  form.severityIndex = 0;
  filters.AddModify(form);
  EXPECT_EQ(filters.Names().size(), 1u);
  filters.Save();
  CRule stored;
  stored.Load("Custom\\custom0");
  EXPECT_EQ(stored.Facility, -1);
  EXPECT_EQ(stored.Severity, -1);
  EXPECT_EQ(stored.IP, 0xC0A8010Au);
  EXPECT_EQ(stored.TimeRange, 3600);
  EXPECT_EQ(stored.Hostname, "www");
  EXPECT_TRUE(stored.UseRegExp && stored.Highlighted);
  EXPECT_EQ(filters.Open("web").address, "192.168.1.10");
  EXPECT_EQ(filters.Open("unknown"), Form("unknown"));
}

TEST_F(EditorsTest, HighlightTableListsTextsOnceAndSavesInListOrder) {
  const HighlightColours system{MakeColour(0, 0, 0), MakeColour(255, 255, 255)};
  store_.SetInt("Settings", "hlcount", 3);
  store_.SetString("Highlights\\highlight0", "String", "error");
  store_.SetString("Highlights\\highlight1", "String", "");  // empty: neither kept nor listed
  store_.SetString("Highlights\\highlight2", "String", "link");
  store_.SetInt("Highlights\\highlight2", "fg", static_cast<int32_t>(MakeColour(0, 0, 255)));

  CHighlightTable table;
  table.Load(system);
  ASSERT_EQ(table.Texts(), (std::vector<std::string>{"error", "link"}));
  EXPECT_EQ(table.Entry("error")->colours, system);
  EXPECT_EQ(table.Entry("link")->colours.text, MakeColour(0, 0, 255));

  // Adding a listed text changes it in place.
  table.AddModify({"error", true, {MakeColour(255, 0, 0), MakeColour(255, 255, 0)}});
  EXPECT_EQ(table.Texts().size(), 2u);
  EXPECT_TRUE(table.Entry("error")->useRegExp);
  table.AddModify({"", false, system});
  table.AddModify({"fan", false, system});
  table.SetOrder({"fan", "error", "link"});
  table.Delete({2, 2});  // "link"
  EXPECT_NE(table.Entry("link"), nullptr);
  table.Save();

  EXPECT_EQ(store_.GetInt("Settings", "hlcount", 0), 2);
  EXPECT_EQ(store_.GetString("Highlights\\highlight0", "String"), "fan");
  EXPECT_EQ(store_.GetString("Highlights\\highlight1", "String"), "error");
  EXPECT_EQ(store_.GetInt("Highlights\\highlight1", "useregexp", 0), 1);
  EXPECT_EQ(store_.GetInt("Highlights\\highlight1", "bg", 0), static_cast<int32_t>(MakeColour(255, 255, 0)));

  table.ClearAll();
  EXPECT_EQ(table.Entry("error"), nullptr);
  table.Save();
  EXPECT_EQ(store_.GetInt("Settings", "hlcount", -1), 0);
}

}  // namespace
}  // namespace qv
