// The curve view of the selected tracks: the values the engine evaluates (`/values`), so the line
// is what plays, with each key as a handle that drags in value and in row (whole rows; Shift:
// beats). While a change is on its way to the engine, the page's own evaluation of the new keys is
// drawn dashed over it.

import { evaluate, findKey } from '../model/interp.js';
import { formatValue } from '../model/format.js';
import { sameKeys } from '../model/keys.js';
import { fitCanvas } from './canvas.js';

const PALETTE = ['#5fb3ff', '#ffa557', '#7bd88f', '#e66ff0', '#ffd75f', '#6ff0e0', '#ff6f8a', '#b59cff'];
const MAX_TRACKS = 8;
const PAD_TOP = 16;
const PAD_BOTTOM = 16;
const HANDLE = 4.5;

// The step for about one value a pixel: a power of two, so every row A + i*S is exact.
export function valuesStep(span, pixels) {
    const raw = span / Math.max(1, pixels);
    return Math.pow(2, Math.ceil(Math.log2(Math.max(raw, 1 / 64))));
}

export class CurveView {
    // model: {store, tracks() -> names, focusRow() -> row to keep in view, lengthRows(),
    // rowsPerBeat, playhead(), fetchValues(name, from, to, step) -> Promise<values>,
    // onMoveKey(name, fromRow, toRow, value)}
    constructor(host, model) {
        this.host = host;
        this.model = model;
        this.dirty = true;
        this.span = 128;
        this.from = 0;
        this.curves = new Map(); // name -> {revision, from, to, step, values}
        this.wanted = new Map(); // name -> request key in flight
        this.refused = new Map(); // name -> {key, at}: a failed request, not repeated for a while
        this.drag = null;
        this.hoverHandle = null;

        host.classList.add('curve');
        this.canvas = document.createElement('canvas');
        this.canvas.className = 'curve-canvas';
        this.label = document.createElement('div');
        this.label.className = 'curve-label';
        this.label.hidden = true;
        this.legend = document.createElement('div');
        this.legend.className = 'curve-legend';
        host.append(this.canvas, this.label, this.legend);
        this.ctx = this.canvas.getContext('2d', { alpha: false });
        this.canvas.addEventListener('mousedown', (e) => this.mouseDown(e));
        this.canvas.addEventListener('mousemove', (e) => this.hover(e));
        this.canvas.addEventListener('wheel', (e) => this.wheel(e), { passive: false });
        new ResizeObserver(() => this.resize()).observe(host);
        this.resize();
    }

    resize() {
        fitCanvas(this);
    }

    // Keeps the focus row inside the middle of the window, turning a page at a time.
    keepInView(row) {
        const margin = this.span * 0.1;
        if (row < this.from + margin || row > this.from + this.span - margin) {
            this.from = Math.max(0, Math.floor((row - this.span * 0.3) / 8) * 8);
            this.dirty = true;
        }
    }

    wheel(e) {
        e.preventDefault();
        if (e.shiftKey || Math.abs(e.deltaX) > Math.abs(e.deltaY)) {
            const delta = (e.shiftKey ? e.deltaY : e.deltaX) > 0 ? 1 : -1;
            this.from = Math.max(0, this.from + delta * this.span * 0.1);
        } else {
            const rect = this.canvas.getBoundingClientRect();
            const anchor = this.rowAtX(e.clientX - rect.left);
            const factor = e.deltaY > 0 ? 1.25 : 0.8;
            const length = Math.max(64, this.model.lengthRows());
            this.span = Math.max(16, Math.min(length, this.span * factor));
            this.from = Math.max(0, anchor - ((anchor - this.from) * factor));
        }
        this.dirty = true;
    }

    rowAtX(x) {
        return this.from + (x / this.width) * this.span;
    }

    xOfRow(row) {
        return ((row - this.from) / this.span) * this.width;
    }

    valueAtY(y) {
        const { lo, hi } = this.yRange;
        const h = this.height - PAD_TOP - PAD_BOTTOM;
        return hi - ((y - PAD_TOP) / h) * (hi - lo);
    }

