// A small command-line reader for qxtool's subcommands: positional words and
// "--name value" / "--flag" options, checked against the command's option
// table — the same table its usage text is written from.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qx {

// One option a command accepts.
struct OptionSpec {
  const char* name;   // without the leading "--"
  const char* value;  // what its value is called in the usage text; null for a flag
  const char* help;   // what it does, one line
  // Its default as the usage text shows it, computed from the code's own
  // defaults; null when there is none worth showing.
  std::string (*byDefault)() = nullptr;
};
using OptionTable = std::span<const OptionSpec>;

// Exit statuses: 1 for a file that cannot be read or written (or another
// failure of the work itself), 2 for a command line the command cannot use.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

class Arguments {
 public:
  // Splits argv[1 .. argc-1] (argv[0] is the command's name). The options of
  // `options` with a value name take a value, the others are flags; "-o" is
  // an alias of "--output". Anything else is an error, reported by Error().
  Arguments(int argc, const char* const* argv, OptionTable options);

  const std::string& Error() const { return error_; }
  const std::vector<std::string>& Positional() const { return positional_; }
  bool Has(const std::string& name) const { return values_.contains(name); }
  std::optional<std::string> Value(const std::string& name) const;
  // The option as a number; false (with Error() set) when it is not one.
  bool Number(const std::string& name, double& value);
  bool Integer(const std::string& name, long long& value);

 private:
  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;
  std::string error_;
};

// A number as a usage text shows a default ("%g": 0.125, 1, 1e-05).
std::string ShownNumber(double value);

// Prints "qxtool: <message>" on standard error and returns kExitFailure.
int Fail(const std::string& message);
// The same for a command line that cannot be used: the message, a pointer to
// the command's usage text, and kExitUsage.
int UsageError(const std::string& command, const std::string& message);

}  // namespace qx
