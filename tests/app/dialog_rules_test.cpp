// The dialogs' rules, without any window.
#include <gtest/gtest.h>

#include "app/dialog_rules.h"
#include "app/save_files.h"
#include "scene/scene_model.h"
#include "tests/support/scratch_folder.h"
#include "tests/view/view_test_support.h"

namespace qx {
namespace {

TEST(SaveDialogRules, PackingRewritesTheExtensionBothWays) {
  SaveDialogState state = SaveDialogState::Open({}, "/models/car.qxz");
  state.SetPacking(true);
  EXPECT_EQ(state.fileName, "/models/car.qx4.qxz");
  state.SetPacking(false);
  EXPECT_EQ(state.fileName, "/models/car.qx4");
  state.SetPacking(true);
  EXPECT_EQ(state.fileName, "/models/car.qx4.qxz");
  EXPECT_EQ(PackedFileName("noextension", true), "noextension.qx4.qxz");
}

TEST(SaveDialogRules, PrecisionShowsItsBoundAndGeometryEnablesTheRest) {
  EXPECT_EQ(PrecisionEntries().size(), 64u);
  EXPECT_EQ(PrecisionEntries()[63], "63 bits");
  SaveDialogState state = SaveDialogState::Open({}, "a.qxz");
  EXPECT_EQ(state.boundText, "3.0517578e-05");  // the stored 15 bits
  state.SelectPrecision(1);
  EXPECT_EQ(state.boundText, "0.5");
  state.SelectPrecision(0);
  EXPECT_EQ(state.boundText, "0");
  state.options.geoMode = 0;
  EXPECT_FALSE(state.GeometryControlsEnabled());
  state.options.geoMode = 2;
  EXPECT_TRUE(state.GeometryControlsEnabled());
}

TEST(SaveDialogRules, OkRefusesWhatCannotBeSavedAndKeepsTheTypedBound) {
  SaveDialogState state = SaveDialogState::Open({}, "a.qxz");
  state.boundText = "0.01x";
  EXPECT_NE(state.Confirm().find("not a number"), std::string::npos);
  state.boundText = "0.001";
  state.fileName = std::string(128, 'a');
  EXPECT_NE(state.Confirm().find("127"), std::string::npos);
  state.fileName = "b.qxz";
  EXPECT_EQ(state.Confirm(), "");
  EXPECT_DOUBLE_EQ(state.bound, 0.001);
  EXPECT_EQ(state.options.defaultFile, "b.qxz");
}

TEST(SaveDialogRules, PrecisionNoneSavesRawGeometry) {
  ScratchFolder folder;
  QXScene scene;
  QXPck* mesh = view_test::BuildMesh(view_test::Cube({0, 0, 0}, 1)).release();
  scene.AddMesh(mesh);
  scene.AddRoot(mesh, nullptr);
  SaveDialogSettings options;
  options.geoMode = 2;
  options.genHTML = false;
  std::string error;
  ASSERT_TRUE(SaveSceneFiles(scene, (folder.Path() / "a.qxz").string(), options, PrecisionBound(0), error));
  EXPECT_EQ(scene.GeoMode, 0);
  ASSERT_TRUE(SaveSceneFiles(scene, (folder.Path() / "b.qxz").string(), options, 0.001, error));
  EXPECT_EQ(scene.GeoMode, 2);
  EXPECT_FLOAT_EQ(scene.BitsError, 0.001f);
}

TEST(LoadDialogRules, RateListFollowsTheBoxAndRefusesNoSelection) {
  EXPECT_EQ(RateEntries().size(), 13u);
  LoadDialogSettings stored;
  stored.defaultFile = "scene.qxz";
  LoadDialogState state = LoadDialogState::Open(stored);
  EXPECT_FALSE(state.RateEnabled());
  EXPECT_EQ(state.Confirm(), "");
  EXPECT_EQ(state.rate, 0);
  state.options.emulateModem = true;
  EXPECT_EQ(state.Confirm(), "");
  EXPECT_EQ(state.rate, 7000);  // entry 10, "56000 bps"
  state.options.speedModem = 13;
  EXPECT_EQ(state.RateSelection(), std::nullopt);
  EXPECT_NE(state.Confirm(), "");
}

TEST(ImportDialogRules, SliderGridAndHeuristicMapToTheOptions) {
  EXPECT_EQ(LevelSliderPosition(0.5f), 1000);
  EXPECT_FLOAT_EQ(LevelOfSliderPosition(kLevelSliderMaximum), 1.0f);
  EXPECT_EQ(GridSelection(0.125f), 2);  // "8"
  EXPECT_EQ(GridEntries()[2], "8");
  EXPECT_FLOAT_EQ(GridFactorOfSelection(2), 0.125f);
  EXPECT_EQ(GridSelection(0.0f), std::nullopt);

  ImportOptions stored = ImportOptions::Defaults(ModelFormat::Fmt3DS);
  stored.metric = 2;
  stored.model = 7;  // outside the list: no selection, kept on confirmation
  ImportDialogState state = ImportDialogState::Open(stored);
  EXPECT_TRUE(state.GridEnabled());
  state.volume = true;
  EXPECT_FALSE(state.QuadricControlsEnabled());
  EXPECT_FALSE(state.GridEnabled());
  state.levelPosition = kLevelSliderMaximum;
  state.fileName = "car.3ds";
  std::string error;
  const std::optional<ImportOptions> confirmed = state.Confirm(error);
  ASSERT_TRUE(confirmed);
  EXPECT_EQ(confirmed->metric, 0);
  EXPECT_EQ(confirmed->model, 7);
  EXPECT_FLOAT_EQ(confirmed->simplificationLevel, 1.0f);
  EXPECT_EQ(confirmed->defaultFile, "car.3ds");
  state.fileName.clear();
  EXPECT_FALSE(state.Confirm(error));
}

TEST(OcclusionDialogRules, ListsPreselectTheRootsOfTheStoredCounts) {
  EXPECT_EQ(IterationEntries().front(), "4");
  EXPECT_EQ(IterationEntries().back(), "3969");
  EXPECT_EQ(ColourEntries().back(), "250047");
  OcclusionSettings stored;  // 100 directions, 16384 colours
  stored.maxIterations = 99;
  OcclusionDialogState state = OcclusionDialogState::Open(stored);
  EXPECT_EQ(IterationEntries()[static_cast<size_t>(state.iterationsEntry)], "81");  // ⌊√99⌋ = 9
  EXPECT_EQ(ColourEntries()[static_cast<size_t>(state.coloursEntry)], "15625");   // ⌊16384^0.334⌋ = 25
  state.Confirm();
  EXPECT_EQ(state.settings.maxIterations, 81);
  EXPECT_EQ(state.settings.maxColors, 15625);
}

TEST(ImportDialogRules, AnLDrawFolderNeedsItsPartFolders) {
  ScratchFolder folder;
  folder.Write("lib/Parts/x.dat", "0");
  EXPECT_FALSE(IsValidLDrawDir((folder.Path() / "lib").string()));
  folder.Write("lib/p/y.dat", "0");
  EXPECT_TRUE(IsValidLDrawDir((folder.Path() / "lib").string()));
  EXPECT_FALSE(IsValidLDrawDir(""));
}

}  // namespace
}  // namespace qx
