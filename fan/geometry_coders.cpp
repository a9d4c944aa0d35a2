#include "fan/geometry_coders.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include "fan/bit_channel.h"
#include "fan/pck.h"
#include "stream/byte_order.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"

namespace qx {

const ClassDescriptor GeometryRaw::kClass{"GeometryRaw", &MakeDefault<GeometryRaw>};
const ClassDescriptor GeoQuantum::kClass{"GeoQuantum", &MakeDefault<GeoQuantum>};
const ClassDescriptor GeoPolar::kClass{"GeoPolar", &MakeDefault<GeoPolar>};
const ClassDescriptor GeoPolarAdaptativo::kClass{"GeoPolarAdaptativo", &MakeDefault<GeoPolarAdaptativo>};

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kHalfPi = 1.5707964f;
constexpr double kInverseLn2 = 1.4426950408889634;
constexpr int kMaxWidth = 32;

// A field width from a computed bit count: within 0 … 32, and 0 for a count
// that is not a number. (A quantiser of 32 bits has F = 2^32, which no
// 32-bit shift can form; the quantiser works with floats and a 64-bit-safe
// top code instead, so 32 is an ordinary width here.)
int ClampWidth(double bits) {
  if (!(bits > 0)) return 0;
  return bits >= kMaxWidth ? kMaxWidth : static_cast<int>(bits);
}

uint32_t TopCode(int bits) {
  if (bits <= 0) return 0;
  return bits >= kMaxWidth ? UINT32_MAX : (uint32_t{1} << bits) - 1;
}

// Bytes needed for x: 0 for 0, else 1 … 4 by its highest non-zero byte.
int BytesFor(uint32_t x) {
  int bytes = 0;
  for (; x != 0; x >>= 8) ++bytes;
  return bytes;
}

bool WriteLittleEndian(ObjectWriter& out, uint32_t value, int bytes) {
  uint8_t buffer[4];
  StoreU32(buffer, value);
  return out.WriteBytes(buffer, static_cast<size_t>(bytes)) == static_cast<size_t>(bytes);
}

bool ReadLittleEndian(ObjectReader& in, int bytes, uint32_t& value) {
  uint8_t buffer[4] = {0, 0, 0, 0};
  if (in.ReadBytes(buffer, static_cast<size_t>(bytes)) != static_cast<size_t>(bytes)) return false;
  value = LoadU32(buffer);
  return true;
}

bool CodedRaw(const QXPck& mesh, VertexIndex v) {
  return v >= mesh.splitIndex || mesh.Record(v).RingSize() == 0;
}

// The sines and cosines are taken in double precision and rounded once:
// single-precision sinf and cosf round differently from one C library to
// another (glibc and the WebAssembly build's disagree on about one argument
// in three thousand), while the double results rounded to float agree, so
// every decoder reconstructs the same positions.
float Cos(float angle) { return static_cast<float>(std::cos(static_cast<double>(angle))); }
float Sin(float angle) { return static_cast<float>(std::sin(static_cast<double>(angle))); }

// The last refinement vertex the set-up loops visit (S-1, within the mesh).
VertexIndex LastRefinementVertex(const QXPck& mesh) {
  return std::min(mesh.splitIndex, static_cast<VertexIndex>(mesh.vertices.size())) - 1;
}

}  // namespace

// ---- Shared pieces ------------------------------------------------------------

// Reads the predictor reference at the head of a coder's record. A predictor
// nobody has claimed becomes the coder's. One that another coder of this
// stream already owns (a back reference) is not shared: a predictor stores
// nothing, so a fresh one of the same class predicts exactly like it.
std::unique_ptr<Predictor> ReadPredictorReference(ObjectReader& in) {
  auto* predictor = dynamic_cast<Predictor*>(in.ReadObject());
  if (predictor == nullptr) return nullptr;
  if (in.Claim(predictor)) return std::unique_ptr<Predictor>(predictor);
  const ClassDescriptor* descriptor = predictor->GetClass();
  if (descriptor == nullptr || descriptor->Factory() == nullptr) return nullptr;
  std::unique_ptr<PersistentObject> fresh(descriptor->Factory()());
  if (dynamic_cast<Predictor*>(fresh.get()) == nullptr) return nullptr;
  return std::unique_ptr<Predictor>(static_cast<Predictor*>(fresh.release()));
}


int BitsForError(float bitsError) {
  if (!(bitsError > 0)) return kMaxWidth;
  return ClampWidth(std::ceil(std::log(1.0 / bitsError) * kInverseLn2));
}

