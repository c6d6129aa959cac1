import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    applyChanges, blockFromText, blockToText, copyBlock, cycleInterpolation, diffKeys, moveKey,
    normaliseKeys, pasteColumn, removeRows, sameKeys, setInterpolationInRows, setKeyValue,
} from '../../src/model/keys.js';

const k = (row, value, interpolation = 'linear') => ({ row, value, interpolation });
const frozen = (keys) => Object.freeze(keys.map((x) => Object.freeze({ ...x })));

test('setting a value: a new key splits its segment with the same interpolation, an old key keeps its own', () => {
    const keys = frozen([k(0, 1, 'smoothstep'), k(10, 2, 'constant')]);
    assert.deepEqual(setKeyValue(keys, 5, 9), [k(0, 1, 'smoothstep'), k(5, 9, 'smoothstep'), k(10, 2, 'constant')]);
    assert.deepEqual(setKeyValue(keys, 10, 7), [k(0, 1, 'smoothstep'), k(10, 7, 'constant')]);
    assert.deepEqual(setKeyValue([], 3, 1), [k(3, 1, 'linear')]);
    assert.equal(setKeyValue(keys, 0, 1), keys, 'the same value changes nothing');
    assert.deepEqual(setKeyValue(frozen([k(4, 1, 'quadratic')]), 2, 5, 'constant'), [k(2, 5, 'constant'), k(4, 1, 'quadratic')]);
});

test('removing rows and cycling interpolations', () => {
    const keys = frozen([k(0, 1, 'constant'), k(4, 2, 'linear'), k(8, 3, 'smoothstep')]);
    assert.deepEqual(removeRows(keys, 1, 8), [k(0, 1, 'constant')]);
    assert.equal(removeRows(keys, 1, 3), keys, 'nothing in the rows: the same array');
    assert.equal(cycleInterpolation(keys, 4)[1].interpolation, 'smoothstep');
    assert.equal(cycleInterpolation(keys, 6)[1].interpolation, 'smoothstep', 'between keys: the key above');
    assert.equal(cycleInterpolation(keys, 100)[2].interpolation, 'quadratic');
    assert.equal(cycleInterpolation(frozen([k(5, 1)]), 2).length, 1);
    assert.deepEqual(cycleInterpolation(frozen([k(5, 1)]), 2), [k(5, 1)], 'above the first key: nothing');
    assert.deepEqual(setInterpolationInRows(keys, 0, 4, 'quadratic').map((x) => x.interpolation), ['quadratic', 'quadratic', 'smoothstep']);
});

test('moving a key keeps it sorted and replaces what is on its new row', () => {
    const keys = frozen([k(0, 1), k(4, 2, 'constant'), k(8, 3)]);
    assert.deepEqual(moveKey(keys, 4, 6, 5), [k(0, 1), k(6, 5, 'constant'), k(8, 3)]);
    assert.deepEqual(moveKey(keys, 4, 8, 5), [k(0, 1), k(8, 5, 'constant')]);
    assert.deepEqual(moveKey(keys, 4, 0, 5).map((x) => x.row), [0, 8]);
    assert.equal(moveKey(keys, 5, 6, 1), keys, 'no key there');
});

test('a diff undoes and redoes exactly, also on a track changed meanwhile elsewhere', () => {
    let seed = 7;
    const random = () => {
        seed = (seed * 16807) % 2147483647;
        return seed / 2147483647;
    };
    const names = ['constant', 'linear', 'smoothstep', 'quadratic'];
    const randomKeys = () => {
        const rows = new Set();
        for (let i = 0; i < 12; i++) {
            rows.add(Math.floor(random() * 40));
        }
        return [...rows].sort((a, b) => a - b).map((r) => k(r, Math.fround(random() * 10), names[Math.floor(random() * 4)]));
    };
    for (let i = 0; i < 200; i++) {
        const before = randomKeys();
        const after = randomKeys();
        const changes = diffKeys(before, after);
        assert.deepEqual(applyChanges(before, changes, 'after'), after);
        assert.deepEqual(applyChanges(after, changes, 'before'), before);
    }
    // A change elsewhere on another row survives the undo.
    const before = [k(0, 1), k(8, 2)];
    const after = [k(0, 1), k(4, 5), k(8, 2)];
    const elsewhere = [...after, k(20, 9)];
    assert.deepEqual(applyChanges(elsewhere, diffKeys(before, after), 'before'), [k(0, 1), k(8, 2), k(20, 9)]);
    assert.deepEqual(diffKeys(before, before), []);
});

