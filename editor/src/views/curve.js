// The curve view of the selected tracks, each in a lane of its own with its own value scale (its
// range labelled), drawn from the values the engine evaluates (`/values`), so each line is what
// plays. Each key is a handle that drags in value (snapped to the chosen precision; Ctrl: free)
// and in row (whole rows; Shift: beats); the lane's range grows while a handle is dragged past it.
// A double-click adds a key. While a change is on its way to the engine, the page's own evaluation
// of the new keys is drawn dashed over it.

import { evaluate, findKey } from '../model/interp.js';
import { formatValue } from '../model/format.js';
import { sameKeys } from '../model/keys.js';
import { autoStep, growRange, paddedRange, snapValue } from '../model/scale.js';
import { fitCanvas } from './canvas.js';
import { CURVE as COLOURS } from './palette.js';

const MAX_TRACKS = 8;
const PAD_TOP = 14;
const PAD_BOTTOM = 4;
const LANE_GAP = 4;
const HANDLE = 4.5;
const LABEL_FONT = '10px ui-monospace, "DejaVu Sans Mono", monospace';

// The step for about one value a pixel: a power of two, so every row A + i*S is exact.
export function valuesStep(span, pixels) {
    const raw = span / Math.max(1, pixels);
    return Math.pow(2, Math.ceil(Math.log2(Math.max(raw, 1 / 64))));
}

export class CurveView {
    // model: {store, tracks() -> names, lengthRows(), rowsPerBeat, playhead(),
    // fetchValues(name, from, to, step) -> Promise<values>, onMoveKey(name, fromRow, toRow, value),
    // onAddKey(name, row, value), precision() -> step or 0 for automatic}
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
        this.lanes = [];

        host.classList.add('curve');
        this.canvas = document.createElement('canvas');
        this.canvas.className = 'curve-canvas';
        this.canvas.id = 'curves';
        this.canvas.tabIndex = 0;
        this.canvas.setAttribute('role', 'application');
        this.canvas.setAttribute('aria-roledescription', 'curves');
        this.canvas.setAttribute('aria-label', 'Curves of the selected tracks: left and right scroll, + and - zoom; drag a key with the mouse, double-click to add one');
        this.label = document.createElement('div');
        this.label.className = 'curve-label';
        this.label.hidden = true;
        this.legend = document.createElement('div');
        this.legend.className = 'curve-legend';
        host.append(this.canvas, this.label, this.legend);
        this.ctx = this.canvas.getContext('2d', { alpha: false });
        this.canvas.addEventListener('mousedown', (e) => this.mouseDown(e));
        this.canvas.addEventListener('mousemove', (e) => this.hover(e));
        this.canvas.addEventListener('dblclick', (e) => this.doubleClick(e));
        this.canvas.addEventListener('wheel', (e) => this.wheel(e), { passive: false });
        this.canvas.addEventListener('keydown', (e) => this.keyDown(e));
        this.canvas.addEventListener('focus', () => {
            this.dirty = true;
        });
        this.canvas.addEventListener('blur', () => {
            this.dirty = true;
        });
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

    zoom(factor, anchor) {
        const length = Math.max(64, this.model.lengthRows());
        const span = Math.max(16, Math.min(length, this.span * factor));
        this.from = Math.max(0, anchor - (anchor - this.from) * (span / this.span));
        this.span = span;
        this.dirty = true;
    }

    scrollBy(fraction) {
        this.from = Math.max(0, this.from + fraction * this.span);
        this.dirty = true;
    }

    wheel(e) {
        e.preventDefault();
        if (e.shiftKey || Math.abs(e.deltaX) > Math.abs(e.deltaY)) {
            this.scrollBy(((e.shiftKey ? e.deltaY : e.deltaX) > 0 ? 1 : -1) * 0.1);
        } else {
            const rect = this.canvas.getBoundingClientRect();
            this.zoom(e.deltaY > 0 ? 1.25 : 0.8, this.rowAtX(e.clientX - rect.left));
        }
    }

    keyDown(e) {
        if (e.altKey || e.ctrlKey || e.metaKey) {
            return;
        }
        switch (e.key) {
        case 'ArrowLeft':
            this.scrollBy(-0.1);
            break;
        case 'ArrowRight':
            this.scrollBy(0.1);
            break;
        case '+':
        case '=':
            this.zoom(0.8, this.from + this.span / 2);
            break;
        case '-':
            this.zoom(1.25, this.from + this.span / 2);
            break;
        default:
            return;
        }
        e.preventDefault();
        e.stopPropagation();
    }

    rowAtX(x) {
        return this.from + (x / this.width) * this.span;
    }

    xOfRow(row) {
        return ((row - this.from) / this.span) * this.width;
    }

    // The lanes, top to bottom: {name, top, height, range}.
    laneAt(y) {
        return this.lanes.find((l) => y >= l.top - LANE_GAP / 2 && y < l.top + l.height + LANE_GAP / 2) ?? null;
    }

    valueAtY(y, lane, range = lane.range) {
        return range.hi - ((y - lane.top) / lane.height) * (range.hi - range.lo);
    }

