// The engine's transport as the page last heard it, moved forward between two state events so the
// playhead glides instead of jumping 20 times a second.

export class Playhead {
    constructor() {
        this.state = {
            row: 0,
            seconds: 0,
            playing: false,
            loop: null,
            rowsPerSecond: 24,
            rowsPerBeat: 8,
            lengthRows: 0,
            fps: 0,
            errors: [],
        };
        this.receivedAt = 0;
    }

    update(state, now) {
        this.state = { ...this.state, ...state };
        this.receivedAt = now;
    }

    // The row now: while playing, where the engine will be, wrapped in the loop and held at the end.
    row(now) {
        const s = this.state;
        if (!s.playing) {
            return s.row;
        }
        // Never guess more than half a second ahead of the last word from the engine.
        const elapsed = Math.min(0.5, Math.max(0, (now - this.receivedAt) / 1000));
        let row = s.row + elapsed * s.rowsPerSecond;
        if (s.loop && s.row < s.loop.to && row >= s.loop.to) {
            row = s.loop.from + ((row - s.loop.from) % (s.loop.to - s.loop.from));
        }
        if (s.lengthRows > 0) {
            row = Math.min(row, s.lengthRows);
        }
        return row;
    }
}
