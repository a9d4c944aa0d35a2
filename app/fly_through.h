// Keyboard fly-through of the scene window: the arrow keys fly forwards,
// backwards and turn, A and Z tilt the view down and up. Every 40 ms tick
// the rates accelerate towards their limits while a key is held and decay
// towards zero when it is released, so the flight starts and stops smoothly.
#pragma once

#include "view/camera.h"

namespace qx {

// The keys held during one tick.
struct FlyKeys {
  bool up = false, down = false, left = false, right = false;
  bool tiltUp = false;    // 'Z'
  bool tiltDown = false;  // 'A'
};

struct FlyThrough {
  // Largest speed (fraction of the eye–target distance per tick) and turn
  // and pitch rates (radians per tick).
  static constexpr float kLimit = 0.04f;

  float speed = 0;  // forward speed
  float turn = 0;   // turn rate about the world's up axis
  float pitch = 0;  // pitch rate about the view's horizontal axis

  // Updates the three rates from the keys held.
  void UpdateRates(const FlyKeys& keys);
  // Moves eye, target and goal by the speed and turns target and goal about
  // the eye. Returns whether eye or target changed.
  bool Move(Camera& camera) const;
};

}  // namespace qx
