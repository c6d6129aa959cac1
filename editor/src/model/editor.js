// The grid's editing commands on the tracks: set, delete, interpolation, copy/cut/paste, undo.
// Works on the store, the column layout and the cursor; knows nothing of the DOM.

import { findKey, nextInterpolation } from './interp.js';
import { formatPlace, formatValue, parseValue } from './format.js';
import {
    copyBlock,
    cycleInterpolation,
    keysInRows,
    moveKey,
    pasteColumn,
    removeRows,
    setInterpolationInRows,
    setKeyValue,
} from './keys.js';

export class Editor {
    constructor({ store, layout, cursor }) {
        this.store = store;
        this.layout = layout;
        this.cursor = cursor;
        this.clipboard = null;
    }

    visibleNames() {
        return this.layout.visible();
    }

    // The track under the cursor.
    cursorTrack() {
        return this.visibleNames()[this.cursor.col] ?? null;
    }

    // The names of the block's columns (the selection, or the cursor's cell).
    blockNames(block = this.cursor.block()) {
        return this.visibleNames().slice(block.col0, block.col1 + 1);
    }

    // The text to start editing with: the key's value on the cursor's row, or ''.
    currentKeyText() {
        const name = this.cursorTrack();
        if (!name) {
            return '';
        }
        const keys = this.store.keys(name);
        const i = findKey(keys, this.cursor.row);
        return i >= 0 ? formatValue(keys[i].value) : '';
    }

    // Sets a key on the cursor's row from what the author typed. {ok} or {ok: false, error}.
    setValue(text) {
        const parsed = parseValue(text);
        if (!parsed.ok) {
            return parsed;
        }
        const name = this.cursorTrack();
        if (!name) {
            return { ok: false, error: 'no track under the cursor' };
        }
        const keys = setKeyValue(this.store.keys(name), this.cursor.row, parsed.value);
        this.store.edit(`set ${name} row ${this.cursor.row}`, { [name]: keys });
        return { ok: true };
    }

    // Removes the keys in the block.
    deleteBlock() {
        const block = this.cursor.block();
        const edits = {};
        for (const name of this.blockNames(block)) {
            edits[name] = removeRows(this.store.keys(name), block.row0, block.row1);
        }
        return this.store.edit('delete', edits);
    }

    // Without a selection: cycles the interpolation of the key at or above the cursor. With one:
    // every key in it takes the interpolation after the first one's.
    cycleInterpolation() {
        const selection = this.cursor.selection();
        if (!selection) {
            const name = this.cursorTrack();
            if (!name) {
                return false;
            }
            return this.store.edit(`interpolation ${name}`, {
                [name]: cycleInterpolation(this.store.keys(name), this.cursor.row),
            });
        }
        const names = this.blockNames(selection);
        let first = null;
        for (const name of names) {
            const inside = keysInRows(this.store.keys(name), selection.row0, selection.row1);
            if (inside.length > 0) {
                first = inside[0];
                break;
            }
        }
        if (!first) {
            return false;
        }
        const interpolation = nextInterpolation(first.interpolation);
        const edits = {};
        for (const name of names) {
            edits[name] = setInterpolationInRows(this.store.keys(name), selection.row0, selection.row1, interpolation);
        }
        return this.store.edit('interpolation', edits);
    }

    copy() {
        const block = this.cursor.block();
        const names = this.blockNames(block);
        this.clipboard = copyBlock(names.map((n) => this.store.keys(n)), block.row0, block.row1, names);
        return this.clipboard;
    }

    cut() {
        const block = this.copy();
        this.deleteBlock();
        return block;
    }

    // Pastes a block (default: the last copied) with its top-left corner at the selection's
    // top-left, or at the cursor without a selection; columns past the last visible track are
    // left out. The pasted cells are selected afterwards. One undo step.
    // {ok, changed, keys, names, row, rows, dropped} or {ok: false, error}.
    paste(block = this.clipboard, { rowsPerBeat = 8 } = {}) {
        if (!block) {
            return { ok: false, error: 'Nothing to paste: copy a block first (Ctrl+C).' };
        }
        if (block.error) {
            return { ok: false, error: block.error };
        }
        const at = this.cursor.selection() ?? { row0: this.cursor.row, col0: this.cursor.col };
        const names = this.visibleNames().slice(at.col0, at.col0 + block.columns.length);
        if (names.length === 0) {
            return { ok: false, error: 'No track under the cursor to paste into.' };
        }
        const edits = {};
        let keys = 0;
        names.forEach((name, c) => {
            keys += block.columns[c].length;
            edits[name] = pasteColumn(this.store.keys(name), block.columns[c], block.rows, at.row0, block.clear);
        });
        const into = names.length > 1 ? `${names[0]}–${names[names.length - 1]}` : names[0];
        const place = formatPlace(at.row0, rowsPerBeat);
        const changed = this.store.edit(`paste into ${into} at ${place}`, edits);
        this.cursor.select(at.row0, at.col0, Math.min(this.cursor.rowCount - 1, at.row0 + block.rows - 1), at.col0 + names.length - 1);
        return { ok: true, changed, keys, names, into, place, row: at.row0, rows: block.rows, dropped: block.columns.length - names.length };
    }

    // A key dragged in the curve view, from its row to another (whole) row and value.
    moveKey(name, fromRow, toRow, value) {
        return this.store.edit(`move ${name} key`, { [name]: moveKey(this.store.keys(name), fromRow, toRow, value) });
    }

    undo() {
        return this.store.undo();
    }

    redo() {
        return this.store.redo();
    }
}
