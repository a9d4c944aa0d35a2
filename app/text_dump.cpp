#include "app/text_dump.h"

#include <cassert>
#include <cstdlib>

#include "common/settings.h"
#include "fan/fan_walk.h"

namespace qx {

void DumpScene(const QXScene& scene, std::FILE* file) {
  assert(!scene.loading);
  int number = 0;
  for (const QXPck* mesh = scene.meshes; mesh; mesh = mesh->next, ++number) {
    std::fprintf(file, "\n\nMesh %d {\n%d,%d", number, mesh->vertexCount, mesh->splitIndex);
    // Vertex 0 is the dummy and has no record: from the top down to 1.
    DumpText(*mesh, file, 0, mesh->vertexCount - 1);
    std::fputs("\n}", file);
  }
}

namespace {

// The dump collected in memory, so that the file can be written in one go
// (the record dump writes to a stream). False when memory runs out.
bool DumpToText(const QXScene& scene, std::string& text) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  if (!stream) return false;
  DumpScene(scene, stream);
  const bool ok = !std::ferror(stream) && std::fclose(stream) == 0;
  if (ok) text.assign(buffer, size);
  std::free(buffer);
  return ok;
}

}  // namespace

bool WriteTextDump(const std::string& path, const QXScene& scene) {
  std::string text;
  return DumpToText(scene, text) && WriteFileAtomically(path, text);
}

}  // namespace qx
