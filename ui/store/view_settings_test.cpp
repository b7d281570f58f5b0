// The list columns, the window placement and the start-up decisions, against a fresh settings
// tree.

#include <gtest/gtest.h>

#include "core/settings/settings_store.h"
#include "platform/registry/registry.h"
#include "testing/temp_home.h"
#include "ui/store/list_columns.h"
#include "ui/store/start_up.h"
#include "ui/store/store_test_support.h"
#include "ui/store/window_placement.h"

namespace qv {
namespace {

class ViewSettingsTest : public ::testing::Test {
 protected:
  testing::TempHome home_;
};

TEST_F(ViewSettingsTest, CountTextAndDoubleClick) {
  EXPECT_EQ(CountText(1, false, false), "1 Entry");
  EXPECT_EQ(CountText(0, false, false), "0 Entries");
  EXPECT_EQ(CountText(5, true, true), "5 Entries (Filter active) (locked)");
  EXPECT_EQ(DoubleClickAction(), RowAction::kFind);
  AppSettings().SetInt("Settings", "dblclick", 1);
  EXPECT_EQ(DoubleClickAction(), RowAction::kTelnet);
  AppSettings().SetInt("Settings", "dblclick", 7);
  EXPECT_EQ(DoubleClickAction(), RowAction::kBrowser);
  EXPECT_EQ(ConnectionUrl(true, "10.0.0.5"), "telnet://10.0.0.5");
}

TEST_F(ViewSettingsTest, ColumnOrderAndWidths) {
  const auto order = ParseColumnOrder("0004 0000 0001 0002 0003 0005 0006");
  ASSERT_TRUE(order);
  EXPECT_EQ((*order)[0], 4);  // "Message" first
  EXPECT_EQ(FormatColumnOrder(*order), "0004 0000 0001 0002 0003 0005 0006");
  EXPECT_FALSE(ParseColumnOrder(""));
  EXPECT_FALSE(ParseColumnOrder("0004 0000 0001"));
  EXPECT_FALSE(ParseColumnOrder("0004 0004 0001 0002 0003 0005 0006"));  // a column twice
  EXPECT_FALSE(ParseColumnOrder("0009 0000 0001 0002 0003 0005 0006"));
  EXPECT_FALSE(LoadColumnOrder());
  SaveColumnOrder(*order);
  EXPECT_EQ(LoadColumnOrder(), order);

  EXPECT_EQ(InitialColumnWidth(1), kColumnWidthFitHeader);
  EXPECT_EQ(InitialColumnWidth(4), 400);
  // Hidden with View Options and closed: the width setting survives, so showing it restores it.
  SaveColumnsShown({true, true, true, true, false, true, true});
  SaveColumnWidths({120, 80, 60, 100, 0, 90, 100});
  EXPECT_EQ(InitialColumnWidth(4), 0);
  EXPECT_EQ(ColumnWidthSetting(4), 400);
  EXPECT_EQ(ColumnWidthSetting(0), 120);
  SaveColumnsShown({true, true, true, true, true, true, true});
  EXPECT_EQ(InitialColumnWidth(4), 400);
}

TEST_F(ViewSettingsTest, PlacementRoundTripsAndDefaultsToTheMiddleOfTheScreen) {
  RestoredPlacement first = LoadPlacement(1600, 1200);
  EXPECT_EQ(first.normal, (WindowRect{200, 150, 1400, 1050}));
  EXPECT_EQ(first.show, WindowShow::kNormal);
  EXPECT_TRUE(first.toolbar && first.statusBar);

  EXPECT_EQ(FormatPlacementRect({-5, 20, 300, 12000}), "-005 0020 0300 9999");
  EXPECT_EQ(ParsePlacementRect("-005 0020 0300 9999"), (WindowRect{-5, 20, 300, 9999}));
  EXPECT_EQ(FormatPlacementRect({-5000, 0, 1, 2}).substr(0, 5), "-999 ");
  EXPECT_FALSE(ParsePlacementRect("12 34"));

  SavePlacement({10, 20, 810, 620}, WindowShow::kMaximized, false, true, false);
  RestoredPlacement maximised = LoadPlacement(1600, 1200);
  EXPECT_EQ(maximised.normal, (WindowRect{10, 20, 810, 620}));
  EXPECT_EQ(maximised.show, WindowShow::kMaximized);
  EXPECT_TRUE(maximised.restoreToMaximized);
  EXPECT_FALSE(maximised.statusBar);

  // Minimised from a normal window: opens minimised and restores to normal.
  SavePlacement({10, 20, 810, 620}, WindowShow::kMinimizedNoActivate, false, std::nullopt, std::nullopt);
  RestoredPlacement minimised = LoadPlacement(1600, 1200);
  EXPECT_EQ(minimised.show, WindowShow::kMinimizedNoActivate);
  EXPECT_FALSE(minimised.restoreToMaximized);
  EXPECT_FALSE(minimised.statusBar);  // nothing written for a bar that does not exist
  SavePlacement({10, 20, 810, 620}, WindowShow::kMinimizedNoActivate, true, true, true);
  EXPECT_TRUE(LoadPlacement(1600, 1200).restoreToMaximized);

  SavePlacement({10, 20, 810, 620}, WindowShow::kNormal, false, true, true);
  AppSettings().SetInt("Settings", "startminimized", 1);
  EXPECT_EQ(LoadPlacement(1600, 1200).show, WindowShow::kMinimizedNoActivate);
}

std::string FirewallValue() {
  reg::HKEY key = nullptr;
  std::string data;
  uint32_t type = 0;
  if (reg::OpenKey(reg::LocalMachine(), kFirewallKey, reg::Access::kRead, &key) != reg::kSuccess) return "";
  reg::QueryValue(key, kFirewallValueName, &type, &data);
  reg::CloseKey(key);
  return data;
}

TEST_F(ViewSettingsTest, FirstRunAsksOnlyWhenTheServiceIsInstalledAndStoppedAndRunsOnce) {
  testing::FakeService service;
  int questions = 0;
  ASSERT_TRUE(FirstRunDue());
  RunFirstTimeSetup(service, [&] { ++questions; return false; });
  EXPECT_EQ(questions, 1);
  EXPECT_FALSE(service.running);
  EXPECT_EQ(service.demandStarts, 1);
  EXPECT_FALSE(FirstRunDue());
  EXPECT_EQ(FirewallValue().substr(0, 24), kFirewallValue);

  // The service the package installed and started is neither asked about nor changed.
  testing::TempHome packaged;
  testing::FakeService running;
  running.running = true;
  RunFirstTimeSetup(running, [&] { ++questions; return false; });
  EXPECT_EQ(questions, 1);
  EXPECT_TRUE(running.running);
  EXPECT_EQ(running.stops + running.demandStarts, 0);
  EXPECT_FALSE(FirstRunDue());

  testing::TempHome fresh;
  AppSettings().SetInt("Settings", "udpport", 1514);
  testing::FakeService absent;
  absent.installed = false;
  RunFirstTimeSetup(absent, [&] { ++questions; return true; });
  EXPECT_EQ(questions, 1);
  EXPECT_EQ(absent.starts, 0);
  EXPECT_EQ(FirewallValue().substr(0, 24), kFirewallValue);  // always port 514
  EXPECT_FALSE(FirstRunDue());
}

TEST_F(ViewSettingsTest, RecentFilesKeepFourNewestFirst) {
  {
    CRecentFiles recent;
    for (const char* path : {"/a", "/b", "/c", "/d", "/e", "/c"}) recent.Add(path);
    recent.Remove("/b");
  }
  EXPECT_EQ(CRecentFiles().Files(), (std::vector<std::string>{"/c", "/e", "/d"}));
}

}  // namespace
}  // namespace qv
