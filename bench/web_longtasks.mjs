#!/usr/bin/env node
// Responsiveness of the page control while a scene streams in: a page with
// the control as `qxtool convert --html` writes it (anti-aliasing on),
// opened in Debian's Chromium, with a `longtask` observer counting the main
// thread's tasks over 50 ms.
//
//   node bench/web_longtasks.mjs SCENE.qxz [--build DIR] [--kbps N] [--seconds S]
//
// Prints the (unpacked) bytes fed and triangles shown after S seconds or
// once the whole file is fed, the count of long tasks, those over 100 ms and the
// longest, and the ten longest with their time, bytes fed and triangles.
// The first task (the module and the shaders being compiled) is part of it.
// Under the software WebGL of a headless browser, drawing shows as main
// thread time (the compositor waits for the picture), which a page on a
// graphics card does not pay.
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

const root = fileURLToPath(new URL('..', import.meta.url));
const { values, positionals } = parseArgs({
  allowPositionals: true,
  options: {
    build: { type: 'string', default: path.join(root, 'build/release') },
    kbps: { type: 'string', default: '8' },
    seconds: { type: 'string', default: '30' },
  },
});
if (positionals.length !== 1) {
  console.error('usage: node bench/web_longtasks.mjs SCENE.qxz [--build DIR] [--kbps N] [--seconds S]');
  process.exit(2);
}
const scene = path.resolve(positionals[0]);
const FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
  '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run'];

// The page and its files in a folder of their own.
function preparePage(folder) {
  fs.copyFileSync(scene, path.join(folder, 'scene.qxz'));
  fs.copyFileSync(path.join(values.build, 'control/qxrep32.js'), path.join(folder, 'qxrep32.js'));
  fs.writeFileSync(path.join(folder, 'page.htm'), `<HTML><BODY>
<OBJECT classid=clsid:9F82DFD3-D1E5-43F3-99F3-49FE6560937C id=QXRep32 style="HEIGHT: 320px; WIDTH: 380px">
<PARAM NAME="QXFileName" VALUE="scene.qxz"><PARAM NAME="KbPerSecond" VALUE=${Number(values.kbps)}>
<PARAM NAME="Antialiasing" VALUE=1></OBJECT>
<SCRIPT src="qxrep32.js"></SCRIPT></BODY></HTML>`);
}

function serve(folder) {
  const server = http.createServer((request, response) => {
    const file = path.join(folder, path.basename(new URL(request.url, 'http://host').pathname));
    if (!fs.existsSync(file)) {
      response.writeHead(404);
      response.end();
      return;
    }
    const type = file.endsWith('.js') ? 'text/javascript' : file.endsWith('.htm') ? 'text/html' : 'application/octet-stream';
    response.writeHead(200, { 'content-type': type });
    response.end(fs.readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'vermelle-longtasks-'));
preparePage(folder);
const server = await serve(folder);
const { chromium } = await import(path.join(root, 'control/node_modules/playwright-core/index.mjs'));
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: FLAGS });
try {
  const page = await browser.newPage();
  await page.addInitScript(() => {
    window.longTasks = [];
    new PerformanceObserver((list) => {
      const viewer = document.getElementById('QXRep32')?.qxViewer;
      for (const entry of list.getEntries()) {
        window.longTasks.push([Math.round(entry.startTime), Math.round(entry.duration), viewer?.stream?.bytesFed ?? 0,
          viewer?.model?.triangleCount ?? 0]);
      }
    }).observe({ type: 'longtask', buffered: true });
  });
  await page.goto(`http://127.0.0.1:${server.address().port}/page.htm`);
  const size = fs.statSync(scene).size;
  const state = () => page.evaluate(() => {
    const viewer = QXRep32.qxViewer;
    return [viewer.stream?.bytesFed ?? 0, viewer.model?.triangleCount ?? 0, viewer.fedCompletely];
  });
  const end = Date.now() + Number(values.seconds) * 1000;
  while (Date.now() < end && !(await state())[2]) await page.waitForTimeout(250);
  await page.waitForTimeout(1500);  // the last refinement and the anti-aliased picture
  const [fed, triangles] = await state();
  const tasks = await page.evaluate(() => window.longTasks);
  const longest = tasks.map((task) => task[1]).reduce((a, b) => Math.max(a, b), 0);
  console.log(`${path.basename(scene)} (${size} bytes) at ${values.kbps} KB/s: ${fed} bytes fed to the decoder (unpacked), ` +
    `${triangles} triangles shown`);
  console.log(`long tasks: ${tasks.length}, over 100 ms: ${tasks.filter((task) => task[1] > 100).length}, longest ${longest} ms`);
  console.log('longest ten [start ms, duration ms, unpacked bytes fed, triangles]:');
  console.log(JSON.stringify(tasks.sort((a, b) => b[1] - a[1]).slice(0, 10)));
} finally {
  await browser.close();
  server.close();
  fs.rmSync(folder, { recursive: true, force: true });
}
