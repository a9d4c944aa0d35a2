// The settings file ("vermelle.ini"): our own reader and writer of a
// private-profile file -- [Section] lines, each followed by key=value lines --
// with the semantics of the classic private-profile functions, plus the sections of the view and of the save and open dialogs
// as data.
//
// The file as read:
//   - Lines end at '\n'; a '\r' before it (CRLF) and white space around
//     section names, keys and values do not count.
//   - A line starting with '[' and holding a ']' names a section: the text
//     between the '[' and the last ']'.
//   - A line holding '=' is an entry of the section above it: the key runs to
//     the first '=', the value is the rest; a value enclosed in a matching
//     pair of quotes ('...' or "...") loses them, as the platform's reader
//     does. Entries above the first section belong to none.
//   - Every other line (blank, comment, junk) is ignored when reading and kept
//     byte for byte when writing.
//   - Section and key names compare case-insensitively (ASCII). When a
//     section appears more than once only its first occurrence counts, and so
//     does the first of two equal keys in it.
//
// Value encodings (four):
//   - integer: written with "%d"; read as optional sign and leading decimal
//     digits, so "12abc" reads 12 and a value without digits ("abc", "-")
//     reads 0, like the platform reader. A missing key or an empty value gives
//     the default. Digits beyond the int range wrap modulo 2^32, as the
//     platform reader's 32-bit accumulator did.
//   - boolean: written as 0 or 1; read as an integer, true when above 0.
//   - float: written with "%f" ("0.500000"); read as a string (the default
//     formatted with "%f" when the key is missing) and converted like atof:
//     the leading decimal number, 0 when there is none, +-inf when too large.
//   - string: stored as is; read into a buffer of 128 characters, so at most
//     127 characters come back (the value is also cut at a zero byte).
// Numbers are written and read in the "C" notation whatever the process's
// locale.
//
// Writing replaces the whole file atomically: the new text goes to a
// temporary file in the same directory, which is then renamed over the old
// one, so a crash leaves either the old or the new file, never half of one.
// A write changes only the entries it names: every other line keeps its bytes
// and its place; a new key is appended to its section (after the section's
// last entry), a new section to the end of the file. New lines use the file's
// line ending (CRLF when its first line ends so).
//
// The file is hostile input: long lines, binary bytes, a missing last newline
// are all fine. Only regular files of at most kMaxSettingsFileSize bytes are
// read; any other file (a directory, a device, a huge file) reads as empty,
// and writing to it is refused so that it is never clobbered.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace qx {

// The bare name the program hands over.
inline constexpr char kSettingsFileName[] = "vermelle.ini";
// The platform's string buffer: values read back hold at most 127 characters.
inline constexpr std::size_t kSettingsStringSize = 128;
// Larger files are not treated as settings files (read as empty, never written).
inline constexpr std::size_t kMaxSettingsFileSize = 16u << 20;

// Where the settings file lives: the environment variable VERMELLE_INI when it
// is set and not empty; else $XDG_CONFIG_HOME/vermelle/vermelle.ini when
// XDG_CONFIG_HOME is an absolute path; else $HOME/.config/vermelle/vermelle.ini;
// else "vermelle.ini" in the current directory. The directory need not
// exist: writing creates it.
std::string SettingsFilePath();

// Replaces the file at `path` with `contents` atomically: writes a temporary
// file next to it (same directory, created when missing), flushes it to disk,
// gives it the old file's permission bits (0644 for a new file) and renames it
// over `path`; a symbolic link at `path` is followed, so the link stays.
// Returns false, leaving the old file and no temporary behind, on any failure.
bool WriteFileAtomically(const std::string& path, std::string_view contents);

// One settings file held in memory: read once, queried and edited by key, and
// written back with Save. Reads of several keys and writes of a whole section
// go through one of these so that the file is read and replaced once.
class SettingsFile {
 public:
  // Reads the file at `path`. A missing file, an empty path and an unusable
  // file (see the top of this header) read as empty: every key takes its
  // default.
  explicit SettingsFile(std::string path);

