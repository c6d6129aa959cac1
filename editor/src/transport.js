// The engine's transport from the page: play, pause, seek and loop requests, sent one at a time in
// the order made (concurrent fetches may overtake each other), each answer applied to the
// playhead. No DOM: the page listens to its events.
//
// Events: 'state' {state} after an answer was applied, 'failed' {what, error}, 'unauthorized' {}.

import { Emitter } from './model/emitter.js';

export class Transport extends Emitter {
    // api: {play(bool), seek(row), setLoop(loop|null)} each resolving to the engine's state;
    // playhead: the Playhead the answers go to; now(): the clock the playhead runs on.
    constructor({ api, playhead, now = () => performance.now() }) {
        super();
        this.api = api;
        this.playhead = playhead;
        this.now = now;
        this.tail = Promise.resolve();
        // The play state last asked for while a request is on its way, else null.
        this.requestedPlaying = null;
    }

    // Queues a request; resolves to true when the engine applied it, false when it failed.
    send(call, what) {
        const run = this.tail.then(() => this._send(call, what));
        this.tail = run;
        return run;
    }

    async _send(call, what) {
        try {
            const state = await call();
            this.playhead.update(state, this.now());
            this.emit('state', { state });
            return true;
        } catch (error) {
            this.emit(error && error.status === 401 ? 'unauthorized' : 'failed', { what, error });
            return false;
        }
    }

    // Whether the show is playing, or will be once the requests on their way are answered.
    playing() {
        return this.requestedPlaying ?? this.playhead.state.playing;
    }

    // Against the last request, not only the last state heard: Space pressed again before the
    // engine has answered the first press pauses what that press started.
    togglePlay() {
        return this.play(!this.playing());
    }

    play(playing) {
        this.requestedPlaying = playing;
        return this.send(() => this.api.play(playing), playing ? 'Play' : 'Pause').finally(() => {
            if (this.requestedPlaying === playing) {
                this.requestedPlaying = null;
            }
        });
    }

    // Goes to a row, clamped to the show.
    seek(row) {
        const length = this.playhead.state.lengthRows || 0;
        const target = Math.max(0, Math.min(length, row));
        return this.send(() => this.api.seek(target), `Going to row ${Math.round(target)}`);
    }

    // loop: {from, to} (rows, `to` not included) or null to clear it. An empty loop is not sent.
    setLoop(loop) {
        if (loop) {
            const length = this.playhead.state.lengthRows || Infinity;
            const from = Math.max(0, Math.min(length, loop.from));
            const to = Math.max(0, Math.min(length, loop.to));
            if (!(to > from)) {
                return Promise.resolve(false);
            }
            loop = { from, to };
        }
        return this.send(() => this.api.setLoop(loop), loop ? 'Setting the loop' : 'Clearing the loop');
    }
}