    yOfValue(v) {
        const { lo, hi } = this.yRange;
        const h = this.height - PAD_TOP - PAD_BOTTOM;
        return PAD_TOP + ((hi - v) / (hi - lo)) * h;
    }

    names() {
        return this.model.tracks().slice(0, MAX_TRACKS);
    }

    // The keys drawn for a track: the store's, or the dragged version.
    keysOf(name) {
        if (this.drag && this.drag.name === name) {
            return this.drag.keys;
        }
        return this.model.store.keys(name);
    }

    // Asks the engine for the values of the window, once per window, step and revision.
    request(name, from, to, step) {
        const revision = this.model.store.revision(name);
        const key = `${revision}:${from}:${to}:${step}`;
        const have = this.curves.get(name);
        if ((have && have.key === key) || this.wanted.get(name) === key) {
            return;
        }
        const refused = this.refused.get(name);
        if (refused && refused.key === key && performance.now() - refused.at < 3000) {
            return;
        }
        this.wanted.set(name, key);
        this.model.fetchValues(name, from, to, step).then(
            (values) => {
                if (this.wanted.get(name) === key) {
                    this.wanted.delete(name);
                    this.curves.set(name, { key, revision, from, to, step, values });
                    this.dirty = true;
                }
            },
            () => {
                if (this.wanted.get(name) === key) {
                    this.wanted.delete(name);
                    this.refused.set(name, { key, at: performance.now() });
                }
            },
        );
    }

    // Handles under a point: {name, row, value}.
    handleAt(x, y) {
        let best = null;
        let bestDistance = HANDLE + 3;
        for (const name of this.names()) {
            for (const k of this.keysOf(name)) {
                if (k.row < this.from - 1 || k.row > this.from + this.span + 1) {
                    continue;
                }
                const d = Math.hypot(this.xOfRow(k.row) - x, this.yOfValue(k.value) - y);
                if (d < bestDistance) {
                    bestDistance = d;
                    best = { name, row: k.row, value: k.value };
                }
            }
        }
        return best;
    }

    hover(e) {
        if (this.drag || !this.yRange) {
            return;
        }
        const rect = this.canvas.getBoundingClientRect();
        const h = this.handleAt(e.clientX - rect.left, e.clientY - rect.top);
        const id = h ? `${h.name}:${h.row}` : null;
        if (id !== this.hoverHandle) {
            this.hoverHandle = id;
            this.canvas.style.cursor = h ? 'grab' : '';
            this.dirty = true;
        }
    }

    mouseDown(e) {
        if (e.button !== 0 || !this.yRange) {
            return;
        }
        const rect = this.canvas.getBoundingClientRect();
        const handle = this.handleAt(e.clientX - rect.left, e.clientY - rect.top);
        if (!handle) {
            return;
        }
        e.preventDefault();
        const keys = this.model.store.keys(handle.name);
        const i = findKey(keys, handle.row);
        const minRow = i > 0 ? keys[i - 1].row + 1 : 0;
        const maxRow = i + 1 < keys.length ? keys[i + 1].row - 1 : 2147483647;
        this.drag = {
            name: handle.name,
            fromRow: handle.row,
            row: handle.row,
            value: handle.value,
            keys,
            original: keys,
            minRow,
            maxRow,
            startX: e.clientX,
            startY: e.clientY,
            yRange: this.yRange,
        };
        this.canvas.style.cursor = 'grabbing';
        const move = (ev) => {
            const d = this.drag;
            const x = ev.clientX - rect.left;
            const y = ev.clientY - rect.top;
            let row = Math.round(this.rowAtX(x));
            if (ev.shiftKey) {
                row = Math.round(row / this.model.rowsPerBeat) * this.model.rowsPerBeat;
            }
            row = Math.max(d.minRow, Math.min(d.maxRow, row));
            // Only a clear sideways move changes the row, so a value drag keeps it.
            if (Math.abs(ev.clientX - d.startX) < 4) {
                row = d.fromRow;
            }
            const value = Math.fround(this.valueAtY(y));
            d.row = row;
            d.value = Number.isFinite(value) ? value : d.value;
            d.keys = d.original
                .filter((k) => k.row !== d.fromRow)
                .concat([{ ...d.original[findKey(d.original, d.fromRow)], row: d.row, value: d.value }])
                .sort((a, b) => a.row - b.row);
            this.showLabel(d.name, d.row, d.value, x, y);
            this.dirty = true;
        };
        const up = () => {
            window.removeEventListener('mousemove', move);
            window.removeEventListener('mouseup', up);
            const d = this.drag;
            this.drag = null;
            this.label.hidden = true;
            this.canvas.style.cursor = '';
            this.dirty = true;
            if (d && !sameKeys(d.keys, d.original)) {
                this.model.onMoveKey(d.name, d.fromRow, d.row, d.value);
            }
        };
        window.addEventListener('mousemove', move);
        window.addEventListener('mouseup', up);
        this.showLabel(handle.name, handle.row, handle.value, e.clientX - rect.left, e.clientY - rect.top);
    }

