#include "fan/bit_channel.h"

#include "stream/object_reader.h"
#include "stream/object_writer.h"

namespace qx {

bool BitChannel::FlushWord() {
  position_ = 0;
  const bool written = out_->WriteU32(word_);
  word_ = 0;
  return written;
}

bool BitChannel::FetchWord() {
  uint32_t word = 0;
  if (!in_->ReadU32(word)) return false;
  pending_ |= uint64_t{ReverseBits(word)} << (32 - unread_);
  unread_ += 32;
  totalBits_ += 32;
  return true;
}

bool BitChannel::Finish() { return out_->WriteU32(word_); }

}  // namespace qx
