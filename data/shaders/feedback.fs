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

float hash(vec2 p) { return fract(sin(dot(p, vec2(127.1, 311.7))) * 43758.5453); }

vec2 rotate(vec2 p, float a) {
    float c = cos(a);
    float s = sin(a);
    return vec2(c * p.x - s * p.y, s * p.x + c * p.y);
}

// Folds a centred, aspect-corrected point into one of six mirrored wedges.
vec2 kaleido(vec2 p, float spin) {
    const float wedge = 1.0471976; // 2 pi / 6
    float r = length(p);
    float a = atan(p.y, p.x) + spin;
    a = mod(a, wedge);
    a = abs(a - 0.5 * wedge);
    return r * vec2(cos(a), sin(a));
}

void main() {
    vec2 size = vec2(textureSize(inputtex, 0));
    vec2 st = gl_FragCoord.xy / size;
    float width = bufferw > 0.0 ? bufferw : size.x;
    float aspect = width / size.y;
    float keep = clamp(fa * multiplier, 0.0, 0.985);

    vec3 current;
    vec3 previous;

    if (mode == 1) {
        current = texture(inputtex, st).rgb;
        vec2 p = (st - 0.5) * vec2(aspect, 1.0);
        p = rotate(p, 0.006 + 0.005 * sin(itime * 0.37)) * 0.982;
        previous = texture(fromtex, p / vec2(aspect, 1.0) + 0.5).rgb;
        // A slow drift of hue along the trails: a little of each channel leaks into the next.
        previous = mix(previous, previous.brg, 0.06);
    } else if (mode == 2) {
        float edge = max(macroSize, 2.0) * width / 1280.0;
        vec2 block = floor(gl_FragCoord.xy / edge);
        float tick = floor(itime * 12.0);
        float pick = hash(block + vec2(tick * 7.13, tick * 3.31));
        vec2 motion = vec2(hash(block * 1.7 + tick), hash(block * 2.3 - tick)) - 0.5;
        vec2 offset = pick > 0.55 ? motion * 2.0 * edge / size : vec2(0.0);
        current = texture(inputtex, st).rgb;
        previous = texture(fromtex, st + offset).rgb;
        if (pick > 0.93 && keep > 0.0) {
            // A frozen block: the old picture stays, undecayed, and hides the new layer.
            fragColor = vec4(previous, 1.0);
            return;
        }
    } else if (mode == 3) {
        vec2 p = (st - 0.5) * vec2(aspect, 1.0);
        vec2 folded = kaleido(p, itime * 0.1) / vec2(aspect, 1.0) + 0.5;
        current = texture(inputtex, folded).rgb;
        previous = texture(fromtex, (st - 0.5) * 0.99 + 0.5).rgb;
    } else {
        current = texture(inputtex, st).rgb;
        previous = texture(fromtex, st).rgb;
    }

    // Decay, minus one 8-bit step so that faint trails cannot get stuck by rounding.
    previous = max(previous * keep - 1.0 / 255.0, 0.0);
    vec3 blended = 1.0 - (1.0 - clamp(current, 0.0, 1.0)) * (1.0 - previous);
    fragColor = vec4(blended, 1.0);
}
