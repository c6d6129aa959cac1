// One cloud of particles, drawn as camera-facing sprites with a single instanced draw call.
//
// Each particle has a position and a target position (the particle shader blends between them for
// animated clouds). The lists are filled once, sent to the GPU once by streamParticles(), and then
// only uniforms change per frame. The container owns its buffers and its shader program
// ("./data/shaders/particle.fs" + "particle.vs"); it does not own or bind the sprite texture: the
// scene binds it on unit 1 before drawing. Instancing state (enabled arrays, divisors) is put back
// after every draw so that later draws see none of it.
#pragma once

#include "engine/BufferObject.h"
#include "engine/Renderable.h"
#include "engine/ShaderProgram.h"
#include "engine/Texture.h"

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include <cstddef>
#include <type_traits>
#include <vector>

namespace Demo {

class ParticleContainer : public Velmora::Renderable {
public:
    explicit ParticleContainer(Velmora::Texture* texture);
    ~ParticleContainer();

    // Instanced draw of the whole cloud with the last streamed buffers.
    void draw() override;

    virtual void addParticle(const glm::vec3& p);
    virtual void addTargetParticle(const glm::vec3& p);
    virtual void setModel(glm::mat4 m);
    virtual void setView(glm::mat4 m);
    virtual void setProjection(glm::mat4 m);
    // Uploads both lists. Without targets the particles are uploaded as their own targets; a
    // target list shorter than the particle list is first padded with the particles' own
    // positions, so that no instance reads past the target buffer.
    virtual void streamParticles();
    // Advances the clock and sets "iGlobalTime", "particleTex" and "V".
    virtual void update(double dt);
    // Puts the clock back to 0.
    void resetClock() { clock = 0.0; }
    void setClock(double seconds) { clock = seconds; }

    Velmora::ShaderProgram* program() { return &shaderProgram; }

    const std::vector<glm::vec3>& particleList() const { return particles; }
    const std::vector<glm::vec3>& targetList() const { return targets; }
    Velmora::Texture* spriteTexture() const { return texture; }
    const glm::mat4& model() const { return modelMatrix; }
    const glm::mat4& view() const { return viewMatrix; }
    const glm::mat4& projection() const { return projectionMatrix; }
    double time() const { return clock; }
    GLuint particleBufferId() const { return particleBuffer.id(); }
    GLuint targetBufferId() const { return targetBuffer.id(); }

    ParticleContainer(const ParticleContainer&) = delete;
    ParticleContainer& operator=(const ParticleContainer&) = delete;

private:
    std::vector<glm::vec3> particles;
    std::vector<glm::vec3> targets;
    Velmora::Texture* texture;
    glm::mat4 modelMatrix;
    glm::mat4 viewMatrix;
    glm::mat4 projectionMatrix;
    double clock;
    Velmora::BufferObject quadBuffer;
    Velmora::BufferObject particleBuffer;
    Velmora::BufferObject targetBuffer;
    Velmora::ShaderProgram shaderProgram;
    // The uniforms update and draw set, named once.
    Velmora::ShaderProgram::Uniform timeUniform;
    Velmora::ShaderProgram::Uniform spriteUniform;
    Velmora::ShaderProgram::Uniform modelUniform;
    Velmora::ShaderProgram::Uniform viewUniform;
    Velmora::ShaderProgram::Uniform projectionUniform;
    // Particles (and as many targets) in the buffers since the last streamParticles().
    std::size_t streamedCount = 0;
};

static_assert(!std::is_copy_constructible<ParticleContainer>::value, "ParticleContainer owns GL names");

} // namespace Demo
