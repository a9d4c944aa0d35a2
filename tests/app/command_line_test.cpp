// The command line: tokens, the substring rule of the options and the
// expansion of the file pattern.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

CommandLine Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "vermelle");
  return ParseCommandLine(CommandLineTokens(static_cast<int>(arguments.size()), arguments.data()));
}

TEST(CommandLine, OptionsMatchBySubstringWithTheirConsequences) {
  const CommandLine soft = Parse({"-soft", "model.3ds"});
  EXPECT_TRUE(soft.soft);
  EXPECT_TRUE(soft.save);  // "-soft" holds "-s"
  const CommandLine help = Parse({"-help", "240", "model.3ds"});
  EXPECT_TRUE(help.help);
  EXPECT_EQ(help.height, 240);  // "-help" holds "-h": the next token is the height
  EXPECT_EQ(help.fileName, "model.3ds");
  const CommandLine counted = Parse({"-rx", "-rx,-rz", "-w", "320x", "-h", "abc", "a.3ds", "b.3ds"});
  EXPECT_EQ(counted.rotateX, 2);
  EXPECT_EQ(counted.rotateY, 0);
  EXPECT_EQ(counted.rotateZ, 1);
  EXPECT_EQ(counted.width, 320);
  EXPECT_EQ(counted.height, 0);  // no leading digits
  EXPECT_EQ(counted.fileName, "b.3ds");  // the last name wins
  EXPECT_FALSE(counted.quit);
  EXPECT_TRUE(Parse({"-q"}).quit);
}

TEST(CommandLine, SplitsAtBlanksCommasTabsAndLineFeedsButKeepsFileNamesWhole) {
  EXPECT_EQ(SplitCommandLine(" -a,-b\t-c\n d "), (std::vector<std::string>{"-a", "-b", "-c", "d"}));
  EXPECT_EQ(Parse({"-ppm", "my model, v2.3ds"}).fileName, "my model, v2.3ds");
}

TEST(CommandLine, PatternsMatchWithoutCaseAndKeepThePathsCase) {
  ScratchFolder folder;
  folder.Write("Models/Car.3DS", "x");
  folder.Write("Models/boat.3ds", "x");
  folder.Write("Models/notes.txt", "x");
  const std::string dir = (folder.Path() / "Models").string();
  EXPECT_EQ(ExpandFilePattern(dir + "/*.3ds"), (std::vector<std::string>{dir + "/Car.3DS", dir + "/boat.3ds"}));
  EXPECT_EQ(ExpandFilePattern(dir + "/CAR.3ds"), std::vector<std::string>{dir + "/Car.3DS"});
  EXPECT_TRUE(ExpandFilePattern(dir + "/*.txt").empty());
  EXPECT_EQ(CaseInsensitivePattern("a[bc]1"), "[aA][bc]1");
}

}  // namespace
}  // namespace qx
