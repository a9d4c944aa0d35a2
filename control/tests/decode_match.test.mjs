// The WebAssembly decoder against the native one: the same triangles and
// positions for every coder combination at several levels, and for
// truncated files the same prefix as the native decode of that prefix.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';

import {
  CORPUS, haveModule, haveNative, nativeSoup, qxtool, scratchFolder, streamOf, unpackedStream, wasmSoup,
} from './support.mjs';

// One mesh; thirteen meshes with two materials; 120 meshes.
const MODELS = ['obj/assimp/WusonOBJ.obj', '3ds/assimp-nonbsd/cart_wheel.3DS', 'ac/flightgear/KC135.ac'];
const TOLERANCES = [0, 0.2, 0.5, 0.9];
const skip = !haveModule || !haveNative ? 'needs the native and WebAssembly builds'
  : !fs.existsSync(CORPUS) ? 'no corpus' : false;

function assertSameSoup(actual, expected, what) {
  assert.equal(actual.faces.length, expected.faces.length, `${what}: triangle count`);
  assert.deepEqual(actual.faces, expected.faces, `${what}: triangles`);
  assert.deepEqual(actual.positions, expected.positions, `${what}: positions`);
}

describe('WebAssembly decode equals native decode', { skip }, () => {
  for (const model of MODELS) {
    test(`${model}: every coder combination at several levels`, async (t) => {
      const folder = scratchFolder(t);
      // The original coders in every combination, and our dense pair.
      const choices = [];
      for (const conn of ['raw', 'model2'])
        for (const geo of ['raw', 'rect', 'polar', 'adaptive']) choices.push(['--conn', conn, '--geo', geo]);
      choices.push(['--codec', 'dense']);
      for (const choice of choices)
          for (const pred of ['centroid', 'butterfly']) {
            const name = choice.filter((word) => !word.startsWith('--')).join('-');
            const file = path.join(folder, `${name}-${pred}.qxz`);
            qxtool('convert', path.join(CORPUS, model), '-o', file, ...choice, '--pred', pred);
            const stream = await streamOf(unpackedStream(file), { chunk: 997 });
            for (const tolerance of TOLERANCES)
              assertSameSoup(wasmSoup(stream, { tolerance }), nativeSoup(file, folder, { tolerance }),
                `${name}/${pred} at ${tolerance}`);
            stream.dispose();
          }
    });
  }

  test('a truncated file decodes to the native decode of the same prefix', async (t) => {
    const folder = scratchFolder(t);
    const file = path.join(folder, 'model.qxz');
    qxtool('convert', path.join(CORPUS, MODELS[0]), '-o', file);
    const bytes = unpackedStream(file);
    const counts = new Set([0, 1, 5, 20, 51, 52, 53, 100, 300, bytes.length - 1]);
    for (let k = 1; k < 40; ++k) counts.add(Math.floor((bytes.length * k) / 40));
    for (const count of counts) {
      const prefix = bytes.subarray(0, count);
      const expected = nativeSoup(file, folder, { bytes: count });
      // Still open: the decoder waits inside the bit stream with every
      // complete step shown (the structure ends well before half the file).
      const open = await streamOf(prefix, { chunk: 333, close: false });
      if (count >= bytes.length / 2) assertSameSoup(wasmSoup(open), expected, `${count} bytes, open`);
      open.close();
      assertSameSoup(wasmSoup(open), expected, `${count} bytes, closed`);
      open.dispose();
    }
  });
});
