// The show's tracks as the page edits them: local keys, what the engine has saved, the saves in
// flight, failed saves kept for a retry, undo and redo, and changes made elsewhere.
//
// Every edit changes the local keys at once and is sent to the engine with the revision it was
// made on (one request in flight per track; edits made meanwhile go in the next one). A refused
// save (409: the track changed elsewhere) reloads that track alone and tells the author, offering
// to apply the lost edit again on the new version. A save refused because the track's source is
// broken on disk (409 naming the file) keeps the edit, sends nothing more for that track until the
// file is fixed or the author retries, and says which file to fix. Any other failure keeps the
// edit and marks the track for a retry.
//
// Events: 'change' {name, reason}, 'status' {name}, 'notice' {level, text, name?, action?},
// 'saved' {name, revision}, 'unauthorized' {}.

import { Emitter } from './emitter.js';
import { History } from './history.js';
import { applyChanges, diffKeys, normaliseKeys, sameKeys } from './keys.js';

export class TrackStore extends Emitter {
    // api: {getTrack(name) -> {name, revision, keys}, putTrack(name, revision, keys) -> {revision}};
    // failures throw an error with `status` (0 when the engine could not be reached) and `message`.
    constructor(api, { historyLimit = 1000 } = {}) {
        super();
        this.api = api;
        this.history = new History(historyLimit);
        this._tracks = new Map();
        this._order = [];
        this._busy = new Set();
        // Counts the changes of any track's keys (views cache what they drew from them).
        this.version = 0;
    }

    // Takes the list from GET /api/tracks, replacing everything.
    load(list) {
        this._tracks.clear();
        this._order = [];
        for (const t of list) {
            const keys = normaliseKeys(t.keys);
            this._tracks.set(t.name, {
                name: t.name,
                description: typeof t.description === 'string' ? t.description : '',
                keys,
                serverKeys: keys,
                revision: t.revision,
                inFlight: null,
                again: false,
                failure: null,
                reloading: null,
                reloadAgain: false,
            });
            this._order.push(t.name);
        }
        this.history = new History(this.history.limit);
        this.version++;
        this.emit('change', { name: null, reason: 'load' });
    }

    names() {
        return this._order.slice();
    }

    has(name) {
        return this._tracks.has(name);
    }

    keys(name) {
        return this._tracks.get(name)?.keys ?? [];
    }

    revision(name) {
        return this._tracks.get(name)?.revision;
    }

    // What the track does, as its source's leading comment says ('' when it says nothing).
    description(name) {
        return this._tracks.get(name)?.description ?? '';
    }

    // 'saved', 'saving', 'failed' (with the message), 'reloading' or 'unsaved' (about to be sent).
    status(name) {
        const t = this._tracks.get(name);
        if (!t) {
            return { state: 'saved' };
        }
        if (t.reloading) {
            return { state: 'reloading' };
        }
        if (t.inFlight) {
            return { state: 'saving' };
        }
        if (t.failure) {
            return t.failure.file
                ? { state: 'blocked', message: t.failure.message, file: t.failure.file, line: t.failure.line }
                : { state: 'failed', message: t.failure.message };
        }
        if (!sameKeys(t.keys, t.serverKeys)) {
            return { state: 'unsaved' };
        }
        return { state: 'saved' };
    }

    // Tracks whose local keys the engine does not have yet (saving, failed or about to be sent).
    unsavedNames() {
        return this._order.filter((n) => {
            const t = this._tracks.get(n);
            return t.inFlight !== null || !sameKeys(t.keys, t.serverKeys);
        });
    }

    failedNames() {
        return this._order.filter((n) => this._tracks.get(n).failure !== null);
    }

