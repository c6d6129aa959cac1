#version 330
// Final pass onto the window: spectrum pulse, VHS distortion, colour grading, grain.
// Every parameter is neutral at 0 (a track without keys leaves the picture untouched).
//
// Uniforms
//   inputtex         sampler on unit 1: the blurred picture.
//   fftChannel       spectrum magnitude of the chosen bin (sent by the program).
//   fftMin           threshold: magnitudes below it give no pulse.
//   fftScale         pulse gain: pulse = max(fftChannel - fftMin, 0) * fftScale; 0 = no pulse.
//                    A pulse of 1 brightens by 100%, zooms in 4% and lights the edges.
//   fftCoef          the bin index the magnitude came from (0..511): colours the edge light,
//                    warm amber for low bins, cold blue for high ones.
//   wexmoorpostcoef  white added to every pixel: 0 = none, 1 = a full white flash.
//   darken           fade to black: the final colour is multiplied by (1 - darken);
//                    0 = unchanged, 1 = black. Applied last.
//   brightness       exposure in stops: colour * 2^brightness; 0 = unchanged, 1 = twice as bright,
//                    -1 = half.
//   distR            VHS line jitter: each scanline shifts sideways by up to this fraction of the
//                    width; 0 = none, 0.005 subtle, 0.05 torn.
//   distSeed         picks the jitter pattern; moving it (a ramp, or a new value per beat)
//                    animates the jitter; every step of 0.01 re-rolls the pattern.
//   vhsConst         VHS look: 0 = clean; 1 = full (red/blue channels smeared apart, scanlines,
//                    a rolling tracking band, heavier noise).
//   hueshift         hue rotation in turns: 0 = none, 0.33 red to green, 1 = full circle.
//   saturation       0 = unchanged, -1 = greyscale, 1 = twice as saturated.
//   time             scene clock in seconds: animates the grain and the tracking band.

uniform sampler2D inputtex;
uniform float fftChannel;
uniform float fftCoef;
uniform float fftScale;
uniform float fftMin;
uniform float wexmoorpostcoef;
uniform float darken;
uniform float brightness;
uniform float distR;
uniform float distSeed;
uniform float vhsConst;
uniform float hueshift;
uniform float saturation;
uniform float time;

out vec4 fragColor;

// Hash of a grid cell to 0..1 from float arithmetic only (no sine, no integer multiply: both
// are slow on software rasterisers).
float hash(vec2 cell) {
    vec3 p = fract(vec3(cell.xyx) * 0.1031);
    p += dot(p, p.yzx + 33.33);
    return fract((p.x + p.y) * p.z);
}

ivec2 size;

// Nearest texel at a texture coordinate, clamped at the edges (texelFetch is cheaper than
// texture() on software rasterisers, and the target is sampled nearest anyway).
vec4 at(vec2 st) { return texelFetch(inputtex, clamp(ivec2(floor(st * vec2(size))), ivec2(0), size - 1), 0); }

// Rotation about the grey axis (1, 1, 1): turns the hue, keeps the luminance roughly.
vec3 rotateHue(vec3 c, float turns) {
    float a = turns * 6.2831853;
    const vec3 k = vec3(0.57735026);
    float cosA = cos(a);
    return c * cosA + cross(k, c) * sin(a) + k * dot(k, c) * (1.0 - cosA);
}

void main() {
    size = textureSize(inputtex, 0);
    vec2 st = gl_FragCoord.xy / vec2(size);
    float vhs = clamp(vhsConst, 0.0, 1.0);

    // Spectrum pulse.
    float pulse = clamp(max(fftChannel - fftMin, 0.0) * fftScale, 0.0, 4.0);
    st = 0.5 + (st - 0.5) * (1.0 - 0.04 * min(pulse, 1.0));

    // VHS: scanline jitter, stronger inside a tracking band that rolls down the picture.
    // Effects that are off are branched around (the conditions depend on uniforms only).
    float line = floor(gl_FragCoord.y * 0.5);
    float frame = floor(time * 30.0);
    if (distR != 0.0) {
        st.x += 2.0 * distR * (hash(vec2(line, floor(distSeed * 100.0))) - 0.5);
    }
    float band = 0.0;
    if (vhs > 0.0) {
        band = vhs * smoothstep(0.06, 0.0, abs(fract(st.y + time * 0.07) - 0.5));
        st.x += band * 0.01 * (hash(vec2(line, frame)) - 0.5);
    }

    // Red and blue smear apart with the VHS amount.
    vec2 split = vec2(vhs * 3.0 / float(size.x), 0.0);
    vec3 color;
    color.r = at(st + split).r;
    color.g = at(st).g;
    color.b = at(st - split).b;

    // Pulse: brighter, and a coloured light around the edges.
    vec3 pulseTint = mix(vec3(1.0, 0.55, 0.2), vec3(0.25, 0.55, 1.0), clamp(fftCoef / 511.0, 0.0, 1.0));
    vec2 centred = st - 0.5;
    color = color * (1.0 + pulse) + pulseTint * pulse * 0.25 * dot(centred, centred) * 4.0;

    // Grading.
    if (hueshift != 0.0) {
        color = rotateHue(color, hueshift);
    }
    float luma = dot(color, vec3(0.2126, 0.7152, 0.0722));
    color = max(mix(vec3(luma), color, 1.0 + saturation), 0.0);
    color *= exp2(brightness);
    color += vec3(wexmoorpostcoef);

    // Scanlines, noise in the tracking band, fine grain and a soft vignette.
    color *= 1.0 - vhs * 0.18 * (0.5 + 0.5 * sin(gl_FragCoord.y * 3.1415927));
    float noise = hash(gl_FragCoord.xy + vec2(frame * 113.0, frame * 71.0));
    color += (noise - 0.5) * (0.035 + 0.08 * vhs + 0.3 * band);
    color *= 1.0 - 0.35 * dot(centred, centred);

    color *= 1.0 - darken;
    fragColor = vec4(clamp(color, 0.0, 1.0), 1.0);
}
