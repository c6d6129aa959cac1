// The sync editor page: wires the engine's API and event stream to the models and the views.

import { Api, tokenFromLocation } from './api.js';
import { ColumnLayout } from './model/columns.js';
import { GridCursor } from './model/cursor.js';
import { Editor } from './model/editor.js';
import { formatBarBeat, formatTime, formatValue, parseRow } from './model/format.js';
import { evaluate, findKey, segmentStart } from './model/interp.js';
import { gridAction } from './model/keymap.js';
import { blockToText } from './model/keys.js';
import { Playhead } from './model/playhead.js';
import { TrackStore } from './model/store.js';
import { CurveView } from './views/curve.js';
import { GridView } from './views/grid.js';
import { ColumnsPanel, ErrorsPanel, Notices } from './views/panels.js';
import { TimelineView } from './views/timeline.js';

const $ = (id) => document.getElementById(id);
const LAYOUT_KEY = 'velmora-editor-columns';

class App {
    constructor(token) {
        this.api = new Api(token);
        this.locked = false;
        this.store = new TrackStore(this.api);
        this.layout = new ColumnLayout();
        this.cursor = new GridCursor();
        this.editor = new Editor({ store: this.store, layout: this.layout, cursor: this.cursor });
        this.playhead = new Playhead();
        this.wave = null;
        this.follow = true;
        // Transport requests go one at a time, in the order made (concurrent fetches may overtake
        // each other); the play state last asked for while a request is on its way.
        this.transportTail = Promise.resolve();
        this.requestedPlaying = null;
        this.events = null;
        this.perf = false;
        this.connected = false;
        this.everConnected = false;
        this.notices = new Notices($('notices'));
        this.errors = new ErrorsPanel($('errors'));
    }

    // Locks the page: nothing works without the engine's consent.
    lock(message) {
        this.locked = true;
        $('lock-message').textContent = message;
        $('lock').hidden = false;
        $('app').inert = true;
        document.documentElement.dataset.state = 'locked';
        if (this.events) {
            this.events.close();
            this.events = null;
        }
    }

    async start() {
        let state;
        try {
            state = await this.api.state();
        } catch (e) {
            if (e.status === 401) {
                this.lock('The engine refused this page\'s token (401): it belongs to another run of the engine, or was mistyped.');
            } else {
                this.lock(`The engine does not answer: ${e.message}.`);
            }
            return;
        }
        this.playhead.update(state, performance.now());
        this.errors.show(state.errors);
        let tracks;
        try {
            tracks = await this.api.tracks();
        } catch (e) {
            if (e.status === 401) {
                this.lock('The engine refused this page\'s token (401).');
            } else {
                this.lock(`The tracks could not be loaded: ${e.message}.`);
            }
            return;
        }
        // Tracks listed without their revision are asked for one by one.
        try {
            tracks = await Promise.all(tracks.map((t) => (typeof t.revision === 'number' ? t : this.api.getTrack(t.name))));
        } catch (e) {
            this.lock(`The tracks could not be loaded: ${e.message}.`);
            return;
        }
        this.store.load(tracks);
        this.layout.setNames(this.store.names());
        try {
            this.layout.restore(JSON.parse(localStorage.getItem(LAYOUT_KEY) ?? 'null'));
        } catch (e) {
            // A damaged saved layout: start from the engine's order.
        }
        this.buildViews();
        this.bindStore();
        this.bindTransport();
        this.bindKeys();
        this.connectEvents();
        this.bindPreview();
        this.loadWaveform();
        this.updateCursorInfo();
        this.updateSaveStatus();
        this.updateUndoButtons();
        requestAnimationFrame((now) => this.frame(now));
        // Interactive once the first frame of the grid is drawn.
        this.grid.draw();
        performance.mark('editor-interactive');
        document.documentElement.dataset.state = 'ready';
        window.addEventListener('beforeunload', (e) => {
            if (this.store.unsavedNames().length > 0) {
                e.preventDefault();
                e.returnValue = '';
            }
        });
    }

