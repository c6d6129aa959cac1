import { test } from 'node:test';
import assert from 'node:assert/strict';
import { TrackStore } from '../../src/model/store.js';
import { Editor } from '../../src/model/editor.js';
import { ColumnLayout } from '../../src/model/columns.js';
import { GridCursor } from '../../src/model/cursor.js';

const k = (row, value, interpolation = 'linear') => ({ row, value, interpolation });

// An engine that answers when the test says so: calls wait in `pending` until answered.
class FakeEngine {
    constructor(tracks) {
        this.tracks = new Map(tracks.map((t) => [t.name, { ...t }]));
        this.next = 100;
        this.pending = [];
        this.calls = [];
    }

    getTrack(name) {
        this.calls.push(['GET', name]);
        return this.defer(() => ({ ...this.tracks.get(name) }));
    }

    putTrack(name, revision, keys) {
        this.calls.push(['PUT', name, revision, keys]);
        return this.defer(() => {
            const t = this.tracks.get(name);
            const broken = this.broken?.get(name);
            if (broken) {
                throw Object.assign(new Error(broken.error), { status: 409, body: { ...broken, revision: t.revision } });
            }
            if (revision !== t.revision) {
                throw Object.assign(new Error(`${name} was changed elsewhere (revision ${t.revision})`), { status: 409, body: { revision: t.revision } });
            }
            t.keys = keys;
            t.revision = this.next++;
            return { name, revision: t.revision };
        });
    }

    defer(work) {
        return new Promise((resolve, reject) => this.pending.push({ work, resolve, reject }));
    }

    // Answers the oldest call (or fails it with `error`).
    async answer(error = null) {
        const call = this.pending.shift();
        assert.ok(call, 'a call is waiting');
        if (error) {
            call.reject(error);
        } else {
            try {
                call.resolve(call.work());
            } catch (e) {
                call.reject(e);
            }
        }
        await new Promise((r) => setTimeout(r, 0));
    }

    async answerAll() {
        while (this.pending.length) {
            await this.answer();
        }
    }

    // Someone else saves a track.
    changeElsewhere(name, keys) {
        const t = this.tracks.get(name);
        t.keys = keys;
        t.revision = this.next++;
        return { name, revision: t.revision, source: 'disk' };
    }
}

function setup() {
    const engine = new FakeEngine([
        { name: 'a', revision: 1, keys: [k(0, 1), k(8, 2)] },
        { name: 'b', revision: 2, keys: [k(0, 5, 'constant')] },
    ]);
    const store = new TrackStore(engine);
    store.load([...engine.tracks.values()]);
    const notices = [];
    store.on('notice', (n) => notices.push(n));
    return { engine, store, notices };
}

test('an edit is sent with the revision it was made on, and the answer becomes the new one', async () => {
    const { engine, store } = setup();
    store.edit('set', { a: [k(0, 1), k(4, 9), k(8, 2)] });
    assert.equal(store.status('a').state, 'saving');
    assert.deepEqual(engine.calls[0], ['PUT', 'a', 1, [k(0, 1), k(4, 9), k(8, 2)]]);
    await engine.answer();
    assert.equal(store.status('a').state, 'saved');
    assert.equal(store.revision('a'), 100);
    assert.deepEqual(store.unsavedNames(), []);
});

test('edits made while a save is on its way go together in the next one, on the new revision', async () => {
    const { engine, store } = setup();
    store.edit('1', { a: [k(0, 1), k(4, 9), k(8, 2)] });
    store.edit('2', { a: [k(0, 1), k(4, 9), k(6, 3), k(8, 2)] });
    store.edit('3', { a: [k(0, 7), k(4, 9), k(6, 3), k(8, 2)] });
    assert.equal(engine.calls.length, 1, 'one request in flight per track');
    await engine.answer();
    assert.equal(engine.calls.length, 2);
    assert.deepEqual(engine.calls[1], ['PUT', 'a', 100, [k(0, 7), k(4, 9), k(6, 3), k(8, 2)]]);
    await engine.answer();
    assert.deepEqual(engine.tracks.get('a').keys, store.keys('a'));
    assert.equal(store.status('a').state, 'saved');
});

