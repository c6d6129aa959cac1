// What the grid shows: the show's tracks, their keys, the engine's values between keys, and
// changes made on disk.
import fs from 'node:fs/promises';
import { test, expect, clickCell, drawnCells, parseTrackText } from './fixtures.js';

const cellOf = (cells, name, row) => cells.find((c) => c.name === name && c.row === row);

test.describe('grid', () => {
    test('shows the 36 tracks in the engine\'s order', async ({ editor, engine }) => {
        const fromEngine = (await engine.api('GET', '/api/tracks')).body.map((t) => t.name);
        const columns = await editor.evaluate(() => window.velmoraEditor.app.layout.visible());
        expect(fromEngine).toHaveLength(36);
        expect(columns).toEqual(fromEngine);
        // The last column is reachable and drawn.
        await clickCell(editor, fromEngine[35], 0);
        const cells = await drawnCells(editor, 0);
        expect(cellOf(cells, fromEngine[35], 0)).toBeTruthy();
    });

    test('shows the keys of a track file with their interpolation, and the engine\'s values between them', async ({ editor, engine }) => {
        const keys = parseTrackText(await fs.readFile(engine.file('data/science/src/hue.txt'), 'utf8'));
        expect(keys.length).toBeGreaterThan(8);
        for (const key of keys.slice(0, 8)) {
            await clickCell(editor, 'hue', key.row);
            const cell = cellOf(await drawnCells(editor, key.row), 'hue', key.row);
            expect(cell, `hue row ${key.row}`).toMatchObject({ key: true, interpolation: key.interpolation });
            expect(Math.fround(Number(cell.text))).toBe(key.value);
        }
        // A smooth glide: the faint values are the engine's, to the digits shown.
        const cells = await drawnCells(editor, 136);
        const rows = [129, 132, 136, 140, 143];
        const evaluated = await engine.trackEval('hue', rows);
        rows.forEach((row, i) => {
            const cell = cellOf(cells, 'hue', row);
            expect(cell, `hue row ${row}`).toMatchObject({ key: false });
            expect(Number(cell.text)).toBeCloseTo(evaluated[i], 3);
        });
    });

    test('a track source saved on disk shows up at once', async ({ editor, engine }) => {
        await clickCell(editor, 'darken', 0);
        expect(cellOf(await drawnCells(editor, 0), 'darken', 0).text).toBe('1');
        await engine.saveFile('data/science/src/darken.txt', '# darker start\n0 0.75 smoothstep\n96 0 constant\n4160 0 smoothstep\n4328 1 constant\n');
        await expect.poll(async () => cellOf(await drawnCells(editor, 0), 'darken', 0)?.text).toBe('0.75');
        expect((await engine.track('darken')).keys[0].value).toBe(0.75);
    });

    test('columns can be hidden and moved, and come back', async ({ editor }) => {
        const visible = () => editor.evaluate(() => window.velmoraEditor.app.layout.visible());
        const all = await visible();
        await editor.locator('#columns-button').click();
        await editor.locator('#columns-list li[data-track="camy"] input[type=checkbox]').uncheck();
        expect(await visible()).not.toContain('camy');
        // Move fov to the front with its button, camx to the right by dragging its header.
        for (let i = 0; i < 3; i++) {
            await editor.locator('#columns-list li[data-track="fov"] button[title^="Move fov left"]').click();
        }
        expect((await visible())[0]).toBe('fov');
        await editor.locator('#columns-close').click();
        const [from, to] = await editor.evaluate(() => {
            const grid = window.velmoraEditor.app.grid;
            grid.scroller.scrollLeft = 0;
            grid.draw();
            return [grid.cellRect(-1, 1), grid.cellRect(-1, 3)];
        });
        expect((await visible())[1]).toBe('camx');
        await editor.mouse.move(from.x + 20, from.y + 10);
        await editor.mouse.down();
        await editor.mouse.move(from.x + 60, from.y + 10, { steps: 4 });
        await editor.mouse.move(to.x + to.width - 5, to.y + 10, { steps: 4 });
        await editor.mouse.up();
        const moved = await visible();
        expect(moved.indexOf('camx')).toBe(3);
        expect(moved).toHaveLength(35);
        // The layout outlives a reload of the page.
        await editor.reload();
        await expect(editor.locator('html')).toHaveAttribute('data-state', 'ready');
        expect(await visible()).toEqual(moved);
        await editor.locator('#columns-button').click();
        await editor.locator('#columns-all').click();
        expect((await visible()).slice().sort()).toEqual(all.slice().sort());
    });
});