    // One edit by the author: {name: newKeys, ...}. Recorded for undo as one step and saved.
    // Returns false when nothing changed.
    edit(label, newKeysByName) {
        const entry = { label, tracks: [] };
        for (const [name, keys] of Object.entries(newKeysByName)) {
            const t = this._tracks.get(name);
            if (!t) {
                continue;
            }
            if (t.reloading) {
                this.emit('notice', { level: 'warning', name, text: `${name} is being reloaded; try again` });
                continue;
            }
            const changes = diffKeys(t.keys, keys);
            if (changes.length > 0) {
                entry.tracks.push({ name, changes });
            }
        }
        if (entry.tracks.length === 0) {
            return false;
        }
        this.history.push(entry);
        this._apply(entry, 'after', 'edit');
        return true;
    }

    // Undoes the last edit; returns its label, or null when there is nothing to undo.
    undo() {
        const entry = this.history.undo();
        if (entry) {
            this._apply(entry, 'before', 'undo');
        }
        return entry ? entry.label : null;
    }

    redo() {
        const entry = this.history.redo();
        if (entry) {
            this._apply(entry, 'after', 'redo');
        }
        return entry ? entry.label : null;
    }

    _apply(entry, side, reason) {
        for (const { name, changes } of entry.tracks) {
            const t = this._tracks.get(name);
            if (!t || t.reloading) {
                continue;
            }
            t.keys = applyChanges(t.keys, changes, side);
            this.version++;
            this.emit('change', { name, reason });
            this._save(name);
        }
    }

    retry(name) {
        const t = this._tracks.get(name);
        if (t && t.failure) {
            t.failure = null;
            this._save(name);
        }
    }

    // Sends every failed save again; those refused for a broken source only when the author asks
    // (`blocked`), never by themselves.
    retryAll({ blocked = true } = {}) {
        for (const name of this.failedNames()) {
            if (blocked || !this._tracks.get(name).failure.file) {
                this.retry(name);
            }
        }
    }

    _track(promise) {
        this._busy.add(promise);
        promise.finally(() => this._busy.delete(promise));
        return promise;
    }

    // Resolves once no save or reload is in flight (for tests and for leaving the page).
    async whenIdle() {
        while (this._busy.size > 0) {
            await Promise.allSettled([...this._busy]);
        }
    }

    _save(name) {
        const t = this._tracks.get(name);
        if (t.inFlight || t.reloading) {
            t.again = true;
            return;
        }
        if (t.failure && t.failure.file) {
            // Refused until the source is fixed: kept here, sent again when the author retries.
            this.emit('status', { name });
            return;
        }
        if (sameKeys(t.keys, t.serverKeys)) {
            t.failure = null;
            this.emit('status', { name });
            return;
        }
        const keys = t.keys;
        const base = t.revision;
        t.inFlight = { keys, base, events: [] };
        t.again = false;
        this.emit('status', { name });
        const done = this.api.putTrack(name, base, keys).then(
            (answer) => this._saved(t, answer.revision),
            (error) => this._saveFailed(t, error),
        );
        this._track(done);
    }

    _saved(t, revision) {
        const { keys, base, events } = t.inFlight;
        t.inFlight = null;
        t.revision = revision;
        t.serverKeys = keys;
        t.failure = null;
        this.emit('saved', { name: t.name, revision });
        // A change from elsewhere announced while the save was on its way, and made after it.
        const last = events[events.length - 1];
        if (last !== undefined && last !== revision && last !== base) {
            this._changedElsewhere(t);
        } else if (t.again || !sameKeys(t.keys, keys)) {
            t.again = false;
            this._save(t.name);
        }
        this.emit('status', { name: t.name });
    }

    _saveFailed(t, error) {
        t.inFlight = null;
        t.again = false;
        const status = error && typeof error.status === 'number' ? error.status : 0;
        const message = (error && error.message) || String(error);
        const body = error && error.body && typeof error.body === 'object' ? error.body : {};
        if (status === 409 && typeof body.file === 'string') {
            // The engine will not write this track while its source is broken on disk.
            const line = Number.isInteger(body.line) && body.line > 0 ? body.line : null;
            t.failure = { message, status, file: body.file, line };
            this.emit('status', { name: t.name });
            this.emit('notice', {
                level: 'error',
                name: t.name,
                text: `${t.name} was not saved: ${message}. Fix ${body.file}${line ? ` (line ${line})` : ''}; ` +
                    'your edit is kept in the page and can be saved once the file is fixed.',
            });
            return;
        }
        if (status === 409) {
            this._reload(t, {
                level: 'warning',
                text: `${t.name} was changed elsewhere, so your edit to it was not saved; ` +
                    `${t.name} now shows the saved version${'revision' in body ? ` (revision ${body.revision})` : ''}.`,
            }, diffKeys(t.serverKeys, t.keys));
            return;
        }
        t.failure = { message, status };
        this.emit('status', { name: t.name });
        if (status === 401) {
            this.emit('unauthorized', {});
            return;
        }
        this.emit('notice', { level: 'error', name: t.name, text: `Saving ${t.name} failed: ${message}. Your edit is kept; retry to save it.` });
    }

