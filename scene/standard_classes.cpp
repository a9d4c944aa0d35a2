#include "fan/connectivity.h"
#include "fan/geometry_coders.h"
#include "fan/pck.h"
#include "fan/predictors.h"
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
  RegisterClass(ConnectivityModelo2::kClass);
  RegisterClass(ConnectivityRaw::kClass);
  RegisterClass(GeoQuantum::kClass);
  RegisterClass(GeoPolarAdaptativo::kClass);
  RegisterClass(GeoPolar::kClass);
  RegisterClass(GeometryRaw::kClass);
  RegisterClass(GPButterfly::kClass);
  RegisterClass(GPCentroide::kClass);
}

}  // namespace qx
