// UnpackingSink: sits between the paced feed and the decoder and unpacks a
// gzip-packed scene file on the way. Either packing may come under either
// name, so the first two bytes decide: the gzip magic 1f 8b sends the bytes
// through the platform's DecompressionStream, anything else passes as it is.
// The feed paces the downloaded (packed) bytes; the decoder gets whatever
// they unpack to as soon as it is out.
//
// Unpacking is asynchronous: `close` returns a promise that settles once the
// decoder has had every unpacked byte and its pipe is closed. A packing
// error ends the data there (the decoder keeps the detail it reached) and is
// reported through `onError`.

const GZIP_MAGIC = [0x1f, 0x8b];

export class UnpackingSink {
  /**
   * @param {{start: Function, feed: Function, close: Function, release: Function}} target the decoder
   * @param {{onError?: (error: Error) => void}} options
   */
  constructor(target, { onError = () => {} } = {}) {
    this.target = target;
    this.onError = onError;
    this.generation = 0;
    this.reset();
  }

  start() {
    this.reset();
    this.target.start();
  }

  feed(bytes) {
    if (!this.open || !bytes.length) return 0;
    if (this.mode === 'unknown') this.decide(bytes);
    else this.pass(bytes);
    return bytes.length;
  }

  close() {
    if (!this.open) return this.closed;
    this.open = false;
    if (this.mode === 'unknown') this.choose(false);
    if (this.mode === 'plain') {
      this.target.close();
      return this.closed;
    }
    const generation = this.generation;
    this.closed = this.writer.close().catch(() => {}).then(() => this.pumped).then(() => {
      if (generation === this.generation) this.target.close();
    });
    return this.closed;
  }

  release() {
    this.reset();
    this.target.release();
  }

  // Waits for the first two bytes, then chooses.
  decide(bytes) {
    this.head.push(...bytes.subarray(0, 2 - this.head.length));
    this.pending.push(bytes);
    if (this.head.length < 2) return;
    this.choose(this.head[0] === GZIP_MAGIC[0] && this.head[1] === GZIP_MAGIC[1]);
  }

  choose(packed) {
    this.mode = packed ? 'gzip' : 'plain';
    if (packed) this.startUnpacking();
    const pending = this.pending;
    this.pending = [];
    for (const bytes of pending) this.pass(bytes);
  }

  pass(bytes) {
    if (this.mode === 'plain') {
      this.target.feed(bytes);
      return;
    }
    this.writer.write(bytes).catch(() => {});
  }

  startUnpacking() {
    const generation = this.generation;
    const unpacker = new DecompressionStream('gzip');
    this.writer = unpacker.writable.getWriter();
    const reader = unpacker.readable.getReader();
    this.pumped = (async () => {
      try {
        for (;;) {
          const { value, done } = await reader.read();
          if (done || generation !== this.generation) return;
          this.target.feed(value);
        }
      } catch (error) {
        if (generation === this.generation) this.onError(error);
      }
    })();
    // A broken stream ends the data where it broke.
    this.pumped.then(() => { if (generation === this.generation && this.open) this.close(); });
  }

  reset() {
    ++this.generation;
    if (this.writer) this.writer.abort().catch(() => {});
    this.writer = null;
    this.pumped = Promise.resolve();
    this.closed = Promise.resolve();
    this.mode = 'unknown';
    this.head = [];
    this.pending = [];
    this.open = true;
  }
}
