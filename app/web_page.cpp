#include "app/web_page.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/settings.h"

namespace qx {

constexpr std::array<std::string_view, kWebPageTemplateLines> kWebPageTemplate = {
    "<HTML><HEAD>",
    "<TITLE>Trevalis Representation</TITLE>",
    "",
    "<SCRIPT LANGUAGE=\"JavaScript\">",
    "function showModel(textstring) {",
    "\tQXRep32.QXFileName='./' + textstring",
    "}",
    "</SCRIPT>",
    "",
    "</HEAD>",
    "<BODY bgcolor=white link=black>",
    "<P align=center>",
    "<FONT size=6>",
    "<A href=\"@HOME@\"",
    "style=\"TEXT-DECORATION: none\" title=\"Goto home page\">",
    "The Trevalis",
    "</A>",
    "</FONT>",
    "</P>",
    "",
    "<P align=center>",
    "<OBJECT classid=clsid:@CLASSID@",
    "        codeBase=@CONTROL@",
    "\tid=QXRep32 style=\"HEIGHT: @HEIGHT@px; WIDTH: @WIDTH@px\" VIEWASTEXT>",
    "\t<PARAM NAME=\"QXFileName\" VALUE=\"@FILE@\">",
    "\t<PARAM NAME=\"SmoothAngle\" VALUE=0.3>",
    "\t<PARAM NAME=\"CullFace\" VALUE=0>",
    "\t<PARAM NAME=\"ShowAxis\" VALUE=0>",
    "\t<PARAM NAME=\"UseVertexArray\" VALUE=0>",
    "\t<PARAM NAME=\"EnableTolerance\" VALUE=0>",
    "\t<PARAM NAME=\"Tolerance\" VALUE=@TOLERANCE@>",
    "\t<PARAM NAME=\"KbPerSecond\" VALUE=@RATE@>",
    "\t<PARAM NAME=\"ShowStatusBar\" VALUE=0>",
    "\t<PARAM NAME=\"Antialiasing\" VALUE=1>",
    "</OBJECT>",
    "</P>",
    "",
    "</BODY>",
    "</HTML>",
};
static_assert(kWebPageTemplate[kWebPageBodyEndLine] == "</BODY>");

namespace {

// The code point of the UTF-8 sequence at text[pos] and its length in bytes;
// length 0 when the bytes there are not a valid, shortest-form sequence of
// two to four bytes.
struct Utf8Sequence {
  char32_t codePoint = 0;
  int length = 0;
};

Utf8Sequence DecodeUtf8(std::string_view text, size_t pos) {
  const auto lead = static_cast<uint8_t>(text[pos]);
  int length = 0;
  char32_t codePoint = 0;
  if ((lead & 0xE0) == 0xC0) length = 2, codePoint = lead & 0x1F;
  else if ((lead & 0xF0) == 0xE0) length = 3, codePoint = lead & 0x0F;
  else if ((lead & 0xF8) == 0xF0) length = 4, codePoint = lead & 0x07;
  else return {};
  if (pos + length > text.size()) return {};
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<uint8_t>(text[pos + k]);
    if ((next & 0xC0) != 0x80) return {};
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are not characters.
  static constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < kSmallest[length] || codePoint > 0x10FFFF) return {};
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return {};
  return {codePoint, length};
}

// The named escape of an ASCII byte, or none for a byte that stays.
const char* AsciiEscape(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '"': return "&quot;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '\t': return "&#9;";
    case '\n': return "&#10;";
    case '\r': return "&#13;";
    default: return nullptr;
  }
}

std::string FormatFloat(float value) {
  char buffer[32];
  // The shortest text that reads back as the same float, in the "C"
  // notation whatever the locale.
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// The value of the placeholder called `name`; false for an unknown name.
bool PlaceholderValue(std::string_view name, std::string_view sceneFileName, const WebPageOptions& options,
                      std::string& value) {
  if (name == "HOME") value = kHomePageAddress;
  else if (name == "CLASSID") value = kControlClassId;
  else if (name == "CONTROL") value = kControlFile;
  else if (name == "FILE") value = EscapeHtmlAttribute(sceneFileName);
  else if (name == "WIDTH") value = std::to_string(options.widthPixels);
  else if (name == "HEIGHT") value = std::to_string(options.heightPixels);
  else if (name == "RATE") value = std::to_string(options.kbPerSecond);
  else if (name == "TOLERANCE") value = FormatFloat(options.tolerance);
  else return false;
  return true;
}

}  // namespace

std::string EscapeHtmlAttribute(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    if (const char* named = AsciiEscape(text[pos])) {
      escaped += named;
      ++pos;
      continue;
    }
    const Utf8Sequence sequence = DecodeUtf8(text, pos);
    if (sequence.length == 0) {
      escaped += text[pos++];
      continue;
    }
    char reference[16];
    std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(sequence.codePoint));
    escaped += reference;
    pos += sequence.length;
  }
  return escaped;
}

std::string FillWebPageLine(std::string_view templateLine, std::string_view sceneFileName,
                            const WebPageOptions& options) {
  std::string line;
  size_t pos = 0;
  while (pos < templateLine.size()) {
    const size_t open = templateLine.find('@', pos);
    const size_t close = open == std::string_view::npos ? open : templateLine.find('@', open + 1);
    std::string value;
    if (close == std::string_view::npos ||
        !PlaceholderValue(templateLine.substr(open + 1, close - open - 1), sceneFileName, options, value)) {
      // No placeholder from here on (or an '@' of the text itself): copy up
      // to and including the next '@' and look again after it.
      const size_t end = open == std::string_view::npos ? templateLine.size() : open + 1;
      line.append(templateLine.substr(pos, end - pos));
      pos = end;
      continue;
    }
    line.append(templateLine.substr(pos, open - pos)).append(value);
    pos = close + 1;
  }
  return line;
}

std::vector<std::string> WebPageLines(std::string_view sceneFileName, const WebPageOptions& options) {
  std::vector<std::string> lines;
  lines.reserve(kWebPageTemplateLines + 1);
  for (int i = 0; i < kWebPageTemplateLines; ++i) {
    if (i == kWebPageBodyEndLine)
      lines.push_back(FillWebPageLine(kControlScriptTemplateLine, sceneFileName, options));
    lines.push_back(FillWebPageLine(kWebPageTemplate[i], sceneFileName, options));
  }
  return lines;
}

bool WriteWebPage(const std::string& pagePath, std::string_view sceneFileName, const WebPageOptions& options) {
  std::string page;
  for (const std::string& line : WebPageLines(sceneFileName, options)) page.append(line).push_back('\n');
  return WriteFileAtomically(pagePath, page);
}

std::string FindControlScript() {
  namespace fs = std::filesystem;
  std::error_code error;
  if (const char* named = std::getenv("VERMELLE_CONTROL_SCRIPT"); named && *named)
    return fs::is_regular_file(named, error) ? std::string(named) : std::string();
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const fs::path script = program.parent_path().parent_path() / "control" / kControlFile;
  return fs::is_regular_file(script, error) ? script.string() : std::string();
}

bool CopyControlScript(const std::string& pagePath, const std::string& script) {
  std::ifstream in(script, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  if (!in && !in.eof()) return false;
  const std::filesystem::path target = std::filesystem::path(pagePath).parent_path() / kControlFile;
  return WriteFileAtomically(target.string(), content.str());
}

}  // namespace qx
