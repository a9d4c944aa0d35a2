// The format table, extension matching and the import options with their
// settings keys and the limits the front end applies.
#include "import/model_format.h"


#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "common/settings.h"
#include "import/import_options.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using enum ModelFormat;

// --- Table --------------------------------------------------------------------

TEST(ModelFormatTable, RowsMatchTheFormatTable) {
  ASSERT_EQ(ModelFormatTable().size(), 8u);
  for (int i = 0; i < kModelFormatCount; ++i) EXPECT_EQ(static_cast<int>(ModelFormatTable()[i].format), i);

  const ModelFormatInfo& stl = GetModelFormatInfo(FmtSTL);
  EXPECT_STREQ(stl.menuText, "STL (Stereolitografie)");
  EXPECT_EQ(stl.accelerator, 'S');
  EXPECT_STREQ(stl.extensions[0], ".stl");
  EXPECT_STREQ(stl.extensions[1], ".stla");
  EXPECT_EQ(stl.extensions[2], nullptr);
  EXPECT_STREQ(stl.dialogTitle, "Import Binary/Ascii Stereolitografie");
  EXPECT_STREQ(stl.filterName, "StereoLitography files");
  EXPECT_STREQ(stl.filterPattern, "*.stl;*.stla");
  EXPECT_STREQ(stl.defaultFileKey, "DefaultFileSTL");
  EXPECT_STREQ(stl.defaultFile, "image.stl");

  const ModelFormatInfo& ldraw = GetModelFormatInfo(FmtLDraw);
  EXPECT_STREQ(ldraw.menuText, "DAT (Lego Draw)");
  EXPECT_STREQ(ldraw.filterPattern, "*.dat;*.ldr;*.mpd");
  EXPECT_STREQ(ldraw.defaultFileKey, "DefaultFileLDR");
  EXPECT_STREQ(ldraw.defaultFile, "image.dat");
  EXPECT_STREQ(GetModelFormatInfo(Fmt3DS).dialogTitle, "Import 3D studio file");
  EXPECT_STREQ(GetModelFormatInfo(FmtLWO).dialogTitle, "Import LWO (Lightwave 1 & 2) file");
  EXPECT_STREQ(GetModelFormatInfo(FmtAC3D).defaultFileKey, "DefaultFileAC3D");
  EXPECT_EQ(std::string(GetModelFormatInfo(FmtAC3D).menuText).rfind("AC3D", 0), 0u);
  EXPECT_STREQ(kAllFilesFilterName, "All Files (*.*)");
  EXPECT_STREQ(kAllFilesFilterPattern, "*.*");

  // Every extension of the table leads back to its own format.
  std::set<char> accelerators;
  for (const ModelFormatInfo& info : ModelFormatTable()) {
    accelerators.insert(info.accelerator);
    for (const char* extension : info.extensions) {
      if (extension) {
        EXPECT_EQ(ModelFormatForFile(std::string("model") + extension), info.format) << extension;
      }
    }
  }
  EXPECT_EQ(accelerators.size(), 8u);
}

TEST(ModelFormatTable, MenuOrder) {
  const auto order = ImportMenuOrder();
  const ModelFormat expected[] = {Fmt3DS, FmtLWO, FmtSTL, FmtOBJ, FmtLDraw, FmtDXF, FmtAC3D, FmtPLY};
  EXPECT_TRUE(std::equal(order.begin(), order.end(), std::begin(expected)));
}

// --- Extension matching -----------------------------------------------------------

TEST(ExtensionMatching, CaseInsensitivePrefixCompare) {
  EXPECT_EQ(ModelFormatForFile("MODEL.STL"), FmtSTL);
  EXPECT_EQ(ModelFormatForFile("model.stlx"), FmtSTL);  // 4-character prefix
  EXPECT_EQ(ModelFormatForFile("model.StlA"), FmtSTL);
  EXPECT_EQ(ModelFormatForFile("a.3DS"), Fmt3DS);
  EXPECT_EQ(ModelFormatForFile("a.prj"), Fmt3DS);
  EXPECT_EQ(ModelFormatForFile("a.ply"), FmtPLY);
  EXPECT_EQ(ModelFormatForFile("a.dxf"), FmtDXF);
  EXPECT_EQ(ModelFormatForFile("a.LWO"), FmtLWO);
  EXPECT_EQ(ModelFormatForFile("a.objects"), FmtOBJ);
  EXPECT_EQ(ModelFormatForFile("a.ldr"), FmtLDraw);
  EXPECT_EQ(ModelFormatForFile("a.Dat"), FmtLDraw);
  EXPECT_EQ(ModelFormatForFile("a.mpd"), FmtLDraw);
  EXPECT_EQ(ModelFormatForFile("model.ac"), FmtAC3D);
  EXPECT_EQ(ModelFormatForFile("MODEL.AC"), FmtAC3D);
  EXPECT_EQ(ModelFormatForFile("model.acx"), std::nullopt);  // ".ac" compares whole
  EXPECT_EQ(ModelFormatForFile("model.acc"), std::nullopt);
  EXPECT_EQ(ModelFormatForFile("model.st"), std::nullopt);
  EXPECT_EQ(ModelFormatForFile("model.txt"), std::nullopt);
  EXPECT_EQ(ModelFormatForFile("model."), std::nullopt);
  EXPECT_EQ(ModelFormatForFile(""), std::nullopt);
  EXPECT_EQ(ModelFormatForFile("model.3ds.qxz"), std::nullopt);  // the last '.' counts
  EXPECT_EQ(ModelFormatForFile("model.qxz.stl"), FmtSTL);
}

