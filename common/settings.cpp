#include "common/settings.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "common/text.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Text helpers

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// ---------------------------------------------------------------------------
// Line structure

// One line of the text: [begin, end) is its content without the '\n' (a '\r'
// before it is part of the content and trimmed away by ParseLine); `next` is
// where the following line starts.
struct LineSpan {
  std::size_t begin, end, next;
};

enum class LineKind { kOther, kSection, kEntry };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section name or key
  std::string_view value;  // entry value (trimmed, quotes kept)
};

ParsedLine ParseLine(std::string_view line) {
  line = Trim(line);
  if (line.empty()) return {};
  if (line.front() == '[') {
    const std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) return {};
    return {LineKind::kSection, Trim(line.substr(1, close - 1)), {}};
  }
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return {};
  return {LineKind::kEntry, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

// Where a key is, or where it would go, in the first section of that name.
struct KeyLocation {
  bool sectionFound = false;
  bool keyFound = false;
  LineSpan keyLine{};       // the key's line (keyFound)
  std::string_view key;     // the key as spelt in the file (keyFound)
  std::string_view value;   // its value (keyFound)
  std::size_t insertAt = 0;  // after the section's last entry or its header (sectionFound)
};

KeyLocation Locate(std::string_view text, std::string_view section, std::string_view key) {
  KeyLocation location;
  bool inSection = false;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t newline = text.find('\n', begin);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
    const LineSpan line{begin, end, newline == std::string_view::npos ? text.size() : newline + 1};
    begin = line.next;
    const ParsedLine parsed = ParseLine(text.substr(line.begin, line.end - line.begin));
    if (parsed.kind == LineKind::kSection) {
      if (inSection) break;  // only the first section of that name counts
      if (EqualsIgnoreCase(parsed.name, section)) {
        location.sectionFound = inSection = true;
        location.insertAt = line.next;
      }
    } else if (parsed.kind == LineKind::kEntry && inSection) {
      location.insertAt = line.next;
      if (EqualsIgnoreCase(parsed.name, key)) {
        location.keyFound = true;
        location.keyLine = line;
        location.key = parsed.name;
        location.value = parsed.value;
        break;
      }
    }
  }
  return location;
}

std::string_view LineEnding(std::string_view text) {
  const std::size_t newline = text.find('\n');
  return (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') ? "\r\n" : "\n";
}

bool HasLineBreakOrZero(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != text.npos;
}

bool ValidName(std::string_view name) {
  return !name.empty() && Trim(name).size() == name.size() && !HasLineBreakOrZero(name);
}

bool ValidSection(std::string_view section) { return ValidName(section) && section.find(']') == section.npos; }

bool ValidKey(std::string_view key) {
  return ValidName(key) && key.find('=') == key.npos && key.front() != '[';
}

// The value as the platform's reader returns it: one pair of matching
// surrounding quotes dropped, cut at a zero byte.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  const std::size_t zero = value.find('\0');
  return zero == value.npos ? value : value.substr(0, zero);
}

// ---------------------------------------------------------------------------
// Files

enum class ReadResult { kMissing, kRead, kUnusable };

ReadResult ReadSettingsText(const std::string& path, std::string& text) {
  text.clear();
  if (path.empty()) return ReadResult::kMissing;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) return ReadResult::kMissing;
  if (error || status.type() != fs::file_type::regular) return ReadResult::kUnusable;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return ReadResult::kUnusable;
  char chunk[1 << 16];
  ReadResult result = ReadResult::kRead;
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    if (text.size() + got > kMaxSettingsFileSize) {
      result = ReadResult::kUnusable;
      break;
    }
    text.append(chunk, got);
    if (got < sizeof chunk) {
      if (std::ferror(file)) result = ReadResult::kUnusable;
      break;
    }
  }
  std::fclose(file);
  if (result != ReadResult::kRead) text.clear();
  return result;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(std::size_t(written));
  }
  return true;
}

void SyncDirectory(const fs::path& directory) {
#ifdef O_DIRECTORY
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
#else
  (void)directory;
#endif
}

std::string GetEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

// ---------------------------------------------------------------------------
// Paths and atomic replacement

std::string SettingsFilePath() {
  const std::string override = GetEnvironment("VERMELLE_INI");
  if (!override.empty()) return override;
  const std::string xdg = GetEnvironment("XDG_CONFIG_HOME");
  if (!xdg.empty() && xdg.front() == '/') return (fs::path(xdg) / "vermelle" / kSettingsFileName).string();
  const std::string home = GetEnvironment("HOME");
  if (!home.empty()) return (fs::path(home) / ".config" / "vermelle" / kSettingsFileName).string();
  return kSettingsFileName;
}