uint32_t Quantise(float x, int bits, float lo, float hi, float half) {
  const uint32_t top = TopCode(bits);
  if (!(x >= lo)) return 0;
  if (x >= hi) return top;
  const float scale = std::ldexp(1.0f, std::clamp(bits, 0, kMaxWidth));
  const float cell = (x - lo) * scale / (2.0f * half);
  // Rounding can carry a value just below hi onto F; odd ranges from a file
  // can give anything. Only finite cells in [0, F) are converted.
  if (!(cell >= 0)) return 0;
  if (!(cell < scale)) return top;
  return std::min(static_cast<uint32_t>(cell), top);
}

float Reconstruct(uint32_t q, int bits, float lo, float half) {
  const float scale = std::ldexp(1.0f, std::clamp(bits, 0, kMaxWidth));
  return static_cast<float>(q) * (2.0f * half) / scale + lo;
}

Vector PolarResidual(float radius, float theta, float phi) {
  const float cosPhi = Cos(phi);
  return {radius * Cos(theta) * cosPhi, radius * Sin(theta) * cosPhi, radius * Sin(phi)};
}

bool WriteRawPosition(BitChannel& bits, Vector position) {
  static_assert(sizeof(Vector) == 12);
  uint8_t bytes[12];
  std::memcpy(bytes, &position, sizeof bytes);
  for (uint8_t byte : bytes)
    for (int i = 0; i < 8; ++i)
      if (!bits.WriteBit((byte >> i) & 1)) return false;
  return true;
}

bool ReadRawPosition(BitChannel& bits, Vector& position) {
  uint8_t bytes[12];
  for (int word = 0; word < 3; ++word) {
    uint32_t value;
    if (!bits.ReadBitsLsbFirst(32, value)) return false;
    for (int k = 0; k < 4; ++k) bytes[4 * word + k] = static_cast<uint8_t>(value >> (8 * k));
  }
  std::memcpy(&position, bytes, sizeof bytes);
  return true;
}

// ---- GeometryRaw ------------------------------------------------------------------

bool GeometryRaw::EncodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v) {
  assert(v >= 0 && static_cast<size_t>(v) < mesh.vertices.size());
  return WriteRawPosition(bits, mesh.vertices[static_cast<size_t>(v)].position);
}

bool GeometryRaw::DecodeVertex(BitChannel& bits, QXPck&, VertexIndex, Vector& position) {
  return ReadRawPosition(bits, position);
}

// ---- GeoQuantum -------------------------------------------------------------------

GeoQuantum::GeoQuantum(std::unique_ptr<Predictor> predictor, float bitsError)
    : bitsError_(bitsError), predictor_(std::move(predictor)) {
  assert(predictor_);
  SetBits(bitsError);
}

GeoQuantum::GeoQuantum(QXPck& mesh, std::unique_ptr<Predictor> predictor, float bitsError)
    : GeoQuantum(std::move(predictor), bitsError) {
  const float margin = 2 * ErrorBound(mesh, bitsError);
  Box range;
  for (VertexIndex v = LastRefinementVertex(mesh); v >= 1; --v)
    if (mesh.Record(v).RingSize() != 0) ExtendBox(range, Residual(mesh, v) + Vector{margin, margin, margin});
  SetRange(range);
}

void GeoQuantum::SetBits(float bitsError) { bits_.fill(BitsForError(bitsError)); }

void GeoQuantum::SetRange(const Box& range) {
  range_ = range;
  hi_ = range.Hi();
  lo_ = range.Lo();
}

float GeoQuantum::ErrorBound(const QXPck& mesh, float bitsError) {
  if (mesh.box.Empty()) return 0;
  const Vector half = mesh.box.half;
  return bitsError * 2 * std::max({half.x, half.y, half.z});
}

Vector GeoQuantum::Residual(QXPck& mesh, VertexIndex v) const {
  return predictor_->Predict(mesh, v) - mesh.vertices[static_cast<size_t>(v)].position;
}

bool GeoQuantum::EncodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v) {
  assert(v >= 0 && static_cast<size_t>(v) < mesh.vertices.size());
  Vector& position = mesh.vertices[static_cast<size_t>(v)].position;
  if (CodedRaw(mesh, v)) return WriteRawPosition(bits, position);
  if (!predictor_) return false;
  const Vector prediction = predictor_->Predict(mesh, v);
  Vector reconstructed;
  if (!WriteResidual(bits, v, prediction - position, reconstructed)) return false;
  position = prediction - reconstructed;  // what the reader will rebuild
  return true;
}

bool GeoQuantum::DecodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v, Vector& position) {
  if (CodedRaw(mesh, v)) return ReadRawPosition(bits, position);
  if (!predictor_) return false;
  const Vector prediction = predictor_->Predict(mesh, v);
  Vector reconstructed;
  if (!ReadResidual(bits, v, reconstructed)) return false;
  position = prediction - reconstructed;
  return true;
}

