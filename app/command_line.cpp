#include "app/command_line.h"

#include <glob.h>

#include <cctype>
#include <cstdlib>

#include "app/commands.h"

namespace qx {

const char kUsageText[] =
    "vermelle [options] <filename.ext>\n\nOptions:\n"
    "\t-help \tShow vermelle options (this msg)\n"
    "\t-soft \tDraw into a bitmap (disable hardware opengl support)\n"
    "\t-ocl  \tRemove occluded objects\n"
    "\t-ppm  \tCapture and save image (ppm file)\n"
    "\t-s    \tSave a qxz model\n"
    "\t-a    \tDraw antialised object\n"
    "\t-c\t\tCompact scene\n"
    "\t-rx   \tRotate 90º X\n"
    "\t-ry   \tRotate 90º Y\n"
    "\t-rz   \tRotate 90º Z\n"
    "\t-w #  \tWidth of the image\n"
    "\t-h #  \tHeight of the image\n";

namespace {

bool Contains(std::string_view token, std::string_view option) { return token.find(option) != std::string_view::npos; }

// The leading decimal digits of `token`, 0 without any.
int LeadingNumber(std::string_view token) {
  int value = 0;
  for (char c : token) {
    if (c < '0' || c > '9' || value > 100000000) break;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

bool CommandLine::HasBatchWork() const {
  return removeOccluded || capture || save || compact || rotateX || rotateY || rotateZ;
}

std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> tokens;
  std::string current;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == '\t' || c == '\n') {
      if (!current.empty()) tokens.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(std::move(current));
  return tokens;
}

std::vector<std::string> CommandLineTokens(int argc, const char* const* argv) {
  std::vector<std::string> tokens;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with('-')) {
      for (std::string& token : SplitCommandLine(argument)) tokens.push_back(std::move(token));
    } else if (!argument.empty()) {
      tokens.emplace_back(argument);
    }
  }
  return tokens;
}

CommandLine ParseCommandLine(const std::vector<std::string>& tokens) {
  CommandLine line;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (!token.starts_with('-')) {
      line.fileName = token;
      continue;
    }
    if (Contains(token, "-soft")) line.soft = true;
    if (Contains(token, "-help") || Contains(token, "-?")) line.help = true;
    line.rotateX += Contains(token, "-rx");
    line.rotateY += Contains(token, "-ry");
    line.rotateZ += Contains(token, "-rz");
    line.removeOccluded |= Contains(token, "-ocl");
    line.capture |= Contains(token, "-ppm");
    line.save |= Contains(token, "-s");
    line.compact |= Contains(token, "-c");
    line.quit |= Contains(token, "-q");
    line.antialias |= Contains(token, "-a");
    // Each of -w and -h takes the following token as its number.
    if (Contains(token, "-w") && i + 1 < tokens.size()) line.width = LeadingNumber(tokens[++i]);
    if (Contains(token, "-h") && i + 1 < tokens.size()) line.height = LeadingNumber(tokens[++i]);
  }
  return line;
}

std::string CaseInsensitivePattern(std::string_view pattern) {
  std::string result;
  bool inBrackets = false;
  for (char c : pattern) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '[') inBrackets = true;
    if (c == ']') inBrackets = false;
    if (!inBrackets && std::isalpha(u) && u < 128) {
      result += '[';
      result += static_cast<char>(std::tolower(u));
      result += static_cast<char>(std::toupper(u));
      result += ']';
    } else {
      result += c;
    }
  }
  return result;
}

std::vector<std::string> ExpandFilePattern(const std::string& pattern) {
  std::vector<std::string> files;
  glob_t found{};
  if (glob(CaseInsensitivePattern(pattern).c_str(), 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i)
      if (FileTypeCommand(found.gl_pathv[i]) != kCmdNone) files.emplace_back(found.gl_pathv[i]);
  }
  globfree(&found);
  return files;
}

}  // namespace qx
