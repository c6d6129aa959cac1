// The sync editor page: boots, and wires the engine's API, its event stream, the models and the
// views together. What the keys do is in commands.js, the transport in transport.js, the event
// stream in events.js, the picture's polling in preview.js.

import { Api, tokenFromLocation } from './api.js';
import { Commands } from './commands.js';
import { EngineEvents } from './events.js';
import { ColumnLayout } from './model/columns.js';
import { GridCursor } from './model/cursor.js';
import { Editor } from './model/editor.js';
import { formatBarBeat, formatRows, formatTime, parseGoTo } from './model/format.js';
import { gridAction } from './model/keymap.js';
import { setKeyValue } from './model/keys.js';
import { Playhead } from './model/playhead.js';
import { Prefs } from './model/prefs.js';
import { TrackStore } from './model/store.js';
import { PicturePoller } from './preview.js';
import { Transport } from './transport.js';
import { CurveView } from './views/curve.js';
import { GridView } from './views/grid.js';
import { ColumnsPanel, ErrorsPanel, FindPanel, HelpPanel, Notices } from './views/panels.js';
import { dragToResize } from './views/panes.js';
import { TimelineView } from './views/timeline.js';

const $ = (id) => document.getElementById(id);
const LAYOUT_KEY = 'velmora-editor-columns';

function storage() {
    try {
        return window.localStorage;
    } catch (e) {
        return null;
    }
}

class App {
    constructor(token) {
        this.api = new Api(token);
        this.locked = false;
        this.store = new TrackStore(this.api);
        this.layout = new ColumnLayout();
        this.cursor = new GridCursor();
        this.editor = new Editor({ store: this.store, layout: this.layout, cursor: this.cursor });
        this.playhead = new Playhead();
        this.transport = new Transport({ api: this.api, playhead: this.playhead });
        this.events = new EngineEvents({ api: this.api });
        // The picture at the size it is shown, not the engine's (far less to compress and send).
        this.poller = new PicturePoller({
            api: this.api,
            width: () => Math.ceil(($('preview-img').clientWidth || 320) * (window.devicePixelRatio || 1)),
        });
        this.prefs = new Prefs(storage());
        this.wave = null;
        this.broken = new Map(); // track name -> its source's error, from the engine's list
        this.perf = false;
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
        this.events.close();
        this.poller.stop();
    }

