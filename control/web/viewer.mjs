// QXRep32Viewer: the control inside one OBJECT element — a WebGL canvas
// filling the element's box, the scene streaming into it at KbPerSecond,
// the control's properties as script properties of the element, ready
// states as "readystatechange" events on it.
import * as THREE from 'three';

import { SceneDownload } from '../scene_download.mjs';
import { SceneStream } from '../scene_stream.mjs';
import { Antialiaser } from './antialias.mjs';
import { cullingPlanes, frustumScale } from './frustum.mjs';
import { openMenu } from './context_menu.mjs';
import { installInteraction } from './interaction.mjs';
import { PROPERTIES, versionFromDate } from './properties.mjs';
import { QXModel, setTwoSideLight } from './qx_model.mjs';
import { SlicedDrawing } from './sliced_drawing.mjs';
import { TargetEasing } from './target_easing.mjs';

const GLOBAL_AMBIENT = 0.2;
// The anti-aliased picture waits until the view has been still this long,
// as the editor waits 24 idle ticks of 40 ms: while a scene streams in or
// the view moves, the nine-fold drawing would be thrown away at once.
const ANTIALIAS_AFTER_MS = 960;
// A drawing that takes less than this (about two display frames) is not paced.
const CHEAP_DRAWING_MS = 25;
// A picture whose drawing would keep the page's thread waiting longer than
// this is drawn in slices; scenes under MIN_SLICED_TRIANGLES never are.
const SLICE_MS = 30;
const MIN_SLICED_TRIANGLES = 20000;

export class QXRep32Viewer {
  /**
   * @param {HTMLElement} element the OBJECT element
   * @param {{decoder: Function, buildDate: string}} options
   */
  constructor(element, { decoder, buildDate }) {
    this.element = element;
    this.values = Object.fromEntries(Object.entries(PROPERTIES).map(([name, [, initial]]) => [name, initial]));
    this.version = versionFromDate(buildDate);
    this.readyState = 0;
    this.framed = false;
    this.mode = 'solid';
    // A frame is drawn only when something changed, as the editor redraws
    // only a window marked dirty: idle frames would take the page's time
    // from the feed and the decoder.
    this.dirty = true;
    this.nextModelFrame = 0;
    this.slicer = new SlicedDrawing();
    this.msPerTriangle = 0;  // measured drawing speed: none until a drawing is slow
    this.pictureCost = 0;  // time spent on the steps of the picture being drawn
    this.prepareBox();
    this.defineProperties();
    if (!this.createRenderer()) return;
    this.ready = SceneStream.create(decoder, { print: () => {}, printErr: () => {} }).then((stream) => this.attach(stream));
  }

  // An OBJECT with nothing the browser can load shows as inline fallback
  // content and ignores the height its style asks for: make it a box.
  prepareBox() {
    const style = this.element.style;
    if (getComputedStyle(this.element).display === 'inline') style.display = 'inline-block';
    style.position = style.position || 'relative';
    style.overflow = 'hidden';
    for (const child of [...this.element.childNodes]) if (child.nodeName !== 'PARAM') child.remove();
  }

  createRenderer() {
    this.canvas = document.createElement('canvas');
    Object.assign(this.canvas.style, { position: 'absolute', left: '0', top: '0', width: '100%', height: '100%',
      outline: 'none' });
    try {
      this.renderer = new THREE.WebGLRenderer({ canvas: this.canvas, preserveDrawingBuffer: true, antialias: false });
    } catch {
      this.element.textContent = 'QXRep32: this browser cannot show WebGL.';
      return false;
    }
    this.element.appendChild(this.canvas);
    this.status = document.createElement('div');
    Object.assign(this.status.style, { position: 'absolute', left: '0', bottom: '0', right: '0', font: '12px sans-serif',
      background: 'rgba(255,255,255,0.8)', padding: '1px 4px', display: 'none' });
    this.element.appendChild(this.status);
    this.scene = new THREE.Scene();
    this.camera = new THREE.PerspectiveCamera(45, 1, 0.01, 1000);
    this.scene.add(this.camera);
    // Light 0 shines from the eye, light 1 from behind the model.
    this.lights = [1, -1].map((z) => {
      const light = new THREE.DirectionalLight(0xffffff, 1.0);
      light.position.set(0, 0, z);
      this.camera.add(light);
      this.camera.add(light.target);
      return light;
    });
    this.scene.add(new THREE.AmbientLight(0xffffff, GLOBAL_AMBIENT * Math.PI));
    installInteraction(this, (event) => {
      const box = this.element.getBoundingClientRect();
      openMenu(this, event.clientX - box.left, event.clientY - box.top);
    });
    new ResizeObserver(() => this.resize()).observe(this.element);
    this.resize();
    this.applyAll();
    this.renderer.setAnimationLoop(() => this.frame());
    return true;
  }