    showLabel(name, row, value, x, y) {
        this.label.hidden = false;
        this.label.textContent = `${name} · row ${row} · ${formatValue(value)}`;
        const left = Math.min(Math.max(4, x + 12), this.width - 200);
        const top = Math.max(4, y - 28);
        this.label.style.left = `${left}px`;
        this.label.style.top = `${top}px`;
    }

    // The text of the value label while dragging (for tests).
    dragLabel() {
        return this.label.hidden ? null : this.label.textContent;
    }

    draw() {
        this.dirty = false;
        const ctx = this.ctx;
        ctx.setTransform(this.dpr, 0, 0, this.dpr, 0, 0);
        const w = this.width;
        const h = this.height;
        ctx.fillStyle = '#111318';
        ctx.fillRect(0, 0, w, h);
        const names = this.names();
        const from = this.from;
        const to = this.from + this.span;
        const step = valuesStep(this.span, w);
        const a = Math.floor(from / step) * step;
        const b = Math.ceil(to / step) * step;
        for (const name of names) {
            this.request(name, a, b, step);
        }

        // The value range: everything drawn, frozen while dragging.
        if (this.drag) {
            this.yRange = this.drag.yRange;
        } else {
            let lo = Infinity;
            let hi = -Infinity;
            for (const name of names) {
                const curve = this.curves.get(name);
                if (curve) {
                    for (const v of curve.values) {
                        lo = Math.min(lo, v);
                        hi = Math.max(hi, v);
                    }
                }
                for (const k of this.keysOf(name)) {
                    if (k.row >= from && k.row <= to) {
                        lo = Math.min(lo, k.value);
                        hi = Math.max(hi, k.value);
                    }
                }
                const keys = this.keysOf(name);
                for (const r of [from, to]) {
                    const v = evaluate(keys, r);
                    lo = Math.min(lo, v);
                    hi = Math.max(hi, v);
                }
            }
            if (!Number.isFinite(lo) || !Number.isFinite(hi)) {
                lo = -1;
                hi = 1;
            }
            if (hi - lo < 1e-6) {
                lo -= 1;
                hi += 1;
            }
            const pad = (hi - lo) * 0.08;
            this.yRange = { lo: lo - pad, hi: hi + pad };
        }

        // Beats and bars.
        const beat = this.model.rowsPerBeat;
        for (let row = Math.ceil(from / beat) * beat; row <= to; row += beat) {
            const x = Math.round(this.xOfRow(row));
            ctx.fillStyle = row % (beat * 4) === 0 ? '#2f3541' : '#1e2129';
            ctx.fillRect(x, 0, 1, h);
            if (row % (beat * 4) === 0) {
                ctx.fillStyle = '#6b7385';
                ctx.font = '10px ui-monospace, "DejaVu Sans Mono", monospace';
                ctx.textBaseline = 'top';
                ctx.fillText(String(row), x + 3, 2);
            }
        }
        // Zero line and the range.
        const { lo, hi } = this.yRange;
        if (lo < 0 && hi > 0) {
            ctx.fillStyle = '#2f3541';
            ctx.fillRect(0, Math.round(this.yOfValue(0)), w, 1);
        }
        ctx.fillStyle = '#6b7385';
        ctx.font = '10px ui-monospace, "DejaVu Sans Mono", monospace';
        ctx.textBaseline = 'top';
        ctx.fillText(formatValue(Math.fround(hi)), w - 70, 14);
        ctx.textBaseline = 'bottom';
        ctx.fillText(formatValue(Math.fround(lo)), w - 70, h - 2);

        names.forEach((name, n) => {
            const colour = PALETTE[n % PALETTE.length];
            const curve = this.curves.get(name);
            const keys = this.keysOf(name);
            // The engine's values.
            if (curve) {
                ctx.strokeStyle = colour;
                ctx.lineWidth = 1.5;
                ctx.setLineDash([]);
                ctx.beginPath();
                curve.values.forEach((v, i) => {
                    const x = this.xOfRow(curve.from + i * curve.step);
                    const y = this.yOfValue(v);
                    if (i === 0) {
                        ctx.moveTo(x, y);
                    } else {
                        ctx.lineTo(x, y);
                    }
                });
                ctx.stroke();
            }
            // The page's preview where the engine has not got the keys yet.
            const saved = !this.drag || this.drag.name !== name;
            const status = this.model.store.status(name).state;
            if (!saved || status !== 'saved' || !curve || curve.revision !== this.model.store.revision(name)) {
                ctx.strokeStyle = colour;
                ctx.globalAlpha = 0.8;
                ctx.setLineDash([4, 3]);
                ctx.lineWidth = 1;
                ctx.beginPath();
                for (let px = 0; px <= w; px += 2) {
                    const y = this.yOfValue(evaluate(keys, this.rowAtX(px)));
                    if (px === 0) {
                        ctx.moveTo(px, y);
                    } else {
                        ctx.lineTo(px, y);
                    }
                }
                ctx.stroke();
                ctx.setLineDash([]);
                ctx.globalAlpha = 1;
            }
            // Handles.
            for (const k of keys) {
                if (k.row < from - 1 || k.row > to + 1) {
                    continue;
                }
                const x = this.xOfRow(k.row);
                const y = this.yOfValue(k.value);
                const hot = this.hoverHandle === `${name}:${k.row}` || (this.drag && this.drag.name === name && this.drag.row === k.row);
                ctx.fillStyle = hot ? '#ffffff' : colour;
                ctx.strokeStyle = '#111318';
                ctx.lineWidth = 1.5;
                ctx.beginPath();
                ctx.arc(x, y, hot ? HANDLE + 1.5 : HANDLE, 0, Math.PI * 2);
                ctx.fill();
                ctx.stroke();
            }
        });

        // Playhead.
        const px = this.xOfRow(this.model.playhead());
        if (px >= 0 && px <= w) {
            ctx.fillStyle = '#ffc440';
            ctx.fillRect(Math.round(px), 0, 1, h);
        }

        const legend = names.map((n, i) => `<span style="color:${PALETTE[i % PALETTE.length]}">${escapeHtml(n)}</span>`).join(' ');
        if (legend !== this._legend) {
            this._legend = legend;
            this.legend.innerHTML = legend;
        }
    }

    // Where a key's handle is drawn, in page coordinates (for tests and the benchmark).
    handlePosition(name, row) {
        const keys = this.keysOf(name);
        const i = findKey(keys, row);
        if (i < 0 || !this.yRange) {
            return null;
        }
        const rect = this.canvas.getBoundingClientRect();
        return { x: rect.left + this.xOfRow(row), y: rect.top + this.yOfValue(keys[i].value) };
    }
}

function escapeHtml(text) {
    return text.replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);
}
