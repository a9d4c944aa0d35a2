// The settings file: defaults, the four value encodings, the sections as
// data, edits that keep the rest of the file, atomic replacement and hostile
// files.
#include "common/settings.h"

#include <sys/stat.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <random>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

class Settings : public testing::Test {
 protected:
  void SetUp() override { path_ = (dir_ / "vermelle.ini").string(); }

  void Put(const std::string& text) const {
    std::ofstream out(path_, std::ios::binary);
    out << text;
  }
  std::string Contents() const { return ReadWholeFile(path_); }
  std::vector<std::string> DirectoryEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    return names;
  }

  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
  std::string path_;
};

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

void ExpectDefaultView(const ViewSettings& view) {
  EXPECT_EQ(view.smoothAngle, 0.0f);
  EXPECT_FALSE(view.showAxis);
  EXPECT_TRUE(view.showStatusBar);
  EXPECT_FALSE(view.useVertexArray);
  EXPECT_TRUE(view.cullFace);
  EXPECT_EQ(view.drawMode, 6914);
  EXPECT_FALSE(view.antialiasing);
  EXPECT_EQ(view.backColor, 0xFFFFFF);
  EXPECT_TRUE(view.lightOn);
  EXPECT_TRUE(view.light0);
  EXPECT_TRUE(view.light1);
  EXPECT_FALSE(view.twoSideLight);
}

// --- Defaults and the sections as data -------------------------------------

TEST_F(Settings, MissingFileOrSectionOrEmptyPathGivesEveryDefault) {
  ExpectDefaultView(ViewSettings::Load(path_));
  ExpectDefaultView(ViewSettings::Load(""));  // LoadSettings' first run, before the name is known
  Put("[DlgSaveQX]\nBitsError=3\n[Other]\nDrawMode=6912\nBackColor=0\n");
  ExpectDefaultView(ViewSettings::Load(path_));

  const SaveDialogSettings save = SaveDialogSettings::Load((dir_ / "none.ini").string());
  EXPECT_EQ(save.bitsError, 15);
  EXPECT_EQ(save.connectMode, 1);
  EXPECT_EQ(save.geoMode, 3);
  EXPECT_EQ(save.predMode, 0);
  EXPECT_TRUE(save.useZLib);
  EXPECT_TRUE(save.genHTML);
  EXPECT_FALSE(save.genTXT);
  EXPECT_EQ(save.defaultFile, "image.3ds.qxz");
  const LoadDialogSettings load = LoadDialogSettings::Load(path_);
  EXPECT_FALSE(load.emulateModem);
  EXPECT_EQ(load.speedModem, 10);
  EXPECT_EQ(load.defaultFile, "image.3ds.qxz");
  EXPECT_FALSE(fs::exists(dir_ / "none.ini"));  // reading never creates the file
}

TEST_F(Settings, FirstSaveCreatesTheSectionWithTwelveKeysInTableOrder) {
  ASSERT_TRUE(ViewSettings{}.Save(path_));
  EXPECT_EQ(Contents(),
            "[WinScene]\n"
            "SmoothAngle=0.000000\n"
            "ShowAxis=0\n"
            "ShowStatusBar=1\n"
            "UseVertexArray=0\n"
            "CullFace=1\n"
            "DrawMode=6914\n"
            "Antialiasing=0\n"
            "BackColor=16777215\n"
            "LightOn=1\n"
            "Light0=1\n"
            "Light1=1\n"
            "TwoSideLight=0\n");

  ASSERT_TRUE(SaveDialogSettings{}.Save(path_));
  ASSERT_TRUE(LoadDialogSettings{}.Save(path_));
  EXPECT_NE(Contents().find("\n\n[DlgSaveQX]\nBitsError=15\nConnectMode=1\nGeoMode=3\nPredMode=0\nUseZLib=1\n"
                            "GenHTML=1\nGenTXT=0\nDefaultFile=image.3ds.qxz\n\n[DlgLoadQX]\nEmulateModem=0\n"
                            "SpeedModem=10\nDefaultFile=image.3ds.qxz\n"),
            std::string::npos)
      << Contents();
}