  /**
   * The selective mode (the menu's "Selective (Frustum Demo)"): the tolerance
   * narrows a culling frustum and only what it holds is refined; the green
   * rectangle shows it. Off: meshes are cut at the tolerance.
   */
  get selective() { return this.selectiveMode ?? false; }
  set selective(on) {
    this.selectiveMode = on;
    if (on) this.drawMode = 'hidden-lines';
    this.dirty = true;
  }

  /** One of DRAW_MODES; the context menu chooses it. */
  get drawMode() { return this.mode; }
  set drawMode(mode) {
    this.mode = mode;
    this.dirty = true;
  }

  /** Lighting as a whole ("Enabled Lights"): off, surfaces show their diffuse colour unlit. */
  get lighting() { return this.lightingOn ?? true; }
  set lighting(on) {
    this.lightingOn = on;
    this.dirty = true;
  }

  /** Light 0 (from the eye) or light 1 (from behind the model) on or off. */
  toggleLight(k) {
    this.lights[k].visible = !this.lights[k].visible;
    this.dirty = true;
  }

  attach(stream) {
    this.stream = stream;
    this.model = new QXModel(stream);
    this.scene.add(this.model);
    this.download = new SceneDownload(stream, { kbPerSecond: this.values.KbPerSecond });
    this.download.addEventListener('readystatechange', (event) => this.setReadyState(event.readyState));
    // Once the decoder has the whole file, nothing waits for the page's time.
    this.download.addEventListener('complete', () => { this.nextModelFrame = 0; this.fedCompletely = true; });
    this.download.addEventListener('error', (event) => {
      if (this.fallback) {
        this.download.fileName = this.fallback;
        this.fallback = '';
        return;
      }
      this.element.dispatchEvent(Object.assign(new Event('error'), { error: event.error }));
    });
    this.applyAll();
  }

  // The page written beside a saved scene names it by its full local path
  // ("C:\models\a.qxz", "/home/me/a.qxz"), which no web server serves: when
  // such a name does not load, the file of that name beside the page is tried.
  load(name) {
    if (!this.download) return;
    this.framed = false;
    const base = String(name).split(/[\\/]/).pop();
    const local = /^([a-z]:)?[\\/]/i.test(name) || name.includes('\\');
    this.fallback = local && base ? new URL(base, document.baseURI).href : '';
    let primary = '';
    try {
      primary = name ? new URL(name.replaceAll('\\', '/'), document.baseURI).href : '';
    } catch {
      primary = this.fallback;
    }
    this.download.fileName = primary;
  }

  setReadyState(state) {
    this.readyState = state;
    if (state === 1) this.fedCompletely = false;
    const event = new Event('readystatechange');
    event.readyState = state;
    this.element.dispatchEvent(event);
  }

  defineProperties() {
    const viewer = this;
    for (const [name, [parse]] of Object.entries(PROPERTIES)) {
      Object.defineProperty(this.element, name, {
        configurable: true,
        get: () => (name === 'BackColor' ? colourNumber(viewer.values.BackColor) : viewer.values[name]),
        set: (value) => {
          const parsed = parse(value);
          if (parsed === null) return;
          viewer.values[name] = parsed;
          viewer.apply(name);
        },
      });
    }
    Object.defineProperty(this.element, 'Version', { configurable: true, get: () => viewer.version, set: () => {} });
    Object.defineProperty(this.element, 'readyState', { configurable: true, get: () => viewer.readyState });
    this.element.AboutBox = () => this.about();
    this.element.qxViewer = this;
  }

  applyAll() { for (const name of Object.keys(PROPERTIES)) this.apply(name); }

  apply(name) {
    const v = this.values;
    if (!this.renderer) return;
    if (name) this.dirty = true;
    switch (name) {
      case 'BackColor': this.renderer.setClearColor(new THREE.Color(...v.BackColor)); break;
      case 'ShowStatusBar': this.status.style.display = v.ShowStatusBar ? 'block' : 'none'; break;
      case 'KbPerSecond': if (this.download) this.download.kbPerSecond = v.KbPerSecond; break;
      case 'QXFileName': this.load(v.QXFileName); break;
      default: break;
    }
    if (this.model) {
      this.model.smooth = v.SmoothAngle;
      this.model.tolerance = v.Tolerance;
      // EnableTolerance true turns the cut off: full detail; in the
      // selective mode the tolerance narrows the frustum instead.
      this.model.useTolerance = !v.EnableTolerance && !this.selective;
      this.model.planes = this.selective && this.target ? cullingPlanes(this.camera, this.target, v.Tolerance) : null;
      this.showFrustumRectangle();
      const side = v.CullFace ? THREE.FrontSide : THREE.DoubleSide;
      for (const material of this.model.allMaterials()) {
        if (material.side === side) continue;
        material.side = side;
        material.needsUpdate = true;
      }
      for (const material of this.model.allMaterials()) setTwoSideLight(material, v.TwoSideLight);
      this.model.drawMode = this.drawMode;
      this.model.lighting = this.lighting;
    }
  }

