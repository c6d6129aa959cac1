import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Commands } from '../../src/commands.js';
import { ColumnLayout } from '../../src/model/columns.js';
import { GridCursor } from '../../src/model/cursor.js';
import { Editor } from '../../src/model/editor.js';
import { blockToText } from '../../src/model/keys.js';
import { Playhead } from '../../src/model/playhead.js';
import { TrackStore } from '../../src/model/store.js';

const k = (row, value, interpolation = 'linear') => ({ row, value, interpolation });

// The page around the commands: a store on an engine that saves at once, a transport that
// records what it is asked, and views reduced to what they were told.
function setup({ playing = false } = {}) {
    let revision = 10;
    const api = {
        getTrack: async (name) => ({ name, revision, keys: [] }),
        putTrack: async (name) => ({ name, revision: ++revision }),
    };
    const store = new TrackStore(api);
    store.load([
        { name: 'hue', revision: 1, keys: [k(0, 0.5, 'smoothstep'), k(16, 0.25), k(40, 1, 'constant')] },
        { name: 'saturation', revision: 2, keys: [k(30, 0)] },
        { name: 'feedbacktype', revision: 3, keys: [k(0, 0, 'constant'), k(900, 2, 'constant')] },
    ]);
    const layout = new ColumnLayout(store.names());
    const cursor = new GridCursor(4352, 3);
    const editor = new Editor({ store, layout, cursor });
    const playhead = new Playhead();
    playhead.update({ row: 100, playing, lengthRows: 4352, rowsPerBeat: 8 }, 0);
    const sent = [];
    const transport = {
        playing: () => playhead.state.playing,
        togglePlay: () => sent.push({ toggle: true }),
        seek: (row) => sent.push({ seek: row }),
        setLoop: (loop) => sent.push({ loop }),
    };
    const shown = [];
    const notices = [];
    const opened = [];
    const asked = [];
    const commands = new Commands({
        cursor,
        editor,
        store,
        transport,
        playhead,
        rowCount: () => 4352,
        rowsPerBeat: () => 8,
        playRow: () => playhead.state.row + 0.6,
        ensureVisible: (row, col) => shown.push([row, col]),
        openEditor: (text, select) => opened.push([text, select]),
        notify: (n) => notices.push(n),
        help: () => asked.push('help'),
        find: () => asked.push('find'),
        goTo: () => asked.push('goTo'),
        save: () => asked.push('save'),
    });
    const follows = [];
    commands.on('follow', ({ on }) => follows.push(on));
    return { commands, cursor, editor, store, playhead, sent, shown, notices, opened, asked, follows };
}

test('a click on the timeline or the row numbers moves both the cursor and the playhead', () => {
    const t = setup();
    t.cursor.moveTo(1568, 2);
    t.commands.seekBoth(1280);
    assert.deepEqual([t.cursor.row, t.cursor.col], [1280, 2], 'typing now keys row 1280');
    assert.deepEqual(t.sent, [{ seek: 1280 }]);
    assert.deepEqual(t.shown.at(-1), [1280, 2]);
    // p: the playhead to the cursor; c: the cursor to the playhead.
    t.cursor.moveTo(700, 1);
    t.commands.perform({ type: 'seekToCursor' });
    assert.deepEqual(t.sent.at(-1), { seek: 700 });
    t.commands.perform({ type: 'cursorToPlayhead' });
    assert.deepEqual([t.cursor.row, t.cursor.col], [100, 1]);
    assert.deepEqual(t.shown.at(-1), [100, 1]);
});

test('moving the cursor while playing turns Follow off and keeps the cursor in view; paused it does not', () => {
    const t = setup({ playing: true });
    assert.equal(t.commands.follow, true);
    t.cursor.moveTo(100, 0);
    t.commands.perform({ type: 'move', rows: 1, cols: 0, extend: false });
    assert.equal(t.commands.follow, false);
    assert.deepEqual(t.follows, [false]);
    assert.deepEqual(t.shown.at(-1), [101, 0]);
    // Typing a value opens the editor in view, with Follow off.
    t.commands.setFollow(true);
    t.commands.perform({ type: 'type', text: '4' });
    assert.equal(t.commands.follow, false);
    assert.deepEqual(t.opened, [['4', false]]);
    // f turns it back on; c (cursor to playhead) leaves it on.
    t.commands.perform({ type: 'toggleFollow' });
    t.commands.perform({ type: 'cursorToPlayhead' });
    assert.equal(t.commands.follow, true);

    const p = setup({ playing: false });
    p.commands.perform({ type: 'page', bars: 1, extend: false });
    assert.equal(p.commands.follow, true, 'paused, the playhead stands still: nothing to unpin');
});

