#include "fan/pck.h"
#include "scene/registry.h"
#include "scene/scene_model.h"

namespace qx {

void RegisterStandardClasses() {
  // The order is fixed: a clash of identifiers keeps the first one.
  RegisterClass(QXPck::kClass);
  RegisterClass(QXScene::kClass);
  RegisterClass(QXMatrix::kClass);
  RegisterClass(QXMaterial::kClass);
  RegisterClass(QXHier::kClass);
}

}  // namespace qx
