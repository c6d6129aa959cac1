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

    test('clicking the timeline or the row numbers moves the playhead and the cursor; the go-to field takes rows, bar.beat and times', async ({ editor, engine }) => {
        const box = await editor.locator('#timeline canvas').boundingBox();
        const { lengthRows } = await engine.state();
        await clickCell(editor, 'fov', 1568);
        await editor.mouse.click(box.x + box.width * 0.25, box.y + box.height / 2);
        await expect.poll(async () => (await engine.state()).row).toBeGreaterThan(0);
        const row = (await engine.state()).row;
        expect(Math.abs(row - lengthRows * 0.25)).toBeLessThanOrEqual(lengthRows / box.width + 1);
        await expect(editor.locator('#row-input')).toHaveValue(String(Math.floor(row)));
        // The cursor went there too (same track), so typing keys that row.
        expect(await editor.evaluate(() => [window.velmoraEditor.app.cursor.row, window.velmoraEditor.app.editor.cursorTrack()]))
            .toEqual([Math.round(row), 'fov']);
        // A click on the row numbers: both again.
        const gutter = await editor.evaluate(() => {
            const grid = window.velmoraEditor.app.grid;
            grid.draw();
            return grid.gutterPoint(grid.visibleRows().first + 5);
        });
        const target = await editor.evaluate(() => window.velmoraEditor.app.grid.visibleRows().first + 5);
        await editor.mouse.click(gutter.x, gutter.y);
        await expect.poll(async () => Math.abs((await engine.state()).row - target)).toBeLessThan(1);
        expect(await editor.evaluate(() => window.velmoraEditor.app.cursor.row)).toBe(target);

        await editor.locator('#row-input').fill('1000');
        await editor.locator('#row-input').press('Enter');
        // The engine lands within a sound buffer of the row.
        await expect.poll(async () => Math.abs((await engine.state()).row - 1000)).toBeLessThan(1);
        await expect(editor.locator('#time')).toHaveText(/^0:41\.6\d\d$/);
        await expect(editor.locator('#barbeat')).toHaveText('32.2');
        // The grid went there too.
        expect(await editor.evaluate(() => window.velmoraEditor.app.cursor.row)).toBe(1000);
        expect(await editor.evaluate(() => document.activeElement.id)).toBe('grid');
        // A time works as well.
        await editor.locator('#row-input').fill('1:00');
        await editor.locator('#row-input').press('Enter');
        await expect.poll(async () => Math.abs((await engine.state()).row - 1440)).toBeLessThan(1);
        await expect(editor.locator('#time')).toHaveText(/^(0:59\.9\d\d|1:00\.0\d\d)$/);
        // bar.beat, as the readout writes it.
        await editor.locator('#row-input').fill('20.1');
        await editor.locator('#row-input').press('Enter');
        await expect.poll(async () => Math.abs((await engine.state()).row - 608)).toBeLessThan(1);
        await expect(editor.locator('#barbeat')).toHaveText('20.1');
        expect(await editor.evaluate(() => window.velmoraEditor.app.cursor.row)).toBe(608);
        // Something else is refused, saying what is accepted, and goes nowhere.
        await editor.locator('#row-input').fill('20.7');
        await editor.locator('#row-input').press('Enter');
        await expect(editor.locator('.notice.warning')).toContainText('a bar has beats 1 to 4');
        await expect(editor.locator('#row-input')).toHaveAttribute('aria-invalid', 'true');
        expect(Math.abs((await engine.state()).row - 608)).toBeLessThan(1);
    });

    test('dragging on the timeline sets the loop, snapped to beats and labelled while dragging; Clear loop clears it', async ({ editor, engine }) => {
        const box = await editor.locator('#timeline canvas').boundingBox();
        const { lengthRows } = await engine.state();
        const y = box.y + box.height / 2;
        await editor.mouse.move(box.x + box.width * 0.5, y);
        await editor.mouse.down();
        await editor.mouse.move(box.x + box.width * 0.55, y, { steps: 5 });
        await editor.mouse.move(box.x + box.width * 0.6, y, { steps: 5 });
        const label = await editor.evaluate(() => window.velmoraEditor.app.timeline.dragLabel());
        await editor.mouse.up();
        await expect.poll(async () => (await engine.state()).loop).not.toBeNull();
        const { loop, row } = await engine.state();
        expect(loop.from % 8).toBe(0);
        expect(loop.to % 8).toBe(0);
        expect(Math.abs(loop.from - lengthRows * 0.5)).toBeLessThanOrEqual(8);
        expect(Math.abs(loop.to - lengthRows * 0.6)).toBeLessThanOrEqual(8);
        // Setting the loop does not move the playhead.
        expect(row).toBeLessThan(1);
        // The label said what the drag would loop: exactly the rows it looped.
        expect(label).toContain(`${loop.from}–${loop.to - 1}`);
        await expect(editor.locator('#loop-text')).toContainText(`${loop.from}–${loop.to - 1}`);

        await editor.locator('#loop-clear').click();
        await expect.poll(async () => (await engine.state()).loop).toBeNull();
        await expect(editor.locator('#loop-text')).toHaveText('no loop');
    });

    test('while playing the grid follows the playhead; moving the cursor unpins it and keeps the cursor in view', async ({ editor, engine }) => {
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
        // Follow again, then move the cursor: Follow goes off and the cursor stays in view.
        await editor.locator('#follow').check();
        await editor.evaluate(() => window.velmoraEditor.app.grid.scroller.focus());
        await expect.poll(() => editor.evaluate(() => window.velmoraEditor.app.grid.visibleRows().first)).toBeGreaterThan(pinned);
        for (let i = 0; i < 3; i++) {
            await editor.keyboard.press('ArrowDown');
        }
        await expect(editor.locator('#follow')).not.toBeChecked();
        const cursorRow = await editor.evaluate(() => window.velmoraEditor.app.cursor.row);
        await editor.waitForTimeout(600);
        expect(await editor.evaluate((row) => window.velmoraEditor.app.grid.rowInView(row), cursorRow)).toBe(true);
        // Typing opens the cell editor where it can be seen.
        await editor.keyboard.type('3');
        const input = await editor.locator('.cell-editor').boundingBox();
        const grid = await editor.locator('#grid-host').boundingBox();
        expect(input.y).toBeGreaterThanOrEqual(grid.y);
        expect(input.y + input.height).toBeLessThanOrEqual(grid.y + grid.height);
        await editor.keyboard.press('Escape');
        // c brings the cursor to the playhead; p sends the playhead to the cursor.
        await editor.keyboard.press('c');
        const { row } = await engine.state();
        expect(Math.abs((await editor.evaluate(() => window.velmoraEditor.app.cursor.row)) - row)).toBeLessThan(24);
        await editor.locator('#play').click();
        await expect.poll(async () => (await engine.state()).playing).toBe(false);
        await editor.keyboard.press('Home');
        await editor.keyboard.press('p');
        await expect.poll(async () => (await engine.state()).row).toBeLessThan(1);
    });

    test('the fps readout says paused while paused', async ({ editor, engine }) => {
        await expect(editor.locator('#engine-fps')).toHaveText('paused');
        await clickCell(editor, 'camx', 0);
        await editor.keyboard.press('Space');
        await expect.poll(async () => (await engine.state()).playing).toBe(true);
        await expect(editor.locator('#engine-fps')).toHaveText(/^\d+ fps$/);
        await editor.keyboard.press('Space');
        await expect(editor.locator('#engine-fps')).toHaveText('paused');
    });
});
