// Benchmarks of the sync editor page against a real engine, at 1600x1000. Prints medians:
// - page load to an interactive grid (ms, from navigation start to the first grid frame);
// - the grid's full redraw: every visible cell drawn again, until its pixels exist (the canvas's
//   recorded drawing is made into pixels by reading one back);
// - frames per second, frame gaps and draw time while the grid follows playback, and while it
//   scrolls fast through all rows (the page's draws measured on the browser's performance
//   timeline);
// - the picture beside the curves: pictures a second while playing, and the engine's frame rate
//   with and without it;
// - edit-to-picture latency: Enter in the grid until the engine has applied the new key (its
//   answer and its track event), and until /api/frame.png shows a different picture.
// VELMORA_EDITOR_PAGE=DIR benchmarks another version of the page (e.g. an older commit's editor/).
import { test, expect, openEditor, clickCell, startEngine } from '../../editor/tests/e2e/fixtures.js';

const RUNS = Number(process.env.VELMORA_BENCH_RUNS || 5);

const median = (values) => {
    const s = values.filter((v) => Number.isFinite(v)).sort((a, b) => a - b);
    if (s.length === 0) {
        return NaN;
    }
    const m = s.length >> 1;
    return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2;
};
const percentile = (values, p) => {
    const s = values.slice().sort((a, b) => a - b);
    return s.length ? s[Math.min(s.length - 1, Math.floor(p * s.length))] : NaN;
};
// Goes to a row with the row field, as the author would, and waits until the grid is there and has
// the keys back.
async function goToRow(page, row) {
    await page.locator('#row-input').fill(String(row));
    await page.locator('#row-input').press('Enter');
    await expect
        .poll(() => page.evaluate(() => {
            const app = window.velmoraEditor.app;
            return [app.cursor.row, document.activeElement === app.grid.scroller];
        }))
        .toEqual([row, true]);
}

const fixed = (v, digits = 1) => (Number.isFinite(v) ? v.toFixed(digits) : 'n/a');

// Runs `body` in the page for `ms`, counting animation frames and the page's draws.
async function measureFrames(page, ms, body = null) {
    return page.evaluate(
        async ({ ms, body }) => {
            const app = window.velmoraEditor.app;
            app.perf = true;
            performance.clearMeasures('editor-draw');
            const times = [];
            const step = body ? new Function('app', 'elapsed', body) : null;
            const start = performance.now();
            await new Promise((resolve) => {
                const tick = (t) => {
                    times.push(t);
                    if (step) {
                        step(app, t - start);
                    }
                    if (t - start < ms) {
                        requestAnimationFrame(tick);
                    } else {
                        resolve();
                    }
                };
                requestAnimationFrame(tick);
            });
            const draws = performance.getEntriesByName('editor-draw').map((e) => e.duration);
            app.perf = false;
            const gaps = times.slice(1).map((t, i) => t - times[i]);
            return { frames: times.length, seconds: (times[times.length - 1] - times[0]) / 1000, gaps, draws };
        },
        { ms, body },
    );
}

function summarise(label, runs) {
    const fps = runs.map((r) => (r.frames - 1) / r.seconds);
    const gaps = runs.flatMap((r) => r.gaps);
    const draws = runs.flatMap((r) => r.draws);
    console.log(
        `${label}: ${fixed(median(fps))} fps (median of ${runs.length} runs), frame gap p95 ${fixed(percentile(gaps, 0.95))} ms, ` +
            `longest ${fixed(Math.max(...gaps))} ms; page draw median ${fixed(median(draws), 2)} ms, p95 ${fixed(percentile(draws, 0.95), 2)} ms ` +
            `(${draws.length} draws)`,
    );
    return median(fps);
}