bool GeoQuantum::WriteComponent(BitChannel& bits, int i, float x, uint32_t& q) const {
  q = Quantise(x, bits_[i], lo_[i], hi_[i], range_.half[i]);
  return bits.WriteBits(q, bits_[i]);
}

bool GeoQuantum::ReadComponent(BitChannel& bits, int i, uint32_t& q) const {
  return bits.ReadBits(bits_[i], q);
}

bool GeoQuantum::WriteResidual(BitChannel& bits, VertexIndex, Vector d, Vector& reconstructed) {
  for (int i = 0; i < 3; ++i) {
    uint32_t q;
    if (!WriteComponent(bits, i, d[i], q)) return false;
    reconstructed[i] = ReconstructComponent(i, q);
  }
  return true;
}

bool GeoQuantum::ReadResidual(BitChannel& bits, VertexIndex, Vector& reconstructed) {
  for (int i = 0; i < 3; ++i) {
    uint32_t q;
    if (!ReadComponent(bits, i, q)) return false;
    reconstructed[i] = ReconstructComponent(i, q);
  }
  return true;
}

bool GeoQuantum::WriteHead(ObjectWriter& out) {
  return out.WriteObject(predictor_.get()) && out.WriteF32(bitsError_);
}

// A failed read below means the stream has ended, so no later record can
// refer back to the predictor read here: the coder may keep (and, being
// dropped, free) it.
bool GeoQuantum::ReadHead(ObjectReader& in) {
  predictor_ = ReadPredictorReference(in);
  if (!predictor_ || !in.ReadF32(bitsError_)) return false;
  SetBits(bitsError_);
  return true;
}

bool GeoQuantum::Write(ObjectWriter& out) {
  if (!WriteHead(out)) return false;
  for (const Vector& vector : {range_.centre, range_.half})
    for (int i = 0; i < 3; ++i)
      if (!out.WriteF32(vector[i])) return false;
  return true;
}

bool GeoQuantum::Read(ObjectReader& in) {
  if (!ReadHead(in)) return false;
  Box range;
  for (Vector* vector : {&range.centre, &range.half})
    for (int i = 0; i < 3; ++i)
      if (!in.ReadF32((*vector)[i])) return false;
  SetRange(range);
  return true;
}

// ---- GeoPolar -----------------------------------------------------------------------

GeoPolar::GeoPolar(QXPck& mesh, std::unique_ptr<Predictor> predictor, float bitsError)
    : GeoPolar(std::move(predictor), bitsError) {
  const float margin = 2 * ErrorBound(mesh, bitsError);
  float radiusMax = 0;
  for (VertexIndex v = LastRefinementVertex(mesh); v >= 1; --v)
    radiusMax = std::max(radiusMax, Length(Residual(mesh, v)) + margin);
  SetRadiusMax(radiusMax);
}

void GeoPolar::SetRadiusMax(float radiusMax) {
  Box range;
  range.centre = {radiusMax / 2, 0, 0};
  range.half = {radiusMax / 2, kPi, kHalfPi};
  SetRange(range);
}

bool GeoPolar::WriteResidual(BitChannel& bits, VertexIndex, Vector d, Vector& reconstructed) {
  const float polar[3] = {Length(d), std::atan2(d.y, d.x), std::atan2(d.z, std::hypot(d.x, d.y))};
  float decoded[3];
  for (int i = 0; i < 3; ++i) {
    uint32_t q;
    if (!WriteComponent(bits, i, polar[i], q)) return false;
    decoded[i] = ReconstructComponent(i, q);
  }
  reconstructed = PolarResidual(decoded[0], decoded[1], decoded[2]);
  return true;
}

bool GeoPolar::ReadResidual(BitChannel& bits, VertexIndex, Vector& reconstructed) {
  float decoded[3];
  for (int i = 0; i < 3; ++i) {
    uint32_t q;
    if (!ReadComponent(bits, i, q)) return false;
    decoded[i] = ReconstructComponent(i, q);
  }
  reconstructed = PolarResidual(decoded[0], decoded[1], decoded[2]);
  return true;
}

// ---- GeoPolarAdaptativo ------------------------------------------------------------

GeoPolarAdaptativo::GeoPolarAdaptativo(QXPck& mesh, std::unique_ptr<Predictor> predictor, float bitsError)
    : GeoPolar(std::move(predictor), bitsError) {
  margin_ = 2 * ErrorBound(mesh, bitsError);
  table_[kTableEntries] = 1;
  float radiusMax = 0;
  for (VertexIndex v = LastRefinementVertex(mesh); v >= 1; --v) {
    const float t = Length(Residual(mesh, v)) + margin_;
    if (t > radiusMax) {
      radiusMax = t;
      std::fill_n(table_.begin(), kTableEntries, 0);
    }
    // v is the smallest vertex so far to reach every threshold from the
    // first one it reaches on.
    for (int j = 0; j < kTableEntries; ++j) {
      if (!(t >= std::ldexp(radiusMax, -(j + 1)))) continue;
      std::fill(table_.begin() + j, table_.begin() + kTableEntries, v);
      break;
    }
  }
  FitTableToRecord();
  SetRadiusMax(radiusMax);
}

