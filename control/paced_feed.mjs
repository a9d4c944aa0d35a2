// PacedFeed: hands downloaded bytes to a decoder at a fixed line rate, as the
// control's data feed does, whatever speed the download itself has.
//
// Downloaded bytes are queued as they arrive (`dataAvailable`). A timer
// takes them out in chunks of 1024 bytes, one chunk per 1000 / KbPerSecond
// ms measured from the previous read, so a late timer sends one chunk and
// pacing resumes from its time: lateness never adds up to a burst. The
// timer stops when the queue is empty and the next data restarts it. The
// first data resets the scene and opens the decoder's pipe (ready state 1);
// the last data sets ready state 4; the pipe is closed once the complete
// download has been fed. Both ready states are fired as "readystatechange"
// events, "fed" follows every chunk, and "complete" comes once the decoder
// has the whole file.
//
// The sink is the decoder side: start() (StartPipe, after dropping the old
// scene), feed(bytes) → bytes accepted, close() (ClosePipe), release()
// (SetScene with none).

export const CHUNK_BYTES = 1024;
export const READY_LOADING = 1;
export const READY_COMPLETE = 4;
// The longest a single timer tick feeds before it gives the page a turn.
export const TASK_BUDGET_MS = 40;

/** The clock of a page or of Node. */
export const realClock = {
  now: () => performance.now(),
  setTimeout: (callback, ms) => setTimeout(callback, ms),
  clearTimeout: (id) => clearTimeout(id),
};

// The queue of downloaded bytes not yet fed.
class ByteQueue {
  constructor() { this.clear(); }
  clear() {
    this.pieces = [];
    this.offset = 0;
    this.length = 0;
  }
  push(bytes) {
    if (!bytes.length) return;
    this.pieces.push(bytes);
    this.length += bytes.length;
  }
  // Up to `count` bytes from the front.
  take(count) {
    const size = Math.min(count, this.length);
    const out = new Uint8Array(size);
    for (let filled = 0; filled < size;) {
      const piece = this.pieces[0];
      const part = Math.min(size - filled, piece.length - this.offset);
      out.set(piece.subarray(this.offset, this.offset + part), filled);
      filled += part;
      this.offset += part;
      if (this.offset === piece.length) {
        this.pieces.shift();
        this.offset = 0;
      }
    }
    this.length -= size;
    return out;
  }
}

export class PacedFeed extends EventTarget {
  /**
   * @param {{start: Function, feed: Function, close: Function, release: Function}} sink
   * @param {{kbPerSecond?: number, clock?: typeof realClock}} options
   */
  constructor(sink, { kbPerSecond = 8, clock = realClock } = {}) {
    super();
    this.sink = sink;
    this.kbPerSecond = kbPerSecond;
    this.clock = clock;
    this.queue = new ByteQueue();
    this.readyState = 0;
    this.timer = null;
    this.bytesFed = 0;
  }

  /**
   * Milliseconds between two chunks. Rates below 1 KB/s are treated as
   * 1 KB/s: a rate of 0 would never send anything, a negative one has no
   * meaning, and the page cannot be told about a refusal.
   */
  get interval() {
    const rate = Math.max(1, Number(this.kbPerSecond) || 0);
    return (CHUNK_BYTES * 1000) / (rate * 1024);
  }

  /**
   * A piece of the download arrived (possibly empty, as for the last-data
   * notice). `first` and `last` mark the first and last notice.
   * @param {Uint8Array} bytes
   * @param {{first?: boolean, last?: boolean}} notice
   */
  dataAvailable(bytes, { first = false, last = false } = {}) {
    if (first) {
      this.setReadyState(READY_LOADING);
      this.sink.release();
      this.sink.start();
      this.bytesFed = 0;
    }
    this.queue.push(bytes);
    if (last) this.setReadyState(READY_COMPLETE);
    this.restartTimer(0);
  }

  /** Stops feeding and closes the pipe (a new file name is coming). */
  stop() {
    this.killTimer();
    this.queue.clear();
    this.sink.close();
    this.readyState = 0;
  }

  // One timer tick: a chunk per interval, measured from the previous read.
  // The decoder works inside `feed` on the page's thread, so one tick stops
  // after TASK_BUDGET_MS and lets the page run before it goes on: at a high
  // rate, or when decoding a chunk takes longer than its interval, the
  // catching up would otherwise never yield.
  onTimer() {
    this.timer = null;
    const interval = this.interval;
    let start = this.clock.now();
    const taskStart = start;
    for (;;) {
      const chunk = this.queue.take(CHUNK_BYTES);
      if (!chunk.length) break;
      this.bytesFed += this.sink.feed(chunk) ? chunk.length : 0;
      this.dispatchEvent(new Event('fed'));
      // Nothing more will come: close now rather than one interval later.
      if (!this.queue.length && this.readyState === READY_COMPLETE) break;
      const now = this.clock.now();
      if (now < start + interval) {
        this.restartTimer(start + interval - now);
        return;
      }
      if (now - taskStart >= TASK_BUDGET_MS) {
        this.restartTimer(0);
        return;
      }
      start = now;
    }
    this.killTimer();
    if (this.readyState === READY_COMPLETE) this.closePipe();
  }

  // The end of a complete download: "complete" is fired once the decoder
  // has had everything (unpacking may finish later than the close).
  closePipe() {
    Promise.resolve(this.sink.close()).then(() => this.dispatchEvent(new Event('complete')));
  }

  restartTimer(ms) {
    this.killTimer();
    this.timer = this.clock.setTimeout(() => this.onTimer(), ms);
  }

  killTimer() {
    if (this.timer !== null) this.clock.clearTimeout(this.timer);
    this.timer = null;
  }

  setReadyState(state) {
    if (this.readyState === state) return;
    this.readyState = state;
    const event = new Event('readystatechange');
    event.readyState = state;
    this.dispatchEvent(event);
  }
}
