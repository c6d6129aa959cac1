// The DOM panels: the error list, the notices, the column chooser, finding a track, the help.

import { findTracks } from '../model/columns.js';
import { HELP } from '../model/keymap.js';

export class ErrorsPanel {
    constructor(section) {
        this.section = section;
        this.list = section.querySelector('#error-list');
        this.count = section.querySelector('#error-count');
        this.none = section.querySelector('#no-errors');
        this.current = '[]';
    }

    // errors: [{file, line, message, track?}] as the engine reports them.
    show(errors) {
        const list = Array.isArray(errors) ? errors : [];
        const text = JSON.stringify(list);
        if (text === this.current) {
            return;
        }
        this.current = text;
        this.list.replaceChildren(
            ...list.map((e) => {
                const li = document.createElement('li');
                li.className = 'error';
                li.tabIndex = 0;
                const where = document.createElement('span');
                where.className = 'where';
                where.textContent = e.line > 0 ? `${e.file}:${e.line}` : String(e.file ?? '');
                const message = document.createElement('pre');
                message.className = 'message';
                message.textContent = String(e.message ?? '');
                if (typeof e.track === 'string') {
                    const track = document.createElement('span');
                    track.className = 'track';
                    track.textContent = ` (track ${e.track}: the page cannot save it until this file is fixed)`;
                    where.after(track);
                    li.append(where, track, message);
                } else {
                    li.append(where, message);
                }
                return li;
            }),
        );
        this.count.textContent = String(list.length);
        this.none.hidden = list.length > 0;
        this.section.classList.toggle('has-errors', list.length > 0);
    }
}

export class Notices {
    constructor(host) {
        this.host = host;
    }

    // level: 'info' | 'warning' | 'error'. Info goes by itself; the others stay until closed
    // (or for `seconds`). key: a notice with the same key replaces the previous one.
    show({ level = 'info', text, key = null, seconds = null, action = null }) {
        if (key) {
            this.host.querySelector(`[data-key="${CSS.escape(key)}"]`)?.remove();
        }
        const div = document.createElement('div');
        div.className = `notice ${level}`;
        div.setAttribute('role', level === 'info' ? 'status' : 'alert');
        if (key) {
            div.dataset.key = key;
        }
        const span = document.createElement('span');
        span.className = 'text';
        span.textContent = text;
        div.append(span);
        if (action) {
            const b = document.createElement('button');
            b.type = 'button';
            b.textContent = action.label;
            b.addEventListener('click', () => {
                div.remove();
                action.run();
            });
            div.append(b);
        }
        const close = document.createElement('button');
        close.type = 'button';
        close.textContent = '×';
        close.title = 'Close';
        close.className = 'close';
        close.addEventListener('click', () => div.remove());
        div.append(close);
        this.host.append(div);
        while (this.host.children.length > 6) {
            this.host.firstElementChild.remove();
        }
        const lifetime = seconds ?? (level === 'info' ? 4 : level === 'warning' ? 20 : null);
        if (lifetime) {
            setTimeout(() => div.remove(), lifetime * 1000);
        }
        return div;
    }

    remove(key) {
        this.host.querySelector(`[data-key="${CSS.escape(key)}"]`)?.remove();
    }
}

export class ColumnsPanel {
    // onChange() is called after every change of the layout; describe(name) says what a track does.
    constructor(panel, button, layout, onChange, describe = () => '') {
        this.panel = panel;
        this.button = button;
        this.layout = layout;
        this.onChange = onChange;
        this.describe = describe;
        this.list = panel.querySelector('#columns-list');
        button.addEventListener('click', () => this.toggle());
        panel.querySelector('#columns-close').addEventListener('click', () => this.close());
        panel.querySelector('#columns-all').addEventListener('click', () => {
            layout.showAll();
            this.changed();
        });
    }

    isOpen() {
        return !this.panel.hidden;
    }

    toggle() {
        if (this.isOpen()) {
            this.close();
        } else {
            this.render();
            this.panel.hidden = false;
            this.button.setAttribute('aria-expanded', 'true');
            this.panel.querySelector('input, button')?.focus();
        }
    }

    close() {
        const had = this.panel.contains(document.activeElement);
        this.panel.hidden = true;
        this.button.setAttribute('aria-expanded', 'false');
        if (had) {
            this.button.focus();
        }
    }

    changed() {
        this.render();
        this.onChange();
    }

    render() {
        const layout = this.layout;
        this.list.replaceChildren(
            ...layout.order.map((name, i) => {
                const li = document.createElement('li');
                li.dataset.track = name;
                const label = document.createElement('label');
                const box = document.createElement('input');
                box.type = 'checkbox';
                box.checked = !layout.isHidden(name);
                box.setAttribute('aria-label', `Show ${name}`);
                box.addEventListener('change', () => {
                    if (!layout.setHidden(name, !box.checked)) {
                        box.checked = true;
                    }
                    this.changed();
                });
                const text = document.createElement('span');
                text.className = 'column-name';
                text.textContent = name;
                label.append(box, text);
                const description = this.describe(name);
                if (description) {
                    const what = document.createElement('span');
                    what.className = 'column-description';
                    what.textContent = description;
                    label.append(what);
                    li.title = `${name}: ${description}`;
                }
                const up = document.createElement('button');
                up.type = 'button';
                up.textContent = '↑';
                up.title = `Move ${name} left`;
                up.disabled = i === 0;
                up.addEventListener('click', () => {
                    layout.move(name, i - 1);
                    this.changed();
                });
                const down = document.createElement('button');
                down.type = 'button';
                down.textContent = '↓';
                down.title = `Move ${name} right`;
                down.disabled = i === layout.order.length - 1;
                down.addEventListener('click', () => {
                    layout.move(name, i + 1);
                    this.changed();
                });
                li.append(label, up, down);
                return li;
            }),
        );
    }
}