void GeoPolarAdaptativo::SetTable(const std::array<int32_t, kTableEntries>& entries) {
  std::copy(entries.begin(), entries.end(), table_.begin());
  table_[kTableEntries] = 1;
  FitTableToRecord();
  level_ = 0;
}

void GeoPolarAdaptativo::FitTableToRecord() {
  for (int k = 1; k < kTableEntries && table_[k - 1] >= 2; ++k) {
    const uint32_t capacity = TopCode(8 * BytesFor(static_cast<uint32_t>(table_[k - 1] - 1)));
    if (table_[k] < 0) table_[k] = 0;  // would come back as a large entry
    if (static_cast<uint32_t>(table_[k]) > capacity) table_[k] = static_cast<int32_t>(capacity);
  }
}

void GeoPolarAdaptativo::Narrow(VertexIndex v) {
  while (level_ <= kTableEntries && v < table_[level_]) {
    Box range = range_;
    range.centre.x /= 2;
    range.half.x /= 2;
    SetRange(range);
    if (bits_[0] > 0) --bits_[0];
    ++level_;
  }
}

void GeoPolarAdaptativo::AngleBits(uint32_t radiusCode) {
  const float radius = ReconstructComponent(0, radiusCode);
  const float x = radius != 0 ? margin_ / (2 * radius) : 0.0f;
  if (!(x > 0 && x < 1)) {
    bits_[1] = bits_[2] = 0;
    return;
  }
  bits_[1] = ClampWidth(std::ceil(std::log(range_.half.y / std::asin(double{x})) * kInverseLn2));
  bits_[2] = std::max(bits_[1] - 1, 0);
}

bool GeoPolarAdaptativo::WriteResidual(BitChannel& bits, VertexIndex v, Vector d, Vector& reconstructed) {
  Narrow(v);
  const float polar[3] = {Length(d), std::atan2(d.y, d.x), std::atan2(d.z, std::hypot(d.x, d.y))};
  float decoded[3];
  for (int i = 0; i < 3; ++i) {
    uint32_t q;
    if (!WriteComponent(bits, i, polar[i], q)) return false;
    decoded[i] = ReconstructComponent(i, q);
    if (i == 0) AngleBits(q);
  }
  reconstructed = PolarResidual(decoded[0], decoded[1], decoded[2]);
  return true;
}

bool GeoPolarAdaptativo::ReadResidual(BitChannel& bits, VertexIndex v, Vector& reconstructed) {
  Narrow(v);
  float decoded[3];
  for (int i = 0; i < 3; ++i) {
    uint32_t q;
    if (!ReadComponent(bits, i, q)) return false;
    decoded[i] = ReconstructComponent(i, q);
    if (i == 0) AngleBits(q);
  }
  reconstructed = PolarResidual(decoded[0], decoded[1], decoded[2]);
  return true;
}

bool GeoPolarAdaptativo::WriteTable(ObjectWriter& out) const {
  if (!out.WriteU32(static_cast<uint32_t>(table_[0]))) return false;
  for (int k = 1; k < kTableEntries && table_[k - 1] >= 2; ++k) {
    const int width = BytesFor(static_cast<uint32_t>(table_[k - 1] - 1));
    if (!WriteLittleEndian(out, static_cast<uint32_t>(table_[k]), width)) return false;
  }
  return true;
}

bool GeoPolarAdaptativo::ReadTable(ObjectReader& in) {
  table_.fill(0);
  table_[kTableEntries] = 1;
  if (!in.ReadI32(table_[0])) return false;
  int k = 0;
  while (table_[k] >= 2 && k + 1 < kTableEntries) {
    uint32_t entry;
    if (!ReadLittleEndian(in, BytesFor(static_cast<uint32_t>(table_[k] - 1)), entry)) return false;
    table_[++k] = static_cast<int32_t>(entry);
  }
  if (table_[k] >= 2) ++k;  // all 32 entries were read
  table_[k] = 1;
  return true;
}

bool GeoPolarAdaptativo::Write(ObjectWriter& out) {
  return WriteHead(out) && out.WriteF32(margin_) && out.WriteF32(RadiusMax()) && WriteTable(out);
}

bool GeoPolarAdaptativo::Read(ObjectReader& in) {
  float radiusMax;
  if (!ReadHead(in) || !in.ReadF32(margin_) || !in.ReadF32(radiusMax) || !ReadTable(in)) return false;
  SetRadiusMax(radiusMax);
  level_ = 0;
  return true;
}

}  // namespace qx
