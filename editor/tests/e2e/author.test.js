// An author's passage, task by task, each checked where it matters: in the engine (its state and
// tracks) and in the files on disk, not only on the page. The last test does it all by keyboard.
import fs from 'node:fs/promises';
import { test, expect, clickCell, parseTrackText, waitSaved } from './fixtures.js';

const keyAt = (track, row) => (Array.isArray(track) ? track : track.keys).find((k) => k.row === row);
const inRows = (keys, from, to) => keys.filter((k) => k.row >= from && k.row <= to);
const source = async (engine, name) => parseTrackText(await fs.readFile(engine.file(`data/science/src/${name}.txt`), 'utf8'));
const cursorAt = (page) => page.evaluate(() => {
    const app = window.velmoraEditor.app;
    return { track: app.editor.cursorTrack(), row: app.cursor.row };
});
// The first comment line of a track's source, without "NAME:".
const firstComment = async (engine, name) => {
    const text = await fs.readFile(engine.file(`data/science/src/${name}.txt`), 'utf8');
    return text.split('\n')[0].replace(/^#\s*/, '').replace(`${name}:`, '').trim();
};

test.describe('an author\'s passage', () => {
    test('1. finding the heart\'s track: its header, the columns panel and Ctrl+F say what each track does', async ({ editor, engine }) => {
        const fromEngine = (await engine.api('GET', '/api/tracks')).body;
        const sykinta = fromEngine.find((t) => t.name === 'sykinta');
        expect(sykinta.description.split('\n')[0]).toBe(await firstComment(engine, 'sykinta'));
        // The header's tooltip: the name in full and what the source says.
        await clickCell(editor, 'sykinta', 0);
        const header = await editor.evaluate(() => {
            const app = window.velmoraEditor.app;
            const r = app.grid.cellRect(-1, app.cursor.col);
            return { x: r.x + r.width / 2, y: r.y + r.height / 2 };
        });
        await editor.mouse.move(header.x, header.y);
        await expect(editor.locator('#grid')).toHaveAttribute('title', new RegExp(`^sykinta: ${sykinta.description.split('\n')[0].replace(/[()]/g, '\\$&')}`));
        // A long name is readable in full: its column is wide enough, and it can be widened.
        const widths = await editor.evaluate(() => {
            const g = window.velmoraEditor.app.grid;
            const ctx = g.ctx;
            ctx.font = '11px system-ui, "DejaVu Sans", sans-serif';
            return { column: g.columnWidth('Macroblocksize'), name: ctx.measureText('Macroblocksize').width };
        });
        expect(widths.column).toBeGreaterThan(widths.name + 20);
        // The columns panel lists the descriptions.
        await editor.locator('#columns-button').click();
        await expect(editor.locator('#columns-list li[data-track="sykinta"] .column-description')).toHaveText(sykinta.description);
        await editor.locator('#columns-close').click();
        // Ctrl+F: "heart" finds the two heart tracks by what they do; Enter goes to the first.
        await editor.locator('#grid').focus();
        await editor.keyboard.press('Control+f');
        await expect(editor.locator('#find-panel')).toBeVisible();
        await editor.keyboard.type('heart');
        await expect(editor.locator('#find-list li').first()).toBeVisible();
        const found = (await editor.locator('#find-list li').allInnerTexts()).map((t) => t.split(' ')[0]);
        expect(found).toEqual(expect.arrayContaining(['showRiro', 'sykinta']));
        await editor.keyboard.type(' beat');
        await expect(editor.locator('#find-list li')).toHaveCount(1);
        await editor.keyboard.press('Enter');
        await expect(editor.locator('#find-panel')).toBeHidden();
        expect((await cursorAt(editor)).track).toBe('sykinta');
        expect(await editor.evaluate(() => document.activeElement.id)).toBe('grid');
        // A hidden track is shown again when found.
        await editor.locator('#columns-button').click();
        await editor.locator('#columns-list li[data-track="hue"] input[type=checkbox]').uncheck();
        await editor.locator('#columns-close').click();
        await editor.locator('#grid').focus();
        await editor.keyboard.press('/');
        await editor.keyboard.type('hue');
        await editor.keyboard.press('Enter');
        expect((await cursorAt(editor)).track).toBe('hue');
    });

    test('2. going to bar 20: the go-to field takes bar.beat; the engine and the grid go there', async ({ editor, engine }) => {
        await clickCell(editor, 'sykinta', 1568);
        await editor.locator('#row-input').fill('20.1');
        await editor.locator('#row-input').press('Enter');
        await expect.poll(async () => Math.abs((await engine.state()).row - 608)).toBeLessThan(1);
        expect(await cursorAt(editor)).toEqual({ track: 'sykinta', row: 608 });
        await expect(editor.locator('#barbeat')).toHaveText('20.1');
        expect(await editor.evaluate(() => window.velmoraEditor.app.grid.rowInView(608))).toBe(true);
        // The gutter names the bar at its line.
        expect(await editor.evaluate(() => document.activeElement.id)).toBe('grid');
        // And a time.
        await editor.locator('#row-input').fill('0:30');
        await editor.locator('#row-input').press('Enter');
        await expect.poll(async () => Math.abs((await engine.state()).row - 720)).toBeLessThan(1);
    });

    test('3. keying it: the value typed at bar 20 is in the engine, the source and the compiled file', async ({ editor, engine }) => {
        await clickCell(editor, 'sykinta', 0);
        await editor.locator('#row-input').fill('20.1');
        await editor.locator('#row-input').press('Enter');
        await expect.poll(() => cursorAt(editor)).toEqual({ track: 'sykinta', row: 608 });
        await editor.keyboard.type('0.9');
        await editor.keyboard.press('Enter');
        await waitSaved(editor);
        expect(keyAt(await engine.track('sykinta'), 608)).toEqual({ row: 608, value: Math.fround(0.9), interpolation: 'linear' });
        expect(keyAt(await source(engine, 'sykinta'), 608)).toEqual({ row: 608, value: Math.fround(0.9), interpolation: 'linear' });
        expect(await engine.trackEval('sykinta', [608])).toEqual([Math.fround(0.9)]);
        // The status line and the screen reader's region say what the cell holds now.
        await expect(editor.locator('#cursor-info')).toHaveText('sykinta · bar 20.1 · row 608 · key 0.9 linear');
        await expect(editor.locator('#cell-announce')).toHaveText('sykinta · bar 20.1 · row 608 · key 0.9 linear');
    });

    test('4. looping two bars: a selection of two whole bars loops exactly their rows', async ({ editor, engine }) => {
        await clickCell(editor, 'sykinta', 608);
        await editor.keyboard.press('Shift+PageDown');
        await editor.keyboard.press('Shift+PageDown');
        expect(await editor.evaluate(() => window.velmoraEditor.app.cursor.selection())).toMatchObject({ row0: 608, row1: 671 });
        await editor.locator('#loop-selection').click();
        await expect.poll(async () => (await engine.state()).loop).toEqual({ from: 608, to: 672 });
        await expect(editor.locator('#loop-text')).toHaveText('loop bars 20–21 (608–671)');
        // Played, it stays in those two bars.
        await editor.keyboard.press('p');
        await editor.keyboard.press('Space');
        await expect.poll(async () => (await engine.state()).playing).toBe(true);
        for (let i = 0; i < 6; i++) {
            await editor.waitForTimeout(400);
            const { row } = await engine.state();
            expect(row).toBeGreaterThanOrEqual(608);
            expect(row).toBeLessThan(672);
        }
        await editor.keyboard.press('Space');
        await editor.keyboard.press('Shift+L');
        await expect.poll(async () => (await engine.state()).loop).toBeNull();
    });

    test('5. moving a block eight bars on: it lands at the cursor, says so, and leaves the track without keys in it alone', async ({ editor, engine }) => {
        const before = { hue: (await engine.track('hue')).keys, saturation: (await engine.track('saturation')).keys };
        // hue and saturation over bars 57-58 (rows 1792-1855): keys in hue only. Selected from
        // the bottom-right corner, as an author dragging upwards would.
        await clickCell(editor, 'saturation', 1855);
        await clickCell(editor, 'hue', 1792, ['Shift']);
        await editor.keyboard.press('Control+x');
        await waitSaved(editor);
        expect(inRows((await engine.track('hue')).keys, 1792, 1855)).toEqual([]);
        await editor.locator('#row-input').fill('65.1');
        await editor.locator('#row-input').press('Enter');
        await expect.poll(() => cursorAt(editor)).toEqual({ track: 'hue', row: 2048 });
        await editor.keyboard.press('Control+v');
        await expect(editor.locator('.notice', { hasText: 'Pasted' })).toHaveText(/Pasted 2 keys into hue–saturation at bar 65\./);
        await waitSaved(editor);
        const hue = (await engine.track('hue')).keys;
        const moved = inRows(before.hue, 1792, 1855).map((k) => ({ ...k, row: k.row + 256 }));
        expect(moved.length).toBe(2);
        expect(inRows(hue, 2048, 2111)).toEqual(moved);
        // saturation's key at 2048 (in the block's rows, but the block had none of saturation's)
        // is still there, in the engine and on disk.
        expect((await engine.track('saturation')).keys).toEqual(before.saturation);
        expect(keyAt(await source(engine, 'saturation'), 2048)).toEqual({ row: 2048, value: Math.fround(0.7), interpolation: 'constant' });
        expect(inRows(await source(engine, 'hue'), 2048, 2111)).toEqual(moved);
        expect(await engine.trackEval('hue', [2048, 2064])).toEqual(moved.map((k) => k.value));
    });

    test('6. fixing a shader: the error shows while it is broken, with its place, and goes when it is fixed', async ({ editor, engine }) => {
        const file = 'data/shaders/postproc.fs';
        const good = await fs.readFile(engine.file(file), 'utf8');
        const lines = good.split('\n');
        const at = lines.findIndex((l) => l.startsWith('#version')) + 2;
        lines.splice(at, 0, 'this_is_not_glsl;');
        await engine.saveFile(file, lines.join('\n'));
        const item = editor.locator('#error-list li').first();
        await expect(item.locator('.where')).toHaveText(/shaders\/postproc\.fs:\d+$/);
        const { errors } = await engine.state();
        expect(errors).toHaveLength(1);
        await expect(item.locator('.where')).toHaveText(`${errors[0].file}:${errors[0].line}`);
        // The errors are the last stop of the tab order, after the curves.
        await editor.locator('#curves').focus();
        await editor.keyboard.press('Tab');
        expect(await editor.evaluate(() => document.activeElement.closest('#errors') !== null)).toBe(true);
        await engine.saveFile(file, good);
        await expect(editor.locator('#error-list li')).toHaveCount(0);
        expect((await engine.state()).errors).toEqual([]);
    });

    test('7. the whole passage by keyboard alone', async ({ editor, engine }) => {
        const before = { hue: (await engine.track('hue')).keys, saturation: (await engine.track('saturation')).keys };
        // Tab goes toolbar, timeline, grid, curves, errors.
        const order = [];
        await editor.locator('body').focus();
        for (let i = 0; i < 30; i++) {
            await editor.keyboard.press('Tab');
            order.push(await editor.evaluate(() => {
                const a = document.activeElement;
                return a.closest('header') ? 'toolbar' : a.closest('#errors') ? 'errors' : a.id || a.tagName;
            }));
            if (order.at(-1) === 'errors') {
                break;
            }
        }
        const stops = order.filter((x, i) => x !== order[i - 1]);
        expect(stops).toEqual(['toolbar', 'timeline-slider', 'grid', 'precision', 'curves', 'errors']);
        // The timeline is a slider: arrows move the playhead (and the cursor) a beat.
        await editor.locator('#timeline-slider').focus();
        await editor.keyboard.press('ArrowRight');
        await expect.poll(async () => (await engine.state()).row).toBe(8);
        await expect(editor.locator('#timeline-slider')).toHaveAttribute('aria-valuenow', '8');
        await editor.keyboard.press('Shift+ArrowRight');
        await expect.poll(async () => (await engine.state()).row).toBe(32);
        await editor.keyboard.press('Tab');
        expect(await editor.evaluate(() => document.activeElement.id)).toBe('grid');
        expect((await cursorAt(editor)).row).toBe(32);

        // Find the heart's beat.
        await editor.keyboard.press('/');
        await editor.keyboard.type('heart beat');
        await editor.keyboard.press('Enter');
        expect((await cursorAt(editor)).track).toBe('sykinta');
        // Go to bar 20 and key it.
        await editor.keyboard.press('g');
        expect(await editor.evaluate(() => document.activeElement.id)).toBe('row-input');
        await editor.keyboard.type('20.1');
        await editor.keyboard.press('Enter');
        await expect.poll(async () => Math.abs((await engine.state()).row - 608)).toBeLessThan(1);
        await editor.keyboard.type('0.9');
        await editor.keyboard.press('Enter');
        await waitSaved(editor);
        expect(keyAt(await engine.track('sykinta'), 608)?.value).toBe(Math.fround(0.9));
        expect(keyAt(await source(engine, 'sykinta'), 608)?.value).toBe(Math.fround(0.9));
        // Loop two bars, play, pause.
        await editor.keyboard.press('Shift+PageDown');
        await editor.keyboard.press('Shift+PageDown');
        await editor.keyboard.press('l');
        await expect.poll(async () => (await engine.state()).loop).toEqual({ from: 608, to: 672 });
        await editor.keyboard.press('p');
        await editor.keyboard.press('Space');
        await expect.poll(async () => (await engine.state()).playing).toBe(true);
        await editor.keyboard.press('Space');
        await expect.poll(async () => (await engine.state()).playing).toBe(false);
        await editor.keyboard.press('Shift+L');
        await expect.poll(async () => (await engine.state()).loop).toBeNull();
        // Move hue-saturation over bars 57-58 eight bars on.
        await editor.keyboard.press('Control+f');
        await editor.keyboard.type('hue');
        await editor.keyboard.press('Enter');
        await editor.keyboard.press('g');
        await editor.keyboard.type('57.1');
        await editor.keyboard.press('Enter');
        await editor.keyboard.press('Shift+ArrowRight');
        await editor.keyboard.press('Shift+PageDown');
        await editor.keyboard.press('Shift+PageDown');
        await editor.keyboard.press('Control+x');
        await editor.keyboard.press('g');
        await editor.keyboard.type('65.1');
        await editor.keyboard.press('Enter');
        await editor.keyboard.press('Control+v');
        await waitSaved(editor);
        const moved = inRows(before.hue, 1792, 1855).map((k) => ({ ...k, row: k.row + 256 }));
        expect(inRows((await engine.track('hue')).keys, 2048, 2111)).toEqual(moved);
        expect(inRows((await engine.track('hue')).keys, 1792, 1855)).toEqual([]);
        expect((await engine.track('saturation')).keys).toEqual(before.saturation);
        expect(inRows(await source(engine, 'hue'), 2048, 2111)).toEqual(moved);
        // Undo by keyboard puts the paste back, in the engine and on disk.
        await editor.keyboard.press('Control+z');
        await waitSaved(editor);
        expect(inRows((await engine.track('hue')).keys, 2048, 2111)).toEqual(inRows(before.hue, 2048, 2111));
        expect(inRows(await source(engine, 'hue'), 2048, 2111)).toEqual(inRows(before.hue, 2048, 2111));
        // The help lists the keys, and closes back to the grid.
        await editor.keyboard.press('?');
        await expect(editor.locator('#help-panel')).toBeVisible();
        await expect(editor.locator('#help-body')).toContainText('move the playhead to the cursor');
        await expect(editor.locator('#help-body')).toContainText('wheel');
        await editor.keyboard.press('Escape');
        await expect(editor.locator('#help-panel')).toBeHidden();
        expect(await editor.evaluate(() => document.activeElement.id)).toBe('grid');
    });
});
