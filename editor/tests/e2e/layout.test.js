// The page's layout at a laptop's size: a bar of rows in the grid, panes that resize and are
// remembered with the picture, a toolbar that wraps rather than hiding its end, and a reload that
// opens where the engine is.
import { test, expect, clickCell } from './fixtures.js';

const ready = (page) => expect(page.locator('html')).toHaveAttribute('data-state', 'ready');

async function drag(page, selector, dx, dy) {
    const box = await page.locator(selector).boundingBox();
    const x = box.x + box.width / 2;
    const y = box.y + box.height / 2;
    await page.mouse.move(x, y);
    await page.mouse.down();
    await page.mouse.move(x + dx / 2, y + dy / 2, { steps: 3 });
    await page.mouse.move(x + dx, y + dy, { steps: 3 });
    await page.mouse.up();
}

test.describe('layout', () => {
    test('at 1280x720 the grid shows a whole bar; the panes and the picture are resized and remembered', async ({ editor }) => {
        await editor.setViewportSize({ width: 1280, height: 720 });
        const fullRows = () => editor.evaluate(() => {
            const g = window.velmoraEditor.app.grid;
            return Math.floor((g.viewHeight() - g.headerHeight) / g.rowHeight);
        });
        await expect.poll(fullRows).toBeGreaterThanOrEqual(32);
        // The picture on, made taller; the curves made taller, the side panel wider.
        await editor.locator('#preview-toggle').check();
        await expect.poll(() => editor.locator('#preview-img').evaluate((img) => img.naturalWidth)).toBeGreaterThan(0);
        const sizes = () => editor.evaluate(() => ({
            bottom: document.getElementById('bottom').clientHeight,
            side: document.getElementById('side').clientWidth,
            preview: document.getElementById('preview').clientHeight,
        }));
        const before = await sizes();
        await drag(editor, '#split-grid', 0, -120);
        await drag(editor, '#split-side', -100, 0);
        await drag(editor, '#split-preview', 0, 30);
        const after = await sizes();
        expect(after.bottom).toBeGreaterThan(before.bottom + 100);
        expect(after.side).toBeGreaterThan(before.side + 80);
        expect(after.preview).toBeGreaterThan(before.preview);
        // The picture asks for the size it is shown at.
        const shown = await editor.locator('#preview-img').evaluate((img) => img.clientWidth);
        await expect.poll(() => editor.locator('#preview-img').evaluate((img) => img.naturalWidth)).toBeLessThanOrEqual(shown);
        await editor.reload();
        await ready(editor);
        await expect(editor.locator('#preview-toggle')).toBeChecked();
        await expect(editor.locator('#preview')).toBeVisible();
        const again = await sizes();
        expect(Math.abs(again.bottom - after.bottom)).toBeLessThanOrEqual(1);
        expect(Math.abs(again.side - after.side)).toBeLessThanOrEqual(1);
        expect(Math.abs(again.preview - after.preview)).toBeLessThanOrEqual(1);
    });

    test('a column widens by its header\'s edge and stays so', async ({ editor }) => {
        const edge = await editor.evaluate(() => {
            const g = window.velmoraEditor.app.grid;
            g.draw();
            const r = g.cellRect(-1, 0);
            return { x: r.x + r.width - 1, y: r.y + r.height / 2, width: r.width };
        });
        await editor.mouse.move(edge.x, edge.y);
        await expect(editor.locator('#grid')).toHaveCSS('cursor', 'col-resize');
        await editor.mouse.down();
        await editor.mouse.move(edge.x + 30, edge.y, { steps: 3 });
        await editor.mouse.move(edge.x + 60, edge.y, { steps: 3 });
        await editor.mouse.up();
        const width = () => editor.evaluate(() => window.velmoraEditor.app.grid.columns().widths[0]);
        expect(Math.abs((await width()) - (edge.width + 60))).toBeLessThanOrEqual(2);
        await editor.reload();
        await ready(editor);
        expect(Math.abs((await width()) - (edge.width + 60))).toBeLessThanOrEqual(2);
    });

    test('the toolbar wraps: with a long failed save at 1280 wide, Retry, Columns and the connection stay on screen', async ({ editor, consoleGuard }) => {
        consoleGuard.allow(/status of 500/);
        await editor.setViewportSize({ width: 1280, height: 720 });
        await editor.route('**/api/tracks/**', (route) => (route.request().method() === 'PUT'
            ? route.fulfill({ status: 500, contentType: 'application/json', body: JSON.stringify({ error: 'cannot write data/science/src/camx.txt nor data/science/sync_camx.track: the two files could not be made to agree, No space left on device' }) })
            : route.continue()));
        for (const name of ['camx', 'camy', 'camz']) {
            await clickCell(editor, name, 10);
            await editor.keyboard.type('1');
            // The failed save's notice wraps the toolbar and moves the grid: the next click waits
            // until it is shown.
            const refused = editor.waitForResponse((r) => r.url().includes('/api/tracks/') && r.request().method() === 'PUT');
            await editor.keyboard.press('Enter');
            await refused;
            await expect(editor.locator('#retry')).toBeVisible();
        }
        await expect(editor.locator('#retry')).toBeVisible();
        for (const id of ['#retry', '#columns-button', '#connection', '#save-status']) {
            const box = await editor.locator(id).boundingBox();
            expect(box.x + box.width, id).toBeLessThanOrEqual(1280);
        }
        expect(await editor.evaluate(() => document.documentElement.scrollWidth)).toBeLessThanOrEqual(1280);
    });

    test('a reload opens the grid at the engine\'s row', async ({ editor, engine }) => {
        await engine.api('POST', '/api/transport', { seek: 2500.5 });
        await editor.reload();
        await ready(editor);
        const at = await editor.evaluate(() => {
            const app = window.velmoraEditor.app;
            return { row: app.cursor.row, inView: app.grid.rowInView(2500) };
        });
        expect(at).toEqual({ row: 2500, inView: true });
        await expect(editor.locator('#barbeat')).toHaveText('79.1');
    });
});
