// The tracker grid: one column per visible track, one line per row, drawn on a canvas under a
// transparent scrolling layer (native scroll bars and wheel). Only the visible rows and columns
// are drawn, so it costs the same at row 0 and row 4,000.

import { evaluate, findKey, segmentStart, INTERPOLATION_MARKS } from '../model/interp.js';
import { formatCell, formatEvaluated } from '../model/format.js';
import { fitCanvas } from './canvas.js';

const ROW_HEIGHT = 18;
const HEADER_HEIGHT = 30;
const GUTTER_WIDTH = 58;
const COLUMN_WIDTH = 92;
const FONT = '12px ui-monospace, "DejaVu Sans Mono", monospace';
const HEADER_FONT = '11px system-ui, "DejaVu Sans", sans-serif';

const COLOURS = {
    background: '#15171c',
    beatShade: '#191c22',
    beatLine: '#262a33',
    barLine: '#3d4452',
    gutter: '#101216',
    gutterText: '#6b7385',
    barText: '#c7cfdd',
    header: '#1d2027',
    headerText: '#d9dee8',
    key: '#f2f5fa',
    evaluated: '#5d6578',
    playhead: 'rgba(255, 196, 64, 0.20)',
    playheadLine: '#ffc440',
    cursor: '#5fb3ff',
    selection: 'rgba(95, 179, 255, 0.22)',
    loop: 'rgba(120, 220, 140, 0.5)',
    failed: '#ff5f5f',
    saving: '#e9c46a',
    dropMarker: '#5fb3ff',
    interpolation: { constant: '#8a93a6', linear: '#5fb3ff', smoothstep: '#7bd88f', quadratic: '#ffa557' },
};

export class GridView {
    // host: the element to fill. model: {store, layout, cursor, rowCount(), playhead(),
    // loop(), rowsPerBeat, onCursorMoved(), onUserScroll(), onColumnMoved(name, index)}.
    constructor(host, model) {
        this.host = host;
        this.model = model;
        this.dirty = true;
        this.recording = null;

        host.classList.add('grid');
        this.canvas = document.createElement('canvas');
        this.canvas.className = 'grid-canvas';
        this.scroller = document.createElement('div');
        this.scroller.className = 'grid-scroll';
        this.scroller.tabIndex = 0;
        this.scroller.setAttribute('role', 'grid');
        this.scroller.setAttribute('aria-label', 'Tracks');
        this.spacer = document.createElement('div');
        this.spacer.className = 'grid-spacer';
        this.scroller.append(this.spacer);
        this.input = document.createElement('input');
        this.input.className = 'cell-editor';
        this.input.type = 'text';
        this.input.spellcheck = false;
        this.input.autocomplete = 'off';
        this.input.hidden = true;
        this.input.setAttribute('aria-label', 'Key value');
        host.append(this.canvas, this.scroller, this.input);
        this.ctx = this.canvas.getContext('2d', { alpha: false });

        this.scroller.addEventListener('scroll', () => {
            this.dirty = true;
            if (!this.input.hidden) {
                this.placeInput();
            }
        });
        this.scroller.addEventListener('wheel', () => model.onUserScroll?.(), { passive: true });
        this.scroller.addEventListener('mousedown', (e) => this.mouseDown(e));
        this.scroller.addEventListener('mousemove', (e) => this.hover(e));
        new ResizeObserver(() => this.resize()).observe(host);
        this.resize();
    }

    // Geometry -------------------------------------------------------------------------------

    get rowHeight() {
        return ROW_HEIGHT;
    }

    viewWidth() {
        return this.scroller.clientWidth;
    }

    viewHeight() {
        return this.scroller.clientHeight;
    }

    layoutSpacer() {
        const names = this.model.layout.visible();
        const width = GUTTER_WIDTH + names.length * COLUMN_WIDTH;
        const height = HEADER_HEIGHT + this.model.rowCount() * ROW_HEIGHT;
        if (this._spacerSize !== `${width}x${height}`) {
            this._spacerSize = `${width}x${height}`;
            this.spacer.style.width = `${width}px`;
            this.spacer.style.height = `${height}px`;
        }
    }

    resize() {
        fitCanvas(this);
    }

    // First and last visible rows (the last may be partly visible).
    visibleRows() {
        const top = this.scroller.scrollTop;
        const first = Math.max(0, Math.floor(top / ROW_HEIGHT));
        const last = Math.min(this.model.rowCount() - 1, Math.floor((top + this.viewHeight() - HEADER_HEIGHT) / ROW_HEIGHT));
        return { first, last };
    }