test('paste: a column with keys replaces its rows exactly; an empty one leaves its track alone unless the block says to clear', () => {
    const a = frozen([k(0, 1), k(2, 2), k(5, 3), k(9, 4)]);
    const b = frozen([k(3, 7, 'quadratic')]);
    const block = copyBlock([a, b], 2, 5, ['a', 'b']);
    assert.deepEqual(block, { rows: 4, columns: [[k(0, 2), k(3, 3)], [k(1, 7, 'quadratic')]], names: ['a', 'b'], clear: false });
    // Pasted at row 8 of a: row 9's key is inside the block's rows and goes.
    assert.deepEqual(pasteColumn(a, block.columns[0], block.rows, 8), [k(0, 1), k(2, 2), k(5, 3), k(8, 2), k(11, 3)]);
    // An empty column changes nothing (the track's keys there stay) ...
    assert.equal(pasteColumn(a, [], 4, 0), a);
    // ... unless the block was made to clear.
    assert.deepEqual(pasteColumn(a, [], 4, 0, true), [k(5, 3), k(9, 4)]);
    // Pasting what is there already changes nothing.
    assert.equal(pasteColumn(a, block.columns[0], block.rows, 2), a);
    // Rows past the last a track can hold are dropped, not wrapped.
    assert.deepEqual(pasteColumn([], [k(0, 1), k(3, 2)], 4, 2147483645), [k(2147483645, 1)]);
});

test('blocks go through text and back, also as a text editor writes them; other text is not a block', () => {
    const block = { rows: 4, columns: [[k(0, Math.fround(0.1)), k(3, -2, 'quadratic')], []], names: ['hue', 'saturation'], clear: false };
    const text = blockToText(block);
    assert.match(text, /^velmora-keys\t4\t2\ntracks\thue\tsaturation\n0\t0\t0\.1\tlinear\n/, 'values as their shortest decimal');
    assert.deepEqual(blockFromText(text), block);
    assert.deepEqual(blockFromText(blockToText({ ...block, names: [], clear: true })), { ...block, names: [], clear: true });
    // Typed by hand: spaces, Windows line ends, comments, capitals, unsorted rows.
    assert.deepEqual(
        blockFromText('# two keys\r\nvelmora-keys 8 1\r\n0 5 -1.5 Smoothstep   # the dip\r\n\r\n0 1 2 constant\r\n'),
        { rows: 8, columns: [[k(1, 2, 'constant'), k(5, -1.5, 'smoothstep')]], names: [], clear: false },
    );
    for (const notMeant of ['', 'hello', '0 1 2 linear', 'keys 4 1']) {
        assert.equal(blockFromText(notMeant), null, JSON.stringify(notMeant));
    }
    // Meant as a block but broken: the reason, with the line.
    const cases = [
        ['velmora-keys\t0\t1\n', /number of rows/],
        ['velmora-keys 4\n', /first line/],
        ['velmora-keys 4 1 wipe\n', /first line/],
        ['velmora-keys\t4\t1\n0\t9\t1\tlinear\n', /line 2/],
        ['velmora-keys\t4\t1\n1\t0\t1\tlinear\n', /line 2/],
        ['velmora-keys\t4\t1\n0\t0\tNaN\tlinear\n', /line 2/],
        ['velmora-keys\t4\t1\n0\t0\t1e39\tlinear\n', /line 2/],
        ['velmora-keys\t4\t1\n0\t0\t0x10\tlinear\n', /line 2/],
        ['velmora-keys\t4\t1\n0\t0\t1\twobbly\n', /line 2/],
        ['velmora-keys\t4\t1\n0\t0\t1\tlinear\n0\t0\t2\tlinear\n', /line 3 .*second key on row 0/],
        ['velmora-keys 4 2\ntracks hue\n', /name 2 track/],
    ];
    for (const [bad, why] of cases) {
        const parsed = blockFromText(bad);
        assert.ok(parsed && parsed.error, JSON.stringify(bad));
        assert.match(parsed.error, why, JSON.stringify(bad));
    }
});

test('keys from the engine are checked and sorted', () => {
    assert.deepEqual(normaliseKeys([k(5, 1), k(2, 3, 'constant')]), [k(2, 3, 'constant'), k(5, 1)]);
    assert.equal(normaliseKeys([k(0, -58.284)])[0].value, Math.fround(-58.284));
    assert.throws(() => normaliseKeys([{ row: 1.5, value: 1, interpolation: 'linear' }]));
    assert.throws(() => normaliseKeys([{ row: 1, value: '1', interpolation: 'linear' }]));
    assert.throws(() => normaliseKeys([{ row: 1, value: 1, interpolation: 'cubic' }]));
    assert.throws(() => normaliseKeys(null));
    assert.ok(sameKeys([k(1, 2)], [k(1, 2)]));
    assert.ok(!sameKeys([k(1, 2)], [k(1, 2, 'constant')]));
});
