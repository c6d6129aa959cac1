// The page's settings that outlive a reload: pane sizes, the picture, the value precision. Kept
// in the browser's storage under one key, each value checked on the way in and out (a damaged or
// foreign entry gives the defaults).

const KEY = 'velmora-editor-prefs';

const RULES = {
    bottomHeight: (v) => Number.isFinite(v) && v >= 0 && v <= 4000,
    sideWidth: (v) => Number.isFinite(v) && v >= 0 && v <= 8000,
    previewHeight: (v) => Number.isFinite(v) && v >= 0 && v <= 4000,
    picture: (v) => typeof v === 'boolean',
    precision: (v) => [0, 10, 1, 0.1, 0.01, 0.001].includes(v),
};

export class Prefs {
    // storage: {getItem, setItem} (the browser's localStorage, or null when there is none).
    constructor(storage) {
        this.storage = storage;
        this.values = {};
        try {
            const saved = JSON.parse(storage?.getItem(KEY) ?? 'null');
            if (saved && typeof saved === 'object') {
                for (const [name, ok] of Object.entries(RULES)) {
                    if (ok(saved[name])) {
                        this.values[name] = saved[name];
                    }
                }
            }
        } catch (e) {
            // Damaged: the defaults.
        }
    }

    get(name, fallback = null) {
        return Object.hasOwn(this.values, name) ? this.values[name] : fallback;
    }

    // Sets and stores one value; a value its rule refuses is ignored (false).
    set(name, value) {
        if (!RULES[name] || !RULES[name](value)) {
            return false;
        }
        this.values[name] = value;
        try {
            this.storage?.setItem(KEY, JSON.stringify(this.values));
        } catch (e) {
            // Storage off or full: the setting lasts as long as the page.
        }
        return true;
    }
}
