// Editing a track's keys. Every function here takes a sorted key array and returns a new one (or
// the same array when nothing changes); none of them touches the original.

import { findKey, segmentStart, nextInterpolation, isInterpolation } from './interp.js';
import { formatValue } from './format.js';

export const MAX_ROW = 2147483647;

function sameKey(a, b) {
    return a.row === b.row && Object.is(a.value, b.value) && a.interpolation === b.interpolation;
}

export function sameKeys(a, b) {
    if (a === b) {
        return true;
    }
    if (a.length !== b.length) {
        return false;
    }
    for (let i = 0; i < a.length; i++) {
        if (!sameKey(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

// Keys as they come from the engine, checked: sorted copies with known interpolations and values
// rounded to the floats the engine holds.
export function normaliseKeys(keys) {
    if (!Array.isArray(keys)) {
        throw new Error('keys must be an array');
    }
    const out = keys.map((k) => {
        if (!k || !Number.isInteger(k.row) || typeof k.value !== 'number' || !isInterpolation(k.interpolation)) {
            throw new Error(`malformed key ${JSON.stringify(k)}`);
        }
        // Values are 32-bit floats in the engine (the JSON carries their shortest decimal).
        return { row: k.row, value: Math.fround(k.value), interpolation: k.interpolation };
    });
    out.sort((a, b) => a.row - b.row);
    return out;
}

// Sets the key on `row` to `value`. A new key takes the interpolation of the key before it
// (the segment it splits keeps its character), or `fallback` when there is none; an existing key
// keeps its own.
export function setKeyValue(keys, row, value, fallback = 'linear') {
    const i = findKey(keys, row);
    if (i >= 0) {
        if (Object.is(keys[i].value, value)) {
            return keys;
        }
        const out = keys.slice();
        out[i] = { ...keys[i], value };
        return out;
    }
    const at = -i - 1;
    const interpolation = at > 0 ? keys[at - 1].interpolation : fallback;
    const out = keys.slice();
    out.splice(at, 0, { row, value, interpolation });
    return out;
}

// Puts `key` in place, replacing whatever is on its row.
export function putKey(keys, key) {
    const i = findKey(keys, key.row);
    const out = keys.slice();
    if (i >= 0) {
        if (sameKey(keys[i], key)) {
            return keys;
        }
        out[i] = { ...key };
    } else {
        out.splice(-i - 1, 0, { ...key });
    }
    return out;
}

// Removes the keys on rows from..to (inclusive).
export function removeRows(keys, from, to) {
    const out = keys.filter((k) => k.row < from || k.row > to);
    return out.length === keys.length ? keys : out;
}

export function keysInRows(keys, from, to) {
    return keys.filter((k) => k.row >= from && k.row <= to);
}

// The key whose interpolation `i` changes at `row`: the key on the row, else the one whose segment
// holds it. -1 when the row is before every key.
export function interpolationKeyIndex(keys, row) {
    return segmentStart(keys, row);
}

// Cycles the interpolation of the key at or above `row`.
export function cycleInterpolation(keys, row) {
    const i = interpolationKeyIndex(keys, row);
    if (i < 0) {
        return keys;
    }
    const out = keys.slice();
    out[i] = { ...keys[i], interpolation: nextInterpolation(keys[i].interpolation) };
    return out;
}

// Sets every key on rows from..to to one interpolation.
export function setInterpolationInRows(keys, from, to, interpolation) {
    let changed = false;
    const out = keys.map((k) => {
        if (k.row >= from && k.row <= to && k.interpolation !== interpolation) {
            changed = true;
            return { ...k, interpolation };
        }
        return k;
    });
    return changed ? out : keys;
}

// Moves the key on `fromRow` to `toRow` with `value` (a drag in the curve view). A key already on
// `toRow` is replaced.
export function moveKey(keys, fromRow, toRow, value) {
    const i = findKey(keys, fromRow);
    if (i < 0) {
        return keys;
    }
    const key = { ...keys[i], row: toRow, value };
    const without = keys.slice();
    without.splice(i, 1);
    return putKey(without, key);
}

// The per-row difference between two versions of a track: [{row, before, after}], where before
// and after are keys or null. Applying `after`s to the old keys gives the new ones, `before`s the
// other way round.
export function diffKeys(before, after) {
    const changes = [];
    let i = 0;
    let j = 0;
    while (i < before.length || j < after.length) {
        const a = before[i];
        const b = after[j];
        if (b === undefined || (a !== undefined && a.row < b.row)) {
            changes.push({ row: a.row, before: a, after: null });
            i++;
        } else if (a === undefined || b.row < a.row) {
            changes.push({ row: b.row, before: null, after: b });
            j++;
        } else {
            if (!sameKey(a, b)) {
                changes.push({ row: a.row, before: a, after: b });
            }
            i++;
            j++;
        }
    }
    return changes;
}

// Applies row changes (from diffKeys) to keys: each row gets the change's `side` ('before' for
// undo, 'after' for redo), whatever else has happened to the track meanwhile.
export function applyChanges(keys, changes, side) {
    let out = keys;
    for (const change of changes) {
        const key = change[side];
        if (key) {
            out = putKey(out, key);
        } else {
            out = removeRows(out, change.row, change.row);
        }
    }
    return out;
}

// A block of keys copied from consecutive columns: rows are relative to the block's first row.
// {rows, columns: [[{row, value, interpolation}], ...], names: [track, ...], clear}
// `clear`: pasting it also empties the rows of the columns that hold no keys (a block copied
// from empty cells to wipe them); otherwise such columns are left as they are.
export function copyBlock(keysOfColumns, from, to, names = [], clear = false) {
    return {
        rows: to - from + 1,
        columns: keysOfColumns.map((keys) => keysInRows(keys, from, to).map((k) => ({ ...k, row: k.row - from }))),
        names: names.slice(),
        clear,
    };
}

export function blockKeyCount(block) {
    return block.columns.reduce((n, c) => n + c.length, 0);
}

// The keys of one column after pasting one column of a block at `row`. A column with keys
// replaces the block's rows with exactly what was copied; an empty one changes nothing unless
// the block says to clear.
export function pasteColumn(keys, column, rows, row, clear = false) {
    if (column.length === 0 && !clear) {
        return keys;
    }
    let out = removeRows(keys, row, row + rows - 1);
    for (const k of column) {
        if (k.row + row <= MAX_ROW) {
            out = putKey(out, { ...k, row: k.row + row });
        }
    }
    return sameKeys(out, keys) ? keys : out;
}

// A block as text, so it goes through the system clipboard to another page or a text editor
// and back:
//
//   velmora-keys ROWS COLUMNS [clear]
//   tracks NAME NAME ...              (where they came from; informative)
//   COLUMN ROW VALUE INTERPOLATION    (one line a key; column and row counted from 0 in the block)
//
// Fields are separated by tabs or spaces; "#" starts a comment.
export function blockToText(block) {
    const lines = [`velmora-keys\t${block.rows}\t${block.columns.length}${block.clear ? '\tclear' : ''}`];
    if (block.names && block.names.length === block.columns.length) {
        lines.push(['tracks', ...block.names].join('\t'));
    }
    block.columns.forEach((column, c) => {
        for (const k of column) {
            lines.push(`${c}\t${k.row}\t${formatValue(k.value)}\t${k.interpolation}`);
        }
    });
    return lines.join('\n') + '\n';
}

const NAME = /^[A-Za-z_][A-Za-z0-9_]{0,63}$/;

// The block from its text form (as blockToText writes it, or typed in a text editor), or
// {error} saying what is wrong with it: null when the text is not meant as a block at all.
export function blockFromText(text) {
    const lines = String(text)
        .split(/\r?\n|\r/)
        .map((l) => l.replace(/#.*/, '').trim())
        .filter((l) => l !== '');
    const head = lines.length ? lines[0].split(/\s+/) : [];
    if (head[0] !== 'velmora-keys') {
        return null;
    }
    const bad = (why) => ({ error: `the keys on the clipboard cannot be pasted: ${why}` });
    const rows = Number(head[1]);
    const width = Number(head[2]);
    if (head.length < 3 || head.length > 4 || (head.length === 4 && head[3] !== 'clear')) {
        return bad('the first line must be "velmora-keys ROWS COLUMNS", optionally followed by "clear"');
    }
    if (!Number.isInteger(rows) || rows < 1 || rows > MAX_ROW || !Number.isInteger(width) || width < 1 || width > 1000) {
        return bad(`"${lines[0]}" does not give a number of rows (1 or more) and of columns (1 to 1000)`);
    }
    const columns = Array.from({ length: width }, () => []);
    let names = [];
    for (const [n, line] of lines.slice(1).entries()) {
        const fields = line.split(/\s+/);
        if (fields[0] === 'tracks') {
            names = fields.slice(1);
            if (names.length !== width || !names.every((x) => NAME.test(x))) {
                return bad(`"${line}" does not name ${width} track(s)`);
            }
            continue;
        }
        const [c, row, value, interpolation] = fields;
        const column = Number(c);
        const key = { row: Number(row), value: Math.fround(Number(value)), interpolation: String(interpolation).toLowerCase() };
        if (fields.length !== 4 || !Number.isInteger(column) || column < 0 || column >= width ||
            !Number.isInteger(key.row) || key.row < 0 || key.row >= rows || !/^[-+]?(\d+\.?\d*|\.\d+)(e[-+]?\d+)?$/i.test(value) ||
            !Number.isFinite(key.value) || !isInterpolation(key.interpolation)) {
            return bad(`line ${n + 2}, "${line}", is not "COLUMN ROW VALUE INTERPOLATION" within ${width} column(s) and ${rows} row(s)`);
        }
        if (columns[column].some((k) => k.row === key.row)) {
            return bad(`line ${n + 2} gives column ${column} a second key on row ${key.row}`);
        }
        columns[column].push(key);
    }
    for (const column of columns) {
        column.sort((a, b) => a.row - b.row);
    }
    return { rows, columns, names, clear: head[3] === 'clear' };
}
