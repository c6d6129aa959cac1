#!/usr/bin/env bash
# Runs the sync editor's end-to-end tests (editor/tests/e2e) with the locked Playwright.
#   run_e2e.sh NODE EDITOR_DIR      (VELMORA_BINARY and VELMORA_TRACK set by the caller)
set -euo pipefail
node="$1"
editor="$2"
cli="$editor/node_modules/@playwright/test/cli.js"
if [ ! -f "$cli" ]; then
    echo "editor_e2e: $cli is missing: run scripts/install-deps.sh (npm ci in editor/)" >&2
    exit 1
fi
if [ ! -x /usr/bin/chromium ]; then
    echo "editor_e2e: /usr/bin/chromium is missing: run scripts/install-deps.sh (Debian's chromium)" >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ]; then
    echo "editor_e2e: no DISPLAY: the engine needs an X server (scripts/test.sh runs the tests under xvfb-run)" >&2
    exit 1
fi
cd "$editor"
exec "$node" "$cli" test
