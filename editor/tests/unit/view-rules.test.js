import { test } from 'node:test';
import assert from 'node:assert/strict';
import { blend, contrast, CURVE, GRID, TIMELINE } from '../../src/views/palette.js';
import { autoStep, growRange, paddedRange, snapValue } from '../../src/model/scale.js';
import { Prefs } from '../../src/model/prefs.js';

test('every text the canvases draw reaches 4.5:1 on every background it is drawn on', () => {
    const g = GRID;
    // The grid's rows: plain, every other beat shaded, the playhead's row, the selection, both.
    const rowBackgrounds = [g.background, g.beatShade, blend(g.playhead, g.background), blend(g.playhead, g.beatShade),
        blend(g.selection, g.background), blend(g.selection, g.beatShade), blend(g.selection, blend(g.playhead, g.beatShade))];
    const texts = [['value', g.evaluated], ['key', g.key], ...Object.entries(g.interpolation)];
    for (const bg of rowBackgrounds) {
        for (const [what, fg] of texts) {
            assert.ok(contrast(fg, bg) >= 4.5, `${what} ${fg} on ${bg}: ${contrast(fg, bg).toFixed(2)}`);
        }
    }
    for (const [what, fg, bg] of [['row number', g.gutterText, g.gutter], ['bar number', g.barText, g.gutter],
        ['track name', g.headerText, g.header], ['current track', g.cursor, g.header], ['broken track', g.failed, g.header],
        ['gutter label', g.gutterText, g.header], ['timeline bar', TIMELINE.label, TIMELINE.background],
        ['curve bar', CURVE.label, CURVE.background]]) {
        assert.ok(contrast(fg, bg) >= 4.5, `${what}: ${contrast(fg, bg).toFixed(2)}`);
    }
    // The arithmetic itself: black on white is 21, a colour on itself 1; the old faint value failed.
    assert.equal(contrast('#000000', '#ffffff'), 21);
    assert.equal(contrast('#15171c', '#15171c'), 1);
    assert.ok(contrast('#5d6578', '#15171c') < 3.1);
    assert.equal(blend('rgba(255, 255, 255, 0.5)', '#000000'), '#808080');
});

test('a lane\'s range: padded around what it shows, growing under a dragged key', () => {
    assert.deepEqual(paddedRange(0, 100), { lo: -8, hi: 108 });
    assert.deepEqual(paddedRange(5, 5), { lo: 4, hi: 6 }, 'a flat track gets room around its value');
    assert.deepEqual(paddedRange(300, 300), { lo: 270, hi: 330 });
    assert.deepEqual(paddedRange(Infinity, -Infinity), { lo: -1, hi: 1 });
    const r = { lo: 0, hi: 10 };
    assert.equal(growRange(r, 5), r, 'inside: unchanged');
    assert.deepEqual(growRange(r, 20), { lo: 0, hi: 20.5 });
    assert.deepEqual(growRange(r, -4), { lo: -4.5, hi: 10 });
});

test('values snap to a precision an author can type back', () => {
    assert.equal(autoStep({ lo: 0, hi: 1 }), 0.01);
    assert.equal(autoStep({ lo: -50, hi: 70 }), 1);
    assert.equal(autoStep({ lo: 0, hi: 0 }), 1);
    assert.equal(snapValue(0.123456, 0.01), Math.fround(0.12));
    assert.equal(snapValue(-0.004, 0.01), 0);
    assert.ok(!Object.is(snapValue(-0.004, 0.01), -0));
    assert.equal(snapValue(1234.5, 10), 1230);
    assert.equal(snapValue(0.30000000000000004, 0.1), Math.fround(0.3));
    assert.equal(snapValue(2.7, 0), Math.fround(2.7), 'no step: free');
    assert.equal(String(snapValue(0.07, 0.001)), String(Math.fround(0.07)));
});

test('settings outlive a reload; damaged or foreign ones give the defaults', () => {
    const box = new Map();
    const storage = { getItem: (k) => box.get(k) ?? null, setItem: (k, v) => box.set(k, v) };
    const prefs = new Prefs(storage);
    assert.equal(prefs.get('bottomHeight', 210), 210);
    assert.ok(prefs.set('bottomHeight', 300));
    assert.ok(prefs.set('picture', true));
    assert.ok(prefs.set('precision', 0.01));
    assert.equal(prefs.set('precision', 0.02), false);
    assert.equal(prefs.set('bottomHeight', -5), false);
    assert.equal(prefs.set('anything', 1), false);
    const again = new Prefs(storage);
    assert.deepEqual([again.get('bottomHeight'), again.get('picture'), again.get('precision')], [300, true, 0.01]);
    box.set('velmora-editor-prefs', '{"bottomHeight": "tall", "picture": 1, "sideWidth": 400}');
    const damaged = new Prefs(storage);
    assert.deepEqual([damaged.get('bottomHeight'), damaged.get('picture'), damaged.get('sideWidth')], [null, null, 400]);
    box.set('velmora-editor-prefs', '{not json');
    assert.equal(new Prefs(storage).get('sideWidth'), null);
    const failing = new Prefs({ getItem: () => { throw new Error('denied'); }, setItem: () => { throw new Error('full'); } });
    assert.ok(failing.set('picture', true), 'kept for the page\'s life');
    assert.equal(new Prefs(null).get('picture', false), false);
});
