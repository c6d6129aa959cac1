import { test } from 'node:test';
import assert from 'node:assert/strict';
import { evaluate, findKey, nextInterpolation, segmentStart } from '../../src/model/interp.js';

const f = Math.fround;
const key = (row, value, interpolation = 'linear') => ({ row, value: f(value), interpolation });

test('evaluation at and beyond the ends, and without keys', () => {
    const keys = [key(10, 1.5), key(20, 3)];
    assert.equal(evaluate([], 5), 0);
    assert.equal(evaluate(keys, -100), f(1.5));
    assert.equal(evaluate(keys, 9.99), f(1.5));
    assert.equal(evaluate(keys, 20), 3);
    assert.equal(evaluate(keys, 1e12), 3);
    assert.equal(evaluate(keys, NaN), f(1.5), 'NaN counts as before the first key, as in the engine');
    assert.equal(evaluate(keys, Infinity), 3);
});

test('the four interpolations between two keys', () => {
    const at = (interpolation, row) => evaluate([key(0, 0, interpolation), key(8, 4, 'constant')], row);
    assert.equal(at('constant', 6), 0);
    assert.equal(at('linear', 2), 1);
    assert.equal(at('smoothstep', 4), 2);
    assert.equal(at('smoothstep', 2), 4 * (3 - 2 * 0.25) * 0.0625);
    assert.equal(at('quadratic', 4), 1);
    assert.equal(at('quadratic', 8), 4, 'the next key holds from its row on');
});

test('values agree with velmora-track eval on the show\'s hue glide (0.56 smoothstep to 0.61)', () => {
    const keys = [key(0, 0.56, 'constant'), key(128, 0.56, 'smoothstep'), key(144, 0.61, 'constant')];
    // Printed by `velmora-track eval data/science/sync_hue.track 135 137.5`.
    assert.equal(evaluate(keys, 135), 0.58033692129538395);
    assert.equal(evaluate(keys, 137.5), 0.59194886254044832);
});

test('the difference of two keys is a 32-bit float, as the engine computes it', () => {
    const keys = [key(0, 0.1), key(3, 1e8)];
    const d = f(f(1e8) - f(0.1));
    assert.equal(evaluate(keys, 1), f(0.1) + (1 / 3) * d);
});

test('a fractional row uses the segment of the row below it', () => {
    const keys = [key(0, 0, 'constant'), key(4, 10, 'linear'), key(8, 20, 'constant')];
    assert.equal(evaluate(keys, 3.999), 0);
    assert.equal(evaluate(keys, 4.5), 11.25);
});

test('finding keys and segments', () => {
    const keys = [key(0, 0), key(4, 1), key(8, 2)];
    assert.equal(findKey(keys, 4), 1);
    assert.equal(findKey(keys, 5), -3);
    assert.equal(findKey(keys, -1), -1);
    assert.equal(segmentStart(keys, -1), -1);
    assert.equal(segmentStart(keys, 0), 0);
    assert.equal(segmentStart(keys, 7.9), 1);
    assert.equal(segmentStart(keys, 100), 2);
});

test('interpolation cycles constant, linear, smoothstep, quadratic', () => {
    const seen = ['constant'];
    for (let i = 0; i < 4; i++) {
        seen.push(nextInterpolation(seen[seen.length - 1]));
    }
    assert.deepEqual(seen, ['constant', 'linear', 'smoothstep', 'quadratic', 'constant']);
});
