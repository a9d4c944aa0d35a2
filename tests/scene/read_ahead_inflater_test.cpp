// Reading files a block ahead: every byte arrives once and in order across
// block boundaries, packed or plain, at any read size; the end is reported
// where the data ends; a reader dropped early stops its thread.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "scene/read_ahead_inflater.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

constexpr size_t kBlock = size_t{1} << 18;  // the inflater's block size

// Bytes no two blocks share at the same offset, so a block read twice or
// skipped shows.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 12345;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string Packed(const ScratchFolder& scratch, const std::string& name, const std::string& bytes) {
  const std::string path = (scratch.Path() / name).string();
  gzFile gz = gzopen(path.c_str(), "wb6");
  if (gz == nullptr) return "";
  if (!bytes.empty()) gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size()));
  gzclose(gz);
  return path;
}

// Reads everything in pieces of `piece` bytes; also checks that reading on
// at the end gives nothing.
std::string ReadAll(const std::string& path, size_t piece) {
  gzFile file = gzopen(path.c_str(), "rb");
  if (file == nullptr) return "<unopened>";
  ReadAheadInflater inflater(file);
  std::string all;
  std::vector<char> buffer(piece);
  for (;;) {
    const size_t got = inflater.Read(buffer.data(), piece);
    all.append(buffer.data(), got);
    if (got < piece) break;
  }
  char extra;
  if (inflater.Read(&extra, 1) != 0) all += "<more after the end>";
  return all;
}

TEST(ReadAheadInflater, DeliversEveryByteOnceAtAnyReadSize) {
  ScratchFolder scratch;
  // Empty, short, exactly two blocks, and two and a half blocks.
  for (size_t size : {size_t{0}, size_t{100}, 2 * kBlock, 2 * kBlock + kBlock / 2}) {
    const std::string bytes = Pattern(size);
    const std::string plain = scratch.Write("plain", bytes);
    const std::string packed = Packed(scratch, "packed.gz", bytes);
    for (const std::string& path : {plain, packed})
      for (size_t piece : {size_t{1}, size_t{4}, size_t{4093}, kBlock, 3 * kBlock}) {
        if (piece == 1 && size > kBlock) continue;  // byte by byte adds nothing past a block
        EXPECT_EQ(ReadAll(path, piece), bytes) << path << " size " << size << " piece " << piece;
      }
  }
}

TEST(ReadAheadInflater, DamagedStreamEndsWhereTheGoodDataEnds) {
  ScratchFolder scratch;
  const std::string bytes = Pattern(kBlock + 1000);
  std::string packed = ReadWholeFile(Packed(scratch, "whole.gz", bytes));
  ASSERT_GT(packed.size(), 100u);
  packed.resize(packed.size() / 2);
  const std::string cut = ReadAll(scratch.Write("cut.gz", packed), 4096);
  EXPECT_LT(cut.size(), bytes.size());
  EXPECT_EQ(cut, bytes.substr(0, cut.size()));
}

TEST(ReadAheadInflater, ReaderDroppedMidFileStopsItsThread) {
  ScratchFolder scratch;
  const std::string bytes = Pattern(5 * kBlock);
  const std::string path = scratch.Write("long", bytes);
  for (size_t stopAfter : {size_t{0}, size_t{10}, kBlock + 7}) {
    gzFile file = gzopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    ReadAheadInflater inflater(file);
    std::string start(stopAfter, '\0');
    ASSERT_EQ(inflater.Read(start.data(), stopAfter), stopAfter);
    EXPECT_EQ(start, bytes.substr(0, stopAfter));
  }  // each destructor joins a thread that may be waiting for room
}

}  // namespace
}  // namespace qx
