// The page hears the engine: shader errors come and go in the panel, and two pages editing the
// same track never overwrite each other unseen.
import fs from 'node:fs/promises';
import { test, expect, clickCell, drawnCells, openEditor, waitSaved } from './fixtures.js';

const keyAt = (track, row) => track.keys.find((k) => k.row === row);

test.describe('live', () => {
    test('the picture box shows the engine\'s last frame', async ({ editor }) => {
        await editor.locator('#preview-toggle').check();
        await expect.poll(() => editor.locator('#preview-img').evaluate((img) => img.naturalWidth)).toBeGreaterThan(0);
        const size = await editor.locator('#preview-img').evaluate((img) => [img.naturalWidth, img.naturalHeight]);
        expect(size[0] * 9).toBe(size[1] * 16);
        await editor.locator('#preview-toggle').uncheck();
        await expect(editor.locator('#preview')).toBeHidden();
    });

    test('a broken shader shows its error in the panel; fixing it clears it', async ({ editor, engine }) => {
        const file = 'data/shaders/postproc.fs';
        const good = await fs.readFile(engine.file(file), 'utf8');
        await expect(editor.locator('#error-count')).toHaveText('0');
        const lines = good.split('\n');
        // A statement where only declarations may be, a few lines into the file.
        const at = lines.findIndex((l) => l.startsWith('#version')) + 2;
        lines.splice(at, 0, 'this_is_not_glsl;');
        await engine.saveFile(file, lines.join('\n'));
        const item = editor.locator('#error-list li').first();
        await expect(item).toBeVisible();
        await expect(item.locator('.where')).toHaveText(/shaders\/postproc\.fs:\d+$/);
        await expect(item.locator('.message')).not.toBeEmpty();
        await expect(editor.locator('#error-count')).toHaveText('1');
        expect((await engine.state()).errors.length).toBe(1);

        await engine.saveFile(file, good);
        await expect(editor.locator('#error-list li')).toHaveCount(0);
        await expect(editor.locator('#no-errors')).toBeVisible();
        await expect(editor.locator('#error-count')).toHaveText('0');
    });

    test('two pages on one track: the stale edit is refused, the page reloads the track and keeps its other edits', async ({ editor, engine, context, consoleGuard }) => {
        // The engine refuses the stale save with 409, which the browser logs.
        consoleGuard.allow(/status of 409/);
        const second = await context.newPage();
        consoleGuard.watch(second, 'second page');
        // The second page does not hear the engine's events (a stream that lags behind), so it
        // edits on an old revision.
        await second.route('**/api/events**', () => {});
        await openEditor(second, engine.url);

        // The second page edits another track first: that edit must survive.
        await clickCell(second, 'noisez', 40);
        await second.keyboard.type('3');
        await second.keyboard.press('Enter');
        await waitSaved(second);

        // The first page changes darken.
        await clickCell(editor, 'darken', 50);
        await editor.keyboard.type('0.25');
        await editor.keyboard.press('Enter');
        await waitSaved(editor);

        // The second page, still on the old darken, edits it too: refused.
        await clickCell(second, 'darken', 60);
        await second.keyboard.type('0.5');
        await second.keyboard.press('Enter');
        await expect(second.locator('.notice.warning')).toContainText('darken was changed elsewhere');
        await waitSaved(second);
        let track = await engine.track('darken');
        expect(keyAt(track, 50)?.value).toBe(0.25);
        expect(keyAt(track, 60)).toBeUndefined();
        // The second page now shows the first page's darken, and its own noisez edit is kept.
        const cells = await drawnCells(second, 55);
        expect(cells.find((c) => c.name === 'darken' && c.row === 50)).toMatchObject({ key: true, text: '0.25' });
        expect(cells.find((c) => c.name === 'darken' && c.row === 60)).toMatchObject({ key: false });
        expect(keyAt(await engine.track('noisez'), 40)?.value).toBe(3);
        expect(await engine.trackEval('noisez', [40])).toEqual([3]);

        // Editing again on the fresh version works.
        await clickCell(second, 'darken', 60);
        await second.keyboard.type('0.5');
        await second.keyboard.press('Enter');
        await waitSaved(second);
        track = await engine.track('darken');
        expect(keyAt(track, 50)?.value).toBe(0.25);
        expect(keyAt(track, 60)?.value).toBe(0.5);
        // The first page heard of it and shows it.
        await expect.poll(async () => (await drawnCells(editor, 60)).find((c) => c.name === 'darken' && c.row === 60)?.text).toBe('0.5');
        await second.close();
    });
});
