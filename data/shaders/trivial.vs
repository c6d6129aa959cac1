#version 330
// Full-screen pass: the quad's clip-space position at location 0, handed on unchanged.
// uv is the position mapped to 0..1 for fragment stages that want it; the effect stages compute
// their texel coordinates from gl_FragCoord and textureSize instead, which is exact per pixel.

layout(location = 0) in vec3 position;

out vec2 uv;

void main() {
    uv = position.xy * 0.5 + 0.5;
    gl_Position = vec4(position, 1.0);
}