test('a failed save keeps the edit and marks the track until a retry saves it', async () => {
    const { engine, store, notices } = setup();
    store.edit('set', { a: [k(0, 3), k(8, 2)] });
    await engine.answer(Object.assign(new Error('a: cannot write data/science/src/a.txt: disk full'), { status: 500 }));
    assert.deepEqual(store.status('a'), { state: 'failed', message: 'a: cannot write data/science/src/a.txt: disk full' });
    assert.deepEqual(store.keys('a'), [k(0, 3), k(8, 2)]);
    assert.deepEqual(store.failedNames(), ['a']);
    assert.equal(notices[0].level, 'error');
    // The engine not answering at all is a failure too.
    store.retry('a');
    await engine.answer(Object.assign(new Error('PUT /api/tracks/a: the engine is not reachable'), { status: 0 }));
    assert.equal(store.status('a').state, 'failed');
    store.retryAll();
    assert.deepEqual(engine.calls[2], ['PUT', 'a', 1, [k(0, 3), k(8, 2)]]);
    await engine.answer();
    assert.equal(store.status('a').state, 'saved');
    assert.deepEqual(engine.tracks.get('a').keys, [k(0, 3), k(8, 2)]);
});

test('a stale save (409) reloads that track, tells the author, and leaves the other tracks\' edits alone', async () => {
    const { engine, store, notices } = setup();
    store.edit('b edit', { b: [k(0, 5, 'constant'), k(3, 1)] });
    await engine.answer();
    engine.changeElsewhere('a', [k(0, 42)]);
    store.edit('a edit', { a: [k(0, 1), k(2, 2), k(8, 2)] });
    await engine.answer(); // PUT a: 409
    assert.deepEqual(engine.calls.at(-1), ['GET', 'a']);
    await engine.answer(); // GET a
    assert.deepEqual(store.keys('a'), [k(0, 42)]);
    assert.equal(store.status('a').state, 'saved');
    assert.equal(notices.length, 1);
    assert.equal(notices[0].level, 'warning');
    assert.match(notices[0].text, /^a was changed elsewhere/);
    assert.deepEqual(store.keys('b'), [k(0, 5, 'constant'), k(3, 1)]);
    // Undo no longer touches a (that would overwrite the other change), but still undoes b.
    assert.equal(store.undo(), 'b edit');
    await engine.answerAll();
    assert.deepEqual(engine.tracks.get('b').keys, [k(0, 5, 'constant')]);
    assert.deepEqual(engine.tracks.get('a').keys, [k(0, 42)]);
    assert.equal(store.undo(), null);
});

test('a save refused for a broken source keeps the edit, names the file, and is not sent again until the author retries', async () => {
    const { engine, store, notices } = setup();
    const file = 'data/science/src/a.txt';
    engine.broken = new Map([['a', { error: `a: ${file} line 3 is not "ROW VALUE INTERPOLATION"; fix it to edit a here`, file, line: 3 }]]);
    store.edit('set', { a: [k(0, 1), k(4, 7), k(8, 2)] });
    await engine.answer();
    assert.deepEqual(store.status('a'), { state: 'blocked', message: engine.broken.get('a').error, file, line: 3 });
    assert.deepEqual(store.keys('a'), [k(0, 1), k(4, 7), k(8, 2)], 'the edit is kept');
    assert.equal(notices.at(-1).level, 'error');
    assert.match(notices.at(-1).text, /Fix data\/science\/src\/a\.txt \(line 3\)/);
    assert.deepEqual(engine.calls.map((c) => c[0]), ['PUT'], 'no reload: that would lose the edit');
    // More edits of it stay in the page, nothing is sent; other tracks save as usual.
    store.edit('more', { a: [k(0, 1), k(4, 7), k(6, 6), k(8, 2)], b: [k(0, 9)] });
    assert.equal(engine.calls.length, 2);
    assert.deepEqual(engine.calls[1].slice(0, 2), ['PUT', 'b']);
    await engine.answerAll();
    // An automatic retry (after reconnecting) leaves it alone; the author's retry sends it.
    store.retryAll({ blocked: false });
    assert.equal(engine.pending.length, 0);
    store.retryAll();
    await engine.answer();
    assert.equal(store.status('a').state, 'blocked', 'still broken');
    assert.equal(engine.calls.length, 3);
    // The author fixes the file: the engine reloads it (a new revision). The page loads it and
    // offers the refused edit back; applying it saves it on the fixed version.
    engine.broken.clear();
    store.remoteChange(engine.changeElsewhere('a', [k(0, 1), k(8, 3)]));
    await engine.answer();
    assert.deepEqual(store.keys('a'), [k(0, 1), k(8, 3)]);
    const offer = notices.at(-1);
    assert.match(offer.text, /reloaded from data\/science\/src\/a\.txt/);
    assert.equal(offer.action.label, 'Apply my edit again');
    offer.action.run();
    assert.deepEqual(store.keys('a'), [k(0, 1), k(4, 7), k(6, 6), k(8, 3)]);
    await engine.answerAll();
    assert.deepEqual(engine.tracks.get('a').keys, [k(0, 1), k(4, 7), k(6, 6), k(8, 3)]);
    assert.equal(store.status('a').state, 'saved');
});

