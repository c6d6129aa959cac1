// The pictures of the page in docs/: editor-1280x720.png (the page alone, at 1280x720) and
// editor.png (the page beside the show's picture at that moment). An author at bar 20 of the
// heart's beat, two bars selected and looped, the picture beside the curves.
// `bench/editor/run.sh --screenshot` writes them.
import fs from 'node:fs/promises';
import path from 'node:path';
import { test, expect, clickCell, startEngine, REPO } from '../../editor/tests/e2e/fixtures.js';

test('pictures of the page for docs/', async ({ page, browser, consoleGuard }) => {
    // The page's stream breaks when its engine stops at the end.
    consoleGuard.allow(/./);
    const engine = await startEngine({ size: '1280x720' });
    try {
        await page.setViewportSize({ width: 1280, height: 720 });
        await page.goto(engine.url);
        await expect(page.locator('html')).toHaveAttribute('data-state', 'ready');
        await page.evaluate(() => localStorage.clear());
        await page.reload();
        await expect(page.locator('html')).toHaveAttribute('data-state', 'ready');
        await page.locator('#preview-toggle').check();
        await clickCell(page, 'sykinta', 608);
        await page.keyboard.press('p');
        await page.keyboard.press('Shift+ArrowRight');
        await page.keyboard.press('Shift+PageDown');
        await page.keyboard.press('Shift+PageDown');
        await page.keyboard.press('l');
        await expect.poll(async () => (await engine.state()).loop).toEqual({ from: 608, to: 672 });
        await expect.poll(async () => (await engine.state()).drawnRow, { timeout: 30_000 }).toBe(608);
        await expect.poll(() => page.locator('#preview-img').evaluate((img) => img.naturalWidth), { timeout: 30_000 }).toBeGreaterThan(0);
        // Let the notices go and the picture settle.
        await page.waitForTimeout(5000);
        await page.locator('#notices').evaluate((n) => n.replaceChildren());
        await page.mouse.move(1279, 719);
        const shot = path.join(REPO, 'docs/editor-1280x720.png');
        await page.screenshot({ path: shot });

        // Beside the show's own picture.
        const frame = Buffer.from(await (await fetch(`${engine.origin}/api/frame.png`, { headers: { 'X-Velmora-Token': engine.token } })).arrayBuffer());
        const sheet = await browser.newPage({ viewport: { width: 1920, height: 720 } });
        const src = (bytes) => `data:image/png;base64,${bytes.toString('base64')}`;
        await sheet.setContent(`<body style="margin:0;background:#0b0c10;display:flex;font:14px 'DejaVu Sans',sans-serif;color:#d9dee8">
            <img src="${src(await fs.readFile(shot))}" width="1280" height="720">
            <div style="padding:0 0 0 0;width:640px"><img src="${src(frame)}" width="640" height="360" style="display:block">
            <p style="margin:12px">velmora --edit: the show at bar 20 (row 608), looping bars 20–21 (rows 608–671), as the page
            beside it shows it: the heart's beat (sykinta) selected with the next track, its curve below the grid, the picture beside it.</p></div></body>`);
        await sheet.waitForFunction(() => [...document.images].every((i) => i.complete && i.naturalWidth > 0));
        await sheet.screenshot({ path: path.join(REPO, 'docs/editor.png') });
        await sheet.close();
    } finally {
        await engine.stop();
    }
});
