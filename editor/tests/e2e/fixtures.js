// The engine and the page for the end-to-end tests: each test gets its own `velmora --edit`
// (VELMORA_BINARY) at 320x180, paused, in a temporary copy of the repository's data/ folder, and
// the page it serves. Browser console errors fail the test unless it allows them.
import { test as base, expect } from '@playwright/test';
import { execFile, spawn } from 'node:child_process';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export { expect };

export const REPO = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../..');
const SERVER_LINE = /Edit server: (http:\/\/127\.0\.0\.1:(\d+)\/\?token=([0-9a-f]{32}))/;

// Starts the engine; resolves once it printed its address.
export async function startEngine({ args = ['--paused'], size = '320x180', timeoutMs = 60_000 } = {}) {
    const binary = process.env.VELMORA_BINARY;
    if (!binary) {
        throw new Error('VELMORA_BINARY is not set: run the tests through ctest (scripts/test.sh), or set it to build/app/velmora');
    }
    const dir = await fs.mkdtemp(path.join(os.tmpdir(), 'velmora-editor-'));
    await fs.cp(path.join(REPO, 'data'), path.join(dir, 'data'), { recursive: true });
    // Another version of the page (the benchmarks compare one with this one): served from the
    // run's folder, which the engine prefers to the source tree's.
    if (process.env.VELMORA_EDITOR_PAGE) {
        await fs.cp(process.env.VELMORA_EDITOR_PAGE, path.join(dir, 'editor'), { recursive: true });
    }
    const child = spawn(binary, ['--edit', '--size', size, '--port', '0', ...args], {
        cwd: dir,
        stdio: ['ignore', 'pipe', 'pipe'],
        env: { ...process.env },
    });
    let log = '';
    let exited = null;
    const exitPromise = new Promise((resolve) => {
        child.on('exit', (code, signal) => {
            exited = { code, signal };
            resolve(exited);
        });
    });
    const url = await new Promise((resolve, reject) => {
        let out = '';
        const timer = setTimeout(() => reject(new Error(`velmora --edit printed no address in ${timeoutMs} ms:\n${log}`)), timeoutMs);
        child.stdout.on('data', (chunk) => {
            out += chunk;
            log += chunk;
            const m = out.match(SERVER_LINE);
            if (m) {
                clearTimeout(timer);
                resolve(m[1]);
            }
        });
        child.stderr.on('data', (chunk) => {
            log += chunk;
        });
        child.on('error', (e) => {
            clearTimeout(timer);
            reject(new Error(`cannot start ${binary}: ${e.message}`));
        });
        exitPromise.then(({ code, signal }) => {
            clearTimeout(timer);
            reject(new Error(`velmora --edit ended before printing its address (status ${code}, signal ${signal}):\n${log}`));
        });
    });
    const parsed = new URL(url);
    const token = parsed.searchParams.get('token');
    const origin = parsed.origin;

    const engine = {
        url,
        origin,
        token,
        dir,
        log: () => log,
        exited: () => exited,
        // A call to the API from the test itself, with the token.
        async api(method, apiPath, body) {
            const init = { method, headers: { 'X-Velmora-Token': token } };
            if (body !== undefined) {
                init.headers['Content-Type'] = 'application/json';
                init.body = JSON.stringify(body);
            }
            const response = await fetch(origin + apiPath, init);
            const text = await response.text();
            return { status: response.status, body: text ? JSON.parse(text) : null };
        },
        async state() {
            return (await engine.api('GET', '/api/state')).body;
        },
        // A track as the engine holds it: values are 32-bit floats (the JSON carries their
        // shortest decimal).
        async track(name) {
            const track = (await engine.api('GET', `/api/tracks/${name}`)).body;
            return { ...track, keys: track.keys.map((k) => ({ ...k, value: Math.fround(k.value) })) };
        },
        file(relative) {
            return path.join(dir, relative);
        },
        // The compiled track file's values at rows, as `velmora-track eval` reads them.
        trackEval(name, rows) {
            return runTool(['eval', engine.file(`data/science/sync_${name}.track`), ...rows.map(String)]).then((out) =>
                out.trim().split('\n').map(Number),
            );
        },
        // The compiled track file's keys as text (`velmora-track dump`).
        trackDump(name) {
            return runTool(['dump', engine.file(`data/science/sync_${name}.track`)]);
        },
        // Writes a file the way editors do: a temporary file renamed over it.
        async saveFile(relative, text) {
            const target = engine.file(relative);
            const temporary = `${target}.tmp-${process.pid}`;
            await fs.writeFile(temporary, text);
            await fs.rename(temporary, target);
        },
        async stop() {
            if (!exited) {
                child.kill('SIGTERM');
                const timer = setTimeout(() => child.kill('SIGKILL'), 10_000);
                await exitPromise;
                clearTimeout(timer);
            }
            await fs.rm(dir, { recursive: true, force: true });
        },
    };
    return engine;
}