    get rowsPerBeat() {
        return this.playhead.state.rowsPerBeat || 8;
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
        this.showErrors(state.errors);
        let tracks;
        try {
            tracks = await this.api.tracks();
            // Tracks listed without their revision are asked for one by one.
            tracks = await Promise.all(tracks.map((t) => (typeof t.revision === 'number' ? t : this.api.getTrack(t.name))));
        } catch (e) {
            if (e.status === 401) {
                this.lock('The engine refused this page\'s token (401).');
            } else {
                this.lock(`The tracks could not be loaded: ${e.message}.`);
            }
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
        this.buildCommands();
        this.bindStore();
        this.bindTransport();
        this.bindKeys();
        this.bindClipboard();
        this.bindEvents();
        this.bindPreview();
        this.bindPanes();
        this.loadWaveform();
        // The grid opens where the engine is.
        const row = Math.max(0, Math.min(this.cachedRowCount - 1, Math.floor(this.playhead.state.row)));
        this.cursor.moveTo(row, 0);
        this.grid.layoutSpacer();
        this.grid.centreRow(row);
        this.curve.keepInView(row);
        this.updateCursorInfo();
        this.updateSaveStatus();
        this.updateUndoButtons();
        this.updateTransport();
        this.events.connect();
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
                return app.rowsPerBeat;
            },
            rowCount: () => this.cachedRowCount ?? this.rowCount(),
            playhead: () => this.currentRow ?? this.playRow(),
            loop: () => this.playhead.state.loop,
            brokenTracks: () => this.broken,
            onCursorMoved: () => this.commands.cursorMoved(),
            onUserScroll: () => {
                if (this.commands.follow && this.transport.playing()) {
                    this.commands.setFollow(false);
                }
            },
            onColumnMoved: (name, index) => {
                this.layout.moveVisible(name, index);
                this.layoutChanged();
            },
            onColumnResized: (name, width, done) => {
                this.layout.setWidth(name, width);
                if (done) {
                    this.layoutChanged();
                }
            },
            onGutterClick: (row) => this.commands.seekBoth(row),
        });
        this.timeline = new TimelineView($('timeline'), {
            get rowsPerBeat() {
                return app.rowsPerBeat;
            },
            get rowsPerSecond() {
                return app.playhead.state.rowsPerSecond || 24;
            },
            lengthRows: () => this.playhead.state.lengthRows || 0,
            playhead: () => this.currentRow ?? this.playRow(),
            loop: () => this.playhead.state.loop,
            waveform: () => this.wave,
            visibleRows: () => this.grid.visibleRows(),
            onSeek: (row) => this.commands.seekBoth(row),
            onLoop: (loop) => {
                this.notices.show({ level: 'info', key: 'loop', text: `Looping ${formatRows(loop.from, loop.to - 1, this.rowsPerBeat)}` });
                this.transport.setLoop(loop);
            },
        });
        const precision = $('precision');
        precision.value = String(this.prefs.get('precision', 0));
        precision.addEventListener('change', () => this.prefs.set('precision', Number(precision.value)));
        this.curve = new CurveView($('curve-host'), {
            store: this.store,
            get rowsPerBeat() {
                return app.rowsPerBeat;
            },
            tracks: () => this.editor.blockNames(),
            lengthRows: () => this.playhead.state.lengthRows || 0,
            playhead: () => this.currentRow ?? this.playRow(),
            precision: () => Number(precision.value) || 0,
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
            onMoveKey: (name, fromRow, toRow, value) => this.editor.moveKey(name, fromRow, toRow, value),
            onAddKey: (name, row, value) => {
                this.store.edit(`add ${name} key at row ${row}`, { [name]: setKeyValue(this.store.keys(name), row, value) });
            },
        });
        this.columns = new ColumnsPanel($('columns-panel'), $('columns-button'), this.layout, () => this.layoutChanged(),
            (name) => this.store.description(name));
        this.find = new FindPanel($('find-panel'),
            () => this.layout.order.map((name) => ({ name, description: this.store.description(name) })),
            (name) => this.goToTrack(name));
        this.help = new HelpPanel($('help-panel'));
        $('find-button').addEventListener('click', () => this.find.open());
        $('help-button').addEventListener('click', () => this.help.toggle());
        this.cachedRowCount = this.rowCount();
        this.cursor.setBounds(this.cachedRowCount, this.layout.visible().length);
    }

    buildCommands() {
        this.commands = new Commands({
            cursor: this.cursor,
            editor: this.editor,
            store: this.store,
            transport: this.transport,
            playhead: this.playhead,
            rowCount: () => this.cachedRowCount,
            rowsPerBeat: () => this.rowsPerBeat,
            playRow: () => this.currentRow ?? this.playRow(),
            ensureVisible: (row, col) => this.grid.ensureVisible(row, col),
            openEditor: (text, select) => this.openEditor(text, select),
            notify: (n) => this.notices.show(n),
            help: () => this.help.toggle(),
            find: () => this.find.open(),
            goTo: () => $('row-input').focus(),
            save: () => this.save(),
        });
        this.commands.on('cursor', () => this.cursorMoved());
        this.commands.on('follow', ({ on }) => {
            $('follow').checked = on;
            this.grid.dirty = true;
        });
    }

    // The track found with Ctrl+F: shown if it was hidden, the cursor on it.
    goToTrack(name) {
        if (this.layout.isHidden(name)) {
            this.layout.setHidden(name, false);
            this.layoutChanged();
            this.notices.show({ level: 'info', key: 'find', text: `${name} was hidden; it is shown again.` });
        }
        const col = this.layout.visible().indexOf(name);
        this.cursor.moveTo(this.cursor.row, col);
        this.grid.scroller.focus({ preventScroll: true });
        this.commands.cursorMoved();
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
        if (this.columns.isOpen()) {
            this.columns.render();
        }
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
            this.notices.show({ level: n.level, text: n.text, key: n.name ? `track-${n.name}` : null, action: n.action ?? null });
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
            const first = this.store.status(failed[0]);
            const why = first.state === 'blocked' ? `fix ${first.file}${first.line ? ` line ${first.line}` : ''}` : first.message;
            el.textContent = `Not saved: ${failed.join(', ')} (${why})`;
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

    // The status line, and (a moment after the cursor settles) the screen reader's announcement.
    updateCursorInfo() {
        if (!this.commands) {
            return;
        }
        const text = this.commands.describeCursor();
        $('cursor-info').textContent = text;
        clearTimeout(this.announceTimer);
        this.announceTimer = setTimeout(() => {
            if (document.activeElement === this.grid.scroller) {
                $('cell-announce').textContent = text;
            }
        }, 150);
    }

    cursorMoved() {
        this.grid.dirty = true;
        this.curve.dirty = true;
        this.curve.keepInView(this.cursor.row);
        this.updateCursorInfo();
    }

    showErrors(errors) {
        const list = Array.isArray(errors) ? errors : [];
        this.errors.show(list);
        const broken = new Map(list.filter((e) => typeof e.track === 'string').map((e) => [e.track, e]));
        if ([...broken.keys()].join() !== [...this.broken.keys()].join()) {
            this.broken = broken;
            if (this.grid) {
                this.grid.dirty = true;
            }
        } else {
            this.broken = broken;
        }
    }

    // Transport --------------------------------------------------------------------------------

    transportChanged() {
        this.grid.dirty = true;
        this.timeline.dirty = true;
        this.curve.dirty = true;
        this.updateTransport();
    }

    bindTransport() {
        const refocus = () => this.grid.scroller.focus({ preventScroll: true });
        this.transport.on('state', () => this.transportChanged());
        this.transport.on('failed', ({ what, error }) => this.notices.show({ level: 'error', text: `${what} failed: ${error.message}`, key: 'transport' }));
        this.transport.on('unauthorized', () => this.lock('The engine no longer accepts this page\'s token (401).'));
        // Mouse clicks on buttons give the keys back to the grid (so Space keeps playing); the
        // keyboard's focus stays where the author put it.
        for (const button of document.querySelectorAll('.transport button')) {
            button.addEventListener('mouseup', () => setTimeout(refocus, 0));
        }
        $('play').addEventListener('click', () => this.transport.togglePlay());
        $('to-start').addEventListener('click', () => this.commands.seekBoth(0));
        $('follow').addEventListener('change', (e) => this.commands.setFollow(e.target.checked));
        $('loop-clear').addEventListener('click', () => this.transport.setLoop(null));
        $('loop-selection').addEventListener('click', () => this.commands.loopSelection());
        $('undo').addEventListener('click', () => this.commands.perform({ type: 'undo' }));
        $('redo').addEventListener('click', () => this.commands.perform({ type: 'redo' }));
        $('retry').addEventListener('click', () => this.store.retryAll());
        const rowInput = $('row-input');
        rowInput.addEventListener('keydown', (e) => {
            if (e.key === 'Enter') {
                const s = this.playhead.state;
                const place = parseGoTo(rowInput.value, { rowsPerSecond: s.rowsPerSecond || 24, rowsPerBeat: this.rowsPerBeat });
                if (!place.ok) {
                    rowInput.classList.add('invalid');
                    rowInput.setAttribute('aria-invalid', 'true');
                    this.notices.show({ level: 'warning', text: place.error, key: 'row-input', seconds: 6 });
                    return;
                }
                rowInput.classList.remove('invalid');
                rowInput.removeAttribute('aria-invalid');
                this.notices.remove('row-input');
                // The grid goes there and takes the keys back at once; the engine follows.
                refocus();
                this.commands.seekBoth(place.row);
            } else if (e.key === 'Escape') {
                refocus();
            }
        });
        rowInput.addEventListener('focus', () => rowInput.select());
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
        $('barbeat').textContent = formatBarBeat(row, this.rowsPerBeat);
        const loop = $('loop-text');
        const loopText = s.loop ? `loop ${formatRows(Math.ceil(s.loop.from), Math.ceil(s.loop.to) - 1, this.rowsPerBeat).replace(/ \(rows (.*)\)$/, ' ($1)')}` : 'no loop';
        if (loop.textContent !== loopText) {
            loop.textContent = loopText;
        }
        loop.classList.toggle('active', !!s.loop);
        $('loop-clear').disabled = !s.loop;
        const fps = s.playing ? (typeof s.fps === 'number' ? `${s.fps.toFixed(0)} fps` : '') : 'paused';
        const fpsEl = $('engine-fps');
        if (fpsEl.textContent !== fps) {
            fpsEl.textContent = fps;
        }
    }

    // Keys -----------------------------------------------------------------------------------

    bindKeys() {
        document.addEventListener('keydown', (e) => this.keyDown(e));
    }

    keyDown(e) {
        if (this.locked || e.defaultPrevented) {
            return;
        }
        if (this.help.isOpen() || this.find.isOpen()) {
            return;
        }
        const t = e.target;
        const inGrid = t === this.grid.scroller || t === document.body || t === document.documentElement;
        const typing = t instanceof HTMLElement && (t.isContentEditable || ['INPUT', 'TEXTAREA', 'SELECT'].includes(t.tagName)) &&
            !(t.tagName === 'INPUT' && ['checkbox', 'radio'].includes(t.type));
        if (e.key === 'Escape' && this.columns.isOpen()) {
            this.columns.close();
            e.preventDefault();
            return;
        }
        if (typing) {
            return;
        }
        const action = gridAction(e);
        if (!action) {
            return;
        }
        // Outside the grid only the page-wide keys; everything else is the grid's.
        if (!inGrid && !['help', 'find', 'playPause', 'save', 'undo', 'redo'].includes(action.type)) {
            return;
        }
        if (!inGrid && action.type === 'playPause' && (t.tagName === 'BUTTON' || t.tagName === 'INPUT')) {
            return; // Space presses the button or ticks the box
        }
        if (['copy', 'cut', 'paste'].includes(action.type)) {
            // Left to the browser, which fires the clipboard events below; without them (no
            // clipboard), the page's own clipboard.
            this.pendingClipboard = action.type;
            setTimeout(() => {
                if (this.pendingClipboard === action.type) {
                    this.pendingClipboard = null;
                    this.clipboardAction(action.type, null);
                }
            }, 0);
            return;
        }
        e.preventDefault();
        this.commands.perform(action);
    }

    // Copy, cut and paste through the system clipboard, as text.
    bindClipboard() {
        const handle = (type) => (e) => {
            const t = document.activeElement;
            if (this.locked || !(t === this.grid.scroller || t === document.body)) {
                return;
            }
            this.pendingClipboard = null;
            e.preventDefault();
            this.clipboardAction(type, e.clipboardData);
        };
        document.addEventListener('copy', handle('copy'));
        document.addEventListener('cut', handle('cut'));
        document.addEventListener('paste', handle('paste'));
    }

    clipboardAction(type, data) {
        if (type === 'paste') {
            this.commands.paste(data ? data.getData('text/plain') : null);
            return;
        }
        const text = this.commands.copy(type === 'cut');
        if (data) {
            data.setData('text/plain', text);
        } else if (navigator.clipboard && navigator.clipboard.writeText) {
            navigator.clipboard.writeText(text).catch(() => {});
        }
    }

    openEditor(text, select) {
        this.grid.openEditor(text, (typed) => {
            const result = this.editor.setValue(typed);
            return result.ok ? null : result.error;
        }, { select });
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

    // The event stream ---------------------------------------------------------------------------

    bindEvents() {
        const events = this.events;
        events.on('connection', ({ up, reconnected }) => {
            this.setConnection(up);
            if (up && reconnected) {
                // Whatever changed while we were away, then the saves that failed meanwhile
                // (those refused for a broken source wait for the author).
                this.api.tracks().then(
                    (list) => {
                        this.store.resync(list.filter((t) => typeof t.revision === 'number'));
                        this.store.retryAll({ blocked: false });
                    },
                    () => {},
                );
            }
        });
        events.on('state', (state) => {
            this.playhead.update(state, performance.now());
            if (Array.isArray(state.errors)) {
                this.showErrors(state.errors);
            }
            this.poller.stateChanged(state);
            this.transportChanged();
        });
        events.on('track', (data) => this.store.remoteChange(data));
        events.on('reloaded', (data) => {
            if (data.ok) {
                this.notices.show({ level: 'info', text: `Reloaded ${data.file}`, key: 'reloaded' });
            }
        });
        events.on('errors', (errors) => this.showErrors(errors));
        events.on('unauthorized', () => this.lock('The engine no longer accepts this page\'s token (401): it was probably restarted.'));
    }

    setConnection(up) {
        const el = $('connection');
        // Connected: a green dot (its word for screen readers); lost: said in full.
        if (up) {
            el.innerHTML = '<span aria-hidden="true">●</span><span class="visually-hidden">connected</span>';
        } else {
            el.textContent = 'engine disconnected: reconnecting…';
        }
        el.title = up ? 'The page hears the engine\'s events' : 'The event stream from the engine is down; the page keeps trying';
        el.className = `connection ${up ? 'up' : 'down'}`;
    }

    // The engine's picture: after every change while paused, ten times a second while playing.
    bindPreview() {
        const box = $('preview-toggle');
        const figure = $('preview');
        const img = $('preview-img');
        const caption = $('preview-caption');
        let url = null;
        this.poller.on('frame', ({ blob }) => {
            const next = URL.createObjectURL(blob);
            img.src = next;
            if (url) {
                URL.revokeObjectURL(url);
            }
            url = next;
            this.pictures = (this.pictures ?? 0) + 1;
            if (caption.textContent) {
                caption.textContent = '';
            }
        });
        this.poller.on('failed', ({ error }) => {
            caption.textContent = `No picture: ${error.message}`;
        });
        this.poller.on('unauthorized', () => this.lock('The engine no longer accepts this page\'s token (401).'));
        const apply = () => {
            figure.hidden = !box.checked;
            $('split-preview').hidden = !box.checked;
            if (box.checked) {
                this.poller.stateChanged(this.playhead.state);
                this.poller.start();
            } else {
                this.poller.stop();
            }
        };
        box.checked = this.prefs.get('picture', false);
        box.addEventListener('change', () => {
            this.prefs.set('picture', box.checked);
            apply();
        });
        apply();
    }

    // Pane sizes: the author's, remembered; else the curves get what the grid does not need to
    // show a bar of rows.
    bindPanes() {
        const panes = $('panes');
        const bottom = $('bottom');
        const side = $('side');
        const bottomHeight = () => {
            const set = this.prefs.get('bottomHeight');
            if (set !== null) {
                return Math.max(0, Math.min(panes.clientHeight - 66, set));
            }
            const gridNeeds = this.grid.headerHeight + this.rowsPerBeat * 4 * this.grid.rowHeight + 20;
            return Math.max(80, Math.min(240, panes.clientHeight - 6 - gridNeeds));
        };
        const applyBottom = (px) => {
            panes.style.setProperty('--bottom-height', `${Math.round(px)}px`);
            return px;
        };
        const sideWidth = () => {
            const set = this.prefs.get('sideWidth');
            const width = set ?? Math.round(Math.min(420, Math.max(240, panes.clientWidth * 0.28)));
            return Math.max(0, Math.min(panes.clientWidth - 126, width));
        };
        const applySide = (px) => {
            bottom.style.setProperty('--side-width', `${Math.round(px)}px`);
            return px;
        };
        const previewHeight = () => {
            const set = this.prefs.get('previewHeight');
            return set ?? Math.round(bottom.clientHeight * 0.6);
        };
        const applyPreview = (px) => {
            side.style.setProperty('--preview-height', `${Math.round(Math.max(40, Math.min(side.clientHeight - 40, px)))}px`);
            return px;
        };
        const layout = () => {
            applyBottom(bottomHeight());
            applySide(sideWidth());
            applyPreview(previewHeight());
        };
        layout();
        new ResizeObserver(layout).observe(panes);
        dragToResize($('split-grid'), {
            vertical: false,
            sign: -1,
            size: () => bottom.clientHeight,
            set: (px) => applyBottom(Math.max(0, Math.min(panes.clientHeight - 66, px))),
            done: (px) => {
                this.prefs.set('bottomHeight', Math.round(px));
                applyPreview(previewHeight());
            },
        });
        dragToResize($('split-side'), {
            vertical: true,
            sign: -1,
            size: () => side.clientWidth,
            set: (px) => applySide(Math.max(0, Math.min(panes.clientWidth - 126, px))),
            done: (px) => this.prefs.set('sideWidth', Math.round(px)),
        });
        dragToResize($('split-preview'), {
            vertical: false,
            sign: 1,
            size: () => $('preview').clientHeight,
            set: (px) => applyPreview(px),
            done: (px) => this.prefs.set('previewHeight', Math.round(Math.max(40, px))),
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
            if (this.commands.follow) {
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