  const std::string& Path() const { return path_; }
  // The file's text as it would be written now.
  const std::string& Text() const { return text_; }

  int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
  bool GetBool(std::string_view section, std::string_view key, bool defaultValue) const;
  float GetFloat(std::string_view section, std::string_view key, float defaultValue) const;
  // The value cut to bufferSize - 1 characters (the default too, when the key
  // is missing). `bufferSize` counts the terminating zero of the platform's
  // buffer, so it is at least 1.
  std::string GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                        std::size_t bufferSize = kSettingsStringSize) const;

  // Edit the text in memory (nothing is written until Save). Each returns
  // false and changes nothing when the file cannot hold the name or value:
  // an empty or padded name, a section name with ']', a key with '=' or
  // starting with '[', any line break or zero byte.
  bool SetInt(std::string_view section, std::string_view key, int value);
  bool SetBool(std::string_view section, std::string_view key, bool value);
  bool SetFloat(std::string_view section, std::string_view key, float value);
  bool SetString(std::string_view section, std::string_view key, std::string_view value);

  // Writes the text back with WriteFileAtomically when it changed (true and no
  // write when nothing changed). False for an empty path, an unusable file,
  // or a failed write.
  bool Save();

 private:
  std::string path_;
  std::string text_;
  bool usable_ = true;
  bool changed_ = false;
};

// Single reads and writes by (file path, section, key): each reads the file,
// and each write replaces it (SettingsFile::Save).
int GetSettingInt(const std::string& path, std::string_view section, std::string_view key, int defaultValue);
bool GetSettingBool(const std::string& path, std::string_view section, std::string_view key, bool defaultValue);
float GetSettingFloat(const std::string& path, std::string_view section, std::string_view key, float defaultValue);
std::string GetSettingString(const std::string& path, std::string_view section, std::string_view key,
                             std::string_view defaultValue, std::size_t bufferSize = kSettingsStringSize);
bool WriteSettingInt(const std::string& path, std::string_view section, std::string_view key, int value);
bool WriteSettingBool(const std::string& path, std::string_view section, std::string_view key, bool value);
bool WriteSettingFloat(const std::string& path, std::string_view section, std::string_view key, float value);
bool WriteSettingString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// The value encodings on their own (used by SettingsFile).
// Optional white space, sign and leading decimal digits; 0 without digits.
int ParseSettingInt(std::string_view text);
// Like atof in the "C" locale: the leading decimal number, 0 without one.
float ParseSettingFloat(std::string_view text);
// "%f" in the "C" locale: "0.500000".
std::string FormatSettingFloat(float value);

// A section's keys as data: each key with the member of a plain struct that
// holds its value; the struct's member initialisers are the defaults. Strings
// are read with their own buffer size.
template <class Record>
struct SettingsKey {
  const char* key;
  std::variant<bool Record::*, int Record::*, float Record::*, std::string Record::*> field;
  std::size_t bufferSize = kSettingsStringSize;
};

// Reads every key of `keys` into `record`; a missing key keeps the value the
// record holds (its default).
template <class Record>
void ReadSettingsKeys(const SettingsFile& file, std::string_view section, std::span<const SettingsKey<Record>> keys,
                      Record& record) {
  for (const SettingsKey<Record>& key : keys) {
    if (auto* member = std::get_if<bool Record::*>(&key.field))
      record.*(*member) = file.GetBool(section, key.key, record.*(*member));
    else if (auto* member = std::get_if<int Record::*>(&key.field))
      record.*(*member) = file.GetInt(section, key.key, record.*(*member));
    else if (auto* member = std::get_if<float Record::*>(&key.field))
      record.*(*member) = file.GetFloat(section, key.key, record.*(*member));
    else if (auto* member = std::get_if<std::string Record::*>(&key.field))
      record.*(*member) = file.GetString(section, key.key, record.*(*member), key.bufferSize);
  }
}

