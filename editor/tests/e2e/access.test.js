// The page works only with the token the engine printed.
import { test, expect, openEditor } from './fixtures.js';

test.describe('token', () => {
    test('with the token the page loads, connects and draws the grid', async ({ page, engine }) => {
        await openEditor(page, engine.url);
        await expect(page.locator('#lock')).toBeHidden();
        await expect(page.locator('#connection')).toHaveClass(/\bup\b/);
        await expect(page.locator('#connection')).toContainText('connected');
        await expect(page.locator('#cursor-info')).toContainText('camx');
        const cells = await page.evaluate(() => window.velmoraEditor.app.grid.drawnCells());
        expect(cells.length).toBeGreaterThan(0);
    });

    test('without a token the page says so and does nothing', async ({ page, engine }) => {
        await page.goto(`${engine.origin}/`);
        await expect(page.locator('html')).toHaveAttribute('data-state', 'locked');
        await expect(page.locator('#lock')).toBeVisible();
        await expect(page.locator('#lock-message')).toContainText('no token');
        // Its keys and buttons are dead: Space does not start the show.
        await page.keyboard.press('Space');
        await page.locator('#play').click({ force: true }).catch(() => {});
        await page.waitForTimeout(300);
        expect((await engine.state()).playing).toBe(false);
    });

    test('a wrong token is refused by the engine and the page stops there', async ({ page, engine, consoleGuard }) => {
        // The browser logs the refused request itself.
        consoleGuard.allow(/status of 401/);
        const wrong = engine.token.replace(/^./, (c) => (c === '0' ? '1' : '0'));
        await page.goto(`${engine.origin}/?token=${wrong}`);
        await expect(page.locator('html')).toHaveAttribute('data-state', 'locked');
        await expect(page.locator('#lock-message')).toContainText('401');
        await page.keyboard.press('Space');
        await page.waitForTimeout(300);
        expect((await engine.state()).playing).toBe(false);
    });
});
