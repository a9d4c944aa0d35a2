// qxstream at a rate high enough to pass the file at once ends with the
// triangle count that the native decode writes for the same file.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { BUILD, CORPUS, ROOT, haveModule, haveNative, nativeSoup, qxtool, scratchFolder } from './support.mjs';

const skip = !haveModule || !haveNative ? 'needs the native and WebAssembly builds'
  : !fs.existsSync(CORPUS) ? 'no corpus' : false;

test('qxstream totals what the native decode shows', { skip }, (t) => {
  const folder = scratchFolder(t);
  const file = path.join(folder, 'wheel.qxz');
  qxtool('convert', path.join(CORPUS, '3ds/assimp-nonbsd/cart_wheel.3DS'), '-o', file);
  const output = execFileSync(process.execPath, [path.join(ROOT, 'control/qxstream.mjs'), file, '--kbps', '100000',
    '--build', BUILD], { encoding: 'utf8' });
  const lines = output.trim().split('\n').filter((line) => /^(\d+ \d+ \d+|total \d+)$/.test(line));
  const total = Number(/^total (\d+)$/.exec(lines.at(-1))[1]);
  assert.equal(total, nativeSoup(file, folder).faces.length / 3);
  assert.ok(total > 0);
  const fed = lines.slice(0, -1).map((line) => Number(line.split(' ')[1]));
  assert.equal(fed.at(-1), fs.statSync(file).size, 'the last report has every byte fed');
});
