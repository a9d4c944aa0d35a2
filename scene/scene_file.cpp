#include "scene/scene_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <filesystem>

#include <zlib.h>

#include "scene/gz_object_reader.h"
#include "scene/scene_model.h"
#include "stream/object_writer.h"

namespace qx {
namespace {

// Packs `path` with gzip into `packed`; false on any failure.
bool GzipFile(const std::string& path, const std::string& packed) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return false;
  gzFile out = gzopen(packed.c_str(), "wb9");
  bool ok = out != nullptr;
  char block[256];
  size_t got;
  while (ok && (got = std::fread(block, 1, sizeof block, in)) > 0)
    ok = gzwrite(out, block, static_cast<unsigned>(got)) == static_cast<int>(got);
  ok = !std::ferror(in) && ok;
  std::fclose(in);
  if (out && gzclose(out) != Z_OK) ok = false;
  return ok;
}

// A name beside `path` that no other save in this process or another one
// uses at the same time.
std::string TemporaryBeside(const std::string& path, const char* suffix) {
  static std::atomic<unsigned> counter{0};
  return path + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + suffix;
}

// A save's message: what failed and the system's reason.
std::string Because(const std::string& what, int cause) { return what + ": " + std::strerror(cause); }

bool WritePlain(QXScene& scene, const std::string& path, std::string& failure) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    failure = Because("cannot create a file in its folder", errno);
    return false;
  }
  FileObjectWriter out(file);
  const bool objectWritten = out.WriteObject(&scene) && !out.Failed();
  const bool streamFailed = std::ferror(file) != 0;
  const int writeCause = errno;
  const bool closed = std::fclose(file) == 0;
  const int closeCause = errno;
  if (streamFailed || !closed) {
    failure = Because("cannot write the file", streamFailed ? writeCause : closeCause);
    return false;
  }
  if (!objectWritten) failure = "the scene holds an object that cannot be stored";
  return objectWritten;
}

}  // namespace

std::unique_ptr<QXScene> ReadScene(ObjectReader& in) {
  return std::unique_ptr<QXScene>(in.ReadNewObjectAs<QXScene>());
}

bool SaveScene(QXScene& scene, const std::string& path, bool pack, std::string* failure) {
  // Everything is written beside the target first and renamed over it at the
  // end, so a failed or interrupted save never leaves a half-written file and
  // never touches the file that was there.
  std::string why;
  std::error_code ignored;
  const std::string plain = TemporaryBeside(path, ".qx4");
  if (!WritePlain(scene, plain, why)) {
    std::filesystem::remove(plain, ignored);
    if (failure) *failure = why;
    return false;
  }
  std::string finished = plain;
  if (pack) {
    const std::string packed = TemporaryBeside(path, ".gz");
    if (GzipFile(plain, packed)) {
      std::filesystem::remove(plain, ignored);
      finished = packed;
    } else {
      // Packing failed: the plain stream is still a valid scene file.
      std::filesystem::remove(packed, ignored);
    }
  }
  // The rename's own error decides: the clean-up below must not clear it.
  std::error_code renameError;
  std::filesystem::rename(finished, path, renameError);
  if (!renameError) return true;
  std::filesystem::remove(finished, ignored);
  if (failure) *failure = "cannot put the file in its place: " + renameError.message();
  return false;
}

std::unique_ptr<QXScene> LoadScene(const std::string& path) {
  auto in = GzObjectReader::Open(path);
  return in ? ReadScene(*in) : nullptr;
}

std::vector<uint8_t> EncodeScene(QXScene& scene) {
  MemoryObjectWriter out;
  out.WriteObject(&scene);
  return out.Bytes();
}

std::unique_ptr<QXScene> DecodeScene(std::span<const uint8_t> bytes) {
  MemoryObjectReader in(bytes);
  return ReadScene(in);
}

}  // namespace qx
