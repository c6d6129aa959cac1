#include "demo/LogoScene.h"

#include "demo/PointCloud.h"

#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/noise.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace Demo {

// Rule: only LogoScene::update writes it.
glm::mat4 orientation(1.0f);

namespace {

// The show's angles are converted with this value of pi.
constexpr float showPi = 3.141f;

// A track value truncated toward zero as an int uniform; NaN gives 0 and values beyond the int
// range saturate instead of being undefined.
int truncateToInt(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);
}

float toFloat(double value) {
    return static_cast<float>(value);
}

Velmora::Framebuffer* makeTarget(const ShowInputs& inputs) {
    return Velmora::Framebuffer::create(1, inputs.width, inputs.height, true);
}

// Binds a texture on a unit (the unit becomes the active one).
void bindOnUnit(Velmora::Texture* texture, int unit) {
    texture->setUnit(unit);
    texture->bind();
}

// The carried state's bytes: a tag, the picture's size, then the fields in this order.
constexpr char stateTag[8] = {'V', 'M', 'S', 'T', 'A', 'T', 'E', '1'};

template <typename T> void put(std::vector<uint8_t>& bytes, const T& value) {
    const auto* at = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), at, at + sizeof value);
}

template <typename T> bool take(const std::vector<uint8_t>& bytes, size_t& offset, T& value) {
    if (bytes.size() - offset < sizeof value) {
        return false;
    }
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    offset += sizeof value;
    return true;
}

// GL bindings put back as they were when it goes out of scope: the state is read and written
// between frames, behind the engine's own binding records.
struct BindingsKept {
    GLint readFramebuffer = 0;
    GLint packBuffer = 0;
    GLint unpackBuffer = 0;
    GLint texture = 0;
    GLint packAlignment = 4;
    GLint unpackAlignment = 4;
    BindingsKept() {
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readFramebuffer);
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &packBuffer);
        glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &unpackBuffer);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
        glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &unpackAlignment);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    }
    ~BindingsKept() {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(readFramebuffer));
        glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(packBuffer));
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(unpackBuffer));
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
        glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
        glPixelStorei(GL_UNPACK_ALIGNMENT, unpackAlignment);
    }
    BindingsKept(const BindingsKept&) = delete;
    BindingsKept& operator=(const BindingsKept&) = delete;
};

} // namespace

std::vector<glm::vec3> LogoScene::readBParticles(const char* path) {
    return readBinaryPointCloud(path);
}

std::vector<glm::vec3> LogoScene::readTextParticles(const char* path) {
    return readTextPointCloud(path);
}

int LogoScene::spectrumBin(double coefficient) {
    return std::clamp(truncateToInt(coefficient), 0, spectrumSize - 1);
}

