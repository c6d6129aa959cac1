// What a key press in the grid means, and the help that lists every key and mouse gesture. Takes
// the fields of a KeyboardEvent, returns an action ({type, ...}) or null when the page should
// leave the key alone (Tab among them: it leaves the grid).

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
        case 'f':
            return { type: 'find' };
        case 'home':
            return { type: 'moveTo', row: 0, extend: shift };
        case 'end':
            return { type: 'moveTo', row: Infinity, extend: shift };
        case 'pageup':
            return { type: 'page', bars: -8, extend: shift };
        case 'pagedown':
            return { type: 'page', bars: 8, extend: shift };
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
        return { type: 'page', bars: -1, extend: shift };
    case 'PageDown':
        return { type: 'page', bars: 1, extend: shift };
    case 'Home':
        return { type: 'moveTo', row: 0, extend: shift };
    case 'End':
        return { type: 'moveTo', row: Infinity, extend: shift };
    case 'Delete':
    case 'Backspace':
        return { type: 'delete' };
    case 'Enter':
        return { type: 'edit' };
    case 'Escape':
        return { type: 'escape' };
    case ' ':
        return { type: 'playPause' };
    case '?':
        return { type: 'help' };
    case '/':
        return { type: 'find' };
    case '[':
        return { type: 'loopStart' };
    case ']':
        return { type: 'loopEnd' };
    default:
        break;
    }
    // Letters whatever Caps Lock says; Shift+L is the only shifted one.
    const letter = e.key.length === 1 ? e.key.toLowerCase() : '';
    if (shift && letter === 'l') {
        return { type: 'clearLoop' };
    }
    const letters = { i: 'interpolation', p: 'seekToCursor', c: 'cursorToPlayhead', f: 'toggleFollow', g: 'goTo', l: 'loopSelection' };
    if (!shift && Object.hasOwn(letters, letter)) {
        return { type: letters[letter] };
    }
    if (TYPED.test(e.key)) {
        return { type: 'type', text: e.key };
    }
    return null;
}

// Every key and gesture of the page, for the help overlay (?): [{title, items: [[keys, what,
// actions?]]}]. `actions` names the gridAction types an item describes (the tests check that
// every one is listed).
export const HELP = Object.freeze([
    {
        title: 'Moving in the grid',
        items: [
            ['↑ ↓ ← →', 'move the cursor a row or a track', ['move']],
            ['Page Up / Page Down', 'a bar up / down; with Ctrl eight bars', ['page']],
            ['Home / End', 'the first / last row', ['moveTo']],
            ['c', 'bring the cursor to the playhead', ['cursorToPlayhead']],
            ['g', 'go to a row, bar.beat (20.1) or time (1:23.5): the go-to field', ['goTo']],
            ['Ctrl+F or /', 'find a track by name or by what it does', ['find']],
            ['Tab / Shift+Tab', 'to the next / previous part of the page (toolbar, timeline, grid, curves, errors)'],
            ['Escape', 'drop the selection; close a panel', ['escape']],
        ],
    },
    {
        title: 'Keys and selections',
        items: [
            ['0–9 . - +', 'start typing a value; Enter sets the key on the cursor\'s row', ['type']],
            ['Enter', 'edit the key on the cursor\'s row', ['edit']],
            ['Delete / Backspace', 'remove the keys in the selection', ['delete']],
            ['i', 'next interpolation: constant, linear, smoothstep, quadratic', ['interpolation']],
            ['Shift+arrows, Shift+Page Up/Down', 'select; Shift+Page Down from a bar\'s first row selects whole bars'],
            ['Ctrl+A', 'select the whole track', ['selectColumn']],
            ['Ctrl+C / Ctrl+X', 'copy / cut the selection (also to the system clipboard, as text)', ['copy', 'cut']],
            ['Ctrl+V', 'paste with the block\'s top-left at the selection\'s top-left, or at the cursor', ['paste']],
            ['Ctrl+Z / Ctrl+Shift+Z (Ctrl+Y)', 'undo / redo', ['undo', 'redo']],
            ['Ctrl+S', 'save again what failed to save (every edit is saved as it is made)', ['save']],
        ],
    },
    {
        title: 'Playing',
        items: [
            ['Space', 'play / pause', ['playPause']],
            ['p', 'move the playhead to the cursor\'s row (seek the engine there)', ['seekToCursor']],
            ['f', 'follow the playhead on / off (moving the cursor while playing turns it off)', ['toggleFollow']],
            ['[ / ]', 'the loop starts on / ends after the cursor\'s row', ['loopStart', 'loopEnd']],
            ['l / Shift+L', 'loop the selected rows / clear the loop', ['loopSelection', 'clearLoop']],
            ['? ', 'this help', ['help']],
        ],
    },
    {
        title: 'Timeline (a slider: Tab to it)',
        items: [
            ['click', 'move the playhead and the cursor there'],
            ['drag', 'loop the beats dragged over (Shift: rows); the label shows what it will loop'],
            ['← → / Shift+← →', 'a beat / a bar back or forward'],
            ['Page Up / Page Down, Home / End', 'eight bars; the start / the end'],
        ],
    },
    {
        title: 'Mouse in the grid',
        items: [
            ['click a cell', 'move the cursor; Shift+click selects from the cursor'],
            ['drag over cells', 'select a block'],
            ['click the row numbers', 'move the playhead and the cursor to that row'],
            ['drag a track\'s name', 'move the column; drag its right edge to widen it'],
            ['hover a track\'s name', 'what the track does'],
            ['wheel', 'scroll (while playing, this stops following the playhead)'],
        ],
    },
    {
        title: 'Curves (the selected tracks, each on its own scale)',
        items: [
            ['drag a key', 'change its value (snapped to the chosen precision) and, sideways, its row'],
            ['Ctrl while dragging', 'free value, not snapped'],
            ['Shift while dragging', 'the row snaps to beats'],
            ['double-click', 'add a key there'],
            ['wheel / Shift+wheel', 'zoom / scroll in time'],
            ['← → / + -', 'scroll / zoom when the curves have the focus'],
        ],
    },
    {
        title: 'Panes',
        items: [
            ['drag a divider', 'resize the grid, the curves and the picture (remembered)'],
            ['Picture', 'show the engine\'s picture beside the curves (the dividers size it)'],
        ],
    },
]);
