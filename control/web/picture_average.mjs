// The mean of several pictures of the canvas's size, drawn onto the canvas:
// the last pass of the anti-aliasing (nine samples) and of a picture drawn
// in slices offscreen (one).
import * as THREE from 'three';

function averageShader(count) {
  return {
    uniforms: { samples: { value: [] } },
    vertexShader: 'void main() { gl_Position = vec4(position.xy, 0.0, 1.0); }',
    fragmentShader: `
      uniform sampler2D samples[${count}];
      void main() {
        ivec2 pixel = ivec2(gl_FragCoord.xy);
        vec4 sum = vec4(0.0);
        ${Array.from({ length: count }, (_, k) => `sum += texelFetch(samples[${k}], pixel, 0);`).join('\n        ')}
        gl_FragColor = sum / ${count}.0;
        // The pictures come back as linear colour; the canvas wants the
        // output colour space, as a direct drawing gets it (without this
        // the result comes out dark).
        #include <colorspace_fragment>
      }`,
  };
}

/**
 * A render target for one such picture: stored in sRGB, as the canvas is,
 * so that the dark shades keep their steps; sampling returns linear colour,
 * re-encoded by the average.
 */
export function pictureTarget(width, height) {
  return new THREE.WebGLRenderTarget(width, height, { minFilter: THREE.NearestFilter,
    magFilter: THREE.NearestFilter, colorSpace: THREE.SRGBColorSpace });
}

export class PictureAverage {
  constructor(count) {
    this.quad = new THREE.Mesh(new THREE.PlaneGeometry(2, 2), new THREE.ShaderMaterial(averageShader(count)));
    this.quad.frustumCulled = false;
    this.scene = new THREE.Scene().add(this.quad);
    this.camera = new THREE.Camera();
  }

  /** Draws the mean of `targets` (as many as the count) onto the canvas. */
  draw(renderer, targets) {
    this.quad.material.uniforms.samples.value = targets.map((target) => target.texture);
    renderer.setRenderTarget(null);
    renderer.render(this.scene, this.camera);
  }

  dispose() {
    this.quad.geometry.dispose();
    this.quad.material.dispose();
  }
}
