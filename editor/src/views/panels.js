// The DOM panels: the error list, the notices, the column chooser.

export class ErrorsPanel {
    constructor(section) {
        this.section = section;
        this.list = section.querySelector('#error-list');
        this.count = section.querySelector('#error-count');
        this.none = section.querySelector('#no-errors');
        this.current = '[]';
    }

    // errors: [{file, line, message}] as the engine reports them.
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
                const where = document.createElement('span');
                where.className = 'where';
                where.textContent = e.line > 0 ? `${e.file}:${e.line}` : String(e.file ?? '');
                const message = document.createElement('pre');
                message.className = 'message';
                message.textContent = String(e.message ?? '');
                li.append(where, message);
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
    // onChange() is called after every change of the layout.
    constructor(panel, button, layout, onChange) {
        this.panel = panel;
        this.button = button;
        this.layout = layout;
        this.onChange = onChange;
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
        }
    }

    close() {
        this.panel.hidden = true;
        this.button.setAttribute('aria-expanded', 'false');
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
                label.append(box, ` ${name}`);
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
