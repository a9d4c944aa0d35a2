#include "view/gl_extensions.h"

#include <array>
#include <type_traits>

namespace qx {
namespace {

// Stores a fetched pointer in one member, cast to the member's own type.
template <auto Member>
void Store(GLExtensions& table, GLProc proc) {
  using Pointer = std::remove_reference_t<decltype(table.*Member)>;
  table.*Member = reinterpret_cast<Pointer>(proc);
}

struct EntryPoint {
  const char* name;
  void (*store)(GLExtensions&, GLProc);
};

constexpr std::array<EntryPoint, 25> kEntryPoints = {{
    {"glBindBufferARB", &Store<&GLExtensions::bindBufferARB>},
    {"glGenBuffersARB", &Store<&GLExtensions::genBuffersARB>},
    {"glBufferDataARB", &Store<&GLExtensions::bufferDataARB>},
    {"glDeleteBuffersARB", &Store<&GLExtensions::deleteBuffersARB>},
    {"glMapBufferARB", &Store<&GLExtensions::mapBufferARB>},
    {"glUnmapBufferARB", &Store<&GLExtensions::unmapBufferARB>},
    {"glLockArraysEXT", &Store<&GLExtensions::lockArraysEXT>},
    {"glUnlockArraysEXT", &Store<&GLExtensions::unlockArraysEXT>},
    {"glMultiDrawElementsEXT", &Store<&GLExtensions::multiDrawElementsEXT>},
    {"glGenFencesNV", &Store<&GLExtensions::genFencesNV>},
    {"glDeleteFencesNV", &Store<&GLExtensions::deleteFencesNV>},
    {"glSetFenceNV", &Store<&GLExtensions::setFenceNV>},
    {"glTestFenceNV", &Store<&GLExtensions::testFenceNV>},
    {"glFinishFenceNV", &Store<&GLExtensions::finishFenceNV>},
    {"glIsFenceNV", &Store<&GLExtensions::isFenceNV>},
    {"glGetFenceivNV", &Store<&GLExtensions::getFenceivNV>},
    {"glFlushVertexArrayRangeNV", &Store<&GLExtensions::flushVertexArrayRangeNV>},
    {"glVertexArrayRangeNV", &Store<&GLExtensions::vertexArrayRangeNV>},
    {"wglAllocateMemoryNV", &Store<&GLExtensions::allocateMemoryNV>},
    {"wglFreeMemoryNV", &Store<&GLExtensions::freeMemoryNV>},
    {"glGenProgramsARB", &Store<&GLExtensions::genProgramsARB>},
    {"glDeleteProgramsARB", &Store<&GLExtensions::deleteProgramsARB>},
    {"glProgramStringARB", &Store<&GLExtensions::programStringARB>},
    {"glBindProgramARB", &Store<&GLExtensions::bindProgramARB>},
    {"glProgramEnvParameter4fARB", &Store<&GLExtensions::programEnvParameter4fARB>},
}};

constexpr std::array<const char*, kEntryPoints.size()> MakeNames() {
  std::array<const char*, kEntryPoints.size()> names{};
  for (size_t i = 0; i < kEntryPoints.size(); ++i) names[i] = kEntryPoints[i].name;
  return names;
}

constexpr std::array<const char*, kEntryPoints.size()> kNames = MakeNames();

}  // namespace

std::span<const char* const> ExtensionEntryPointNames() { return kNames; }

GLExtensions LoadExtensions(const std::function<GLProc(const char* name)>& lookup) {
  GLExtensions table;
  for (const EntryPoint& entry : kEntryPoints) entry.store(table, lookup(entry.name));
  return table;
}

}  // namespace qx
