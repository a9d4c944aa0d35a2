// SceneDownload: the control's data path. Downloads the file named by
// `fileName` and hands it, paced at `kbPerSecond`, through the gzip check to
// a SceneStream, firing "readystatechange" (ready state 1 at the first data,
// 4 at the last), "fed" (after each chunk), "complete" (the decoder has the
// whole file) and "error"
// (a failed download leaves the viewer empty; one broken off midway, or a
// broken packing, keeps the detail that came).
//
// A new file name stops the current download, closes the decoder's pipe and
// discards the partial scene before the next download starts.

import { PacedFeed, realClock } from './paced_feed.mjs';
import { UnpackingSink } from './unpacking_sink.mjs';

/**
 * Downloads `name` with fetch and a streaming body. Returns { abort }.
 * @param {string} name
 * @param {{onData: (bytes: Uint8Array) => void, onEnd: () => void, onError: (error: Error) => void}} handlers
 */
export function fetchSource(name, { onData, onEnd, onError }) {
  const controller = new AbortController();
  (async () => {
    const response = await fetch(name, { signal: controller.signal });
    if (!response.ok) throw new Error(`${name}: ${response.status} ${response.statusText}`);
    const reader = response.body.getReader();
    for (;;) {
      const { value, done } = await reader.read();
      if (done) break;
      onData(value);
    }
    onEnd();
  })().catch((error) => {
    if (!controller.signal.aborted) onError(error);
  });
  return { abort: () => controller.abort() };
}

export class SceneDownload extends EventTarget {
  /**
   * @param {import('./scene_stream.mjs').SceneStream} stream the decoder
   * @param {{kbPerSecond?: number, clock?: object, source?: typeof fetchSource}} options
   */
  constructor(stream, { kbPerSecond = 8, clock = realClock, source = fetchSource } = {}) {
    super();
    this.stream = stream;
    stream.onFailure = (error) => {
      this.stop();
      this.report(error);
    };
    this.source = source;
    this.sink = new UnpackingSink(stream, { onError: (error) => this.report(error) });
    this.feed = new PacedFeed(this.sink, { kbPerSecond, clock });
    this.feed.addEventListener('readystatechange', (event) => this.forward(event));
    for (const type of ['complete', 'fed']) this.feed.addEventListener(type, () => this.dispatchEvent(new Event(type)));
    this.download = null;
    this.fileNameValue = '';
  }

  get kbPerSecond() { return this.feed.kbPerSecond; }
  set kbPerSecond(value) { this.feed.kbPerSecond = value; }
  get readyState() { return this.feed.readyState; }
  /** Downloaded bytes handed to the decoder so far. */
  get bytesFed() { return this.feed.bytesFed; }

  get fileName() { return this.fileNameValue; }
  /** Starts downloading `name`, dropping whatever was loading or loaded. */
  set fileName(name) {
    this.fileNameValue = name;
    this.stop();
    this.sink.release();
    if (!name) return;
    let first = true;
    const download = this.source(name, {
      onData: (bytes) => {
        if (this.download !== download) return;
        this.feed.dataAvailable(bytes, { first });
        first = false;
      },
      onEnd: () => {
        if (this.download === download) this.feed.dataAvailable(new Uint8Array(0), { first, last: true });
      },
      onError: (error) => {
        if (this.download !== download) return;
        if (first) {
          this.fail(error);
          return;
        }
        // Broken off midway: what came is shown, as a truncated file is.
        this.download = null;
        this.feed.dataAvailable(new Uint8Array(0), { last: true });
        this.report(error);
      },
    });
    this.download = download;
  }

  /** Stops the download and the feed and closes the decoder's pipe. */
  stop() {
    if (this.download) this.download.abort();
    this.download = null;
    this.feed.stop();
  }

  // No data came: the viewer stays empty.
  fail(error) {
    this.stop();
    this.sink.release();
    this.report(error);
  }

  report(error) {
    const event = new Event('error');
    event.error = error;
    this.dispatchEvent(event);
  }

  forward(event) {
    const copy = new Event('readystatechange');
    copy.readyState = event.readyState;
    this.dispatchEvent(copy);
  }
}
