// Target easing: the point the camera looks at (the target) follows the
// point it should look at (the goal) smoothly. Every 40 ms tick it moves 5 %
// of the remaining way, and once it is within 0.1 of the goal it lands on
// it. Orbiting and zooming turn about the goal and set the target at once;
// "Goto selected" only moves the goal, so the view glides there.
import { realClock } from '../paced_feed.mjs';

export const TICK_MS = 40;
const SHARE_PER_TICK = 0.05;
const LANDING_DISTANCE_SQUARED = 0.01;

/**
 * One tick: moves `target` towards `goal` (both {x, y, z}, changed in
 * place). True when the target moved, false when it was already there.
 */
export function easeStep(target, goal) {
  const dx = goal.x - target.x, dy = goal.y - target.y, dz = goal.z - target.z;
  const squared = dx * dx + dy * dy + dz * dz;
  if (squared === 0) return false;
  if (squared < LANDING_DISTANCE_SQUARED) Object.assign(target, { x: goal.x, y: goal.y, z: goal.z });
  else Object.assign(target, { x: target.x + SHARE_PER_TICK * dx, y: target.y + SHARE_PER_TICK * dy,
    z: target.z + SHARE_PER_TICK * dz });
  return true;
}

/**
 * Runs the ticks while the target differs from the goal, calling `onMove`
 * after each step; the timer stops once the target has landed, so an idle
 * view costs nothing.
 */
export class TargetEasing {
  constructor(target, goal, onMove, clock = realClock) {
    this.target = target;
    this.goal = goal;
    this.onMove = onMove;
    this.clock = clock;
    this.timer = null;
  }

  /** Starts the ticks (call after the goal moved); nothing when they run already. */
  start() {
    if (this.timer === null) this.timer = this.clock.setTimeout(() => this.tick(), TICK_MS);
  }

  /** Stops the ticks and leaves the target where it is. */
  stop() {
    if (this.timer !== null) this.clock.clearTimeout(this.timer);
    this.timer = null;
  }

  get running() { return this.timer !== null; }

  tick() {
    this.timer = null;
    if (!easeStep(this.target, this.goal)) return;
    this.onMove();
    this.start();
  }
}
