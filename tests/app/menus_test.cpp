// The menu tables and their rules, without any window.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/commands.h"
#include "app/menus.h"
#include "app/version.h"
#include "platform/palette.h"

namespace qx {
namespace {

TEST(Accelerators, BindTheKeysOfTheTableIncludingItsSwappedDrawModes) {
  EXPECT_EQ(FindAccelerator('2', false, true), kCmdEdges);
  EXPECT_EQ(FindAccelerator('3', false, true), kCmdPoints);
  EXPECT_EQ(FindAccelerator('S', true, true), kCmdImportSTL);
  EXPECT_EQ(FindAccelerator('s', true, false), kCmdSave);
  EXPECT_EQ(FindAccelerator('s', false, true), kCmdIgnored);
  EXPECT_EQ(FindAccelerator('?', false, true), kCmdAbout);
  EXPECT_EQ(FindAccelerator('s', false, false), std::nullopt);
}

TEST(FileTypes, ExtensionsChooseTheCommand) {
  EXPECT_EQ(FileTypeCommand("/models/CAR.3DS"), kCmdImport3DS);
  EXPECT_EQ(FileTypeCommand("part.stlx"), kCmdImportSTL);
  EXPECT_EQ(FileTypeCommand("thing.ac"), kCmdImportAC3D);
  EXPECT_EQ(FileTypeCommand("thing.acx"), kCmdNone);
  EXPECT_EQ(FileTypeCommand("scene.QX4"), kCmdOpen);
  EXPECT_EQ(FileTypeCommand("/dir.3ds/noextension"), kCmdNone);
  EXPECT_EQ(FileTypeCommand("notes.txt"), kCmdNone);
  EXPECT_EQ(FileTypeCommand(""), kCmdNone);
}

TEST(MenuState, SmoothSubmenuChecksTheEntryOfTheStoredLevel) {
  const float thirty = *ShadingLevelOfCommand(kCmdSmooth10 + 2);
  EXPECT_NEAR(thirty, 0.866f, 1e-3);
  MenuContext context;
  context.settings.smoothAngle = thirty;
  std::vector<int> checked;
  for (int index = 0; index < 10; ++index)
    if (StateOfMenuItem(SmoothMenuCommand(index), context).checked) checked.push_back(SmoothMenuCommand(index));
  EXPECT_EQ(checked, std::vector<int>{kCmdSmooth10 + 2});
  EXPECT_EQ(SmoothMenuIndex(1.0f), 0);
  EXPECT_EQ(SmoothMenuIndex(0.0f), 9);
  EXPECT_EQ(SmoothMenuIndex(std::cos(0.7854f)), 5);  // 45° rounds up to "50º"
}

TEST(MenuState, VertexArrayOnlyAtExactlySmoothAndBadOrientationGreyed) {
  MenuContext context;
  context.settings.smoothAngle = 1.0f;
  EXPECT_TRUE(StateOfMenuItem(kCmdVertexArray, context).enabled);
  context.settings.smoothAngle = 0.9999f;
  EXPECT_FALSE(StateOfMenuItem(kCmdVertexArray, context).enabled);
  EXPECT_FALSE(StateOfMenuItem(kCmdSelectBadOrientation, context).enabled);
  context.selective = true;
  EXPECT_TRUE(StateOfMenuItem(kCmdSelective, context).checked);
  EXPECT_FALSE(StateOfMenuItem(kCmdProgressive, context).checked);
}

TEST(Menus, ContextMenuDropsNewSaveImageAndExitAndStaysBalanced) {
  for (auto entries : {MenuBarEntries(), ContextMenuEntries()}) {
    int depth = 0;
    for (const MenuEntry& entry : entries) {
      depth += entry.kind == MenuKind::kSubmenu ? 1 : entry.kind == MenuKind::kEnd ? -1 : 0;
      ASSERT_GE(depth, 0);
    }
    EXPECT_EQ(depth, 0);
  }
  int commands = 0;
  for (const MenuEntry& entry : ContextMenuEntries()) {
    EXPECT_NE(entry.command, kCmdNew);
    EXPECT_NE(entry.command, kCmdSaveImage);
    EXPECT_NE(entry.command, kCmdExit);
    commands += entry.kind == MenuKind::kItem;
  }
  EXPECT_GT(commands, 40);
}

TEST(Version, ComesFromTheDayAndYearOfTheBuildDate) {
  EXPECT_NEAR(VersionFromDate("May 24 2004"), 2.040524, 1e-9);
  EXPECT_NEAR(VersionFromDate("Dec  8 2026"), 2.260508, 1e-9);
  EXPECT_EQ(VersionFromDate("2004-05-24"), 0);
  EXPECT_GT(VersionFromDate(BuildDate()), 2.2);
}

TEST(Palette, ThreeThreeTwoKeepsTheTwelveSystemColours) {
  const std::vector<PaletteColour> palette = BuildPalette({8, 3, 0, 3, 3, 2, 6});
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(palette[3], (PaletteColour{128, 0, 0}));
  EXPECT_EQ(palette[91], (PaletteColour{128, 128, 128}));
  EXPECT_EQ(palette[2], (PaletteColour{73, 0, 0}));                  // ramp of three bits
  EXPECT_EQ(palette[255], (PaletteColour{255, 255, 255}));
  EXPECT_EQ(BuildPalette({8, 3, 5, 3, 2, 2, 0})[3], (PaletteColour{0, 0, 255}));  // other layout: ramps only
  EXPECT_EQ(BuildPalette({4, 1, 0, 2, 1, 1, 3}).size(), 16u);
  EXPECT_TRUE(BuildPalette({24, 8, 0, 8, 8, 8, 16}).empty());
}

}  // namespace
}  // namespace qx
