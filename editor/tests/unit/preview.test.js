import { test } from 'node:test';
import assert from 'node:assert/strict';
import { PicturePoller } from '../../src/preview.js';

// A clock and timers the test moves by hand, and an engine whose pictures arrive when released.
function setup(options = {}) {
    let now = 0;
    let timers = [];
    const requests = [];
    const api = {
        frame: (width) => new Promise((resolve, reject) => requests.push({ resolve, reject, width })),
    };
    const poller = new PicturePoller({
        api,
        now: () => now,
        setTimer: (fn, ms) => {
            const t = { fn, at: now + ms };
            timers.push(t);
            return t;
        },
        clearTimer: (t) => {
            timers = timers.filter((x) => x !== t);
        },
        ...options,
    });
    const shown = [];
    const failed = [];
    poller.on('frame', (f) => shown.push(f.frame));
    poller.on('failed', (f) => failed.push(f.error));
    const tick = () => new Promise((r) => setTimeout(r, 0));
    return {
        poller,
        requests,
        shown,
        failed,
        // Moves the clock, running the timers that come due.
        async advance(ms) {
            const end = now + ms;
            for (;;) {
                timers.sort((a, b) => a.at - b.at);
                const next = timers[0];
                if (!next || next.at > end) {
                    break;
                }
                timers.shift();
                now = next.at;
                next.fn();
                await tick();
            }
            now = end;
        },
        async answer(i = 0, error = null) {
            const r = requests.splice(i, 1)[0];
            if (error) {
                r.reject(error);
            } else {
                r.resolve('blob');
            }
            await tick();
        },
    };
}

test('paused: one picture after each change the engine draws, never two requests at once', async () => {
    const t = setup({ width: () => 360 });
    t.poller.stateChanged({ playing: false, frame: 10 });
    t.poller.start();
    assert.equal(t.requests.length, 1);
    assert.equal(t.requests[0].width, 360, 'asked at the size it is shown');
    // The same frame again: nothing new to show.
    t.poller.stateChanged({ playing: false, frame: 10 });
    // Two changes while the picture is on its way: one more request after it, for the latest.
    t.poller.stateChanged({ playing: false, frame: 11 });
    t.poller.stateChanged({ playing: false, frame: 12 });
    assert.equal(t.requests.length, 1);
    await t.answer();
    assert.deepEqual(t.shown, [10]);
    assert.equal(t.requests.length, 1);
    await t.answer();
    assert.deepEqual(t.shown, [10, 12]);
    await t.advance(5000);
    assert.equal(t.requests.length, 0, 'nothing changed: no polling while paused');
});

test('playing: ten pictures a second even when answers take longer than the interval, at most three on their way', async () => {
    const t = setup();
    t.poller.start();
    t.poller.stateChanged({ playing: true, frame: 1 });
    let answered = 0;
    // Each answer takes 150 ms, longer than the 100 ms interval.
    for (let ms = 0; ms < 2000; ms += 50) {
        await t.advance(50);
        assert.ok(t.requests.length <= 3, `${t.requests.length} requests at ${ms} ms`);
        if (ms % 150 === 100 && t.requests.length) {
            await t.answer();
            answered++;
        }
    }
    assert.ok(t.shown.length >= 12, `${t.shown.length} pictures in 2 s`);
    // Fast answers: one every 100 ms, not more.
    const u = setup();
    u.poller.start();
    u.poller.stateChanged({ playing: true, frame: 1 });
    let count = 0;
    for (let ms = 0; ms < 1000; ms += 10) {
        while (u.requests.length) {
            await u.answer();
            count++;
        }
        await u.advance(10);
    }
    assert.ok(count >= 10 && count <= 11, `${count} requests in 1 s`);
});

test('a failed picture is reported and asked for again later; stop ends the polling', async () => {
    const t = setup();
    t.poller.start();
    t.poller.stateChanged({ playing: true, frame: 1 });
    await t.answer(0, Object.assign(new Error('503'), { status: 503 }));
    assert.equal(t.failed.length, 1);
    await t.advance(1000);
    assert.equal(t.requests.length, 0, 'waits before asking again');
    await t.advance(1050);
    assert.equal(t.requests.length, 1);
    t.poller.stop();
    await t.answer();
    await t.advance(5000);
    assert.equal(t.requests.length, 0);
    assert.deepEqual(t.shown, [], 'a picture arriving after stop is not shown');
    // A refused token stops it for good.
    const u = setup();
    let refused = false;
    u.poller.on('unauthorized', () => {
        refused = true;
    });
    u.poller.start();
    await u.answer(0, Object.assign(new Error('401'), { status: 401 }));
    assert.ok(refused);
    assert.equal(u.poller.running, false);
});
