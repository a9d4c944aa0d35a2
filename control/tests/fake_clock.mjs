// A clock for the feed's tests: time moves only when the test says so, and
// timers fire in order of their due time (or late, when the test asks).
export class FakeClock {
  constructor() {
    this.time = 0;
    this.timers = new Map();
    this.nextId = 1;
  }
  now() { return this.time; }
  setTimeout(callback, ms) {
    const id = this.nextId++;
    this.timers.set(id, { due: this.time + Math.max(0, ms), callback });
    return id;
  }
  clearTimeout(id) { this.timers.delete(id); }
  get pending() { return this.timers.size; }
  // Moves to `time`, firing every timer due by then at its due time.
  advanceTo(time) {
    for (;;) {
      const next = [...this.timers.entries()].sort((a, b) => a[1].due - b[1].due)[0];
      if (!next || next[1].due > time) break;
      this.timers.delete(next[0]);
      this.time = next[1].due;
      next[1].callback();
    }
    this.time = time;
  }
  advance(ms) { this.advanceTo(this.time + ms); }
  // Fires the earliest timer `lateness` ms after its due time.
  fireLate(lateness) {
    const next = [...this.timers.entries()].sort((a, b) => a[1].due - b[1].due)[0];
    this.timers.delete(next[0]);
    this.time = next[1].due + lateness;
    next[1].callback();
  }
}
