// The data feed's pacing with a controlled clock: chunk sizes and times,
// ready states, when the pipe closes and when the timer stops.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { PacedFeed, TASK_BUDGET_MS } from '../paced_feed.mjs';
import { FakeClock } from './fake_clock.mjs';

// Records what reaches the decoder side, with the time.
function recordingSink(clock) {
  const log = [];
  return {
    log,
    feeds: () => log.filter((e) => e.kind === 'feed'),
    start: () => log.push({ kind: 'start', at: clock.now() }),
    release: () => log.push({ kind: 'release', at: clock.now() }),
    close: () => log.push({ kind: 'close', at: clock.now() }),
    feed: (bytes) => log.push({ kind: 'feed', at: clock.now(), size: bytes.length }) && bytes.length,
  };
}

function feedOf(kbPerSecond = 8) {
  const clock = new FakeClock();
  const sink = recordingSink(clock);
  const feed = new PacedFeed(sink, { kbPerSecond, clock });
  const states = [];
  feed.addEventListener('readystatechange', (event) => states.push([event.readyState, clock.now()]));
  return { clock, sink, feed, states };
}

const bytes = (count) => new Uint8Array(count);

describe('paced feed', () => {
  test('a file under 1024 bytes is one chunk and the pipe closes at once', () => {
    const { clock, sink, feed, states } = feedOf();
    feed.dataAvailable(bytes(700), { first: true, last: true });
    clock.advance(0);
    assert.deepEqual(sink.log.map((e) => e.kind), ['release', 'start', 'feed', 'close']);
    assert.equal(sink.feeds()[0].size, 700);
    assert.deepEqual(states, [[1, 0], [4, 0]]);
    assert.equal(clock.pending, 0);
  });

  test('a fast download is held to KbPerSecond: 1024 bytes every 125 ms at 8 KB/s', () => {
    const { clock, sink, feed, states } = feedOf(8);
    feed.dataAvailable(bytes(10 * 1024 + 100), { first: true });
    feed.dataAvailable(bytes(0), { last: true });
    clock.advance(5000);
    const feeds = sink.feeds();
    assert.deepEqual(feeds.map((e) => e.size), [...Array(10).fill(1024), 100]);
    assert.deepEqual(feeds.map((e) => e.at), feeds.map((_, k) => 125 * k));
    assert.deepEqual(sink.log.at(-1), { kind: 'close', at: 1250 });
    assert.deepEqual(states, [[1, 0], [4, 0]]);
  });

  test('a slow download is followed: each arrival is fed when it comes and the timer then stops', () => {
    const { clock, sink, feed } = feedOf(8);
    feed.dataAvailable(bytes(300), { first: true });
    for (let k = 1; k <= 3; ++k) {
      clock.advance(1000);
      assert.equal(clock.pending, 0, 'no timer runs while nothing is queued');
      feed.dataAvailable(bytes(300));
    }
    feed.dataAvailable(bytes(0), { last: true });
    clock.advance(1000);
    assert.deepEqual(sink.feeds().map((e) => [e.at, e.size]), [[0, 300], [1000, 300], [2000, 300], [3000, 300]]);
    assert.equal(sink.log.at(-1).kind, 'close');
    assert.equal(sink.log.filter((e) => e.kind === 'close').length, 1);
  });

  test('a late timer sends one chunk and pacing resumes from its time', () => {
    const { clock, sink, feed } = feedOf(8);
    feed.dataAvailable(bytes(6 * 1024), { first: true, last: true });
    clock.advance(0);          // chunk 1 at 0
    clock.fireLate(400);       // due at 125, fires at 525: chunk 2 only
    clock.advance(2000);
    assert.deepEqual(sink.feeds().map((e) => e.at), [0, 525, 650, 775, 900, 1025]);
  });

  test('catching up yields to the page after a time budget, then goes on at once', () => {
    const { clock, sink, feed } = feedOf(1000);
    // Each chunk takes 3 ms to decode, three times its interval.
    const feedChunk = sink.feed;
    sink.feed = (bytes) => { clock.time += 3; return feedChunk(bytes); };
    feed.dataAvailable(bytes(100 * 1024), { first: true, last: true });
    clock.advance(0);
    const firstTick = sink.feeds().length;
    assert.ok(firstTick > 1 && firstTick * 3 <= TASK_BUDGET_MS + 3, `${firstTick} chunks in the first tick`);
    assert.equal(clock.pending, 1, 'the next tick is already due');
    clock.advance(1000);
    assert.equal(sink.feeds().length, 100);
    assert.equal(sink.log.at(-1).kind, 'close');
  });

  test('KbPerSecond below 1 is treated as 1', () => {
    for (const rate of [0, -5, 0.25, Number.NaN]) {
      const { clock, sink, feed } = feedOf(rate);
      feed.dataAvailable(bytes(3 * 1024), { first: true, last: true });
      clock.advance(5000);
      assert.deepEqual(sink.feeds().map((e) => e.at), [0, 1000, 2000], `rate ${rate}`);
    }
  });

  test('ready states 1 then 4 are fired once each', () => {
    const { clock, feed, states } = feedOf(64);
    feed.dataAvailable(bytes(5000), { first: true });
    feed.dataAvailable(bytes(5000));
    clock.advance(100);
    feed.dataAvailable(bytes(5000), { last: true });
    clock.advance(5000);
    assert.deepEqual(states.map(([state]) => state), [1, 4]);
  });

  test('stopping kills the timer and closes the pipe; the next file fires 1 again', () => {
    const { clock, sink, feed, states } = feedOf(8);
    feed.dataAvailable(bytes(8192), { first: true });
    clock.advance(200);
    feed.stop();
    assert.equal(clock.pending, 0);
    assert.equal(sink.log.at(-1).kind, 'close');
    const fed = sink.feeds().length;
    clock.advance(1000);
    assert.equal(sink.feeds().length, fed, 'nothing is fed after the stop');
    feed.dataAvailable(bytes(10), { first: true, last: true });
    clock.advance(0);
    assert.deepEqual(states.map(([state]) => state), [1, 1, 4]);
  });
});
