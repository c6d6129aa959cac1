// The colours the canvases draw with, in one place, and the contrast arithmetic (WCAG 2) the
// tests hold them to: text at least 4.5:1 against every background it is drawn on.

export const GRID = Object.freeze({
    background: '#15171c',
    beatShade: '#1a1d24',
    beatLine: '#262a33',
    barLine: '#3d4452',
    gutter: '#101216',
    gutterText: '#8a93a6',
    barText: '#eef1f6',
    header: '#1d2027',
    headerText: '#d9dee8',
    key: '#f2f5fa',
    evaluated: '#a8b0c1',
    playhead: 'rgba(255, 196, 64, 0.1)',
    playheadLine: '#ffc440',
    cursor: '#5fb3ff',
    selection: 'rgba(95, 179, 255, 0.15)',
    loop: 'rgba(120, 220, 140, 0.6)',
    failed: '#ff6b6b',
    saving: '#e9c46a',
    dropMarker: '#5fb3ff',
    interpolation: Object.freeze({ constant: '#aab2c2', linear: '#6cbaff', smoothstep: '#7bd88f', quadratic: '#ffa557' }),
});

export const TIMELINE = Object.freeze({
    background: '#101216',
    wave: '#4f7fae',
    tick: '#3d4452',
    label: '#a3abbc',
    visible: 'rgba(95, 179, 255, 0.12)',
    loopFill: 'rgba(120, 220, 140, 0.18)',
    loopEdge: 'rgba(120, 220, 140, 0.9)',
    dragText: '#eef1f6',
    dragBox: '#0b0d10',
    playhead: '#ffc440',
    focus: '#5fb3ff',
});

export const CURVE = Object.freeze({
    background: '#111318',
    lane: '#15181e',
    laneLine: '#2a2f3a',
    beat: '#1e2129',
    bar: '#2f3541',
    label: '#a3abbc',
    playhead: '#ffc440',
    handleEdge: '#111318',
    hot: '#ffffff',
    tracks: Object.freeze(['#5fb3ff', '#ffa557', '#7bd88f', '#e66ff0', '#ffd75f', '#6ff0e0', '#ff6f8a', '#b59cff']),
});

// [r, g, b, a] of '#rrggbb' or 'rgba(r, g, b, a)'.
export function parseColour(text) {
    const hex = /^#([0-9a-f]{6})$/i.exec(text);
    if (hex) {
        const v = parseInt(hex[1], 16);
        return [(v >> 16) & 255, (v >> 8) & 255, v & 255, 1];
    }
    const rgba = /^rgba?\(\s*(\d+),\s*(\d+),\s*(\d+)(?:,\s*([\d.]+))?\s*\)$/.exec(text);
    if (rgba) {
        return [Number(rgba[1]), Number(rgba[2]), Number(rgba[3]), rgba[4] === undefined ? 1 : Number(rgba[4])];
    }
    throw new Error(`not a colour: ${text}`);
}

// `over` (possibly translucent) painted on the opaque `under`, as '#rrggbb'.
export function blend(over, under) {
    const [r, g, b, a] = parseColour(over);
    const [R, G, B] = parseColour(under);
    const mix = (x, y) => Math.round(x * a + y * (1 - a));
    return `#${[mix(r, R), mix(g, G), mix(b, B)].map((v) => v.toString(16).padStart(2, '0')).join('')}`;
}

function luminance(colour) {
    const [r, g, b] = parseColour(colour).slice(0, 3).map((v) => {
        const c = v / 255;
        return c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
    });
    return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}

// The WCAG contrast ratio of two opaque colours (1 to 21).
export function contrast(a, b) {
    const [hi, lo] = [luminance(a), luminance(b)].sort((x, y) => y - x);
    return (hi + 0.05) / (lo + 0.05);
}