function runTool(args) {
    const tool = process.env.VELMORA_TRACK;
    if (!tool) {
        throw new Error('VELMORA_TRACK is not set: run the tests through ctest, or set it to build/tools/track/velmora-track');
    }
    return new Promise((resolve, reject) => {
        execFile(tool, args, (error, stdout, stderr) => {
            if (error) {
                reject(new Error(`velmora-track ${args.join(' ')}: ${error.message}\n${stderr}`));
            } else {
                resolve(stdout);
            }
        });
    });
}

// Collects a page's console errors and uncaught exceptions.
export class ConsoleGuard {
    constructor() {
        this.problems = [];
        this.allowed = [];
    }

    watch(page, label = 'page') {
        page.on('console', (message) => {
            if (message.type() === 'error') {
                this.problems.push(`${label}: console error: ${message.text()}`);
            }
        });
        page.on('pageerror', (error) => {
            this.problems.push(`${label}: uncaught: ${error.message}`);
        });
    }

    // Errors a test expects (the browser logs refused requests, e.g. "status of 409").
    allow(pattern) {
        this.allowed.push(pattern);
    }

    unexpected() {
        return this.problems.filter((p) => !this.allowed.some((a) => a.test(p)));
    }
}

export const test = base.extend({
    engine: async ({}, use, testInfo) => {
        const engine = await startEngine();
        try {
            await use(engine);
            expect(engine.exited(), `the engine ended during the test:\n${engine.log()}`).toBeNull();
        } finally {
            if (testInfo.status !== testInfo.expectedStatus) {
                const exit = engine.exited();
                const log = `${engine.log()}\n${exit ? `[ended: status ${exit.code}, signal ${exit.signal}]` : '[still running]'}\n`;
                await fs.writeFile(testInfo.outputPath('engine.log'), log).catch(() => {});
                await testInfo.attach('engine.log', { body: log, contentType: 'text/plain' });
            }
            await engine.stop();
        }
    },
    // Depends on the engine so that it is checked before the engine stops (which breaks the
    // page's event stream, an error the browser logs).
    consoleGuard: [
        async ({ page, engine }, use) => {
            const guard = new ConsoleGuard();
            guard.watch(page);
            await use(guard);
            expect(guard.unexpected(), 'browser console errors').toEqual([]);
        },
        { auto: true },
    ],
    // The page, opened with the engine's address, ready to edit.
    editor: async ({ page, engine }, use) => {
        await openEditor(page, engine.url);
        await use(page);
    },
});

export async function openEditor(page, url) {
    await page.goto(url);
    await expect(page.locator('html')).toHaveAttribute('data-state', 'ready');
}

// What the grid draws in its visible cells: [{name, row, text, key, interpolation}]; with a row,
// after scrolling it to the middle of the view.
export function drawnCells(page, row = null) {
    return page.evaluate((row) => {
        const grid = window.velmoraEditor.app.grid;
        if (row !== null) {
            grid.centreRow(row);
        }
        return grid.drawnCells();
    }, row);
}

// Brings a cell into view and clicks it, as the author would.
export async function clickCell(page, name, row, modifiers = []) {
    const point = await page.evaluate(
        ({ name, row }) => {
            const app = window.velmoraEditor.app;
            const col = app.layout.visible().indexOf(name);
            if (col < 0) {
                throw new Error(`${name} is not a visible column`);
            }
            app.grid.ensureVisible(row, col);
            app.grid.draw();
            const r = app.grid.cellRect(row, col);
            return { x: r.x + r.width / 2, y: r.y + r.height / 2 };
        },
        { name, row },
    );
    for (const m of modifiers) {
        await page.keyboard.down(m);
    }
    await page.mouse.click(point.x, point.y);
    for (const m of modifiers) {
        await page.keyboard.up(m);
    }
    await expect.poll(() => page.evaluate(() => {
        const app = window.velmoraEditor.app;
        return { track: app.editor.cursorTrack(), row: app.cursor.row };
    })).toEqual({ track: name, row });
}

// Waits until every edit has reached the engine.
export async function waitSaved(page) {
    await expect(page.locator('#save-status')).toHaveText('All saved');
    await page.evaluate(() => window.velmoraEditor.app.store.whenIdle());
}

// Track text in the form the engine reads: "ROW VALUE INTERPOLATION" lines.
export function parseTrackText(text) {
    return text
        .split('\n')
        .map((line) => line.replace(/#.*/, '').trim())
        .filter((line) => line !== '')
        .map((line) => {
            const [row, value, interpolation] = line.split(/\s+/);
            return { row: Number(row), value: Math.fround(Number(value)), interpolation: interpolation.toLowerCase() };
        });
}
