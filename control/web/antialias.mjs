// Idle anti-aliasing: nine pictures of the scene, each moved by a third of a
// pixel on a 3 × 3 grid, averaged. One picture is drawn per call, so the
// work spreads over nine animation frames and no single task costs more
// than an ordinary frame; the canvas keeps the plain picture until the
// average is ready.
import * as THREE from 'three';

const GRID = 3;
// Sample offsets in pixels: −1/3, 0, +1/3 on each axis.
const OFFSETS = Array.from({ length: GRID * GRID }, (_, k) => [(k % GRID) - 1, Math.floor(k / GRID) - 1]
  .map((step) => step / GRID));

const AVERAGE_SHADER = {
  uniforms: { samples: { value: [] } },
  vertexShader: 'void main() { gl_Position = vec4(position.xy, 0.0, 1.0); }',
  fragmentShader: `
    uniform sampler2D samples[${OFFSETS.length}];
    void main() {
      ivec2 pixel = ivec2(gl_FragCoord.xy);
      vec4 sum = vec4(0.0);
      ${OFFSETS.map((_, k) => `sum += texelFetch(samples[${k}], pixel, 0);`).join('\n      ')}
      gl_FragColor = sum / ${OFFSETS.length}.0;
      // The samples come back as linear colour; the canvas wants the output
      // colour space, as a direct drawing gets it (without this the averaged
      // picture comes out dark).
      #include <colorspace_fragment>
    }`,
};

export class Antialiaser {
  constructor() {
    this.quad = new THREE.Mesh(new THREE.PlaneGeometry(2, 2), new THREE.ShaderMaterial(AVERAGE_SHADER));
    this.quad.frustumCulled = false;
    this.scene = new THREE.Scene().add(this.quad);
    this.camera = new THREE.Camera();
    this.targets = [];
    this.next = 0;
  }

  /** Forgets the samples drawn so far: the next step starts a new average. */
  restart() { this.next = 0; }

  /**
   * Draws the next sample of `scene` through `camera`; after the last one
   * the average goes onto the renderer's canvas. Answers whether it did.
   */
  step(renderer, scene, camera) {
    const size = renderer.getDrawingBufferSize(new THREE.Vector2());
    if (this.next === 0) this.prepareTargets(size.x, size.y);
    const [dx, dy] = OFFSETS[this.next];
    // A view offset moves the projection by fractions of a pixel too.
    camera.setViewOffset(size.x, size.y, dx, dy, size.x, size.y);
    renderer.setRenderTarget(this.targets[this.next]);
    renderer.render(scene, camera);
    renderer.setRenderTarget(null);
    camera.clearViewOffset();
    if (++this.next < OFFSETS.length) return false;
    this.next = 0;
    this.quad.material.uniforms.samples.value = this.targets.map((target) => target.texture);
    renderer.render(this.scene, this.camera);
    return true;
  }

  prepareTargets(width, height) {
    if (this.targets.length && this.targets[0].width === width && this.targets[0].height === height) return;
    this.disposeTargets();
    // Stored in sRGB, as the canvas is, so that the dark shades keep their
    // steps; sampling returns linear colour, re-encoded by the average.
    this.targets = OFFSETS.map(() => new THREE.WebGLRenderTarget(width, height, { minFilter: THREE.NearestFilter,
      magFilter: THREE.NearestFilter, colorSpace: THREE.SRGBColorSpace }));
  }

  disposeTargets() {
    for (const target of this.targets) target.dispose();
    this.targets = [];
  }

  dispose() {
    this.disposeTargets();
    this.quad.geometry.dispose();
    this.quad.material.dispose();
  }
}
