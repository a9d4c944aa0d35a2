// The page that `qxtool convert --html` writes, in Debian's Chromium driven
// by playwright-core: the model appears and refines at KbPerSecond, the
// control's properties do what they should, showModel switches files.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { BUILD, CORPUS, ROOT, haveNative, nativeSoup, qxtool } from './support.mjs';

const CHROMIUM = '/usr/bin/chromium';
const PLAYWRIGHT = path.join(ROOT, 'control/node_modules/playwright-core/index.mjs');
const BUNDLE = path.join(BUILD, 'control/qxrep32.js');
const skip = !haveNative || !fs.existsSync(BUNDLE) ? 'needs the native build and qxrep32.js'
  : !fs.existsSync(CHROMIUM) || !fs.existsSync(PLAYWRIGHT) ? 'needs chromium and playwright-core'
    : !fs.existsSync(CORPUS) ? 'no corpus' : false;
const FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
  '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run'];

function serve(folder) {
  const types = { '.js': 'text/javascript', '.mjs': 'text/javascript', '.htm': 'text/html', '.html': 'text/html' };
  const server = http.createServer((request, response) => {
    const file = path.join(folder, path.normalize(decodeURIComponent(new URL(request.url, 'http://host').pathname)));
    if (!file.startsWith(folder) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, { 'content-type': types[path.extname(file)] ?? 'application/octet-stream' });
    response.end(fs.readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// Share of the pixels of a PNG screenshot that differ from its corner pixel.
async function coverage(page, locator) {
  return page.evaluate(async (png) => {
    const image = await createImageBitmap(await (await fetch(`data:image/png;base64,${png}`)).blob());
    const canvas = new OffscreenCanvas(image.width, image.height);
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    const { data } = context.getImageData(0, 0, image.width, image.height);
    let covered = 0;
    for (let i = 0; i < data.length; i += 4)
      if (Math.abs(data[i] - data[0]) + Math.abs(data[i + 1] - data[1]) + Math.abs(data[i + 2] - data[2]) > 30) ++covered;
    return covered / (image.width * image.height);
  }, (await locator.screenshot()).toString('base64'));
}

// Share of the pixels of a binary PPM that differ from its corner pixel.
function ppmCoverage(file) {
  const bytes = fs.readFileSync(file);
  const header = /^P6\s+(?:#[^\n]*\n\s*)*(\d+)\s+(\d+)\s+(\d+)\s/.exec(bytes.subarray(0, 100).toString('latin1'));
  const pixels = bytes.subarray(header[0].length);
  let covered = 0;
  for (let i = 0; i < pixels.length; i += 3)
    if (Math.abs(pixels[i] - pixels[0]) + Math.abs(pixels[i + 1] - pixels[1]) + Math.abs(pixels[i + 2] - pixels[2]) > 30) ++covered;
  return covered / (Number(header[1]) * Number(header[2]));
}

describe('the generated page in Chromium', { skip }, () => {
  let folder, server, browser, base;
  const models = {};

  before(async () => {
    folder = fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'vermelle-page-')));
    for (const [name, model] of [['wuson', 'obj/assimp/WusonOBJ.obj'], ['wheel', '3ds/assimp-nonbsd/cart_wheel.3DS']]) {
      qxtool('convert', path.join(CORPUS, model), '-o', path.join(folder, `${name}.qxz`), '--html');
      models[name] = nativeSoup(path.join(folder, `${name}.qxz`), folder).faces.length / 3;
    }
    // One square whose front faces away from the first view's eye (its normal is −z).
    fs.writeFileSync(path.join(folder, 'plane.obj'), 'v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 4 3\nf 1 3 2\n');
    qxtool('convert', path.join(folder, 'plane.obj'), '-o', path.join(folder, 'plane.qxz'));
    // The page names its scene by the full local path, which the server does
    // not serve: the control falls back to the file beside the page.
    assert.match(fs.readFileSync(path.join(folder, 'wuson.htm'), 'utf8'), new RegExp(`VALUE="${folder}/wuson.qxz"`));
    assert.ok(fs.existsSync(path.join(folder, 'qxrep32.js')), 'convert --html puts the control beside the page');
    server = await serve(folder);
    base = `http://127.0.0.1:${server.address().port}`;
    const { chromium } = await import(PLAYWRIGHT);
    browser = await chromium.launch({ executablePath: CHROMIUM, args: FLAGS });
  });
  after(async () => {
    await browser?.close();
    server?.close();
    fs.rmSync(folder, { recursive: true, force: true });
  });

  // Opens the page and records ready states and triangle counts as they come.
  async function open() {
    const page = await browser.newPage();
    await page.addInitScript(() => {
      window.samples = [];
      window.states = [];
      document.addEventListener('DOMContentLoaded', () => {
        const element = document.getElementById('QXRep32');
        element.addEventListener('readystatechange', (event) => window.states.push(event.readyState));
        const start = performance.now();
        setInterval(() => window.samples.push([performance.now() - start, element.qxViewer?.model?.triangleCount ?? 0]), 50);
      });
    });
    await page.goto(`${base}/wuson.htm`);
    return page;
  }

  async function waitForTriangles(page, count) {
    await page.waitForFunction((n) => (QXRep32.qxViewer.model?.triangleCount ?? -1) === n, count, { timeout: 20000 });
  }

  test('the model appears, refines at KbPerSecond and ends at full detail', async () => {
    const page = await open();
    await page.waitForFunction((n) => window.samples.at(-1)?.[1] === n, models.wuson, { timeout: 20000 });
    const samples = await page.evaluate(() => window.samples);
    const counts = samples.map(([, count]) => count);
    assert.ok(counts.every((count, k) => k === 0 || count >= counts[k - 1]), 'the count never drops');
    assert.ok(new Set(counts.filter((c) => c > 0)).size > 5, 'several steps of detail are shown');
    const started = samples.find(([, count]) => count > 0)[0];
    const finished = samples.find(([, count]) => count === models.wuson)[0];
    const expected = (fs.statSync(path.join(folder, 'wuson.qxz')).size / (8 * 1024)) * 1000;
    assert.ok(Math.abs(finished - expected) < 0.25 * expected, `complete after ${finished} ms, expected ${expected}`);
    assert.ok(started < finished / 2);
    assert.deepEqual(await page.evaluate(() => window.states), [1, 4]);

    const ppm = path.join(folder, 'wuson.ppm');
    qxtool('render', path.join(folder, 'wuson.qxz'), '-o', ppm, '--width', '380', '--height', '320', '--back', 'FFFFFF');
    const shown = await coverage(page, page.locator('#QXRep32'));
    const offscreen = ppmCoverage(ppm);
    assert.ok(shown > offscreen / 2 && shown < offscreen * 2, `coverage ${shown} against ${offscreen} offscreen`);
    const box = await page.locator('#QXRep32').boundingBox();
    assert.deepEqual([box.width, box.height], [380, 320], 'the element takes the box its style asks for');
    await page.close();
  });

  test('properties change what they should; bad values are clamped or refused', async () => {
    const page = await open();
    await waitForTriangles(page, models.wuson);
    const year = new Date().getUTCFullYear();
    const version = await page.evaluate(() => QXRep32.Version);
    assert.ok(version > (year - 1) * 10000 - 17999500 && version < (year + 1) * 10000 - 17999500, `Version ${version}`);

    await page.evaluate(() => { QXRep32.Tolerance = 0.9; });
    await page.waitForFunction((n) => QXRep32.qxViewer.model.triangleCount < n / 2, models.wuson);
    await page.evaluate(() => { QXRep32.EnableTolerance = true; });
    await waitForTriangles(page, models.wuson);
    await page.evaluate(() => { QXRep32.EnableTolerance = false; QXRep32.Tolerance = -3; });
    assert.equal(await page.evaluate(() => QXRep32.Tolerance), 0);
    await waitForTriangles(page, models.wuson);

    const element = page.locator('#QXRep32');
    const plainView = await element.screenshot();
    await page.evaluate(() => { QXRep32.ShowAxis = true; QXRep32.ShowStatusBar = true; });
    await page.waitForTimeout(300);
    assert.notDeepEqual(await element.screenshot(), plainView, 'the axis shows');
    assert.match(await element.innerText(), new RegExp(`FPS [\\d.]+ +${models.wuson} triangles`), 'the status line shows');
    await page.evaluate(() => { QXRep32.ShowAxis = false; QXRep32.ShowStatusBar = false; });

    await page.evaluate(() => { QXRep32.SmoothAngle = 1; });
    await page.waitForTimeout(300);
    const smooth = await element.screenshot();
    await page.evaluate(() => { QXRep32.SmoothAngle = 0; });
    await page.waitForTimeout(300);
    assert.notDeepEqual(await element.screenshot(), smooth, 'flat and smooth shading differ');
    await page.evaluate(() => { QXRep32.SmoothAngle = 7; QXRep32.KbPerSecond = 0; QXRep32.BackColor = 'no colour'; });
    assert.deepEqual(await page.evaluate(() => [QXRep32.SmoothAngle, QXRep32.KbPerSecond, QXRep32.BackColor]), [1, 1, 0xffffff]);

    // Anti-aliasing smooths the edges once the picture is still: more shades
    // of grey than the plain picture has.
    const shades = async () => page.evaluate(async (png) => {
      const image = await createImageBitmap(await (await fetch(`data:image/png;base64,${png}`)).blob());
      const context = new OffscreenCanvas(image.width, image.height).getContext('2d');
      context.drawImage(image, 0, 0);
      const { data } = context.getImageData(0, 0, image.width, image.height);
      const seen = new Set();
      for (let i = 0; i < data.length; i += 4) seen.add((data[i] << 16) | (data[i + 1] << 8) | data[i + 2]);
      return seen.size;
    }, (await element.screenshot()).toString('base64'));
    await page.evaluate(() => { QXRep32.SmoothAngle = 1; QXRep32.Antialiasing = false; });
    await page.waitForTimeout(300);
    const plain = await shades();
    await page.evaluate(() => { QXRep32.Antialiasing = true; });
    await page.waitForTimeout(1500);  // the smoothed picture waits for about a second of stillness
    const smoothed = await shades();
    assert.ok(smoothed > plain + 5, `anti-aliasing adds shades along the edges: ${plain} plain, ${smoothed} smoothed`);

    await page.evaluate(() => { QXRep32.BackColor = 0x0000ff; });  // red, as an OLE colour
    await page.waitForTimeout(300);
    const corner = await page.evaluate(() => {
      const gl = QXRep32.qxViewer.renderer.getContext();
      const pixel = new Uint8Array(4);
      gl.readPixels(1, 1, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
      return [...pixel.subarray(0, 3)];
    });
    assert.deepEqual(corner, [255, 0, 0]);
    await page.close();
  });

  test('the idle antialiased picture is as bright as the plain one', async () => {
    const page = await open();
    await waitForTriangles(page, models.wuson);
    // The mean colour of the pixels that are not the white background.
    const modelShade = async () => {
      await page.waitForTimeout(1800);  // past the idle delay of the antialiasing
      return page.evaluate(() => {
        const gl = QXRep32.qxViewer.renderer.getContext();
        const [width, height] = [gl.drawingBufferWidth, gl.drawingBufferHeight];
        const pixels = new Uint8Array(width * height * 4);
        gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, pixels);
        let sum = 0, count = 0;
        for (let i = 0; i < pixels.length; i += 4) {
          const shade = (pixels[i] + pixels[i + 1] + pixels[i + 2]) / 3;
          if (shade < 240) sum += shade, ++count;
        }
        return sum / count;
      });
    };
    await page.evaluate(() => { QXRep32.Antialiasing = false; });
    const plain = await modelShade();
    await page.evaluate(() => { QXRep32.Antialiasing = true; });
    const antialiased = await modelShade();
    assert.ok(Math.abs(antialiased - plain) < 12, `mean shade ${antialiased} antialiased, ${plain} plain`);
    await page.close();
  });

  test('a picture drawn in slices is the picture drawn at once', async () => {
    const page = await open();
    await waitForTriangles(page, models.wuson);
    const picture = async (slices, mode) => {
      await page.evaluate(([n, m]) => {
        const viewer = QXRep32.qxViewer;
        viewer.slicesFor = () => n;
        viewer.drawMode = m;
      }, [slices, mode]);
      await page.waitForTimeout(600);
      return page.evaluate(() => {
        const gl = QXRep32.qxViewer.renderer.getContext();
        const pixels = new Uint8Array(gl.drawingBufferWidth * gl.drawingBufferHeight * 4);
        gl.readPixels(0, 0, gl.drawingBufferWidth, gl.drawingBufferHeight, gl.RGBA, gl.UNSIGNED_BYTE, pixels);
        return Array.from(pixels);
      });
    };
    await page.evaluate(() => { QXRep32.Antialiasing = false; });
    for (const mode of ['solid', 'hidden-lines']) {
      const whole = await picture(1, mode);
      const sliced = await picture(5, mode);
      let differing = 0, covered = 0;
      for (let i = 0; i < whole.length; i += 4) {
        if (Math.abs(whole[i] - sliced[i]) + Math.abs(whole[i + 1] - sliced[i + 1]) > 6) ++differing;
        if (whole[i] < 240) ++covered;
      }
      assert.ok(covered > 1000, `${mode}: the model shows (${covered} pixels)`);
      assert.ok(differing <= covered / 200, `${mode}: ${differing} of ${covered} pixels differ`);
    }
    await page.close();
  });

  test('TwoSideLight lights the back of a surface as its front', async () => {
    const page = await open();
    await page.evaluate(() => showModel('plane.qxz'));
    await waitForTriangles(page, 2);
    const element = page.locator('#QXRep32');
    // Light 1 shines from behind the model, onto the front of a face seen
    // from the back: with it off, only two-sided lighting lights that face.
    await element.click({ button: 'right', position: { x: 10, y: 10 } });
    await page.locator('[role=menuitemcheckbox]', { hasText: /Lilght 1$/ }).click();
    const centre = async () => {
      await page.waitForTimeout(300);
      return page.evaluate(() => {
        const gl = QXRep32.qxViewer.renderer.getContext();
        const pixel = new Uint8Array(4);
        gl.readPixels(gl.drawingBufferWidth / 2, gl.drawingBufferHeight / 2, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
        return pixel[0] + pixel[1] + pixel[2];
      });
    };
    const oneSided = await centre();
    await page.evaluate(() => { QXRep32.TwoSideLight = true; });
    const twoSided = await centre();
    assert.ok(twoSided > oneSided + 60, `back face ${oneSided} one-sided, ${twoSided} two-sided`);
    // Drawn flat (the normal from the triangle's plane), the face is lit alike.
    await page.evaluate(() => { QXRep32.SmoothAngle = 0; });
    assert.ok(Math.abs((await centre()) - twoSided) <= 3, 'flat, two-sided');
    await page.evaluate(() => { QXRep32.TwoSideLight = false; });
    assert.ok(Math.abs((await centre()) - oneSided) <= 3, 'flat, one-sided');
    await page.evaluate(() => { QXRep32.TwoSideLight = true; QXRep32.SmoothAngle = 1; });
    // "Enabled Lights" off: the face shows the default material's diffuse
    // grey (0.8) flat, in the canvas's sRGB.
    await element.click({ button: 'right', position: { x: 10, y: 10 } });
    await page.locator('[role=menuitemcheckbox]', { hasText: /Enabled Lights$/ }).click();
    const unlit = 3 * 255 * (1.055 * 0.8 ** (1 / 2.4) - 0.055);
    assert.ok(Math.abs((await centre()) - unlit) < 6, `unlit face ${await centre()}, expected ${unlit}`);
    await element.click({ button: 'right', position: { x: 10, y: 10 } });
    await page.locator('[role=menuitemcheckbox]', { hasText: /Enabled Lights$/ }).click();
    assert.equal(await centre(), twoSided, 'lighting comes back');
    await page.evaluate(() => { QXRep32.CullFace = true; });
    assert.equal(await centre(), 3 * 255, 'culling removes the back face');
    await page.close();
  });

  test('the context menu switches draw modes', async () => {
    const page = await open();
    await waitForTriangles(page, models.wuson);
    const element = page.locator('#QXRep32');
    const choose = async (text) => {
      await element.click({ button: 'right', position: { x: 10, y: 10 } });
      await page.locator('[role=menuitemcheckbox]', { hasText: new RegExp(`\\s${text}$`) }).click();
      await page.waitForTimeout(300);
      return coverage(page, element);
    };
    const solid = await coverage(page, element);
    const edges = await choose('Edges');
    const hiddenLines = await choose('Hidden lines');
    const points = await choose('Points');
    assert.ok(edges > 0 && edges < solid, `edges ${edges}, solid ${solid}`);
    assert.ok(hiddenLines > 0 && hiddenLines < edges, `hidden lines ${hiddenLines}, edges ${edges}`);
    assert.ok(points > 0 && points < edges, `points ${points}`);
    assert.equal(await choose('Solid'), solid);
    await page.close();
  });

  test('the three.js example streams a model with QXLoader', async () => {
    fs.copyFileSync(path.join(ROOT, 'control/examples/stream.html'), path.join(folder, 'stream.html'));
    fs.copyFileSync(path.join(BUILD, 'control/qxloader.mjs'), path.join(folder, 'qxloader.mjs'));
    fs.copyFileSync(path.join(ROOT, 'control/node_modules/three/build/three.module.js'), path.join(folder, 'three.module.js'));
    const page = await browser.newPage();
    await page.goto(`${base}/stream.html?file=wheel.qxz&kbps=4`);
    await page.waitForFunction(() => window.model?.triangleCount > 0);
    assert.ok(await page.evaluate(() => window.model.triangleCount) < models.wheel, 'it shows the model before it is complete');
    await page.waitForFunction((n) => document.getElementById('info').textContent === `complete: ${n} triangles`,
      models.wheel, { timeout: 20000 });
    assert.ok(await coverage(page, page.locator('#view')) > 0.01);
    await page.close();
  });

  test('the selective mode refines only inside the narrowed frustum and shows it', async () => {
    const page = await open();
    await waitForTriangles(page, models.wuson);
    const element = page.locator('#QXRep32');
    await element.click({ button: 'right', position: { x: 10, y: 10 } });
    await page.locator('[role=menuitemcheckbox]', { hasText: /Selective/ }).click();
    await page.evaluate(() => { QXRep32.Tolerance = 0.9; });
    await page.waitForFunction((n) => QXRep32.qxViewer.model.triangleCount < n, models.wuson);
    const narrow = await page.evaluate(() => QXRep32.qxViewer.model.triangleCount);
    assert.ok(narrow > 0, 'what the frustum leaves out stays coarse, not missing');
    assert.equal(await page.evaluate(() => QXRep32.qxViewer.drawMode), 'hidden-lines');
    const rectangle = await page.evaluate(() => {
      const style = QXRep32.qxViewer.rectangle.style;
      return [style.display, style.width];
    });
    assert.equal(rectangle[0], 'block');
    assert.ok(Math.abs(parseFloat(rectangle[1]) - 15) < 0.01);
    await page.evaluate(() => { QXRep32.Tolerance = 0; });
    await waitForTriangles(page, models.wuson);
    await page.close();
  });

  test('mouse: drag orbits, the wheel zooms, Shift+click selects', async () => {
    const page = await open();
    await waitForTriangles(page, models.wuson);
    const element = page.locator('#QXRep32');
    const box = await element.boundingBox();
    const centre = [box.x + box.width / 2, box.y + box.height / 2];
    const before = await element.screenshot();
    await page.mouse.move(...centre);
    await page.mouse.down();
    await page.mouse.move(centre[0] + 60, centre[1] + 10, { steps: 5 });
    await page.mouse.up();
    await page.waitForTimeout(200);
    assert.notDeepEqual(await element.screenshot(), before, 'the drag turned the view');
    const covered = await coverage(page, element);
    await page.mouse.wheel(0, -300);
    await page.waitForTimeout(200);
    assert.ok(await coverage(page, element) > covered, 'zooming in covers more');
    // The model is under the centre after a zoom towards its centre.
    const selected = () => page.evaluate(() => QXRep32.qxViewer.scene.children.filter((c) => c.type === 'BoxHelper').length);
    await page.keyboard.down('Shift');
    await page.mouse.click(...centre);
    await page.keyboard.up('Shift');
    assert.equal(await selected(), 1);
    await page.keyboard.down('Shift');
    await page.mouse.click(...centre);
    await page.keyboard.up('Shift');
    assert.equal(await selected(), 0);
    // Selected again, then a click on the background clears it.
    await page.keyboard.down('Shift');
    await page.mouse.click(...centre);
    await page.mouse.click(box.x + 2, box.y + 2);
    await page.keyboard.up('Shift');
    assert.equal(await selected(), 0);
    await page.close();
  });

  test('Ctrl+G glides the view back to the scene from a look-around', async () => {
    const page = await open();
    await waitForTriangles(page, models.wuson);
    const box = await page.locator('#QXRep32').boundingBox();
    const centre = [box.x + box.width / 2, box.y + box.height / 2];
    await page.keyboard.down('Control');
    await page.mouse.move(...centre);
    await page.mouse.down();
    await page.mouse.move(centre[0] + 40, centre[1], { steps: 4 });
    await page.mouse.up();
    await page.keyboard.up('Control');
    const offCentre = () => page.evaluate(() => {
      const [x, y, z] = QXRep32.qxViewer.stream.box().centre;
      return QXRep32.qxViewer.target.distanceTo({ x, y, z });
    });
    const away = await offCentre();
    assert.ok(away > 0.5, `the look-around turned the view by ${away}`);
    await page.keyboard.press('Control+g');
    await page.waitForTimeout(200);
    const gliding = await offCentre();
    assert.ok(gliding < away && gliding > 0.5 * away, `${gliding} on the way from ${away}`);
    await page.waitForFunction(() => QXRep32.qxViewer.target.equals(QXRep32.qxViewer.goal), null, { timeout: 10000 });
    assert.ok(await offCentre() < 1e-5);
    await page.close();
  });

  test('without WebGL the element says so in one line', async () => {
    const page = await browser.newPage();
    await page.addInitScript(() => {
      const getContext = HTMLCanvasElement.prototype.getContext;
      HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
        return /webgl/.test(kind) ? null : getContext.call(this, kind, ...rest);
      };
    });
    await page.goto(`${base}/wuson.htm`);
    await page.waitForFunction(() => QXRep32.textContent.includes('WebGL'));
    assert.equal((await page.locator('#QXRep32').innerText()).trim().split('\n').length, 1);
    const box = await page.locator('#QXRep32').boundingBox();
    assert.deepEqual([box.width, box.height], [380, 320]);
    await page.close();
  });

  test('showModel switches files and discards the first scene', async () => {
    const page = await open();
    await page.waitForFunction(() => (QXRep32.qxViewer.model?.triangleCount ?? 0) > 0);
    const left = await page.evaluate(() => {
      showModel('wheel.qxz');
      QXRep32.qxViewer.model.refresh();
      return QXRep32.qxViewer.model.triangleCount;
    });
    assert.equal(left, 0, 'no triangle of the first scene remains');
    await waitForTriangles(page, models.wheel);
    assert.deepEqual(await page.evaluate(() => window.states), [1, 4, 1, 4]);
    assert.equal(await page.evaluate(() => QXRep32.QXFileName), './wheel.qxz');
    await page.close();
  });
});