  // The green rectangle of the selective mode, where the frustum meets the view.
  showFrustumRectangle() {
    if (!this.selective) {
      if (this.rectangle) this.rectangle.style.display = 'none';
      return;
    }
    if (!this.rectangle) {
      this.rectangle = document.createElement('div');
      Object.assign(this.rectangle.style, { position: 'absolute', border: '2px solid #00ff00', pointerEvents: 'none',
        boxSizing: 'border-box' });
      this.element.appendChild(this.rectangle);
    }
    const share = Math.min(1, frustumScale(this.values.Tolerance));
    Object.assign(this.rectangle.style, { display: 'block', left: `${50 * (1 - share)}%`, top: `${50 * (1 - share)}%`,
      width: `${100 * share}%`, height: `${100 * share}%` });
  }

  about() {
    const box = document.createElement('div');
    box.textContent = `QXRep32 Control, version ${this.version}`;
    Object.assign(box.style, { position: 'absolute', left: '10%', right: '10%', top: '40%', padding: '8px',
      background: '#eee', border: '1px solid #888', font: '13px sans-serif', textAlign: 'center', cursor: 'pointer' });
    box.addEventListener('click', () => box.remove());
    this.element.appendChild(box);
  }

  resize() {
    const width = Math.max(1, this.element.clientWidth), height = Math.max(1, this.element.clientHeight);
    this.renderer.setSize(width, height, false);
    this.camera.aspect = width / height;
    this.camera.updateProjectionMatrix();
    this.dirty = true;
  }

  frame() {
    const now = performance.now();
    this.measureDrawing(now);
    // The model changes only between pictures: a sliced one must see the
    // same geometry in all its slices (moving the view starts it afresh).
    if (this.model && (this.dirty || (!this.slicer.busy && now >= this.nextModelFrame))) {
      this.apply('');
      if (this.model.refresh()) this.dirty = true;
      if (!this.framed) this.frameCamera();
      // Copying a large mesh out of the decoder is a task of its own: the
      // picture follows on the next frame.
      if (this.dirty && performance.now() - now > SLICE_MS / 2) return;
    }
    if (this.dirty) this.startPicture();
    const idleAntialiasing = !this.picturePending && this.antialiasPending && this.values.Antialiasing &&
      now - this.drawnAt >= ANTIALIAS_AFTER_MS;
    if (!this.picturePending && !idleAntialiasing && !this.values.ShowStatusBar) return;
    this.updateStatus();
    if (this.picturePending) {
      if (this.drawSlice(null)) {
        this.picturePending = false;
        this.drawnAt = now;
      }
    } else if (idleAntialiasing) {
      // Nothing moved for a while: draw it once more, smoothed, a sample
      // (or a slice of one) per frame.
      this.antialiaser ??= new Antialiaser();
      if (this.antialiaser.step(this.renderer, this.camera, (target) => this.drawSlice(target))) {
        this.antialiasPending = false;
      }
    }
  }

  // A new picture: in as many slices as keep each under SLICE_MS at the
  // drawing speed measured so far; small scenes are always drawn at once.
  startPicture() {
    this.dirty = false;
    this.picturePending = true;
    this.antialiasPending = true;
    this.antialiaser?.restart();
    this.pictureCost = 0;
    this.slicer.restart(this.slicesFor(this.model?.triangleCount ?? 0));
  }

  slicesFor(triangles) {
    return triangles < MIN_SLICED_TRIANGLES ? 1 : Math.ceil((triangles * this.msPerTriangle) / SLICE_MS);
  }

  // Draws the next slice of the picture into `target` (null: the canvas).
  // A large scene's drawing waits for its own work, which measures the
  // drawing speed the slicing goes by.
  drawSlice(target) {
    const drawing = this.model ? this.model.drawingPhases() : { phases: [], geometries: [] };
    const triangles = this.model?.triangleCount ?? 0;
    const start = performance.now();
    const complete = this.slicer.step(this.renderer, this.scene, this.camera, drawing, target,
      { wait: triangles >= MIN_SLICED_TRIANGLES });
    // The time of the picture's earlier steps, for the pacing of the next.
    this.lastDraw = { at: start, earlier: this.pictureCost, complete };
    this.pictureCost = complete ? 0 : this.pictureCost + performance.now() - start;
    const drawn = triangles * this.slicer.drawnShare;
    if (triangles >= MIN_SLICED_TRIANGLES && drawn > 0) this.noteDrawingSpeed((performance.now() - start) / drawn);
    return complete;
  }

