// qxtool stream FILE [--rate BYTES_PER_S | --entry K] [--every MS]
//
// Loads FILE progressively exactly as the editor's Open does at an emulated
// line speed (pipe, reader threads, paced feeder) and reports, once per
// interval, what a window would show at that moment:
//
//   <elapsed> ms <fed> bytes <load>% | mesh 0: <decoded>/<N> vertices, <T> triangles | ...
//
// (the triangles are those shown at level 0, walked under the mesh lock),
// then the time to the first shown triangle and the total time. The rate is
// given in bytes per second or as an entry of the open dialog's line table;
// without either the fastest entry is used. The interval defaults to 500 ms.
#pragma once

namespace qx {

// argv[0] is "stream". Returns 0 on success; otherwise a message on standard
// error and 2 for bad options, 1 for a file that cannot be read as a scene.
int RunStreamCommand(int argc, const char* const* argv);

}  // namespace qx
