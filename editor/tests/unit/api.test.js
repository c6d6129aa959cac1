import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Api, ApiError, tokenFromLocation } from '../../src/api.js';
import { Playhead } from '../../src/model/playhead.js';

function fakeFetch(answer) {
    const calls = [];
    const fetchImpl = async (url, init) => {
        calls.push({ url, init });
        return answer(url, init);
    };
    return { calls, fetchImpl };
}

const respond = (status, body, statusText = '') => ({
    ok: status >= 200 && status < 300,
    status,
    statusText,
    text: async () => (typeof body === 'string' ? body : JSON.stringify(body)),
});

test('every call carries the token; writes are JSON', async () => {
    const { calls, fetchImpl } = fakeFetch(() => respond(200, { name: 'camx', revision: 4 }));
    const api = new Api('ab'.repeat(16), { fetchImpl });
    await api.putTrack('camx', 3, [{ row: 0, value: 1, interpolation: 'constant' }]);
    await api.values('camx', 0, 64, 0.5);
    assert.equal(calls[0].url, '/api/tracks/camx');
    assert.equal(calls[0].init.method, 'PUT');
    assert.equal(calls[0].init.headers['X-Velmora-Token'], 'ab'.repeat(16));
    assert.equal(calls[0].init.headers['Content-Type'], 'application/json');
    assert.deepEqual(JSON.parse(calls[0].init.body), { revision: 3, keys: [{ row: 0, value: 1, interpolation: 'constant' }] });
    assert.equal(calls[1].url, '/api/tracks/camx/values?from=0&to=64&step=0.5');
    assert.equal(calls[1].init.headers['Content-Type'], undefined);
    assert.equal(api.eventsUrl(), `/api/events?token=${'ab'.repeat(16)}`);
    const pictures = fakeFetch(() => ({ ok: true, status: 200, blob: async () => 'png' }));
    const withPictures = new Api('ab'.repeat(16), { fetchImpl: pictures.fetchImpl });
    await withPictures.frame();
    await withPictures.frame(359.6);
    assert.deepEqual(pictures.calls.map((c) => c.url), ['/api/frame.png', '/api/frame.png?width=360']);
    assert.equal(pictures.calls[1].init.headers['X-Velmora-Token'], 'ab'.repeat(16));
});

test('refusals become errors with the status and the engine\'s message', async () => {
    const api = new Api('t'.repeat(32), {
        fetchImpl: fakeFetch((url) => {
            if (url.endsWith('/camx')) {
                return respond(409, { error: 'camx was changed elsewhere (revision 5)', revision: 5 });
            }
            if (url.endsWith('/state')) {
                return respond(503, 'not json', 'Service Unavailable');
            }
            return respond(200, '{broken');
        }).fetchImpl,
    });
    await assert.rejects(api.putTrack('camx', 3, []), (e) => e instanceof ApiError && e.status === 409 &&
        e.message === 'camx was changed elsewhere (revision 5)' && e.body.revision === 5);
    await assert.rejects(api.state(), (e) => e.status === 503 && e.message === '503 Service Unavailable');
    await assert.rejects(api.tracks(), (e) => e.status === 200 && /not JSON/.test(e.message), 'a garbled answer is not a success');
});

test('an engine that is gone or silent is status 0', async () => {
    const down = new Api('x', { fetchImpl: async () => { throw new TypeError('Failed to fetch'); } });
    await assert.rejects(down.state(), (e) => e.status === 0 && /not reachable/.test(e.message));
    const silent = new Api('x', {
        timeoutMs: 20,
        fetchImpl: (url, init) => new Promise((resolve, reject) => {
            init.signal.addEventListener('abort', () => reject(Object.assign(new Error('aborted'), { name: 'AbortError' })));
        }),
    });
    await assert.rejects(silent.state(), (e) => e.status === 0 && /no answer in time/.test(e.message));
});

test('the token comes from the page address, and only a plausible one', () => {
    assert.equal(tokenFromLocation('?token=0123456789abcdef0123456789abcdef'), '0123456789abcdef0123456789abcdef');
    assert.equal(tokenFromLocation(''), null);
    assert.equal(tokenFromLocation('?token='), null);
    assert.equal(tokenFromLocation('?token=<script>'), null);
    assert.equal(tokenFromLocation('?other=1'), null);
});

test('the playhead moves on between state events, wraps in the loop and stops at the end', () => {
    const p = new Playhead();
    p.update({ row: 100, playing: false, rowsPerSecond: 24, lengthRows: 4352, loop: null }, 1000);
    assert.equal(p.row(5000), 100, 'paused: held');
    p.update({ row: 100, playing: true }, 1000);
    assert.equal(p.row(1250), 106);
    assert.equal(p.row(900), 100, 'never backwards');
    assert.equal(p.row(9000), 112, 'at most half a second of guessing');
    p.update({ row: 250, loop: { from: 200, to: 256 } }, 0);
    assert.equal(p.row(500), 206);
    p.update({ row: 4350, loop: null }, 0);
    assert.equal(p.row(500), 4352);
});
