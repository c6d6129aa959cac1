// The timeline strip: the whole show's waveform, bar numbers, the loop range and the playhead.
// A click seeks; a drag sets the loop (snapped to beats; Shift: to rows), labelled with what it
// will loop while dragging. It is a slider for the keyboard: arrows step a beat (Shift: a bar),
// Page Up/Down eight bars, Home/End the ends.

import { formatBarBeat, formatRows, formatTime } from '../model/format.js';
import { fitCanvas } from './canvas.js';
import { TIMELINE as COLOURS } from './palette.js';

export class TimelineView {
    // model: {lengthRows(), rowsPerBeat, rowsPerSecond, playhead(), loop(), waveform(),
    // visibleRows(), onSeek(row), onLoop({from, to})}
    constructor(host, model) {
        this.host = host;
        this.model = model;
        this.dirty = true;
        this.dragLoop = null;
        this.canvas = document.createElement('canvas');
        this.canvas.className = 'timeline-canvas';
        this.canvas.id = 'timeline-slider';
        this.canvas.tabIndex = 0;
        this.canvas.setAttribute('role', 'slider');
        this.canvas.setAttribute('aria-label', 'Playhead: arrows step a beat, Shift+arrows a bar; click to go there, drag to loop');
        this.canvas.setAttribute('aria-valuemin', '0');
        this.label = document.createElement('div');
        this.label.className = 'timeline-label';
        this.label.hidden = true;
        host.append(this.canvas, this.label);
        this.ctx = this.canvas.getContext('2d', { alpha: false });
        this.canvas.addEventListener('mousedown', (e) => this.mouseDown(e));
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

    // The slider's value for assistive technology, kept in step with the playhead.
    updateAria(row) {
        const length = this.model.lengthRows();
        const now = Math.floor(row);
        if (now === this._ariaRow && length === this._ariaLength) {
            return;
        }
        this._ariaRow = now;
        this._ariaLength = length;
        this.canvas.setAttribute('aria-valuemax', String(length));
        this.canvas.setAttribute('aria-valuenow', String(now));
        this.canvas.setAttribute('aria-valuetext',
            `bar ${formatBarBeat(now, this.model.rowsPerBeat)}, row ${now}, ${formatTime(now / (this.model.rowsPerSecond || 24))}`);
    }

    keyDown(e) {
        if (e.altKey || e.ctrlKey || e.metaKey || !this.model.lengthRows()) {
            return;
        }
        const beat = this.model.rowsPerBeat;
        const bar = beat * 4;
        const row = Math.floor(this.model.playhead());
        const onBeat = (r, step) => (step > 0 ? Math.floor(r / step) * step + step : Math.ceil(r / step) * step - step);
        let target = null;
        switch (e.key) {
        case 'ArrowRight':
        case 'ArrowUp':
            target = onBeat(row, e.shiftKey ? bar : beat);
            break;
        case 'ArrowLeft':
        case 'ArrowDown':
            target = onBeat(row, -(e.shiftKey ? bar : beat));
            break;
        case 'PageUp':
            target = row + 8 * bar;
            break;
        case 'PageDown':
            target = row - 8 * bar;
            break;
        case 'Home':
            target = 0;
            break;
        case 'End':
            target = this.model.lengthRows();
            break;
        default:
            return;
        }
        e.preventDefault();
        this.model.onSeek(Math.max(0, Math.min(this.model.lengthRows(), target)));
    }

    resize() {
        fitCanvas(this);
    }

    rowAtX(x) {
        const length = this.model.lengthRows();
        return Math.max(0, Math.min(length, (x / this.width) * length));
    }

    xOfRow(row) {
        const length = this.model.lengthRows() || 1;
        return (row / length) * this.width;
    }

    mouseDown(e) {
        if (e.button !== 0 || !this.model.lengthRows()) {
            return;
        }
        e.preventDefault();
        this.canvas.focus({ preventScroll: true });
        const rect = this.canvas.getBoundingClientRect();
        const startX = e.clientX - rect.left;
        let dragging = false;
        const snap = (row, shift) => {
            if (shift) {
                return Math.round(row);
            }
            const beat = this.model.rowsPerBeat;
            return Math.round(row / beat) * beat;
        };
        const move = (ev) => {
            const x = ev.clientX - rect.left;
            if (!dragging && Math.abs(x - startX) > 4) {
                dragging = true;
            }
            if (dragging) {
                const a = snap(this.rowAtX(startX), ev.shiftKey);
                const b = snap(this.rowAtX(x), ev.shiftKey);
                this.dragLoop = { from: Math.min(a, b), to: Math.max(a, b) };
                this.showLabel(this.dragLoop, x);
                this.dirty = true;
            }
        };
        const up = (ev) => {
            window.removeEventListener('mousemove', move);
            window.removeEventListener('mouseup', up);
            if (dragging) {
                const loop = this.dragLoop;
                this.dragLoop = null;
                this.label.hidden = true;
                this.dirty = true;
                if (loop && loop.to > loop.from) {
                    this.model.onLoop(loop);
                }
            } else {
                this.model.onSeek(Math.round(this.rowAtX(ev.clientX - rect.left)));
            }
        };
        window.addEventListener('mousemove', move);
        window.addEventListener('mouseup', up);
    }

    // What a drag will loop, beside the pointer.
    showLabel(loop, x) {
        this.label.hidden = false;
        this.label.textContent = loop.to > loop.from
            ? `loop ${formatRows(loop.from, loop.to - 1, this.model.rowsPerBeat)}`
            : 'drag further to loop';
        this.label.style.left = `${Math.max(0, Math.min(this.width - 260, x + 10))}px`;
    }

    // The label shown while dragging (for tests), or null.
    dragLabel() {
        return this.label.hidden ? null : this.label.textContent;
    }

    // The waveform and the bars, drawn once per size and waveform.
    staticLayer(length, labelH) {
        const wave = this.model.waveform();
        const key = `${this.width}x${this.height}x${this.dpr}x${length}`;
        if (this.layer && this.layerKey === key && this.layerWave === wave) {
            return this.layer;
        }
        this.layerKey = key;
        this.layerWave = wave;
        const canvas = this.layer ?? document.createElement('canvas');
        canvas.width = this.canvas.width;
        canvas.height = this.canvas.height;
        this.layer = canvas;
        const ctx = canvas.getContext('2d');
        ctx.setTransform(this.dpr, 0, 0, this.dpr, 0, 0);
        const w = this.width;
        const h = this.height;
        const waveTop = labelH;
        const waveH = h - labelH;
        const mid = waveTop + waveH / 2;
        ctx.clearRect(0, 0, w, h);

        // Waveform: per pixel column, the extremes of the buckets under it.
        if (wave && wave.min.length) {
            ctx.fillStyle = COLOURS.wave;
            const perBucket = wave.rowsPerBucket;
            for (let px = 0; px < w; px++) {
                const b0 = Math.floor((px / w) * length / perBucket);
                const b1 = Math.max(b0 + 1, Math.floor(((px + 1) / w) * length / perBucket));
                let lo = 0;
                let hi = 0;
                for (let b = b0; b < b1 && b < wave.min.length; b++) {
                    lo = Math.min(lo, wave.min[b]);
                    hi = Math.max(hi, wave.max[b]);
                }
                const top = mid - hi * (waveH / 2);
                const bottom = mid - lo * (waveH / 2);
                ctx.fillRect(px, top, 1, Math.max(1, bottom - top));
            }
        }

        // Bars: a tick on each, a number where there is room.
        const rowsPerBar = this.model.rowsPerBeat * 4;
        const bars = Math.ceil(length / rowsPerBar);
        const pxPerBar = w / (length / rowsPerBar);
        let every = 1;
        while (every * pxPerBar < 28) {
            every *= 2;
        }
        ctx.font = '10px ui-monospace, "DejaVu Sans Mono", monospace';
        ctx.textBaseline = 'top';
        for (let bar = 0; bar <= bars; bar += every) {
            const x = Math.round(this.xOfRow(bar * rowsPerBar));
            ctx.fillStyle = COLOURS.tick;
            ctx.fillRect(x, 0, 1, bar % (every * 4) === 0 ? h : labelH);
            ctx.fillStyle = COLOURS.label;
            ctx.fillText(String(bar + 1), x + 2, 2);
        }
        return canvas;
    }

    draw() {
        this.dirty = false;
        const ctx = this.ctx;
        ctx.setTransform(this.dpr, 0, 0, this.dpr, 0, 0);
        const w = this.width;
        const h = this.height;
        const length = this.model.lengthRows();
        ctx.fillStyle = COLOURS.background;
        ctx.fillRect(0, 0, w, h);
        const playRow = this.model.playhead();
        this.updateAria(playRow);
        if (!length) {
            return;
        }
        const labelH = 14;
        const waveTop = labelH;
        const waveH = h - labelH;

        // The rows the grid shows.
        const visible = this.model.visibleRows();
        if (visible) {
            ctx.fillStyle = COLOURS.visible;
            const x0 = this.xOfRow(visible.first);
            ctx.fillRect(x0, waveTop, Math.max(2, this.xOfRow(visible.last + 1) - x0), waveH);
        }

        ctx.drawImage(this.staticLayer(length, labelH), 0, 0, w, h);

        // Loop (the one being dragged over the engine's).
        const loop = this.dragLoop ?? this.model.loop();
        if (loop) {
            const x0 = this.xOfRow(loop.from);
            const x1 = this.xOfRow(loop.to);
            ctx.fillStyle = COLOURS.loopFill;
            ctx.fillRect(x0, 0, x1 - x0, h);
            ctx.fillStyle = COLOURS.loopEdge;
            ctx.fillRect(x0, 0, 2, h);
            ctx.fillRect(x1 - 2, 0, 2, h);
        }

        // Playhead.
        const x = this.xOfRow(playRow);
        ctx.fillStyle = COLOURS.playhead;
        ctx.fillRect(Math.round(x) - 1, 0, 2, h);
        if (document.activeElement === this.canvas) {
            ctx.strokeStyle = COLOURS.focus;
            ctx.lineWidth = 2;
            ctx.strokeRect(1, 1, w - 2, h - 2);
        }
    }
}
