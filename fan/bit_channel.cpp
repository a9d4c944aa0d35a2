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

bool BitChannel::FetchWord() { return in_->ReadU32(word_); }

bool BitChannel::Finish() { return out_->WriteU32(word_); }

}  // namespace qx