// Sets every key of `keys` from `record`, in the order of `keys`. Returns
// false when some value could not be set (see SettingsFile::SetString).
template <class Record>
bool WriteSettingsKeys(SettingsFile& file, std::string_view section, std::span<const SettingsKey<Record>> keys,
                       const Record& record) {
  bool ok = true;
  for (const SettingsKey<Record>& key : keys) {
    if (auto* member = std::get_if<bool Record::*>(&key.field))
      ok &= file.SetBool(section, key.key, record.*(*member));
    else if (auto* member = std::get_if<int Record::*>(&key.field))
      ok &= file.SetInt(section, key.key, record.*(*member));
    else if (auto* member = std::get_if<float Record::*>(&key.field))
      ok &= file.SetFloat(section, key.key, record.*(*member));
    else if (auto* member = std::get_if<std::string Record::*>(&key.field))
      ok &= file.SetString(section, key.key, record.*(*member));
  }
  return ok;
}

// Section "WinScene": the scene window's view settings, in their fixed
// order, which is also the order SaveSettings
// writes them in.
struct ViewSettings {
  static constexpr char kSection[] = "WinScene";

  float smoothAngle = 0.0f;     // SmoothAngle: shading level, 1 smooth, 0 flat
  bool showAxis = false;        // ShowAxis
  bool showStatusBar = true;    // ShowStatusBar
  bool useVertexArray = false;  // UseVertexArray
  bool cullFace = true;         // CullFace
  int drawMode = 6914;          // DrawMode: 6912 points, 6913 edges, 6914 solid, 6915/6916 hidden
  bool antialiasing = false;    // Antialiasing
  int backColor = 0xFFFFFF;     // BackColor: red bits 0-7, green 8-15, blue 16-23
  bool lightOn = true;          // LightOn
  bool light0 = true;           // Light0
  bool light1 = true;           // Light1
  bool twoSideLight = false;    // TwoSideLight

  // The twelve keys in table order.
  static std::span<const SettingsKey<ViewSettings>> Keys();
  // Reads the section from the file at `path`; missing keys (or a missing
  // file, or an empty path) give the defaults above.
  static ViewSettings Load(const std::string& path);
  // Writes all twelve keys in table order (SaveSettings); false when the file
  // could not be written.
  bool Save(const std::string& path) const;
};

// BackColor's channels as the renderer takes them: each byte x 0.003921569.
std::array<float, 3> BackColorToRgb(int backColor);
// And back: each channel x 255, truncated (clamped to 0..255 first; NaN
// counts as 0). Every byte value survives BackColorToRgb and back.
int RgbToBackColor(const std::array<float, 3>& rgb);

// Section "DlgSaveQX": the save dialog (Parts 1.3, 1.4).
struct SaveDialogSettings {
  static constexpr char kSection[] = "DlgSaveQX";

  int bitsError = 15;                       // BitsError: 0 "None", n "n bits"
  int connectMode = 1;                      // ConnectMode: connectivity coder (2: our dense one)
  int geoMode = 3;                          // GeoMode: geometry coder (4: our dense one)
  int predMode = 0;                         // PredMode: predictor
  bool useZLib = true;                      // UseZLib: pack with gzip
  bool genHTML = true;                      // GenHTML: also write the web page
  bool genTXT = false;                      // GenTXT: also write the text dump
  std::string defaultFile = "image.3ds.qxz";  // DefaultFile

  static std::span<const SettingsKey<SaveDialogSettings>> Keys();
  static SaveDialogSettings Load(const std::string& path);
  // Writes all keys in table order (the dialog's OK).
  bool Save(const std::string& path) const;
};

// Section "DlgLoadQX": the open dialog (Parts 1.3, 1.4).
struct LoadDialogSettings {
  static constexpr char kSection[] = "DlgLoadQX";

  bool emulateModem = false;                  // EmulateModem
  int speedModem = 10;                        // SpeedModem: entry of the rate table
  std::string defaultFile = "image.3ds.qxz";  // DefaultFile

  static std::span<const SettingsKey<LoadDialogSettings>> Keys();
  static LoadDialogSettings Load(const std::string& path);
  bool Save(const std::string& path) const;
};

}  // namespace qx
