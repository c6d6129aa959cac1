// The engine's event stream (server-sent events): its messages parsed and passed on, the
// connection's state, and reconnecting when the browser gives up on the stream. No DOM beyond an
// EventSource, which the tests replace.
//
// Events: 'connection' {up, reconnected}, 'state' {...state}, 'track' {name, revision, ...},
// 'errors' [{file, line, message, track?}], 'reloaded' {file, ok, frame}, 'unauthorized' {}.

import { Emitter } from './model/emitter.js';

const CLOSED = 2; // EventSource.CLOSED

export class EngineEvents extends Emitter {
    // api: {eventsUrl(), state()}; open(url): a new EventSource; setTimer(fn, ms): a timer.
    constructor({ api, open = (url) => new EventSource(url), setTimer = (fn, ms) => setTimeout(fn, ms), retryMs = 2000 }) {
        super();
        this.api = api;
        this.open = open;
        this.setTimer = setTimer;
        this.retryMs = retryMs;
        this.source = null;
        this.connected = false;
        this.everConnected = false;
        this.stopped = false;
    }

    connect() {
        if (this.stopped) {
            return;
        }
        const es = this.open(this.api.eventsUrl());
        this.source = es;
        es.addEventListener('open', () => {
            const reconnected = this.everConnected;
            this.connected = true;
            this.everConnected = true;
            this.emit('connection', { up: true, reconnected });
        });
        const forward = (type, check) => (e) => {
            const data = parse(e.data);
            if (data !== null && check(data)) {
                this.emit(type, data);
            }
        };
        es.addEventListener('state', forward('state', (d) => typeof d === 'object'));
        es.addEventListener('track', forward('track', (d) => typeof d.name === 'string'));
        es.addEventListener('reloaded', forward('reloaded', (d) => typeof d.file === 'string'));
        // 'error' is both the engine's error list and the browser's own "connection lost".
        es.addEventListener('error', (e) => {
            if (typeof e.data === 'string') {
                const data = parse(e.data);
                if (data && Array.isArray(data.errors)) {
                    this.emit('errors', data.errors);
                }
                return;
            }
            if (this.source !== es) {
                return;
            }
            if (this.connected) {
                this.connected = false;
            }
            this.emit('connection', { up: false, reconnected: false });
            if (es.readyState === CLOSED) {
                this.source = null;
                this.reconnectLater();
            }
        });
    }

    // The stream was refused for good: find out why, then try again.
    reconnectLater() {
        this.setTimer(() => {
            if (this.stopped) {
                return;
            }
            this.api.state().then(
                () => this.connect(),
                (e) => {
                    if (e && e.status === 401) {
                        this.stopped = true;
                        this.emit('unauthorized', {});
                    } else {
                        this.reconnectLater();
                    }
                },
            );
        }, this.retryMs);
    }

    close() {
        this.stopped = true;
        if (this.source) {
            this.source.close();
            this.source = null;
        }
    }
}

function parse(text) {
    try {
        return JSON.parse(text);
    } catch (e) {
        return null;
    }
}
