#include "scene/scene_commands.h"

#include <cmath>
#include <numbers>

#include "common/settings.h"
#include "scene/scene_model.h"

namespace qx {
namespace {

// +90 degrees about one axis, as 16 column-major floats: X takes y to z,
// Y takes z to x, Z takes x to y.
Matrix QuarterTurn(Axis axis) {
  const float angle = std::numbers::pi_v<float> / 2;
  const float c = std::cos(angle), s = std::sin(angle);
  Matrix r = IdentityMatrix();
  switch (axis) {
    case Axis::kX:
      r[5] = c, r[10] = c, r[6] = s, r[9] = -s;
      break;
    case Axis::kY:
      r[0] = c, r[10] = c, r[2] = -s, r[8] = s;
      break;
    case Axis::kZ:
      r[0] = c, r[5] = c, r[1] = s, r[4] = -s;
      break;
  }
  return r;
}

}  // namespace

void RotateScene(QXScene& scene, Axis axis) {
  const Vector centre = scene.Box().centre;
  const Matrix turn = MatrixProduct(MatrixProduct(TranslationMatrix(centre * -1.0f), QuarterTurn(axis)),
                                    TranslationMatrix(centre));
  for (QXHier* root = scene.roots; root; root = root->nextSibling) {
    const Matrix own = root->matrix ? root->matrix->values : IdentityMatrix();
    root->matrix = scene.FindOrAddMatrix(MatrixProduct(own, turn));
  }
  scene.UpdateBox();
}

void ApplySaveSettings(const SaveDialogSettings& save, QXScene& scene) {
  scene.BitsError = save.bitsError > 0 ? std::ldexp(1.0f, -save.bitsError) : 0.0f;
  scene.GeoMode = scene.BitsError > 0 ? save.geoMode : 0;
  scene.PredMode = save.predMode;
  scene.ConnectMode = save.connectMode;
}

}  // namespace qx
