// When the page asks the engine for its picture (GET /api/frame.png): while paused, once after
// every change the engine draws (the state's frame count moves on); while playing, every
// `intervalMs` (10 a second by default), at most `maxInFlight` (3) requests at a time so a slow answer
// never piles requests up in the engine. No DOM: the page shows the pictures it is handed.
//
// Events: 'frame' {blob, frame}, 'failed' {error}, 'unauthorized' {}.

import { Emitter } from './model/emitter.js';

export class PicturePoller extends Emitter {
    // api: {frame(width) -> Promise<Blob>}; width(): the width the picture is shown at (0: the
    // engine's own); timers and the clock are replaceable for the tests.
    constructor({
        api,
        width = () => 0,
        intervalMs = 100,
        retryMs = 2000,
        maxInFlight = 3,
        now = () => performance.now(),
        setTimer = (fn, ms) => setTimeout(fn, ms),
        clearTimer = (id) => clearTimeout(id),
    }) {
        super();
        this.api = api;
        this.width = width;
        this.intervalMs = intervalMs;
        this.retryMs = retryMs;
        this.maxInFlight = maxInFlight;
        this.now = now;
        this.setTimer = setTimer;
        this.clearTimer = clearTimer;
        this.running = false;
        this.playing = false;
        this.frame = null; // the engine's frame count last heard
        this.shownFrame = undefined; // the frame count when the last picture shown was asked for
        this.inFlight = 0;
        this.lastStart = -Infinity;
        this.timer = null;
        this.failing = false;
        this.sequence = 0; // answers older than the last shown are dropped
        this.lastShown = 0;
    }

    start() {
        if (!this.running) {
            this.running = true;
            this.shownFrame = undefined;
            this.schedule();
        }
    }

    stop() {
        this.running = false;
        if (this.timer !== null) {
            this.clearTimer(this.timer);
            this.timer = null;
        }
    }

    // Every state the engine sends: {playing, frame}.
    stateChanged(state) {
        this.playing = !!state.playing;
        if (typeof state.frame === 'number') {
            this.frame = state.frame;
        }
        this.schedule();
    }

    // Asks now, or sets a timer for when the next picture is due.
    schedule() {
        if (!this.running || this.inFlight >= this.maxInFlight || this.failing) {
            return;
        }
        if (this.timer !== null) {
            this.clearTimer(this.timer);
            this.timer = null;
        }
        if (!this.playing) {
            // Paused: only when the picture changed since the last one asked for (one at a time).
            if (this.inFlight === 0 && (this.shownFrame === undefined || this.frame !== this.shownFrame)) {
                this.fetch();
            }
            return;
        }
        const due = this.lastStart + this.intervalMs - this.now();
        if (due <= 0) {
            this.fetch();
            this.schedule();
        } else {
            this.timer = this.setTimer(() => {
                this.timer = null;
                this.schedule();
            }, due);
        }
    }

    async fetch() {
        const frame = this.frame;
        const sequence = ++this.sequence;
        this.inFlight++;
        this.lastStart = this.now();
        this.shownFrame = frame;
        try {
            const blob = await this.api.frame(this.width());
            this.inFlight--;
            if (this.running && sequence > this.lastShown) {
                this.lastShown = sequence;
                this.emit('frame', { blob, frame });
            }
            this.schedule();
        } catch (error) {
            this.inFlight--;
            this.shownFrame = undefined;
            if (error && error.status === 401) {
                this.stop();
                this.emit('unauthorized', {});
                return;
            }
            this.emit('failed', { error });
            // Wait a while before asking again.
            this.failing = true;
            this.setTimer(() => {
                this.failing = false;
                this.schedule();
            }, this.retryMs);
        }
    }
}
