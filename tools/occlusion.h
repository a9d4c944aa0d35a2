// Occlusion analysis: finds the parts of a scene that cannot be seen from
// outside by drawing the scene from many directions with every candidate
// item (an object, or one face) in a colour of its own, reading the pictures
// back and marking every item whose colour shows up.
//
// Per direction (the view turns the scene about its box centre; an
// orthographic projection encloses the box enlarged by 1.1):
//   depth pass           colour writes off; every object whose material is
//                        missing or opaque goes into the depth buffer
//                        (translucent objects hide nothing)
//   identification pass  depth test GL_LEQUAL, depth writes off, items
//                        pulled slightly forward (polygon offset); every
//                        item not yet seen is drawn in the next colour of
//                        the colour table (colour_table.h), translucent ones
//                        stippled; whenever the table is used up, and at
//                        the end of the walk, the batch is evaluated
//   batch evaluation     the picture is read back (and, in a double-buffered
//                        context, copied to the front buffer so that it
//                        flashes in the window); every item whose colour is
//                        found counts as seen; the line "\nimg%03d.ppm (%d)"
//                        (running number, batch size) goes to standard output
// Items seen are not drawn again, so the work shrinks direction by direction.
//
// The modes and the editor commands that run them:
//   kObjects     "Select Occluded Objects": objects never seen stay
//                selected, every other node is deselected. `-ocl` of the
//                batch is this followed by RemoveSelected (scene_tools.h).
//   kOrientation "Select Bad Object Orientation" (the menu item is greyed,
//                but the command works): as kObjects with back faces culled
//                (front faces counter-clockwise, as the view draws them), so
//                objects seen only from behind stay selected.
//   kFaces       "Remove Occluded Faces": every mesh with faces never seen
//                is rebuilt from the faces that were seen (fan builder, with
//                1/128 of the triangles simplified into refinement steps)
//                and every node using it takes the new mesh; a mesh with no
//                face seen is freed and its nodes lose it. The editor then
//                runs Compact (scene_tools.h) and frames the view again.
// Before each command the editor may show the "Find Occluded Parts" dialog
// (OcclusionSettings below); while the analysis runs it hides the window's
// menu and status bar, passes its ProgressStep as `progress`, and afterwards
// calls SceneView::SetScene (meshes were replaced) and redraws:
//   const OcclusionSettings stored = OcclusionSettings::Load(iniPath);
//   OcclusionOptions options{OcclusionMode::kFaces, stored.maxIterations, stored.maxColors, stored.isRegular};
//   FindOccluded(scene, options, *view.Surface(), progress);
//   Compact(scene);
//   view.SetScene(&scene);
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "common/settings.h"

namespace qx {

class GLSurface;
class QXScene;
class Random15;

enum class OcclusionMode : int { kObjects = 0, kOrientation = 1, kFaces = 2 };

// Section "DlgOccluded" of the settings file.
struct OcclusionSettings {
  static constexpr char kSection[] = "DlgOccluded";

  int maxIterations = 100;  // MaxIterations: k = ⌊√MaxIterations⌋, k² directions
  int maxColors = 16384;    // MaxColors: size of the colour table
  bool isRegular = false;   // IsRegular: regular directions, else random ones

  static std::span<const SettingsKey<OcclusionSettings>> Keys();
  static OcclusionSettings Load(const std::string& path);
  bool Save(const std::string& path) const;
};

// The dialog's lists: "Max iterations" holds k² and "Max colors used" c³ for
// k, c = 2 … 63. These give the entry a stored value selects on opening:
// k = ⌊√MaxIterations⌋ and c = ⌊MaxColors^0.334⌋, kept inside 2 … 63.
inline constexpr int kFirstListSide = 2;
inline constexpr int kLastListSide = 63;
int IterationsListSide(int maxIterations);
int ColoursListSide(int maxColors);

struct OcclusionOptions {
  OcclusionMode mode = OcclusionMode::kObjects;
  int iterations = 100;  // k = ⌊√iterations⌋ (at least 1); k² directions
  int colours = 16384;   // at most this many items per batch (at least 1)
  bool regular = false;
  bool logBatches = true;  // the batch lines on standard output
};

// A fraction 0 … 1 of the directions done; false asks to stop (the editor's
// ProgressStep, which answers false when ESC or SPACE is down).
using OcclusionProgress = std::function<bool(float fraction)>;

struct OcclusionResult {
  // False, with the scene and its marks untouched: scene loading, no GL
  // context, no colour survived the frame buffer, or too large.
  bool ran = false;
  bool tooLarge = false;   // more than the analysis takes on (occlusion_geometry.h)
  bool cancelled = false;  // progress asked to stop
  int directions = 0;      // directions drawn
  int tableSize = 0;       // colours per batch
  int batches = 0;
  int64_t trianglesDrawn = 0;  // triangles of all instances, drawn by each depth pass
  int64_t objectsLeftSelected = 0;  // kObjects, kOrientation: nodes never seen
  // Triangles of the scene's meshes (each mesh counted once); facesAfter
  // differs only in kFaces.
  int64_t facesBefore = 0;
  int64_t facesAfter = 0;
  int meshesRebuilt = 0;
  int meshesFreed = 0;  // meshes none of whose faces was seen
};

// Runs the analysis with the GL context of `surface` (made current here),
// over its whole drawing area; a drawing area with fewer pixels than
// `options.colours` gives a smaller table. In the object modes the table is
// cut to the number of object instances. A scene larger than the bounds of
// occlusion_geometry.h (instances, world-space vertices and indices,
// hierarchy depth; a hostile file can ask for any number) is refused, with
// `tooLarge`, rather than analysed in part. All GL state is saved and
// restored (smooth shading is on afterwards). Directions are regular or
// random with the generator seeded with 0, so a run repeats exactly. The
// analysis stops early once nothing is left unseen. When `progress` stops
// it, it ends after the current direction; the selection marks gathered so
// far stand, but in kFaces no mesh is rebuilt (a cut-short analysis would
// throw away faces it has simply not looked for yet). Nothing happens while
// the scene is loading.
OcclusionResult FindOccluded(QXScene& scene, const OcclusionOptions& options, GLSurface& surface,
                             const OcclusionProgress& progress = {});

// Direction i of k² as rotation angles in radians: first about the x axis by
// theta, then about the y axis by phi. Regular: theta = π⌊i/k⌋/k and
// phi = 2π(i mod k)/k. Random: theta = (r + 0.5)π/32768, then
// phi = (r + 0.5)2π/32768, r the next values of `random`.
struct DirectionAngles {
  float theta;
  float phi;
};
DirectionAngles OcclusionDirection(int i, int k, bool regular, Random15& random);

}  // namespace qx
