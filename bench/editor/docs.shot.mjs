// The page as docs/editor-1280x720.png shows it: an author at bar 20 of the heart's beat, two bars
// selected and looped, the picture beside the curves. `bench/editor/run.sh --screenshot` writes it.
import path from 'node:path';
import { test, expect, clickCell, REPO } from '../../editor/tests/e2e/fixtures.js';

test('screenshot of the page at 1280x720', async ({ page, engine }) => {
    await page.setViewportSize({ width: 1280, height: 720 });
    await page.goto(engine.url);
    await expect(page.locator('html')).toHaveAttribute('data-state', 'ready');
    await page.evaluate(() => localStorage.clear());
    await page.reload();
    await expect(page.locator('html')).toHaveAttribute('data-state', 'ready');
    await page.locator('#preview-toggle').check();
    await clickCell(page, 'sykinta', 608);
    await page.keyboard.press('Shift+ArrowRight');
    await page.keyboard.press('Shift+PageDown');
    await page.keyboard.press('Shift+PageDown');
    await page.keyboard.press('l');
    await page.keyboard.press('p');
    await expect.poll(async () => (await engine.state()).loop).toEqual({ from: 608, to: 672 });
    await expect.poll(() => page.locator('#preview-img').evaluate((img) => img.naturalWidth)).toBeGreaterThan(0);
    // Let the notices go and the picture settle.
    await page.waitForTimeout(5000);
    await page.locator('#notices').evaluate((n) => n.replaceChildren());
    await page.mouse.move(0, 719);
    await page.screenshot({ path: path.join(REPO, 'docs/editor-1280x720.png') });
});
