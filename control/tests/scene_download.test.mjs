// The data path over the real decoder: switching files mid-stream discards
// the old scene, gzip is recognised by its magic under any name, a failed
// download leaves the viewer empty and says so.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { describe, test } from 'node:test';
import zlib from 'node:zlib';

import { SceneDownload } from '../scene_download.mjs';
import { SceneStream } from '../scene_stream.mjs';
import { FakeClock } from './fake_clock.mjs';
import { BUILD, QUIET, CORPUS, haveModule, haveNative, qxtool, scratchFolder, unpackedStream } from './support.mjs';

const skip = !haveModule || !haveNative ? 'needs the native and WebAssembly builds'
  : !fs.existsSync(CORPUS) ? 'no corpus' : false;

// Downloads that the test delivers by hand: sources.get(name).data(bytes) …
function manualSources() {
  const sources = new Map();
  const open = (name, handlers) => {
    const source = { ...handlers, aborted: false, abort() { this.aborted = true; } };
    sources.set(name, source);
    return source;
  };
  return { sources, open };
}

function convert(folder, model, name, ...options) {
  const file = path.join(folder, name);
  qxtool('convert', path.join(CORPUS, model), '-o', file, ...options);
  return file;
}

async function fullTriangles(bytes) {
  const stream = await SceneStream.create(BUILD, QUIET);
  stream.start();
  stream.feed(bytes);
  stream.close();
  const count = stream.triangleCount();
  stream.dispose();
  return count;
}

describe('scene download', { skip }, () => {
  test('a new file name mid-stream discards the old scene before the next one loads', async (t) => {
    const folder = scratchFolder(t);
    const first = unpackedStream(convert(folder, 'obj/assimp/WusonOBJ.obj', 'a.qxz'));
    const second = unpackedStream(convert(folder, '3ds/assimp-nonbsd/cart_wheel.3DS', 'b.qxz'));
    const clock = new FakeClock();
    const { sources, open } = manualSources();
    const stream = await SceneStream.create(BUILD, QUIET);
    const download = new SceneDownload(stream, { kbPerSecond: 8, clock, source: open });

    download.fileName = 'a.qxz';
    sources.get('a.qxz').onData(first);
    clock.advance(2000);
    assert.ok(stream.triangleCount() > 0, 'the first file shows some detail');

    download.fileName = 'b.qxz';
    assert.ok(sources.get('a.qxz').aborted);
    assert.equal(stream.hasScene, false, 'no triangle of the old scene remains');
    assert.equal(stream.triangleCount(), 0);
    clock.advance(1000);
    sources.get('a.qxz').onData(first.subarray(0, 100));  // late bytes of the old download
    assert.equal(stream.hasScene, false);

    sources.get('b.qxz').onData(second);
    sources.get('b.qxz').onEnd();
    clock.advance(60000);
    assert.equal(stream.triangleCount(), await fullTriangles(second));
    stream.dispose();
  });

  test('gzip is unpacked by its magic under either name, plain passes through', async (t) => {
    const folder = scratchFolder(t);
    const packed = fs.readFileSync(convert(folder, 'obj/assimp/WusonOBJ.obj', 'w.qxz'));
    const plain = zlib.gunzipSync(packed);
    const expected = await fullTriangles(plain);
    assert.ok(expected > 0);
    for (const [name, bytes] of [['packed.qx4', packed], ['plain.qxz', plain]]) {
      const { sources, open } = manualSources();
      const stream = await SceneStream.create(BUILD, QUIET);
      const download = new SceneDownload(stream, { kbPerSecond: 1e6, source: open });
      const complete = new Promise((resolve) => download.addEventListener('complete', resolve));
      download.fileName = name;
      for (let at = 0; at < bytes.length; at += 5000) sources.get(name).onData(bytes.subarray(at, at + 5000));
      sources.get(name).onEnd();
      await complete;
      assert.equal(stream.triangleCount(), expected, name);
      stream.dispose();
    }
  });

  test('a decoder that aborts stops the download and reports it; nothing is thrown', async (t) => {
    const folder = scratchFolder(t);
    const bytes = unpackedStream(convert(folder, 'obj/assimp/WusonOBJ.obj', 'a.qxz'));
    const clock = new FakeClock();
    const { sources, open } = manualSources();
    const stream = await SceneStream.create(BUILD, QUIET);
    const download = new SceneDownload(stream, { clock, source: open });
    const errors = [];
    download.addEventListener('error', (event) => errors.push(event.error.message));
    download.fileName = 'a.qxz';
    sources.get('a.qxz').onData(bytes);
    clock.advance(500);
    stream.module._qx_feed = () => { throw new Error('RuntimeError: unreachable'); };
    clock.advance(500);
    assert.deepEqual(errors, ['RuntimeError: unreachable']);
    assert.ok(sources.get('a.qxz').aborted);
    assert.equal(clock.pending, 0);
    assert.equal(stream.hasScene, false);
    assert.equal(stream.triangleCount(), 0);
  });

  test('a download that fails leaves the viewer empty and fires an error', async (t) => {
    const server = http.createServer((request, response) => {
      response.writeHead(404);
      response.end('missing');
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    t.after(() => server.close());
    const stream = await SceneStream.create(BUILD, QUIET);
    const download = new SceneDownload(stream);
    const failed = new Promise((resolve) => download.addEventListener('error', resolve));
    download.fileName = `http://127.0.0.1:${server.address().port}/missing.qxz`;
    const event = await failed;
    assert.match(event.error.message, /404/);
    assert.equal(stream.hasScene, false);
    assert.equal(download.readyState, 0);
    stream.dispose();
  });
});
