// What the author's keys and clicks do: one model of the cursor and the playhead, the grid's
// editing commands with what they say, loops from the selection, and the clipboard. No DOM: the
// page hands it its views as a few functions, and the tests hand it stand-ins.
//
// The cursor is where keys are typed; the playhead is where the engine plays. A click on the
// timeline or the row numbers moves both. While playing with Follow on, the grid scrolls with the
// playhead; moving the cursor then turns Follow off and keeps the cursor in view. `p` moves the
// playhead to the cursor, `c` the cursor to the playhead.

import { Emitter } from './model/emitter.js';
import { BEATS_PER_BAR, formatBarBeat, formatRows, formatValue } from './model/format.js';
import { evaluate, findKey, segmentStart } from './model/interp.js';
import { blockFromText, blockKeyCount, blockToText } from './model/keys.js';

export class Commands extends Emitter {
    // env: {cursor, editor, store, transport, playhead,
    //   rowCount(), rowsPerBeat(), playRow(): the playhead's row now,
    //   ensureVisible(row, col), openEditor(text, select), notify({level, text, key, action}),
    //   help(), find(), goTo(), save()}
    // Events: 'cursor' {} after the cursor moved, 'follow' {on}.
    constructor(env) {
        super();
        this.env = env;
        this.follow = true;
    }

    rowsPerBar() {
        return this.env.rowsPerBeat() * BEATS_PER_BAR;
    }

    setFollow(on) {
        if (this.follow !== on) {
            this.follow = on;
            this.emit('follow', { on });
        }
    }

    // After the author moved the cursor: it stays in view, and while playing the grid stops
    // following the playhead so that it does.
    cursorMoved() {
        const { cursor, transport } = this.env;
        if (this.follow && transport.playing()) {
            this.setFollow(false);
        }
        this.env.ensureVisible(cursor.row, cursor.col);
        this.emit('cursor', {});
    }

    // A click on the timeline or the row numbers: the cursor and the playhead go there.
    seekBoth(row) {
        const { cursor } = this.env;
        const r = Math.max(0, Math.min(this.env.rowCount() - 1, Math.round(row)));
        cursor.moveTo(r, cursor.col);
        this.env.ensureVisible(cursor.row, cursor.col);
        this.emit('cursor', {});
        return this.env.transport.seek(row);
    }

    seekToCursor() {
        return this.env.transport.seek(this.env.cursor.row);
    }

    cursorToPlayhead() {
        const { cursor } = this.env;
        cursor.moveTo(Math.floor(this.env.playRow()), cursor.col);
        // Follow stays as it is: the cursor is where the playhead is.
        this.env.ensureVisible(cursor.row, cursor.col);
        this.emit('cursor', {});
    }

    // Loops exactly the selected rows (or the cursor's row).
    loopSelection() {
        const b = this.env.cursor.block();
        this.env.notify({ level: 'info', key: 'loop', text: `Looping ${formatRows(b.row0, b.row1, this.env.rowsPerBeat())}` });
        return this.env.transport.setLoop({ from: b.row0, to: b.row1 + 1 });
    }

    // [ : the loop starts on the cursor's row (and keeps its end when that is below, else lasts
    // a bar). ] : the loop ends after the cursor's row.
    loopStart() {
        const row = this.env.cursor.row;
        const loop = this.env.playhead.state.loop;
        const to = loop && loop.to > row ? loop.to : row + this.rowsPerBar();
        return this.env.transport.setLoop({ from: row, to });
    }

    loopEnd() {
        const row = this.env.cursor.row;
        const loop = this.env.playhead.state.loop;
        const from = loop && loop.from <= row ? loop.from : Math.max(0, row + 1 - this.rowsPerBar());
        return this.env.transport.setLoop({ from, to: row + 1 });
    }

    // Copy and cut: the block, also as text for the system clipboard. The cursor goes to the
    // block's top-left (the selection stays), so that a go-to and a paste put it in the same
    // columns.
    copy(cut) {
        const { editor, cursor } = this.env;
        const b = cursor.block();
        const block = cut ? editor.cut() : editor.copy();
        if (cursor.selection()) {
            cursor.select(b.row0, b.col0, b.row1, b.col1);
            this.emit('cursor', {});
        }
        const count = blockKeyCount(block);
        this.env.notify({
            level: 'info',
            key: 'clipboard',
            text: `${cut ? 'Cut' : 'Copied'} ${plural(count, 'key')} from ${names(block.names)}, ${plural(block.rows, 'row')}.`,
        });
        return blockToText(block);
    }

