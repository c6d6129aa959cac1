// Value scales of the curve view: each track's range, the range growing under a dragged key, and
// values snapped to a precision an author can type back.

// The range that shows values lo..hi with a margin; a flat track gets a unit around its value.
export function paddedRange(lo, hi) {
    if (!Number.isFinite(lo) || !Number.isFinite(hi)) {
        return { lo: -1, hi: 1 };
    }
    if (hi - lo < 1e-6 * Math.max(1, Math.abs(lo), Math.abs(hi))) {
        const half = Math.max(1, Math.abs(lo) * 0.1);
        return { lo: lo - half, hi: hi + half };
    }
    const pad = (hi - lo) * 0.08;
    return { lo: lo - pad, hi: hi + pad };
}

// The range, grown to show `value` (with a margin) when it lies outside.
export function growRange(range, value) {
    if (!Number.isFinite(value) || (value >= range.lo && value <= range.hi)) {
        return range;
    }
    const span = range.hi - range.lo;
    return value > range.hi ? { lo: range.lo, hi: value + span * 0.05 } : { lo: value - span * 0.05, hi: range.hi };
}

// The automatic precision for a range: a power of ten giving 100 to 1000 steps over it.
export function autoStep(range) {
    const span = Math.abs(range.hi - range.lo);
    if (!(span > 0) || !Number.isFinite(span)) {
        return 1;
    }
    return Math.pow(10, Math.floor(Math.log10(span / 100)));
}

// `value` rounded to a multiple of `step`, written with no more decimals than the step has, as
// the 32-bit float a track holds. A step of 0 or less leaves the value as it is.
export function snapValue(value, step) {
    if (!(step > 0) || !Number.isFinite(value)) {
        return Math.fround(value);
    }
    const decimals = Math.max(0, Math.min(20, -Math.floor(Math.log10(step) + 1e-9)));
    const snapped = Number((Math.round(value / step) * step).toFixed(decimals));
    return Math.fround(Object.is(snapped, -0) ? 0 : snapped);
}
