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

vec3 blurAlong(vec2 st, vec2 step) {
    vec3 sum = wb * texture(inputtex, st).rgb;
    sum += wc * (texture(inputtex, st + step).rgb + texture(inputtex, st - step).rgb);
    sum += wa * (texture(inputtex, st + 2.0 * step).rgb + texture(inputtex, st - 2.0 * step).rgb);
    float total = wb + 2.0 * (wc + wa);
    return abs(total) > 1e-6 ? sum / total : vec3(0.0);
}

void main() {
    vec2 st = gl_FragCoord.xy / vec2(textureSize(inputtex, 0));
    vec3 base = texture(inputtex, st).rgb;
    vec3 glint = 0.5 * (blurAlong(st, vec2(invx, 0.0)) + blurAlong(st, vec2(0.0, invy)));
    fragColor = vec4(max(base + logoConst * glint, 0.0), 1.0);
}