    rowCount() {
        const length = this.playhead.state.lengthRows || 0;
        let last = 0;
        for (const name of this.store.names()) {
            const keys = this.store.keys(name);
            if (keys.length) {
                last = Math.max(last, keys[keys.length - 1].row + 1);
            }
        }
        // Keys far past the music (rows go up to 2^31 - 1) stay in their tracks untouched, but the
        // grid stops a few minutes after the end.
        return Math.max(1, length, Math.min(last, length + 8192));
    }

    playRow() {
        return this.playhead.row(performance.now());
    }

    buildViews() {
        const app = this;
        this.grid = new GridView($('grid-host'), {
            store: this.store,
            layout: this.layout,
            cursor: this.cursor,
            get rowsPerBeat() {
                return app.playhead.state.rowsPerBeat || 8;
            },
            rowCount: () => this.cachedRowCount ?? this.rowCount(),
            playhead: () => this.currentRow ?? this.playRow(),
            loop: () => this.playhead.state.loop,
            onCursorMoved: () => this.cursorMoved(),
            onUserScroll: () => {
                if (this.follow && this.playhead.state.playing) {
                    this.setFollow(false);
                }
            },
            onColumnMoved: (name, index) => {
                this.layout.moveVisible(name, index);
                this.layoutChanged();
            },
            onGutterClick: (row) => this.seek(row),
        });
        this.timeline = new TimelineView($('timeline'), {
            get rowsPerBeat() {
                return app.playhead.state.rowsPerBeat || 8;
            },
            lengthRows: () => this.playhead.state.lengthRows || 0,
            playhead: () => this.currentRow ?? this.playRow(),
            loop: () => this.playhead.state.loop,
            waveform: () => this.wave,
            visibleRows: () => this.grid.visibleRows(),
            onSeek: (row) => this.seek(row),
            onLoop: (loop) => this.setLoop(loop),
        });
        this.curve = new CurveView($('curve-host'), {
            store: this.store,
            get rowsPerBeat() {
                return app.playhead.state.rowsPerBeat || 8;
            },
            tracks: () => this.editor.blockNames(),
            lengthRows: () => this.playhead.state.lengthRows || 0,
            playhead: () => this.currentRow ?? this.playRow(),
            fetchValues: (name, from, to, step) =>
                this.api.values(name, from, to, step).then(
                    (r) => r.values,
                    (e) => {
                        if (e.status === 401) {
                            this.lock('The engine no longer accepts this page\'s token (401).');
                        }
                        throw e;
                    },
                ),
            onMoveKey: (name, fromRow, toRow, value) => {
                this.editor.moveKey(name, fromRow, toRow, value);
            },
        });
        this.columns = new ColumnsPanel($('columns-panel'), $('columns-button'), this.layout, () => this.layoutChanged());
        this.cachedRowCount = this.rowCount();
        this.cursor.setBounds(this.cachedRowCount, this.layout.visible().length);
        this.curve.keepInView(this.cursor.row);
    }

    layoutChanged() {
        try {
            localStorage.setItem(LAYOUT_KEY, JSON.stringify(this.layout.toJSON()));
        } catch (e) {
            // Storage off or full: the layout lasts as long as the page.
        }
        this.cursor.setBounds(this.cachedRowCount, this.layout.visible().length);
        this.grid.dirty = true;
        this.curve.dirty = true;
        this.updateCursorInfo();
    }

    bindStore() {
        this.store.on('change', () => {
            this.cachedRowCount = this.rowCount();
            this.cursor.setBounds(this.cachedRowCount, this.layout.visible().length);
            this.grid.dirty = true;
            this.curve.dirty = true;
            this.updateCursorInfo();
            this.updateUndoButtons();
        });
        this.store.on('status', () => {
            this.grid.dirty = true;
            this.curve.dirty = true;
            this.updateSaveStatus();
            this.updateCursorInfo();
        });
        this.store.on('saved', () => this.updateSaveStatus());
        this.store.on('notice', (n) => {
            this.notices.show({ level: n.level, text: n.text, key: n.name ? `track-${n.name}` : null });
        });
        this.store.on('unauthorized', () => this.lock('The engine no longer accepts this page\'s token (401): it was probably restarted. Open the address it printed.'));
    }

