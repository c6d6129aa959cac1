// Which tracks the grid shows, in which order and how wide. Kept by track name, so it survives
// reloads and can be stored between visits (toJSON / restore).

export const MIN_WIDTH = 48;
export const MAX_WIDTH = 480;

export class ColumnLayout {
    constructor(names = []) {
        this.order = names.slice();
        this.hidden = new Set();
        this.widths = new Map(); // name -> width set by the author (px)
    }

    // The author's width of a column, or null for the grid's own.
    width(name) {
        return this.widths.get(name) ?? null;
    }

    setWidth(name, width) {
        if (!this.order.includes(name) || !Number.isFinite(width)) {
            return false;
        }
        this.widths.set(name, Math.round(Math.max(MIN_WIDTH, Math.min(MAX_WIDTH, width))));
        return true;
    }

    // Adopts the engine's track list: unknown names go, new ones are added at the end.
    setNames(names) {
        const known = new Set(names);
        this.order = this.order.filter((n) => known.has(n));
        for (const n of names) {
            if (!this.order.includes(n)) {
                this.order.push(n);
            }
        }
        for (const n of [...this.hidden]) {
            if (!known.has(n)) {
                this.hidden.delete(n);
            }
        }
    }

    visible() {
        return this.order.filter((n) => !this.hidden.has(n));
    }

    isHidden(name) {
        return this.hidden.has(name);
    }

    // Hides or shows a track; the last visible one cannot be hidden.
    setHidden(name, hidden) {
        if (!this.order.includes(name)) {
            return false;
        }
        if (hidden && !this.hidden.has(name) && this.visible().length <= 1) {
            return false;
        }
        if (hidden) {
            this.hidden.add(name);
        } else {
            this.hidden.delete(name);
        }
        return true;
    }

    showAll() {
        this.hidden.clear();
    }

    // Moves a track to position `index` of the full order.
    move(name, index) {
        const from = this.order.indexOf(name);
        if (from < 0) {
            return false;
        }
        const to = Math.max(0, Math.min(this.order.length - 1, index));
        if (from === to) {
            return false;
        }
        this.order.splice(from, 1);
        this.order.splice(to, 0, name);
        return true;
    }

    // Moves a track one place among the visible ones (-1 left, +1 right).
    step(name, direction) {
        const visible = this.visible();
        const i = visible.indexOf(name);
        const j = i + direction;
        if (i < 0 || j < 0 || j >= visible.length) {
            return false;
        }
        return this.move(name, this.order.indexOf(visible[j]));
    }

    // Moves a visible track to visible position `index` (a drag of its header).
    moveVisible(name, index) {
        const visible = this.visible();
        if (!visible.includes(name)) {
            return false;
        }
        const clamped = Math.max(0, Math.min(visible.length - 1, index));
        return this.move(name, this.order.indexOf(visible[clamped]));
    }

    toJSON() {
        return { order: this.order.slice(), hidden: [...this.hidden], widths: Object.fromEntries(this.widths) };
    }

    restore(saved) {
        if (!saved || !Array.isArray(saved.order) || !Array.isArray(saved.hidden)) {
            return;
        }
        const names = this.order.slice();
        this.order = saved.order.filter((n) => typeof n === 'string');
        this.hidden = new Set(saved.hidden.filter((n) => typeof n === 'string'));
        this.widths = new Map();
        if (saved.widths && typeof saved.widths === 'object') {
            for (const [name, width] of Object.entries(saved.widths)) {
                if (names.includes(name) && typeof width === 'number') {
                    this.setWidth(name, width);
                }
            }
        }
        this.setNames(names);
        if (this.visible().length === 0) {
            this.hidden.clear();
        }
    }
}

// Tracks matching what the author typed to find one: by name first (from its start, then
// anywhere), then by what the track does. Every word must match. [{name, description, by}]
export function findTracks(tracks, query) {
    const words = String(query).toLowerCase().split(/\s+/).filter((w) => w !== '');
    if (words.length === 0) {
        return tracks.map((t) => ({ ...t, by: 'all' }));
    }
    const ranked = [];
    for (const t of tracks) {
        const name = t.name.toLowerCase();
        const text = `${name} ${String(t.description ?? '').toLowerCase()}`;
        if (!words.every((w) => text.includes(w))) {
            continue;
        }
        const rank = name.startsWith(words[0]) ? 0 : words.every((w) => name.includes(w)) ? 1 : 2;
        ranked.push({ rank, t: { ...t, by: rank < 2 ? 'name' : 'description' } });
    }
    ranked.sort((a, b) => a.rank - b.rank);
    return ranked.map((r) => r.t);
}
