import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Transport } from '../../src/transport.js';
import { Playhead } from '../../src/model/playhead.js';

const tick = () => new Promise((r) => setTimeout(r, 0));

// An engine whose answers wait until the test releases them, in any order it likes.
class FakeEngine {
    constructor() {
        this.state = { row: 0, playing: false, loop: null, lengthRows: 4352, rowsPerSecond: 24, rowsPerBeat: 8 };
        this.calls = [];
        this.waiting = [];
    }

    answerLater(change) {
        this.calls.push(change);
        return new Promise((resolve, reject) => this.waiting.push({ change, resolve, reject }));
    }

    play(playing) {
        return this.answerLater({ play: playing });
    }

    seek(row) {
        return this.answerLater({ seek: row });
    }

    setLoop(loop) {
        return this.answerLater({ loop });
    }

    async release(error = null) {
        await tick();
        const call = this.waiting.shift();
        assert.ok(call, 'a request is waiting');
        if (error) {
            call.reject(error);
        } else {
            const c = call.change;
            if ('play' in c) {
                this.state.playing = c.play;
            } else if ('seek' in c) {
                this.state.row = c.seek;
            } else {
                this.state.loop = c.loop;
            }
            call.resolve({ ...this.state });
        }
        await new Promise((r) => setTimeout(r, 0));
    }
}

function setup() {
    const engine = new FakeEngine();
    const playhead = new Playhead();
    playhead.update(engine.state, 0);
    const transport = new Transport({ api: engine, playhead, now: () => 0 });
    const heard = [];
    for (const type of ['state', 'failed', 'unauthorized']) {
        transport.on(type, (e) => heard.push([type, e]));
    }
    return { engine, playhead, transport, heard };
}

test('Space toggles against the last request: a second press before the answer pauses', async () => {
    const { engine, transport } = setup();
    transport.togglePlay();
    assert.equal(transport.playing(), true, 'the page already counts on playing');
    transport.togglePlay(); // before the engine answered the first press
    assert.equal(transport.playing(), false);
    await engine.release();
    // The second request is sent only once the first was answered, so they cannot overtake.
    assert.deepEqual(engine.calls, [{ play: true }, { play: false }]);
    await engine.release();
    assert.equal(engine.state.playing, false);
    assert.equal(transport.playing(), false);
    assert.equal(transport.requestedPlaying, null, 'nothing on its way');
    // Three quick presses end playing.
    transport.togglePlay();
    transport.togglePlay();
    transport.togglePlay();
    for (let i = 0; i < 3; i++) {
        await engine.release();
    }
    assert.deepEqual(engine.calls.slice(2), [{ play: true }, { play: false }, { play: true }]);
    assert.equal(engine.state.playing, true);
});

test('requests go in the order made and each answer moves the playhead', async () => {
    const { engine, playhead, transport, heard } = setup();
    const done = [transport.seek(1000), transport.setLoop({ from: 608, to: 672 }), transport.play(true)];
    await tick();
    assert.equal(engine.calls.length, 1, 'one at a time');
    await engine.release();
    assert.equal(playhead.state.row, 1000);
    await engine.release();
    await engine.release();
    assert.deepEqual(await Promise.all(done), [true, true, true]);
    assert.deepEqual(engine.calls, [{ seek: 1000 }, { loop: { from: 608, to: 672 } }, { play: true }]);
    assert.deepEqual(playhead.state.loop, { from: 608, to: 672 });
    assert.equal(heard.filter(([t]) => t === 'state').length, 3);
});

test('seeks and loops are kept inside the show; an empty loop is not sent', async () => {
    const { engine, transport } = setup();
    transport.seek(-5);
    await engine.release();
    transport.seek(99999);
    await engine.release();
    assert.deepEqual(engine.calls, [{ seek: 0 }, { seek: 4352 }]);
    assert.equal(await transport.setLoop({ from: 700, to: 700 }), false);
    assert.equal(await transport.setLoop({ from: 5000, to: 6000 }), false);
    transport.setLoop({ from: 4300, to: 9000 });
    await engine.release();
    assert.deepEqual(engine.calls.at(-1), { loop: { from: 4300, to: 4352 } });
    transport.setLoop(null);
    await engine.release();
    assert.deepEqual(engine.calls.at(-1), { loop: null });
});

test('a failed request is reported, the next one still goes, and a refused token is told apart', async () => {
    const { engine, transport, heard } = setup();
    const first = transport.play(true);
    const second = transport.seek(64);
    await engine.release(Object.assign(new Error('no answer in time'), { status: 0 }));
    assert.equal(await first, false);
    assert.equal(transport.playing(), false, 'a failed Play does not count as playing');
    await engine.release();
    assert.equal(await second, true);
    assert.deepEqual(heard.find(([t]) => t === 'failed')[1].what, 'Play');
    transport.play(true);
    await engine.release(Object.assign(new Error('refused'), { status: 401 }));
    assert.equal(heard.at(-1)[0], 'unauthorized');
});