    // A track event from the engine: {name, revision}.
    remoteChange({ name, revision }) {
        const t = this._tracks.get(name);
        if (!t) {
            return;
        }
        if (t.inFlight) {
            t.inFlight.events.push(revision);
            return;
        }
        if (t.reloading) {
            t.reloadAgain = true;
            return;
        }
        if (revision === t.revision) {
            return;
        }
        this._changedElsewhere(t);
    }

    // After the event stream reconnects: the engine's list, compared by revision.
    resync(list) {
        for (const { name, revision } of list) {
            this.remoteChange({ name, revision });
        }
    }

    _changedElsewhere(t) {
        if (sameKeys(t.keys, t.serverKeys)) {
            this._reload(t, null);
        } else if (t.failure && t.failure.file) {
            this._reload(t, {
                level: 'warning',
                text: `${t.name} was reloaded from ${t.failure.file}; the edit the engine refused is not in it. ` +
                    'Apply it again to save it on the fixed version.',
            }, diffKeys(t.serverKeys, t.keys));
        } else {
            this._reload(t, {
                level: 'warning',
                text: `${t.name} was changed elsewhere; your unsaved edit to it was replaced by the saved version.`,
            }, diffKeys(t.serverKeys, t.keys));
        }
    }

    // Applies an edit that a reload replaced once more, on the track as it is now: one undo step.
    applyAgain(name, changes) {
        const t = this._tracks.get(name);
        if (!t) {
            return false;
        }
        return this.edit(`${name}: edit applied again`, { [name]: applyChanges(t.keys, changes, 'after') });
    }

    // lost: the author's changes the reload replaces, offered back with the notice.
    _reload(t, notice, lost = []) {
        if (t.reloading) {
            t.reloadAgain = true;
            return;
        }
        t.reloadAgain = false;
        this.emit('status', { name: t.name });
        t.reloading = this._track(
            this.api.getTrack(t.name).then(
                (track) => {
                    t.reloading = null;
                    const keys = normaliseKeys(track.keys);
                    t.keys = keys;
                    t.serverKeys = keys;
                    t.revision = track.revision;
                    if (typeof track.description === 'string') {
                        t.description = track.description;
                    }
                    t.failure = null;
                    t.again = false;
                    if (notice) {
                        // Our own changes to it can no longer be undone without overwriting theirs.
                        this.history.forgetTrack(t.name);
                        const action = lost.length > 0
                            ? { label: 'Apply my edit again', run: () => this.applyAgain(t.name, lost) }
                            : null;
                        this.emit('notice', { ...notice, name: t.name, action });
                    }
                    this.version++;
                    this.emit('change', { name: t.name, reason: 'reload' });
                    this.emit('status', { name: t.name });
                    if (t.reloadAgain) {
                        this._reload(t, null);
                    }
                },
                (error) => {
                    t.reloading = null;
                    const status = error && typeof error.status === 'number' ? error.status : 0;
                    t.failure = { message: `reloading failed: ${error.message ?? error}`, status };
                    this.emit('status', { name: t.name });
                    if (status === 401) {
                        this.emit('unauthorized', {});
                    } else {
                        this.emit('notice', { level: 'error', name: t.name, text: `Reloading ${t.name} failed: ${error.message ?? error}` });
                    }
                },
            ),
        );
    }
}