TEST(ExtensionMatching, NativeSceneFiles) {
  for (const char* name : {"scene.qxz", "SCENE.QX4", "a/b.qxzz", "image.3ds.qxz"}) {
    const FileType type = ClassifyFileName(name);
    EXPECT_EQ(type.kind, FileKind::kNativeScene) << name;
    EXPECT_EQ(ModelFormatForFile(name), std::nullopt) << name;
  }
  EXPECT_EQ(ClassifyFileName("scene.qx").kind, FileKind::kUnknown);
  EXPECT_EQ(ClassifyFileName("a.stl").kind, FileKind::kModel);
}

TEST(ExtensionMatching, BothSeparatorsEndTheDirectory) {
  EXPECT_EQ(FileExtension("c:\\dir.x\\file"), "");
  EXPECT_EQ(ModelFormatForFile("c:\\dir.x\\file"), std::nullopt);
  EXPECT_EQ(ModelFormatForFile("/home/me/dir.stl/file"), std::nullopt);
  EXPECT_EQ(ModelFormatForFile("c:\\models\\cow.obj"), FmtOBJ);
  EXPECT_EQ(ModelFormatForFile("/home/me/dir.x/cow.OBJ"), FmtOBJ);
  EXPECT_EQ(FileExtension("mixed/dir.x\\name.tar.gz"), ".gz");
  EXPECT_EQ(FileExtension("dir/.stl"), ".stl");
}

// --- Import options -------------------------------------------------------------------

class ImportOptionsTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_ / "vermelle.ini").string();
    if (const char* old = std::getenv("LDRAWDIR")) oldLDrawDir_ = old;
    ::unsetenv("LDRAWDIR");
  }
  void TearDown() override {
    if (oldLDrawDir_)
      ::setenv("LDRAWDIR", oldLDrawDir_->c_str(), 1);
    else
      ::unsetenv("LDRAWDIR");
  }
  void Put(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
  std::string Contents() const { return ReadWholeFile(path_); }

  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
  std::string path_;
  std::optional<std::string> oldLDrawDir_;
};