test('a loop from a selection of whole bars covers exactly those rows; [ and ] include the cursor\'s row', () => {
    const t = setup();
    t.cursor.moveTo(608, 0);
    t.commands.perform({ type: 'page', bars: 1, extend: true });
    t.commands.perform({ type: 'page', bars: 1, extend: true });
    assert.deepEqual(t.cursor.selection(), { row0: 608, row1: 671, col0: 0, col1: 0 });
    t.commands.perform({ type: 'loopSelection' });
    assert.deepEqual(t.sent.at(-1), { loop: { from: 608, to: 672 } });
    assert.equal(t.notices.at(-1).text, 'Looping bars 20–21 (rows 608–671)');
    // Without a selection, the cursor's row.
    t.cursor.moveTo(50, 0);
    t.commands.perform({ type: 'loopSelection' });
    assert.deepEqual(t.sent.at(-1), { loop: { from: 50, to: 51 } });
    t.playhead.update({ loop: { from: 608, to: 672 } }, 0);
    t.cursor.moveTo(640, 0);
    t.commands.perform({ type: 'loopStart' });
    assert.deepEqual(t.sent.at(-1), { loop: { from: 640, to: 672 } });
    t.commands.perform({ type: 'loopEnd' });
    assert.deepEqual(t.sent.at(-1), { loop: { from: 608, to: 641 } });
    t.cursor.moveTo(700, 0);
    t.commands.perform({ type: 'loopStart' });
    assert.deepEqual(t.sent.at(-1), { loop: { from: 700, to: 732 } }, 'past the old end: a bar');
    t.commands.perform({ type: 'clearLoop' });
    assert.deepEqual(t.sent.at(-1), { loop: null });
});

test('paste puts the block\'s top-left at the cursor, says what it did, and leaves tracks without keys in it alone', async () => {
    const t = setup();
    // hue and saturation rows 0..23: keys only in hue.
    t.cursor.moveTo(0, 0);
    t.cursor.moveTo(23, 1, true);
    const text = t.commands.copy(false);
    assert.equal(t.notices.at(-1).text, 'Copied 2 keys from hue–saturation, 24 rows.');
    assert.match(text, /^velmora-keys\t24\t2\ntracks\thue\tsaturation\n/);
    // Selected from the bottom-right: the cursor is now the block's top-left, the selection kept.
    assert.deepEqual([t.cursor.row, t.cursor.col, t.cursor.selection()], [0, 0, { row0: 0, row1: 23, col0: 0, col1: 1 }]);
    // The cursor on feedbacktype's neighbour... here on saturation at bar 29: the block's hue
    // column goes into saturation, its empty column must not clear feedbacktype's key at 900.
    t.cursor.moveTo(896, 1);
    assert.ok(t.commands.paste(null));
    assert.equal(t.notices.at(-1).text, 'Pasted 2 keys into saturation–feedbacktype at bar 29.');
    assert.deepEqual(t.store.keys('saturation'), [k(30, 0), k(896, 0.5, 'smoothstep'), k(912, 0.25)]);
    assert.deepEqual(t.store.keys('feedbacktype'), [k(0, 0, 'constant'), k(900, 2, 'constant')]);
    assert.deepEqual(t.cursor.selection(), { row0: 896, row1: 919, col0: 1, col1: 2 });
    // From the system clipboard: another page's copy, or text from a text editor.
    t.cursor.moveTo(2001, 0);
    assert.ok(t.commands.paste('velmora-keys 8 1\n0 4 7 quadratic\n'));
    assert.deepEqual(t.store.keys('hue').at(-1), k(2005, 7, 'quadratic'));
    assert.equal(t.notices.at(-1).text, 'Pasted 1 key into hue at row 2001 (bar 63.3).');
    // Text that is not keys: the page's own copy is pasted; a broken block says why.
    t.cursor.moveTo(3000, 0);
    assert.ok(t.commands.paste('just some words'));
    assert.deepEqual(t.store.keys('hue').slice(-2).map((x) => x.row), [3000, 3016]);
    assert.equal(t.commands.paste('velmora-keys 8 1\n0 9 7 linear\n'), false);
    assert.match(t.notices.at(-1).text, /line 2/);
    t.editor.clipboard = null;
    assert.equal(t.commands.paste('hello'), false);
    assert.match(t.notices.at(-1).text, /The clipboard holds no keys/);
    await t.store.whenIdle();
});

test('the cell under the cursor in words, as the screen reader hears it', () => {
    const t = setup();
    t.cursor.moveTo(16, 0);
    assert.equal(t.commands.describeCursor(), 'hue · bar 1.3 · row 16 · key 0.25 linear');
    t.cursor.moveTo(8, 0);
    assert.equal(t.commands.describeCursor(), 'hue · bar 1.2 · row 8 · 0.375 (smoothstep from row 0)');
    t.cursor.moveTo(608, 2);
    t.cursor.moveTo(639, 1, true);
    assert.equal(t.commands.describeCursor(),
        'saturation · bar 20.4 · row 639 · 0 · selected bar 20 (rows 608–639), 2 tracks');
});

test('keys that open panels and the rest of the grid\'s actions', () => {
    const t = setup();
    for (const type of ['help', 'find', 'goTo', 'save']) {
        assert.equal(t.commands.perform({ type }), true);
    }
    assert.deepEqual(t.asked, ['help', 'find', 'goTo', 'save']);
    t.commands.perform({ type: 'playPause' });
    assert.deepEqual(t.sent.at(-1), { toggle: true });
    t.cursor.moveTo(16, 0);
    t.commands.perform({ type: 'edit' });
    assert.deepEqual(t.opened.at(-1), ['0.25', true]);
    t.commands.perform({ type: 'delete' });
    assert.equal(t.store.keys('hue').length, 2);
    t.commands.perform({ type: 'undo' });
    assert.equal(t.notices.at(-1).text, 'Undone: delete');
    assert.equal(t.store.keys('hue').length, 3);
    t.commands.perform({ type: 'undo' });
    assert.equal(t.notices.at(-1).text, 'Nothing to undo.');
    // Copy, cut and paste go through the browser's clipboard events, not here.
    assert.equal(t.commands.perform({ type: 'copy' }), false);
});
