// The selective mode's culling frustum: four side planes through the eye,
// narrowed by the tolerance (half-angle ½ · fov · (1.05 − tolerance) along
// the window's shorter side), each [a, b, c, d] with inside a·x + b·y + c·z ≥ d.
import * as THREE from 'three';

/** The narrowing of the frustum at a tolerance: the rectangle's half size in the view. */
export const frustumScale = (tolerance) => 1.05 - tolerance;

/** World-space planes of the culling frustum of `camera` looking at `target`. */
export function cullingPlanes(camera, target, tolerance) {
  const h = (0.5 * THREE.MathUtils.degToRad(camera.fov)) * frustumScale(tolerance);
  const a = camera.aspect;
  const [hx, hy] = a <= 1 ? [h, Math.atan(Math.tan(h) / a)] : [Math.atan(Math.tan(h) * a), h];
  const eye = camera.position;
  const d = target.clone().sub(eye).normalize();
  const right = d.clone().cross(camera.up).normalize();
  const up = right.clone().cross(d).normalize();
  const normals = [
    right.clone().multiplyScalar(Math.cos(hx)).addScaledVector(d, Math.sin(hx)),
    right.clone().multiplyScalar(-Math.cos(hx)).addScaledVector(d, Math.sin(hx)),
    up.clone().multiplyScalar(Math.cos(hy)).addScaledVector(d, Math.sin(hy)),
    up.clone().multiplyScalar(-Math.cos(hy)).addScaledVector(d, Math.sin(hy)),
  ];
  return normals.map((n) => [n.x, n.y, n.z, n.dot(eye)]);
}

/**
 * A world-space plane in the space that `matrix` (column-major, 16 numbers)
 * maps from: normal Rᵀn and offset d − n·t, scaled to a unit normal.
 */
export function planeInSpace([a, b, c, d], matrix) {
  const m = matrix;
  const n = [m[0] * a + m[1] * b + m[2] * c, m[4] * a + m[5] * b + m[6] * c, m[8] * a + m[9] * b + m[10] * c];
  const offset = d - (a * m[12] + b * m[13] + c * m[14]);
  const length = Math.hypot(...n) || 1;
  return [n[0] / length, n[1] / length, n[2] / length, offset / length];
}
