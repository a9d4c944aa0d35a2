#include "stream/object_writer.h"

#include <cstring>

#include "stream/byte_order.h"

namespace qx {

size_t ObjectWriter::WriteBytes(const void* data, size_t count) {
  const size_t written = Put(data, count);
  position_ += static_cast<uint32_t>(written);
  if (written != count) failed_ = true;
  return written;
}

bool ObjectWriter::WriteU32(uint32_t value) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  return WriteBytes(bytes, 4) == 4;
}

bool ObjectWriter::WriteF32(float value) { return WriteU32(FloatBits(value)); }

bool ObjectWriter::WriteString(std::string_view text) {
  const uint32_t length = static_cast<uint32_t>(text.size()) + 1;
  return WriteU32(length) && WriteBytes(text.data(), text.size()) == text.size() && WriteU8(0);
}

bool ObjectWriter::WriteBackReference(uint32_t offset) {
  const int width = BackReferenceWidth(position_);
  const uint32_t value = offset << 2;
  uint8_t bytes[4];
  StoreU32(bytes, value);
  return WriteBytes(bytes, width) == static_cast<size_t>(width);
}

bool ObjectWriter::WriteObject(PersistentObject* object) {
  if (object == nullptr) return WriteU8(0x03);
  if (auto it = written_.find(object); it != written_.end()) return WriteBackReference(it->second);

  const ClassDescriptor* descriptor = object->GetClass();
  const uint32_t kind = descriptor ? 1 : 2;
  const uint32_t start = position_;
  // Entered before the body, so objects inside it that point back to this one
  // are written as back references.
  written_.emplace(object, start);
  WriteU32(0);  // header placeholder, patched below
  // Descriptors are immutable statics; writing one does not change it.
  if (descriptor) WriteObject(const_cast<ClassDescriptor*>(descriptor));
  if (!object->Write(*this)) failed_ = true;

  const uint32_t end = position_;
  uint8_t header[4];
  StoreU32(header, ((end - start) << 2) | kind);
  if (SeekTo(start)) {
    Put(header, 4);
    SeekTo(end);
  }
  return true;
}

size_t FileObjectWriter::Put(const void* data, size_t count) {
  return std::fwrite(data, 1, count, file_);
}

bool FileObjectWriter::SeekTo(uint32_t offset) {
  return std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0;
}

size_t MemoryObjectWriter::Put(const void* data, size_t count) {
  if (cursor_ + count > bytes_.size()) bytes_.resize(cursor_ + count);
  std::memcpy(bytes_.data() + cursor_, data, count);
  cursor_ += count;
  return count;
}

bool MemoryObjectWriter::SeekTo(uint32_t offset) {
  if (offset > bytes_.size()) return false;
  cursor_ = offset;
  return true;
}

}  // namespace qx
