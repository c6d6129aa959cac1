#version 330
// First treatment of the particle layer: a soft halo around every bright spot, plus an optional
// faint tinted haze over the whole picture.
//
// Uniforms
//   tex          sampler on unit 1: the particle layer.
//   addconst     haze added everywhere, in colour units: 0 = none, 0.05 a faint nebula glow,
//                0.3 a milky fog; strongest in the middle of the picture, slowly drifting.
//                It also feeds the feedback trails, so small values go a long way there.
//   iGlobalTime  scene clock in seconds: drifts the haze and slowly breathes the halo's hue
//                between ice blue and rose.

uniform sampler2D tex;
uniform float addconst;
uniform float iGlobalTime;

out vec4 fragColor;

// Eight taps on a ring of 3 pixels, every other one pushed out to 6: a cheap soft halo.
const ivec2 ring[8] = ivec2[8](ivec2(3, 1), ivec2(2, 6), ivec2(-1, 3), ivec2(-6, 2),
                               ivec2(-3, -1), ivec2(-2, -6), ivec2(1, -3), ivec2(6, -2));

void main() {
    ivec2 size = textureSize(tex, 0);
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    vec3 base = texelFetch(tex, pixel, 0).rgb;

    vec3 halo = vec3(0.0);
    for (int i = 0; i < 8; i++) {
        halo += texelFetch(tex, clamp(pixel + ring[i], ivec2(0), size - 1), 0).rgb;
    }
    halo *= 0.125;

    float breath = 0.5 + 0.5 * sin(iGlobalTime * 0.21);
    vec3 haloTint = mix(vec3(0.55, 0.8, 1.0), vec3(1.0, 0.62, 0.85), breath);

    // Haze: a couple of slow interfering waves under a centre-weighted falloff.
    vec2 q = (gl_FragCoord.xy / vec2(size) - 0.5) * vec2(float(size.x) / float(size.y), 1.0);
    float waves = 0.6 + 0.2 * sin(q.x * 3.1 + iGlobalTime * 0.13) +
                  0.2 * sin(q.y * 4.3 - iGlobalTime * 0.09 + q.x * 1.7);
    float falloff = clamp(1.0 - 0.9 * dot(q, q), 0.0, 1.0);
    vec3 haze = addconst * waves * falloff * vec3(0.55, 0.62, 0.78);

    fragColor = vec4(base + halo * haloTint * 0.7 + haze, 1.0);
}
