// Idle anti-aliasing: nine pictures of the scene, each moved by a third of a
// pixel on a 3 × 3 grid, averaged. The pictures are drawn over several
// animation frames (one sample, or a slice of one, per call), so that no
// single task costs more than an ordinary frame; the canvas keeps the plain
// picture until the average is ready.
import * as THREE from 'three';

import { PictureAverage, pictureTarget } from './picture_average.mjs';

const GRID = 3;
// Sample offsets in pixels: −1/3, 0, +1/3 on each axis.
const OFFSETS = Array.from({ length: GRID * GRID }, (_, k) => [(k % GRID) - 1, Math.floor(k / GRID) - 1]
  .map((step) => step / GRID));

export class Antialiaser {
  constructor() {
    this.average = new PictureAverage(OFFSETS.length);
    this.targets = [];
    this.next = 0;
  }

  /** Forgets the samples drawn so far: the next step starts a new average. */
  restart() { this.next = 0; }

  /**
   * Works on the next sample: `draw(target)` draws the scene, or the next
   * part of it, into `target` and answers whether that picture is complete.
   * After the last sample the average goes onto the canvas. Answers whether
   * it did.
   */
  step(renderer, camera, draw) {
    const size = renderer.getDrawingBufferSize(new THREE.Vector2());
    if (this.next === 0) this.prepareTargets(size.x, size.y);
    const [dx, dy] = OFFSETS[this.next];
    // A view offset moves the projection by fractions of a pixel too.
    camera.setViewOffset(size.x, size.y, dx, dy, size.x, size.y);
    const complete = draw(this.targets[this.next]);
    camera.clearViewOffset();
    if (!complete || ++this.next < OFFSETS.length) return false;
    this.next = 0;
    this.average.draw(renderer, this.targets);
    return true;
  }

  prepareTargets(width, height) {
    if (this.targets.length && this.targets[0].width === width && this.targets[0].height === height) return;
    this.disposeTargets();
    this.targets = OFFSETS.map(() => pictureTarget(width, height));
  }

  disposeTargets() {
    for (const target of this.targets) target.dispose();
    this.targets = [];
  }

  dispose() {
    this.disposeTargets();
    this.average.dispose();
  }
}
