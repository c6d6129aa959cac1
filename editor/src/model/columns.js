// Which tracks the grid shows, in which order. Kept by track name, so it survives reloads and can
// be stored between visits (toJSON / restore).

export class ColumnLayout {
    constructor(names = []) {
        this.order = names.slice();
        this.hidden = new Set();
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
        return { order: this.order.slice(), hidden: [...this.hidden] };
    }

    restore(saved) {
        if (!saved || !Array.isArray(saved.order) || !Array.isArray(saved.hidden)) {
            return;
        }
        const names = this.order.slice();
        this.order = saved.order.filter((n) => typeof n === 'string');
        this.hidden = new Set(saved.hidden.filter((n) => typeof n === 'string'));
        this.setNames(names);
        if (this.visible().length === 0) {
            this.hidden.clear();
        }
    }
}
