// Geometry coders: the position of one vertex v of a fan mesh, coded right
// after its ring, from N-1 down to 1.
//
// Base vertices (v ≥ split index) and vertices with an empty ring are coded
// raw: the 12 bytes of the position (three floats in memory order) as 96
// bits, bit i being bit (i mod 8) of byte i/8, in that order.
//
// Refinement vertices are coded by the quantising coders as the residual
// d = p - position against the prediction p of their predictor. The coding is
// closed-loop: the writer replaces the position by p - d', d' being the
// residual as the reader reconstructs it, so later predictions see the same
// positions on both sides.
//
// Quantiser of one component with b bits over [lo, hi], half h = (hi - lo)/2,
// F = 2^b:
//   q  = 0                          x < lo (or x not a number)
//      = 2^b - 1                    x ≥ hi
//      = trunc((x - lo)·F / 2h)     otherwise, at most 2^b - 1
//   x' = q·2h / F + lo              the lower edge of q's cell
// q goes into the channel in b bits, most significant first; b = 0 writes
// nothing and reconstructs lo.
//
// One coded refinement vertex, per coder:
//   GeoQuantum          [qx : bx][qy : by][qz : bz]        d as is
//   GeoPolar            [qr : br][qθ : bθ][qφ : bφ]        r = |d|,
//                       θ = atan2(dy, dx), φ = atan2(dz, hypot(dx, dy));
//                       d' = (r'·cos θ'·cos φ', r'·sin θ'·cos φ', r'·sin φ'),
//                       each product taken left to right
//   GeoPolarAdaptativo  as GeoPolar, but br shrinks by one bit each time the
//                       radius range halves (Narrow), and bθ, bφ follow from
//                       the decoded radius (AngleBits): no angle bits when
//                       the residual is below the error bound.
#pragma once

#include <array>
#include <memory>

#include "fan/coder_interfaces.h"

namespace qx {

// Bits per component for an error fraction: ⌈log2(1 / bitsError)⌉ (0.01 →
// 7, 0.5 → 1, 1.0 → 0), kept within 0 … 32; 32 when bitsError is not above 0
// (or not a number).
int BitsForError(float bitsError);
// The quantiser above; b in 0 … 32. Never undefined, whatever x, lo, hi and
// half are (numbers read from a file).
uint32_t Quantise(float x, int bits, float lo, float hi, float half);
float Reconstruct(uint32_t q, int bits, float lo, float half);

// The residual d' of a decoded radius and angles, as both sides of the polar
// coders rebuild it: x = (r·cos θ)·cos φ, y = (r·sin θ)·cos φ, z = r·sin φ, in
// float, in exactly that order (another order differs in the last bit).
Vector PolarResidual(float radius, float theta, float phi);

// Reads the predictor reference at the head of a coder's stored record;
// none when there is none or it is not a predictor.
std::unique_ptr<Predictor> ReadPredictorReference(ObjectReader& in);

// The 96-bit raw code of a position.
bool WriteRawPosition(BitChannel& bits, Vector position);
bool ReadRawPosition(BitChannel& bits, Vector& position);

// Every position raw. No parameters; its stored record is empty.
class GeometryRaw final : public GeometryCoder {
 public:
  static const ClassDescriptor kClass;  // "GeometryRaw"
  const ClassDescriptor* GetClass() const override { return &kClass; }

  // Both fail unless all 96 bits are written or read.
  bool EncodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v) override;
  bool DecodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v, Vector& position) override;
};

// Cartesian residuals in a range box. Stored record:
//   predictor (object reference) | bitsError f32 | range centre 3×f32 | range half 3×f32
// The range box is the box of d(v) + (2e, 2e, 2e) over the refinement
// vertices with a ring, d(v) being the residual against the finished mesh's
// positions and e = bitsError × the largest side of the mesh's box.
class GeoQuantum : public GeometryCoder {
 public:
  static const ClassDescriptor kClass;  // "GeoQuantum"
  const ClassDescriptor* GetClass() const override { return &kClass; }

  // An empty coder, filled by Read.
  GeoQuantum() = default;
  // A coder set up for the finished `mesh` (the predictor reads its records
  // and positions). `predictor` must not be none.
  GeoQuantum(QXPck& mesh, std::unique_ptr<Predictor> predictor, float bitsError);

