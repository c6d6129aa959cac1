import { test } from 'node:test';
import assert from 'node:assert/strict';
import { GridCursor } from '../../src/model/cursor.js';
import { ColumnLayout } from '../../src/model/columns.js';
import { History } from '../../src/model/history.js';
import { gridAction } from '../../src/model/keymap.js';

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
    assert.deepEqual(key('PageDown'), { type: 'move', rows: 32, cols: 0, extend: false });
    assert.deepEqual(key('Z', { ctrlKey: true, shiftKey: true }), { type: 'redo' });
    assert.deepEqual(key('z', { metaKey: true }), { type: 'undo' });
    assert.deepEqual(key('v', { ctrlKey: true }), { type: 'paste' });
    assert.deepEqual(key(' '), { type: 'playPause' });
    assert.deepEqual(key('i'), { type: 'interpolation' });
    assert.deepEqual(key('-'), { type: 'type', text: '-' });
    assert.deepEqual(key('7'), { type: 'type', text: '7' });
    assert.equal(key('q'), null);
    assert.equal(key('z', { altKey: true }), null);
    assert.equal(key('F5'), null);
});
