// Undo and redo. An entry is one edit as the author made it (a typed value, a paste over several
// tracks, a drag): {label, tracks: [{name, changes: [{row, before, after}]}]}.

export class History {
    constructor(limit = 1000) {
        this.limit = limit;
        this.done = [];
        this.undone = [];
    }

    push(entry) {
        if (!entry.tracks.some((t) => t.changes.length > 0)) {
            return;
        }
        this.done.push(entry);
        if (this.done.length > this.limit) {
            this.done.shift();
        }
        this.undone = [];
    }

    canUndo() {
        return this.done.length > 0;
    }

    canRedo() {
        return this.undone.length > 0;
    }

    // The entry to undo, moved to the redo side; null when there is none.
    undo() {
        const entry = this.done.pop() ?? null;
        if (entry) {
            this.undone.push(entry);
        }
        return entry;
    }

    redo() {
        const entry = this.undone.pop() ?? null;
        if (entry) {
            this.done.push(entry);
        }
        return entry;
    }

    // Forgets every change to one track (it was replaced by a version from elsewhere, so undoing
    // our old changes to it would overwrite someone else's work). Entries left empty go.
    forgetTrack(name) {
        const strip = (list) =>
            list
                .map((e) => ({ ...e, tracks: e.tracks.filter((t) => t.name !== name) }))
                .filter((e) => e.tracks.length > 0);
        this.done = strip(this.done);
        this.undone = strip(this.undone);
    }
}
