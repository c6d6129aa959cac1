#version 330
// Particle sprites: one camera-facing quad per particle, drawn instanced.
//
// Attributes
//   location 0  quad corner, -0.5..0.5 in x and y (per vertex)
//   location 1  particle position, model space (per instance)
//   location 2  target position, model space (per instance; equals the position where a cloud has
//               no targets)
//
// Uniforms
//   M, V, P       model, view and projection matrices.
//   animated      1 = the particle sits between its position and its target, blended by "frame";
//                 0 = it stays at its position.
//   frame         heartbeat phase for animated clouds: 0 = at the position (relaxed heart),
//                 1 = at the target (contracted heart); clamped to 0..1. While animated the cloud
//                 also glows up to 35% brighter towards 1, so the beat reads as a pulse.
//   fisheye       radial bend of the view: 0 = none; > 0 pushes particles off the view axis
//                 outwards, the more the further off-axis they are (wide-angle bulge, 0.3 subtle,
//                 2 strong); < 0 pulls them towards the centre (barrel, -0.5 strong).
//   particlesize  sprite edge length in world units: 0 = invisible, 0.05..0.1 fine dust,
//                 0.3 and up big soft blobs.
//   iGlobalTime   the cloud's clock in seconds: a gentle per-particle twinkle (about +-25%).

layout(location = 0) in vec3 corner;
layout(location = 1) in vec3 position;
layout(location = 2) in vec3 target;

uniform mat4 M;
uniform mat4 V;
uniform mat4 P;
uniform int animated;
uniform float frame;
uniform float fisheye;
uniform float particlesize;
uniform float iGlobalTime;

out vec2 spriteUV;
out float intensity;

float hash(float n) { return fract(sin(n) * 43758.5453); }

void main() {
    vec3 p = position;
    float pulse = 1.0;
    if (animated == 1) {
        float phase = clamp(frame, 0.0, 1.0);
        p = mix(position, target, phase);
        pulse = 1.0 + 0.35 * phase;
    }

    vec4 eye = V * M * vec4(p, 1.0);

    // Radial warp in view space: the off-axis distance is measured as a slope (x/z, y/z) so that
    // the bend depends on where the particle appears on screen, not on how far away it is.
    float depth = max(-eye.z, 0.05);
    vec2 slope = eye.xy / depth;
    eye.xy *= max(1.0 + fisheye * dot(slope, slope), 0.0);

    // The sprite faces the camera: its corner offset is added in view space.
    eye.xy += corner.xy * particlesize;
    gl_Position = P * eye;

    spriteUV = corner.xy + 0.5;

    float seed = hash(float(gl_InstanceID) * 0.6180339 + 1.0);
    float twinkle = 0.75 + 0.25 * sin(iGlobalTime * (1.3 + 2.7 * seed) + 6.2831853 * hash(seed * 91.7));
    // Sprites right in front of the lens would cover the screen: fade them out near the camera.
    float nearFade = smoothstep(0.15, 0.8, -eye.z);
    intensity = twinkle * pulse * nearFade;
}