    // The cell under a point of the scroller ({row, col, header}); col -1 in the gutter.
    cellAt(clientX, clientY) {
        const rect = this.scroller.getBoundingClientRect();
        const x = clientX - rect.left;
        const y = clientY - rect.top;
        const header = y < HEADER_HEIGHT;
        const col = x < GUTTER_WIDTH ? -1 : Math.floor((x - GUTTER_WIDTH + this.scroller.scrollLeft) / COLUMN_WIDTH);
        const row = Math.floor((y - HEADER_HEIGHT + this.scroller.scrollTop) / ROW_HEIGHT);
        return { row, col, header, x, y };
    }

    // A cell's rectangle in page coordinates (row -1: the header).
    cellRect(row, col) {
        const rect = this.scroller.getBoundingClientRect();
        const y = row < 0 ? 0 : HEADER_HEIGHT + row * ROW_HEIGHT - this.scroller.scrollTop;
        return {
            x: rect.left + GUTTER_WIDTH + col * COLUMN_WIDTH - this.scroller.scrollLeft,
            y: rect.top + y,
            width: COLUMN_WIDTH,
            height: row < 0 ? HEADER_HEIGHT : ROW_HEIGHT,
        };
    }

    // Scrolls as little as needed to show a cell.
    ensureVisible(row, col) {
        const s = this.scroller;
        const top = row * ROW_HEIGHT;
        const dataHeight = this.viewHeight() - HEADER_HEIGHT;
        if (top < s.scrollTop) {
            s.scrollTop = top;
        } else if (top + ROW_HEIGHT > s.scrollTop + dataHeight) {
            s.scrollTop = top + ROW_HEIGHT - dataHeight;
        }
        const left = col * COLUMN_WIDTH;
        const dataWidth = this.viewWidth() - GUTTER_WIDTH;
        if (left < s.scrollLeft) {
            s.scrollLeft = left;
        } else if (left + COLUMN_WIDTH > s.scrollLeft + dataWidth) {
            s.scrollLeft = left + COLUMN_WIDTH - dataWidth;
        }
        this.dirty = true;
    }

    // Scrolls a row to the middle of the view.
    centreRow(row) {
        const dataHeight = this.viewHeight() - HEADER_HEIGHT;
        this.scroller.scrollTop = Math.max(0, row * ROW_HEIGHT - dataHeight / 2);
        this.dirty = true;
    }

    // Keeps a (fractional) row at a steady place in the view while following the playhead.
    follow(row) {
        const dataHeight = this.viewHeight() - HEADER_HEIGHT;
        const target = Math.max(0, row * ROW_HEIGHT - dataHeight * 0.35);
        if (Math.abs(this.scroller.scrollTop - target) >= 0.5) {
            this.scroller.scrollTop = target;
        }
        this.dirty = true;
    }

    // Mouse ------------------------------------------------------------------------------------

    hover(e) {
        const cell = this.cellAt(e.clientX, e.clientY);
        const names = this.model.layout.visible();
        const name = cell.col >= 0 ? names[cell.col] : undefined;
        const title = cell.header && name ? `${name}: drag to move the column` : '';
        if (this.scroller.title !== title) {
            this.scroller.title = title;
        }
    }

    mouseDown(e) {
        if (e.button !== 0) {
            return;
        }
        const cell = this.cellAt(e.clientX, e.clientY);
        // Clicks on the scroll bars scroll.
        if (cell.x >= this.viewWidth() || cell.y >= this.viewHeight()) {
            return;
        }
        const names = this.model.layout.visible();
        if (cell.col < 0 || cell.col >= names.length) {
            if (!cell.header && cell.col < 0 && cell.row >= 0) {
                this.model.onGutterClick?.(cell.row);
            }
            return;
        }
        e.preventDefault();
        this.scroller.focus({ preventScroll: true });
        if (cell.header) {
            this.startColumnDrag(e, names[cell.col], cell.col);
            return;
        }
        const cursor = this.model.cursor;
        cursor.moveTo(cell.row, cell.col, e.shiftKey);
        this.model.onCursorMoved?.();
        this.dirty = true;
        const move = (ev) => {
            const c = this.cellAt(ev.clientX, ev.clientY);
            const rowCount = this.model.rowCount();
            const row = Math.max(0, Math.min(rowCount - 1, c.row));
            const col = Math.max(0, Math.min(names.length - 1, c.col));
            if (row !== cursor.row || col !== cursor.col) {
                cursor.moveTo(row, col, true);
                this.ensureVisible(row, col);
                this.model.onCursorMoved?.();
                this.dirty = true;
            }
        };
        const up = () => {
            window.removeEventListener('mousemove', move);
            window.removeEventListener('mouseup', up);
        };
        window.addEventListener('mousemove', move);
        window.addEventListener('mouseup', up);
    }

