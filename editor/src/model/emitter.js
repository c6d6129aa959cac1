// A minimal event emitter for the page's models (they run in node's tests too, without the DOM).

export class Emitter {
    constructor() {
        this._listeners = new Map();
    }

    // Returns a function that removes the listener.
    on(type, listener) {
        if (!this._listeners.has(type)) {
            this._listeners.set(type, new Set());
        }
        this._listeners.get(type).add(listener);
        return () => this._listeners.get(type)?.delete(listener);
    }

    emit(type, detail) {
        for (const listener of [...(this._listeners.get(type) ?? [])]) {
            listener(detail);
        }
    }
}