LogoScene::LogoScene(const ShowInputs& showInputs)
    : inputs(showInputs), elapsed(0.0f), spectrum(new float[spectrumSize]()),
      particleTexture("./data/img/foo.png", GL_TEXTURE_2D, true), spectrumTexture(GL_TEXTURE_2D),
      background(&particleTexture), heart(&particleTexture), fetus(&particleTexture),
      camx(*inputs.sync, "camx"), camy(*inputs.sync, "camy"), camz(*inputs.sync, "camz"),
      fov(*inputs.sync, "fov"), xrot(*inputs.sync, "xrot"), yrot(*inputs.sync, "yrot"),
      zrot(*inputs.sync, "zrot"), noisex(*inputs.sync, "noisex"), noisey(*inputs.sync, "noisey"),
      noisez(*inputs.sync, "noisez"), bgParticleScale(*inputs.sync, "bgParticleScale"),
      addconst(*inputs.sync, "addconst"), fftCoef(*inputs.sync, "fftCoef"),
      fftScale(*inputs.sync, "fftScale"), fftMin(*inputs.sync, "fftMin"),
      fftCHannel(*inputs.sync, "fftCHannel"), showRiro(*inputs.sync, "showRiro"),
      sikio(*inputs.sync, "sikio"), distR(*inputs.sync, "distR"), distSeed(*inputs.sync, "distSeed"),
      vhsConst(*inputs.sync, "vhsConst"), feye(*inputs.sync, "feye"), logoConst(*inputs.sync, "logoConst"),
      sykinta(*inputs.sync, "sykinta"), feedbackAmount(*inputs.sync, "feedbackAmount"),
      feedbackMultiplier(*inputs.sync, "feedbackMultiplier"), macroblocksize(*inputs.sync, "Macroblocksize"),
      brightness(*inputs.sync, "brightness"), hue(*inputs.sync, "hue"),
      saturation(*inputs.sync, "saturation"), feedbacktype(*inputs.sync, "feedbacktype"),
      additionwhite(*inputs.sync, "additionwhite"), darken(*inputs.sync, "darken"),
      particlesize(*inputs.sync, "particlesize"), backgroundparticles(*inputs.sync, "backgroundparticles"),
      sceneTarget(makeTarget(inputs)), processedTarget(makeTarget(inputs)), blurTarget(makeTarget(inputs)),
      feedbackPass("./data/shaders/feedback.fs"), feedbackA(makeTarget(inputs)),
      feedbackB(makeTarget(inputs)), frameCount(0), blehPass("./data/shaders/bleh.fs"),
      dirblurPass("./data/shaders/dirblur.fs"), postprocPass("./data/shaders/postproc.fs") {
    std::vector<glm::vec3> jooh = readTextParticles("./data/raw/jooh.txt");
    std::vector<glm::vec3> heartRelaxed = readBParticles("./data/raw/heart_1.bin");
    std::vector<glm::vec3> heartContracted = readBParticles("./data/raw/heart_2.bin");
    std::vector<glm::vec3> fetusPoints = readBParticles("./data/raw/fetus_512.bin");

    for (const glm::vec3& p : jooh) {
        background.addParticle(p * 25.0f);
    }
    for (const glm::vec3& p : heartRelaxed) {
        heart.addParticle(p * 65.0f);
    }
    for (const glm::vec3& p : heartContracted) {
        heart.addTargetParticle(p * 65.0f);
    }
    for (const glm::vec3& p : fetusPoints) {
        fetus.addParticle(p * 65.0f);
        fetus.addTargetParticle(p * 65.0f);
    }

    // Placeholder matrices: update() replaces view and projection, draw() the model matrix.
    const glm::mat4 view =
        glm::lookAt(glm::vec3(0.0f, 0.0f, -1.0f), glm::vec3(0.0f), glm::vec3(0.0f, 1.0f, 0.0f));
    const glm::mat4 projection = glm::perspective(glm::radians(45.0f), 16.0f / 9.0f, 0.01f, 100.0f);
    for (ParticleContainer* cloud : {&background, &heart, &fetus}) {
        cloud->streamParticles();
        cloud->setModel(glm::mat4(1.0f));
        cloud->setView(view);
        cloud->setProjection(projection);
    }
    nameUniforms();
}

