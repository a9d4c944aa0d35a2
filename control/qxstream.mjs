#!/usr/bin/env node
// qxstream: streams a scene file through the WebAssembly decoder at a line
// rate, as the web viewer's data feed does, and reports how it refines.
//
//   node control/qxstream.mjs FILE [--kbps N] [--build DIR]
//
// Prints a line per 250 ms of stream time, "<ms> <bytes fed> <triangles at
// full detail>", then "total <triangles>". N defaults to 8 (KB/s); DIR is
// the build folder holding control/vermelle_decoder.mjs (default
// build/release, the one ./run.sh builds).
import fs from 'node:fs';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

import { SceneDownload } from './scene_download.mjs';
import { SceneStream } from './scene_stream.mjs';

const REPORT_MS = 250;

/** A downloader over a local file: the bytes arrive as fast as the disk gives them. */
export function fileSource(name, { onData, onEnd, onError }) {
  const input = fs.createReadStream(name);
  input.on('data', (chunk) => onData(new Uint8Array(chunk.buffer, chunk.byteOffset, chunk.length)));
  input.on('end', onEnd);
  input.on('error', onError);
  return { abort: () => input.destroy() };
}

function usage(message) {
  console.error(`${message}\nusage: node control/qxstream.mjs FILE [--kbps N] [--build DIR]`);
  process.exit(2);
}

async function main() {
  // A reader that stops early (| head) ends the run quietly.
  process.stdout.on('error', (error) => process.exit(error.code === 'EPIPE' ? 0 : 1));
  let parsed;
  try {
    parsed = parseArgs({ allowPositionals: true, options: { kbps: { type: 'string' }, build: { type: 'string' } } });
  } catch (error) {
    usage(error.message);
  }
  const { values, positionals } = parsed;
  if (positionals.length !== 1) usage('qxstream needs one scene FILE');
  const kbps = values.kbps === undefined ? 8 : Number(values.kbps);
  if (!Number.isFinite(kbps)) usage(`--kbps ${values.kbps}: not a number`);
  const build = values.build ?? fileURLToPath(new URL('../build/release', import.meta.url));

  // The decoder's own diagnostics go to standard error, the report alone to standard output.
  const toStderr = (text) => process.stderr.write(`${text}\n`);
  const stream = await SceneStream.create(build, { print: toStderr, printErr: toStderr });
  const download = new SceneDownload(stream, { kbPerSecond: kbps, source: fileSource });
  const started = performance.now();
  let ticks = 0;
  const report = () => console.log(`${ticks * REPORT_MS} ${download.bytesFed} ${stream.triangleCount()}`);
  const timer = setInterval(() => {
    ++ticks;
    report();
  }, REPORT_MS);

  await new Promise((resolve) => {
    download.addEventListener('complete', resolve);
    download.addEventListener('error', (event) => {
      console.error(`${positionals[0]}: ${event.error.message}`);
      process.exitCode = 1;
      resolve();
    });
    download.fileName = positionals[0];
  });
  clearInterval(timer);
  const elapsed = performance.now() - started;
  if (elapsed > ticks * REPORT_MS) {
    ticks = Math.ceil(elapsed / REPORT_MS);
    report();
  }
  console.log(`total ${stream.triangleCount()}`);
  stream.dispose();
}

main();
