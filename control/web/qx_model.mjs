// QXModel: a three.js group that shows a scene while a SceneStream decodes
// it. Each instance of the scene (a path from a root to a node with a mesh)
// is a THREE.Mesh placed by its world matrix, with the node's material; the
// meshes' geometry is refreshed when their detail changes (`refresh`, once
// per frame is enough).
import * as THREE from 'three';

import { planeInSpace } from './frustum.mjs';

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

// three.js lights the back of a double-sided surface with its normal turned
// towards the eye: two-sided lighting. Without it, as in the editor by
// default, a back face is lit with its front normal, which faces away from
// the eye, so it takes the light of what lies behind it. The flip is undone
// after three.js's own normal setup.
const ONE_SIDED_NORMAL = `#include <normal_fragment_begin>
#ifdef DOUBLE_SIDED
  normal *= faceDirection;
  nonPerturbedNormal = normal;
#endif`;

function installLightingSides(material) {
  material.userData.twoSideLight = false;
  material.onBeforeCompile = (shader) => {
    if (material.userData.twoSideLight) return;
    shader.fragmentShader = shader.fragmentShader.replace('#include <normal_fragment_begin>', ONE_SIDED_NORMAL);
  };
  material.customProgramCacheKey = () => (material.userData.twoSideLight ? 'two-sided' : 'one-sided');
  return material;
}

/** Turns two-sided lighting on or off for a material made by makeMaterial. */
export function setTwoSideLight(material, on) {
  if (!('twoSideLight' in material.userData) || material.userData.twoSideLight === on) return;
  material.userData.twoSideLight = on;
  material.needsUpdate = true;
}

/**
 * A three.js material for a scene material (null: the default one), lit on
 * one side until setTwoSideLight turns two-sided lighting on.
 */
export function makeMaterial(material) {
  const m = material ?? DEFAULT_MATERIAL;
  const colour = (rgba, scale) => new THREE.Color(rgba[0] * scale, rgba[1] * scale, rgba[2] * scale);
  const shininess = m.shininess * 128;
  return installLightingSides(new THREE.MeshPhongMaterial({
    color: colour(m.diffuse, DIFFUSE_SCALE),
    // The ambient colour answers the ambient light; three.js has no ambient
    // term of its own, so it goes in as a lower emissive.
    emissive: colour(m.ambient, AMBIENT_SCALE * 0.25),
    specular: colour(m.specular, 1),
    shininess: shininess > 0 ? Math.min(shininess, 128) : 1,
    transparent: m.diffuse[3] < 1,
    opacity: Math.max(0, Math.min(1, m.diffuse[3])),
  }));
}

// The material for the flat triangles: the normal of each pixel is that of
// its triangle's plane (from the slopes of the position across the screen),
// which three.js turns towards the eye; the one-sided lighting turns a back
// face's away again, as for the smooth ones.
function flatTwin(material) {
  const flat = installLightingSides(material.clone());
  flat.flatShading = true;
  return flat;
}

/** The draw modes: filled, points, edges, and edges or points with hidden parts removed. */
export const DRAW_MODES = ['solid', 'points', 'edges', 'hidden-lines', 'hidden-points'];