  // Codes v raw or as a residual (see above); the writer then stores the
  // reconstruction as v's position. False when the channel refuses a word
  // or the stream ends.
  bool EncodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v) final;
  bool DecodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v, Vector& position) final;

  bool Write(ObjectWriter& out) override;
  // Fails without a predictor record (none, an unknown class, or not a
  // predictor) and on a short read. The parameters are taken as they come:
  // odd values give odd positions, never a crash.
  bool Read(ObjectReader& in) override;

  // Every component gets BitsForError(bitsError) bits.
  void SetBits(float bitsError);

  int Bits(int component) const { return bits_[component]; }
  const Box& Range() const { return range_; }
  Vector Lo() const { return lo_; }
  Vector Hi() const { return hi_; }
  float BitsError() const { return bitsError_; }
  Predictor* GetPredictor() const { return predictor_.get(); }

 protected:
  // Stores the predictor and the error fraction, sets the bits; the range
  // is the derived class's business.
  GeoQuantum(std::unique_ptr<Predictor> predictor, float bitsError);

  // Writes the residual d and returns its reconstruction d'.
  virtual bool WriteResidual(BitChannel& bits, VertexIndex v, Vector d, Vector& reconstructed);
  // Reads a residual's reconstruction d'.
  virtual bool ReadResidual(BitChannel& bits, VertexIndex v, Vector& reconstructed);

  // The range box, and lo and hi from it.
  void SetRange(const Box& range);
  // Quantises component i of the range with its bits, writes q.
  bool WriteComponent(BitChannel& bits, int i, float x, uint32_t& q) const;
  bool ReadComponent(BitChannel& bits, int i, uint32_t& q) const;
  float ReconstructComponent(int i, uint32_t q) const { return Reconstruct(q, bits_[i], lo_[i], range_.half[i]); }

  // The predictor and error fraction: the head of every stored record.
  bool WriteHead(ObjectWriter& out);
  bool ReadHead(ObjectReader& in);

  // e: bitsError × the largest side of the mesh's box (0 for an empty box).
  static float ErrorBound(const QXPck& mesh, float bitsError);
  // d(v) = prediction - position, on the mesh as it stands.
  Vector Residual(QXPck& mesh, VertexIndex v) const;

  std::array<int, 3> bits_ = {32, 32, 32};
  Box range_;
  Vector hi_{-kHuge, -kHuge, -kHuge};
  Vector lo_{kHuge, kHuge, kHuge};
  float bitsError_ = 0;
  std::unique_ptr<Predictor> predictor_;
};

// Polar residuals: radius in [0, Rmax], θ in [-π, π], φ in [-π/2, π/2].
// Stored record as GeoQuantum's, the range box being centre (Rmax/2, 0, 0),
// half (Rmax/2, π, π/2). Rmax = the largest |d(v)| + 2e over all refinement
// vertices.
class GeoPolar : public GeoQuantum {
 public:
  static const ClassDescriptor kClass;  // "GeoPolar"
  const ClassDescriptor* GetClass() const override { return &kClass; }

  GeoPolar() = default;
  GeoPolar(QXPck& mesh, std::unique_ptr<Predictor> predictor, float bitsError);

  float RadiusMax() const { return hi_.x; }

 protected:
  GeoPolar(std::unique_ptr<Predictor> predictor, float bitsError)
      : GeoQuantum(std::move(predictor), bitsError) {}
  bool WriteResidual(BitChannel& bits, VertexIndex v, Vector d, Vector& reconstructed) override;
  bool ReadResidual(BitChannel& bits, VertexIndex v, Vector& reconstructed) override;
  // The polar range box for a largest radius.
  void SetRadiusMax(float radiusMax);
};

// Polar residuals whose radius range halves as refinement proceeds.
//
// Level table: entry k is the smallest refinement vertex whose |d| + 2e
// reaches Rmax / 2^(k+1); entry 32 is 1. Before each coded vertex v,
// Narrow(v) halves the radius range (and drops one radius bit) while v is
// below the entry of the current level, moving to the next level.
//
// Stored record:
//   predictor | bitsError f32 | margin f32 (2e) | Rmax f32 | table
// table: entry 0 in 4 bytes, every further entry in as many bytes as the
// previous entry minus 1 needs (0 … 4, little-endian); the list ends after
// an entry below 2 or after 32 entries. The reader puts 1 where it stopped.
// An entry equal to a previous 256, 65536 or 16777216 would not fit its
// width, so the writer's table steps one below such a previous entry: the
// writer codes with exactly the table the reader gets.
class GeoPolarAdaptativo final : public GeoPolar {
 public:
  static const ClassDescriptor kClass;  // "GeoPolarAdaptativo"
  const ClassDescriptor* GetClass() const override { return &kClass; }

  static constexpr int kTableEntries = 32;
  using LevelTable = std::array<int32_t, kTableEntries + 1>;

  GeoPolarAdaptativo() { table_[kTableEntries] = 1; }
  GeoPolarAdaptativo(QXPck& mesh, std::unique_ptr<Predictor> predictor, float bitsError);

  // The record above. Written before the first coded vertex (as the mesh
  // header is): Narrow changes the radius range as coding proceeds.
  bool Write(ObjectWriter& out) override;
  // Reads the record; the level starts at 0 again.
  bool Read(ObjectReader& in) override;

  // Replaces the first 32 entries (entry 32 stays 1), fits them to the
  // stored record as described above and restarts at level 0.
  void SetTable(const std::array<int32_t, kTableEntries>& entries);

  float Margin() const { return margin_; }
  int Level() const { return level_; }
  const LevelTable& Table() const { return table_; }

 private:
  bool WriteResidual(BitChannel& bits, VertexIndex v, Vector d, Vector& reconstructed) override;
  bool ReadResidual(BitChannel& bits, VertexIndex v, Vector& reconstructed) override;

  void Narrow(VertexIndex v);
  // Sets the angle widths from the quantised radius: none when the radius
  // cell is within the margin, else ⌈log2(π / asin(margin / 2r'))⌉ for θ and
  // one less for φ.
  void AngleBits(uint32_t radiusCode);
  // Lowers entries that their stored width could not hold.
  void FitTableToRecord();
  bool WriteTable(ObjectWriter& out) const;
  bool ReadTable(ObjectReader& in);
  bool ReadPolarResidual(BitChannel& bits, Vector& reconstructed);

  float margin_ = 0;
  int level_ = 0;
  LevelTable table_{};
};

}  // namespace qx
