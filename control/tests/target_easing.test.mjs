// The camera target's easing on a controlled clock: 5 % of the way per
// 40 ms tick, landing on the goal within 0.1, and no timer once landed.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { TargetEasing, easeStep } from '../web/target_easing.mjs';
import { FakeClock } from './fake_clock.mjs';

test('the target eases to its goal and the ticks stop there', () => {
  const clock = new FakeClock();
  const target = { x: 0, y: 0, z: 0 };
  const goal = { x: 10, y: 0, z: 0 };
  const moves = [];
  const easing = new TargetEasing(target, goal, () => moves.push([clock.now(), target.x]), clock);
  easing.start();
  easing.start();
  assert.equal(clock.pending, 1, 'a second start adds no timer');
  clock.advance(39);
  assert.equal(moves.length, 0);
  clock.advance(1);
  assert.deepEqual(moves, [[40, 0.5]]);
  clock.advance(40);
  assert.ok(Math.abs(moves[1][1] - 0.975) < 1e-12);
  // 10 × 0.95^89 ≈ 0.104 is still outside 0.1, 10 × 0.95^90 ≈ 0.099 inside:
  // the 91st tick lands.
  clock.advance(10000);
  assert.equal(moves.length, 91);
  assert.deepEqual(moves.at(-1), [91 * 40, 10]);
  assert.ok(10 - moves.at(-2)[1] < 0.1 && 10 - moves.at(-3)[1] >= 0.1);
  assert.deepEqual(target, goal);
  assert.equal(clock.pending, 0, 'nothing ticks once the target is on its goal');

  goal.y = 1;
  easing.start();
  clock.advance(40);
  assert.equal(target.y, 0.05);
  easing.stop();
  clock.advance(400);
  assert.equal(target.y, 0.05, 'a stopped easing leaves the target where it is');
});

test('one step: nothing when on the goal, straight onto it when close', () => {
  const target = { x: 1, y: 2, z: 3 };
  assert.equal(easeStep(target, { x: 1, y: 2, z: 3 }), false);
  assert.equal(easeStep(target, { x: 1.05, y: 2.05, z: 3.05 }), true);
  assert.deepEqual(target, { x: 1.05, y: 2.05, z: 3.05 });
});
