// qxtool render: draws one picture of a scene file without a display and
// saves it as a PPM image.
//
//   qxtool render FILE -o OUT.ppm [--width W] [--height H] [--tolerance T]
//                 [--mode solid|points|edges|hidden-lines|hidden-points]
//                 [--smooth L] [--antialias] [--selective] [--back RRGGBB]
//                 [--bytes B]
//
// The camera is fitted to the scene as the editor fits it on first sight;
// the other view settings are the editor's defaults. --antialias runs the
// nine-sample accumulation; --bytes B draws what the first B bytes of the
// (uncompressed) scene stream deliver, as a progressive load would show
// them at that point.
#pragma once

namespace qx {

// argv[0] is "render". Returns 0, or a one-line message on standard error
// and 2 for a bad command line, 1 for a file that cannot be read or written.
int RunRenderCommand(int argc, const char* const* argv);

}  // namespace qx