TEST_F(Settings, SectionsRoundTripEveryField) {
  ViewSettings view;
  view.smoothAngle = 0.984808f;
  view.showAxis = true;
  view.showStatusBar = false;
  view.useVertexArray = true;
  view.cullFace = false;
  view.drawMode = 6916;
  view.antialiasing = true;
  view.backColor = 0x123456;
  view.lightOn = false;
  view.light0 = false;
  view.light1 = false;
  view.twoSideLight = true;
  SaveDialogSettings save;
  save.bitsError = 63;
  save.connectMode = 0;
  save.geoMode = 2;
  save.predMode = 1;
  save.useZLib = false;
  save.genHTML = false;
  save.genTXT = true;
  save.defaultFile = "/home/me/models/cow.3ds.qx4";
  LoadDialogSettings load;
  load.emulateModem = true;
  load.speedModem = 3;
  load.defaultFile = "ship.qxz";
  ASSERT_TRUE(view.Save(path_));
  ASSERT_TRUE(save.Save(path_));
  ASSERT_TRUE(load.Save(path_));

  const ViewSettings view2 = ViewSettings::Load(path_);
  EXPECT_EQ(view2.smoothAngle, 0.984808f);
  EXPECT_TRUE(view2.showAxis && !view2.showStatusBar && view2.useVertexArray && !view2.cullFace);
  EXPECT_EQ(view2.drawMode, 6916);
  EXPECT_TRUE(view2.antialiasing && !view2.lightOn && !view2.light0 && !view2.light1 && view2.twoSideLight);
  EXPECT_EQ(view2.backColor, 0x123456);
  const SaveDialogSettings save2 = SaveDialogSettings::Load(path_);
  EXPECT_EQ(save2.bitsError, 63);
  EXPECT_EQ(save2.connectMode, 0);
  EXPECT_EQ(save2.geoMode, 2);
  EXPECT_EQ(save2.predMode, 1);
  EXPECT_TRUE(!save2.useZLib && !save2.genHTML && save2.genTXT);
  EXPECT_EQ(save2.defaultFile, "/home/me/models/cow.3ds.qx4");
  const LoadDialogSettings load2 = LoadDialogSettings::Load(path_);
  EXPECT_TRUE(load2.emulateModem);
  EXPECT_EQ(load2.speedModem, 3);
  EXPECT_EQ(load2.defaultFile, "ship.qxz");
}

TEST_F(Settings, BackColor255IsPureRedAndWritesBackAs255) {
  Put("[WinScene]\nBackColor=255\n");
  ViewSettings view = ViewSettings::Load(path_);
  EXPECT_EQ(view.backColor, 255);
  const std::array<float, 3> rgb = BackColorToRgb(view.backColor);
  EXPECT_FLOAT_EQ(rgb[0], 1.0f);
  EXPECT_EQ(rgb[1], 0.0f);
  EXPECT_EQ(rgb[2], 0.0f);
  view.backColor = RgbToBackColor(rgb);  // what the window stores back
  ASSERT_TRUE(view.Save(path_));
  EXPECT_NE(Contents().find("BackColor=255\n"), std::string::npos);

  // Every channel value survives the float round trip in every channel.
  for (int byte = 0; byte < 256; ++byte)
    for (int shift : {0, 8, 16}) ASSERT_EQ(RgbToBackColor(BackColorToRgb(byte << shift)), byte << shift);
  EXPECT_EQ(RgbToBackColor({2.0f, -1.0f, std::nanf("")}), 0xFF);
}

TEST_F(Settings, SmoothAngleHalfWritesBackAs0_500000) {
  Put("[WinScene]\nSmoothAngle=0.5\n");
  const ViewSettings view = ViewSettings::Load(path_);
  EXPECT_EQ(view.smoothAngle, 0.5f);
  ASSERT_TRUE(view.Save(path_));
  EXPECT_NE(Contents().find("SmoothAngle=0.500000\n"), std::string::npos);
  EXPECT_EQ(FormatSettingFloat(1.0f), "1.000000");
  EXPECT_EQ(FormatSettingFloat(-0.125f), "-0.125000");
  EXPECT_EQ(FormatSettingFloat(0.1f), "0.100000");
}

// --- Encodings --------------------------------------------------------------

