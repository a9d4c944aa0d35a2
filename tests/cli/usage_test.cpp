// qxtool's usage texts, exit statuses and voices: every command explains
// itself and names exactly the options its parser takes; usage errors exit
// with 2, unreadable files with 1; diagnostic lines go to standard error and
// --quiet silences them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/command_table.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

struct Outcome {
  int status;
  std::string out, err;
};

Outcome Qxtool(std::vector<std::string> words) {
  words.insert(words.begin(), "qxtool");
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = RunQxtool(static_cast<int>(argv.size()), argv.data());
  std::string out = testing::internal::GetCapturedStdout();
  return {status, out, testing::internal::GetCapturedStderr()};
}

class Usage : public testing::Test {
 protected:
  void TearDown() override { ClearClassRegistry(); }
  ScratchFolder scratch_;
};

TEST_F(Usage, EveryCommandExplainsEveryOptionItsParserTakes) {
  ASSERT_FALSE(Commands().empty());
  for (const CommandSpec* command : Commands()) {
    const Outcome help = Qxtool({command->name, "--help"});
    EXPECT_EQ(help.status, 0) << command->name;
    EXPECT_EQ(help.out.rfind(std::string("usage: qxtool ") + command->name, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("example:\n  qxtool " + std::string(command->name)), std::string::npos) << help.out;
    EXPECT_EQ(Qxtool({"help", command->name}).out, help.out);
    for (const OptionSpec& option : command->options) {
      EXPECT_NE(help.out.find("--" + std::string(option.name)), std::string::npos) << command->name << option.name;
      // The command's parser takes the option (no file given: a usage error,
      // but not an unknown option).
      std::vector<std::string> words = {command->name, "--" + std::string(option.name)};
      if (option.value) words.push_back("1");
      const Outcome parsed = Qxtool(words);
      EXPECT_EQ(parsed.status, 2) << command->name << " --" << option.name << parsed.err;
      EXPECT_EQ(parsed.err.find("unknown option"), std::string::npos) << parsed.err;
    }
    const Outcome unknown = Qxtool({command->name, "--no-such-option"});
    EXPECT_EQ(unknown.status, 2) << command->name;
    EXPECT_NE(unknown.err.find(std::string("qxtool help ") + command->name), std::string::npos) << unknown.err;
  }
}

TEST_F(Usage, ProgramLevelWordsAndExitStatuses) {
  const Outcome general = Qxtool({"--help"});
  EXPECT_EQ(general.status, 0);
  for (const CommandSpec* command : Commands())
    EXPECT_NE(general.out.find(std::string("  ") + command->name + " "), std::string::npos) << command->name;
  EXPECT_EQ(Qxtool({"help"}).out, general.out);
  const Outcome version = Qxtool({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("qxtool ", 0), 0u);
  EXPECT_EQ(Qxtool({}).status, 2);
  EXPECT_EQ(Qxtool({"frobnicate"}).status, 2);
  EXPECT_EQ(Qxtool({"help", "frobnicate"}).status, 2);
  const std::string absent = (scratch_.Path() / "absent.qxz").string();
  EXPECT_EQ(Qxtool({"info", absent}).status, 1);
  EXPECT_EQ(Qxtool({"dump", absent}).status, 1);
  EXPECT_EQ(Qxtool({"decode", absent, "-o", (scratch_.Path() / "out.ply").string()}).status, 1);
  EXPECT_EQ(Qxtool({"convert", (scratch_.Path() / "absent.ply").string()}).status, 1);
}

TEST_F(Usage, DiagnosticLinesGoToStandardErrorUnlessQuiet) {
  const std::string model = scratch_.Write(
      "t.ply", "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\nproperty float z\n"
               "element face 4\nproperty list uchar int vertex_indices\nend_header\n"
               "0 0 0\n1 0 0\n0 1 0\n0 0 1\n3 0 2 1\n3 0 1 3\n3 1 2 3\n3 2 0 3\n");
  const std::string scene = (scratch_.Path() / "t.qxz").string();
  const Outcome spoken = Qxtool({"convert", model, "-o", scene});
  EXPECT_EQ(spoken.status, 0) << spoken.err;
  EXPECT_EQ(spoken.out, "");
  EXPECT_NE(spoken.err.find("]}"), std::string::npos) << spoken.err;
  EXPECT_NE(spoken.err.find("Import " + model + " time"), std::string::npos) << spoken.err;
  const Outcome quiet = Qxtool({"convert", model, "-o", scene, "--quiet"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");
  // The result of info stays on standard output.
  EXPECT_NE(Qxtool({"info", scene, "--quiet"}).out.find("1 meshes"), std::string::npos);
}

}  // namespace
}  // namespace qx
