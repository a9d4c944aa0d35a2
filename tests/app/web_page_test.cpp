// The web page beside a saved scene: the exact page for the default options,
// where the options and the file name land, escaping, and writing in one go.
#include "app/web_page.h"
#include "tests/support/scratch_folder.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qx {
namespace {

namespace fs = std::filesystem;

// The whole page for "C:\models\a.3ds.qxz" with the default options, written
// out by hand.
const std::vector<std::string> kDefaultPage = {
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
    "<A href=\"http://www.trevalis.example/\"",
    "style=\"TEXT-DECORATION: none\" title=\"Goto home page\">",
    "The Trevalis",
    "</A>",
    "</FONT>",
    "</P>",
    "",
    "<P align=center>",
    "<OBJECT classid=clsid:9F82DFD3-D1E5-43F3-99F3-49FE6560937C",
    "        codeBase=qxrep32.js",
    "\tid=QXRep32 style=\"HEIGHT: 320px; WIDTH: 380px\" VIEWASTEXT>",
    "\t<PARAM NAME=\"QXFileName\" VALUE=\"C:\\models\\a.3ds.qxz\">",
    "\t<PARAM NAME=\"SmoothAngle\" VALUE=0.3>",
    "\t<PARAM NAME=\"CullFace\" VALUE=0>",
    "\t<PARAM NAME=\"ShowAxis\" VALUE=0>",
    "\t<PARAM NAME=\"UseVertexArray\" VALUE=0>",
    "\t<PARAM NAME=\"EnableTolerance\" VALUE=0>",
    "\t<PARAM NAME=\"Tolerance\" VALUE=0>",
    "\t<PARAM NAME=\"KbPerSecond\" VALUE=8>",
    "\t<PARAM NAME=\"ShowStatusBar\" VALUE=0>",
    "\t<PARAM NAME=\"Antialiasing\" VALUE=1>",
    "</OBJECT>",
    "</P>",
    "",
    "<SCRIPT src=\"qxrep32.js\"></SCRIPT>",
    "</BODY>",
    "</HTML>",
};

constexpr int kFileNameLine = 24;  // 0-based index of the QXFileName line

// Lines whose text differs between two pages.
std::vector<int> DifferingLines(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<int> lines;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i]) lines.push_back(static_cast<int>(i));
  return lines;
}

TEST(WebPage, DefaultPageIsTheTemplateWithTheScriptBeforeTheBodyEnd) {
  const std::vector<std::string> page = WebPageLines("C:\\models\\a.3ds.qxz");
  ASSERT_EQ(page.size(), static_cast<size_t>(kWebPageTemplateLines + 1));
  for (size_t i = 0; i < page.size(); ++i) EXPECT_EQ(page[i], kDefaultPage[i]) << "line " << i + 1;

  // The same page line by line against the template: the template's lines
  // in order, the script line inserted just before "</BODY>".
  for (int i = 0; i < kWebPageTemplateLines; ++i) {
    const int written = i < kWebPageBodyEndLine ? i : i + 1;
    EXPECT_EQ(page[written], FillWebPageLine(kWebPageTemplate[i], "C:\\models\\a.3ds.qxz", {}))
        << "template line " << i + 1;
  }
  EXPECT_EQ(page[kWebPageBodyEndLine], FillWebPageLine(kControlScriptTemplateLine, "", {}));
  EXPECT_EQ(page[kWebPageBodyEndLine + 1], "</BODY>");
}

TEST(WebPage, OptionsChangeOnlyTheirOwnLines) {
  WebPageOptions options;
  options.widthPixels = 640;
  options.heightPixels = 480;
  options.kbPerSecond = 56;
  options.tolerance = 0.125f;
  const std::vector<std::string> page = WebPageLines("C:\\models\\a.3ds.qxz", options);
  EXPECT_EQ(DifferingLines(page, kDefaultPage), (std::vector<int>{23, 30, 31}));
  EXPECT_EQ(page[23], "\tid=QXRep32 style=\"HEIGHT: 480px; WIDTH: 640px\" VIEWASTEXT>");
  EXPECT_EQ(page[30], "\t<PARAM NAME=\"Tolerance\" VALUE=0.125>");
  EXPECT_EQ(page[31], "\t<PARAM NAME=\"KbPerSecond\" VALUE=56>");

  // Tolerances come out in the "C" notation, shortest form.
  options.tolerance = 1e-6f;
  EXPECT_EQ(WebPageLines("a.qxz", options)[30], "\t<PARAM NAME=\"Tolerance\" VALUE=1e-06>");
}

