// Particle container against a real GL context: instancing, attribute discipline, streaming.
#include "DemoTestSupport.h"

#include "demo/ParticleContainer.h"
#include "engine/Framebuffer.h"
#include "engine/Texture.h"

#include <GL/glew.h>
#include <glm/gtc/matrix_transform.hpp>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

// Triangles a draw produced: two per instance of the four-vertex strip.
GLuint primitivesOf(Demo::ParticleContainer& container) {
    GLuint query = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_PRIMITIVES_GENERATED, query);
    container.draw();
    glEndQuery(GL_PRIMITIVES_GENERATED);
    GLuint count = 0;
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &count);
    glDeleteQueries(1, &query);
    return count;
}

std::vector<glm::vec3> bufferPoints(GLuint buffer) {
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    GLint bytes = 0;
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &bytes);
    std::vector<glm::vec3> points(static_cast<size_t>(bytes) / sizeof(glm::vec3));
    if (!points.empty()) {
        glGetBufferSubData(GL_ARRAY_BUFFER, 0, bytes, points.data());
    }
    return points;
}

std::string captureStream(Demo::ParticleContainer& container) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    container.streamParticles();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

class ParticleContainerTest : public ::testing::Test {
protected:
    DemoTest::DataFolder data;
    Velmora::Texture sprite{GL_TEXTURE_2D};
};

TEST_F(ParticleContainerTest, StreamsWithoutTargetsAsTheirOwnTargets) {
    Demo::ParticleContainer cloud(&sprite);
    EXPECT_EQ(cloud.spriteTexture(), &sprite);
    EXPECT_EQ(cloud.model(), glm::mat4(1.0f));
    const std::vector<glm::vec3> points = {{1, 2, 3}, {-1, 0.5f, 4}, {0, 0, -2}};
    for (const glm::vec3& p : points) {
        cloud.addParticle(p);
    }
    EXPECT_EQ(captureStream(cloud), "DEBUG - Streaming..\nNO VITTU\n");
    EXPECT_EQ(bufferPoints(cloud.particleBufferId()), points);
    EXPECT_EQ(bufferPoints(cloud.targetBufferId()), points);
    EXPECT_TRUE(cloud.targetList().empty());
    EXPECT_EQ(primitivesOf(cloud), 6u);
}

TEST_F(ParticleContainerTest, ShortTargetListIsPaddedWithTheParticlesOwnPositions) {
    Demo::ParticleContainer cloud(&sprite);
    for (int i = 0; i < 5; ++i) {
        cloud.addParticle(glm::vec3(static_cast<float>(i), 0, 0));
    }
    cloud.addTargetParticle(glm::vec3(0, 9, 0));
    cloud.addTargetParticle(glm::vec3(1, 9, 0));
    EXPECT_EQ(captureStream(cloud), "DEBUG - Streaming..\njee\n");
    const std::vector<glm::vec3> expected = {{0, 9, 0}, {1, 9, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}};
    EXPECT_EQ(bufferPoints(cloud.targetBufferId()), expected);
    EXPECT_EQ(primitivesOf(cloud), 10u);

    // A longer target list is uploaded whole; only as many instances as particles are drawn.
    Demo::ParticleContainer longer(&sprite);
    longer.addParticle(glm::vec3(1));
    for (int i = 0; i < 4; ++i) {
        longer.addTargetParticle(glm::vec3(static_cast<float>(i)));
    }
    EXPECT_EQ(captureStream(longer), "DEBUG - Streaming..\njee\n");
    EXPECT_EQ(bufferPoints(longer.targetBufferId()).size(), 4u);
    EXPECT_EQ(primitivesOf(longer), 2u);
}

TEST_F(ParticleContainerTest, AppendingAnElementOfTheSameListIsSafe) {
    Demo::ParticleContainer cloud(&sprite);
    cloud.addParticle(glm::vec3(7, 8, 9));
    for (int i = 0; i < 100; ++i) {
        cloud.addParticle(cloud.particleList()[0]);
        cloud.addTargetParticle(cloud.particleList().back());
    }
    EXPECT_EQ(cloud.particleList().back(), glm::vec3(7, 8, 9));
    EXPECT_EQ(cloud.targetList().back(), glm::vec3(7, 8, 9));
}

