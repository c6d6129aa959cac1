#version 330
// Particle sprites, drawn with additive blending (source alpha, one).
//
// Uniforms
//   particleTex  sampler on unit 1: the sprite image; its alpha gives the soft round shape and its
//                colour is multiplied with the tint.
//   colormask    rgb = tint and brightness of the cloud (0 = invisible, 1 = full sprite colour;
//                the sprites add up, so dense clouds saturate above about 0.5);
//                a = opacity multiplier (1 = as is).

uniform sampler2D particleTex;
uniform vec4 colormask;

in vec2 spriteUV;
in float intensity;

out vec4 fragColor;

void main() {
    vec4 sprite = texture(particleTex, spriteUV);
    float alpha = sprite.a * intensity * colormask.a;
    if (alpha < 0.002) {
        discard;
    }
    fragColor = vec4(sprite.rgb * colormask.rgb, alpha);
}