TEST(WebPage, EscapesAttributeValues) {
  // Markup characters, and the line breaks that would split the page's lines.
  EXPECT_EQ(EscapeHtmlAttribute("a&b\"c<d>e"), "a&amp;b&quot;c&lt;d&gt;e");
  EXPECT_EQ(EscapeHtmlAttribute("x\ty\nz\r"), "x&#9;y&#10;z&#13;");
  // Paths stay paths: backslashes, slashes, quotes that need no escape.
  EXPECT_EQ(EscapeHtmlAttribute("C:\\dir/it's a.qxz"), "C:\\dir/it's a.qxz");
  // UTF-8 becomes numeric references (two-, three- and four-byte forms).
  EXPECT_EQ(EscapeHtmlAttribute("mod\xC3\xA8le"), "mod&#xE8;le");
  EXPECT_EQ(EscapeHtmlAttribute("\xE2\x82\xAC\xF0\x9F\x98\x80"), "&#x20AC;&#x1F600;");
  // Bytes that are not UTF-8 stay as they are: a stray continuation, a
  // truncated sequence, an overlong '/', a surrogate, a byte past Unicode.
  for (const std::string bad : {"\x80", "a\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"})
    EXPECT_EQ(EscapeHtmlAttribute(bad), bad) << testing::PrintToString(bad);
  // A bad lead byte does not swallow the good character after it.
  EXPECT_EQ(EscapeHtmlAttribute("\xE2\xC3\xA8"), "\xE2&#xE8;");
}

TEST(WebPage, FileNameIsFilledOnceAndEscaped) {
  const std::vector<std::string> page = WebPageLines("odd \"name\"\n@HOME@ & co.qxz");
  ASSERT_EQ(page.size(), kDefaultPage.size()) << "a line feed in the name must not add a line";
  EXPECT_EQ(DifferingLines(page, kDefaultPage), std::vector<int>{kFileNameLine});
  EXPECT_EQ(page[kFileNameLine],
            "\t<PARAM NAME=\"QXFileName\" VALUE=\"odd &quot;name&quot;&#10;@HOME@ &amp; co.qxz\">");
  // An '@' that starts no placeholder is text, and may be followed by one.
  EXPECT_EQ(FillWebPageLine("a@b @@CONTROL@ @NOPE@ x@", "", {}), "a@b @qxrep32.js @NOPE@ x@");
}

class WebPageFile : public testing::Test {
 protected:
  std::vector<fs::path> Entries() const {
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(dir_)) entries.push_back(entry.path().filename());
    return entries;
  }

  ScratchFolder folder_;
  const fs::path& dir_ = folder_.Path();
};

TEST_F(WebPageFile, WritesEveryLineEndingInALineFeed) {
  const fs::path page = dir_ / "a.htm";
  // A longer file already there is replaced as a whole.
  std::ofstream(page) << std::string(10000, 'x');
  ASSERT_TRUE(WriteWebPage(page.string(), "C:\\models\\a.3ds.qxz"));
  std::string expected;
  for (const std::string& line : kDefaultPage) expected += line + "\n";
  EXPECT_EQ(ReadWholeFile(page), expected);
  EXPECT_EQ(Entries(), std::vector<fs::path>{"a.htm"}) << "no temporary file left behind";
}

TEST_F(WebPageFile, ControlScriptIsCopiedBesideThePage) {
  fs::create_directory(dir_ / "site");
  const std::string script = (dir_ / "built.js").string();
  std::ofstream(script, std::ios::binary) << std::string("a\0b\r\n", 5);
  std::ofstream(dir_ / "site" / kControlFile) << "an older copy";
  ASSERT_TRUE(CopyControlScript((dir_ / "site" / "a.htm").string(), script));
  EXPECT_EQ(ReadWholeFile(dir_ / "site" / kControlFile), std::string("a\0b\r\n", 5));
  EXPECT_FALSE(CopyControlScript((dir_ / "site" / "a.htm").string(), (dir_ / "missing.js").string()));
  EXPECT_EQ(ReadWholeFile(dir_ / "site" / kControlFile), std::string("a\0b\r\n", 5));
}

TEST_F(WebPageFile, UnwritableTargetWritesNothing) {
  // A directory below a regular file cannot exist.
  std::ofstream(dir_ / "plain") << "x";
  EXPECT_FALSE(WriteWebPage((dir_ / "plain" / "a.htm").string(), "a.qxz"));
  // A directory in the page's place is not replaced.
  fs::create_directory(dir_ / "taken.htm");
  EXPECT_FALSE(WriteWebPage((dir_ / "taken.htm").string(), "a.qxz"));
  EXPECT_TRUE(fs::is_directory(dir_ / "taken.htm"));
  EXPECT_FALSE(WriteWebPage("", "a.qxz"));
  EXPECT_EQ(Entries().size(), 2u) << "no temporary file left behind";
}

}  // namespace
}  // namespace qx
