#include "fan/connectivity.h"
#include "fan/dense_connectivity.h"
#include "fan/dense_geometry.h"
#include "fan/geometry_coders.h"
#include "fan/pck.h"
#include "fan/predictors.h"
#include "scene/scene_model.h"
#include "stream/registry.h"

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
  // Our own coders, after the thirteen classes every reader knows.
  RegisterClass(ConnectivityDense::kClass);
  RegisterClass(ConnectivityDense::kSecondVersion);
  RegisterClass(ConnectivityDense::kFirstVersion);
  RegisterClass(GeoDense::kClass);
  RegisterClass(GeoDense::kFirstVersion);
}

}  // namespace qx
