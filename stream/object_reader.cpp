#include "stream/object_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/diagnostics.h"
#include "stream/byte_order.h"
#include "stream/registry.h"

namespace qx {

ObjectReader::~ObjectReader() = default;

size_t ObjectReader::ReadBytes(void* data, size_t count) {
  const size_t got = count ? Get(data, count) : 0;
  consumed_ += got;
  if (got < count) exhausted_ = true;
  return got;
}

bool ObjectReader::Skip(uint64_t count) {
  uint8_t scratch[4096];
  while (count > 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(count, sizeof scratch));
    if (ReadBytes(scratch, chunk) != chunk) return false;
    count -= chunk;
  }
  return true;
}

bool ObjectReader::ReadU32(uint32_t& value) {
  uint8_t bytes[4];
  if (ReadBytes(bytes, 4) != 4) return false;
  value = LoadU32(bytes);
  return true;
}

bool ObjectReader::ReadI32(int32_t& value) {
  uint32_t bits;
  if (!ReadU32(bits)) return false;
  value = static_cast<int32_t>(bits);
  return true;
}

bool ObjectReader::ReadF32(float& value) {
  uint32_t bits;
  if (!ReadU32(bits)) return false;
  value = BitsFloat(bits);
  return true;
}

bool ObjectReader::ReadString(char* buffer, size_t capacity) {
  uint32_t length;
  buffer[0] = 0;
  if (!ReadU32(length)) return false;
  const size_t kept = std::min<size_t>(length, capacity);
  if (ReadBytes(buffer, kept) != kept) return false;
  buffer[std::min(kept, capacity - 1)] = 0;
  return Skip(length - kept);
}

PersistentObject* ObjectReader::ReadBackReference(uint8_t first) {
  const uint32_t position = static_cast<uint32_t>(Tell() - 1);
  const int width = BackReferenceWidth(position);
  uint8_t rest[4] = {0, 0, 0, 0};
  if (ReadBytes(rest, width - 1) != static_cast<size_t>(width - 1)) return nullptr;
  const uint32_t offset = (first >> 2) + LoadU32(rest) * 64;
  auto it = objects_.find(offset);
  return it == objects_.end() ? nullptr : it->second;
}

const ClassDescriptor* ObjectReader::ResolveClass(uint32_t descriptorPosition, PersistentObject* read) {
  auto* descriptor = dynamic_cast<ClassDescriptor*>(read);
  if (descriptor == nullptr) return nullptr;
  const ClassDescriptor* registered = FindClass(descriptor->Identifier());
  if (registered == nullptr) {
    PrintMessage("\nWarning, class not found");
    return nullptr;
  }
  if (registered != descriptor) {
    // Resolve the class once per stream: later back references to this
    // descriptor record find the registered one directly.
    auto it = objects_.find(descriptorPosition);
    if (it != objects_.end() && it->second == descriptor) {
      it->second = const_cast<ClassDescriptor*>(registered);
      std::erase_if(descriptors_, [&](const auto& owned) { return owned.get() == descriptor; });
    }
  }
  return registered;
}

bool ObjectReader::ReadRecordHeader(uint8_t first, Header& header) {
  header = {static_cast<uint32_t>(Tell() - 1), 0, nullptr, nullptr};
  uint8_t rest[3];
  if (ReadBytes(rest, 3) != 3) return false;
  header.size = (first >> 2) | (uint32_t{rest[0]} << 6) | (uint32_t{rest[1]} << 14) | (uint32_t{rest[2]} << 22);
  if (header.size < 4) return false;
  if ((first & 3) == 2) {
    descriptors_.push_back(std::make_unique<ClassDescriptor>());
    header.object = descriptors_.back().get();
  } else {
    const uint32_t descriptorPosition = static_cast<uint32_t>(Tell());
    header.descriptor = ResolveClass(descriptorPosition, ReadObject());
    if (header.descriptor && header.descriptor->Factory()) {
      header.object = header.descriptor->Factory()();
      unclaimed_.emplace(header.object, std::unique_ptr<PersistentObject>(header.object));
    }
  }
  recordSize_ = header.size;
  return true;
}

PersistentObject* ObjectReader::ReadObject() {
  // Records nest (a matrix record holds the next matrix of its chain), so a
  // hostile stream could nest them until the stack runs out.
  if (depth_ >= kMaxNesting) return nullptr;
  ++depth_;
  PersistentObject* object = ReadNestedObject();
  --depth_;
  return object;
}

PersistentObject* ObjectReader::ReadNestedObject() {
  lastWasReference_ = false;
  uint8_t first;
  if (!ReadU8(first)) return nullptr;
  switch (first & 3) {
    case 3:
      return nullptr;
    case 0:
      lastWasReference_ = true;
      return ReadBackReference(first);
    default:
      break;
  }
  Header header;
  if (!ReadRecordHeader(first, header)) return nullptr;
  PersistentObject* object = header.object;
  if (object) {
    // A failed body stays the stream's: other records may still refer to
    // what it read.
    if (!object->Read(*this)) return nullptr;
    objects_[header.position] = object;
  }
  // Bytes the body did not consume (or a whole record of an unknown class).
  // A short file still yields the object: a truncated scene loads what it has.
  const uint64_t end = uint64_t{header.position} + header.size;
  if (end > Tell()) Skip(end - Tell());
  lastWasReference_ = false;
  return object;
}

PersistentObject* ObjectReader::ReadObjectHeader() {
  uint8_t first;
  if (!ReadU8(first)) return nullptr;
  if ((first & 3) == 3) return nullptr;
  if ((first & 3) == 0) return ReadBackReference(first);
  Header header;
  if (!ReadRecordHeader(first, header)) return nullptr;
  if ((first & 3) == 1) Claim(header.object);
  return header.object;
}

bool ObjectReader::Claim(const PersistentObject* object) {
  auto it = unclaimed_.find(object);
  if (it == unclaimed_.end()) return false;
  it->second.release();
  unclaimed_.erase(it);
  return true;
}

bool MemoryObjectReader::Skip(uint64_t count) {
  const size_t available = bytes_.size() - cursor_;
  const size_t skipped = static_cast<size_t>(std::min<uint64_t>(count, available));
  cursor_ += skipped;
  CountSkipped(skipped, count);
  return skipped == count;
}

size_t MemoryObjectReader::Get(void* data, size_t count) {
  const size_t got = std::min(count, bytes_.size() - cursor_);
  if (got == 0) return 0;
  std::memcpy(data, bytes_.data() + cursor_, got);
  cursor_ += got;
  return got;
}

size_t FileObjectReader::Get(void* data, size_t count) { return std::fread(data, 1, count, file_); }

}  // namespace qx