    updateSaveStatus() {
        const el = $('save-status');
        const failed = this.store.failedNames();
        const unsaved = this.store.unsavedNames();
        el.classList.toggle('failed', failed.length > 0);
        el.classList.toggle('saving', failed.length === 0 && unsaved.length > 0);
        if (failed.length > 0) {
            const first = this.store.status(failed[0]).message;
            el.textContent = `Not saved: ${failed.join(', ')} (${first})`;
            el.title = failed.map((n) => `${n}: ${this.store.status(n).message}`).join('\n');
        } else if (unsaved.length > 0) {
            el.textContent = `Saving ${unsaved.join(', ')}…`;
            el.title = '';
        } else {
            el.textContent = 'All saved';
            el.title = '';
        }
        $('retry').hidden = failed.length === 0;
    }

    updateUndoButtons() {
        $('undo').disabled = !this.store.history.canUndo();
        $('redo').disabled = !this.store.history.canRedo();
    }

    // The status line: what is under the cursor.
    updateCursorInfo() {
        const name = this.editor.cursorTrack();
        const row = this.cursor.row;
        let text = `row ${row} · bar ${formatBarBeat(row, this.playhead.state.rowsPerBeat || 8)}`;
        if (name) {
            const keys = this.store.keys(name);
            const i = findKey(keys, row);
            if (i >= 0) {
                text = `${name} · ${text} · key ${formatValue(keys[i].value)} ${keys[i].interpolation}`;
            } else {
                const s = segmentStart(keys, row);
                const from = s >= 0 && s + 1 < keys.length ? ` (${keys[s].interpolation} from row ${keys[s].row})` : '';
                text = `${name} · ${text} · ${formatValue(Math.fround(evaluate(keys, row)))}${from}`;
            }
            const status = this.store.status(name);
            if (status.state === 'failed') {
                text += ` · not saved: ${status.message}`;
            }
        }
        const selection = this.cursor.selection();
        if (selection) {
            text += ` · selected rows ${selection.row0}–${selection.row1}, ${selection.col1 - selection.col0 + 1} track(s)`;
        }
        $('cursor-info').textContent = text;
    }

    cursorMoved() {
        this.grid.dirty = true;
        this.curve.dirty = true;
        this.curve.keepInView(this.cursor.row);
        this.updateCursorInfo();
    }

    // Transport --------------------------------------------------------------------------------

    transport(call, what) {
        const run = this.transportTail.then(() => this.sendTransport(call, what));
        this.transportTail = run;
        return run;
    }

    async sendTransport(call, what) {
        try {
            const state = await call();
            this.playhead.update(state, performance.now());
            this.transportChanged();
            return true;
        } catch (e) {
            if (e.status === 401) {
                this.lock('The engine no longer accepts this page\'s token (401).');
            } else {
                this.notices.show({ level: 'error', text: `${what} failed: ${e.message}`, key: 'transport' });
            }
            return false;
        }
    }

    transportChanged() {
        this.grid.dirty = true;
        this.timeline.dirty = true;
        this.curve.dirty = true;
        this.updateTransport();
    }

    // Against the last request, not only the last state heard: Space pressed again before the
    // engine has answered the first press pauses what that press started.
    togglePlay() {
        const playing = !(this.requestedPlaying ?? this.playhead.state.playing);
        this.requestedPlaying = playing;
        return this.transport(() => this.api.play(playing), playing ? 'Play' : 'Pause').finally(() => {
            if (this.requestedPlaying === playing) {
                this.requestedPlaying = null;
            }
        });
    }

    seek(row) {
        const length = this.playhead.state.lengthRows || 0;
        const target = Math.max(0, Math.min(length, row));
        return this.transport(() => this.api.seek(target), `Going to row ${Math.round(target)}`);
    }

    setLoop(loop) {
        return this.transport(() => this.api.setLoop(loop), loop ? 'Setting the loop' : 'Clearing the loop');
    }

    setFollow(on) {
        this.follow = on;
        $('follow').checked = on;
        if (on) {
            this.grid.dirty = true;
        }
    }

