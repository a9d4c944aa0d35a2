// A small command-line reader for qxtool's subcommands: positional words and
// "--name value" / "--flag" options, checked against what a command accepts.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qx {

class Arguments {
 public:
  // Splits argv[1 .. argc-1] (argv[0] is the command's name). `valued` lists
  // the options that take a value, `flags` those that do not; "-o" is an alias
  // of "--output". Anything else is an error, reported by Error().
  Arguments(int argc, const char* const* argv, const std::set<std::string>& valued,
            const std::set<std::string>& flags);

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

// Prints "qxtool: <message>" on standard error and returns exit status 1.
int Fail(const std::string& message);

}  // namespace qx