TEST_F(Settings, IntegerIsTheLeadingDigitsAndMissingOrEmptyGivesTheDefault) {
  Put("[S]\n"
      "Plain=42\n"
      "Padded=   17   \n"
      "Negative=-7\n"
      "Plus=+3\n"
      "Trailing=12abc\n"
      "Words=abc\n"
      "Sign=-\n"
      "Empty=\n"
      "Fraction=2.9\n"
      "Hex=0x10\n"
      "Quoted=\"5\"\n"
      "Huge=4294967297\n");
  const SettingsFile file(path_);
  EXPECT_EQ(file.GetInt("S", "Plain", 9), 42);
  EXPECT_EQ(file.GetInt("S", "Padded", 9), 17);
  EXPECT_EQ(file.GetInt("S", "Negative", 9), -7);
  EXPECT_EQ(file.GetInt("S", "Plus", 9), 3);
  EXPECT_EQ(file.GetInt("S", "Trailing", 9), 12);
  EXPECT_EQ(file.GetInt("S", "Words", 9), 0);  // the classic reader's answer
  EXPECT_EQ(file.GetInt("S", "Sign", 9), 0);
  EXPECT_EQ(file.GetInt("S", "Empty", 9), 9);
  EXPECT_EQ(file.GetInt("S", "Missing", 9), 9);
  EXPECT_EQ(file.GetInt("S", "Fraction", 9), 2);
  EXPECT_EQ(file.GetInt("S", "Hex", 9), 0);
  EXPECT_EQ(file.GetInt("S", "Quoted", 9), 5);
  EXPECT_EQ(file.GetInt("S", "Huge", 9), 1);  // wraps modulo 2^32
  EXPECT_EQ(ParseSettingInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseSettingInt("-2147483648"), std::numeric_limits<int>::min());
}

TEST_F(Settings, BooleanIsAnIntegerAboveZero) {
  Put("[S]\nOne=1\nTwo=2\nZero=0\nMinus=-1\nText=yes\nEmpty=\n");
  const SettingsFile file(path_);
  EXPECT_TRUE(file.GetBool("S", "One", false));
  EXPECT_TRUE(file.GetBool("S", "Two", false));
  EXPECT_FALSE(file.GetBool("S", "Zero", true));
  EXPECT_FALSE(file.GetBool("S", "Minus", true));
  EXPECT_FALSE(file.GetBool("S", "Text", true));
  EXPECT_TRUE(file.GetBool("S", "Empty", true));
  EXPECT_TRUE(file.GetBool("S", "Missing", true));
  EXPECT_FALSE(file.GetBool("S", "Missing", false));
}

TEST_F(Settings, FloatIsConvertedLikeAtof) {
  Put("[S]\nHalf=0.5\nExp=1e-3\nJunk=1.5xyz\nText=abc\nEmpty=\nHuge=1e999\nNan=nan\nComma=0,5\n");
  const SettingsFile file(path_);
  EXPECT_EQ(file.GetFloat("S", "Half", 7), 0.5f);
  EXPECT_EQ(file.GetFloat("S", "Exp", 7), 0.001f);
  EXPECT_EQ(file.GetFloat("S", "Junk", 7), 1.5f);
  EXPECT_EQ(file.GetFloat("S", "Text", 7), 0.0f);
  EXPECT_EQ(file.GetFloat("S", "Empty", 7), 0.0f);  // an empty string, not a missing key
  EXPECT_EQ(file.GetFloat("S", "Missing", 0.125f), 0.125f);
  EXPECT_TRUE(std::isinf(file.GetFloat("S", "Huge", 7)));
  EXPECT_TRUE(std::isnan(file.GetFloat("S", "Nan", 7)));
  EXPECT_EQ(file.GetFloat("S", "Comma", 7), 0.0f);
}

TEST_F(Settings, FloatsAreReadAndWrittenInTheCNotationWhateverTheLocale) {
  // Only meaningful where a comma-decimal locale is installed.
  const char* installed = nullptr;
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE.utf8", "fr_FR.utf8"})
    if (std::setlocale(LC_NUMERIC, name)) {
      installed = name;
      break;
    }
  if (!installed) GTEST_SKIP() << "no comma-decimal locale installed";
  EXPECT_EQ(ParseSettingFloat("0.5"), 0.5f);
  EXPECT_EQ(FormatSettingFloat(0.5f), "0.500000");
  std::setlocale(LC_NUMERIC, "C");
}

