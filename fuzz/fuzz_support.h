// Shared by the fuzz harnesses and the seed writer: a scratch folder for
// inputs that readers only take as files, and the small progressive mesh the
// bit-level decoders decode into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fan/coder_interfaces.h"
#include "fan/pck.h"

namespace qx::fuzzing {

// A folder of its own for this process (under $TMPDIR or /tmp), created on
// first use. Several harnesses may run at once without sharing files.
const std::string& ScratchFolder();

// Writes `bytes` to `name` in the scratch folder and returns the full path;
// an empty string when the file could not be written.
std::string WriteScratchFile(const std::string& name, std::span<const uint8_t> bytes);

// The mesh every decoder harness decodes into: a bumpy 6 × 6 grid simplified
// by 20 vertex removals, the same every time it is made.
std::unique_ptr<QXPck> MakeReferenceMesh();
// One reference mesh, made once.
const QXPck& ReferenceMesh();
// Vertex v's ring in `mesh` (made by MakeReferenceMesh), closed, as the
// coders take it.
FaceList ClosedRing(const QXPck& mesh, VertexIndex v);
// Vertex v's record of the reference mesh, as a decoder would rebuild it.
FanRecord ReferenceRecord(VertexIndex v);

// A fresh mesh of the reference's size, split and base count, with no records
// and nothing decoded yet: what a reader holds before the first vertex.
std::unique_ptr<QXPck> EmptyLikeReference();

// The coder choices the geometry harness picks from with its first byte.
inline constexpr int kGeometryChoiceCount = 16;
CoderChoice GeometryChoice(uint8_t selector);

// The geometry coder a reader gets from the writer's mesh header when the
// writer chose `choose`(selector % count) for the reference mesh (its stored
// record is written once per choice). Traps when the record does not read
// back: that is the harness's own fault.
std::unique_ptr<GeometryCoder> StoredGeometryCoder(uint8_t selector, int count, CoderChoice (*choose)(uint8_t));

// The dense coder choices the dense harness picks from with its first byte.
inline constexpr int kDenseChoiceCount = 6;
CoderChoice DenseChoice(uint8_t selector);

// The dense harness's geometry coders: DenseChoice(selector) as a writer
// makes it for `mesh`, or, with bit kFirstGeometryVersion of the selector
// set, the geometry coder's first version, which readers still take; and
// that coder as a reader gets it from the stored record.
inline constexpr uint8_t kFirstGeometryVersion = 0x20;
std::unique_ptr<GeometryCoder> DenseGeometryWriter(uint8_t selector, QXPck& mesh);
std::unique_ptr<GeometryCoder> StoredDenseGeometryCoder(uint8_t selector);

}  // namespace qx::fuzzing