void LogoScene::nameUniforms() {
    auto cloud = [](Velmora::ShaderProgram& program) {
        return CloudUniforms{program.uniform("animated"), program.uniform("fisheye"),
                             program.uniform("colormask"), program.uniform("particlesize"),
                             program.uniform("frame")};
    };
    backgroundUniforms = cloud(*background.program());
    heartUniforms = cloud(*heart.program());
    fetusUniforms = cloud(*fetus.program());
    Velmora::ShaderProgram& bleh = blehPass.program();
    blehUniforms = BlehUniforms{bleh.uniform("tex"), bleh.uniform("addconst"), bleh.uniform("iGlobalTime")};
    Velmora::ShaderProgram& feedback = feedbackPass.program();
    feedbackUniforms = FeedbackUniforms{feedback.uniform("mode"),       feedback.uniform("itime"),
                                        feedback.uniform("bufferw"),    feedback.uniform("fromtex"),
                                        feedback.uniform("inputtex"),   feedback.uniform("fa"),
                                        feedback.uniform("multiplier"), feedback.uniform("macroSize")};
    Velmora::ShaderProgram& dirblur = dirblurPass.program();
    dirblurUniforms =
        DirblurUniforms{dirblur.uniform("inputtex"), dirblur.uniform("invx"), dirblur.uniform("invy"),
                        dirblur.uniform("wa"),       dirblur.uniform("wb"),   dirblur.uniform("wc"),
                        dirblur.uniform("logoConst")};
    Velmora::ShaderProgram& postproc = postprocPass.program();
    postprocUniforms = PostprocUniforms{
        postproc.uniform("inputtex"),   postproc.uniform("fftChannel"), postproc.uniform("fftCoef"),
        postproc.uniform("fftScale"),   postproc.uniform("fftMin"),     postproc.uniform("wexmoorpostcoef"),
        postproc.uniform("darken"),     postproc.uniform("brightness"), postproc.uniform("distR"),
        postproc.uniform("distSeed"),   postproc.uniform("vhsConst"),   postproc.uniform("hueshift"),
        postproc.uniform("saturation"), postproc.uniform("time")};
}

LogoScene::~LogoScene() = default;

void LogoScene::reset() {
    elapsed = 0.0f;
    frameCount = 0;
    orientation = glm::mat4(1.0f);
    std::fill(spectrum.get(), spectrum.get() + spectrumSize, 0.0f);
    for (ParticleContainer* cloud : {&background, &heart, &fetus}) {
        cloud->resetClock();
    }
    // The scaled background draw reads the size uniform the previous frame left; a new program
    // starts with 0.
    background.program()->use();
    background.program()->setUniform1f(backgroundUniforms.particlesize, 0.0f);
    // New framebuffers start transparent black; the feedback pair carries the trails.
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    for (const auto* target : {&sceneTarget, &processedTarget, &blurTarget, &feedbackA, &feedbackB}) {
        (*target)->bind();
        (*target)->unbind();
    }
}

void LogoScene::setClocks(const Velmora::SceneClocks& clocks) {
    elapsed = clocks.scene;
    // Only the parity of the count matters (which of the pair is written).
    frameCount = static_cast<int32_t>(clocks.steps % 2);
    for (ParticleContainer* cloud : {&background, &heart, &fetus}) {
        cloud->setClock(clocks.particles);
    }
}

std::vector<uint8_t> LogoScene::carriedState() {
    const size_t pictureBytes = static_cast<size_t>(inputs.width) * static_cast<size_t>(inputs.height) * 4;
    std::vector<uint8_t> bytes(sizeof stateTag);
    std::memcpy(bytes.data(), stateTag, sizeof stateTag);
    bytes.reserve(64 + 2 * pictureBytes);
    put(bytes, static_cast<int32_t>(inputs.width));
    put(bytes, static_cast<int32_t>(inputs.height));
    put(bytes, static_cast<int32_t>(frameCount % 2));
    put(bytes, elapsed);
    for (ParticleContainer* cloud : {&background, &heart, &fetus}) {
        put(bytes, cloud->time());
    }
    GLfloat size = 0.0f;
    Velmora::ShaderProgram* program = background.program();
    glGetUniformfv(program->id(), program->uniformLocation("particlesize"), &size);
    put(bytes, size);
    BindingsKept kept;
    for (Velmora::Framebuffer* target : {feedbackA.get(), feedbackB.get()}) {
        const size_t at = bytes.size();
        bytes.resize(at + pictureBytes);
        target->readColor(bytes.data() + at);
    }
    return bytes;
}