// The grid drawn again from scratch `count` times at each of a few places, each draw followed by
// a one-pixel read that makes the canvas produce its pixels. Milliseconds per draw, and the part
// spent in the page's own code.
async function measureRedraws(page, count) {
    return page.evaluate((count) => {
        const app = window.velmoraEditor.app;
        const grid = app.grid;
        const ctx = grid.canvas.getContext('2d');
        const total = [];
        const script = [];
        const cold = [];
        for (const row of [512, 1200, 2047, 3000, 4100]) {
            // The first draw at a new place, with nothing kept from earlier draws.
            grid.centreRow(row);
            grid.dropRowBitmaps?.();
            const c0 = performance.now();
            grid.draw();
            ctx.getImageData(0, 0, 1, 1);
            cold.push(performance.now() - c0);
            for (let i = 0; i < count; i++) {
                const t0 = performance.now();
                grid.draw();
                const t1 = performance.now();
                ctx.getImageData(0, 0, 1, 1);
                total.push(performance.now() - t0);
                script.push(t1 - t0);
            }
        }
        const rows = grid.visibleRows();
        return { total, script, cold, rows: rows.last - rows.first + 1, width: grid.viewWidth(), height: grid.viewHeight() };
    }, count);
}

// The engine's frames a second while playing, from its count of frames drawn over `ms` (after a
// second to settle).
async function engineFps(engine, ms) {
    await new Promise((r) => setTimeout(r, 1000));
    const a = await engine.state();
    const t0 = Date.now();
    await new Promise((r) => setTimeout(r, ms));
    const b = await engine.state();
    return (b.frame - a.frame) / ((Date.now() - t0) / 1000);
}

test('sync editor benchmarks', async ({ page, engine }) => {
    await page.setViewportSize({ width: 1600, height: 1000 });
    {
        // Page load to an interactive grid.
        const loads = [];
        for (let i = 0; i < RUNS; i++) {
            await openEditor(page, engine.url);
            loads.push(await page.evaluate(() => performance.getEntriesByName('editor-interactive')[0].startTime));
        }
        console.log(`page load to interactive grid: ${fixed(median(loads))} ms median (${loads.map((v) => fixed(v, 0)).join(', ')})`);

        // Full redraws of the grid.
        const redraws = await measureRedraws(page, 30);
        console.log(
            `grid full redraw at 1600x1000 (${redraws.rows} rows in a ${redraws.width}x${redraws.height} grid): ` +
                `median ${fixed(median(redraws.total), 2)} ms, p95 ${fixed(percentile(redraws.total, 0.95), 2)} ms ` +
                `(the page's own code: median ${fixed(median(redraws.script), 2)} ms; ${redraws.total.length} draws); ` +
                `the first draw at a new place: median ${fixed(median(redraws.cold), 2)} ms`,
        );

        // Following playback.
        const following = [];
        await goToRow(page, 512);
        await page.keyboard.press('Space');
        await expect.poll(async () => (await engine.state()).playing).toBe(true);
        for (let i = 0; i < RUNS; i++) {
            following.push(await measureFrames(page, 2000));
        }
        await page.keyboard.press('Space');
        await expect.poll(async () => (await engine.state()).playing).toBe(false);
        summarise('grid following playback', following);

        // Scrolling through all rows in 3 seconds (about 24 rows a frame at 60 Hz).
        await page.locator('#follow').uncheck();
        const scrolling = [];
        for (let i = 0; i < RUNS; i++) {
            scrolling.push(
                await measureFrames(
                    page,
                    3000,
                    `const s = app.grid.scroller; s.scrollTop = (s.scrollHeight - s.clientHeight) * Math.min(1, elapsed / 3000);`,
                ),
            );
        }
        summarise('grid scrolling through all rows', scrolling);

        // Edit to picture: darken at row 1000 between 1 (black) and 0 (the show), paused.
        await page.locator('#follow').check();
        await goToRow(page, 1000);
        await expect.poll(async () => Math.abs((await engine.state()).row - 1000)).toBeLessThan(1);
        await clickCell(page, 'darken', 1000);
        await page.evaluate(() => {
            const app = window.velmoraEditor.app;
            window.benchTimes = [];
            let pending = null;
            document.addEventListener('keydown', (e) => {
                if (e.key === 'Enter') {
                    pending = { enter: performance.now() };
                    window.benchTimes.push(pending);
                }
            }, true);
            app.store.on('saved', () => {
                if (pending && pending.saved === undefined) {
                    pending.saved = performance.now() - pending.enter;
                }
            });
                // The event stream: its own emitter now, an EventSource in older pages.
            const onTrack = (f) => (app.events.on ? app.events.on('track', f) : app.events.addEventListener('track', f));
            onTrack(() => {
                if (pending && pending.event === undefined) {
                    pending.event = performance.now() - pending.enter;
                }
            });
        });
        const frame = async () => Buffer.from(await (await fetch(`${engine.origin}/api/frame.png`, { headers: { 'X-Velmora-Token': engine.token } })).arrayBuffer());
        const pictures = [];
        let stable = true;
        for (let i = 0; i < RUNS * 2; i++) {
            const before = await frame();
            if (!before.equals(await frame())) {
                stable = false;
            }
            const t0 = Date.now();
            await page.keyboard.type(i % 2 === 0 ? '1' : '0');
            await page.keyboard.press('Enter');
            let changed = NaN;
            while (Date.now() - t0 < 5000) {
                if (!(await frame()).equals(before)) {
                    changed = Date.now() - t0;
                    break;
                }
            }
            pictures.push(changed);
            await page.evaluate(() => window.velmoraEditor.app.store.whenIdle());
            await page.waitForTimeout(150);
        }
        const times = await page.evaluate(() => window.benchTimes);
        console.log(
            `edit to engine: Enter to the engine's answer (applied) ${fixed(median(times.map((t) => t.saved)))} ms, ` +
                `to its track event ${fixed(median(times.map((t) => t.event)))} ms (medians of ${times.length} edits)`,
        );
        console.log(
            `edit to picture: typing + Enter to a changed /api/frame.png ${fixed(median(pictures))} ms median ` +
                `(${pictures.map((v) => fixed(v, 0)).join(', ')})${stable ? '' : '; note: paused frames differed from one another without an edit, so this figure is not the edit\'s'}`,
        );
        const state = await engine.state();
        console.log(`engine: ${fixed(state.fps)} fps at 320x180 while benchmarked`);
    }
});

