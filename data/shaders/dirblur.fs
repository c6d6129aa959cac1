#version 330
// Directional blur: two five-tap blurs, one along x and one along y, added on top of the picture
// as a cross-shaped glint around every bright spot.
//
// Uniforms
//   inputtex   sampler on unit 0: the feedback result.
//   invx       tap step along x in texture coordinates (4 / width: four pixels).
//   invy       tap step along y in texture coordinates (4 / height).
//   wa, wc, wb kernel weights: wa for the taps two steps out, wc one step out, wb the centre tap;
//              each blur is (wa, wc, wb, wc, wa) normalised. The program sends 0.25, 0.5, 1.25.
//   logoConst  strength of the glint: 0 = off (the picture passes unchanged), 0.5 soft,
//              1 strong, 2 blown out; negative values carve the glint out (sharper, darker edges).

uniform sampler2D inputtex;
uniform float invx;
uniform float invy;
uniform float wa;
uniform float wb;
uniform float wc;
uniform float logoConst;

out vec4 fragColor;

ivec2 size;

vec3 at(ivec2 p) { return texelFetch(inputtex, clamp(p, ivec2(0), size - 1), 0).rgb; }

void main() {
    size = textureSize(inputtex, 0);
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    // The steps as whole pixels (the texture is sampled texel by texel).
    ivec2 stepX = ivec2(int(floor(invx * float(size.x) + 0.5)), 0);
    ivec2 stepY = ivec2(0, int(floor(invy * float(size.y) + 0.5)));

    vec3 base = at(pixel);
    vec3 nearTaps = at(pixel + stepX) + at(pixel - stepX) + at(pixel + stepY) + at(pixel - stepY);
    vec3 farTaps = at(pixel + 2 * stepX) + at(pixel - 2 * stepX) + at(pixel + 2 * stepY) + at(pixel - 2 * stepY);
    // Both five-tap blurs (wa, wc, wb, wc, wa) averaged: the centre counts in each.
    float total = wb + 2.0 * (wc + wa);
    vec3 glint = abs(total) > 1e-6 ? (wb * base + 0.5 * (wc * nearTaps + wa * farTaps)) / total : vec3(0.0);
    fragColor = vec4(max(base + logoConst * glint, 0.0), 1.0);
}