TEST_F(ImportOptionsTest, MissingFileGivesTheTableDefaults) {
  const ImportOptions options = ImportOptions::Load(FmtSTL, path_);
  EXPECT_EQ(options.format, FmtSTL);
  EXPECT_EQ(options.fileName, "image.stl");
  EXPECT_EQ(options.defaultFile, "image.stl");
  EXPECT_FALSE(options.flipFaces);
  EXPECT_FALSE(options.singleObj);
  EXPECT_EQ(options.model, 1);
  EXPECT_EQ(options.metric, 1);
  EXPECT_EQ(options.maxDegree, 64);
  EXPECT_EQ(options.maxDependencies, 16);
  EXPECT_EQ(options.gridFactor, 0.125f);
  EXPECT_FALSE(options.meshQuality);
  EXPECT_TRUE(options.checkBounds);
  EXPECT_EQ(options.simplificationLevel, 0.5f);
  EXPECT_EQ(options.ldrawDir, "/usr/share/ldraw");
  EXPECT_EQ(ImportOptions::Load(FmtAC3D, "").defaultFile, "image.ac");
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(ImportOptionsTest, LDrawDirDefaultsToTheEnvironment) {
  ::setenv("LDRAWDIR", "/opt/ldraw", 1);
  EXPECT_EQ(DefaultLDrawDir(), "/opt/ldraw");
  EXPECT_EQ(ImportOptions::Load(FmtLDraw, path_).ldrawDir, "/opt/ldraw");
  Put("[DlgImport]\nLDrawDir=/stored/ldraw\n");
  EXPECT_EQ(ImportOptions::Load(FmtLDraw, path_).ldrawDir, "/stored/ldraw");  // a stored value wins
  ::setenv("LDRAWDIR", "", 1);
  EXPECT_EQ(DefaultLDrawDir(), "/usr/share/ldraw");
}

TEST_F(ImportOptionsTest, StoredValuesAreReadWithTheirEncodings) {
  Put("[dlgimport]\n"
      "FlipFaces=1\nSingleObj=2\nModel=2\nMetric=0\nMaxDegree=300\nMaxDependencies=8\n"
      "Quadrics.PairContraction.GridFactor=0\nquadrics.meshquality=1\nQuadrics.CheckBounds=0\n"
      "SimplificationLevel=0.25\nLDrawDir=" + std::string(400, 'd') + "\n"
      "DefaultFileSTL=" + std::string(200, 's') + "\nDefaultFileOBJ=cow.obj\n");
  const ImportOptions stl = ImportOptions::Load(FmtSTL, path_);
  EXPECT_TRUE(stl.flipFaces);
  EXPECT_TRUE(stl.singleObj);
  EXPECT_EQ(stl.model, 2);
  EXPECT_EQ(stl.metric, 0);
  EXPECT_EQ(stl.maxDegree, 300);
  EXPECT_EQ(stl.maxDependencies, 8);
  EXPECT_EQ(stl.gridFactor, 0.0f);
  EXPECT_TRUE(stl.meshQuality);
  EXPECT_FALSE(stl.checkBounds);
  EXPECT_EQ(stl.simplificationLevel, 0.25f);
  EXPECT_EQ(stl.ldrawDir, std::string(259, 'd'));
  EXPECT_EQ(stl.defaultFile, std::string(127, 's'));
  EXPECT_EQ(stl.fileName, stl.defaultFile);
  EXPECT_EQ(ImportOptions::Load(FmtOBJ, path_).defaultFile, "cow.obj");
  EXPECT_EQ(ImportOptions::Load(FmtPLY, path_).defaultFile, "image.ply");

  // What reaches the builder: MaxDegree 300 as 256, grid factor 0 as 0.1.
  EXPECT_EQ(BuilderDegreeLimit(stl.maxDegree), 256);
  EXPECT_EQ(BuilderDependencyLimit(stl.maxDependencies), 8);
  EXPECT_EQ(BuilderGridFactor(stl.gridFactor), 0.1f);
}

TEST_F(ImportOptionsTest, BuilderLimits) {
  EXPECT_EQ(BuilderDegreeLimit(64), 64);
  EXPECT_EQ(BuilderDegreeLimit(256), 256);
  EXPECT_EQ(BuilderDegreeLimit(257), 256);
  EXPECT_EQ(BuilderDependencyLimit(1000000), 256);
  EXPECT_EQ(BuilderDependencyLimit(0), 0);
  EXPECT_EQ(BuilderGridFactor(0.125f), 0.125f);
  EXPECT_EQ(BuilderGridFactor(-0.0f), 0.1f);  // exactly zero, either sign
  EXPECT_EQ(BuilderGridFactor(1e-30f), 1e-30f);
}

TEST_F(ImportOptionsTest, SaveWritesTheTableInOrderAndOnlyThisFormatsDefaultFile) {
  Put("[DlgImport]\nDefaultFileOBJ=keep.obj\nMaxDegree=12\n\n[WinScene]\nDrawMode=6912\n");
  ImportOptions options = ImportOptions::Load(FmtDXF, path_);
  EXPECT_EQ(options.maxDegree, 12);
  options.fileName = "/models/house.dxf";
  options.defaultFile = options.fileName;  // what the dialog does on "Import"
  options.metric = 2;
  options.gridFactor = 0.25f;
  options.simplificationLevel = 1.0f;
  ASSERT_TRUE(options.Save(path_));
  EXPECT_EQ(Contents(),
            "[DlgImport]\n"
            "DefaultFileOBJ=keep.obj\n"
            "MaxDegree=12\n"
            "FlipFaces=0\n"
            "SingleObj=0\n"
            "Model=1\n"
            "Metric=2\n"
            "MaxDependencies=16\n"
            "Quadrics.PairContraction.GridFactor=0.250000\n"
            "Quadrics.MeshQuality=0\n"
            "Quadrics.CheckBounds=1\n"
            "SimplificationLevel=1.000000\n"
            "LDrawDir=/usr/share/ldraw\n"
            "DefaultFileDXF=/models/house.dxf\n"
            "\n"
            "[WinScene]\n"
            "DrawMode=6912\n");
  const ImportOptions again = ImportOptions::Load(FmtDXF, path_);
  EXPECT_EQ(again.metric, 2);
  EXPECT_EQ(again.gridFactor, 0.25f);
  EXPECT_EQ(again.fileName, "/models/house.dxf");
  EXPECT_EQ(ImportOptions::Load(FmtOBJ, path_).defaultFile, "keep.obj");
}

TEST_F(ImportOptionsTest, FreshFileGetsTheKeysInTableOrder) {
  ASSERT_TRUE(ImportOptions::Load(Fmt3DS, path_).Save(path_));
  EXPECT_EQ(Contents(),
            "[DlgImport]\nFlipFaces=0\nSingleObj=0\nModel=1\nMetric=1\nMaxDegree=64\nMaxDependencies=16\n"
            "Quadrics.PairContraction.GridFactor=0.125000\nQuadrics.MeshQuality=0\nQuadrics.CheckBounds=1\n"
            "SimplificationLevel=0.500000\nLDrawDir=/usr/share/ldraw\nDefaultFile3DS=image.3ds\n");
}

}  // namespace
}  // namespace qx
