// QXModel: a three.js group that shows a scene while a SceneStream decodes
// it. Each instance of the scene (a path from a root to a node with a mesh)
// is a THREE.Mesh placed by its world matrix, with the node's material; the
// meshes' geometry is refreshed when their detail changes (`refresh`, once
// per frame is enough).
import * as THREE from 'three';

// Material colours are scaled as the desktop renderer scales them, so that
// two lights and the global ambient do not wash them out.
const AMBIENT_SCALE = 0.21;
const DIFFUSE_SCALE = 0.85;

const DEFAULT_MATERIAL = {
  ambient: [0.6, 0.6, 0.6, 1],
  diffuse: [0.8, 0.8, 0.8, 1],
  specular: [0.2, 0.2, 0.2, 1],
  shininess: 0.781,
};

/** A three.js material for a scene material (null: the default one). */
export function makeMaterial(material) {
  const m = material ?? DEFAULT_MATERIAL;
  const colour = (rgba, scale) => new THREE.Color(rgba[0] * scale, rgba[1] * scale, rgba[2] * scale);
  const shininess = m.shininess * 128;
  return new THREE.MeshPhongMaterial({
    color: colour(m.diffuse, DIFFUSE_SCALE),
    // The ambient colour answers the ambient light; three.js has no ambient
    // term of its own, so it goes in as a lower emissive.
    emissive: colour(m.ambient, AMBIENT_SCALE * 0.25),
    specular: colour(m.specular, 1),
    shininess: shininess > 0 ? Math.min(shininess, 128) : 1,
    transparent: m.diffuse[3] < 1,
    opacity: Math.max(0, Math.min(1, m.diffuse[3])),
  });
}

export class QXModel extends THREE.Group {
  /** @param {import('../scene_stream.mjs').SceneStream} stream */
  constructor(stream) {
    super();
    this.name = 'QXModel';
    this.stream = stream;
    /** Tolerance 0..1: vertices 1 … floor(N × tolerance) are withheld. */
    this.tolerance = 0;
    /** Whether the tolerance applies (false draws full detail). */
    this.useTolerance = true;
    /** Shading level L: 1 smooth, 0 flat, between: flat around creases. */
    this.smooth = 1;
    /** Triangles shown at the last refresh, over all instances. */
    this.triangleCount = 0;
    this.geometries = [];
    this.materials = new Map();
    this.keys = [];
    this.built = false;
  }

  /** Brings the geometry up to what has been decoded. True when anything changed. */
  refresh() {
    // Another scene: nothing of the old one may stay on screen.
    if (this.built && this.generation !== this.stream.generation) this.dispose();
    if (!this.built && !this.build()) {
      this.triangleCount = 0;
      return false;
    }
    let changed = false;
    const meshes = this.stream.meshes();
    const perMesh = meshes.map((mesh) => {
      const level = this.useTolerance ? this.stream.levelFromTolerance(mesh.index, this.tolerance) : 0;
      const key = `${mesh.pendingCount}/${level}/${this.smooth}`;
      if (key !== this.keys[mesh.index]) {
        this.keys[mesh.index] = key;
        this.update(mesh.index, level);
        changed = true;
      }
      return this.geometries[mesh.index].userData.triangles;
    });
    this.triangleCount = this.children.reduce((sum, child) => sum + perMesh[child.userData.mesh], 0);
    return changed;
  }

  /** Frees the GPU buffers and materials. */
  dispose() {
    for (const geometry of this.geometries) geometry.dispose();
    for (const material of this.materials.values()) material.dispose();
    this.clear();
    this.geometries = [];
    this.materials.clear();
    this.keys = [];
    this.built = false;
  }

  // Creates one THREE.Mesh per instance once the scene's structure is known.
  build() {
    const instances = this.stream.instances();
    if (!instances.length) return false;
    this.geometries = this.stream.meshes().map(() => {
      const geometry = new THREE.BufferGeometry();
      geometry.userData.triangles = 0;
      return geometry;
    });
    for (const instance of instances) {
      const mesh = new THREE.Mesh(this.geometries[instance.mesh], this.materialFor(instance.material));
      mesh.matrixAutoUpdate = false;
      mesh.matrix.fromArray(instance.matrix);
      mesh.userData.mesh = instance.mesh;
      // Bounds grow as vertices arrive; culling by stale bounds would hide them.
      mesh.frustumCulled = false;
      this.add(mesh);
    }
    this.built = true;
    this.generation = this.stream.generation;
    return true;
  }

  materialFor(material) {
    const key = material ? JSON.stringify(material) : 'default';
    if (!this.materials.has(key)) this.materials.set(key, makeMaterial(material));
    return this.materials.get(key);
  }

  // Copies the mesh's current detail into its geometry.
  update(index, level) {
    const shown = this.stream.geometry(index, { level, smooth: this.smooth });
    const geometry = this.geometries[index];
    geometry.dispose();
    const records = new Float32Array(shown.vertices.length + shown.flatCorners.length);
    records.set(shown.vertices);
    records.set(shown.flatCorners, shown.vertices.length);
    const buffer = new THREE.InterleavedBuffer(records, 6);
    geometry.setAttribute('normal', new THREE.InterleavedBufferAttribute(buffer, 3, 0));
    geometry.setAttribute('position', new THREE.InterleavedBufferAttribute(buffer, 3, 3));
    geometry.setIndex(new THREE.BufferAttribute(Uint32Array.from(shown.indices), 1));
    geometry.userData.triangles = shown.triangles;
  }
}
