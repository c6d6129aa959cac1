// Numbers, rows and times as the author reads and types them.

const FLOAT_MAX = 3.4028234663852886e38;

// The shortest decimal that reads back as the same 32-bit float: -58.284 rather than
// -58.28400039672852.
export function formatValue(value) {
    if (!Number.isFinite(value)) {
        return String(value);
    }
    const f = Math.fround(value);
    for (let digits = 1; digits <= 9; digits++) {
        const text = String(Number(f.toPrecision(digits)));
        if (Math.fround(Number(text)) === f) {
            return text;
        }
    }
    return String(f);
}

// A value in at most `width` characters, for a grid cell: exact where it fits, else rounded.
export function formatCell(value, width = 9) {
    const exact = formatValue(value);
    if (exact.length <= width) {
        return exact;
    }
    for (let digits = 6; digits >= 1; digits--) {
        let text = String(Number(value.toPrecision(digits)));
        if (text.length > width) {
            text = value.toExponential(Math.max(0, digits - 3)).replace('e+', 'e');
        }
        if (text.length <= width) {
            return text;
        }
    }
    return value.toExponential(0);
}

// A value between keys: rounded to 3 decimals where sensible, for the faint in-between text.
export function formatEvaluated(value, width = 9) {
    if (Math.abs(value) >= 1e-3 && Math.abs(value) < 1e6) {
        const text = String(Number(value.toFixed(3)));
        if (text.length <= width) {
            return text === '-0' ? '0' : text;
        }
    }
    return formatCell(value, width);
}

// What the author typed as a key value: a finite number that fits a 32-bit float.
// Returns {ok: true, value} (value rounded to the float the engine will store) or {ok: false, error}.
export function parseValue(text) {
    const trimmed = String(text).trim();
    if (trimmed === '') {
        return { ok: false, error: 'type a number' };
    }
    if (!/^[-+]?(\d+\.?\d*|\.\d+)(e[-+]?\d+)?$/i.test(trimmed)) {
        return { ok: false, error: `"${trimmed}" is not a number` };
    }
    const number = Number(trimmed);
    if (!Number.isFinite(number) || Math.abs(number) > FLOAT_MAX) {
        return { ok: false, error: `${trimmed} is too large for a track value` };
    }
    const value = Math.fround(number);
    if (!Number.isFinite(value)) {
        return { ok: false, error: `${trimmed} is too large for a track value` };
    }
    return { ok: true, value: Object.is(value, -0) ? 0 : value };
}

// Where the author typed to go: a row ("1000", fractions allowed) or a time ("1:23.5", minutes
// and seconds). The row, clamped by the caller, or null.
export function parseRow(text, rowsPerSecond = 24) {
    const trimmed = String(text).trim();
    if (/^[-+]?(\d+\.?\d*|\.\d+)$/.test(trimmed)) {
        return Number(trimmed);
    }
    const time = trimmed.match(/^(\d+):([0-5]?\d(\.\d*)?)$/);
    if (time) {
        return (Number(time[1]) * 60 + Number(time[2])) * rowsPerSecond;
    }
    return null;
}

// m:ss.mmm
export function formatTime(seconds) {
    const s = Math.max(0, seconds);
    const minutes = Math.floor(s / 60);
    const rest = s - minutes * 60;
    const whole = Math.floor(rest);
    const millis = Math.min(999, Math.floor((rest - whole) * 1000));
    return `${minutes}:${String(whole).padStart(2, '0')}.${String(millis).padStart(3, '0')}`;
}

// bar.beat, both counted from 1, for a row (rowsPerBeat rows a beat, 4 beats a bar).
export function formatBarBeat(row, rowsPerBeat = 8) {
    const beat = Math.floor(Math.max(0, row) / rowsPerBeat);
    return `${Math.floor(beat / 4) + 1}.${(beat % 4) + 1}`;
}