bool WriteFileAtomically(const std::string& path, std::string_view contents) {
  if (path.empty()) return false;
  std::error_code error;
  fs::path target(path);
  if (fs::is_symlink(fs::symlink_status(target, error))) {
    const fs::path resolved = fs::weakly_canonical(target, error);
    if (error) return false;
    target = resolved;
  }
  if (!target.has_filename()) return false;
  fs::path directory = target.parent_path();
  if (directory.empty()) directory = ".";
  fs::create_directories(directory, error);
  if (!fs::is_directory(directory, error)) return false;

  std::string temporaryName = ".";
  temporaryName.append(target.filename().string()).append(".tmp-XXXXXX");
  std::string name = (directory / temporaryName).string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  struct stat old;
  const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, contents) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(name.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(name.c_str());
    return false;
  }
  SyncDirectory(directory);
  return true;
}

// ---------------------------------------------------------------------------
// Encodings

int ParseSettingInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10u + std::uint32_t(text[i] - '0');
  return static_cast<int>(negative ? 0u - value : value);
}

float ParseSettingFloat(std::string_view text) {
  const std::string copy(text.substr(0, std::min(text.find('\0'), text.size())));
  CNumericLocale cLocale;
  return std::strtof(copy.c_str(), nullptr);
}

std::string FormatSettingFloat(float value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  if (result.ec != std::errc()) return "0.000000";
  return std::string(buffer, result.ptr);
}

// ---------------------------------------------------------------------------
// SettingsFile

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {
  usable_ = ReadSettingsText(path_, text_) != ReadResult::kUnusable;
}

int SettingsFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
  const KeyLocation location = Locate(text_, section, key);
  if (!location.keyFound) return defaultValue;
  const std::string_view value = Unquote(location.value);
  // The platform reader reads the value as a string with an empty default
  // and gives the default for an empty result.
  if (value.empty()) return defaultValue;
  return ParseSettingInt(value);
}

bool SettingsFile::GetBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return GetInt(section, key, defaultValue ? 1 : 0) > 0;
}

float SettingsFile::GetFloat(std::string_view section, std::string_view key, float defaultValue) const {
  return ParseSettingFloat(GetString(section, key, FormatSettingFloat(defaultValue)));
}

std::string SettingsFile::GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    std::size_t bufferSize) const {
  const KeyLocation location = Locate(text_, section, key);
  std::string_view value = location.keyFound ? Unquote(location.value) : defaultValue;
  value = value.substr(0, std::min(value.find('\0'), value.size()));
  const std::size_t room = bufferSize > 0 ? bufferSize - 1 : 0;
  return std::string(value.substr(0, std::min(value.size(), room)));
}

bool SettingsFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
  if (!ValidSection(section) || !ValidKey(key) || HasLineBreakOrZero(value)) return false;
  const KeyLocation location = Locate(text_, section, key);
  const std::string_view eol = LineEnding(text_);
  std::string edited;
  if (location.keyFound) {
    // Rewrite the content of the key's line, keeping the key's spelling and
    // the line's own ending.
    std::size_t end = location.keyLine.end;
    if (end > location.keyLine.begin && text_[end - 1] == '\r') --end;
    std::string line = std::string(location.key) + "=" + std::string(value);
    if (text_.compare(location.keyLine.begin, end - location.keyLine.begin, line) == 0) return true;
    edited = text_.substr(0, location.keyLine.begin) + line + text_.substr(end);
  } else if (location.sectionFound) {
    std::string line = std::string(key) + "=" + std::string(value) + std::string(eol);
    // The insertion point follows a line ending unless it is the end of a
    // text without a final newline.
    if (location.insertAt == text_.size() && !text_.empty() && text_.back() != '\n') line.insert(0, eol);
    edited = text_.substr(0, location.insertAt) + line + text_.substr(location.insertAt);
  } else {
    edited = text_;
    if (!edited.empty() && edited.back() != '\n') edited += eol;
    if (!edited.empty()) edited += eol;  // a blank line between sections
    edited.append("[").append(section).append("]").append(eol);
    edited.append(key).append("=").append(value).append(eol);
  }
  text_ = std::move(edited);
  changed_ = true;
  return true;
}

bool SettingsFile::SetInt(std::string_view section, std::string_view key, int value) {
  return SetString(section, key, std::to_string(value));
}

bool SettingsFile::SetBool(std::string_view section, std::string_view key, bool value) {
  return SetInt(section, key, value ? 1 : 0);
}

bool SettingsFile::SetFloat(std::string_view section, std::string_view key, float value) {
  return SetString(section, key, FormatSettingFloat(value));
}

bool SettingsFile::Save() {
  if (path_.empty() || !usable_) return false;
  if (!changed_) return true;
  if (!WriteFileAtomically(path_, text_)) return false;
  changed_ = false;
  return true;
}

// ---------------------------------------------------------------------------
// Single reads and writes

int GetSettingInt(const std::string& path, std::string_view section, std::string_view key, int defaultValue) {
  return SettingsFile(path).GetInt(section, key, defaultValue);
}

bool GetSettingBool(const std::string& path, std::string_view section, std::string_view key, bool defaultValue) {
  return SettingsFile(path).GetBool(section, key, defaultValue);
}

float GetSettingFloat(const std::string& path, std::string_view section, std::string_view key, float defaultValue) {
  return SettingsFile(path).GetFloat(section, key, defaultValue);
}

