// Bad bytes never crash, hang or grow the WebAssembly decoder's memory
// without bound: the fuzzers' scene inputs (when a fuzzing run left them in
// build/fuzz), every file under tests/data, and mutants of a valid scene
// go through one decoder instance, each fed in uneven pieces and then
// looked at from every side the script can ask about.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import zlib from 'node:zlib';

import { SceneStream } from '../scene_stream.mjs';
import { BUILD, QUIET, ROOT, haveModule, haveNative, qxtool, scratchFolder, unpackedStream } from './support.mjs';

// The ceiling the decoder's own bound sets. A scene reserves its meshes'
// arrays from their headers, before their bytes arrive, for at most 2^24
// vertices in all: about 70 bytes each with the mesh, its predicted lists
// and the dense geometry's cells, so a file of a few hundred bytes may
// rightly take 1.2 GB (the fuzzers found one). Anything past 1.5 GB is
// growth without that bound, still below the module's 2 GB limit.
const MEMORY_LIMIT = 1536 * 1024 * 1024;

function filesUnder(folder) {
  if (!fs.existsSync(folder)) return [];
  return fs.readdirSync(folder, { withFileTypes: true }).flatMap((entry) => {
    const full = path.join(folder, entry.name);
    if (entry.isDirectory()) return filesUnder(full);
    return entry.isFile() ? [full] : [];
  });
}

// What a page would hand the decoder: gzip undone as far as it goes.
function asFed(bytes) {
  if (bytes[0] !== 0x1f || bytes[1] !== 0x8b) return bytes;
  try {
    return new Uint8Array(zlib.gunzipSync(bytes, { finishFlush: zlib.constants.Z_SYNC_FLUSH }));
  } catch {
    return bytes;
  }
}

// A small generator with a fixed seed, so every run tries the same mutants.
function random(seed) {
  let state = seed >>> 0;
  return (limit) => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return state % limit;
  };
}

function mutants(valid, count) {
  const next = random(24);
  const list = [];
  for (let k = 0; k < count; ++k) {
    const bytes = Uint8Array.from(valid.subarray(0, k % 3 === 0 ? next(valid.length) : valid.length));
    for (let flips = 1 + next(8); flips > 0 && bytes.length; --flips) bytes[next(bytes.length)] = next(256);
    list.push(bytes);
  }
  return list;
}

function lookEverywhere(stream) {
  stream.box();
  stream.materials();
  for (const instance of stream.instances()) assert.equal(instance.matrix.length, 16);
  const planes = [[1, 0, 0, -0.1], [-1, 0, 0, -0.1], [0, 1, 0, -0.1], [0, -1, 0, -0.1]];
  for (const mesh of stream.meshes()) {
    for (const options of [{}, { tolerance: 0.5, smooth: 0.5 }, { level: mesh.vertexCount, smooth: 0 }, { frustum: planes }]) {
      const g = stream.geometry(mesh.index, options);
      for (const index of g.indices) assert.ok(index < mesh.vertexCount);
      assert.ok(g.flatFrom <= g.indices.length);
    }
  }
}

test('hostile inputs never crash, hang or grow memory without bound', { skip: !haveModule || !haveNative }, async (t) => {
  const folder = scratchFolder(t);
  const obj = path.join(folder, 'grid.obj');
  const lines = [];
  for (let y = 0; y < 12; ++y) for (let x = 0; x < 12; ++x) lines.push(`v ${x} ${y} ${(x * y) % 5}`);
  for (let y = 0; y < 11; ++y)
    for (let x = 0; x < 11; ++x) lines.push(`f ${y * 12 + x + 1} ${y * 12 + x + 2} ${y * 12 + x + 14} ${y * 12 + x + 13}`);
  fs.writeFileSync(obj, lines.join('\n'));
  const valid = path.join(folder, 'grid.qxz');
  qxtool('convert', obj, '-o', valid, '--geo', 'adaptive', '--pred', 'butterfly');
  const validBytes = unpackedStream(valid);

  const inputs = [
    ...['seeds', 'corpus'].flatMap((kind) =>
      ['scene', 'scene_gz'].flatMap((harness) => filesUnder(path.join(ROOT, 'build/fuzz', kind, harness)))),
    ...filesUnder(path.join(ROOT, 'tests/data')),
    ...(process.env.VERMELLE_HOSTILE_DIR ? filesUnder(process.env.VERMELLE_HOSTILE_DIR) : []),
  ].map((file) => asFed(new Uint8Array(fs.readFileSync(file))));
  inputs.push(...mutants(validBytes, 400), new Uint8Array(0), Uint8Array.of(1));

  const stream = await SceneStream.create(BUILD, QUIET);
  const next = random(7);
  for (const bytes of inputs) {
    stream.start();
    for (let at = 0; at < bytes.length;) {
      const piece = 1 + next(3000);
      stream.feed(bytes.subarray(at, at + piece));
      at += piece;
    }
    lookEverywhere(stream);
    stream.close();
    lookEverywhere(stream);
    assert.ok(stream.module.HEAPU8.length <= MEMORY_LIMIT, `memory ${stream.module.HEAPU8.length}`);
  }
  // Still sound afterwards: the valid file decodes in full.
  stream.release();
  stream.start();
  stream.feed(validBytes);
  stream.close();
  assert.equal(stream.meshes()[0].pendingCount, 0);
  assert.ok(stream.triangleCount() > 0);
  stream.dispose();
});
