#include "fan/connectivity.h"
#include "fan/dense_connectivity.h"
#include "fan/dense_geometry.h"
#include "fan/geometry_coders.h"
#include "fan/predictors.h"

namespace qx {

std::unique_ptr<ConnectivityCoder> MakeConnectivityCoder(const CoderChoice& choice, QXPck& mesh) {
  if (choice.connectMode == 0) return std::make_unique<ConnectivityRaw>();
  if (choice.connectMode == kConnectModeDense) return std::make_unique<ConnectivityDense>(mesh);
  return std::make_unique<ConnectivityModelo2>(mesh);
}

std::unique_ptr<Predictor> MakePredictor(int32_t predMode) {
  if (predMode == 1) return std::make_unique<GPButterfly>();
  return std::make_unique<GPCentroide>();
}

std::unique_ptr<GeometryCoder> MakeGeometryCoder(const CoderChoice& choice, QXPck& mesh) {
  switch (choice.geoMode) {
    case 1:
      return std::make_unique<GeoQuantum>(mesh, MakePredictor(choice.predMode), choice.bitsError);
    case 2:
      return std::make_unique<GeoPolar>(mesh, MakePredictor(choice.predMode), choice.bitsError);
    case 3:
      return std::make_unique<GeoPolarAdaptativo>(mesh, MakePredictor(choice.predMode), choice.bitsError);
    case kGeoModeDense:
      return std::make_unique<GeoDense>(mesh, MakePredictor(choice.predMode), choice.bitsError);
    default:
      return std::make_unique<GeometryRaw>();
  }
}

}  // namespace qx
