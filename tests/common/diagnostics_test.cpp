#include "common/diagnostics.h"

#include <csignal>
#include <string>

#include <gtest/gtest.h>

namespace qx {
namespace {

TEST(Diagnostics, MessagesAreCutToTheBuffer) {
  const std::string longText(500, 'x');
  EXPECT_EQ(FormatMessage("%s", longText.c_str()).size(), size_t{kMessageBufferSize - 1});
  EXPECT_EQ(FormatMessage("\nScene: %s", "a.qxz"), "\nScene: a.qxz");
}

TEST(Diagnostics, ErrorBoxGoesThroughTheInstalledHandler) {
  std::string title, text;
  auto previous = SetMessageBoxHandler([&](const std::string& t, const std::string& m) {
    title = t;
    text = m;
  });
  ShowError("Error openning %s", "model.ply");
  SetMessageBoxHandler(previous);
  EXPECT_EQ(title, "Error");
  EXPECT_EQ(text, "Error openning model.ply");
}

TEST(DiagnosticsDeathTest, FatalErrorExitsWithStatusOne) {
  EXPECT_EXIT(FatalError("\nWarning!!, maxCaras=%d", 256), testing::ExitedWithCode(1), "maxCaras=256");
}

TEST(DiagnosticsDeathTest, ArithmeticSignalEndsWithErrorMatematico) {
  EXPECT_EXIT(
      {
        InstallMathErrorHandler();
        std::raise(SIGFPE);
      },
      testing::ExitedWithCode(1), "Error matematico");
}

}  // namespace
}  // namespace qx
