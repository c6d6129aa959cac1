// The engine's edit API (docs/edit-api.md): the page's only way to the show. Every call carries
// the token, as a header where the browser lets us set one, else in the query.

export class ApiError extends Error {
    // status 0: the engine could not be reached.
    constructor(status, message, body = null) {
        super(message);
        this.name = 'ApiError';
        this.status = status;
        this.body = body;
    }
}

export function tokenFromLocation(search) {
    const token = new URLSearchParams(search).get('token');
    return token && /^[0-9a-fA-F]{8,128}$/.test(token) ? token : null;
}

export class Api {
    constructor(token, { base = '', fetchImpl = (...a) => fetch(...a), timeoutMs = 10000 } = {}) {
        this.token = token;
        this.base = base;
        this.fetchImpl = fetchImpl;
        this.timeoutMs = timeoutMs;
    }

    async request(method, path, body) {
        const headers = { 'X-Velmora-Token': this.token };
        const init = { method, headers, cache: 'no-store' };
        if (body !== undefined) {
            headers['Content-Type'] = 'application/json';
            init.body = JSON.stringify(body);
        }
        const controller = typeof AbortController === 'function' ? new AbortController() : null;
        let timer = null;
        if (controller) {
            init.signal = controller.signal;
            timer = setTimeout(() => controller.abort(), this.timeoutMs);
        }
        let response;
        try {
            response = await this.fetchImpl(this.base + path, init);
        } catch (e) {
            const what = e && e.name === 'AbortError' ? 'no answer in time' : 'the engine is not reachable';
            throw new ApiError(0, `${method} ${path}: ${what}`);
        } finally {
            if (timer) {
                clearTimeout(timer);
            }
        }
        let text = '';
        try {
            text = await response.text();
        } catch (e) {
            throw new ApiError(0, `${method} ${path}: the answer was cut off`);
        }
        let json = null;
        if (text) {
            try {
                json = JSON.parse(text);
            } catch (e) {
                if (response.ok) {
                    throw new ApiError(response.status, `${method} ${path}: the answer is not JSON`);
                }
            }
        }
        if (!response.ok) {
            const message = json && typeof json.error === 'string' ? json.error : `${response.status} ${response.statusText || ''}`.trim();
            throw new ApiError(response.status, message, json);
        }
        return json;
    }

    state() {
        return this.request('GET', '/api/state');
    }

    play(playing) {
        return this.request('POST', '/api/transport', { play: playing });
    }

    seek(row) {
        return this.request('POST', '/api/transport', { seek: row });
    }

    setLoop(loop) {
        return this.request('POST', '/api/transport', { loop });
    }

    tracks() {
        return this.request('GET', '/api/tracks');
    }

    getTrack(name) {
        return this.request('GET', `/api/tracks/${encodeURIComponent(name)}`);
    }

    putTrack(name, revision, keys) {
        return this.request('PUT', `/api/tracks/${encodeURIComponent(name)}`, { revision, keys });
    }

    values(name, from, to, step) {
        const q = new URLSearchParams({ from: String(from), to: String(to), step: String(step) });
        return this.request('GET', `/api/tracks/${encodeURIComponent(name)}/values?${q}`);
    }

    waveform(rowsPerBucket) {
        return this.request('GET', `/api/audio/waveform?rowsPerBucket=${rowsPerBucket}`);
    }

    // The last frame the engine drew, as a PNG blob; with a width, shrunk to at most that wide.
    async frame(width = 0) {
        const query = width > 0 ? `?width=${Math.round(width)}` : '';
        let response;
        try {
            response = await this.fetchImpl(`${this.base}/api/frame.png${query}`, { headers: { 'X-Velmora-Token': this.token }, cache: 'no-store' });
        } catch (e) {
            throw new ApiError(0, 'GET /api/frame.png: the engine is not reachable');
        }
        if (!response.ok) {
            throw new ApiError(response.status, `GET /api/frame.png: ${response.status}`);
        }
        return response.blob();
    }

    eventsUrl() {
        return `${this.base}/api/events?token=${encodeURIComponent(this.token)}`;
    }

    frameUrl() {
        return `${this.base}/api/frame.png?token=${encodeURIComponent(this.token)}`;
    }
}
