// Drawing a scene in slices. Under software WebGL a model of a million
// triangles takes longer to draw than a page can wait; the page's thread
// would stall for the whole drawing. Split into slices, each part of the
// meshes' triangles is drawn on its own animation frame into an offscreen
// picture, which replaces the canvas's once complete. A sliced picture
// begins with a step that draws nothing: three.js hands the meshes' new
// buffers to WebGL then, and under software WebGL that copy alone can cost
// as much as a slice.
//
// A picture in one slice goes offscreen too and is copied onto the canvas:
// three.js compiles a material's shader once for offscreen pictures (linear
// output) and again for the canvas (sRGB output), and under software WebGL
// each compilation stalls the page for a tenth of a second or more. Drawn
// always offscreen, the scene's materials are compiled once, for every
// kind of picture (plain, sliced, antialiasing samples).
//
// WebGL's calls return before the drawing is done; the page's thread pays
// for the backlog later, at some moment when the browser waits for the
// picture, all of it at once. Reading back one pixel after every step of a
// large drawing makes each step wait for its own work, so its time is
// spent (and can be measured) in that step.
//
// The scene's meshes are drawn in phases: first the filled surfaces, then the
// edges and points, so that in the hidden-line modes every edge is tested
// against the whole depth picture, as in one drawing.
import * as THREE from 'three';

import { PictureAverage, pictureTarget } from './picture_average.mjs';

// Reads one pixel of `target`: WebGL must finish every drawing before it can
// answer. (WebGL's `finish` does not wait in every browser.)
function waitForDrawing(renderer, target) {
  renderer.readRenderTargetPixels(target, 0, 0, 1, 1, new Uint8Array(4));
}

export class SlicedDrawing {
  constructor() {
    this.copy = new PictureAverage(1);
    this.target = null;
    this.parts = 1;
    this.next = 0;
  }

  /** Starts a new picture in `parts` slices per phase. */
  restart(parts) {
    this.parts = Math.max(1, Math.floor(parts));
    this.next = 0;
  }

  /** The share of the scene's triangles the last step drew. */
  get drawnShare() { return this.share ?? 0; }

  /** Whether a sliced picture has been started and not finished. */
  get busy() { return this.next > 0; }

  /**
   * Draws the next slice into `target` (null: the canvas). `phases` lists
   * the model's objects drawn in each phase, `geometries` the meshes'
   * geometries whose triangles are shared out. Answers whether the picture
   * is complete.
   */
  step(renderer, scene, camera, { phases, geometries }, target, { wait = false } = {}) {
    const size = renderer.getDrawingBufferSize(new THREE.Vector2());
    const into = target ?? this.ownTarget(size.x, size.y);
    if (this.parts === 1) {
      renderer.setRenderTarget(into);
      renderer.render(scene, camera);
      if (wait) waitForDrawing(renderer, into);
      renderer.setRenderTarget(null);
      this.share = 1;
      if (!target) this.copy.draw(renderer, [into]);
      return true;
    }
    // Step 0 uploads, steps 1 … parts × phases draw.
    const slice = this.next - 1;
    const phase = Math.floor(slice / this.parts);
    this.drawPart(renderer, scene, camera, into, phases, phase, geometries, slice < 0 ? -1 : slice % this.parts);
    this.share = slice < 0 ? 0 : 1 / this.parts;
    if (++this.next <= this.parts * Math.max(1, phases.length)) return false;
    this.next = 0;
    if (!target) this.copy.draw(renderer, [into]);
    return true;
  }

  // Draws part `part` (−1: none) of the objects of phase `phase`.
  drawPart(renderer, scene, camera, into, phases, phase, geometries, part) {
    const hidden = phases.filter((_, k) => k !== phase).flat().filter((object) => object.visible);
    for (const object of hidden) object.visible = false;
    for (const geometry of geometries) {
      const share = 3 * Math.ceil((geometry.index?.count ?? 0) / 3 / this.parts);
      geometry.setDrawRange(part < 0 ? 0 : part * share, part < 0 ? 0 : share);
    }
    const autoClear = renderer.autoClear;
    renderer.autoClear = this.next <= 1;
    renderer.setRenderTarget(into);
    renderer.render(scene, camera);
    waitForDrawing(renderer, into);
    renderer.setRenderTarget(null);
    renderer.autoClear = autoClear;
    for (const geometry of geometries) geometry.setDrawRange(0, Infinity);
    for (const object of hidden) object.visible = true;
  }

  ownTarget(width, height) {
    if (this.target?.width !== width || this.target?.height !== height) {
      this.target?.dispose();
      this.target = pictureTarget(width, height);
    }
    return this.target;
  }

  dispose() {
    this.target?.dispose();
    this.copy.dispose();
  }
}
