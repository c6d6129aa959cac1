// What a key press in the grid means. Takes the fields of a KeyboardEvent, returns an action
// ({type, ...}) or null when the page should leave the key alone.

export const PAGE_ROWS = 32; // Page Up/Down: one bar; with Ctrl eight.

const TYPED = /^[0-9.+-]$/;

export function gridAction(e) {
    const ctrl = e.ctrlKey || e.metaKey;
    const shift = e.shiftKey;
    if (e.altKey) {
        return null;
    }
    if (ctrl) {
        switch (e.key.toLowerCase()) {
        case 'z':
            return { type: shift ? 'redo' : 'undo' };
        case 'y':
            return { type: 'redo' };
        case 'c':
            return { type: 'copy' };
        case 'x':
            return { type: 'cut' };
        case 'v':
            return { type: 'paste' };
        case 'a':
            return { type: 'selectColumn' };
        case 's':
            return { type: 'save' };
        case 'home':
            return { type: 'moveTo', row: 0, extend: shift };
        case 'end':
            return { type: 'moveTo', row: Infinity, extend: shift };
        case 'pageup':
            return { type: 'move', rows: -8 * PAGE_ROWS, cols: 0, extend: shift };
        case 'pagedown':
            return { type: 'move', rows: 8 * PAGE_ROWS, cols: 0, extend: shift };
        default:
            return null;
        }
    }
    switch (e.key) {
    case 'ArrowUp':
        return { type: 'move', rows: -1, cols: 0, extend: shift };
    case 'ArrowDown':
        return { type: 'move', rows: 1, cols: 0, extend: shift };
    case 'ArrowLeft':
        return { type: 'move', rows: 0, cols: -1, extend: shift };
    case 'ArrowRight':
        return { type: 'move', rows: 0, cols: 1, extend: shift };
    case 'PageUp':
        return { type: 'move', rows: -PAGE_ROWS, cols: 0, extend: shift };
    case 'PageDown':
        return { type: 'move', rows: PAGE_ROWS, cols: 0, extend: shift };
    case 'Home':
        return { type: 'moveTo', row: 0, extend: shift };
    case 'End':
        return { type: 'moveTo', row: Infinity, extend: shift };
    case 'Tab':
        return { type: 'move', rows: 0, cols: shift ? -1 : 1, extend: false };
    case 'Delete':
    case 'Backspace':
        return { type: 'delete' };
    case 'Enter':
        return { type: 'edit' };
    case 'Escape':
        return { type: 'escape' };
    case ' ':
        return { type: 'playPause' };
    case 'i':
    case 'I':
        return { type: 'interpolation' };
    case '[':
        return { type: 'loopStart' };
    case ']':
        return { type: 'loopEnd' };
    default:
        break;
    }
    if (TYPED.test(e.key)) {
        return { type: 'type', text: e.key };
    }
    return null;
}