TEST_F(Settings, StringIsReadIntoA128CharacterBuffer) {
  const std::string longValue(300, 'v');
  ASSERT_TRUE(WriteSettingString(path_, "S", "Long", longValue));
  EXPECT_EQ(GetSettingString(path_, "S", "Long", ""), std::string(127, 'v'));
  EXPECT_EQ(GetSettingString(path_, "S", "Long", "", 260), std::string(259, 'v'));
  EXPECT_EQ(GetSettingString(path_, "S", "Missing", longValue), std::string(127, 'v'));
  EXPECT_EQ(GetSettingString(path_, "S", "Missing", "abc", 1), "");
  EXPECT_NE(Contents().find(longValue), std::string::npos);  // stored as is

  Put("[S]\nQuoted=\"a b\"\nSingle='c'\nHalfQuoted=\"d\nPadded=   e f   \n");
  const SettingsFile file(path_);
  EXPECT_EQ(file.GetString("S", "Quoted", ""), "a b");
  EXPECT_EQ(file.GetString("S", "Single", ""), "c");
  EXPECT_EQ(file.GetString("S", "HalfQuoted", ""), "\"d");
  EXPECT_EQ(file.GetString("S", "Padded", ""), "e f");
}

// A value written as a pair of quotes is empty: strings read as "", numbers
// fall back to their defaults (a BackColor="" keeps the white background).
TEST_F(Settings, EmptyQuotesAreAnEmptyValue) {
  Put("[S]\nDouble=\"\"\nSingle=''\n[WinScene]\nBackColor=\"\"\n");
  const SettingsFile file(path_);
  EXPECT_EQ(file.GetString("S", "Double", "x"), "");
  EXPECT_EQ(file.GetString("S", "Single", "x"), "");
  EXPECT_EQ(file.GetInt("S", "Double", 9), 9);
  EXPECT_EQ(file.GetInt("S", "Single", 9), 9);
  EXPECT_EQ(ViewSettings::Load(path_).backColor, 0xFFFFFF);
}

// --- Names ------------------------------------------------------------------

TEST_F(Settings, SectionsAndKeysAreCaseInsensitive) {
  Put("[winscene]\nbackcolor=255\nSMOOTHANGLE=1.0\n");
  const ViewSettings view = ViewSettings::Load(path_);
  EXPECT_EQ(view.backColor, 255);
  EXPECT_EQ(view.smoothAngle, 1.0f);
  // A write updates the existing key under its own spelling.
  ASSERT_TRUE(WriteSettingInt(path_, "WINSCENE", "BackColor", 0));
  EXPECT_EQ(Contents(), "[winscene]\nbackcolor=0\nSMOOTHANGLE=1.0\n");
}

TEST_F(Settings, FirstSectionAndFirstKeyOfAName) {
  Put("Orphan=1\n[S]\nA=1\nA=2\n[T]\nB=3\n[s]\nA=4\nC=5\n");
  const SettingsFile file(path_);
  EXPECT_EQ(file.GetInt("S", "A", 0), 1);
  EXPECT_EQ(file.GetInt("S", "C", 0), 0);  // the second [s] does not count
  EXPECT_EQ(file.GetInt("S", "Orphan", 0), 0);
  ASSERT_TRUE(WriteSettingInt(path_, "S", "C", 6));
  EXPECT_EQ(Contents(), "Orphan=1\n[S]\nA=1\nA=2\nC=6\n[T]\nB=3\n[s]\nA=4\nC=5\n");
}

TEST_F(Settings, NamesAndValuesTheFileCannotHoldAreRefused) {
  Put("[S]\nA=1\n");
  SettingsFile file(path_);
  EXPECT_FALSE(file.SetInt("", "A", 1));
  EXPECT_FALSE(file.SetInt("S", "", 1));
  EXPECT_FALSE(file.SetInt("S]", "A", 1));
  EXPECT_FALSE(file.SetInt(" S", "A", 1));
  EXPECT_FALSE(file.SetInt("S", "A=B", 1));
  EXPECT_FALSE(file.SetInt("S", "[A", 1));
  EXPECT_FALSE(file.SetInt("S", "A\nB", 1));
  EXPECT_FALSE(file.SetString("S", "A", "two\nlines"));
  EXPECT_FALSE(file.SetString("S", "A", "cr\r"));
  EXPECT_FALSE(file.SetString("S", "A", std::string_view("zero\0byte", 9)));
  EXPECT_EQ(file.Text(), "[S]\nA=1\n");
  EXPECT_TRUE(file.SetString("S", "Dotted.Key.Name", "x=y"));
  EXPECT_TRUE(file.Save());
  EXPECT_EQ(GetSettingString(path_, "S", "dotted.key.name", ""), "x=y");
}

