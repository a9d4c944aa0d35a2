#include "app/fly_through.h"

#include <cmath>

namespace qx {
namespace {

// One rate: `forward` pushes it up, `backward` down, both accelerating twice
// as fast while the rate still points the other way; with neither it decays
// by `decay`, snapping to 0 within that step.
float Accelerate(float rate, bool forward, bool backward, float step, float decay) {
  const float limit = FlyThrough::kLimit;
  if (forward) return rate < limit ? rate + (rate < 0 ? 2 * step : step) : limit;
  if (backward) return -rate < limit ? rate - (rate > 0 ? 2 * step : step) : -limit;
  if (std::fabs(rate) <= decay) return 0;
  return rate > 0 ? rate - decay : rate + decay;
}

// `point` turned about the axis through `centre` by `angle` radians.
Vector TurnAbout(Vector point, Vector centre, Vector axis, float angle) {
  const Matrix rotation = RotationMatrix(axis, angle);
  return TransformPoint(rotation, point - centre) + centre;
}

}  // namespace

void FlyThrough::UpdateRates(const FlyKeys& keys) {
  speed = Accelerate(speed, keys.up, keys.down, 0.0008f, 0.0016f);
  turn = Accelerate(turn, keys.left, keys.right, 0.0016f, 0.0033333332f);
  pitch = Accelerate(pitch, keys.tiltUp, keys.tiltDown, 0.0016f, 0.0033333332f);
}

bool FlyThrough::Move(Camera& camera) const {
  const Vector eye = camera.eye, target = camera.target;
  const Vector step = (camera.target - camera.eye) * speed;
  camera.eye = camera.eye + step;
  camera.target = camera.target + step;
  camera.goal = camera.goal + step;
  if (turn != 0 || pitch != 0) {
    const Vector up{0, 1, 0};
    const Vector side = LookAtBasis(camera.eye, camera.target).side;
    camera.target = TurnAbout(TurnAbout(camera.target, camera.eye, up, turn), camera.eye, side, pitch);
    camera.goal = TurnAbout(TurnAbout(camera.goal, camera.eye, up, turn), camera.eye, side, pitch);
  }
  return !(camera.eye == eye) || !(camera.target == target);
}

}  // namespace qx
