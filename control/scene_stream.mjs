// SceneStream: the script's side of the WebAssembly decoder.
//
// A stream decodes one scene file at a time from bytes handed to `feed`, as
// the native progressive loader does from its pipe: `start` (StartPipe)
// drops the scene and waits for bytes, `feed` (Feed) decodes everything the
// bytes allow, `close` (ClosePipe) finishes the scene with what came,
// `release` (SetScene with none) frees it. Between calls the scene can be
// read: its meshes, their placements (world matrices and materials) and,
// per mesh, the triangles shown at a level of detail.
//
// Each stream runs its own module instance: the decoder suspends inside the
// module while it waits for bytes, and one instance holds one suspended
// decoder.
//
// Should the module ever abort (it runs out of memory, say), the stream
// keeps the error in `failure`, calls `onFailure` with it and from then on
// accepts nothing and shows no scene; nothing is thrown at the caller.

const DECODER_FILE = 'control/vermelle_decoder.mjs';
const WAITING = 1;
const INSTANCE_BYTES = 4 * (2 + 16);
const MATERIAL_FLOATS = 13;
const VERTEX_FLOATS = 6;

const factories = new Map();

/**
 * Loads the module factory. `source` is the build folder that holds
 * `control/vermelle_decoder.mjs` (a path, under Node), the URL of that file,
 * or the factory itself (what a bundle imports).
 * @param {string | URL | Function} source
 * @returns {Promise<Function>}
 */
export async function loadDecoderFactory(source) {
  if (typeof source === 'function') return source;
  const key = String(source);
  if (!factories.has(key)) {
    factories.set(key, moduleUrl(key).then((url) => import(url)).then((module) => module.default));
  }
  return factories.get(key);
}

// A URL as it is; a build folder (Node only) as the file URL of the module in it.
async function moduleUrl(source) {
  if (/^[a-z][a-z0-9+.-]+:/i.test(source)) return source;
  const { pathToFileURL } = await import('node:url');
  return pathToFileURL(`${source}/${DECODER_FILE}`).href;
}

export class SceneStream {
  /** @param {object} module an instance made by the decoder factory */
  constructor(module) {
    this.module = module;
    module._qx_init();
    this.started = false;
    /** Counts the scenes started or dropped, so that views notice a new one. */
    this.generation = 0;
    this.failure = null;
    /** @type {(error: Error) => void} */
    this.onFailure = () => {};
  }

  /**
   * Creates a stream with a module instance of its own.
   * @param {string | URL | Function} source as for loadDecoderFactory
   * @param {object} moduleOptions for the module, e.g. `print` and `printErr`
   *   to take the decoder's diagnostics (the console by default)
   */
  static async create(source, moduleOptions = {}) {
    const factory = await loadDecoderFactory(source);
    return new SceneStream(await factory({ ...moduleOptions }));
  }

  /** StartPipe: ends any run, drops the scene, waits for bytes. */
  start() {
    this.guard(() => {
      this.finishRun();
      this.module._qx_start_pipe();
      this.started = true;
      ++this.generation;
    });
  }

  /**
   * Feed: decodes as far as the bytes allow. Returns the bytes accepted (0
   * when no pipe is open).
   * @param {Uint8Array} bytes
   */
  feed(bytes) {
    if (!bytes.length) return 0;
    return this.guard(() => {
      const m = this.module;
      const pointer = m._qx_alloc(bytes.length);
      if (!pointer) return 0;
      m.HEAPU8.set(bytes, pointer);
      const accepted = m._qx_feed(pointer, bytes.length);
      m._qx_free(pointer);
      this.resume();
      return accepted;
    }) ?? 0;
  }

  /** ClosePipe: ends the data; the decoder finishes the scene at once. */
  close() {
    this.guard(() => {
      this.module._qx_close_pipe();
      this.resume();
    });
  }

  /** SetScene(none): ends any run and frees the scene. */
  release() {
    this.guard(() => {
      this.finishRun();
      this.module._qx_release_scene();
      this.started = false;
      ++this.generation;
    });
  }

  /** Frees everything; the stream is not used afterwards. */
  dispose() {
    this.release();
    this.module = null;
  }

  /**
   * Whether meshes are measured vertex by vertex while they load (true, the
   * default: a scene shown while it arrives) or once when complete (for a
   * scene only looked at afterwards). Applies from the next start.
   * @param {boolean} progressive
   */
  setProgressive(progressive) { this.module._qx_set_progressive(progressive ? 1 : 0); }

  /** True while the decoder waits for more bytes. */
  get waiting() { return !this.failure && this.module._qx_state() === WAITING; }
  get hasScene() { return !this.failure && this.module._qx_has_scene() !== 0; }
  get bytesFed() { return this.module._qx_bytes_fed(); }
  get bytesRead() { return this.module._qx_bytes_read(); }

  /** The scene box {centre, half} once the scene's structure is read, else null. */
  box() {
    if (this.failure) return null;
    const pointer = this.module._qx_scene_box();
    if (!pointer) return null;
    const f = this.floats(pointer, 6);
    return { centre: [f[0], f[1], f[2]], half: [f[3], f[4], f[5]] };
  }