// --- Edits keep the rest of the file ------------------------------------------

TEST_F(Settings, WritingOneKeyKeepsEveryOtherLineAndItsOrder) {
  const std::string before =
      "; written by hand\n"
      "[DlgSaveQX]\n"
      "BitsError=12\n"
      "\n"
      "[WinScene]\n"
      "  ShowAxis = 1  \n"
      "junk line without equals\n"
      "BackColor=65280\n"
      "# comment=not a key? it is one, and it stays\n"
      "DrawMode=6913\n"
      "\n"
      "[DlgLoadQX]\n"
      "SpeedModem=4\n";
  Put(before);
  ASSERT_TRUE(WriteSettingInt(path_, "WinScene", "BackColor", 255));
  std::string expected = before;
  expected.replace(expected.find("BackColor=65280"), 15, "BackColor=255");
  EXPECT_EQ(Contents(), expected);

  // A new key goes after the section's last entry, before the blank line.
  ASSERT_TRUE(WriteSettingFloat(path_, "WinScene", "SmoothAngle", 0.5f));
  expected.insert(expected.find("DrawMode=6913\n") + 14, "SmoothAngle=0.500000\n");
  EXPECT_EQ(Contents(), expected);

  // A new section goes to the end.
  ASSERT_TRUE(WriteSettingString(path_, "DlgImport", "LDrawDir", "/opt/ldraw"));
  expected += "\n[DlgImport]\nLDrawDir=/opt/ldraw\n";
  EXPECT_EQ(Contents(), expected);

  // Saving the whole view section keeps the other sections untouched and
  // fills the section in table order after its existing keys.
  ViewSettings view = ViewSettings::Load(path_);
  EXPECT_TRUE(view.showAxis);
  EXPECT_EQ(view.drawMode, 6913);
  ASSERT_TRUE(view.Save(path_));
  const std::string after = Contents();
  EXPECT_EQ(after.substr(0, after.find("[WinScene]")), before.substr(0, before.find("[WinScene]")));
  EXPECT_NE(after.find("\n[DlgLoadQX]\nSpeedModem=4\n\n[DlgImport]\nLDrawDir=/opt/ldraw\n"), std::string::npos);
  EXPECT_NE(after.find("ShowAxis=1\njunk line without equals\nBackColor=255\n"), std::string::npos);
  EXPECT_NE(after.find("SmoothAngle=0.500000\nShowStatusBar=1\nUseVertexArray=0\nCullFace=1\nAntialiasing=0\n"
                       "LightOn=1\nLight0=1\nLight1=1\nTwoSideLight=0\n\n[DlgLoadQX]"),
            std::string::npos)
      << after;
}

TEST_F(Settings, CrlfFilesAndAMissingLastNewline) {
  Put("[WinScene]\r\nDrawMode=6912\r\nCullFace=0");
  const ViewSettings view = ViewSettings::Load(path_);
  EXPECT_EQ(view.drawMode, 6912);
  EXPECT_FALSE(view.cullFace);
  ASSERT_TRUE(WriteSettingInt(path_, "WinScene", "DrawMode", 6915));
  EXPECT_EQ(Contents(), "[WinScene]\r\nDrawMode=6915\r\nCullFace=0");
  ASSERT_TRUE(WriteSettingInt(path_, "WinScene", "LightOn", 0));
  EXPECT_EQ(Contents(), "[WinScene]\r\nDrawMode=6915\r\nCullFace=0\r\nLightOn=0\r\n");
  ASSERT_TRUE(WriteSettingInt(path_, "DlgLoadQX", "SpeedModem", 2));
  EXPECT_EQ(Contents(),
            "[WinScene]\r\nDrawMode=6915\r\nCullFace=0\r\nLightOn=0\r\n\r\n[DlgLoadQX]\r\nSpeedModem=2\r\n");

  Put("[S]");  // a header without newline, then a new key
  ASSERT_TRUE(WriteSettingInt(path_, "S", "K", 1));
  EXPECT_EQ(Contents(), "[S]\nK=1\n");
}

