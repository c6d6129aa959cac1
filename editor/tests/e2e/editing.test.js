// Editing in the grid and the curve view writes the engine's track files; undo writes them back.
import fs from 'node:fs/promises';
import { test, expect, clickCell, drawnCells, openEditor, parseTrackText, waitSaved } from './fixtures.js';

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

    test('keys copied to the system clipboard paste in another page, and keys typed in a text editor paste too', async ({ editor, engine, context }) => {
        await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: engine.origin });
        // darken over bars 2-3 (rows 32-95) holds no keys; 96 holds one. Copy rows 90-97.
        await clickCell(editor, 'darken', 90);
        for (let i = 0; i < 7; i++) {
            await editor.keyboard.press('Shift+ArrowDown');
        }
        await editor.keyboard.press('Control+c');
        const text = await editor.evaluate(() => navigator.clipboard.readText());
        expect(text).toBe('velmora-keys\t8\t1\ntracks\tdarken\n0\t6\t0\tconstant\n');
        // Another page of the same engine has never copied anything: what it pastes comes from the
        // system clipboard.
        const second = await context.newPage();
        await openEditor(second, engine.url);
        await clickCell(second, 'darken', 200);
        await second.keyboard.press('Control+v');
        await expect(second.locator('.notice', { hasText: 'Pasted' })).toHaveText(/Pasted 1 key into darken at bar 7\.1|Pasted 1 key into darken at bar 7\./);
        await waitSaved(second);
        expect(keyAt(await engine.track('darken'), 206)).toEqual({ row: 206, value: 0, interpolation: 'constant' });
        await second.close();
        // Keys as a text editor would hold them: spaces, a comment, capitals, Windows line ends.
        await editor.evaluate(() => navigator.clipboard.writeText('# a dip\r\nvelmora-keys 16 1\r\n0 0 0.5 Smoothstep\r\n0 8 0.25 linear\r\n'));
        await clickCell(editor, 'darken', 320);
        await editor.keyboard.press('Control+v');
        await waitSaved(editor);
        const track = await engine.track('darken');
        expect(keyAt(track, 320)).toEqual({ row: 320, value: 0.5, interpolation: 'smoothstep' });
        expect(keyAt(track, 328)).toEqual({ row: 328, value: 0.25, interpolation: 'linear' });
        expect(parseTrackText(await fs.readFile(engine.file('data/science/src/darken.txt'), 'utf8')).find((k) => k.row === 328))
            .toEqual({ row: 328, value: 0.25, interpolation: 'linear' });
        // A block with a mistake is refused with the line, and nothing changes.
        await editor.evaluate(() => navigator.clipboard.writeText('velmora-keys 4 1\n0 9 1 linear\n'));
        await editor.keyboard.press('Control+v');
        await expect(editor.locator('.notice.warning')).toContainText('line 2');
        expect((await engine.track('darken')).keys).toEqual(track.keys);
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

    test('a refused save for a broken track source names the file, keeps the edit and sends nothing until the author retries', async ({ editor, engine, consoleGuard }) => {
        // The engine's answer while data/science/src/fov.txt is broken on disk.
        consoleGuard.allow(/status of 409/);
        let puts = 0;
        const refuse = (route) => {
            if (route.request().method() !== 'PUT') {
                return route.continue();
            }
            puts++;
            return route.fulfill({
                status: 409,
                contentType: 'application/json',
                body: JSON.stringify({
                    error: 'fov: data/science/src/fov.txt line 4 is not "ROW VALUE INTERPOLATION"; fix the file to edit fov here',
                    revision: 1,
                    file: 'data/science/src/fov.txt',
                    line: 4,
                }),
            });
        };
        await editor.route('**/api/tracks/fov', refuse);
        await clickCell(editor, 'fov', 100);
        await editor.keyboard.type('7');
        await editor.keyboard.press('Enter');
        await expect(editor.locator('.notice.error')).toContainText('Fix data/science/src/fov.txt (line 4)');
        await expect(editor.locator('#save-status')).toContainText('Not saved: fov (fix data/science/src/fov.txt line 4)');
        await expect(editor.locator('#cursor-info')).toContainText('not saved: fix data/science/src/fov.txt line 4');
        // Kept in the page; not retried by itself, nor by a further edit.
        expect((await drawnCells(editor, 100)).find((c) => c.name === 'fov' && c.row === 100)).toMatchObject({ key: true, text: '7' });
        await clickCell(editor, 'fov', 101);
        await editor.keyboard.type('8');
        await editor.keyboard.press('Enter');
        await editor.waitForTimeout(500);
        expect(puts).toBe(1);
        expect(keyAt(await engine.track('fov'), 100)).toBeUndefined();
        // The author fixed the file and asks again: saved.
        await editor.unroute('**/api/tracks/fov', refuse);
        await editor.locator('#retry').click();
        await waitSaved(editor);
        expect(keyAt(await engine.track('fov'), 100)?.value).toBe(7);
        expect(keyAt(await engine.track('fov'), 101)?.value).toBe(8);
    });

    test('the real engine refuses an edit of a track whose source is broken on disk, naming file and line; fixed, the edit applies again', async ({ editor, engine, consoleGuard }) => {
        consoleGuard.allow(/status of 409/);
        const file = 'data/science/src/fov.txt';
        const good = await fs.readFile(engine.file(file), 'utf8');
        // The author mistypes line 5 ("2047  48    constant") in a text editor.
        const lines = good.split('\n');
        expect(lines[4]).toMatch(/^2047\s/);
        lines[4] = lines[4].replace('48', 'fourty-eight');
        const broken = lines.join('\n');
        await engine.saveFile(file, broken);
        await expect(editor.locator('#error-list li').first()).toContainText('fov.txt:5');
        expect((await engine.state()).errors).toEqual([expect.objectContaining({ file, line: 5, track: 'fov' })]);

        await clickCell(editor, 'fov', 100);
        await editor.keyboard.type('7');
        await editor.keyboard.press('Enter');
        await expect(editor.locator('.notice.error')).toContainText(`Fix ${file} (line 5)`);
        await expect(editor.locator('#save-status')).toContainText(`Not saved: fov (fix ${file} line 5)`);
        // The engine wrote nothing: the author's text is as typed, the show plays the last good keys.
        expect(await fs.readFile(engine.file(file), 'utf8')).toBe(broken);
        expect(keyAt(await engine.track('fov'), 100)).toBeUndefined();
        expect(keyAt(await engine.track('fov'), 2047)?.value).toBe(48);

        // Fixed in the text editor (with a change of its own): the page reloads fov and offers the edit again.
        lines[4] = lines[4].replace('fourty-eight', '49');
        const fixed = lines.join('\n');
        await engine.saveFile(file, fixed);
        await expect(editor.locator('#error-list li')).toHaveCount(0);
        await editor.getByRole('button', { name: 'Apply my edit again' }).click();
        await waitSaved(editor);
        expect(keyAt(await engine.track('fov'), 100)?.value).toBe(7);
        expect(keyAt(await engine.track('fov'), 2047)?.value).toBe(49);
        // The author's lines stay; the new key is one line more.
        const saved = (await fs.readFile(engine.file(file), 'utf8')).split('\n');
        expect(saved.length).toBe(lines.length + 1);
        expect(saved.filter((l) => !lines.includes(l))).toEqual([expect.stringMatching(/^100\s+7\s+smoothstep$/)]);
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

    test('curves: each track in a lane of its own scale; a drag past the edge grows it, values snap (Ctrl: free), a double-click adds a key', async ({ editor, engine }) => {
        // darken (0 to 1) and particlesize side by side: two lanes, two ranges.
        await clickCell(editor, 'darken', 96);
        await editor.keyboard.press('Shift+ArrowRight');
        const lanes = () => editor.evaluate(() => {
            const c = window.velmoraEditor.app.curve;
            c.draw();
            return { darken: c.laneRangeOf('darken'), particlesize: c.laneRangeOf('particlesize') };
        });
        const before = await lanes();
        expect(before.darken.lo).toBeLessThan(0);
        expect(before.darken.hi).toBeGreaterThan(1);
        expect(before.darken.hi).toBeLessThan(2);
        expect(before.particlesize).not.toEqual(before.darken);
        await expect(editor.locator('.lane-label[data-track="darken"] .lane-range')).toHaveText(/^-0\.\d+ to 1\.\d+$/);
        await expect(editor.locator('.lane-label[data-track="particlesize"]')).toBeVisible();
        // Drag darken's key at 96 (value 0) far below its lane: the lane's range grows with it.
        const start = await editor.evaluate(() => window.velmoraEditor.app.curve.handlePosition('darken', 96));
        await editor.mouse.move(start.x, start.y);
        await editor.mouse.down();
        await editor.mouse.move(start.x, start.y + 60, { steps: 6 });
        const grown = await editor.evaluate(() => window.velmoraEditor.app.curve.laneRangeOf('darken'));
        expect(grown.lo).toBeLessThan(before.darken.lo - 0.1);
        const label = await editor.evaluate(() => window.velmoraEditor.app.curve.dragLabel());
        await editor.mouse.up();
        await waitSaved(editor);
        const snapped = keyAt(await engine.track('darken'), 96).value;
        expect(snapped).toBeLessThan(0);
        // Snapped to the automatic precision (hundredths for a range of about one).
        expect(Math.abs(snapped * 100 - Math.round(snapped * 100))).toBeLessThan(1e-4);
        expect(label).toBe(`darken · row 96 · ${snapped.toFixed(2).replace(/0+$/, '').replace(/\.$/, '')}`);
        // With Ctrl the value is free.
        const at = await editor.evaluate(() => window.velmoraEditor.app.curve.handlePosition('darken', 96));
        await editor.keyboard.down('Control');
        await editor.mouse.move(at.x, at.y);
        await editor.mouse.down();
        await editor.mouse.move(at.x, at.y - 23, { steps: 4 });
        await editor.mouse.up();
        await editor.keyboard.up('Control');
        await waitSaved(editor);
        const free = keyAt(await engine.track('darken'), 96).value;
        expect(free).not.toBe(snapped);
        expect(Math.abs(free * 100 - Math.round(free * 100))).toBeGreaterThan(1e-4);
        // A double-click on an empty place of the lane adds a key there.
        const point = await editor.evaluate(() => {
            const c = window.velmoraEditor.app.curve;
            c.draw();
            return c.pointOf('darken', c.from + Math.round(c.span * 0.75), 0.5);
        });
        const row = await editor.evaluate(() => {
            const c = window.velmoraEditor.app.curve;
            return c.from + Math.round(c.span * 0.75);
        });
        await editor.mouse.dblclick(point.x, point.y);
        await waitSaved(editor);
        const added = keyAt(await engine.track('darken'), row);
        expect(added).toBeDefined();
        expect(Math.abs(added.value - 0.5)).toBeLessThan(0.05);
    });
});
