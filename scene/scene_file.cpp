#include "scene/scene_file.h"

#include <cstdio>
#include <filesystem>

#include <zlib.h>

#include "scene/object_reader.h"
#include "scene/object_writer.h"
#include "scene/scene_model.h"

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

}  // namespace

std::unique_ptr<QXScene> ReadScene(ObjectReader& in) {
  PersistentObject* object = in.ReadObject();
  if (auto* scene = dynamic_cast<QXScene*>(object)) return std::unique_ptr<QXScene>(scene);
  // Another top-level object is of no use; class descriptors belong to the
  // stream, anything else to us.
  if (object && !dynamic_cast<ClassDescriptor*>(object)) delete object;
  return nullptr;
}

bool SaveScene(QXScene& scene, const std::string& path, bool pack) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  FileObjectWriter out(file);
  const bool written = out.WriteObject(&scene) && !std::ferror(file);
  if (std::fclose(file) != 0 || !written) return false;
  if (!pack) return true;
  // The temporary lives beside the target so that the rename never crosses
  // file systems; the plain file is only replaced once the packed one is
  // complete.
  const std::string packed = path + ".tmp.gz";
  std::error_code error;
  if (!GzipFile(path, packed)) {
    std::filesystem::remove(packed, error);
    return true;
  }
  std::filesystem::rename(packed, path, error);
  if (error) std::filesystem::remove(packed, error);
  return true;
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