TEST_F(Settings, UnchangedValuesDoNotRewriteTheFile) {
  Put("[S]\nK=1\n");
  const auto before = fs::last_write_time(path_);
  ::chmod(path_.c_str(), 0640);
  SettingsFile file(path_);
  EXPECT_TRUE(file.SetInt("S", "K", 1));
  EXPECT_TRUE(file.Save());
  EXPECT_EQ(fs::last_write_time(path_), before);
  EXPECT_TRUE(file.SetInt("S", "K", 2));
  EXPECT_TRUE(file.Save());
  EXPECT_EQ(Contents(), "[S]\nK=2\n");
  struct stat info;
  ASSERT_EQ(::stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);  // the replaced file keeps its permissions
}

// --- Atomic replacement -----------------------------------------------------------

TEST_F(Settings, WritesLeaveNoTemporaryFileBehind) {
  const char* keys[] = {"K0", "K1", "K2", "K3", "K4"};
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(WriteSettingInt(path_, "S", keys[i % 5], i));
  ASSERT_TRUE(ViewSettings{}.Save(path_));
  EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"vermelle.ini"});

  // A failing replacement (the target is a directory) leaves nothing either.
  const std::string blocked = (dir_ / "blocked.ini").string();
  fs::create_directory(blocked);
  EXPECT_FALSE(WriteFileAtomically(blocked, "[S]\n"));
  EXPECT_FALSE(WriteSettingInt(blocked, "S", "K", 1));
  EXPECT_EQ(DirectoryEntries().size(), 2u);
  EXPECT_FALSE(WriteSettingInt("", "S", "K", 1));
}

TEST_F(Settings, WritingCreatesTheDirectoryAndFollowsSymbolicLinks) {
  const std::string nested = (dir_ / "a" / "b" / "vermelle.ini").string();
  ASSERT_TRUE(WriteSettingInt(nested, "S", "K", 3));
  EXPECT_EQ(GetSettingInt(nested, "S", "K", 0), 3);

  const std::string link = (dir_ / "link.ini").string();
  fs::create_symlink(nested, link);
  ASSERT_TRUE(WriteSettingInt(link, "S", "K", 4));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(GetSettingInt(nested, "S", "K", 0), 4);
}

