#include "stream/registry.h"

#include <mutex>
#include <unordered_map>

#include "common/diagnostics.h"

namespace qx {
namespace {

// Filled once by the window thread at start-up, read by loader threads.
struct Registry {
  std::mutex mutex;
  std::unordered_map<uint32_t, const ClassDescriptor*> classes;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterClass(const ClassDescriptor& descriptor) {
  Registry& registry = TheRegistry();
  const ClassDescriptor* present = nullptr;
  {
    std::lock_guard lock(registry.mutex);
    auto [it, inserted] = registry.classes.try_emplace(descriptor.Identifier(), &descriptor);
    if (inserted || it->second == &descriptor) return;
    present = it->second;
  }
  ShowError("\nWarning in class (%s-%s)", present->Name(), descriptor.Name());
}

const ClassDescriptor* FindClass(uint32_t identifier) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.classes.find(identifier);
  return it == registry.classes.end() ? nullptr : it->second;
}

void ClearClassRegistry() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.classes.clear();
}

}  // namespace qx
