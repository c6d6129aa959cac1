// End-to-end tests of the sync editor against a real `velmora --edit` (started by the fixture in
// tests/e2e/fixtures.js), in Debian's chromium: never a downloaded browser, one worker.
import { defineConfig } from '@playwright/test';

export default defineConfig({
    testDir: './tests/e2e',
    workers: 1,
    fullyParallel: false,
    retries: 0,
    timeout: 90_000,
    expect: { timeout: 15_000 },
    reporter: [['list']],
    outputDir: process.env.VELMORA_E2E_OUTPUT || './test-results',
    use: {
        browserName: 'chromium',
        headless: true,
        viewport: { width: 1280, height: 800 },
        launchOptions: {
            executablePath: process.env.VELMORA_CHROMIUM || '/usr/bin/chromium',
            args: [
                '--no-sandbox',
                '--disable-gpu',
                '--disable-background-networking',
                '--disable-component-update',
                '--disable-sync',
                '--no-first-run',
            ],
        },
        trace: 'retain-on-failure',
        screenshot: 'only-on-failure',
    },
});
