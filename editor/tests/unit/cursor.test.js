import { test } from 'node:test';
import assert from 'node:assert/strict';
import { GridCursor } from '../../src/model/cursor.js';
import { ColumnLayout, findTracks } from '../../src/model/columns.js';
import { History } from '../../src/model/history.js';
import { gridAction, HELP } from '../../src/model/keymap.js';

test('the cursor stays inside the grid', () => {
    const c = new GridCursor(4352, 36);
    c.moveBy(-1, -1);
    assert.deepEqual([c.row, c.col], [0, 0]);
    c.moveTo(99999, 99);
    assert.deepEqual([c.row, c.col], [4351, 35]);
    c.setBounds(100, 3);
    assert.deepEqual([c.row, c.col], [99, 2]);
});

test('Shift extends a selection from where the cursor was; a plain move drops it', () => {
    const c = new GridCursor(100, 10);
    c.moveTo(10, 2);
    assert.equal(c.selection(), null);
    assert.deepEqual(c.block(), { row0: 10, row1: 10, col0: 2, col1: 2 });
    c.moveBy(3, 0, true);
    c.moveBy(0, -2, true);
    assert.deepEqual(c.selection(), { row0: 10, row1: 13, col0: 0, col1: 2 });
    assert.ok(c.isSelected(12, 1));
    assert.ok(!c.isSelected(14, 1));
    // Back over the anchor: the rectangle flips.
    c.moveBy(-6, 4, true);
    assert.deepEqual(c.selection(), { row0: 7, row1: 10, col0: 2, col1: 4 });
    c.moveBy(1, 0);
    assert.equal(c.selection(), null);
    // Shrinking the grid keeps the anchor inside it.
    c.moveTo(50, 9);
    c.moveTo(90, 9, true);
    c.setBounds(60, 5);
    assert.deepEqual(c.selection(), { row0: 50, row1: 59, col0: 4, col1: 4 });
});

test('undo history: a new edit drops the redo side; the limit drops the oldest', () => {
    const h = new History(2);
    const entry = (label, name = 'a') => ({ label, tracks: [{ name, changes: [{ row: 0, before: null, after: null }] }] });
    h.push(entry('1'));
    h.push(entry('2'));
    h.push(entry('3'));
    assert.equal(h.undo().label, '3');
    assert.equal(h.undo().label, '2');
    assert.equal(h.undo(), null, 'the first edit went over the limit');
    assert.equal(h.redo().label, '2');
    h.push(entry('4'));
    assert.equal(h.redo(), null);
    h.push({ label: 'empty', tracks: [{ name: 'a', changes: [] }] });
    assert.equal(h.undo().label, '4', 'an edit that changed nothing is not recorded');
});

test('undo history forgets one track, keeping the other tracks of an entry', () => {
    const h = new History();
    const change = [{ row: 0, before: null, after: null }];
    h.push({ label: 'paste', tracks: [{ name: 'a', changes: change }, { name: 'b', changes: change }] });
    h.push({ label: 'only a', tracks: [{ name: 'a', changes: change }] });
    h.forgetTrack('a');
    const e = h.undo();
    assert.equal(e.label, 'paste');
    assert.deepEqual(e.tracks.map((t) => t.name), ['b']);
    assert.equal(h.undo(), null);
});

test('columns: hide, move, restore; the last column stays', () => {
    const l = new ColumnLayout(['a', 'b', 'c', 'd']);
    assert.ok(l.setHidden('b', true));
    assert.deepEqual(l.visible(), ['a', 'c', 'd']);
    assert.ok(l.step('d', -1));
    assert.deepEqual(l.visible(), ['a', 'd', 'c']);
    assert.ok(l.moveVisible('a', 2));
    assert.deepEqual(l.visible(), ['d', 'c', 'a']);
    l.setHidden('c', true);
    l.setHidden('d', true);
    assert.equal(l.setHidden('a', true), false, 'the last visible column cannot go');
    assert.deepEqual(l.visible(), ['a']);
    const saved = JSON.parse(JSON.stringify(l));
    const fresh = new ColumnLayout(['a', 'b', 'c', 'd', 'e']);
    fresh.restore(saved);
    assert.deepEqual(fresh.visible(), ['a', 'e'], 'a new track shows up at the end');
    const other = new ColumnLayout(['x', 'y']);
    other.restore(saved);
    assert.deepEqual(other.visible(), ['x', 'y'], 'names the engine does not have are dropped');
    other.restore({ order: 'junk' });
    assert.deepEqual(other.visible(), ['x', 'y']);
});

