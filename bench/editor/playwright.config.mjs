// The sync editor's benchmarks (not part of the test run): bench/editor/run.sh.
// No imports here: this folder has no node_modules; the benchmark takes Playwright from editor/.
export default {
    testDir: '.',
    testMatch: /.*\.(bench|shot)\.mjs$/,
    workers: 1,
    retries: 0,
    timeout: 600_000,
    reporter: [['list']],
    outputDir: process.env.VELMORA_E2E_OUTPUT || '/tmp/velmora-editor-bench',
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
    },
};
