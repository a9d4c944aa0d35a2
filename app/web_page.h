// The web page written beside a saved scene (".htm"): a fixed page that
// places the viewer control with an OBJECT element and sets its properties
// through PARAM elements, the first of them naming the scene file to show.
//
// The page is a template of kWebPageTemplateLines lines kept in this module
// (kWebPageTemplate). Placeholders are names between '@' signs, filled in a
// single pass so that a value is never scanned again:
//   @HOME@       the product's home page (kHomePageAddress)
//   @CLASSID@    the control's class identifier (kControlClassId)
//   @CONTROL@    the control file (kControlFile), the OBJECT's codeBase
//   @FILE@       the scene file, escaped for an attribute value in quotes
//   @WIDTH@, @HEIGHT@, @RATE@, @TOLERANCE@   from WebPageOptions
// Browsers no longer load native controls, so one line that loads the
// control's script (kControlScriptTemplateLine) goes just before "</BODY>"; that
// script turns every OBJECT with our class identifier into a viewer. The
// written page is therefore kWebPageTemplateLines + 1 lines, each ending in
// a line feed.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

// Chosen by us; the control's script recognises its OBJECT elements by it.
inline constexpr char kControlClassId[] = "9F82DFD3-D1E5-43F3-99F3-49FE6560937C";
// The control file: the OBJECT's codeBase and the script the page loads. It
// is looked up beside the page.
inline constexpr char kControlFile[] = "qxrep32.js";
// Where the page's title links to.
inline constexpr char kHomePageAddress[] = "http://www.trevalis.example/";

inline constexpr int kWebPageTemplateLines = 39;
// The page, one entry per line, without line feeds; a tab is '\t'.
extern const std::array<std::string_view, kWebPageTemplateLines> kWebPageTemplate;
// Index in kWebPageTemplate of "</BODY>", before which the script line goes.
inline constexpr int kWebPageBodyEndLine = 37;
// The added line that loads the control's script, a template line too.
inline constexpr char kControlScriptTemplateLine[] = "<SCRIPT src=\"@CONTROL@\"></SCRIPT>";

// The values a page may vary; the defaults are the standard page's.
struct WebPageOptions {
  int widthPixels = 380;   // size of the control on the page
  int heightPixels = 320;
  int kbPerSecond = 8;     // emulated transfer rate of the control's feed
  float tolerance = 0;     // the control's initial tolerance
};

// `text` made safe inside a double-quoted attribute value, so that the
// browser reads back exactly `text`:
//   - '&', '"', '<' and '>' become &amp; &quot; &lt; &gt;
//   - tab, line feed and carriage return become &#9; &#10; &#13;, so the page
//     keeps one element per line;
//   - a valid UTF-8 sequence becomes its numeric reference (&#xE8; for "è"),
//     since the page declares no character set and a browser would otherwise
//     read the bytes as a legacy code page;
//   - every other byte, the backslash of a Windows path included, stays.
std::string EscapeHtmlAttribute(std::string_view text);

// One template line with its placeholders filled (see the top of this file).
// An '@' that does not start a known placeholder stays as it is.
std::string FillWebPageLine(std::string_view templateLine, std::string_view sceneFileName,
                            const WebPageOptions& options);

// The page's lines, without line feeds: the template filled, with the script
// line before "</BODY>". `sceneFileName` is the name the control fetches,
// written as given (a full path stays a full path).
std::vector<std::string> WebPageLines(std::string_view sceneFileName, const WebPageOptions& options = {});

// Writes the page to `pagePath` in one go: a temporary file in the same
// directory renamed over the target, so a failure never leaves half a page.
// Returns false, with no file written, when the page cannot be written.
bool WriteWebPage(const std::string& pagePath, std::string_view sceneFileName,
                  const WebPageOptions& options = {});

// The control's script that written pages load: the file named by the
// environment variable VERMELLE_CONTROL_SCRIPT when set, else
// control/qxrep32.js in the build folder of the running program (the folder
// above the program's own). Empty when there is no such file.
std::string FindControlScript();

// Copies the control's script `script` beside the page at `pagePath` as
// kControlFile, replacing an older copy in one go, so the page's folder can
// be served as it is. False, leaving any older copy, when it cannot.
bool CopyControlScript(const std::string& pagePath, const std::string& script);

}  // namespace qx