test('keys in the grid', () => {
    const key = (k, mods = {}) => gridAction({ key: k, ctrlKey: false, metaKey: false, shiftKey: false, altKey: false, ...mods });
    assert.deepEqual(key('ArrowDown', { shiftKey: true }), { type: 'move', rows: 1, cols: 0, extend: true });
    assert.deepEqual(key('PageDown'), { type: 'page', bars: 1, extend: false });
    assert.deepEqual(key('PageUp', { ctrlKey: true, shiftKey: true }), { type: 'page', bars: -8, extend: true });
    assert.deepEqual(key('Z', { ctrlKey: true, shiftKey: true }), { type: 'redo' });
    assert.deepEqual(key('z', { metaKey: true }), { type: 'undo' });
    assert.deepEqual(key('v', { ctrlKey: true }), { type: 'paste' });
    assert.deepEqual(key('f', { ctrlKey: true }), { type: 'find' });
    assert.deepEqual(key('/'), { type: 'find' });
    assert.deepEqual(key('?', { shiftKey: true }), { type: 'help' });
    assert.deepEqual(key(' '), { type: 'playPause' });
    assert.deepEqual(key('i'), { type: 'interpolation' });
    assert.deepEqual(key('I'), { type: 'interpolation' }, 'Caps Lock');
    assert.deepEqual(key('p'), { type: 'seekToCursor' });
    assert.deepEqual(key('c'), { type: 'cursorToPlayhead' });
    assert.deepEqual(key('l'), { type: 'loopSelection' });
    assert.deepEqual(key('L', { shiftKey: true }), { type: 'clearLoop' });
    assert.deepEqual(key('-'), { type: 'type', text: '-' });
    assert.deepEqual(key('7'), { type: 'type', text: '7' });
    // Tab leaves the grid; the grid keeps its arrows.
    assert.equal(key('Tab'), null);
    assert.equal(key('Tab', { shiftKey: true }), null);
    assert.equal(key('q'), null);
    assert.equal(key('P', { shiftKey: true }), null);
    assert.equal(key('z', { altKey: true }), null);
    assert.equal(key('F5'), null);
});

test('the help lists every action a key can give, and nothing the keys do not', () => {
    const listed = new Set(HELP.flatMap((s) => s.items.flatMap((item) => item[2] ?? [])));
    const keys = ['ArrowUp', 'ArrowDown', 'ArrowLeft', 'ArrowRight', 'PageUp', 'PageDown', 'Home', 'End', 'Delete',
        'Backspace', 'Enter', 'Escape', ' ', '?', '/', '[', ']', '0', '.', '-', ...'abcdefghijklmnopqrstuvwxyz'];
    const given = new Set();
    for (const k of keys) {
        for (const mods of [{}, { shiftKey: true }, { ctrlKey: true }, { ctrlKey: true, shiftKey: true }]) {
            const action = gridAction({ key: k, ctrlKey: false, metaKey: false, shiftKey: false, altKey: false, ...mods });
            if (action) {
                given.add(action.type);
            }
        }
    }
    assert.deepEqual([...given].filter((t) => !listed.has(t)), [], 'keys the help does not list');
    assert.deepEqual([...listed].filter((t) => !given.has(t)), [], 'help entries no key gives');
    // The mouse gestures are there too, wheel zoom among them.
    const text = HELP.flatMap((s) => s.items.map((i) => `${i[0]} ${i[1]}`)).join('\n');
    for (const gesture of ['wheel', 'double-click', 'drag a key', 'click the row numbers', 'Tab']) {
        assert.ok(text.includes(gesture), gesture);
    }
});