    startColumnDrag(e, name, col) {
        const startX = e.clientX;
        let moved = false;
        const move = (ev) => {
            if (Math.abs(ev.clientX - startX) > 4) {
                moved = true;
            }
            if (moved) {
                const c = this.cellAt(ev.clientX, ev.clientY);
                this.drop = { name, index: Math.max(0, Math.min(this.model.layout.visible().length, Math.round((c.x - GUTTER_WIDTH + this.scroller.scrollLeft) / COLUMN_WIDTH))) };
                this.dirty = true;
            }
        };
        const up = () => {
            window.removeEventListener('mousemove', move);
            window.removeEventListener('mouseup', up);
            if (moved && this.drop) {
                const target = this.drop.index > col ? this.drop.index - 1 : this.drop.index;
                this.model.onColumnMoved?.(name, target);
            } else if (!moved) {
                this.model.cursor.moveTo(this.model.cursor.row, col, false);
                this.model.onCursorMoved?.();
            }
            this.drop = null;
            this.dirty = true;
        };
        window.addEventListener('mousemove', move);
        window.addEventListener('mouseup', up);
    }

    // The cell editor -------------------------------------------------------------------------

    editing() {
        return !this.input.hidden;
    }

    placeInput() {
        const { row, col } = this.model.cursor;
        const x = GUTTER_WIDTH + col * COLUMN_WIDTH - this.scroller.scrollLeft;
        const y = HEADER_HEIGHT + row * ROW_HEIGHT - this.scroller.scrollTop;
        Object.assign(this.input.style, { left: `${x}px`, top: `${y}px`, width: `${COLUMN_WIDTH}px`, height: `${ROW_HEIGHT}px` });
    }

    // Opens the editor on the cursor's cell. onCommit(text) returns an error message or null.
    openEditor(text, onCommit, { select = false } = {}) {
        const { row, col } = this.model.cursor;
        this.ensureVisible(row, col);
        this.placeInput();
        this.input.value = text;
        this.input.hidden = false;
        this.input.classList.remove('invalid');
        this.input.title = '';
        this.input.focus();
        if (select) {
            this.input.select();
        } else {
            this.input.setSelectionRange(text.length, text.length);
        }
        const close = () => {
            this.input.removeEventListener('keydown', key);
            this.input.removeEventListener('blur', blur);
            this.input.hidden = true;
            this.dirty = true;
        };
        const commit = () => {
            const error = onCommit(this.input.value);
            if (error) {
                this.input.classList.add('invalid');
                this.input.title = error;
                return false;
            }
            close();
            return true;
        };
        const key = (e) => {
            e.stopPropagation();
            if (e.key === 'Enter') {
                e.preventDefault();
                if (commit()) {
                    this.scroller.focus({ preventScroll: true });
                }
            } else if (e.key === 'Escape') {
                e.preventDefault();
                close();
                this.scroller.focus({ preventScroll: true });
            }
        };
        // Leaving the field keeps a valid value and drops anything else.
        const blur = () => {
            if (!this.input.hidden && !commit()) {
                close();
            }
        };
        this.input.addEventListener('keydown', key);
        this.input.addEventListener('blur', blur);
    }

    // Drawing -------------------------------------------------------------------------------

    // A track name cut to its header's width (measured once).
    fitted(ctx, name) {
        this._fitted ??= new Map();
        let text = this._fitted.get(name);
        if (text === undefined) {
            text = fitText(ctx, name, COLUMN_WIDTH - 16);
            this._fitted.set(name, text);
        }
        return text;
    }

    // What the last draw put in the cells, for tests: [{name, row, text, key, interpolation}].
    drawnCells() {
        this.recording = [];
        this.draw();
        const cells = this.recording;
        this.recording = null;
        return cells;
    }