TEST_F(ParticleContainerTest, DrawLeavesNoInstancingStateAndDrawsOnlyWhatWasStreamed) {
    Demo::ParticleContainer cloud(&sprite);
    EXPECT_EQ(captureStream(cloud), "DEBUG - Streaming..\nNO VITTU\n");
    EXPECT_EQ(primitivesOf(cloud), 0u);

    cloud.addParticle(glm::vec3(0));
    cloud.addParticle(glm::vec3(1));
    captureStream(cloud);
    // Added after streaming: not on the GPU yet, so not drawn (the buffers hold two points).
    cloud.addParticle(glm::vec3(2));
    EXPECT_EQ(primitivesOf(cloud), 4u);

    for (GLuint location = 0; location < 3; ++location) {
        GLint enabled = -1;
        GLint divisor = -1;
        glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
        glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_DIVISOR, &divisor);
        EXPECT_EQ(enabled, 0) << location;
        EXPECT_EQ(divisor, 0) << location;
    }
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(static_cast<GLuint>(current), cloud.program()->id());
}

TEST_F(ParticleContainerTest, UniformsFollowTheClockAndMatrices) {
    Demo::ParticleContainer cloud(&sprite);
    Velmora::ShaderProgram* program = cloud.program();
    GLint linked = 0;
    glGetProgramiv(program->id(), GL_LINK_STATUS, &linked);
    ASSERT_EQ(linked, GL_TRUE);

    glm::mat4 view(1.0f);
    view[3] = glm::vec4(1, 2, 3, 1);
    cloud.setView(view);
    float value[16] = {};
    // setView alone sends nothing.
    glGetUniformfv(program->id(), program->uniformLocation("V"), value);
    EXPECT_EQ(value[12], 0.0f);

    cloud.update(0.5);
    cloud.update(0.25);
    EXPECT_DOUBLE_EQ(cloud.time(), 0.75);
    glGetUniformfv(program->id(), program->uniformLocation("iGlobalTime"), value);
    EXPECT_FLOAT_EQ(value[0], 0.75f);
    GLint unit = -1;
    glGetUniformiv(program->id(), program->uniformLocation("particleTex"), &unit);
    EXPECT_EQ(unit, 1);
    glGetUniformfv(program->id(), program->uniformLocation("V"), value);
    EXPECT_EQ(value[12], 1.0f);
    EXPECT_EQ(value[14], 3.0f);

    glm::mat4 model(2.0f);
    glm::mat4 projection(1.0f);
    projection[2][3] = -1.0f;
    cloud.setModel(model);
    cloud.setProjection(projection);
    captureStream(cloud);
    cloud.draw();
    glGetUniformfv(program->id(), program->uniformLocation("M"), value);
    EXPECT_EQ(value[0], 2.0f);
    glGetUniformfv(program->id(), program->uniformLocation("P"), value);
    EXPECT_EQ(value[11], -1.0f);
}

TEST_F(ParticleContainerTest, SpritesLandWhereTheParticlesAre) {
    // One particle straight ahead, drawn into a small target: the centre lights up, a corner not.
    std::unique_ptr<Velmora::Framebuffer> target(Velmora::Framebuffer::create(1, 64, 64, true));
    Velmora::Texture dot("./data/img/foo.png", GL_TEXTURE_2D, true);
    Demo::ParticleContainer cloud(&dot);
    cloud.addParticle(glm::vec3(0, 0, -3));
    captureStream(cloud);
    Velmora::ShaderProgram* program = cloud.program();
    program->use();
    program->setUniform4f("colormask", 1, 1, 1, 1);
    program->setUniform1f("particlesize", 1.0f);
    program->setUniform1i("animated", 0);
    cloud.setProjection(glm::perspective(glm::radians(60.0f), 1.0f, 0.1f, 10.0f));
    cloud.update(0.0);

    target->bind();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    // The texture is recorded as bound (on unit 0) since its construction: release it first so that
    // binding it on unit 1 reaches GL.
    dot.unbind();
    dot.setUnit(1);
    dot.bind();
    cloud.draw();
    dot.unbind();
    glDisable(GL_BLEND);
    unsigned char centre[4] = {};
    unsigned char corner[4] = {};
    glReadPixels(32, 32, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, centre);
    glReadPixels(1, 1, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, corner);
    target->unbind();
    EXPECT_GT(centre[0], 60);
    EXPECT_EQ(corner[0], 0);
}

} // namespace

int main(int argc, char** argv) {
    return DemoTest::runGlTests(argc, argv, 320, 180);
}