TEST_F(Settings, PathFromVermelleIniElseXdgElseHome) {
  {
    ScopedEnv ini("VERMELLE_INI", "/tmp/custom.ini");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
    EXPECT_EQ(SettingsFilePath(), "/tmp/custom.ini");
  }
  {
    ScopedEnv ini("VERMELLE_INI", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
    EXPECT_EQ(SettingsFilePath(), "/xdg/vermelle/vermelle.ini");
  }
  {
    ScopedEnv ini("VERMELLE_INI", "");
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/is/ignored");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/vermelle/vermelle.ini");
  }
  {
    ScopedEnv ini("VERMELLE_INI", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    EXPECT_EQ(SettingsFilePath(), "vermelle.ini");
  }
}

// --- Hostile files --------------------------------------------------------------

TEST_F(Settings, HostileFilesNeverCrashAndKeepTheirBytes) {
  std::string hostile;
  hostile += std::string(1 << 20, 'x');  // a 1 MiB line
  hostile += "\n[WinScene\n";             // a header without ']'
  hostile += "[]\n=\n==\n[\n]\n";
  hostile += std::string("Bin\0ary=\xff\xfe\x01", 11) + "\n";
  hostile += std::string("DrawMode=69\0" "12\n", 15);  // a zero byte inside the value
  hostile += "[WinScene]\n";
  hostile += "BackColor=" + std::string(5000, '9') + "\n";
  hostile += "SmoothAngle=" + std::string(5000, '1') + ".5\n";
  hostile += std::string("\x80\x81\r\r\r\n", 6);
  hostile += "ShowAxis=1";  // no newline at the end
  Put(hostile);

  const ViewSettings view = ViewSettings::Load(path_);
  EXPECT_TRUE(view.showAxis);
  EXPECT_EQ(view.drawMode, 6914);  // the DrawMode line is above the section
  EXPECT_TRUE(std::isinf(view.smoothAngle));  // 127 ones (the buffer's share): too large
  const SettingsFile file(path_);
  EXPECT_EQ(file.GetString("WinScene", "BackColor", "").size(), 127u);

  ASSERT_TRUE(WriteSettingInt(path_, "WinScene", "CullFace", 0));
  const std::string after = Contents();
  ASSERT_EQ(after.size(), hostile.size() + 12);
  EXPECT_EQ(after.substr(0, hostile.size() - 10), hostile.substr(0, hostile.size() - 10));
  EXPECT_EQ(after.substr(hostile.size() - 10), "ShowAxis=1\nCullFace=0\n");

  // Only zero bytes and line breaks.
  Put(std::string(4096, '\0') + std::string(4096, '\n') + std::string(100, '\r'));
  ExpectDefaultView(ViewSettings::Load(path_));
  ASSERT_TRUE(ViewSettings{}.Save(path_));
  ExpectDefaultView(ViewSettings::Load(path_));
}

// Whatever the file held, a saved section reads back as saved, and the file
// only grows by what was set.
TEST_F(Settings, SavedSectionReadsBackFromAnyFile) {
  const char* pieces[] = {"[WinScene]", "[winscene ]", "[DlgSaveQX]", "[", "]", "=", "BackColor=", "backcolor = 7",
                          "DrawMode=x", "\n", "\r\n", "\r", " ", "\t", "\"", "",
                          "\xff", "SmoothAngle=1e9", "Light0", ";c"};  // piece 15 is a zero byte
  std::mt19937 random(7);
  ViewSettings saved;
  saved.smoothAngle = 0.25f;
  saved.showAxis = true;
  saved.drawMode = 6913;
  saved.backColor = 255;
  saved.light1 = false;
  for (int round = 0; round < 60; ++round) {
    std::string text;
    const int count = int(random() % 60);
    for (int i = 0; i < count; ++i) {
      const std::size_t which = random() % std::size(pieces);
      text.append(pieces[which], which == 15 ? 1 : std::strlen(pieces[which]));
    }
    Put(text);
    ASSERT_TRUE(saved.Save(path_)) << round;
    const ViewSettings loaded = ViewSettings::Load(path_);
    EXPECT_EQ(loaded.smoothAngle, 0.25f) << round;
    EXPECT_TRUE(loaded.showAxis) << round;
    EXPECT_EQ(loaded.drawMode, 6913) << round;
    EXPECT_EQ(loaded.backColor, 255) << round;
    EXPECT_FALSE(loaded.light1) << round;
    EXPECT_TRUE(loaded.light0 && loaded.lightOn && loaded.cullFace && loaded.showStatusBar) << round;
    EXPECT_EQ(GetSettingInt(path_, "DlgSaveQX", "Missing", 3), 3);
  }
}

TEST_F(Settings, UnusableFilesReadAsEmptyAndAreNeverWritten) {
  // A directory in place of the file.
  fs::create_directory(path_);
  ExpectDefaultView(ViewSettings::Load(path_));
  EXPECT_FALSE(ViewSettings{}.Save(path_));
  EXPECT_TRUE(fs::is_directory(path_));
  fs::remove(path_);

  // A file beyond the size limit.
  {
    std::ofstream out(path_, std::ios::binary);
    out << "[WinScene]\nDrawMode=6912\n";
    out << std::string(kMaxSettingsFileSize, ';');
  }
  const auto size = fs::file_size(path_);
  EXPECT_EQ(ViewSettings::Load(path_).drawMode, 6914);
  EXPECT_FALSE(WriteSettingInt(path_, "WinScene", "DrawMode", 6913));
  EXPECT_EQ(fs::file_size(path_), size);

  // Devices and pipes: /dev/zero would never end, a FIFO would block.
  EXPECT_EQ(GetSettingInt("/dev/zero", "S", "K", 5), 5);
  const std::string fifo = (dir_ / "fifo.ini").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(GetSettingInt(fifo, "S", "K", 5), 5);
  EXPECT_FALSE(WriteSettingInt(fifo, "S", "K", 5));
  EXPECT_TRUE(fs::is_fifo(fifo));
}

}  // namespace
}  // namespace qx
