// The page for assistive technology: axe-core's WCAG 2 A and AA rules find nothing serious on the
// page as it opens and with each of its panels open.
import path from 'node:path';
import { test, expect, REPO } from './fixtures.js';

const AXE = path.join(REPO, 'editor/node_modules/axe-core/axe.min.js');

async function violations(page) {
    if (!(await page.evaluate(() => typeof window.axe === 'object'))) {
        await page.addScriptTag({ path: AXE });
    }
    const result = await page.evaluate(() => window.axe.run(document, {
        runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] },
    }));
    return result.violations
        .filter((v) => v.impact === 'serious' || v.impact === 'critical')
        .map((v) => `${v.id} (${v.impact}): ${v.help}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
}

test.describe('accessibility', () => {
    test('no serious violations: as the page opens, with the help, the find box, the columns and a failed save', async ({ editor, consoleGuard }) => {
        consoleGuard.allow(/status of 500/);
        await editor.setViewportSize({ width: 1280, height: 720 });
        expect(await violations(editor)).toEqual([]);
        await editor.locator('#grid').focus();
        await editor.keyboard.press('?');
        await expect(editor.locator('#help-panel')).toBeVisible();
        expect(await violations(editor)).toEqual([]);
        await editor.keyboard.press('Escape');
        await editor.keyboard.press('/');
        await editor.keyboard.type('cam');
        expect(await violations(editor)).toEqual([]);
        await editor.keyboard.press('Escape');
        await editor.locator('#columns-button').click();
        expect(await violations(editor)).toEqual([]);
        await editor.locator('#columns-close').click();
        await editor.locator('#preview-toggle').check();
        await editor.route('**/api/tracks/fov', (route) => (route.request().method() === 'PUT'
            ? route.fulfill({ status: 500, contentType: 'application/json', body: JSON.stringify({ error: 'fov: cannot write data/science/src/fov.txt: No space left on device' }) })
            : route.continue()));
        await editor.locator('#grid').focus();
        await editor.keyboard.press('Control+f');
        await editor.keyboard.type('fov');
        await editor.keyboard.press('Enter');
        await editor.keyboard.type('7');
        await editor.keyboard.press('Enter');
        await expect(editor.locator('#retry')).toBeVisible();
        expect(await violations(editor)).toEqual([]);
    });
});
