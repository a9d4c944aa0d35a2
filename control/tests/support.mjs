// Shared by the web viewer's tests: where the builds are, the native decode
// command, and the triangle soup both decoders are compared by.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import zlib from 'node:zlib';

import { SceneStream } from '../scene_stream.mjs';

export const ROOT = fileURLToPath(new URL('../..', import.meta.url));
/** The build folder holding cli/qxtool and control/vermelle_decoder.mjs. */
export const BUILD = process.env.VERMELLE_BUILD_DIR ?? path.join(ROOT, 'build/release');
export const CORPUS = process.env.VERMELLE_CORPUS_DIR ?? path.join(ROOT, '../shared/corpus');
export const QXTOOL = path.join(BUILD, 'cli/qxtool');

export const haveModule = fs.existsSync(path.join(BUILD, 'control/vermelle_decoder.mjs'));
export const haveNative = fs.existsSync(QXTOOL);

/** Module options that keep the decoder's diagnostics off the test output. */
export const QUIET = { print: () => {}, printErr: () => {} };

export function scratchFolder(t) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'vermelle-web-'));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  return folder;
}

export function qxtool(...args) {
  return execFileSync(QXTOOL, args, { stdio: ['ignore', 'pipe', 'pipe'], maxBuffer: 1 << 26 });
}

/** The scene stream of a file, unpacked when it is gzip-packed. */
export function unpackedStream(file) {
  const bytes = fs.readFileSync(file);
  return new Uint8Array(bytes[0] === 0x1f && bytes[1] === 0x8b ? zlib.gunzipSync(bytes) : bytes);
}

/** Reads the binary PLY that `qxtool decode` writes: {positions, faces}. */
export function readPly(file) {
  const bytes = fs.readFileSync(file);
  const end = bytes.indexOf('end_header\n') + 'end_header\n'.length;
  const header = bytes.subarray(0, end).toString();
  const vertices = Number(/element vertex (\d+)/.exec(header)[1]);
  const faces = Number(/element face (\d+)/.exec(header)[1]);
  const data = new DataView(bytes.buffer, bytes.byteOffset + end);
  const positions = new Float32Array(vertices * 3);
  for (let i = 0; i < positions.length; ++i) positions[i] = data.getFloat32(4 * i, true);
  const list = new Int32Array(faces * 3);
  for (let f = 0, at = positions.length * 4; f < faces; ++f, at += 13)
    for (let k = 0; k < 3; ++k) list[3 * f + k] = data.getInt32(at + 1 + 4 * k, true);
  return { positions, faces: list };
}

/**
 * Native decode of `file` (optionally its first `bytes` bytes) at a
 * tolerance; nothing when those bytes hold no scene.
 */
export function nativeSoup(file, folder, { tolerance = 0, bytes } = {}) {
  const out = path.join(folder, 'native.ply');
  const args = ['decode', file, '--tolerance', String(tolerance), '-o', out];
  if (bytes !== undefined) args.push('--bytes', String(bytes));
  try {
    qxtool(...args);
  } catch (error) {
    if (!String(error.stderr).includes('not a scene file')) throw error;
    return { positions: new Float32Array(0), faces: new Int32Array(0) };
  }
  return readPly(out);
}

const f = Math.fround;

// The world position of p, rounded as the native decoder's float arithmetic.
function transform(m, x, y, z) {
  return [
    f(f(f(f(m[0] * x) + f(m[4] * y)) + f(m[8] * z)) + m[12]),
    f(f(f(f(m[1] * x) + f(m[5] * y)) + f(m[9] * z)) + m[13]),
    f(f(f(f(m[2] * x) + f(m[6] * y)) + f(m[10] * z)) + m[14]),
  ];
}

/**
 * What the stream shows at a tolerance, in the native decode command's form:
 * every instance in world coordinates, corners numbered by first use.
 */
export function wasmSoup(stream, { tolerance = 0 } = {}) {
  const positions = [];
  const faces = [];
  for (const instance of stream.instances()) {
    const { vertices, indices } = stream.geometry(instance.mesh, { tolerance, smooth: 1 });
    const corners = new Map();
    const corner = (v) => {
      if (!corners.has(v)) {
        corners.set(v, positions.length / 3);
        positions.push(...transform(instance.matrix, vertices[6 * v + 3], vertices[6 * v + 4], vertices[6 * v + 5]));
      }
      return corners.get(v);
    };
    for (const v of indices) faces.push(corner(v));
  }
  return { positions: Float32Array.from(positions), faces: Int32Array.from(faces) };
}

/** A new stream that has been fed `bytes` in chunks of `chunk` bytes. */
export async function streamOf(bytes, { chunk = 1024, close = true } = {}) {
  const stream = await SceneStream.create(BUILD, QUIET);
  stream.start();
  for (let at = 0; at < bytes.length; at += chunk) stream.feed(bytes.subarray(at, at + chunk));
  if (close) stream.close();
  return stream;
}
