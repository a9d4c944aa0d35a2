// The editor's command line: options and one file name (or wildcard
// pattern), and the batch they ask for.
//
//   vermelle [options] <filename.ext>
//
// Tokens are split at blanks, commas, tabs and line feeds. A token that does
// not begin with '-' is a file name; the last one wins. A token beginning with
// '-' is tested against every option by substring search, in the order
// -help -? -rx -ry -rz -ocl -ppm -s -c -q -a -w -h: so "-soft" also asks for
// the save (-s) and "-help" also takes the next token as the height (-h).
// -rx, -ry and -rz count their tokens; -w and -h read the next token's leading
// digits (0 without any).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

// The usage text of -help and -?, shown in a message box titled "Help".
extern const char kUsageText[];

struct CommandLine {
  bool help = false;
  bool soft = false;  // "-soft" anywhere on the line
  bool removeOccluded = false;
  bool capture = false;
  bool save = false;
  bool antialias = false;
  bool compact = false;
  bool quit = false;
  int rotateX = 0, rotateY = 0, rotateZ = 0;
  std::optional<int> width, height;
  std::string fileName;

  // Whether any step of the batch was asked for besides loading.
  bool HasBatchWork() const;
};

// Splits `text` at blanks, commas, tabs and line feeds.
std::vector<std::string> SplitCommandLine(std::string_view text);

// The tokens of the program's arguments: an argument beginning with '-' is
// split like a command line; any other is kept whole, so that file names
// with blanks or commas survive the shell's own splitting.
std::vector<std::string> CommandLineTokens(int argc, const char* const* argv);

CommandLine ParseCommandLine(const std::vector<std::string>& tokens);

// The files a pattern stands for, sorted, with the path's own case. Letters
// match without regard to case, as users of the pattern expect; files
// without a known type are left out. A name without wildcards that exists
// is itself.
std::vector<std::string> ExpandFilePattern(const std::string& pattern);

// The pattern for glob(3) that matches `pattern` without regard to case:
// each letter outside brackets becomes "[aA]".
std::string CaseInsensitivePattern(std::string_view pattern);

}  // namespace qx
