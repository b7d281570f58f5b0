#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ui/frame/frame_commands.h"
#include "ui/frame/pane_layout.h"

namespace qv {
namespace {

TEST(PaneLayout, SmallWindowsFallBackAndTheGraphKeeps175) {
  const PaneSizes tall = ComputePaneSizes(1000, 600);
  EXPECT_EQ(425, tall.upperHeight);
  EXPECT_EQ(175, tall.graphHeight);
  EXPECT_EQ(200, tall.treeWidth);
  EXPECT_EQ(800, tall.rightWidth);
  EXPECT_EQ(350, tall.listHeight);
  EXPECT_EQ(50, tall.textHeight);

  const PaneSizes small = ComputePaneSizes(150, 150);
  EXPECT_EQ(200, small.upperHeight);
  EXPECT_EQ(175, small.graphHeight);
  EXPECT_EQ(200, small.rightWidth);
  EXPECT_EQ(75, small.listHeight);
  // The edges: exactly the subtracted amount is not positive.
  EXPECT_EQ(200, ComputePaneSizes(200, 175).upperHeight);
  EXPECT_EQ(200, ComputePaneSizes(200, 175).rightWidth);
  EXPECT_EQ(75, ComputePaneSizes(200, 250).listHeight);
  EXPECT_EQ(1, ComputePaneSizes(201, 251).listHeight);

  // A font that needs a wider tree takes the room from the right column, never a narrower one.
  EXPECT_EQ(200, ComputePaneSizes(1000, 600, 150).treeWidth);
  const PaneSizes wide = ComputePaneSizes(1000, 600, 230);
  EXPECT_EQ(230, wide.treeWidth);
  EXPECT_EQ(770, wide.rightWidth);

  // A full-text height the user chose takes its room from the list.
  const PaneSizes taller = ComputePaneSizes(1000, 600, 0, 120);
  EXPECT_EQ(120, taller.textHeight);
  EXPECT_EQ(280, taller.listHeight);
  EXPECT_EQ(50, ComputePaneSizes(1000, 600, 0, -3).textHeight);
}

TEST(FrameCommands, IdsAreUniqueAndEveryCommandIsFoundWithItsTexts) {
  std::set<int32_t> ids;
  for (const FrameCommand& command : FrameCommands()) {
    EXPECT_TRUE(ids.insert(command.id).second) << command.id;
    EXPECT_FALSE(command.caption.empty()) << command.id;
    EXPECT_EQ(&command, FindFrameCommand(command.id));
  }
  for (const FrameCommand& command : ListContextCommands()) EXPECT_TRUE(ids.insert(command.id).second) << command.id;
  EXPECT_EQ(nullptr, FindFrameCommand(1));

  EXPECT_EQ("Execute all matcing rules", FindFrameCommand(kCmdAllMatchingRules)->prompt);
  EXPECT_EQ("Ctrl+F", FindFrameCommand(kCmdFind)->shortcut);
  EXPECT_TRUE(FindFrameCommand(kCmdCustomFilters)->prompt.empty());
  EXPECT_EQ("F1", FindFrameCommand(kCmdHelpTopics)->shortcut);

  // Every toolbar button is a command of the table, in the documented order.
  std::string order;
  for (const int32_t id : ToolbarCommands()) {
    if (id != 0) {
      ASSERT_NE(nullptr, FindFrameCommand(id)) << id;
    }
    order += std::to_string(id) + " ";
  }
  EXPECT_EQ("57600 57601 57603 0 32803 57634 0 32799 0 57664 32771 32773 32805 32807 ", order);
}

}  // namespace
}  // namespace qv
