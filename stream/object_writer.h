// The writing side of the object stream.
//
// Record layout (all integers little-endian):
//   kind 3  no object        one byte 0x03
//   kind 0  back reference   (offset << 2) in n bytes, n = bytes needed for
//                            4p - 1 where p is this reference's position
//   kind 1  object           u32 (size << 2) | 1, its class descriptor as a
//                            nested record, then the body from Write
//   kind 2  class descriptor u32 (size << 2) | 2, text string, u32 identifier
// size counts the whole record, header included, so readers can skip records
// they do not understand. Each object is written once per stream; later
// mentions are back references to its first byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "stream/persistent.h"

namespace qx {

class ObjectWriter {
 public:
  virtual ~ObjectWriter() = default;

  // Bytes written so far.
  uint32_t Tell() const { return position_; }
  // Writes `count` bytes; returns how many were written.
  size_t WriteBytes(const void* data, size_t count);
  bool WriteU8(uint8_t value) { return WriteBytes(&value, 1) == 1; }
  bool WriteU32(uint32_t value);
  bool WriteF32(float value);
  // u32 length (characters + 1), then the characters and a terminating zero.
  bool WriteString(std::string_view text);
  // Writes `object` as a record, a back reference, or the no-object byte. Only
  // a failed no-object byte is reported; callers check their own Write calls.
  bool WriteObject(PersistentObject* object);
  // Whether any write came back short or any object's Write failed since the
  // writer was made: a stream that is not a complete scene file.
  bool Failed() const { return failed_; }

 protected:
  // Writes at the current position of the underlying medium.
  virtual size_t Put(const void* data, size_t count) = 0;
  // Moves the underlying medium to `offset` (record headers are patched).
  virtual bool SeekTo(uint32_t offset) = 0;

 private:
  bool WriteBackReference(uint32_t offset);

  uint32_t position_ = 0;
  bool failed_ = false;
  std::unordered_map<const PersistentObject*, uint32_t> written_;
};

// Writes into a seekable stdio file that the caller opened with mode "wb" and
// closes afterwards.
class FileObjectWriter final : public ObjectWriter {
 public:
  explicit FileObjectWriter(std::FILE* file) : file_(file) {}

 protected:
  size_t Put(const void* data, size_t count) override;
  bool SeekTo(uint32_t offset) override;

 private:
  std::FILE* file_;
};

// Writes into memory (tests, the web viewer, scratch encodings).
class MemoryObjectWriter final : public ObjectWriter {
 public:
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 protected:
  size_t Put(const void* data, size_t count) override;
  bool SeekTo(uint32_t offset) override;

 private:
  std::vector<uint8_t> bytes_;
  size_t cursor_ = 0;
};

}  // namespace qx
