#include "cli/arguments.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace qx {

Arguments::Arguments(int argc, const char* const* argv, OptionTable options) {
  for (int i = 1; i < argc && error_.empty(); ++i) {
    std::string word = argv[i];
    if (word == "-o") word = "--output";
    if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
      positional_.push_back(word);
      continue;
    }
    const std::string name = word.substr(2);
    const auto option = std::find_if(options.begin(), options.end(),
                                     [&name](const OptionSpec& option) { return name == option.name; });
    if (option == options.end()) {
      error_ = "unknown option " + word;
    } else if (!option->value) {
      values_[name] = "";
    } else if (i + 1 >= argc) {
      error_ = "option " + word + " needs a value";
    } else {
      values_[name] = argv[++i];
    }
  }
}

std::optional<std::string> Arguments::Value(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

bool Arguments::Number(const std::string& name, double& value) {
  const auto text = Value(name);
  if (!text) return true;
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text->c_str(), &end);
  if (text->empty() || *end != '\0' || errno != 0) {
    error_ = "--" + name + " needs a number, not '" + *text + "'";
    return false;
  }
  value = parsed;
  return true;
}

bool Arguments::Integer(const std::string& name, long long& value) {
  const auto text = Value(name);
  if (!text) return true;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text->c_str(), &end, 10);
  if (text->empty() || *end != '\0' || errno != 0) {
    error_ = "--" + name + " needs a whole number, not '" + *text + "'";
    return false;
  }
  value = parsed;
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "qxtool: %s\n", message.c_str());
  return kExitFailure;
}

int UsageError(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "qxtool: %s\nTry 'qxtool help %s'.\n", message.c_str(), command.c_str());
  return kExitUsage;
}

std::string ShownNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace qx