    // Paste: from the system clipboard's text when it holds a block, else the page's last copy.
    paste(text = null) {
        const { editor } = this.env;
        let block = editor.clipboard;
        if (text !== null) {
            const parsed = blockFromText(text);
            if (parsed) {
                block = parsed;
            } else if (!block) {
                this.env.notify({
                    level: 'warning',
                    key: 'clipboard',
                    text: 'The clipboard holds no keys: copy a block in the grid (Ctrl+C) first. Keys as text start with a "velmora-keys" line.',
                });
                return false;
            }
        }
        const result = editor.paste(block, { rowsPerBeat: this.env.rowsPerBeat() });
        if (!result.ok) {
            this.env.notify({ level: 'warning', key: 'clipboard', text: result.error });
            return false;
        }
        let text2 = `Pasted ${plural(result.keys, 'key')} into ${result.into} at ${result.place}`;
        if (!result.changed) {
            text2 = `Pasted into ${result.into} at ${result.place}: nothing changed`;
        }
        if (result.dropped > 0) {
            text2 += `; ${plural(result.dropped, 'column')} past the last track left out`;
        }
        this.env.notify({ level: 'info', key: 'clipboard', text: `${text2}.` });
        this.cursorMoved();
        return true;
    }

    // What is under the cursor, in words (the status line, and the screen reader's live region):
    // "camx · bar 20.1 · row 608 · key 1.5 linear" or "... · 0.75 (linear from row 600)".
    describeCursor() {
        const { cursor, editor, store } = this.env;
        const name = editor.cursorTrack();
        const row = cursor.row;
        const parts = [];
        if (name) {
            parts.push(name);
        }
        parts.push(`bar ${formatBarBeat(row, this.env.rowsPerBeat())}`, `row ${row}`);
        if (name) {
            const keys = store.keys(name);
            const i = findKey(keys, row);
            if (i >= 0) {
                parts.push(`key ${formatValue(keys[i].value)} ${keys[i].interpolation}`);
            } else {
                const s = segmentStart(keys, row);
                const from = s >= 0 && s + 1 < keys.length ? ` (${keys[s].interpolation} from row ${keys[s].row})` : '';
                parts.push(`${formatValue(Math.fround(evaluate(keys, row)))}${from}`);
            }
            const status = store.status(name);
            if (status.state === 'blocked') {
                parts.push(`not saved: fix ${status.file}${status.line ? ` line ${status.line}` : ''}`);
            } else if (status.state === 'failed') {
                parts.push(`not saved: ${status.message}`);
            }
        }
        const selection = cursor.selection();
        if (selection) {
            const tracks = selection.col1 - selection.col0 + 1;
            parts.push(`selected ${formatRows(selection.row0, selection.row1, this.env.rowsPerBeat())}, ${plural(tracks, 'track')}`);
        }
        return parts.join(' · ');
    }

    // One grid action (from gridAction). Returns false when it did nothing the page should know.
    perform(action) {
        const { cursor, editor, transport } = this.env;
        switch (action.type) {
        case 'move':
            cursor.moveBy(action.rows, action.cols, action.extend);
            break;
        case 'page':
            cursor.moveByBars(action.bars, this.rowsPerBar(), action.extend);
            break;
        case 'moveTo':
            cursor.moveTo(action.row === Infinity ? this.env.rowCount() - 1 : action.row, cursor.col, action.extend);
            break;
        case 'selectColumn':
            cursor.selectAllRows();
            break;
        case 'escape':
            cursor.clearSelection();
            break;
        case 'delete':
            editor.deleteBlock();
            break;
        case 'interpolation':
            editor.cycleInterpolation();
            break;
        case 'edit':
        case 'type':
            if (!editor.cursorTrack()) {
                return false;
            }
            this.cursorMoved();
            this.env.openEditor(action.type === 'edit' ? editor.currentKeyText() : action.text, action.type === 'edit');
            return true;
        case 'undo':
        case 'redo': {
            const label = action.type === 'undo' ? editor.undo() : editor.redo();
            const done = action.type === 'undo' ? 'Undone' : 'Redone';
            this.env.notify({ level: 'info', key: 'undo', text: label ? `${done}: ${label}` : `Nothing to ${action.type}.` });
            return true;
        }
        case 'playPause':
            transport.togglePlay();
            return true;
        case 'seekToCursor':
            this.seekToCursor();
            return true;
        case 'cursorToPlayhead':
            this.cursorToPlayhead();
            return true;
        case 'toggleFollow':
            this.setFollow(!this.follow);
            return true;
        case 'loopSelection':
            this.loopSelection();
            return true;
        case 'clearLoop':
            transport.setLoop(null);
            return true;
        case 'loopStart':
            this.loopStart();
            return true;
        case 'loopEnd':
            this.loopEnd();
            return true;
        case 'help':
            this.env.help();
            return true;
        case 'find':
            this.env.find();
            return true;
        case 'goTo':
            this.env.goTo();
            return true;
        case 'save':
            this.env.save();
            return true;
        case 'copy':
        case 'cut':
        case 'paste':
            // Through the browser's copy, cut and paste events (see the page), which reach the
            // system clipboard.
            return false;
        default:
            return false;
        }
        this.cursorMoved();
        return true;
    }
}

function plural(n, word) {
    return `${n} ${word}${n === 1 ? '' : 's'}`;
}

function names(list) {
    if (!list || list.length === 0) {
        return 'no track';
    }
    return list.length > 1 ? `${list[0]}–${list[list.length - 1]}` : list[0];
}
