// Keys and their evaluation, the way the engine evaluates a track (sync/TrackData.cpp), so the
// grid's in-between values and the curve's preview while dragging match what plays.
//
// A key is {row, value, interpolation}; a track's keys are an array sorted by row, one key a row.

export const INTERPOLATIONS = Object.freeze(['constant', 'linear', 'smoothstep', 'quadratic']);

// The mark drawn beside a key's value for its interpolation.
export const INTERPOLATION_MARKS = Object.freeze({ constant: '=', linear: '/', smoothstep: '~', quadratic: '^' });

export function isInterpolation(name) {
    return INTERPOLATIONS.includes(name);
}

// constant -> linear -> smoothstep -> quadratic -> constant.
export function nextInterpolation(name) {
    const i = INTERPOLATIONS.indexOf(name);
    return INTERPOLATIONS[(i + 1) % INTERPOLATIONS.length];
}

// Index of the key on `row`, or -(insertion point) - 1 when there is none.
export function findKey(keys, row) {
    let lo = 0;
    let hi = keys.length;
    while (lo < hi) {
        const mid = (lo + hi) >>> 1;
        if (keys[mid].row < row) {
            lo = mid + 1;
        } else if (keys[mid].row > row) {
            hi = mid;
        } else {
            return mid;
        }
    }
    return -lo - 1;
}

// Index of the last key at or before `row` (the key whose segment holds the row), -1 before the
// first key.
export function segmentStart(keys, row) {
    const i = findKey(keys, Math.floor(row));
    return i >= 0 ? i : -i - 2;
}

// The value at a (fractional) row. Values are 32-bit floats, as in the engine: the difference of
// two keys is rounded to a float before it is scaled, everything else is computed in doubles.
export function evaluate(keys, row) {
    const count = keys.length;
    if (count === 0) {
        return 0;
    }
    const first = keys[0];
    const last = keys[count - 1];
    if (!(row >= first.row)) {
        return first.value;
    }
    if (row >= last.row) {
        return last.value;
    }
    return evaluateSegment(keys, segmentStart(keys, row), row);
}

// The value at `row` inside the segment that starts at key i (keys[i].row <= row < keys[i+1].row),
// for callers that walk the keys in order; before the first and after the last key the value of
// that key.
export function evaluateSegment(keys, i, row) {
    if (i < 0) {
        return keys.length ? keys[0].value : 0;
    }
    if (i + 1 >= keys.length) {
        return keys[i].value;
    }
    const k0 = keys[i];
    const k1 = keys[i + 1];
    const t = (row - k0.row) / (k1.row - k0.row);
    const d = Math.fround(k1.value - k0.value);
    switch (k0.interpolation) {
    case 'constant':
        return k0.value;
    case 'linear':
        return k0.value + t * d;
    case 'smoothstep':
        return k0.value + (3 - 2 * t) * (t * t) * d;
    case 'quadratic':
        return k0.value + Math.pow(t, 2) * d;
    default:
        return 0;
    }
}
