// The three kinds of coder objects a mesh packer owns. Each is a stored class
// (its parameters travel in the mesh header); the packer calls them once per
// vertex, from N-1 down to 1: the connectivity coder first, then the geometry
// coder, which asks its predictor.
#pragma once

#include <memory>
#include <vector>

#include "common/geometry.h"
#include "fan/face_link.h"
#include "stream/persistent.h"

namespace qx {

class BitChannel;
class QXPck;

// Codes the closed ring of FaceLinks around one vertex: the neighbours and,
// for every ring triangle, its dependency.
class ConnectivityCoder : public PersistentObject {
 public:
  // Writes v's ring, a closed ring as CloseRing leaves it (smallest a first,
  // gap links included). False when the ring cannot be coded or the channel
  // refuses a word; the bits already written stay in the channel.
  virtual bool EncodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) = 0;
  // Reads v's ring into `ring`, in ring order (left empty for an empty
  // ring). False on any failure: a short read or a ring the file could not
  // legally hold; the mesh being decoded ends there.
  virtual bool DecodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring) = 0;
  // The same into a list.
  bool DecodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, FaceList& ring);
};

// Guesses the position of a refinement vertex from vertices already coded
// (all indices above v). Uses the mesh's bit set as scratch, nothing else of
// the mesh changes.
class Predictor : public PersistentObject {
 public:
  virtual Vector Predict(QXPck& mesh, VertexIndex v) = 0;
};

// Codes the position of one vertex.
class GeometryCoder : public PersistentObject {
 public:
  // Writes v's position; a closed-loop coder then replaces it in the mesh by
  // the position the decoder will reconstruct. False when the channel refuses.
  virtual bool EncodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v) = 0;
  // Reads v's position into `position` (the caller stores it). False when the
  // stream ends first.
  virtual bool DecodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v, Vector& position) = 0;
};

// The coders of a new mesh packer, chosen from a scene's save settings:
// predictor by `PredMode` (1 GPButterfly, else GPCentroide), geometry coder by
// `GeoMode` (1 GeoQuantum, 2 GeoPolar, 3 GeoPolarAdaptativo, 4 GeoDense, else
// GeometryRaw, which needs no predictor), connectivity coder by `ConnectMode`
// (0 ConnectivityRaw, 2 ConnectivityDense, else ConnectivityModelo2). The
// coders are set up with the finished mesh. The dense coders' values come
// after the others so that stored choices keep their meaning; a save dialog
// lists them as its last entries.
inline constexpr int32_t kConnectModeDense = 2;
inline constexpr int32_t kGeoModeDense = 4;
struct CoderChoice {
  int32_t predMode = 0;
  int32_t geoMode = 0;
  int32_t connectMode = 1;
  float bitsError = 0;
};
std::unique_ptr<ConnectivityCoder> MakeConnectivityCoder(const CoderChoice& choice, QXPck& mesh);
std::unique_ptr<GeometryCoder> MakeGeometryCoder(const CoderChoice& choice, QXPck& mesh);
// The predictor of `PredMode` alone, as above.
std::unique_ptr<Predictor> MakePredictor(int32_t predMode);

}  // namespace qx
