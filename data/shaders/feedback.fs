#version 330
// Feedback: combines the new layer with the previous frame's result (screen blend, so highlights
// stay below white). The previous image loses a little every frame, so trails always fade out.
//
// Uniforms
//   fromtex     sampler on unit 0: the previous frame's feedback image.
//   inputtex    sampler on unit 1: the new layer (the bleh result).
//   mode        0 = smooth trails: the previous frame stays where it was.
//               1 = tunnel: the previous frame is zoomed in and turned a little every frame, so
//                   trails stream outwards from the centre, spiralling, with a slow hue drift.
//               2 = macroblock glitch: the picture is cut into blocks of "macroSize" pixels; some
//                   blocks drag the previous frame along a random motion vector, a few freeze
//                   it outright (datamosh); the pattern changes twelve times a second.
//               3 = kaleidoscope: the new layer and the trails are folded six-fold around the
//                   centre, slowly turning.
//               Any other value behaves as 0.
//   fa          feedback amount, how much of the previous frame survives each frame:
//               0 = none (no trails), 0.5 short trails, 0.9 long trails.
//   multiplier  gain on fa: 1 = fa as is, 0 = trails off, > 1 lengthens them; the product
//               fa * multiplier is clamped to 0..0.985.
//   macroSize   block edge for mode 2 in pixels of a 1280-wide picture (scaled with the width);
//               8..64 look right; below 2 counts as 2.
//   itime       scene clock in seconds: the tunnel's turn, the kaleidoscope's spin and the glitch
//               pattern.
//   bufferw     width of the picture in pixels (for the aspect ratio and the block scale).

uniform sampler2D fromtex;
uniform sampler2D inputtex;
uniform int mode;
uniform float fa;
uniform float multiplier;
uniform float macroSize;
uniform float itime;
uniform float bufferw;

out vec4 fragColor;

// Hash of a grid cell to 0..1 from float arithmetic only (no sine, no integer multiply: both
// are slow on software rasterisers).
float hash(vec2 cell) {
    vec3 p = fract(vec3(cell.xyx) * 0.1031);
    p += dot(p, p.yzx + 33.33);
    return fract((p.x + p.y) * p.z);
}

// Folds a centred, aspect-corrected point into the 30-degree wedge of a six-fold mirror
// symmetry, with reflections only: first quadrant, then across the 60- and 30-degree lines.
vec2 kaleido(vec2 p) {
    const vec2 across60 = vec2(-0.8660254, 0.5);
    const vec2 across30 = vec2(-0.5, 0.8660254);
    p = abs(p);
    p -= 2.0 * max(dot(p, across60), 0.0) * across60;
    p -= 2.0 * max(dot(p, across30), 0.0) * across30;
    return p;
}

// Nearest texel at a texture coordinate, clamped at the edges (texelFetch is cheaper than
// texture() on software rasterisers, and the targets are sampled nearest anyway).
vec3 at(sampler2D image, vec2 st, vec2 size) {
    return texelFetch(image, clamp(ivec2(floor(st * size)), ivec2(0), ivec2(size) - 1), 0).rgb;
}

void main() {
    vec2 size = vec2(textureSize(inputtex, 0));
    vec2 st = gl_FragCoord.xy / size;
    float width = bufferw > 0.0 ? bufferw : size.x;
    vec2 aspect = vec2(width / size.y, 1.0);
    float keep = clamp(fa * multiplier, 0.0, 0.985);

    // Every mode only moves the two sampling points; the two fetches are shared, so the cost
    // stays the same whichever mode runs.
    vec2 currentAt = st;
    vec2 previousAt = st;
    float hueLeak = 0.0;
    bool frozen = false;

    float angle = mode == 1 ? 0.006 + 0.005 * sin(itime * 0.37) : itime * 0.1;
    mat2 turn = mat2(cos(angle), sin(angle), -sin(angle), cos(angle));
    vec2 centred = (st - 0.5) * aspect;

    if (mode == 1) {
        // Zoomed in and turned a little each frame; a slow drift of hue along the trails.
        previousAt = turn * centred * 0.982 / aspect + 0.5;
        hueLeak = 0.06;
    } else if (mode == 2) {
        float edge = max(macroSize, 2.0) * width / 1280.0;
        vec2 block = floor(gl_FragCoord.xy / edge);
        float tick = floor(itime * 12.0);
        float pick = hash(block + vec2(tick * 7.0, tick * 3.0));
        vec2 motion = vec2(hash(block * 3.0 + tick), hash(block * 5.0 - tick)) - 0.5;
        previousAt = st + (pick > 0.55 ? motion * 2.0 * edge / size : vec2(0.0));
        frozen = pick > 0.93 && keep > 0.0;
    } else if (mode == 3) {
        currentAt = kaleido(turn * centred) / aspect + 0.5;
        previousAt = (st - 0.5) * 0.99 + 0.5;
    }

    vec3 current = at(inputtex, currentAt, size);
    vec3 previous = at(fromtex, previousAt, size);
    if (frozen) {
        // A frozen block: the old picture stays, undecayed, and hides the new layer.
        fragColor = vec4(previous, 1.0);
        return;
    }
    previous = mix(previous, previous.brg, hueLeak);
    // Decay, minus one 8-bit step so that faint trails cannot get stuck by rounding.
    previous = max(previous * keep - 1.0 / 255.0, 0.0);
    vec3 blended = 1.0 - (1.0 - clamp(current, 0.0, 1.0)) * (1.0 - previous);
    fragColor = vec4(blended, 1.0);
}