test('Shift+Page Down selects whole bars: two presses from a bar line are exactly two bars', () => {
    const c = new GridCursor(4352, 4);
    c.moveTo(608, 0);
    c.moveByBars(1, 32, true);
    assert.deepEqual(c.selection(), { row0: 608, row1: 639, col0: 0, col1: 0 });
    c.moveByBars(1, 32, true);
    assert.deepEqual(c.selection(), { row0: 608, row1: 671, col0: 0, col1: 0 });
    // Back up: one bar, then down to the anchor's own row.
    c.moveByBars(-1, 32, true);
    assert.equal(c.selection().row1, 639);
    c.moveByBars(-1, 32, true);
    assert.deepEqual([c.selection().row0, c.selection().row1], [608, 608]);
    // From a bar's last row upwards: whole bars again.
    c.moveTo(671, 0);
    c.moveByBars(-2, 32, true);
    assert.deepEqual([c.selection().row0, c.selection().row1], [608, 671]);
    // Shrinking from the top stops at the anchor.
    c.moveByBars(1, 32, true);
    assert.deepEqual([c.selection().row0, c.selection().row1], [640, 671]);
    c.moveByBars(1, 32, true);
    assert.deepEqual([c.selection().row0, c.selection().row1], [671, 671]);
    // Plain Page Down moves a bar and drops the selection; the grid's ends hold.
    c.moveTo(10, 0);
    c.moveByBars(1, 32);
    assert.deepEqual([c.row, c.selection()], [42, null]);
    c.moveTo(4340, 0);
    c.moveByBars(8, 32, true);
    assert.equal(c.selection().row1, 4351);
    c.moveTo(5, 0);
    c.moveByBars(-8, 32, true);
    assert.equal(c.selection().row0, 0);
});

test('columns keep the widths the author gave them, within limits, across a reload', () => {
    const l = new ColumnLayout(['a', 'b']);
    assert.equal(l.width('a'), null);
    assert.ok(l.setWidth('a', 200.4));
    assert.equal(l.width('a'), 200);
    l.setWidth('b', 5);
    assert.equal(l.width('b'), 48);
    assert.equal(l.setWidth('zzz', 100), false);
    assert.equal(l.setWidth('a', NaN), false);
    const fresh = new ColumnLayout(['a', 'b']);
    fresh.restore(JSON.parse(JSON.stringify(l)));
    assert.equal(fresh.width('a'), 200);
    fresh.restore({ order: ['a', 'b'], hidden: [], widths: { a: 'wide', ghost: 90 } });
    assert.equal(fresh.width('a'), null);
    assert.equal(fresh.width('ghost'), null);
});

test('finding a track by name or by what it does', () => {
    const tracks = [
        { name: 'showRiro', description: "the heart's visibility and brightness" },
        { name: 'sykinta', description: "the heart's beat (0 relaxed, 1 contracted)" },
        { name: 'camx', description: 'camera eye x (world units)' },
        { name: 'hue', description: 'hue rotation' },
        { name: 'Macroblocksize', description: '' },
    ];
    const names = (q) => findTracks(tracks, q).map((t) => t.name);
    assert.deepEqual(names('heart'), ['showRiro', 'sykinta']);
    assert.deepEqual(names('heart beat'), ['sykinta']);
    assert.deepEqual(names('CAM'), ['camx']);
    assert.deepEqual(names('macro'), ['Macroblocksize']);
    // A name match ranks above a description match.
    assert.deepEqual(names('hue'), ['hue']);
    assert.deepEqual(names('x'), ['camx', 'showRiro', 'sykinta'].filter((n) => names('x').includes(n)));
    assert.equal(names('x')[0], 'camx');
    assert.deepEqual(names('nothing like it'), []);
    assert.equal(names('  ').length, tracks.length);
});
