#include "demo/ParticleContainer.h"

#include "base/Logger.h"
#include "engine/FrameClock.h"
#include "engine/VertexArray.h"

#include <glm/gtc/type_ptr.hpp>

namespace Demo {

namespace {

// One unit quad, a triangle strip centred on the particle.
const float quadVertices[12] = {
    -0.5f, -0.5f, 0.0f, //
    0.5f,  -0.5f, 0.0f, //
    -0.5f, 0.5f,  0.0f, //
    0.5f,  0.5f,  0.0f,
};

void upload(Velmora::BufferObject& buffer, const std::vector<glm::vec3>& points) {
    buffer.bind(GL_ARRAY_BUFFER);
    buffer.setData(static_cast<GLsizeiptr>(points.size() * sizeof(glm::vec3)), points.data(), GL_STATIC_DRAW);
}

static_assert(sizeof(glm::vec3) == 12, "points are uploaded tightly packed");

} // namespace

ParticleContainer::ParticleContainer(Velmora::Texture* texture)
    : texture(texture), modelMatrix(1.0f), viewMatrix(1.0f), projectionMatrix(1.0f), clock(0.0),
      quadBuffer(GL_ARRAY_BUFFER), particleBuffer(GL_ARRAY_BUFFER), targetBuffer(GL_ARRAY_BUFFER),
      shaderProgram("./data/shaders/particle.fs", "./data/shaders/particle.vs", Velmora::FromFile),
      timeUniform(shaderProgram.uniform("iGlobalTime")), spriteUniform(shaderProgram.uniform("particleTex")),
      modelUniform(shaderProgram.uniform("M")), viewUniform(shaderProgram.uniform("V")),
      projectionUniform(shaderProgram.uniform("P")) {
    quadBuffer.bind(GL_ARRAY_BUFFER);
    quadBuffer.setData(sizeof(quadVertices), quadVertices, GL_STATIC_DRAW);
}

ParticleContainer::~ParticleContainer() = default;

void ParticleContainer::addParticle(const glm::vec3& p) {
    // Copy first: p may refer to an element that the append moves.
    const glm::vec3 copy = p;
    particles.push_back(copy);
}

void ParticleContainer::addTargetParticle(const glm::vec3& p) {
    const glm::vec3 copy = p;
    targets.push_back(copy);
}

void ParticleContainer::setModel(glm::mat4 m) {
    modelMatrix = m;
}

void ParticleContainer::setView(glm::mat4 m) {
    viewMatrix = m;
}

void ParticleContainer::setProjection(glm::mat4 m) {
    projectionMatrix = m;
}

void ParticleContainer::streamParticles() {
    Velmora::Logger::instance().debug("Streaming..");
    upload(particleBuffer, particles);
    if (targets.empty()) {
        Velmora::Logger::instance().plain("NO VITTU");
        upload(targetBuffer, particles);
    } else {
        // Every instance reads one target: a short target list would send the GPU past the end of
        // the buffer. The missing targets are the particles' own positions (they stay put).
        for (size_t i = targets.size(); i < particles.size(); ++i) {
            targets.push_back(particles[i]);
        }
        Velmora::Logger::instance().plain("jee");
        upload(targetBuffer, targets);
    }
    streamedCount = particles.size();
}

void ParticleContainer::update(double dt) {
    clock = Velmora::advanceParticleClock(clock, dt);
    shaderProgram.use();
    shaderProgram.setUniform1f(timeUniform, static_cast<float>(clock));
    shaderProgram.setUniform1i(spriteUniform, 1);
    shaderProgram.setUniformMatrix4fv(viewUniform, 1, GL_FALSE, glm::value_ptr(viewMatrix));
}

void ParticleContainer::draw() {
    Velmora::VertexArray& vertexArray = Velmora::VertexArray::instance();
    shaderProgram.use();

    Velmora::BufferObject* buffers[3] = {&quadBuffer, &particleBuffer, &targetBuffer};
    for (GLuint location = 0; location < 3; ++location) {
        vertexArray.enableAttribute(location);
        buffers[location]->bind(GL_ARRAY_BUFFER);
        vertexArray.attributePointer(location, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    }
    vertexArray.attributeDivisor(0, 0);
    vertexArray.attributeDivisor(1, 1);
    vertexArray.attributeDivisor(2, 1);

    shaderProgram.setUniformMatrix4fv(modelUniform, 1, GL_FALSE, glm::value_ptr(modelMatrix));
    shaderProgram.setUniformMatrix4fv(viewUniform, 1, GL_FALSE, glm::value_ptr(viewMatrix));
    shaderProgram.setUniformMatrix4fv(projectionUniform, 1, GL_FALSE, glm::value_ptr(projectionMatrix));

    // Particles added after the last streamParticles() are not on the GPU yet: never ask for more
    // instances than the buffers hold.
    const size_t instances = particles.size() < streamedCount ? particles.size() : streamedCount;
    glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, static_cast<GLsizei>(instances));

    for (GLuint location = 0; location < 3; ++location) {
        vertexArray.attributeDivisor(location, 0);
    }
    for (GLuint location = 0; location < 3; ++location) {
        vertexArray.disableAttribute(location);
    }
}

} // namespace Demo