    yOfValue(v, lane, range = lane.range) {
        return lane.top + ((range.hi - v) / (range.hi - range.lo)) * lane.height;
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

    // The precision a value snaps to in a lane: the chosen one, or automatic from its range.
    step(lane) {
        const chosen = this.model.precision?.() ?? 0;
        return chosen > 0 ? chosen : autoStep(lane.range);
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

    // The handle under a point: {name, row, value}.
    handleAt(x, y) {
        let best = null;
        let bestDistance = HANDLE + 3;
        for (const lane of this.lanes) {
            for (const k of this.keysOf(lane.name)) {
                if (k.row < this.from - 1 || k.row > this.from + this.span + 1) {
                    continue;
                }
                const d = Math.hypot(this.xOfRow(k.row) - x, this.yOfValue(k.value, lane) - y);
                if (d < bestDistance) {
                    bestDistance = d;
                    best = { name: lane.name, row: k.row, value: k.value };
                }
            }
        }
        return best;
    }

    hover(e) {
        if (this.drag) {
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

    // Adds a key where the author double-clicked: the row under the pointer, the lane's value
    // there (snapped like a drag).
    doubleClick(e) {
        const rect = this.canvas.getBoundingClientRect();
        const x = e.clientX - rect.left;
        const y = e.clientY - rect.top;
        const lane = this.laneAt(y);
        if (!lane || this.handleAt(x, y)) {
            return;
        }
        e.preventDefault();
        const row = Math.max(0, Math.round(this.rowAtX(x)));
        const raw = this.valueAtY(y, lane);
        const value = e.ctrlKey || e.metaKey ? Math.fround(raw) : snapValue(raw, this.step(lane));
        if (Number.isFinite(value)) {
            this.model.onAddKey?.(lane.name, row, value);
        }
    }

    mouseDown(e) {
        if (e.button !== 0 || e.detail > 1) {
            return;
        }
        this.canvas.focus({ preventScroll: true });
        const rect = this.canvas.getBoundingClientRect();
        const handle = this.handleAt(e.clientX - rect.left, e.clientY - rect.top);
        if (!handle) {
            return;
        }
        e.preventDefault();
        const lane = this.lanes.find((l) => l.name === handle.name);
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
            lane: { ...lane },
            range: lane.range,
            step: this.step(lane),
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
            // The pointer's value on the scale the drag began with, so it keeps its meaning past
            // the lane's edge while the drawn range grows to show it.
            const raw = this.valueAtY(y, d.lane, d.range);
            const value = ev.ctrlKey || ev.metaKey ? Math.fround(raw) : snapValue(raw, d.step);
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

    // Each lane's range: what its curve and keys reach in the window; while dragging, the range
    // the drag began with, grown to the dragged value.
    laneRange(name, from, to) {
        if (this.drag && this.drag.name === name) {
            return growRange(this.drag.range, this.drag.value);
        }
        let lo = Infinity;
        let hi = -Infinity;
        const curve = this.curves.get(name);
        if (curve) {
            for (const v of curve.values) {
                if (v < lo) {
                    lo = v;
                }
                if (v > hi) {
                    hi = v;
                }
            }
        }
        const keys = this.keysOf(name);
        for (const k of keys) {
            if (k.row >= from && k.row <= to) {
                lo = Math.min(lo, k.value);
                hi = Math.max(hi, k.value);
            }
        }
        for (const r of [from, to]) {
            const v = evaluate(keys, r);
            lo = Math.min(lo, v);
            hi = Math.max(hi, v);
        }
        return paddedRange(lo, hi);
    }

    draw() {
        this.dirty = false;
        const ctx = this.ctx;
        ctx.setTransform(this.dpr, 0, 0, this.dpr, 0, 0);
        const w = this.width;
        const h = this.height;
        ctx.fillStyle = COLOURS.background;
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

        // One lane a track.
        const n = Math.max(1, names.length);
        const laneH = Math.max(8, (h - PAD_TOP - PAD_BOTTOM - LANE_GAP * (n - 1)) / n);
        this.lanes = names.map((name, i) => ({
            name,
            top: PAD_TOP + i * (laneH + LANE_GAP),
            height: laneH,
            range: this.laneRange(name, from, to),
            colour: COLOURS.tracks[i % COLOURS.tracks.length],
        }));
        for (const lane of this.lanes) {
            ctx.fillStyle = COLOURS.lane;
            ctx.fillRect(0, lane.top, w, lane.height);
        }

        // Beats and bars.
        const beat = this.model.rowsPerBeat;
        ctx.font = LABEL_FONT;
        ctx.textBaseline = 'top';
        for (let row = Math.ceil(from / beat) * beat; row <= to; row += beat) {
            const x = Math.round(this.xOfRow(row));
            const isBar = row % (beat * 4) === 0;
            ctx.fillStyle = isBar ? COLOURS.bar : COLOURS.beat;
            ctx.fillRect(x, PAD_TOP, 1, h - PAD_TOP);
            if (isBar) {
                ctx.fillStyle = COLOURS.label;
                ctx.fillText(String(row / (beat * 4) + 1), x + 3, 2);
            }
        }

        for (const lane of this.lanes) {
            this.drawLane(lane, from, to);
        }

        // Playhead.
        const px = this.xOfRow(this.model.playhead());
        if (px >= 0 && px <= w) {
            ctx.fillStyle = COLOURS.playhead;
            ctx.fillRect(Math.round(px), 0, 1, h);
        }
        if (document.activeElement === this.canvas) {
            ctx.strokeStyle = COLOURS.tracks[0];
            ctx.lineWidth = 2;
            ctx.strokeRect(1, 1, w - 2, h - 2);
        }
        this.updateLegend();
    }

    drawLane(lane, from, to) {
        const ctx = this.ctx;
        const w = this.width;
        const { name, colour, range } = lane;
        const curve = this.curves.get(name);
        const keys = this.keysOf(name);
        ctx.save();
        ctx.beginPath();
        ctx.rect(0, lane.top - HANDLE - 2, w, lane.height + 2 * HANDLE + 4);
        ctx.clip();
        if (range.lo < 0 && range.hi > 0) {
            ctx.fillStyle = COLOURS.laneLine;
            ctx.fillRect(0, Math.round(this.yOfValue(0, lane)), w, 1);
        }
        // The engine's values.
        if (curve) {
            ctx.strokeStyle = colour;
            ctx.lineWidth = 1.5;
            ctx.setLineDash([]);
            ctx.beginPath();
            curve.values.forEach((v, i) => {
                const x = this.xOfRow(curve.from + i * curve.step);
                const y = this.yOfValue(v, lane);
                if (i === 0) {
                    ctx.moveTo(x, y);
                } else {
                    ctx.lineTo(x, y);
                }
            });
            ctx.stroke();
        }
        // The page's preview where the engine has not got the keys yet.
        const dragging = this.drag && this.drag.name === name;
        const status = this.model.store.status(name).state;
        if (dragging || status !== 'saved' || !curve || curve.revision !== this.model.store.revision(name)) {
            ctx.strokeStyle = colour;
            ctx.globalAlpha = 0.8;
            ctx.setLineDash([4, 3]);
            ctx.lineWidth = 1;
            ctx.beginPath();
            for (let px = 0; px <= w; px += 2) {
                const y = this.yOfValue(evaluate(keys, this.rowAtX(px)), lane);
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
            const y = this.yOfValue(k.value, lane);
            const hot = this.hoverHandle === `${name}:${k.row}` || (dragging && this.drag.row === k.row);
            ctx.fillStyle = hot ? COLOURS.hot : colour;
            ctx.strokeStyle = COLOURS.handleEdge;
            ctx.lineWidth = 1.5;
            ctx.beginPath();
            ctx.arc(x, y, hot ? HANDLE + 1.5 : HANDLE, 0, Math.PI * 2);
            ctx.fill();
            ctx.stroke();
        }
        ctx.restore();
    }

    // Each lane's name and range, as text over the lane's left edge.
    updateLegend() {
        const text = this.lanes.map((l) => `${l.name}|${this.rangeText(l.range)}|${l.top}|${l.colour}`).join(';');
        if (text === this._legend) {
            return;
        }
        this._legend = text;
        this.legend.replaceChildren(
            ...this.lanes.map((lane) => {
                const div = document.createElement('div');
                div.className = 'lane-label';
                div.dataset.track = lane.name;
                div.style.top = `${lane.top}px`;
                const name = document.createElement('span');
                name.className = 'lane-name';
                name.style.color = lane.colour;
                name.textContent = lane.name;
                const range = document.createElement('span');
                range.className = 'lane-range';
                range.textContent = this.rangeText(lane.range);
                div.append(name, ' ', range);
                return div;
            }),
        );
    }

    rangeText(range) {
        const step = autoStep(range) / 10;
        return `${formatValue(snapValue(range.lo, step))} to ${formatValue(snapValue(range.hi, step))}`;
    }

    // The range a lane shows now, {lo, hi}, or null (for tests).
    laneRangeOf(name) {
        return this.lanes.find((l) => l.name === name)?.range ?? null;
    }

    // Where a key's handle is drawn, in page coordinates (for tests and the benchmark).
    handlePosition(name, row) {
        const keys = this.keysOf(name);
        const i = findKey(keys, row);
        const lane = this.lanes.find((l) => l.name === name);
        if (i < 0 || !lane) {
            return null;
        }
        const rect = this.canvas.getBoundingClientRect();
        return { x: rect.left + this.xOfRow(row), y: rect.top + this.yOfValue(keys[i].value, lane) };
    }

    // A point of a lane at a row and value, in page coordinates (for tests).
    pointOf(name, row, value) {
        const lane = this.lanes.find((l) => l.name === name);
        if (!lane) {
            return null;
        }
        const rect = this.canvas.getBoundingClientRect();
        return { x: rect.left + this.xOfRow(row), y: rect.top + this.yOfValue(value, lane) };
    }
}