// Per draw mode: which of an instance's three objects show, and whether the
// filled one only writes depth (so that what lies behind it stays hidden).
const MODE_LAYERS = {
  solid: { fill: true, wire: false, points: false, depthOnly: false },
  points: { fill: false, wire: false, points: true, depthOnly: false },
  edges: { fill: false, wire: true, points: false, depthOnly: false },
  'hidden-lines': { fill: true, wire: true, points: false, depthOnly: true },
  'hidden-points': { fill: true, wire: false, points: true, depthOnly: true },
};

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
    /** One of DRAW_MODES. */
    this.drawMode = 'solid';
    /** Lighting on; off, every surface shows its material's diffuse colour flat. */
    this.lighting = true;
    /**
     * Selective mode: world-space culling planes (frustum.mjs), or null. A
     * mesh placed more than once is refined for its first placement.
     */
    this.planes = null;
    /** Triangles shown at the last refresh, over all instances. */
    this.triangleCount = 0;
    this.geometries = [];
    this.materials = new Map();
    this.keys = [];
    this.costs = [];
    this.built = false;
  }

  /** Brings the geometry up to what has been decoded. True when anything changed. */
  refresh() {
    // Another scene: nothing of the old one may stay on screen.
    let changed = false;
    if (this.built && this.generation !== this.stream.generation) {
      this.dispose();
      changed = true;
    }
    if (!this.built) {
      if (!this.build()) {
        this.triangleCount = 0;
        return changed;
      }
      changed = true;
    }
    const meshes = this.stream.meshes();
    const perMesh = meshes.map((mesh) => {
      const level = this.useTolerance ? this.stream.levelFromTolerance(mesh.index, this.tolerance) : 0;
      const frustum = this.meshFrustum(mesh.index);
      const key = `${mesh.pendingCount}/${level}/${this.smooth}/${frustum ? frustum.flat().join() : ''}`;
      if (key !== this.keys[mesh.index] && !this.postpone(mesh)) {
        this.keys[mesh.index] = key;
        const start = performance.now();
        this.update(mesh.index, level, frustum);
        this.costs[mesh.index] = { at: performance.now(), took: performance.now() - start };
        changed = true;
      }
      return this.geometries[mesh.index].userData.triangles;
    });
    this.triangleCount = this.children.reduce(
      (sum, child) => sum + (child.userData.layer === 'fill' ? perMesh[child.userData.mesh] : 0), 0);
    if (this.shownMode !== this.drawMode || this.shownLighting !== this.lighting) {
      this.applyDrawMode();
      changed = true;
    }
    return changed;
  }

  // Shows each instance's objects as the draw mode asks.
  applyDrawMode() {
    const mode = MODE_LAYERS[this.drawMode] ?? MODE_LAYERS.solid;
    for (const object of this.children) {
      const { layer, materials } = object.userData;
      object.visible = mode[layer];
      if (layer === 'fill') object.material = mode.depthOnly ? materials.depth : this.surface(materials, 'fill');
      if (layer === 'wire') object.material = this.surface(materials, 'wire');
      // The depth pass goes first, so the edges and points test against it.
      object.renderOrder = layer === 'fill' ? 0 : 1;
    }
    this.shownMode = this.drawMode;
    this.shownLighting = this.lighting;
  }

  /**
   * What a sliced drawing shares out: the objects shown, surfaces first and
   * then edges and points, and the meshes' geometries.
   */
  drawingPhases() {
    const shown = this.children.filter((child) => child.visible);
    const phases = [shown.filter((child) => child.userData.layer === 'fill'),
      shown.filter((child) => child.userData.layer !== 'fill')];
    return { phases: phases.filter((phase) => phase.length), geometries: this.geometries };
  }

  // The lit material of a layer, or its flat twin while lighting is off.
  surface(materials, layer) {
    return this.lighting ? materials[layer] : materials[`${layer}Unlit`];
  }

  /** Frees the GPU buffers and materials. */
  dispose() {
    for (const geometry of this.geometries) geometry.dispose();
    for (const material of this.allMaterials()) material.dispose();
    this.clear();
    this.geometries = [];
    this.materials.clear();
    this.keys = [];
    this.costs = [];
    this.built = false;
  }

  // A large mesh still loading is copied out at most a quarter of the time,
  // so that the page keeps its frame rate while the mesh grows; a complete
  // mesh is shown at once.
  postpone(mesh) {
    const cost = this.costs[mesh.index];
    return mesh.pendingCount > 0 && cost && performance.now() - cost.at < 3 * cost.took;
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
      const set = this.materialFor(instance.material);
      const geometry = this.geometries[instance.mesh];
      const layers = {
        fill: new THREE.Mesh(geometry, set.fill),
        wire: new THREE.Mesh(geometry, set.wire),
        points: new THREE.Points(geometry, set.points),
      };
      for (const [layer, object] of Object.entries(layers)) {
        object.matrixAutoUpdate = false;
        object.matrix.fromArray(instance.matrix);
        object.userData = { mesh: instance.mesh, layer, materials: set };
        // Bounds grow as vertices arrive; culling by stale bounds would hide them.
        object.frustumCulled = false;
        this.add(object);
      }
    }
    this.applyDrawMode();
    this.built = true;
    this.generation = this.stream.generation;
    return true;
  }

  // The materials of one scene material in every draw mode. Surfaces take
  // a pair, for the smooth and the flat triangles of their geometry.
  materialFor(material) {
    const key = material ? JSON.stringify(material) : 'default';
    if (!this.materials.has(key)) {
      const fill = makeMaterial(material);
      const wire = installLightingSides(fill.clone());
      wire.wireframe = true;
      // Unlit, the editor paints a surface in its material's diffuse colour.
      const diffuse = (material ?? DEFAULT_MATERIAL).diffuse;
      const fillUnlit = new THREE.MeshBasicMaterial({ color: new THREE.Color(...diffuse.slice(0, 3)),
        transparent: fill.transparent, opacity: fill.opacity });
      const wireUnlit = fillUnlit.clone();
      wireUnlit.wireframe = true;
      const depth = new THREE.MeshBasicMaterial({ colorWrite: false, polygonOffset: true,
        polygonOffsetFactor: 1, polygonOffsetUnits: 1 });
      this.materials.set(key, {
        fill: [fill, flatTwin(fill)],
        wire: [wire, flatTwin(wire)],
        points: new THREE.PointsMaterial({ color: fill.color, size: 2, sizeAttenuation: false }),
        depth: [depth, depth],
        fillUnlit: [fillUnlit, fillUnlit],
        wireUnlit: [wireUnlit, wireUnlit],
      });
    }
    return this.materials.get(key);
  }

  /** Every three.js material the model uses. */
  allMaterials() {
    return [...new Set([...this.materials.values()].flatMap((set) => Object.values(set).flat()))];
  }

  // The culling planes in mesh `index`'s own space, or null.
  meshFrustum(index) {
    if (!this.planes) return null;
    const placed = this.children.find((child) => child.userData.mesh === index);
    return placed ? this.planes.map((plane) => planeInSpace(plane, placed.matrix.elements)) : null;
  }

  // Copies the mesh's current detail into its geometry: the smooth
  // triangles are group 0, the flat ones group 1.
  update(index, level, frustum) {
    const shown = this.stream.geometry(index, { level, smooth: this.smooth, frustum: frustum ?? undefined });
    const geometry = this.geometries[index];
    geometry.dispose();
    const buffer = new THREE.InterleavedBuffer(shown.vertices.slice(), 6);
    geometry.setAttribute('normal', new THREE.InterleavedBufferAttribute(buffer, 3, 0));
    geometry.setAttribute('position', new THREE.InterleavedBufferAttribute(buffer, 3, 3));
    geometry.setIndex(new THREE.BufferAttribute(shown.indices.slice(), 1));
    geometry.clearGroups();
    geometry.addGroup(0, shown.flatFrom, 0);
    geometry.addGroup(shown.flatFrom, shown.indices.length - shown.flatFrom, 1);
    geometry.userData.triangles = shown.triangles;
  }
}
