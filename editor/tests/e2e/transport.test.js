// Play, pause, seek and loop from the page, checked in the engine's own state.
import { test, expect, clickCell } from './fixtures.js';

test.describe('transport', () => {
    test('Space plays and pauses, but not while typing in a field', async ({ editor, engine }) => {
        await clickCell(editor, 'camx', 0);
        await editor.keyboard.press('Space');
        await expect.poll(async () => (await engine.state()).playing).toBe(true);
        await expect(editor.locator('#play')).toHaveText('Pause');
        await editor.keyboard.press('Space');
        await expect.poll(async () => (await engine.state()).playing).toBe(false);
        await expect(editor.locator('#play')).toHaveText('Play');

        await editor.locator('#row-input').focus();
        await editor.keyboard.press('Space');
        await editor.waitForTimeout(300);
        expect((await engine.state()).playing).toBe(false);

        // The button does the same.
        await editor.locator('#play').click();
        await expect.poll(async () => (await engine.state()).playing).toBe(true);
        // And the keys come back to the grid after a click.
        await editor.keyboard.press('Space');
        await expect.poll(async () => (await engine.state()).playing).toBe(false);
    });

    test('clicking the timeline seeks the engine; the row field goes to a row', async ({ editor, engine }) => {
        const box = await editor.locator('#timeline canvas').boundingBox();
        const { lengthRows } = await engine.state();
        await editor.mouse.click(box.x + box.width * 0.25, box.y + box.height / 2);
        await expect.poll(async () => (await engine.state()).row).toBeGreaterThan(0);
        const row = (await engine.state()).row;
        expect(Math.abs(row - lengthRows * 0.25)).toBeLessThanOrEqual(lengthRows / box.width + 1);
        await expect(editor.locator('#row-input')).toHaveValue(String(Math.floor(row)));

        await editor.locator('#row-input').fill('1000');
        await editor.locator('#row-input').press('Enter');
        // The engine lands within a sound buffer of the row.
        await expect.poll(async () => Math.abs((await engine.state()).row - 1000)).toBeLessThan(1);
        await expect(editor.locator('#time')).toHaveText(/^0:41\.6\d\d$/);
        await expect(editor.locator('#barbeat')).toHaveText('32.2');
        // The grid went there too.
        expect(await editor.evaluate(() => window.velmoraEditor.app.cursor.row)).toBe(1000);
        expect(await editor.evaluate(() => document.activeElement.getAttribute('role'))).toBe('grid');
        // A time works as well.
        await editor.locator('#row-input').fill('1:00');
        await editor.locator('#row-input').press('Enter');
        await expect.poll(async () => Math.abs((await engine.state()).row - 1440)).toBeLessThan(1);
        await expect(editor.locator('#time')).toHaveText(/^(0:59\.9\d\d|1:00\.0\d\d)$/);
    });

    test('dragging on the timeline sets the loop, snapped to beats; Clear loop clears it', async ({ editor, engine }) => {
        const box = await editor.locator('#timeline canvas').boundingBox();
        const { lengthRows } = await engine.state();
        const y = box.y + box.height / 2;
        await editor.mouse.move(box.x + box.width * 0.5, y);
        await editor.mouse.down();
        await editor.mouse.move(box.x + box.width * 0.55, y, { steps: 5 });
        await editor.mouse.move(box.x + box.width * 0.6, y, { steps: 5 });
        await editor.mouse.up();
        await expect.poll(async () => (await engine.state()).loop).not.toBeNull();
        const { loop, row } = await engine.state();
        expect(loop.from % 8).toBe(0);
        expect(loop.to % 8).toBe(0);
        expect(Math.abs(loop.from - lengthRows * 0.5)).toBeLessThanOrEqual(8);
        expect(Math.abs(loop.to - lengthRows * 0.6)).toBeLessThanOrEqual(8);
        // Setting the loop does not move the playhead.
        expect(row).toBeLessThan(1);
        await expect(editor.locator('#loop-text')).toHaveText(`loop ${loop.from}–${loop.to}`);

        await editor.locator('#loop-clear').click();
        await expect.poll(async () => (await engine.state()).loop).toBeNull();
        await expect(editor.locator('#loop-text')).toHaveText('no loop');
    });

    test('while playing the grid follows the playhead, until unpinned', async ({ editor, engine }) => {
        const top = () => editor.evaluate(() => window.velmoraEditor.app.grid.visibleRows().first);
        await editor.locator('#row-input').fill('2000');
        await editor.locator('#row-input').press('Enter');
        await expect.poll(async () => Math.abs((await engine.state()).row - 2000)).toBeLessThan(1);
        await editor.locator('#play').click();
        await expect.poll(async () => (await engine.state()).playing).toBe(true);
        // The playhead row stays in view as it moves.
        for (let i = 0; i < 3; i++) {
            await editor.waitForTimeout(400);
            const [first, last] = await editor.evaluate(() => {
                const v = window.velmoraEditor.app.grid.visibleRows();
                return [v.first, v.last];
            });
            const { row } = await engine.state();
            expect(row).toBeGreaterThanOrEqual(first - 2);
            expect(row).toBeLessThanOrEqual(last + 2);
        }
        await editor.locator('#follow').uncheck();
        const pinned = await top();
        await editor.waitForTimeout(600);
        expect(await top()).toBe(pinned);
        await editor.locator('#play').click();
        await expect.poll(async () => (await engine.state()).playing).toBe(false);
    });
});
