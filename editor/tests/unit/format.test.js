import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    formatBarBeat, formatCell, formatEvaluated, formatPlace, formatRows, formatTime, formatValue, parseGoTo, parseValue,
} from '../../src/model/format.js';

test('values print as the shortest decimal of their 32-bit float', () => {
    assert.equal(formatValue(Math.fround(-58.284)), '-58.284');
    assert.equal(formatValue(Math.fround(0.1)), '0.1');
    assert.equal(formatValue(Math.fround(1e-7)), '1e-7');
    assert.equal(formatValue(Math.fround(3.4e38)), '3.4e+38');
    assert.equal(formatValue(0), '0');
    for (const v of [0.56, 123456.7, -1e-30, 16777217, 2.5]) {
        const f = Math.fround(v);
        assert.equal(Math.fround(Number(formatValue(f))), f, `${v} reads back`);
    }
});

test('cells fit their width; evaluated values round to 3 decimals', () => {
    assert.equal(formatCell(Math.fround(-58.284)), '-58.284');
    const long = formatCell(Math.fround(-1234567.89), 9);
    assert.ok(long.length <= 9, long);
    assert.ok(formatCell(Math.fround(1.17549435e-38), 9).length <= 9);
    assert.equal(formatEvaluated(41.2499999), '41.25');
    assert.equal(formatEvaluated(-0.0001), '-0.0001');
    assert.equal(formatEvaluated(1e-9), '1e-9');
    assert.equal(formatEvaluated(-0.0004999), '-4.999e-4');
    assert.ok(formatEvaluated(123456789.123).length <= 9);
});

test('typed values: finite numbers that fit a float', () => {
    assert.deepEqual(parseValue(' -2 '), { ok: true, value: -2 });
    assert.deepEqual(parseValue('.5'), { ok: true, value: 0.5 });
    assert.deepEqual(parseValue('1e3'), { ok: true, value: 1000 });
    assert.deepEqual(parseValue('+7.'), { ok: true, value: 7 });
    assert.equal(parseValue('0.1').value, Math.fround(0.1));
    assert.ok(Object.is(parseValue('-0').value, 0));
    for (const bad of ['', '1..5', 'abc', '1e39', '-3.5e38', 'NaN', 'Infinity', '0x10', '1,5', '--1']) {
        assert.equal(parseValue(bad).ok, false, bad);
    }
});

test('go-to: rows, bar.beat as the readout shows it, and times', () => {
    const row = (text, timing) => {
        const r = parseGoTo(text, timing);
        assert.ok(r.ok, `${text}: ${r.error}`);
        return r.row;
    };
    assert.equal(row('1000'), 1000);
    assert.equal(row('row 12.5'), 12.5);
    assert.equal(row('r40'), 40);
    // The readout says "bar 20.1" at row 608: typing it goes back there.
    assert.equal(row('20.1'), 608);
    assert.equal(row('20.4'), 632);
    assert.equal(row('1.1'), 0);
    assert.equal(row('20.2.3'), 618);
    assert.equal(row('b20'), 608);
    assert.equal(row('Bar 3.2'), 72);
    assert.equal(row('3.2', { rowsPerBeat: 4 }), 36);
    assert.equal(row('1:00'), 1440);
    assert.equal(row('0:41.5', { rowsPerSecond: 24 }), 996);
    assert.equal(row('2:03', { rowsPerSecond: 10 }), 1230);
    assert.equal(row('10s'), 240);
    for (const bad of ['x', '', '1:75', ':30', '1:2:3', '1e3', '20.5', '0.1', '20.0', '20.1.9', 'b0', '-5', '12.5']) {
        const r = parseGoTo(bad);
        assert.equal(r.ok, false, bad);
        assert.match(r.error, /bar\.beat|beats 1 to 4|rows 1 to 8|counted from 1/, bad);
    }
});

test('places and row ranges as the author says them', () => {
    assert.equal(formatPlace(896), 'bar 29');
    assert.equal(formatPlace(904), 'bar 29.2');
    assert.equal(formatPlace(901), 'row 901 (bar 29.1)');
    assert.equal(formatRows(608, 671), 'bars 20–21 (rows 608–671)');
    assert.equal(formatRows(608, 639), 'bar 20 (rows 608–639)');
    assert.equal(formatRows(600, 650), 'rows 600–650 (bar 19.4 to 21.2)');
});

test('time and bar.beat', () => {
    assert.equal(formatTime(0), '0:00.000');
    assert.equal(formatTime(1000 / 24), '0:41.666');
    assert.equal(formatTime(181.0), '3:01.000');
    assert.equal(formatTime(-1), '0:00.000');
    assert.equal(formatBarBeat(0), '1.1');
    assert.equal(formatBarBeat(8), '1.2');
    assert.equal(formatBarBeat(31.9), '1.4');
    assert.equal(formatBarBeat(32), '2.1');
    assert.equal(formatBarBeat(1000), '32.2');
});