// Find a track by name or by what it does (Ctrl+F or / in the grid): a field and the matches;
// Enter or a click goes to the track (showing it if it was hidden).
export class FindPanel {
    // tracks() -> [{name, description}]; onPick(name).
    constructor(panel, tracks, onPick) {
        this.panel = panel;
        this.tracks = tracks;
        this.onPick = onPick;
        this.input = panel.querySelector('#find-input');
        this.list = panel.querySelector('#find-list');
        this.status = panel.querySelector('#find-status');
        this.matches = [];
        this.active = 0;
        this.returnFocus = null;
        this.input.addEventListener('input', () => {
            this.active = 0;
            this.render();
        });
        this.input.addEventListener('keydown', (e) => {
            if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
                e.preventDefault();
                const n = this.matches.length;
                if (n) {
                    this.active = (this.active + (e.key === 'ArrowDown' ? 1 : n - 1)) % n;
                    this.render();
                }
            } else if (e.key === 'Enter') {
                e.preventDefault();
                this.pick(this.matches[this.active]?.name);
            } else if (e.key === 'Escape') {
                e.preventDefault();
                this.close();
            }
        });
        panel.querySelector('#find-close').addEventListener('click', () => this.close());
    }

    isOpen() {
        return !this.panel.hidden;
    }

    open() {
        this.returnFocus = document.activeElement;
        this.panel.hidden = false;
        this.input.value = '';
        this.active = 0;
        this.render();
        this.input.focus();
    }

    close() {
        this.panel.hidden = true;
        this.returnFocus?.focus?.({ preventScroll: true });
    }

    pick(name) {
        if (!name) {
            return;
        }
        this.panel.hidden = true;
        this.onPick(name);
    }

    render() {
        this.matches = findTracks(this.tracks(), this.input.value);
        this.list.replaceChildren(
            ...this.matches.map((t, i) => {
                const li = document.createElement('li');
                li.id = `find-option-${i}`;
                li.setAttribute('role', 'option');
                li.setAttribute('aria-selected', String(i === this.active));
                li.dataset.track = t.name;
                const name = document.createElement('strong');
                name.textContent = t.name;
                const what = document.createElement('span');
                what.className = 'dim';
                what.textContent = t.description ? ` ${t.description.split('\n')[0]}` : '';
                li.append(name, what);
                li.addEventListener('mousedown', (e) => {
                    e.preventDefault();
                    this.pick(t.name);
                });
                return li;
            }),
        );
        if (this.matches.length) {
            this.input.setAttribute('aria-activedescendant', `find-option-${this.active}`);
            this.list.children[this.active]?.scrollIntoView({ block: 'nearest' });
        } else {
            this.input.removeAttribute('aria-activedescendant');
        }
        this.status.textContent = this.matches.length
            ? `${this.matches.length} track${this.matches.length === 1 ? '' : 's'}: Enter goes to ${this.matches[this.active].name}`
            : 'No track has that in its name or description.';
    }
}

// The help overlay (?): every key and mouse gesture, from the one table the keys are made from.
export class HelpPanel {
    constructor(panel) {
        this.panel = panel;
        this.body = panel.querySelector('#help-body');
        this.returnFocus = null;
        panel.querySelector('#help-close').addEventListener('click', () => this.close());
        panel.addEventListener('keydown', (e) => {
            if (e.key === 'Escape' || e.key === '?') {
                e.preventDefault();
                e.stopPropagation();
                this.close();
            }
        });
        this.body.replaceChildren(
            ...HELP.map((section) => {
                const div = document.createElement('section');
                const h = document.createElement('h3');
                h.textContent = section.title;
                const table = document.createElement('table');
                for (const [keys, what] of section.items) {
                    const tr = document.createElement('tr');
                    const th = document.createElement('th');
                    th.scope = 'row';
                    th.textContent = keys;
                    const td = document.createElement('td');
                    td.textContent = what;
                    tr.append(th, td);
                    table.append(tr);
                }
                div.append(h, table);
                return div;
            }),
        );
    }

    isOpen() {
        return !this.panel.hidden;
    }

    toggle() {
        if (this.isOpen()) {
            this.close();
        } else {
            this.returnFocus = document.activeElement;
            this.panel.hidden = false;
            this.panel.querySelector('#help-close').focus();
        }
    }

    close() {
        this.panel.hidden = true;
        this.returnFocus?.focus?.({ preventScroll: true });
    }
}