// The picture beside the curves, against an engine drawing at the show's size (1280x720): how many
// pictures a second the page shows while playing, and what that costs the engine's frame rate.
test('sync editor picture', async ({ page, consoleGuard }) => {
    // A software renderer at the show's size answers slowly: refused or late requests are part of
    // what is measured here, not failures.
    consoleGuard.allow(/./);
    const engine = await startEngine({ size: process.env.VELMORA_BENCH_PICTURE_SIZE || '1280x720' });
    try {
        await page.setViewportSize({ width: 1600, height: 1000 });
        await openEditor(page, engine.url);
        await page.evaluate(() => localStorage.clear());
        await goToRow(page, 1024);
        const withPicture = async (on) => {
            const box = page.locator('#preview-toggle');
            if ((await box.isChecked()) !== on) {
                await box.click();
            }
            await page.evaluate(() => window.velmoraEditor.app.grid.scroller.focus());
            await page.keyboard.press('Space');
            await expect.poll(async () => (await engine.state()).playing, { timeout: 30_000 }).toBe(true);
            const before = await page.evaluate(() => window.velmoraEditor.app.pictures ?? 0);
            const t0 = Date.now();
            const fps = await engineFps(engine, 6000);
            const pictures = ((await page.evaluate(() => window.velmoraEditor.app.pictures ?? 0)) - before) / ((Date.now() - t0) / 1000);
            await page.keyboard.press('Space');
            await expect.poll(async () => (await engine.state()).playing, { timeout: 30_000 }).toBe(false);
            await goToRow(page, 1024);
            return { fps, pictures };
        };
        const off = [];
        const on = [];
        for (let i = 0; i < Math.max(2, Math.ceil(RUNS / 2)); i++) {
            off.push(await withPicture(false));
            on.push(await withPicture(true));
        }
        const fpsOff = median(off.map((r) => r.fps));
        const fpsOn = median(on.map((r) => r.fps));
        console.log(
            `picture while playing at ${process.env.VELMORA_BENCH_PICTURE_SIZE || '1280x720'}: ${fixed(median(on.map((r) => r.pictures)))} pictures a second; engine ` +
                `${fixed(fpsOn)} fps with the picture, ${fixed(fpsOff)} fps without (${fixed((fpsOn / fpsOff) * 100, 0)}%; medians of ${on.length} runs)`,
        );
    } finally {
        await engine.stop();
    }
});
