// Idle anti-aliasing: the scene drawn at three times the canvas size in each
// direction and each pixel shown as the mean of its 3 × 3 samples — the same
// average as nine frames jittered by a third of a pixel and accumulated.
import * as THREE from 'three';

const FACTOR = 3;

const AVERAGE_SHADER = {
  uniforms: { source: { value: null } },
  vertexShader: 'void main() { gl_Position = vec4(position.xy, 0.0, 1.0); }',
  fragmentShader: `
    uniform sampler2D source;
    void main() {
      ivec2 base = ivec2(gl_FragCoord.xy) * ${FACTOR};
      vec4 sum = vec4(0.0);
      for (int i = 0; i < ${FACTOR}; ++i)
        for (int j = 0; j < ${FACTOR}; ++j) sum += texelFetch(source, base + ivec2(i, j), 0);
      gl_FragColor = sum / ${FACTOR * FACTOR}.0;
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
    this.target = null;
  }

  /** Draws `scene` through `camera` onto the renderer's canvas, anti-aliased. */
  render(renderer, scene, camera) {
    const size = renderer.getDrawingBufferSize(new THREE.Vector2());
    const width = size.x * FACTOR, height = size.y * FACTOR;
    if (!this.target || this.target.width !== width || this.target.height !== height) {
      this.target?.dispose();
      // Stored in sRGB, as the canvas is, so that the dark shades keep their
      // steps; sampling returns linear colour, re-encoded by the average.
      this.target = new THREE.WebGLRenderTarget(width, height, { minFilter: THREE.NearestFilter,
        magFilter: THREE.NearestFilter, colorSpace: THREE.SRGBColorSpace });
    }
    renderer.setRenderTarget(this.target);
    renderer.render(scene, camera);
    renderer.setRenderTarget(null);
    this.quad.material.uniforms.source.value = this.target.texture;
    renderer.render(this.scene, this.camera);
  }

  dispose() {
    this.target?.dispose();
    this.quad.geometry.dispose();
    this.quad.material.dispose();
  }
}