test('a stale edit replaced by a reload can be applied again on the new version', async () => {
    const { engine, store, notices } = setup();
    engine.changeElsewhere('a', [k(0, 42), k(16, 1)]);
    store.edit('mine', { a: [k(0, 1), k(2, 2), k(8, 2)] });
    await engine.answer(); // 409
    await engine.answer(); // reload
    assert.deepEqual(store.keys('a'), [k(0, 42), k(16, 1)]);
    notices.at(-1).action.run();
    assert.deepEqual(store.keys('a'), [k(0, 42), k(2, 2), k(16, 1)], 'the row I changed, theirs elsewhere');
    assert.equal(store.undo(), 'a: edit applied again');
    assert.deepEqual(store.keys('a'), [k(0, 42), k(16, 1)]);
});

test('the event for our own save changes nothing, even when it comes before the answer', async () => {
    const { engine, store } = setup();
    store.edit('set', { a: [k(0, 4)] });
    store.remoteChange({ name: 'a', revision: 100 }); // the engine's event, ahead of the answer
    await engine.answer();
    store.remoteChange({ name: 'a', revision: 100 });
    assert.equal(engine.calls.length, 1, 'no reload');
    assert.deepEqual(store.keys('a'), [k(0, 4)]);
});

test('a change made elsewhere is loaded at once; one made during our save is loaded after it', async () => {
    const { engine, store, notices } = setup();
    store.remoteChange(engine.changeElsewhere('b', [k(0, 6)]));
    await engine.answer();
    assert.deepEqual(store.keys('b'), [k(0, 6)]);
    assert.equal(notices.length, 0, 'nothing to tell: nothing of ours was lost');

    store.edit('set', { a: [k(0, 4)] });
    await engine.answer(); // our save lands (revision 101)...
    // ...then someone else saves, and its event arrives while we think we are still saving.
    store.edit('again', { a: [k(0, 5)] });
    const event = engine.changeElsewhere('a', [k(0, 99)]);
    store.remoteChange(event);
    await engine.answer(); // our second save: refused as stale
    await engine.answer(); // the reload
    assert.deepEqual(store.keys('a'), [k(0, 99)]);
    assert.equal(notices.at(-1).level, 'warning');
});

test('undo and redo go back and forth through every edit, each one saved', async () => {
    const { engine, store } = setup();
    const original = store.keys('a');
    store.edit('1', { a: [k(0, 1), k(4, 4), k(8, 2)] });
    store.edit('2', { a: [k(0, 1), k(4, 4), k(8, 2, 'quadratic')], b: [] });
    await engine.answerAll();
    assert.equal(store.undo(), '2');
    assert.equal(store.undo(), '1');
    await engine.answerAll();
    assert.deepEqual(engine.tracks.get('a').keys, original);
    assert.deepEqual(engine.tracks.get('b').keys, [k(0, 5, 'constant')]);
    assert.equal(store.redo(), '1');
    assert.equal(store.redo(), '2');
    await engine.answerAll();
    assert.deepEqual(engine.tracks.get('a').keys, [k(0, 1), k(4, 4), k(8, 2, 'quadratic')]);
    assert.deepEqual(engine.tracks.get('b').keys, []);
    assert.equal(store.redo(), null);
});