    bindTransport() {
        const refocus = () => this.grid.scroller.focus({ preventScroll: true });
        // Mouse clicks on buttons give the keys back to the grid (so Space keeps playing).
        for (const button of document.querySelectorAll('.transport button')) {
            button.addEventListener('mouseup', () => setTimeout(refocus, 0));
        }
        $('play').addEventListener('click', () => this.togglePlay());
        $('to-start').addEventListener('click', () => this.seek(0));
        $('follow').addEventListener('change', (e) => this.setFollow(e.target.checked));
        $('loop-clear').addEventListener('click', () => this.setLoop(null));
        $('loop-selection').addEventListener('click', () => {
            const b = this.cursor.block();
            this.setLoop({ from: b.row0, to: b.row1 + 1 });
        });
        $('undo').addEventListener('click', () => this.undo());
        $('redo').addEventListener('click', () => this.redo());
        $('retry').addEventListener('click', () => this.store.retryAll());
        const rowInput = $('row-input');
        rowInput.addEventListener('keydown', (e) => {
            if (e.key === 'Enter') {
                const row = parseRow(rowInput.value, this.playhead.state.rowsPerSecond || 24);
                if (row === null) {
                    rowInput.classList.add('invalid');
                    this.notices.show({ level: 'warning', text: `"${rowInput.value}" is neither a row nor a time (m:ss)`, key: 'row-input', seconds: 4 });
                    return;
                }
                rowInput.classList.remove('invalid');
                // The grid goes there and takes the keys back at once; the engine follows.
                const r = Math.round(Math.max(0, Math.min(this.cachedRowCount - 1, row)));
                this.cursor.moveTo(r, this.cursor.col);
                this.grid.ensureVisible(r, this.cursor.col);
                this.cursorMoved();
                refocus();
                this.seek(row);
            } else if (e.key === 'Escape') {
                refocus();
            }
        });
        rowInput.addEventListener('focus', () => rowInput.select());
        this.updateTransport();
    }

    updateTransport() {
        const s = this.playhead.state;
        const row = this.currentRow ?? s.row;
        const play = $('play');
        play.textContent = s.playing ? 'Pause' : 'Play';
        play.classList.toggle('playing', s.playing);
        play.setAttribute('aria-pressed', String(s.playing));
        const rowInput = $('row-input');
        if (document.activeElement !== rowInput) {
            rowInput.value = String(Math.floor(row));
        }
        $('time').textContent = formatTime(row / (s.rowsPerSecond || 24));
        $('barbeat').textContent = formatBarBeat(row, s.rowsPerBeat || 8);
        const loop = $('loop-text');
        loop.textContent = s.loop ? `loop ${s.loop.from}–${s.loop.to}` : 'no loop';
        loop.classList.toggle('active', !!s.loop);
        $('loop-clear').disabled = !s.loop;
        $('engine-fps').textContent = typeof s.fps === 'number' ? `${s.fps.toFixed(0)} fps` : '';
    }

    // Keys -----------------------------------------------------------------------------------

    bindKeys() {
        document.addEventListener('keydown', (e) => this.keyDown(e));
    }

    keyDown(e) {
        if (this.locked || e.defaultPrevented) {
            return;
        }
        const t = e.target;
        const inField = t instanceof HTMLElement && t !== this.grid.scroller &&
            (t.isContentEditable || ['INPUT', 'TEXTAREA', 'SELECT', 'BUTTON'].includes(t.tagName));
        if (inField) {
            return;
        }
        if (e.key === 'Escape' && this.columns.isOpen()) {
            this.columns.close();
            e.preventDefault();
            return;
        }
        const action = gridAction(e);
        if (!action) {
            return;
        }
        e.preventDefault();
        this.perform(action);
    }