std::string GetSettingString(const std::string& path, std::string_view section, std::string_view key,
                             std::string_view defaultValue, std::size_t bufferSize) {
  return SettingsFile(path).GetString(section, key, defaultValue, bufferSize);
}

bool WriteSettingInt(const std::string& path, std::string_view section, std::string_view key, int value) {
  SettingsFile file(path);
  return file.SetInt(section, key, value) && file.Save();
}

bool WriteSettingBool(const std::string& path, std::string_view section, std::string_view key, bool value) {
  SettingsFile file(path);
  return file.SetBool(section, key, value) && file.Save();
}

bool WriteSettingFloat(const std::string& path, std::string_view section, std::string_view key, float value) {
  SettingsFile file(path);
  return file.SetFloat(section, key, value) && file.Save();
}

bool WriteSettingString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  SettingsFile file(path);
  return file.SetString(section, key, value) && file.Save();
}

// ---------------------------------------------------------------------------
// Sections

namespace {

template <class Record>
Record LoadSection(const std::string& path) {
  Record record;
  ReadSettingsKeys<Record>(SettingsFile(path), Record::kSection, Record::Keys(), record);
  return record;
}

template <class Record>
bool SaveSection(const std::string& path, const Record& record) {
  SettingsFile file(path);
  const bool set = WriteSettingsKeys<Record>(file, Record::kSection, Record::Keys(), record);
  return file.Save() && set;
}

const std::array<SettingsKey<ViewSettings>, 12> kViewSettingsKeys = {{
    {"SmoothAngle", &ViewSettings::smoothAngle},
    {"ShowAxis", &ViewSettings::showAxis},
    {"ShowStatusBar", &ViewSettings::showStatusBar},
    {"UseVertexArray", &ViewSettings::useVertexArray},
    {"CullFace", &ViewSettings::cullFace},
    {"DrawMode", &ViewSettings::drawMode},
    {"Antialiasing", &ViewSettings::antialiasing},
    {"BackColor", &ViewSettings::backColor},
    {"LightOn", &ViewSettings::lightOn},
    {"Light0", &ViewSettings::light0},
    {"Light1", &ViewSettings::light1},
    {"TwoSideLight", &ViewSettings::twoSideLight},
}};

const std::array<SettingsKey<SaveDialogSettings>, 8> kSaveDialogKeys = {{
    {"BitsError", &SaveDialogSettings::bitsError},
    {"ConnectMode", &SaveDialogSettings::connectMode},
    {"GeoMode", &SaveDialogSettings::geoMode},
    {"PredMode", &SaveDialogSettings::predMode},
    {"UseZLib", &SaveDialogSettings::useZLib},
    {"GenHTML", &SaveDialogSettings::genHTML},
    {"GenTXT", &SaveDialogSettings::genTXT},
    {"DefaultFile", &SaveDialogSettings::defaultFile},
}};

const std::array<SettingsKey<LoadDialogSettings>, 3> kLoadDialogKeys = {{
    {"EmulateModem", &LoadDialogSettings::emulateModem},
    {"SpeedModem", &LoadDialogSettings::speedModem},
    {"DefaultFile", &LoadDialogSettings::defaultFile},
}};

}  // namespace

std::span<const SettingsKey<ViewSettings>> ViewSettings::Keys() { return kViewSettingsKeys; }
ViewSettings ViewSettings::Load(const std::string& path) { return LoadSection<ViewSettings>(path); }
bool ViewSettings::Save(const std::string& path) const { return SaveSection(path, *this); }

std::span<const SettingsKey<SaveDialogSettings>> SaveDialogSettings::Keys() { return kSaveDialogKeys; }
SaveDialogSettings SaveDialogSettings::Load(const std::string& path) { return LoadSection<SaveDialogSettings>(path); }
bool SaveDialogSettings::Save(const std::string& path) const { return SaveSection(path, *this); }

std::span<const SettingsKey<LoadDialogSettings>> LoadDialogSettings::Keys() { return kLoadDialogKeys; }
LoadDialogSettings LoadDialogSettings::Load(const std::string& path) { return LoadSection<LoadDialogSettings>(path); }
bool LoadDialogSettings::Save(const std::string& path) const { return SaveSection(path, *this); }

std::array<float, 3> BackColorToRgb(int backColor) {
  const auto bits = static_cast<std::uint32_t>(backColor);
  std::array<float, 3> rgb;
  for (int channel = 0; channel < 3; ++channel)
    rgb[channel] = float((bits >> (8 * channel)) & 0xFFu) * 0.003921569f;
  return rgb;
}

int RgbToBackColor(const std::array<float, 3>& rgb) {
  std::uint32_t bits = 0;
  for (int channel = 0; channel < 3; ++channel) {
    float scaled = rgb[channel] * 255.0f;
    if (!(scaled > 0.0f)) scaled = 0.0f;  // also NaN
    if (scaled > 255.0f) scaled = 255.0f;
    bits |= std::uint32_t(scaled) << (8 * channel);
  }
  return static_cast<int>(bits);
}

}  // namespace qx
