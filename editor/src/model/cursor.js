// The grid's cursor and block selection, in visible-column positions and rows.
//
// The selection is the rectangle between an anchor and the cursor; it exists only while the anchor
// is set (Shift+arrows or a drag set it, a plain move clears it).

function clamp(value, lo, hi) {
    return Math.max(lo, Math.min(hi, value));
}

export class GridCursor {
    constructor(rowCount = 1, columnCount = 1) {
        this.rowCount = Math.max(1, rowCount);
        this.columnCount = Math.max(1, columnCount);
        this.row = 0;
        this.col = 0;
        this.anchor = null;
    }

    setBounds(rowCount, columnCount) {
        this.rowCount = Math.max(1, rowCount);
        this.columnCount = Math.max(1, columnCount);
        this.row = clamp(this.row, 0, this.rowCount - 1);
        this.col = clamp(this.col, 0, this.columnCount - 1);
        if (this.anchor) {
            this.anchor = {
                row: clamp(this.anchor.row, 0, this.rowCount - 1),
                col: clamp(this.anchor.col, 0, this.columnCount - 1),
            };
        }
    }

    // Moves to a cell; with `extend` the selection grows from where the cursor was.
    moveTo(row, col, extend = false) {
        if (extend && !this.anchor) {
            this.anchor = { row: this.row, col: this.col };
        } else if (!extend) {
            this.anchor = null;
        }
        this.row = clamp(Math.round(row), 0, this.rowCount - 1);
        this.col = clamp(Math.round(col), 0, this.columnCount - 1);
    }

    moveBy(rows, cols, extend = false) {
        this.moveTo(this.row + rows, this.col + cols, extend);
    }

    // Page Up/Down: `bars` whole bars (negative: up). A plain move goes that many bars' rows. An
    // extending one moves the selection's moving edge to bar lines, so that from a bar's first row
    // two presses select exactly two bars (608-671 at 32 rows a bar), and back.
    moveByBars(bars, rowsPerBar, extend = false) {
        if (!extend) {
            this.moveBy(bars * rowsPerBar, 0, false);
            return;
        }
        if (!this.anchor) {
            this.anchor = { row: this.row, col: this.col };
        }
        let row = this.row;
        for (let i = 0; i < Math.abs(bars); i++) {
            const anchor = this.anchor.row;
            if (bars > 0) {
                // Growing down: to the next bar's last row. Shrinking from the top: to the next
                // bar line, no further than the anchor.
                row = row >= anchor
                    ? (Math.floor((row + 1) / rowsPerBar) + 1) * rowsPerBar - 1
                    : Math.min(anchor, (Math.floor(row / rowsPerBar) + 1) * rowsPerBar);
            } else {
                row = row <= anchor
                    ? (Math.ceil(row / rowsPerBar) - 1) * rowsPerBar
                    : Math.max(anchor, Math.floor(row / rowsPerBar) * rowsPerBar - 1);
            }
            row = clamp(row, 0, this.rowCount - 1);
        }
        this.row = row;
    }

    // Selects rows row0..row1 of columns col0..col1, the cursor on the top-left cell.
    select(row0, col0, row1, col1) {
        this.row = clamp(row0, 0, this.rowCount - 1);
        this.col = clamp(col0, 0, this.columnCount - 1);
        this.anchor = { row: clamp(row1, 0, this.rowCount - 1), col: clamp(col1, 0, this.columnCount - 1) };
    }

    clearSelection() {
        this.anchor = null;
    }

    selectAllRows() {
        this.anchor = { row: 0, col: this.col };
        this.row = this.rowCount - 1;
    }

    // {row0, row1, col0, col1} (inclusive), or null without a selection.
    selection() {
        if (!this.anchor) {
            return null;
        }
        return {
            row0: Math.min(this.anchor.row, this.row),
            row1: Math.max(this.anchor.row, this.row),
            col0: Math.min(this.anchor.col, this.col),
            col1: Math.max(this.anchor.col, this.col),
        };
    }

    // The selection, or the cursor's cell when there is none.
    block() {
        return this.selection() ?? { row0: this.row, row1: this.row, col0: this.col, col1: this.col };
    }

    isSelected(row, col) {
        const s = this.selection();
        return s !== null && row >= s.row0 && row <= s.row1 && col >= s.col0 && col <= s.col1;
    }
}