  // The speed estimate follows a slower drawing at once and a faster one
  // slowly: one slow slice costs more than several short ones.
  noteDrawingSpeed(msPerTriangle) {
    this.msPerTriangle = Math.max(msPerTriangle, 0.8 * this.msPerTriangle + 0.2 * msPerTriangle);
  }

  // A drawing's cost shows as the time until the next animation frame: the
  // page's thread waits there until the picture is on screen (plus, for a
  // picture in slices, the time of its earlier slices). When it is costly,
  // the next picture that only shows more of a loading scene waits so that
  // such drawing takes at most a third of the time, and the feed and the
  // page have the rest. Moving the view still draws at once.
  measureDrawing(now) {
    const last = this.lastDraw;
    if (!last || last.measured || !last.complete) return;
    last.measured = true;
    const cost = last.earlier + now - last.at;
    this.nextModelFrame = cost > CHEAP_DRAWING_MS && !this.fedCompletely ? now + 2 * cost : 0;
  }

  // The first frame with a known box fits the camera to it, as the editor does.
  frameCamera() {
    const box = this.stream.box();
    if (!box || Math.max(...box.half) < 0) return;
    const [cx, cy, cz] = box.centre;
    const s = (2 * Math.hypot(...box.half)) / 3;
    const offset = 2 * s * this.camera.aspect;
    if (!this.target) {
      this.target = new THREE.Vector3();
      this.goal = new THREE.Vector3();
      this.easing = new TargetEasing(this.target, this.goal, () => {
        this.camera.lookAt(this.target);
        this.dirty = true;
      });
    }
    this.easing.stop();
    this.target.set(cx, cy, cz);
    this.goal.copy(this.target);
    this.camera.position.set(cx + offset, cy + offset, cz + offset);
    this.camera.near = Math.max(1e-4, s / 100);
    this.camera.far = s * 100;
    this.camera.lookAt(this.target);
    this.camera.updateProjectionMatrix();
    this.placeAxis(box);
    this.framed = true;
    this.dirty = true;
  }

  /**
   * "Goto selected": the goal becomes the mean of the world centres of the
   * selected instances, or the scene's centre when none is selected, and
   * the target eases there.
   */
  gotoSelected() {
    if (!this.goal || !this.model) return;
    const meshes = this.stream.meshes();
    const centres = this.model.children
      .filter((child) => child.userData.layer === 'fill' && child.userData.selectionBox)
      .map((child) => new THREE.Vector3(...meshes[child.userData.mesh].box.centre).applyMatrix4(child.matrix));
    if (centres.length) this.goal.set(0, 0, 0);
    else this.goal.set(...this.stream.box().centre);
    for (const centre of centres) this.goal.addScaledVector(centre, 1 / centres.length);
    this.easing.start();
  }

  placeAxis(box) {
    if (this.axis) this.scene.remove(this.axis);
    this.axis = new THREE.AxesHelper(Math.max(...box.half) * 1.5);
    this.axis.position.set(...box.centre);
    this.scene.add(this.axis);
  }

  updateStatus() {
    if (this.axis) this.axis.visible = this.values.ShowAxis;
    if (!this.values.ShowStatusBar) return;
    const now = performance.now();
    this.frames = (this.frames ?? 0) + 1;
    if (!this.fpsStart || now - this.fpsStart > 1000) {
      this.fps = this.fpsStart ? (this.frames * 1000) / (now - this.fpsStart) : 0;
      this.fpsStart = now;
      this.frames = 0;
    }
    const loading = this.readyState === 1 && this.stream
      ? `LOAD: ${String(Math.floor((100 * this.stream.bytesRead) / Math.max(1, this.stream.bytesFed))).padStart(2, '0')}%  ` : '';
    this.status.textContent = `${loading}FPS ${this.fps.toFixed(1)}  ${this.model?.triangleCount ?? 0} triangles`;
  }
}

function colourNumber([r, g, b]) {
  return Math.round(r * 255) | (Math.round(g * 255) << 8) | (Math.round(b * 255) << 16);
}

/** Reads the element's PARAMs into its properties (before the viewer starts loading). */
export function readParams(element) {
  const params = {};
  for (const param of element.querySelectorAll('param')) {
    const name = Object.keys(PROPERTIES).find((key) => key.toLowerCase() === String(param.getAttribute('name')).toLowerCase());
    if (name) params[name] = param.getAttribute('value') ?? '';
  }
  return params;
}