    draw() {
        this.dirty = false;
        this.layoutSpacer();
        const ctx = this.ctx;
        const dpr = this.dpr;
        ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
        const width = this.host.clientWidth;
        const height = this.host.clientHeight;
        const viewW = this.viewWidth();
        const viewH = this.viewHeight();
        const { store, layout, cursor } = this.model;
        const names = layout.visible();
        const rowsPerBeat = this.model.rowsPerBeat;
        const rowsPerBar = rowsPerBeat * 4;
        const scrollTop = this.scroller.scrollTop;
        const scrollLeft = this.scroller.scrollLeft;
        const { first, last } = this.visibleRows();
        const firstCol = Math.max(0, Math.floor(scrollLeft / COLUMN_WIDTH));
        const lastCol = Math.min(names.length - 1, Math.floor((scrollLeft + viewW - GUTTER_WIDTH) / COLUMN_WIDTH));
        const playRow = this.model.playhead();
        const loop = this.model.loop();
        const selection = cursor.selection();
        const rowY = (row) => HEADER_HEIGHT + row * ROW_HEIGHT - scrollTop;
        const colX = (col) => GUTTER_WIDTH + col * COLUMN_WIDTH - scrollLeft;

        ctx.fillStyle = COLOURS.background;
        ctx.fillRect(0, 0, width, height);

        // Data area, clipped below the header and right of the gutter.
        ctx.save();
        ctx.beginPath();
        ctx.rect(GUTTER_WIDTH, HEADER_HEIGHT, viewW - GUTTER_WIDTH, viewH - HEADER_HEIGHT);
        ctx.clip();

        // Every other beat shaded, beat and bar lines.
        for (let row = first; row <= last; row++) {
            const y = rowY(row);
            if (Math.floor(row / rowsPerBeat) % 2 === 1) {
                ctx.fillStyle = COLOURS.beatShade;
                ctx.fillRect(GUTTER_WIDTH, y, viewW, ROW_HEIGHT);
            }
            if (row % rowsPerBeat === 0) {
                ctx.fillStyle = row % rowsPerBar === 0 ? COLOURS.barLine : COLOURS.beatLine;
                ctx.fillRect(GUTTER_WIDTH, y, viewW, row % rowsPerBar === 0 ? 2 : 1);
            }
        }

        // Playhead.
        const playY = rowY(Math.floor(playRow));
        ctx.fillStyle = COLOURS.playhead;
        ctx.fillRect(GUTTER_WIDTH, playY, viewW, ROW_HEIGHT);
        ctx.fillStyle = COLOURS.playheadLine;
        ctx.fillRect(GUTTER_WIDTH, rowY(playRow), viewW, 1);

        // Selection.
        if (selection) {
            ctx.fillStyle = COLOURS.selection;
            ctx.fillRect(colX(selection.col0), rowY(selection.row0),
                (selection.col1 - selection.col0 + 1) * COLUMN_WIDTH, (selection.row1 - selection.row0 + 1) * ROW_HEIGHT);
        }

        // Cells.
        ctx.font = FONT;
        ctx.textBaseline = 'middle';
        const record = this.recording;
        for (let col = firstCol; col <= lastCol; col++) {
            const name = names[col];
            const keys = store.keys(name);
            const x = colX(col);
            ctx.fillStyle = COLOURS.beatLine;
            ctx.fillRect(x + COLUMN_WIDTH - 1, HEADER_HEIGHT, 1, viewH);
            let k = segmentStart(keys, first);
            for (let row = first; row <= last; row++) {
                while (k + 1 < keys.length && keys[k + 1].row <= row) {
                    k++;
                }
                const y = rowY(row) + ROW_HEIGHT / 2;
                // The segment's interpolation as a bar on the left, from its key to the next.
                if (k >= 0 && k + 1 < keys.length) {
                    ctx.fillStyle = COLOURS.interpolation[keys[k].interpolation] ?? COLOURS.evaluated;
                    ctx.fillRect(x + 2, rowY(row), 3, ROW_HEIGHT);
                }
                const onKey = k >= 0 && keys[k].row === row;
                let text;
                if (onKey) {
                    const key = keys[k];
                    text = formatCell(key.value);
                    ctx.fillStyle = COLOURS.key;
                    ctx.fillText(text, x + 9, y);
                    ctx.fillStyle = COLOURS.interpolation[key.interpolation];
                    ctx.fillText(INTERPOLATION_MARKS[key.interpolation], x + COLUMN_WIDTH - 14, y);
                    if (record) {
                        record.push({ name, row, text, key: true, interpolation: key.interpolation });
                    }
                } else {
                    text = formatEvaluated(evaluate(keys, row));
                    ctx.fillStyle = COLOURS.evaluated;
                    ctx.fillText(text, x + 9, y);
                    if (record) {
                        record.push({ name, row, text, key: false });
                    }
                }
            }
        }

        // Cursor.
        if (names.length > 0) {
            ctx.strokeStyle = COLOURS.cursor;
            ctx.lineWidth = 2;
            ctx.strokeRect(colX(cursor.col) + 1, rowY(cursor.row) + 1, COLUMN_WIDTH - 2, ROW_HEIGHT - 2);
        }
        ctx.restore();

        // Gutter: row numbers, bar numbers, the loop.
        ctx.save();
        ctx.beginPath();
        ctx.rect(0, HEADER_HEIGHT, GUTTER_WIDTH, viewH - HEADER_HEIGHT);
        ctx.clip();
        ctx.fillStyle = COLOURS.gutter;
        ctx.fillRect(0, HEADER_HEIGHT, GUTTER_WIDTH, height);
        ctx.font = FONT;
        for (let row = first; row <= last; row++) {
            const y = rowY(row) + ROW_HEIGHT / 2;
            if (row % rowsPerBar === 0) {
                ctx.fillStyle = COLOURS.barText;
                ctx.fillText(String(row), 6, y);
                ctx.fillStyle = COLOURS.barLine;
                ctx.fillRect(0, rowY(row), GUTTER_WIDTH, 2);
            } else {
                ctx.fillStyle = COLOURS.gutterText;
                ctx.fillText(String(row), 6, y);
            }
            if (loop && row >= loop.from && row < loop.to) {
                ctx.fillStyle = COLOURS.loop;
                ctx.fillRect(GUTTER_WIDTH - 5, rowY(row), 4, ROW_HEIGHT);
            }
        }
        ctx.fillStyle = COLOURS.playheadLine;
        ctx.fillRect(0, playY, 3, ROW_HEIGHT);
        ctx.restore();

        // Header: names and save marks.
        ctx.save();
        ctx.beginPath();
        ctx.rect(GUTTER_WIDTH, 0, viewW - GUTTER_WIDTH, HEADER_HEIGHT);
        ctx.clip();
        ctx.fillStyle = COLOURS.header;
        ctx.fillRect(0, 0, width, HEADER_HEIGHT);
        ctx.font = HEADER_FONT;
        for (let col = firstCol; col <= lastCol; col++) {
            const name = names[col];
            const x = colX(col);
            const status = store.status(name).state;
            ctx.fillStyle = col === cursor.col ? COLOURS.cursor : COLOURS.headerText;
            ctx.fillText(this.fitted(ctx, name), x + 6, HEADER_HEIGHT / 2);
            if (status === 'failed' || status === 'saving' || status === 'unsaved' || status === 'reloading') {
                ctx.fillStyle = status === 'failed' ? COLOURS.failed : COLOURS.saving;
                ctx.beginPath();
                ctx.arc(x + COLUMN_WIDTH - 9, HEADER_HEIGHT / 2, 4, 0, Math.PI * 2);
                ctx.fill();
            }
            ctx.fillStyle = COLOURS.beatLine;
            ctx.fillRect(x + COLUMN_WIDTH - 1, 0, 1, HEADER_HEIGHT);
        }
        if (this.drop) {
            ctx.fillStyle = COLOURS.dropMarker;
            ctx.fillRect(colX(this.drop.index) - 2, 0, 4, HEADER_HEIGHT);
        }
        ctx.restore();
        ctx.fillStyle = COLOURS.header;
        ctx.fillRect(0, 0, GUTTER_WIDTH, HEADER_HEIGHT);
        ctx.fillStyle = COLOURS.gutterText;
        ctx.font = HEADER_FONT;
        ctx.fillText('row', 6, HEADER_HEIGHT / 2);
        ctx.fillStyle = COLOURS.barLine;
        ctx.fillRect(0, HEADER_HEIGHT - 1, width, 1);
    }
}

// Cuts a text to a width with an ellipsis.
function fitText(ctx, text, width) {
    if (ctx.measureText(text).width <= width) {
        return text;
    }
    let n = text.length;
    while (n > 1 && ctx.measureText(text.slice(0, n) + '…').width > width) {
        n--;
    }
    return text.slice(0, n) + '…';
}
