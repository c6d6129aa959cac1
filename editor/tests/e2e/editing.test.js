// Editing in the grid and the curve view writes the engine's track files; undo writes them back.
import fs from 'node:fs/promises';
import { test, expect, clickCell, drawnCells, parseTrackText, waitSaved } from './fixtures.js';

const keyAt = (track, row) => track.keys.find((k) => k.row === row);

test.describe('editing', () => {
    test('typing a value writes the track, the file agrees with the engine, undo restores the file', async ({ editor, engine }) => {
        const before = await engine.trackDump('fov');
        await clickCell(editor, 'fov', 100);
        await editor.keyboard.type('12.5');
        await editor.keyboard.press('Enter');
        await waitSaved(editor);

        expect(keyAt(await engine.track('fov'), 100)).toEqual({ row: 100, value: 12.5, interpolation: 'smoothstep' });
        expect(await engine.trackEval('fov', [100])).toEqual([12.5]);
        const source = parseTrackText(await fs.readFile(engine.file('data/science/src/fov.txt'), 'utf8'));
        expect(source.find((k) => k.row === 100)).toEqual({ row: 100, value: 12.5, interpolation: 'smoothstep' });
        // The written file evaluates to exactly what the engine plays.
        const rows = [0, 50, 99.5, 100, 100.25, 300, 511, 512];
        const played = [];
        for (const row of rows) {
            played.push((await engine.api('GET', `/api/tracks/fov/values?from=${row}&to=${row}&step=1`)).body.values[0]);
        }
        expect(await engine.trackEval('fov', rows)).toEqual(played);

        await editor.keyboard.press('Control+z');
        await waitSaved(editor);
        expect(await engine.trackDump('fov')).toBe(before);
        expect(keyAt(await engine.track('fov'), 100)).toBeUndefined();
        // Redo puts it back.
        await editor.keyboard.press('Control+Shift+Z');
        await waitSaved(editor);
        expect(await engine.trackEval('fov', [100])).toEqual([12.5]);
    });

    test('a value that is not a number is refused in place and nothing is written', async ({ editor, engine }) => {
        const before = await engine.trackDump('fov');
        await clickCell(editor, 'fov', 100);
        await editor.keyboard.type('1..5');
        await editor.keyboard.press('Enter');
        await expect(editor.locator('.cell-editor')).toHaveClass(/invalid/);
        await editor.keyboard.press('Escape');
        await expect(editor.locator('.cell-editor')).toBeHidden();
        await editor.keyboard.type('1e39');
        await editor.keyboard.press('Enter');
        await expect(editor.locator('.cell-editor')).toHaveClass(/invalid/);
        await editor.keyboard.press('Escape');
        await waitSaved(editor);
        expect(await engine.trackDump('fov')).toBe(before);
    });

    test('Delete removes a key; i cycles the interpolation', async ({ editor, engine }) => {
        // hue row 128 is a smoothstep glide.
        await clickCell(editor, 'hue', 128);
        expect(keyAt(await engine.track('hue'), 128).interpolation).toBe('smoothstep');
        await editor.keyboard.press('i');
        await waitSaved(editor);
        expect(keyAt(await engine.track('hue'), 128).interpolation).toBe('quadratic');
        expect(await engine.trackDump('hue')).toMatch(/^128\s+0\.56\S*\s+quadratic/m);
        await editor.keyboard.press('i');
        await waitSaved(editor);
        expect(keyAt(await engine.track('hue'), 128).interpolation).toBe('constant');
        // Between keys, i changes the key the row belongs to.
        await clickCell(editor, 'hue', 135);
        await editor.keyboard.press('i');
        await waitSaved(editor);
        expect(keyAt(await engine.track('hue'), 128).interpolation).toBe('linear');
        const cell = (await drawnCells(editor, 128)).find((c) => c.name === 'hue' && c.row === 128);
        expect(cell.interpolation).toBe('linear');

        await clickCell(editor, 'hue', 144);
        await editor.keyboard.press('Delete');
        await waitSaved(editor);
        expect(keyAt(await engine.track('hue'), 144)).toBeUndefined();
        // One undo a step, in order.
        await editor.keyboard.press('Control+z');
        await waitSaved(editor);
        expect(keyAt(await engine.track('hue'), 144)).toBeDefined();
        for (let i = 0; i < 3; i++) {
            await editor.keyboard.press('Control+z');
        }
        await waitSaved(editor);
        expect(keyAt(await engine.track('hue'), 128).interpolation).toBe('smoothstep');
    });

    test('copy and paste a block over two tracks; one undo takes the paste back', async ({ editor, engine }) => {
        const original = { noisex: await engine.trackDump('noisex'), noisey: await engine.trackDump('noisey') };
        // Rows 2040..2055 of noisex and noisey: keys on 2047 and 2048 in both.
        await clickCell(editor, 'noisex', 2040);
        await editor.keyboard.press('Shift+ArrowRight');
        for (let i = 0; i < 15; i++) {
            await editor.keyboard.press('Shift+ArrowDown');
        }
        const selection = await editor.evaluate(() => window.velmoraEditor.app.cursor.selection());
        expect(selection).toMatchObject({ row0: 2040, row1: 2055 });
        expect(selection.col1 - selection.col0).toBe(1);
        await editor.keyboard.press('Control+c');
        await clickCell(editor, 'noisex', 2100);
        await editor.keyboard.press('Control+v');
        await waitSaved(editor);
        for (const name of ['noisex', 'noisey']) {
            const track = await engine.track(name);
            expect(keyAt(track, 2107)).toEqual({ ...keyAt(track, 2047), row: 2107 });
            expect(keyAt(track, 2108)).toEqual({ ...keyAt(track, 2048), row: 2108 });
        }
        const cells = await drawnCells(editor, 2107);
        expect(cells.find((c) => c.name === 'noisey' && c.row === 2107)).toMatchObject({ key: true, text: '3.5' });

        await editor.keyboard.press('Control+z');
        await waitSaved(editor);
        expect(await engine.trackDump('noisex')).toBe(original.noisex);
        expect(await engine.trackDump('noisey')).toBe(original.noisey);

        // Cut takes the keys away and pastes them back where they were.
        await clickCell(editor, 'noisex', 2047);
        await editor.keyboard.press('Shift+ArrowDown');
        await editor.keyboard.press('Control+x');
        await waitSaved(editor);
        expect(keyAt(await engine.track('noisex'), 2047)).toBeUndefined();
        await clickCell(editor, 'noisex', 2047);
        await editor.keyboard.press('Control+v');
        await waitSaved(editor);
        expect(await engine.trackDump('noisex')).toBe(original.noisex);
    });

    test('a failed save is shown and kept until a retry saves it', async ({ editor, engine, consoleGuard }) => {
        consoleGuard.allow(/status of 500/);
        const refuse = (route) =>
            route.request().method() === 'PUT'
                ? route.fulfill({
                    status: 500,
                    contentType: 'application/json',
                    body: JSON.stringify({ error: 'fov: cannot write data/science/src/fov.txt: No space left on device' }),
                })
                : route.continue();
        await editor.route('**/api/tracks/fov', refuse);
        await clickCell(editor, 'fov', 100);
        await editor.keyboard.type('7');
        await editor.keyboard.press('Enter');
        await expect(editor.locator('#save-status')).toContainText('Not saved: fov');
        await expect(editor.locator('#save-status')).toContainText('No space left on device');
        await expect(editor.locator('.notice.error')).toContainText('Saving fov failed');
        await expect(editor.locator('#retry')).toBeVisible();
        expect(keyAt(await engine.track('fov'), 100)).toBeUndefined();
        // The edit is still there, in the grid.
        expect((await drawnCells(editor, 100)).find((c) => c.name === 'fov' && c.row === 100)).toMatchObject({ key: true, text: '7' });

        await editor.unroute('**/api/tracks/fov', refuse);
        await editor.locator('#retry').click();
        await waitSaved(editor);
        await expect(editor.locator('#retry')).toBeHidden();
        expect(await engine.trackEval('fov', [100])).toEqual([7]);
    });

    test('dragging a key in the curve view moves it in value and row, showing the value', async ({ editor, engine }) => {
        // darken: 0 1 smoothstep, 96 0 constant.
        await clickCell(editor, 'darken', 96);
        const handle = async () => editor.evaluate(() => {
            const curve = window.velmoraEditor.app.curve;
            curve.draw();
            return curve.handlePosition('darken', 96);
        });
        const start = await handle();
        expect(start).not.toBeNull();
        const rowWidth = await editor.evaluate(() => {
            const c = window.velmoraEditor.app.curve;
            return c.width / c.span;
        });
        await editor.mouse.move(start.x, start.y);
        await editor.mouse.down();
        await editor.mouse.move(start.x, start.y - 40, { steps: 5 });
        await expect.poll(() => editor.evaluate(() => window.velmoraEditor.app.curve.dragLabel())).toMatch(/^darken · row 96 · /);
        await editor.mouse.move(start.x + 4 * rowWidth, start.y - 40, { steps: 5 });
        await expect.poll(() => editor.evaluate(() => window.velmoraEditor.app.curve.dragLabel())).toMatch(/^darken · row 100 · /);
        const label = await editor.evaluate(() => window.velmoraEditor.app.curve.dragLabel());
        await editor.mouse.up();
        await waitSaved(editor);
        const track = await engine.track('darken');
        expect(keyAt(track, 96)).toBeUndefined();
        const moved = keyAt(track, 100);
        expect(moved.interpolation).toBe('constant');
        expect(moved.value).toBeGreaterThan(0);
        // The label showed the value that was saved.
        expect(Math.fround(Number(label.split(' · ')[2]))).toBe(moved.value);
        expect(await editor.evaluate(() => window.velmoraEditor.app.curve.dragLabel())).toBeNull();
        await editor.keyboard.press('Control+z');
        await waitSaved(editor);
        expect(keyAt(await engine.track('darken'), 96)).toEqual({ row: 96, value: 0, interpolation: 'constant' });
    });
});
