// Dividers between the page's panes: dragging one sets a CSS size on its container, and the size
// is handed back when the drag ends (to be remembered).

// splitter: the divider; target: the element whose CSS variable `property` holds the size;
// size(): the size now; set(px) applies a size (clamped by the caller's rule) and returns it;
// sign: +1 when dragging right/down grows the size, -1 when it shrinks it.
export function dragToResize(splitter, { vertical, sign, size, set, done }) {
    splitter.addEventListener('mousedown', (e) => {
        if (e.button !== 0) {
            return;
        }
        e.preventDefault();
        const start = vertical ? e.clientX : e.clientY;
        const from = size();
        splitter.classList.add('dragging');
        let last = from;
        const move = (ev) => {
            const now = vertical ? ev.clientX : ev.clientY;
            last = set(from + sign * (now - start));
        };
        const up = () => {
            window.removeEventListener('mousemove', move);
            window.removeEventListener('mouseup', up);
            splitter.classList.remove('dragging');
            done(last);
        };
        window.addEventListener('mousemove', move);
        window.addEventListener('mouseup', up);
    });
}