std::string LogoScene::restoreCarriedState(const std::vector<uint8_t>& bytes) {
    const size_t pictureBytes = static_cast<size_t>(inputs.width) * static_cast<size_t>(inputs.height) * 4;
    if (bytes.size() < sizeof stateTag || std::memcmp(bytes.data(), stateTag, sizeof stateTag) != 0) {
        return "not a saved state of this show";
    }
    size_t offset = sizeof stateTag;
    int32_t width = 0, height = 0, parity = 0;
    float clock = 0.0f, size = 0.0f;
    double particleClocks[3] = {0.0, 0.0, 0.0};
    if (!take(bytes, offset, width) || !take(bytes, offset, height) || !take(bytes, offset, parity) ||
        !take(bytes, offset, clock) || !take(bytes, offset, particleClocks) || !take(bytes, offset, size)) {
        return "the saved state is cut short";
    }
    if (width != inputs.width || height != inputs.height) {
        return "the saved state is of a " + std::to_string(width) + "x" + std::to_string(height) +
               " picture, not " + std::to_string(inputs.width) + "x" + std::to_string(inputs.height);
    }
    if (bytes.size() - offset != 2 * pictureBytes) {
        return "the saved state holds " + std::to_string(bytes.size()) + " bytes, not " +
               std::to_string(offset + 2 * pictureBytes);
    }
    Velmora::ShaderProgram* program = background.program();
    program->use();
    program->setUniform1f("particlesize", size);
    BindingsKept kept;
    for (Velmora::Framebuffer* target : {feedbackA.get(), feedbackB.get()}) {
        glBindTexture(GL_TEXTURE_2D, target->colorTexture(0)->id());
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, inputs.width, inputs.height, GL_RGBA, GL_UNSIGNED_BYTE,
                        bytes.data() + offset);
        offset += pictureBytes;
    }
    return "";
}

