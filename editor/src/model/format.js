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

// Where the author typed to go, as a row of the show:
//   "608" or "row 608"        a row ("r 12.5": fractions only with the word)
//   "20.1", "20.1.3", "b20"   bar.beat (and the row within the beat), all counted from 1
//   "1:23.5", "83.5s"         minutes:seconds, or seconds
// {ok: true, row} (clamped by the caller) or {ok: false, error} saying what is accepted.
export function parseGoTo(text, { rowsPerSecond = 24, rowsPerBeat = 8 } = {}) {
    const t = String(text).trim().toLowerCase();
    const accepted = 'type a row (608), bar.beat (20.1) or a time (1:23.5)';
    let m;
    if (/^\d+$/.test(t)) {
        return { ok: true, row: Number(t) };
    }
    if ((m = t.match(/^r(?:ow)?\s*(\d+\.?\d*|\.\d+)$/))) {
        return { ok: true, row: Number(m[1]) };
    }
    if ((m = t.match(/^(?:b(?:ar)?\s*)?(\d+)(?:\.(\d+)(?:\.(\d+))?)?$/)) && (t.startsWith('b') || m[2] !== undefined)) {
        const bar = Number(m[1]);
        const beat = m[2] === undefined ? 1 : Number(m[2]);
        const step = m[3] === undefined ? 1 : Number(m[3]);
        if (bar < 1) {
            return { ok: false, error: `bars are counted from 1: ${accepted}` };
        }
        if (beat < 1 || beat > BEATS_PER_BAR) {
            return { ok: false, error: `a bar has beats 1 to ${BEATS_PER_BAR}, not ${beat}: ${accepted}` };
        }
        if (step < 1 || step > rowsPerBeat) {
            return { ok: false, error: `a beat has rows 1 to ${rowsPerBeat}, not ${step}` };
        }
        return { ok: true, row: ((bar - 1) * BEATS_PER_BAR + beat - 1) * rowsPerBeat + step - 1 };
    }
    if ((m = t.match(/^(\d+):([0-5]?\d(?:\.\d*)?)$/))) {
        return { ok: true, row: (Number(m[1]) * 60 + Number(m[2])) * rowsPerSecond };
    }
    if ((m = t.match(/^(\d+\.?\d*|\.\d+)\s*s$/))) {
        return { ok: true, row: Number(m[1]) * rowsPerSecond };
    }
    return { ok: false, error: t === '' ? accepted : `"${String(text).trim()}" is not a place in the show: ${accepted}` };
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

export const BEATS_PER_BAR = 4;

// bar.beat, both counted from 1, for a row (rowsPerBeat rows a beat, 4 beats a bar).
export function formatBarBeat(row, rowsPerBeat = 8) {
    const beat = Math.floor(Math.max(0, row) / rowsPerBeat);
    return `${Math.floor(beat / BEATS_PER_BAR) + 1}.${(beat % BEATS_PER_BAR) + 1}`;
}

// A row as the author says it: "bar 28" on a bar line, "bar 28.3" on a beat, else
// "row 901 (bar 28.3)".
export function formatPlace(row, rowsPerBeat = 8) {
    const barBeat = formatBarBeat(row, rowsPerBeat);
    if (row % (rowsPerBeat * BEATS_PER_BAR) === 0) {
        return `bar ${barBeat.split('.')[0]}`;
    }
    if (row % rowsPerBeat === 0) {
        return `bar ${barBeat}`;
    }
    return `row ${row} (bar ${barBeat})`;
}

// Rows from..to (inclusive) as the author says them: "bars 20–21 (rows 608–671)" when they are
// whole bars, else "rows 600–650 (bar 19.4 to 21.2)".
export function formatRows(from, to, rowsPerBeat = 8) {
    const bar = rowsPerBeat * BEATS_PER_BAR;
    if (from % bar === 0 && (to + 1) % bar === 0) {
        const b0 = from / bar + 1;
        const b1 = (to + 1) / bar;
        return `${b0 === b1 ? `bar ${b0}` : `bars ${b0}–${b1}`} (rows ${from}–${to})`;
    }
    return `rows ${from}–${to} (bar ${formatBarBeat(from, rowsPerBeat)} to ${formatBarBeat(to, rowsPerBeat)})`;
}