  /** The meshes: vertex count N, pending count, split index, box, weight. */
  meshes() {
    if (this.failure) return [];
    const m = this.module;
    const list = [];
    for (let index = 0, count = m._qx_mesh_count(); index < count; ++index) {
      const pointer = m._qx_mesh_info(index);
      const i = m.HEAP32.subarray(pointer >> 2, (pointer >> 2) + 4);
      const f = this.floats(pointer + 16, 7);
      list.push({
        index, vertexCount: i[0], pendingCount: i[1], splitIndex: i[2], finalised: i[3] !== 0,
        box: { centre: [f[0], f[1], f[2]], half: [f[3], f[4], f[5]] }, weight: f[6],
      });
    }
    return list;
  }

  /** The materials: ambient, diffuse, specular (RGBA 0..1) and shininess (0..1). */
  materials() {
    if (this.failure) return [];
    const m = this.module;
    const count = m._qx_material_count();
    const all = this.floats(m._qx_materials(), count * MATERIAL_FLOATS);
    const list = [];
    for (let k = 0; k < count; ++k) {
      const f = all.subarray(k * MATERIAL_FLOATS);
      list.push({ ambient: [...f.subarray(0, 4)], diffuse: [...f.subarray(4, 8)], specular: [...f.subarray(8, 12)], shininess: f[12] });
    }
    return list;
  }

  /**
   * Every placement of a mesh (each path from a root to a node with a mesh):
   * mesh index, material (or null) and world matrix (16 floats, column-major).
   */
  instances() {
    if (this.failure) return [];
    const m = this.module;
    const count = m._qx_instance_count();
    const pointer = m._qx_instances();
    const materials = this.materials();
    const list = [];
    for (let k = 0; k < count; ++k) {
      const base = pointer + k * INSTANCE_BYTES;
      const material = m.HEAP32[(base >> 2) + 1];
      list.push({
        mesh: m.HEAP32[base >> 2],
        material: material >= 0 ? materials[material] : null,
        matrix: Float32Array.from(this.floats(base + 8, 16)),
      });
    }
    return list;
  }

  /** The level a tolerance in 0..1 asks for: floor(N × tolerance). */
  levelFromTolerance(mesh, tolerance) { return this.module._qx_level_from_tolerance(mesh, tolerance); }

  /**
   * What mesh `index` shows. Options: `level` (default 0, the full mesh) or
   * `tolerance` (0..1); `smooth`, the shading level L (1 smooth, 0 flat,
   * between: flat around vertices whose crease reaches L; default 1);
   * `frustum`, four planes [a, b, c, d] in the mesh's coordinates (inside is
   * a·x + b·y + c·z ≥ d) to refine only what they enclose.
   *
   * Returns views into the module's memory, valid until the next call on
   * this stream: `vertices` (the mesh's N vertex records, 6 floats each:
   * normal x, y, z then position x, y, z), `indices` (triangles, three
   * vertex numbers each: those of smooth fans, then from `flatFrom` on
   * those of fans drawn flat, which take the normal of their triangle's
   * plane rather than the records'), `triangles`, `frustum` (-1 nothing
   * visible, 1 all, 0 refined per vertex). Null for no such mesh.
   */
  geometry(index, { level = 0, tolerance, smooth = 1, frustum } = {}) {
    if (this.failure) return null;
    const m = this.module;
    const shown = tolerance === undefined ? level : this.levelFromTolerance(index, tolerance);
    let planes = 0;
    if (frustum) {
      planes = m._qx_alloc(64);
      m.HEAPF32.set(frustum.flat(), planes >> 2);
    }
    const pointer = m._qx_mesh_geometry(index, shown, smooth, planes);
    if (planes) m._qx_free(planes);
    if (!pointer) return null;
    const r = m.HEAPU32.subarray(pointer >> 2, (pointer >> 2) + 6);
    const indexCount = r[3];
    return {
      vertices: this.floats(r[0], r[1] * VERTEX_FLOATS),
      indices: m.HEAPU32.subarray(r[2] >> 2, (r[2] >> 2) + indexCount),
      flatFrom: r[4],
      triangles: indexCount / 3,
      frustum: m.HEAP32[(pointer >> 2) + 5],
    };
  }

  /** Triangles shown at full detail over every instance. */
  triangleCount() {
    const perMesh = new Map();
    let total = 0;
    for (const { mesh } of this.instances()) {
      if (!perMesh.has(mesh)) perMesh.set(mesh, this.geometry(mesh).triangles);
      total += perMesh.get(mesh);
    }
    return total;
  }

  // Runs a call that may run the decoder; an abort disables the stream.
  guard(call) {
    if (this.failure) return undefined;
    try {
      return call();
    } catch (error) {
      this.failure = error;
      this.onFailure(error);
      return undefined;
    }
  }

  floats(pointer, count) { return this.module.HEAPF32.subarray(pointer >> 2, (pointer >> 2) + count); }

  // Lets a suspended run see the end of its data, so that nothing is left
  // writing into a scene that is about to go.
  finishRun() {
    if (this.started && this.waiting) this.close();
  }

  resume() {
    const wake = this.module.qxWakeUp;
    if (!wake || !this.waiting) return;
    this.module.qxWakeUp = null;
    wake();
  }
}