void LogoScene::update(double dt) {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    elapsed = Velmora::advanceSceneClock(elapsed, dt);
    const float t = elapsed;

    background.update(dt);
    heart.update(dt);
    fetus.update(dt);

    // Slow wobble: one noise field sampled at three far-apart places, amplitudes in degrees.
    const double nx = glm::simplex(glm::vec2(0.5f * t + 243.4f, 0.2f * t + 4234.5f));
    const double ny = glm::simplex(glm::vec2(0.5f * t + 3.4f, 0.14f * t + 42234.5f));
    const double nz = glm::simplex(glm::vec2(0.2f * t + 43.4f, 0.1f * t + 424.5f));
    const float jx = toFloat(noisex.value() * nx);
    const float jy = toFloat(noisey.value() * ny);
    const float jz = toFloat(noisez.value() * nz);

    const float ax = toFloat(xrot.value()) * showPi / 180.0f + jx * showPi / 180.0f;
    const float ay = toFloat(yrot.value()) * showPi / 180.0f + jy * showPi / 180.0f;
    const float az = toFloat(zrot.value()) * showPi / 180.0f + jz * showPi / 180.0f;

    const glm::mat4 identity(1.0f);
    const glm::mat4 rx = glm::rotate(identity, ax, glm::vec3(1.0f, 0.0f, 0.0f));
    const glm::mat4 ry = glm::rotate(identity, ay, glm::vec3(0.0f, 1.0f, 0.0f));
    const glm::mat4 rz = glm::rotate(identity, az, glm::vec3(0.0f, 0.0f, 1.0f));
    orientation = rz * ry * rx;

    const glm::vec3 forward(orientation * glm::vec4(0.0f, 0.0f, 1.0f, 0.0f));
    const glm::vec3 up(orientation * glm::vec4(0.0f, 1.0f, 0.0f, 0.0f));

    const double x = camx.value();
    const double y = camy.value();
    const double z = camz.value();
    const glm::vec3 eye(toFloat(x), toFloat(y), toFloat(z));
    const glm::vec3 centre(toFloat(x + forward.x), toFloat(y + forward.y), toFloat(z + forward.z));

    const glm::mat4 view = glm::lookAt(eye, centre, up);
    const float fovy = toFloat(fov.value()) * showPi / 180.0f;
    const glm::mat4 projection = glm::perspective(fovy, 16.0f / 9.0f, 0.1f, 100.0f);

    background.setView(view);
    background.setProjection(projection);
    heart.setView(view);
    heart.setProjection(projection);
    fetus.setView(view);
    fetus.setProjection(projection);

    // A failed fetch leaves the previous spectrum (zeros before the first one).
    if (inputs.spectrum) {
        inputs.spectrum(spectrum.get());
    }
    spectrumTexture.bind();
    // 510 texels: the two highest bins are left out.
    spectrumTexture.texImage2D(GL_TEXTURE_2D, 0, GL_R16F, 510, 1, 0, GL_RED, GL_FLOAT, spectrum.get());
    spectrumTexture.setParameter(GL_TEXTURE_WRAP_S, GL_MIRRORED_REPEAT);
    spectrumTexture.setParameter(GL_TEXTURE_WRAP_T, GL_MIRRORED_REPEAT);
    spectrumTexture.setParameter(GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    spectrumTexture.setParameter(GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glGenerateMipmap(GL_TEXTURE_2D);
}

void LogoScene::draw() {
    // Feedback roles: W is written this frame and read back as R by the next one.
    const int32_t n = frameCount;
    Velmora::Framebuffer* write = (n % 2 != 0) ? feedbackA.get() : feedbackB.get();
    Velmora::Framebuffer* read = (n % 2 != 0) ? feedbackB.get() : feedbackA.get();
    frameCount = n + 1;

    const float bg = toFloat(bgParticleScale.value());

    // Innermost last: each unbind below pops to the next stage's target.
    blurTarget->bind();
    write->bind();
    processedTarget->bind();
    sceneTarget->bind();

    // Particles, additively blended.
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    particleTexture.setUnit(1);
    particleTexture.bind();

    Velmora::ShaderProgram* program = background.program();
    const CloudUniforms* uniforms = &backgroundUniforms;
    program->use();
    program->setUniform1i(uniforms->animated, 0);
    program->setUniform1f(uniforms->fisheye, toFloat(feye.value()));
    program->setUniform4f(uniforms->colormask, toFloat(bg * 0.9), toFloat(bg * 0.9), toFloat(bg * 0.95),
                          1.0f);
    background.setModel(glm::scale(glm::mat4(1.0f), glm::vec3(5.0f, 5.0f, 5.0f)));
    if (backgroundparticles.value() >= 0.0) {
        // "particlesize" is still the value of the unscaled draw of the previous frame.
        background.draw();
    }
    program->setUniform4f(uniforms->colormask, 1.0f, 1.0f, 1.0f, 1.0f);
    program->setUniform1f(uniforms->particlesize, toFloat(particlesize.value()));
    background.setModel(glm::mat4(1.0f));
    background.draw();

    const double riro = showRiro.value();
    if (riro > 0.0) {
        program = heart.program();
        uniforms = &heartUniforms;
        program->use();
        const float u = toFloat(riro);
        program->setUniform4f(uniforms->colormask, toFloat(u * 0.5), toFloat(u * 0.95), toFloat(u * 0.75),
                              1.0f);
        program->setUniform1f(uniforms->particlesize, toFloat(particlesize.value() * 0.5));
        program->setUniform1f(uniforms->frame, toFloat(sykinta.value()));
        program->setUniform1i(uniforms->animated, 1);
        heart.setModel(glm::mat4(1.0f));
        heart.draw();
    }

    const double sik = sikio.value();
    if (sik > 0.0) {
        program = fetus.program();
        uniforms = &fetusUniforms;
        program->use();
        const float s = toFloat(sik);
        program->setUniform4f(uniforms->colormask, toFloat(s * 0.5), toFloat(s * 0.95), toFloat(s * 0.75),
                              1.0f);
        program->setUniform1f(uniforms->particlesize, toFloat(particlesize.value() * 0.5));
        program->setUniform1i(uniforms->animated, 0);
        fetus.setModel(glm::mat4(1.0f));
        fetus.draw();
    }

    particleTexture.unbind();
    sceneTarget->unbind();
    glDisable(GL_BLEND);

    // Bleh into processedTarget.
    Velmora::ShaderProgram& bleh = blehPass.program();
    bleh.use();
    Velmora::Texture* layer = sceneTarget->colorTexture(0);
    bindOnUnit(layer, 1);
    bleh.setUniform1i(blehUniforms.tex, 1);
    bleh.setUniform1f(blehUniforms.addconst, toFloat(addconst.value()));
    bleh.setUniform1f(blehUniforms.time, elapsed);
    blehPass.draw();
    layer->unbind();
    processedTarget->unbind();

    // Feedback into W, reading R and the bleh result.
    Velmora::ShaderProgram& feedback = feedbackPass.program();
    feedback.use();
    feedback.setUniform1i(feedbackUniforms.mode, truncateToInt(feedbacktype.value()));
    feedback.setUniform1f(feedbackUniforms.itime, elapsed);
    feedback.setUniform1f(feedbackUniforms.bufferw, static_cast<float>(inputs.width));
    bindOnUnit(read->colorTexture(0), 0);
    feedback.setUniform1i(feedbackUniforms.fromtex, 0);
    bindOnUnit(processedTarget->colorTexture(0), 1);
    feedback.setUniform1i(feedbackUniforms.inputtex, 1);
    feedback.setUniform1f(feedbackUniforms.fa, toFloat(feedbackAmount.value()));
    feedback.setUniform1f(feedbackUniforms.multiplier, toFloat(feedbackMultiplier.value()));
    feedback.setUniform1f(feedbackUniforms.macroSize, toFloat(macroblocksize.value()));
    feedbackPass.draw();
    write->unbind();

    // Directional blur into blurTarget.
    Velmora::ShaderProgram& dirblur = dirblurPass.program();
    dirblur.use();
    bindOnUnit(write->colorTexture(0), 0);
    dirblur.setUniform1i(dirblurUniforms.inputtex, 0);
    dirblur.setUniform1f(dirblurUniforms.invx,
                         toFloat(4.0 / static_cast<double>(static_cast<float>(inputs.width))));
    dirblur.setUniform1f(dirblurUniforms.invy,
                         toFloat(4.0 / static_cast<double>(static_cast<float>(inputs.height))));
    dirblur.setUniform1f(dirblurUniforms.wa, 0.25f);
    dirblur.setUniform1f(dirblurUniforms.wb, 1.25f);
    dirblur.setUniform1f(dirblurUniforms.wc, 0.5f);
    dirblur.setUniform1f(dirblurUniforms.logoConst, toFloat(logoConst.value()));
    dirblurPass.draw();
    blurTarget->unbind();

    // Final pass onto the window.
    Velmora::ShaderProgram& postproc = postprocPass.program();
    postproc.use();
    bindOnUnit(blurTarget->colorTexture(0), 1);
    postproc.setUniform1i(postprocUniforms.inputtex, 1);
    const double coefficient = fftCoef.value();
    postproc.setUniform1f(postprocUniforms.fftChannel, spectrum[spectrumBin(coefficient)]);
    postproc.setUniform1f(postprocUniforms.fftCoef, toFloat(coefficient));
    postproc.setUniform1f(postprocUniforms.fftScale, toFloat(fftScale.value()));
    postproc.setUniform1f(postprocUniforms.fftMin, toFloat(fftMin.value()));
    postproc.setUniform1f(postprocUniforms.whiteCoef, toFloat(additionwhite.value()));
    postproc.setUniform1f(postprocUniforms.darken, toFloat(darken.value()));
    postproc.setUniform1f(postprocUniforms.brightness, toFloat(brightness.value()));
    postproc.setUniform1f(postprocUniforms.distR, toFloat(distR.value()));
    postproc.setUniform1f(postprocUniforms.distSeed, toFloat(distSeed.value()));
    postproc.setUniform1f(postprocUniforms.vhsConst, toFloat(vhsConst.value()));
    postproc.setUniform1f(postprocUniforms.hueshift, toFloat(hue.value()));
    postproc.setUniform1f(postprocUniforms.saturation, toFloat(saturation.value()));
    postproc.setUniform1f(postprocUniforms.time, elapsed);
    postprocPass.draw();
}

} // namespace Demo
