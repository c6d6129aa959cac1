import { test } from 'node:test';
import assert from 'node:assert/strict';
import { EngineEvents } from '../../src/events.js';

// A stand-in for the browser's EventSource: the test fires what the engine would send.
class FakeSource {
    constructor(url) {
        this.url = url;
        this.readyState = 0;
        this.listeners = new Map();
        this.closed = false;
    }

    addEventListener(type, fn) {
        this.listeners.set(type, [...(this.listeners.get(type) ?? []), fn]);
    }

    fire(type, data) {
        for (const fn of this.listeners.get(type) ?? []) {
            fn(data === undefined ? {} : { data: typeof data === 'string' ? data : JSON.stringify(data) });
        }
    }

    open() {
        this.readyState = 1;
        this.fire('open');
    }

    // The browser's "connection lost": an error event without data; CLOSED when it gives up.
    drop(giveUp) {
        this.readyState = giveUp ? 2 : 0;
        this.fire('error');
    }

    close() {
        this.closed = true;
        this.readyState = 2;
    }
}

function setup({ stateAnswers = [] } = {}) {
    const sources = [];
    const timers = [];
    const api = {
        eventsUrl: () => '/api/events?token=t',
        state: () => {
            const answer = stateAnswers.shift() ?? { ok: true };
            return answer.ok ? Promise.resolve({ row: 0 }) : Promise.reject(Object.assign(new Error('no'), { status: answer.status }));
        },
    };
    const events = new EngineEvents({
        api,
        open: (url) => {
            const s = new FakeSource(url);
            sources.push(s);
            return s;
        },
        setTimer: (fn, ms) => timers.push({ fn, ms }),
    });
    const heard = [];
    for (const type of ['connection', 'state', 'track', 'errors', 'reloaded', 'unauthorized']) {
        events.on(type, (d) => heard.push([type, d]));
    }
    return { events, sources, timers, heard };
}

const tick = () => new Promise((r) => setTimeout(r, 0));

test('the engine\'s messages are parsed and passed on; malformed ones are dropped', () => {
    const { events, sources, heard } = setup();
    events.connect();
    const s = sources[0];
    assert.equal(s.url, '/api/events?token=t');
    s.open();
    s.fire('state', { row: 12, playing: true });
    s.fire('track', { name: 'camx', revision: 4, source: 'disk' });
    s.fire('track', { revision: 4 });
    s.fire('reloaded', { file: 'data/shaders/a.fs', ok: true });
    s.fire('state', '{not json');
    // "error" carries the engine's error list when it has data.
    s.fire('error', { errors: [{ file: 'data/science/src/camx.txt', line: 3, message: 'bad', track: 'camx' }] });
    assert.deepEqual(heard, [
        ['connection', { up: true, reconnected: false }],
        ['state', { row: 12, playing: true }],
        ['track', { name: 'camx', revision: 4, source: 'disk' }],
        ['reloaded', { file: 'data/shaders/a.fs', ok: true }],
        ['errors', [{ file: 'data/science/src/camx.txt', line: 3, message: 'bad', track: 'camx' }]],
    ]);
});

test('a lost stream is reported; when the browser gives up, the page asks the engine and reconnects', async () => {
    const { events, sources, timers, heard } = setup({ stateAnswers: [{ ok: false, status: 0 }, { ok: true }] });
    events.connect();
    sources[0].open();
    // The browser retrying by itself: only the state of the connection changes.
    sources[0].drop(false);
    assert.deepEqual(heard.at(-1), ['connection', { up: false, reconnected: false }]);
    assert.equal(timers.length, 0);
    sources[0].open();
    // Given up: a timer, then GET /api/state (the engine is down: try later), then a new stream.
    sources[0].drop(true);
    assert.equal(timers.length, 1);
    timers.shift().fn();
    await tick();
    assert.equal(sources.length, 1, 'the engine did not answer: no new stream yet');
    assert.equal(timers.length, 1);
    timers.shift().fn();
    await tick();
    assert.equal(sources.length, 2);
    sources[1].open();
    assert.deepEqual(heard.at(-1), ['connection', { up: true, reconnected: true }], 'the page resyncs on this');
});

test('a refused token ends reconnecting; close stops the stream', async () => {
    const { events, sources, timers, heard } = setup({ stateAnswers: [{ ok: false, status: 401 }] });
    events.connect();
    sources[0].drop(true);
    timers.shift().fn();
    await tick();
    assert.deepEqual(heard.at(-1), ['unauthorized', {}]);
    assert.equal(timers.length, 0);
    events.connect();
    assert.equal(sources.length, 1, 'stopped for good');

    const other = setup();
    other.events.connect();
    other.events.close();
    assert.ok(other.sources[0].closed);
    other.sources[0].drop(true);
    assert.equal(other.timers.length, 0, 'an old stream\'s end does not reconnect');
});
