// The tracker grid: one column per visible track, one line per row, drawn on a canvas under a
// transparent scrolling layer (native scroll bars and wheel). Only the visible rows and columns
// are drawn, so it costs the same at row 0 and row 4,000.
//
// Drawing text is what costs: each row's cells of one colour go out as one string, spaced to their
// columns in the monospaced font, so a full redraw makes a few hundred canvas calls rather than
// thousands; and a row's text, once drawn, is kept as a bitmap until the keys, the columns or the
// horizontal scroll change, so redrawing for a moved cursor or playhead, or a row or two scrolled
// in while following the playback, draws the text of the new rows only. The interpolation bars go
// out as one rectangle per visible segment.

import { evaluateSegment, segmentStart, INTERPOLATION_MARKS, INTERPOLATIONS } from '../model/interp.js';
import { formatCell, formatEvaluated } from '../model/format.js';
import { fitCanvas } from './canvas.js';
import { GRID as COLOURS } from './palette.js';

export const ROW_HEIGHT = 15;
const HEADER_HEIGHT = 28;
const GUTTER_WIDTH = 80;
const COLUMN_WIDTH = 92;
const MAX_AUTO_WIDTH = 150;
const TEXT_PAD = 8;
const RESIZE_GRIP = 5;
const FONT = '12px ui-monospace, "DejaVu Sans Mono", monospace';
const HEADER_FONT = '11px system-ui, "DejaVu Sans", sans-serif';
const SPACES = ' '.repeat(4096);
// Rows whose text is made into bitmaps in one draw; the others are drawn directly that time, so a
// jump to a new place costs no more than drawing it.
const NEW_ROW_BITMAPS = 4;

