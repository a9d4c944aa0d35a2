// The reading side of the object stream (record layout in object_writer.h).
//
// ReadObject never trusts the bytes: a record whose class is unknown is
// skipped whole, a back reference to an offset with no finished object yields
// none, and a record shorter than its header or than what its body consumed
// is a failed read. Nothing is allocated in proportion to a size or length
// read from the stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "stream/persistent.h"

namespace qx {

class ObjectReader {
 public:
  virtual ~ObjectReader();

  // Bytes consumed so far.
  uint64_t Tell() const { return consumed_; }
  // Reads up to `count` bytes; returns how many were read.
  size_t ReadBytes(void* data, size_t count);
  // Reads and drops `count` bytes; false when the stream ends first.
  virtual bool Skip(uint64_t count);
  bool ReadU8(uint8_t& value) { return ReadBytes(&value, 1) == 1; }
  bool ReadU32(uint32_t& value);
  bool ReadI32(int32_t& value);
  bool ReadF32(float& value);
  // Reads a stored string, keeping at most `capacity` bytes (always zero
  // terminated) and skipping the rest. `capacity` must be at least 1.
  bool ReadString(char* buffer, size_t capacity);

  // Reads one record. Returns the object, or none for the no-object record
  // and for any failure. Every object the stream creates stays the stream's
  // until somebody claims it (Claim, ReadNewObjectAs); whatever is unclaimed
  // when the stream is destroyed is deleted with it. So objects that a
  // hostile file puts where nobody takes them, or whose bodies fail, are
  // neither leaked nor freed while the stream's table still refers to them.
  PersistentObject* ReadObject();
  // ReadObject that also checks the type: an object of another class gives
  // none. The object stays the stream's.
  template <class T>
  T* ReadObjectAs() {
    return dynamic_cast<T*>(ReadObject());
  }
  // Reads an object that the caller will own alone: a new record of class T,
  // claimed for the caller. A back reference (an object somebody may already
  // hold) or another class gives none.
  template <class T>
  T* ReadNewObjectAs() {
    PersistentObject* object = ReadObject();
    if (lastWasReference_) return nullptr;
    T* typed = dynamic_cast<T*>(object);
    return typed && Claim(typed) ? typed : nullptr;
  }
  // Takes `object` over from the stream: true when the stream created it and
  // nobody claimed it before; the caller then owns it.
  bool Claim(const PersistentObject* object);
  // How many records are being read, one inside the other (1 inside the
  // body of a top-level record).
  int Depth() const { return depth_; }
  // Reads a record's header and creates its object without reading the body
  // (the caller reads it later, or drops the stream): the progressive loader
  // gets its scene this way before the scene's bytes have arrived. The object
  // is the caller's.
  PersistentObject* ReadObjectHeader();
  // Whether a read has come back short: the stream has ended.
  bool Exhausted() const { return exhausted_; }
  // Size of the record whose header was read last.
  uint32_t RecordSize() const { return recordSize_; }

 protected:
  // Reads from the underlying medium.
  virtual size_t Get(void* data, size_t count) = 0;
  // For forms that skip without reading: `skipped` of `requested` bytes.
  void CountSkipped(uint64_t skipped, uint64_t requested) {
    consumed_ += skipped;
    if (skipped < requested) exhausted_ = true;
  }

 private:
  struct Header {
    uint32_t position;
    uint32_t size;
    const ClassDescriptor* descriptor;  // none when the class is unknown
    PersistentObject* object;           // none for unknown classes
  };
  PersistentObject* ReadNestedObject();
  PersistentObject* ReadBackReference(uint8_t first);
  // Reads the header of a kind 1 or 2 record and creates its object.
  bool ReadRecordHeader(uint8_t first, Header& header);
  const ClassDescriptor* ResolveClass(uint32_t descriptorPosition, PersistentObject* read);

  // Deepest nesting of records read; deeper records read as none. Chains of
  // matrices and materials nest one level per element. The WebAssembly build
  // runs on a browser's stack, which holds about 3000 nested records there.
#if defined(__EMSCRIPTEN__)
  static constexpr int kMaxNesting = 2000;
#else
  static constexpr int kMaxNesting = 10000;
#endif
  int depth_ = 0;
  bool lastWasReference_ = false;  // the last ReadObject met a back reference
  bool exhausted_ = false;
  uint64_t consumed_ = 0;
  uint32_t recordSize_ = 0;
  std::unordered_map<uint32_t, PersistentObject*> objects_;
  // Descriptors read from this stream, owned here.
  std::vector<std::unique_ptr<ClassDescriptor>> descriptors_;
  // Objects created and not yet claimed.
  std::unordered_map<const PersistentObject*, std::unique_ptr<PersistentObject>> unclaimed_;
};

// Reads from memory; the caller keeps the bytes alive.
class MemoryObjectReader final : public ObjectReader {
 public:
  explicit MemoryObjectReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool Skip(uint64_t count) override;

 protected:
  size_t Get(void* data, size_t count) override;

 private:
  std::span<const uint8_t> bytes_;
  size_t cursor_ = 0;
};

// Reads a stdio file the caller opened with "rb".
class FileObjectReader final : public ObjectReader {
 public:
  explicit FileObjectReader(std::FILE* file) : file_(file) {}

 protected:
  size_t Get(void* data, size_t count) override;

 private:
  std::FILE* file_;
};

}  // namespace qx
