#include "cli/render_command.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "common/settings.h"
#include "platform/osmesa_surface.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"
#include "view/draw_modes.h"
#include "view/ppm.h"
#include "view/scene_view.h"

namespace qx {
namespace {

constexpr int kDefaultSize = 512;
constexpr int kMaxSize = 16384;

struct RenderRequest {
  std::string input;
  std::string output;
  int width = kDefaultSize;
  int height = kDefaultSize;
  float tolerance = 0;
  bool selective = false;
  bool antialias = false;
  std::optional<size_t> bytes;
  ViewSettings settings;  // the editor's defaults, changed by the options
};

std::optional<int> DrawModeNamed(const std::string& name) {
  if (name == "solid") return kDrawSolid;
  if (name == "points") return kDrawPoints;
  if (name == "edges") return kDrawEdges;
  if (name == "hidden-lines") return kDrawHiddenLines;
  if (name == "hidden-points") return kDrawHiddenPoints;
  return std::nullopt;
}

// "RRGGBB" (red first, as written in colour pickers) as the settings' BackColor.
std::optional<int> BackColorFromHex(const std::string& text) {
  if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return std::nullopt;
  const long rgb = std::strtol(text.c_str(), nullptr, 16);
  const int red = static_cast<int>(rgb >> 16) & 0xFF, green = static_cast<int>(rgb >> 8) & 0xFF,
            blue = static_cast<int>(rgb) & 0xFF;
  return red | green << 8 | blue << 16;
}

// Reads one bounded number option into `out`; false with a message.
bool ReadInteger(Arguments& args, const char* name, long long low, long long high, long long& out, std::string& error) {
  if (!args.Has(name)) return true;
  if (!args.Integer(name, out)) return error = args.Error(), false;
  if (out < low || out > high) return error = std::string("--") + name + " is out of range", false;
  return true;
}

bool ReadFraction(Arguments& args, const char* name, float& out, std::string& error) {
  if (!args.Has(name)) return true;
  double value = 0;
  if (!args.Number(name, value)) return error = args.Error(), false;
  if (!(value >= 0 && value <= 1)) return error = std::string("--") + name + " must lie between 0 and 1", false;
  out = static_cast<float>(value);
  return true;
}

bool ReadModeAndBack(const Arguments& args, RenderRequest& request, std::string& error) {
  if (const auto name = args.Value("mode")) {
    const std::optional<int> mode = DrawModeNamed(*name);
    if (!mode) return error = "unknown --mode " + *name, false;
    request.settings.drawMode = *mode;
  }
  if (const auto hex = args.Value("back")) {
    const std::optional<int> back = BackColorFromHex(*hex);
    if (!back) return error = "--back wants six hex digits RRGGBB", false;
    request.settings.backColor = *back;
  }
  return true;
}

// The editor's default draw mode and background, as the options name them.
std::string DefaultModeName() {
  for (const char* name : {"solid", "points", "edges", "hidden-lines", "hidden-points"})
    if (DrawModeNamed(name) == ViewSettings{}.drawMode) return name;
  return "solid";
}

std::string DefaultBackHex() {
  const int back = ViewSettings{}.backColor;
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", back & 0xFF, (back >> 8) & 0xFF, (back >> 16) & 0xFF);
  return text;
}

constexpr OptionSpec kOptions[] = {
    {"output", "OUT.ppm", "the picture to write"},
    {"width", "W", "picture width in pixels", [] { return std::to_string(kDefaultSize); }},
    {"height", "H", "picture height in pixels", [] { return std::to_string(kDefaultSize); }},
    {"tolerance", "T", "level of detail, 0 (full) to 1 (coarsest)", [] { return ShownNumber(RenderRequest{}.tolerance); }},
    {"mode", "solid|points|edges|hidden-lines|hidden-points", "how the meshes are drawn", DefaultModeName},
    {"smooth", "L", "shading: 1 smooth, 0 flat, between: flat at creases of at least L",
     [] { return ShownNumber(ViewSettings{}.smoothAngle); }},
    {"back", "RRGGBB", "background colour in hex", DefaultBackHex},
    {"bytes", "B", "draw what the first B bytes of the scene stream deliver"},
    {"antialias", nullptr, "nine-sample antialiasing"},
    {"selective", nullptr, "selective refinement by the view"},
};

std::optional<RenderRequest> ParseRequest(int argc, const char* const* argv, std::string& error) {
  Arguments args(argc, argv, kOptions);
  if (!args.Error().empty()) return error = args.Error(), std::nullopt;
  if (args.Positional().size() != 1) return error = "render wants one scene file", std::nullopt;
  RenderRequest request;
  request.input = args.Positional()[0];
  request.output = args.Value("output").value_or("");
  if (request.output.empty()) return error = "render wants -o OUT.ppm", std::nullopt;
  long long width = request.width, height = request.height, bytes = 0;
  if (!ReadInteger(args, "width", 1, kMaxSize, width, error) ||
      !ReadInteger(args, "height", 1, kMaxSize, height, error) ||
      !ReadInteger(args, "bytes", 0, INT64_MAX, bytes, error) ||
      !ReadFraction(args, "tolerance", request.tolerance, error) ||
      !ReadFraction(args, "smooth", request.settings.smoothAngle, error) || !ReadModeAndBack(args, request, error))
    return std::nullopt;
  request.width = static_cast<int>(width);
  request.height = static_cast<int>(height);
  if (args.Has("bytes")) request.bytes = static_cast<size_t>(bytes);
  request.antialias = args.Has("antialias");
  request.selective = args.Has("selective");
  request.settings.antialiasing = false;  // the steps run once, below
  return request;
}

std::unique_ptr<QXScene> LoadRequestedScene(const RenderRequest& request, std::string& error) {
  std::optional<std::vector<uint8_t>> stream = ReadSceneStream(request.input);
  if (!stream) return error = "cannot open " + request.input, nullptr;
  if (request.bytes) stream->resize(std::min(stream->size(), *request.bytes));
  std::unique_ptr<QXScene> scene = DecodeScene(*stream);
  if (!scene) error = request.input + " holds no scene";
  return scene;
}

// Draws the picture into the surface's context; false when no context.
bool DrawPicture(SceneView& view, GLSurface& surface, QXScene& scene, const RenderRequest& request) {
  view.ApplySettings(request.settings);
  if (!view.Attach(&surface)) return false;
  view.SetScene(&scene);
  view.SetTolerance(request.tolerance);
  if (request.selective) view.SetRefinementMode(kRefineSelective);
  view.FrameScene();
  view.Paint();
  if (request.antialias) view.Accumulate(0, GLWindow::kLastAccumulationStep);
  return true;
}

}  // namespace

const CommandSpec kRenderCommand = {
    "render",
    "FILE -o OUT.ppm [options]",
    "Draws one picture of a scene file without a display, the camera fitted to the scene as the\n"
    "editor fits it, and saves it as a PPM image.\n",
    kOptions,
    "qxtool render bunny.qxz -o bunny.ppm --width 800 --height 600 --smooth 1",
    RunRenderCommand,
};

int RunRenderCommand(int argc, const char* const* argv) {
  std::string error;
  const std::optional<RenderRequest> request = ParseRequest(argc, argv, error);
  if (!request) return UsageError("render", error);
  RegisterStandardClasses();
  const std::unique_ptr<QXScene> scene = LoadRequestedScene(*request, error);
  if (!scene) return Fail(error);
  OsMesaSurface surface(request->width, request->height);
  SceneView view(true);
  if (!DrawPicture(view, surface, *scene, *request)) return Fail("no OpenGL context for the picture");
  if (!SavePPM(request->output)) return Fail("cannot write " + request->output);
  return 0;
}

}  // namespace qx