export class GridView {
    // host: the element to fill. model: {store, layout, cursor, rowCount(), playhead(), loop(),
    // rowsPerBeat, brokenTracks() -> Map name -> error, onCursorMoved(), onUserScroll(),
    // onColumnMoved(name, index), onColumnResized(name, width), onGutterClick(row)}.
    constructor(host, model) {
        this.host = host;
        this.model = model;
        this.dirty = true;
        this.recording = null;
        this.geometry = null;

        host.classList.add('grid');
        this.canvas = document.createElement('canvas');
        this.canvas.className = 'grid-canvas';
        this.canvas.setAttribute('aria-hidden', 'true');
        this.scroller = document.createElement('div');
        this.scroller.className = 'grid-scroll';
        this.scroller.id = 'grid';
        this.scroller.tabIndex = 0;
        this.scroller.setAttribute('role', 'application');
        this.scroller.setAttribute('aria-roledescription', 'track grid');
        this.scroller.setAttribute('aria-label', 'Tracks, one column each, one line a row: arrows move, a number and Enter sets a key, ? lists every key');
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
        this.ctx.font = FONT;
        this.advance = this.ctx.measureText('0'.repeat(100)).width / 100;
        this.rowBitmaps = new Map();

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

    get headerHeight() {
        return HEADER_HEIGHT;
    }

    viewWidth() {
        return this.scroller.clientWidth;
    }

    viewHeight() {
        return this.scroller.clientHeight;
    }

    // A column's width: the author's, else wide enough for the track's name.
    columnWidth(name) {
        const set = this.model.layout.width(name);
        if (set !== null) {
            return set;
        }
        this._auto ??= new Map();
        let width = this._auto.get(name);
        if (width === undefined) {
            this.ctx.font = HEADER_FONT;
            width = Math.min(MAX_AUTO_WIDTH, Math.max(COLUMN_WIDTH, Math.ceil(this.ctx.measureText(name).width) + 30));
            this._auto.set(name, width);
        }
        return width;
    }

    // The visible columns' names, left edges (from the first column's) and widths; rebuilt when
    // the layout changes.
    columns() {
        const names = this.model.layout.visible();
        const key = names.map((n) => `${n}:${this.model.layout.width(n) ?? ''}`).join(',');
        if (!this.geometry || this.geometry.key !== key) {
            const x = new Float64Array(names.length + 1);
            const widths = names.map((n) => this.columnWidth(n));
            for (let i = 0; i < names.length; i++) {
                x[i + 1] = x[i] + widths[i];
            }
            this.geometry = { key, names, x, widths, total: x[names.length] };
        }
        return this.geometry;
    }

    layoutSpacer() {
        const width = GUTTER_WIDTH + this.columns().total;
        const height = HEADER_HEIGHT + this.model.rowCount() * ROW_HEIGHT;
        if (this._spacerSize !== `${width}x${height}`) {
            this._spacerSize = `${width}x${height}`;
            this.spacer.style.width = `${width}px`;
            this.spacer.style.height = `${height}px`;
        }
    }

    resize() {
        fitCanvas(this);
        this.textSignature = null;
    }

    // First and last visible rows (the last may be partly visible).
    visibleRows() {
        const top = this.scroller.scrollTop;
        const first = Math.max(0, Math.floor(top / ROW_HEIGHT));
        const last = Math.min(this.model.rowCount() - 1, Math.floor((top + this.viewHeight() - HEADER_HEIGHT) / ROW_HEIGHT));
        return { first, last };
    }

    // The column at a content x (from the first column's left edge), -1 past either end.
    columnAt(x) {
        const { x: edges, names } = this.columns();
        if (x < 0 || x >= edges[names.length]) {
            return -1;
        }
        let lo = 0;
        let hi = names.length - 1;
        while (lo < hi) {
            const mid = (lo + hi + 1) >> 1;
            if (edges[mid] <= x) {
                lo = mid;
            } else {
                hi = mid - 1;
            }
        }
        return lo;
    }

    // The cell under a point of the scroller ({row, col, header, x, y, edge}); col -1 in the
    // gutter or past the last column; edge: the column whose right edge is under the point.
    cellAt(clientX, clientY) {
        const rect = this.scroller.getBoundingClientRect();
        const x = clientX - rect.left;
        const y = clientY - rect.top;
        const header = y < HEADER_HEIGHT;
        const content = x - GUTTER_WIDTH + this.scroller.scrollLeft;
        const col = x < GUTTER_WIDTH ? -1 : this.columnAt(content);
        const row = Math.floor((y - HEADER_HEIGHT + this.scroller.scrollTop) / ROW_HEIGHT);
        let edge = -1;
        if (header && x >= GUTTER_WIDTH) {
            const g = this.columns();
            for (const c of [col, col - 1, g.names.length - 1]) {
                if (c >= 0 && Math.abs(content - g.x[c + 1]) <= RESIZE_GRIP) {
                    edge = c;
                    break;
                }
            }
        }
        return { row, col, header, x, y, edge };
    }

    // A cell's rectangle in page coordinates (row -1: the header).
    cellRect(row, col) {
        const rect = this.scroller.getBoundingClientRect();
        const g = this.columns();
        const y = row < 0 ? 0 : HEADER_HEIGHT + row * ROW_HEIGHT - this.scroller.scrollTop;
        return {
            x: rect.left + GUTTER_WIDTH + g.x[col] - this.scroller.scrollLeft,
            y: rect.top + y,
            width: g.widths[col],
            height: row < 0 ? HEADER_HEIGHT : ROW_HEIGHT,
        };
    }

    // The middle of the row numbers beside a row, in page coordinates.
    gutterPoint(row) {
        const rect = this.scroller.getBoundingClientRect();
        return { x: rect.left + GUTTER_WIDTH / 2, y: rect.top + HEADER_HEIGHT + (row + 0.5) * ROW_HEIGHT - this.scroller.scrollTop };
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
        const g = this.columns();
        if (col >= 0 && col < g.names.length) {
            const left = g.x[col];
            const width = g.widths[col];
            const dataWidth = this.viewWidth() - GUTTER_WIDTH;
            if (left < s.scrollLeft) {
                s.scrollLeft = left;
            } else if (left + width > s.scrollLeft + dataWidth) {
                s.scrollLeft = left + width - dataWidth;
            }
        }
        this.dirty = true;
    }

    // Whether a row is wholly in view.
    rowInView(row) {
        const top = row * ROW_HEIGHT;
        return top >= this.scroller.scrollTop && top + ROW_HEIGHT <= this.scroller.scrollTop + this.viewHeight() - HEADER_HEIGHT;
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
        const target = Math.max(0, Math.round(row * ROW_HEIGHT - dataHeight * 0.35));
        if (Math.abs(this.scroller.scrollTop - target) >= 0.5) {
            this.scroller.scrollTop = target;
        }
        this.dirty = true;
    }

    // Mouse ------------------------------------------------------------------------------------

    // The header's tooltip: the track's name in full and what it does.
    headerTitle(name) {
        const description = this.model.store.description(name);
        const broken = this.model.brokenTracks?.().get(name);
        const lines = [description ? `${name}: ${description}` : name];
        if (broken) {
            lines.push(`Not editable until ${broken.file}${broken.line > 0 ? ` line ${broken.line}` : ''} is fixed: ${broken.message}`);
        }
        lines.push('Drag to move the column, drag its right edge to resize it.');
        return lines.join('\n');
    }

    hover(e) {
        const cell = this.cellAt(e.clientX, e.clientY);
        const names = this.columns().names;
        const name = cell.col >= 0 ? names[cell.col] : undefined;
        let title = '';
        if (cell.header && name) {
            title = this.headerTitle(name);
        } else if (!cell.header && cell.x < GUTTER_WIDTH) {
            title = 'Click: the playhead and the cursor go to this row';
        }
        if (this.scroller.title !== title) {
            this.scroller.title = title;
        }
        const resize = cell.edge >= 0 ? 'col-resize' : '';
        if (this.scroller.style.cursor !== resize) {
            this.scroller.style.cursor = resize;
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
        const names = this.columns().names;
        if (cell.edge >= 0) {
            e.preventDefault();
            this.startColumnResize(e, names[cell.edge], cell.edge);
            return;
        }
        if (cell.col < 0 || cell.col >= names.length) {
            if (!cell.header && cell.x < GUTTER_WIDTH && cell.row >= 0 && cell.row < this.model.rowCount()) {
                e.preventDefault();
                this.scroller.focus({ preventScroll: true });
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
            const col = c.col < 0 ? (c.x < GUTTER_WIDTH ? 0 : names.length - 1) : c.col;
            if (row !== cursor.row || col !== cursor.col) {
                cursor.moveTo(row, col, true);
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

    startColumnResize(e, name, col) {
        const startX = e.clientX;
        const startWidth = this.columns().widths[col];
        this.resizing = { name, width: startWidth };
        const move = (ev) => {
            this.resizing.width = Math.max(48, Math.min(480, startWidth + ev.clientX - startX));
            this.model.onColumnResized?.(name, this.resizing.width, false);
            this.dirty = true;
        };
        const up = () => {
            window.removeEventListener('mousemove', move);
            window.removeEventListener('mouseup', up);
            this.model.onColumnResized?.(name, this.resizing.width, true);
            this.resizing = null;
            this.dirty = true;
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
                const g = this.columns();
                const content = c.x - GUTTER_WIDTH + this.scroller.scrollLeft;
                let index = g.names.length;
                for (let i = 0; i < g.names.length; i++) {
                    if (content < g.x[i] + g.widths[i] / 2) {
                        index = i;
                        break;
                    }
                }
                this.drop = { name, index };
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
        const g = this.columns();
        const x = GUTTER_WIDTH + g.x[col] - this.scroller.scrollLeft;
        const y = HEADER_HEIGHT + row * ROW_HEIGHT - this.scroller.scrollTop;
        Object.assign(this.input.style, { left: `${x}px`, top: `${y}px`, width: `${Math.max(g.widths[col], 80)}px`, height: `${ROW_HEIGHT + 2}px` });
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
        this.input.setAttribute('aria-label', `Key value for ${this.columns().names[col]} at row ${row}`);
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

    // A track name cut to a width (measured once per name and width).
    fitted(ctx, name, width) {
        this._fitted ??= new Map();
        const key = `${width}:${name}`;
        let text = this._fitted.get(key);
        if (text === undefined) {
            text = fitText(ctx, name, width);
            this._fitted.set(key, text);
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
        const width = this.width;
        const height = this.height;
        const viewW = this.viewWidth();
        const viewH = this.viewHeight();
        const { store, cursor } = this.model;
        const g = this.columns();
        const names = g.names;
        const rowsPerBeat = this.model.rowsPerBeat;
        const rowsPerBar = rowsPerBeat * 4;
        const scrollTop = this.scroller.scrollTop;
        const scrollLeft = this.scroller.scrollLeft;
        const { first, last } = this.visibleRows();
        const firstCol = Math.max(0, this.columnAt(scrollLeft));
        let lastCol = this.columnAt(scrollLeft + viewW - GUTTER_WIDTH);
        if (lastCol < 0) {
            lastCol = names.length - 1;
        }
        const playRow = this.model.playhead();
        const loop = this.model.loop();
        const selection = cursor.selection();
        const broken = this.model.brokenTracks?.() ?? new Map();
        const rowY = (row) => HEADER_HEIGHT + row * ROW_HEIGHT - scrollTop;
        const colX = (col) => GUTTER_WIDTH + g.x[col] - scrollLeft;

        ctx.fillStyle = COLOURS.background;
        ctx.fillRect(0, 0, width, height);

        // Data area, clipped below the header and right of the gutter.
        ctx.save();
        ctx.beginPath();
        ctx.rect(GUTTER_WIDTH, HEADER_HEIGHT, viewW - GUTTER_WIDTH, viewH - HEADER_HEIGHT);
        ctx.clip();

        // Every other beat shaded; beat and bar lines.
        ctx.fillStyle = COLOURS.beatShade;
        for (let beat = Math.floor(first / rowsPerBeat); beat * rowsPerBeat <= last; beat++) {
            if (beat % 2 === 1) {
                ctx.fillRect(GUTTER_WIDTH, rowY(beat * rowsPerBeat), viewW, rowsPerBeat * ROW_HEIGHT);
            }
        }
        for (let row = Math.ceil(first / rowsPerBeat) * rowsPerBeat; row <= last; row += rowsPerBeat) {
            const bar = row % rowsPerBar === 0;
            ctx.fillStyle = bar ? COLOURS.barLine : COLOURS.beatLine;
            ctx.fillRect(GUTTER_WIDTH, rowY(row), viewW, bar ? 2 : 1);
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
            const x0 = colX(selection.col0);
            ctx.fillRect(x0, rowY(selection.row0), colX(selection.col1) + g.widths[selection.col1] - x0,
                (selection.row1 - selection.row0 + 1) * ROW_HEIGHT);
        }

        // Column lines and the interpolation bars, one rectangle per segment.
        ctx.fillStyle = COLOURS.beatLine;
        for (let col = firstCol; col <= lastCol; col++) {
            ctx.fillRect(colX(col) + g.widths[col] - 1, HEADER_HEIGHT, 1, viewH);
        }
        for (const interpolation of INTERPOLATIONS) {
            ctx.fillStyle = COLOURS.interpolation[interpolation];
            for (let col = firstCol; col <= lastCol; col++) {
                const keys = store.keys(names[col]);
                for (let k = Math.max(0, segmentStart(keys, first)); k + 1 < keys.length && keys[k].row <= last; k++) {
                    if (keys[k].interpolation === interpolation) {
                        const r0 = Math.max(first, keys[k].row);
                        const r1 = Math.min(last, keys[k + 1].row - 1);
                        ctx.fillRect(colX(col) + 2, rowY(r0), 3, (r1 - r0 + 1) * ROW_HEIGHT);
                    }
                }
            }
        }

        // Cells.
        this.drawCells(first, last, firstCol, lastCol);

        // Cursor.
        if (names.length > 0) {
            ctx.strokeStyle = COLOURS.cursor;
            ctx.lineWidth = 2;
            ctx.strokeRect(colX(cursor.col) + 1, rowY(cursor.row) + 1, g.widths[cursor.col] - 2, ROW_HEIGHT - 2);
        }
        ctx.restore();

        this.drawGutter(first, last, rowsPerBeat, loop, playY);
        this.drawHeader(firstCol, lastCol, broken);
    }

    // The text of the cells of rows first..last: from each row's bitmap when it has one that is
    // still right, else drawn (and, a few rows a draw, kept as a bitmap). While recording for the
    // tests, everything is drawn afresh.
    drawCells(first, last, firstCol, lastCol) {
        const ctx = this.ctx;
        const g = this.columns();
        const record = this.recording;
        const scrollLeft = this.scroller.scrollLeft;
        const scrollTop = this.scroller.scrollTop;
        const dataW = Math.max(1, this.viewWidth() - GUTTER_WIDTH);
        const signature = `${this.model.store.version}|${g.key}|${scrollLeft}|${dataW}|${this.dpr}|${firstCol}|${lastCol}`;
        if (this.textSignature !== signature) {
            this.dropRowBitmaps();
            this.textSignature = signature;
        }
        const rowY = (row) => HEADER_HEIGHT + row * ROW_HEIGHT - scrollTop;
        const origin = firstCol < g.names.length ? g.x[firstCol] - scrollLeft + TEXT_PAD : 0;
        const cache = this.rowBitmaps;
        const missing = [];
        for (let row = first; row <= last; row++) {
            const bitmap = record ? null : cache.get(row);
            if (bitmap) {
                ctx.drawImage(bitmap, GUTTER_WIDTH, Math.round(rowY(row)), dataW, ROW_HEIGHT);
            } else {
                missing.push(row);
            }
        }
        if (missing.length === 0) {
            this.lastRows = { first, last };
            return;
        }
        // Rows that were in view at the last draw too (staying, so worth keeping) into bitmaps, a
        // few a draw; the rest straight onto the canvas. Those first, in `missing`'s order.
        const seen = this.lastRows ?? { first: 1, last: 0 };
        this.lastRows = { first, last };
        const stays = (row) => row >= seen.first && row <= seen.last;
        if (!record) {
            missing.sort((a, b) => Number(stays(b)) - Number(stays(a)));
        }
        const lines = this.rowTexts(missing, firstCol, lastCol, origin, record);
        const eligible = missing.filter(stays).length;
        const keep = record || typeof OffscreenCanvas !== 'function' ? 0 : Math.min(NEW_ROW_BITMAPS, eligible);
        if (keep > 0) {
            const dpr = this.dpr;
            this.rowCanvas ??= new OffscreenCanvas(1, 1);
            const w = Math.ceil(dataW * dpr);
            const h = Math.ceil(ROW_HEIGHT * dpr);
            if (this.rowCanvas.width !== w || this.rowCanvas.height !== h) {
                this.rowCanvas.width = w;
                this.rowCanvas.height = h;
            }
            const octx = this.rowCanvas.getContext('2d');
            for (let i = 0; i < keep; i++) {
                octx.setTransform(dpr, 0, 0, dpr, 0, 0);
                octx.font = FONT;
                octx.textBaseline = 'middle';
                octx.textAlign = 'left';
                this.fillRowText(octx, lines, i, origin, ROW_HEIGHT / 2);
                const bitmap = this.rowCanvas.transferToImageBitmap();
                cache.set(missing[i], bitmap);
                ctx.drawImage(bitmap, GUTTER_WIDTH, Math.round(rowY(missing[i])), dataW, ROW_HEIGHT);
            }
        }
        if (keep < missing.length) {
            ctx.font = FONT;
            ctx.textBaseline = 'middle';
            ctx.textAlign = 'left';
            for (const [colour, texts] of lines) {
                ctx.fillStyle = colour;
                for (let i = keep; i < missing.length; i++) {
                    if (texts[i] !== '') {
                        ctx.fillText(texts[i], GUTTER_WIDTH + origin, rowY(missing[i]) + ROW_HEIGHT / 2);
                    }
                }
            }
        }
        // Bitmaps of rows far out of view go.
        if (cache.size > 3 * (last - first + 1)) {
            for (const [row, bitmap] of cache) {
                if (row < first - (last - first) || row > last + (last - first)) {
                    bitmap.close();
                    cache.delete(row);
                }
            }
        }
    }

    dropRowBitmaps() {
        for (const bitmap of this.rowBitmaps?.values() ?? []) {
            bitmap.close();
        }
        this.rowBitmaps = new Map();
    }

    fillRowText(ctx, lines, i, x, y) {
        for (const [colour, texts] of lines) {
            if (texts[i] !== '') {
                ctx.fillStyle = colour;
                ctx.fillText(texts[i], x, y);
            }
        }
    }

    // The cells of some rows as text: [[colour, [one string per row]], ...] with each cell spaced
    // to its column in the monospaced font (from `origin`, the first visible column's text).
    rowTexts(rows, firstCol, lastCol, origin, record) {
        const { store } = this.model;
        const g = this.columns();
        const scrollLeft = this.scroller.scrollLeft;
        const adv = this.advance;
        const n = rows.length;
        const keyText = new Array(n).fill('');
        const valueText = new Array(n).fill('');
        const markText = Object.fromEntries(INTERPOLATIONS.map((i) => [i, new Array(n).fill('')]));
        const append = (line, at, text) => {
            const pad = at - line.length;
            return pad > 0 ? line + SPACES.slice(0, pad) + text : line + text;
        };
        for (let col = firstCol; col <= lastCol; col++) {
            const name = g.names[col];
            const keys = store.keys(name);
            const left = g.x[col] - scrollLeft;
            const at = Math.round((left + TEXT_PAD - origin) / adv);
            const chars = Math.max(3, Math.floor((g.widths[col] - TEXT_PAD - 16) / adv));
            const markAt = Math.round((left + g.widths[col] - 14 - origin) / adv);
            let k = segmentStart(keys, rows[0]);
            for (let i = 0; i < n; i++) {
                const row = rows[i];
                if (i > 0 && row !== rows[i - 1] + 1) {
                    k = segmentStart(keys, row);
                }
                while (k + 1 < keys.length && keys[k + 1].row <= row) {
                    k++;
                }
                if (k >= 0 && keys[k].row === row) {
                    const key = keys[k];
                    const text = formatCell(key.value, chars);
                    keyText[i] = append(keyText[i], at, text);
                    markText[key.interpolation][i] = append(markText[key.interpolation][i], markAt, INTERPOLATION_MARKS[key.interpolation]);
                    if (record) {
                        record.push({ name, row, text, key: true, interpolation: key.interpolation });
                    }
                } else {
                    const text = keys.length ? formatEvaluated(evaluateSegment(keys, k, row), chars) : '0';
                    valueText[i] = append(valueText[i], at, text);
                    if (record) {
                        record.push({ name, row, text, key: false });
                    }
                }
            }
        }
        const lines = [[COLOURS.evaluated, valueText], [COLOURS.key, keyText]];
        for (const interpolation of INTERPOLATIONS) {
            lines.push([COLOURS.interpolation[interpolation], markText[interpolation]]);
        }
        return lines;
    }

    // Row numbers on the right, bar numbers at bar lines and beats on the left, the loop.
    drawGutter(first, last, rowsPerBeat, loop, playY) {
        const ctx = this.ctx;
        const viewH = this.viewHeight();
        const rowsPerBar = rowsPerBeat * 4;
        const scrollTop = this.scroller.scrollTop;
        const rowY = (row) => HEADER_HEIGHT + row * ROW_HEIGHT - scrollTop;
        ctx.save();
        ctx.beginPath();
        ctx.rect(0, HEADER_HEIGHT, GUTTER_WIDTH, viewH - HEADER_HEIGHT);
        ctx.clip();
        ctx.fillStyle = COLOURS.gutter;
        ctx.fillRect(0, HEADER_HEIGHT, GUTTER_WIDTH, this.height);
        ctx.font = FONT;
        ctx.textBaseline = 'middle';
        ctx.textAlign = 'right';
        ctx.fillStyle = COLOURS.gutterText;
        for (let row = first; row <= last; row++) {
            ctx.fillText(String(row), GUTTER_WIDTH - 8, rowY(row) + ROW_HEIGHT / 2);
        }
        ctx.textAlign = 'left';
        for (let row = Math.ceil(first / rowsPerBeat) * rowsPerBeat; row <= last; row += rowsPerBeat) {
            const y = rowY(row);
            if (row % rowsPerBar === 0) {
                ctx.fillStyle = COLOURS.barLine;
                ctx.fillRect(0, y, GUTTER_WIDTH, 2);
                ctx.fillStyle = COLOURS.barText;
                ctx.fillText(String(row / rowsPerBar + 1), 6, y + ROW_HEIGHT / 2);
            } else {
                ctx.fillStyle = COLOURS.gutterText;
                ctx.fillText(`.${(row / rowsPerBeat) % 4 + 1}`, 10, y + ROW_HEIGHT / 2);
            }
        }
        if (loop) {
            ctx.fillStyle = COLOURS.loop;
            const r0 = Math.max(first, loop.from);
            const r1 = Math.min(last + 1, Math.ceil(loop.to));
            if (r1 > r0) {
                ctx.fillRect(GUTTER_WIDTH - 4, rowY(r0), 3, (r1 - r0) * ROW_HEIGHT);
            }
        }
        ctx.fillStyle = COLOURS.playheadLine;
        ctx.fillRect(0, playY, 3, ROW_HEIGHT);
        ctx.restore();
    }

    // Track names, their save marks and broken sources.
    drawHeader(firstCol, lastCol, broken) {
        const ctx = this.ctx;
        const g = this.columns();
        const { store, cursor } = this.model;
        const viewW = this.viewWidth();
        const colX = (col) => GUTTER_WIDTH + g.x[col] - this.scroller.scrollLeft;
        ctx.save();
        ctx.beginPath();
        ctx.rect(GUTTER_WIDTH, 0, viewW - GUTTER_WIDTH, HEADER_HEIGHT);
        ctx.clip();
        ctx.fillStyle = COLOURS.header;
        ctx.fillRect(0, 0, this.width, HEADER_HEIGHT);
        ctx.font = HEADER_FONT;
        ctx.textBaseline = 'middle';
        ctx.textAlign = 'left';
        for (let col = firstCol; col <= lastCol; col++) {
            const name = g.names[col];
            const x = colX(col);
            const w = g.widths[col];
            const status = store.status(name).state;
            const isBroken = broken.has(name) || status === 'blocked';
            ctx.fillStyle = isBroken ? COLOURS.failed : col === cursor.col ? COLOURS.cursor : COLOURS.headerText;
            ctx.fillText(this.fitted(ctx, isBroken ? `! ${name}` : name, w - 22), x + 6, HEADER_HEIGHT / 2);
            if (status !== 'saved') {
                ctx.fillStyle = status === 'failed' || status === 'blocked' ? COLOURS.failed : COLOURS.saving;
                ctx.beginPath();
                ctx.arc(x + w - 9, HEADER_HEIGHT / 2, 4, 0, Math.PI * 2);
                ctx.fill();
            }
            ctx.fillStyle = COLOURS.beatLine;
            ctx.fillRect(x + w - 1, 0, 1, HEADER_HEIGHT);
        }
        if (this.drop) {
            ctx.fillStyle = COLOURS.dropMarker;
            const edge = this.drop.index < g.names.length ? g.x[this.drop.index] : g.total;
            ctx.fillRect(GUTTER_WIDTH + edge - this.scroller.scrollLeft - 2, 0, 4, HEADER_HEIGHT);
        }
        ctx.restore();
        ctx.fillStyle = COLOURS.header;
        ctx.fillRect(0, 0, GUTTER_WIDTH, HEADER_HEIGHT);
        ctx.fillStyle = COLOURS.gutterText;
        ctx.font = HEADER_FONT;
        ctx.textBaseline = 'middle';
        ctx.fillText('bar', 6, HEADER_HEIGHT / 2);
        ctx.textAlign = 'right';
        ctx.fillText('row', GUTTER_WIDTH - 8, HEADER_HEIGHT / 2);
        ctx.textAlign = 'left';
        ctx.fillStyle = COLOURS.barLine;
        ctx.fillRect(0, HEADER_HEIGHT - 1, this.width, 1);
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