test('paste goes to the selection\'s top-left, and a column without keys leaves its track alone', async () => {
    const { engine, store } = setup();
    const layout = new ColumnLayout(store.names());
    const cursor = new GridCursor(256, 2);
    const editor = new Editor({ store, layout, cursor });
    // Copy a block of a's keys and b's empty rows 1..8.
    cursor.moveTo(1, 0);
    cursor.moveTo(8, 1, true);
    const block = editor.copy();
    assert.deepEqual(block.names, ['a', 'b']);
    assert.deepEqual(block.columns, [[k(7, 2)], []]);
    // b has a key at 100 which the empty column must not wipe.
    store.edit('b key', { b: [k(0, 5, 'constant'), k(100, 3)] });
    // Selected from the bottom-right corner up: the block still lands at the top-left.
    cursor.moveTo(100, 1);
    cursor.moveTo(96, 0, true);
    const r = editor.paste();
    assert.equal(r.row, 96);
    assert.equal(r.place, 'bar 4');
    assert.deepEqual(store.keys('a'), [k(0, 1), k(8, 2), k(103, 2)]);
    assert.deepEqual(store.keys('b'), [k(0, 5, 'constant'), k(100, 3)]);
    // Nothing to paste: said, not thrown.
    editor.clipboard = null;
    assert.deepEqual(editor.paste(), { ok: false, error: 'Nothing to paste: copy a block first (Ctrl+C).' });
    await engine.answerAll();
});

test('a refused token locks the page', async () => {
    const { engine, store } = setup();
    let locked = false;
    store.on('unauthorized', () => {
        locked = true;
    });
    store.edit('set', { a: [] });
    await engine.answer(Object.assign(new Error('unauthorized'), { status: 401 }));
    assert.ok(locked);
    assert.equal(store.status('a').state, 'failed', 'the edit is kept');
});

test('editor commands: typed values, blocks, interpolation over a selection, paste at the last column', async () => {
    const { engine, store } = setup();
    const layout = new ColumnLayout(store.names());
    const cursor = new GridCursor(64, 2);
    const editor = new Editor({ store, layout, cursor });
    cursor.moveTo(4, 0);
    assert.equal(editor.setValue('abc').ok, false);
    assert.equal(editor.setValue('2.5').ok, true);
    assert.deepEqual(store.keys('a'), [k(0, 1), k(4, 2.5), k(8, 2)]);
    assert.equal(editor.currentKeyText(), '2.5');
    // A block over both tracks, rows 0..4.
    cursor.moveTo(0, 0);
    cursor.moveTo(4, 1, true);
    editor.cycleInterpolation();
    assert.deepEqual(store.keys('a').map((x) => x.interpolation), ['smoothstep', 'smoothstep', 'linear']);
    assert.deepEqual(store.keys('b').map((x) => x.interpolation), ['smoothstep']);
    editor.copy();
    // Pasted with its left column on the last track: the second column has nowhere to go.
    cursor.moveTo(20, 1);
    const pasted = editor.paste();
    assert.deepEqual([pasted.ok, pasted.into, pasted.keys, pasted.dropped, pasted.place], [true, 'b', 2, 1, 'row 20 (bar 1.3)']);
    assert.deepEqual(cursor.selection(), { row0: 20, row1: 24, col0: 1, col1: 1 }, 'the pasted cells are selected');
    assert.deepEqual(store.keys('b'), [k(0, 5, 'smoothstep'), k(20, 1, 'smoothstep'), k(24, 2.5, 'smoothstep')]);
    cursor.moveTo(20, 1);
    cursor.moveTo(24, 1, true);
    editor.cut();
    assert.deepEqual(store.keys('b'), [k(0, 5, 'smoothstep')]);
    editor.undo();
    editor.undo();
    assert.deepEqual(store.keys('b'), [k(0, 5, 'smoothstep')]);
    editor.undo();
    assert.deepEqual(store.keys('b'), [k(0, 5, 'constant')]);
    await engine.answerAll();
    await store.whenIdle();
    assert.deepEqual(engine.tracks.get('b').keys, [k(0, 5, 'constant')]);
});