    perform(action) {
        const cursor = this.cursor;
        switch (action.type) {
        case 'move':
            cursor.moveBy(action.rows, action.cols, action.extend);
            break;
        case 'moveTo':
            cursor.moveTo(action.row === Infinity ? this.cachedRowCount - 1 : action.row, cursor.col, action.extend);
            break;
        case 'selectColumn':
            cursor.selectAllRows();
            break;
        case 'escape':
            cursor.clearSelection();
            break;
        case 'delete':
            this.editor.deleteBlock();
            break;
        case 'interpolation':
            this.editor.cycleInterpolation();
            break;
        case 'edit':
            this.openEditor(this.editor.currentKeyText(), true);
            return;
        case 'type':
            this.openEditor(action.text, false);
            return;
        case 'copy':
            this.copy(false);
            break;
        case 'cut':
            this.copy(true);
            break;
        case 'paste':
            if (!this.editor.paste()) {
                if (!this.editor.clipboard) {
                    this.notices.show({ level: 'info', text: 'Nothing to paste: copy a block first (Ctrl+C).', key: 'clipboard' });
                }
            }
            break;
        case 'undo':
            this.undo();
            break;
        case 'redo':
            this.redo();
            break;
        case 'playPause':
            this.togglePlay();
            return;
        case 'save':
            this.save();
            return;
        case 'loopStart': {
            const loop = this.playhead.state.loop;
            const to = loop && loop.to > cursor.row ? loop.to : cursor.row + 32;
            this.setLoop({ from: cursor.row, to: Math.min(to, this.playhead.state.lengthRows || to) });
            return;
        }
        case 'loopEnd': {
            const loop = this.playhead.state.loop;
            const from = loop && loop.from < cursor.row ? loop.from : Math.max(0, cursor.row - 32);
            if (cursor.row > from) {
                this.setLoop({ from, to: cursor.row });
            }
            return;
        }
        default:
            return;
        }
        this.grid.ensureVisible(cursor.row, cursor.col);
        this.cursorMoved();
    }

    openEditor(text, select) {
        if (!this.editor.cursorTrack()) {
            return;
        }
        this.grid.openEditor(text, (typed) => {
            const result = this.editor.setValue(typed);
            return result.ok ? null : result.error;
        }, { select });
    }

    copy(cut) {
        const block = cut ? this.editor.cut() : this.editor.copy();
        const count = block.columns.reduce((n, c) => n + c.length, 0);
        this.notices.show({
            level: 'info',
            text: `${cut ? 'Cut' : 'Copied'} ${count} key(s) from ${block.columns.length} track(s), ${block.rows} row(s).`,
            key: 'clipboard',
        });
        // Also on the system clipboard where the browser allows it, as text.
        if (navigator.clipboard && navigator.clipboard.writeText) {
            navigator.clipboard.writeText(blockToText(block)).catch(() => {});
        }
    }

    // Every edit is saved as it is made; Ctrl+S retries what failed and says where things stand.
    save() {
        const failed = this.store.failedNames();
        if (failed.length > 0) {
            this.store.retryAll();
            this.notices.show({ level: 'info', text: `Saving ${failed.join(', ')} again…`, key: 'save' });
        } else {
            const unsaved = this.store.unsavedNames();
            this.notices.show({
                level: 'info',
                text: unsaved.length ? `Saving ${unsaved.join(', ')}…` : 'Everything is saved: each edit is written as you make it.',
                key: 'save',
            });
        }
    }

    undo() {
        const label = this.editor.undo();
        this.notices.show({ level: 'info', text: label ? `Undone: ${label}` : 'Nothing to undo.', key: 'undo' });
        this.updateUndoButtons();
    }

    redo() {
        const label = this.editor.redo();
        this.notices.show({ level: 'info', text: label ? `Redone: ${label}` : 'Nothing to redo.', key: 'undo' });
        this.updateUndoButtons();
    }

    // The event stream ---------------------------------------------------------------------------

    connectEvents() {
        const es = new EventSource(this.api.eventsUrl());
        this.events = es;
        es.addEventListener('open', () => {
            const reconnected = this.everConnected;
            this.connected = true;
            this.everConnected = true;
            this.setConnection(true);
            if (reconnected) {
                // Whatever changed while we were away, then the saves that failed meanwhile.
                this.api.tracks().then(
                    (list) => {
                        this.store.resync(list.filter((t) => typeof t.revision === 'number'));
                        this.store.retryAll();
                    },
                    () => {},
                );
            }
        });
        es.addEventListener('state', (e) => {
            const state = parseEvent(e);
            if (state) {
                this.playhead.update(state, performance.now());
                if (Array.isArray(state.errors)) {
                    this.errors.show(state.errors);
                }
                this.transportChanged();
            }
        });
        es.addEventListener('track', (e) => {
            const data = parseEvent(e);
            if (data && typeof data.name === 'string') {
                this.store.remoteChange(data);
            }
        });
        es.addEventListener('reloaded', (e) => {
            const data = parseEvent(e);
            if (data && data.ok && typeof data.file === 'string') {
                this.notices.show({ level: 'info', text: `Reloaded ${data.file}`, key: 'reloaded' });
            }
        });
        // 'error' is both the engine's error list and the browser's own "connection lost".
        es.addEventListener('error', (e) => {
            if (typeof e.data === 'string') {
                const data = parseEvent(e);
                if (data) {
                    this.errors.show(data.errors);
                }
                return;
            }
            this.connected = false;
            this.setConnection(false);
            if (es.readyState === EventSource.CLOSED) {
                this.events = null;
                this.reconnectLater();
            }
        });
    }

    // The stream was refused for good: find out why, then try again.
    reconnectLater() {
        setTimeout(() => {
            if (this.locked) {
                return;
            }
            this.api.state().then(
                () => this.connectEvents(),
                (e) => {
                    if (e.status === 401) {
                        this.lock('The engine no longer accepts this page\'s token (401): it was probably restarted.');
                    } else {
                        this.reconnectLater();
                    }
                },
            );
        }, 2000);
    }

    setConnection(up) {
        const el = $('connection');
        el.textContent = up ? 'engine connected' : 'engine disconnected: reconnecting…';
        el.className = `connection ${up ? 'up' : 'down'}`;
    }

    // The engine's picture, a few times a second while the box is ticked.
    bindPreview() {
        const box = $('preview-toggle');
        const figure = $('preview');
        const img = $('preview-img');
        const caption = $('preview-caption');
        let timer = null;
        let url = null;
        const load = async () => {
            timer = null;
            if (!box.checked || this.locked) {
                return;
            }
            try {
                const blob = await this.api.frame();
                if (url) {
                    URL.revokeObjectURL(url);
                }
                url = URL.createObjectURL(blob);
                img.src = url;
                caption.textContent = '';
                timer = setTimeout(load, 250);
            } catch (e) {
                if (e.status === 401) {
                    this.lock('The engine no longer accepts this page\'s token (401).');
                    return;
                }
                caption.textContent = `No picture: ${e.message}`;
                timer = setTimeout(load, 2000);
            }
        };
        box.addEventListener('change', () => {
            figure.hidden = !box.checked;
            if (box.checked && !timer) {
                load();
            }
        });
    }

    async loadWaveform() {
        try {
            this.wave = await this.api.waveform(1);
            this.timeline.dirty = true;
        } catch (e) {
            if (e.status === 401) {
                this.lock('The engine refused this page\'s token (401).');
            } else {
                this.notices.show({ level: 'warning', text: `The waveform could not be loaded: ${e.message}` });
            }
        }
    }

    // One animation frame: move the playhead, follow it, draw what changed. With `perf` set (the
    // benchmarks set it), each frame that draws is measured on the performance timeline.
    frame(now) {
        if (this.locked) {
            return;
        }
        const start = this.perf ? performance.now() : 0;
        const row = this.playhead.row(now);
        if (row !== this.currentRow) {
            this.currentRow = row;
            this.grid.dirty = true;
            this.timeline.dirty = true;
            this.curve.dirty = true;
            if (this.follow) {
                this.grid.follow(row);
                if (this.playhead.state.playing) {
                    this.curve.keepInView(row);
                }
            }
            this.updateTransport();
        }
        let drew = false;
        if (this.grid.dirty) {
            this.grid.draw();
            this.timeline.dirty = true;
            drew = true;
        }
        if (this.timeline.dirty) {
            this.timeline.draw();
            drew = true;
        }
        if (this.curve.dirty) {
            this.curve.draw();
            drew = true;
        }
        if (this.perf && drew) {
            performance.measure('editor-draw', { start, end: performance.now() });
        }
        requestAnimationFrame((t) => this.frame(t));
    }
}

function parseEvent(e) {
    try {
        return JSON.parse(e.data);
    } catch (err) {
        return null;
    }
}

const token = tokenFromLocation(location.search);
if (!token) {
    const app = new App('');
    window.velmoraEditor = { app };
    app.lock('This page has no token. The engine only talks to the page with the token it printed.');
} else {
    const app = new App(token);
    window.velmoraEditor = { app };
    app.start().catch((e) => app.lock(`The editor failed to start: ${e.message}`));
}
