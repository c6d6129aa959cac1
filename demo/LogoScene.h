// The one scene of the show: three particle clouds (background dust, heart, fetus) drawn into an
// off-screen layer and run through bleh, feedback, directional blur and the final pass.
//
// The constructor loads everything the scene ever uses (sprite, point clouds, 35 sync tracks, five
// framebuffers of the picture's size, four passes); nothing is loaded or resized later. update()
// builds the camera and uploads the music spectrum; draw() renders the chain and leaves the base
// target (the window) bound. Every animated value comes from a sync track read at the sync device's
// current row; the size, the device and the spectrum come from the ShowInputs it is given.
// reset() puts the scene back into the state of a freshly built one (clocks, frame parity,
// feedback trails) without loading anything again.
#pragma once

#include "demo/ParticleContainer.h"
#include "demo/ShowInputs.h"
#include "engine/Framebuffer.h"
#include "engine/FullscreenPass.h"
#include "engine/Scene.h"
#include "engine/Texture.h"
#include "sync/SyncTrack.h"

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

namespace Demo {

// The camera rotation of the last update (process-wide; identity until the first update).
extern glm::mat4 orientation;

class LogoScene : public Velmora::Scene {
public:
    static constexpr int spectrumSize = 512;

    explicit LogoScene(const ShowInputs& inputs);
    ~LogoScene() override;

    void update(double dt) override;
    void draw() override;
    void reset() override;
    void setClocks(const Velmora::SceneClocks& clocks) override;
    // The feedback pair (both textures, RGBA), the background cloud's "particlesize" (its scaled
    // draw uses the previous frame's value), the frame count and the clocks.
    std::vector<uint8_t> carriedState() override;
    std::string restoreCarriedState(const std::vector<uint8_t>& bytes) override;

    // Point-cloud readers (see demo/PointCloud.h); they use no scene state.
    static std::vector<glm::vec3> readBParticles(const char* path);
    static std::vector<glm::vec3> readTextParticles(const char* path);

    // Inspection, for tools and tests.
    float elapsedTime() const { return elapsed; }
    int32_t frames() const { return frameCount; }
    const float* spectrumValues() const { return spectrum.get(); }
    ParticleContainer& backgroundCloud() { return background; }
    ParticleContainer& heartCloud() { return heart; }
    ParticleContainer& fetusCloud() { return fetus; }
    Velmora::FullscreenPass& blehStage() { return blehPass; }
    Velmora::FullscreenPass& feedbackStage() { return feedbackPass; }
    Velmora::FullscreenPass& dirblurStage() { return dirblurPass; }
    Velmora::FullscreenPass& postprocStage() { return postprocPass; }
    Velmora::Framebuffer* sceneLayer() const { return sceneTarget.get(); }
    Velmora::Framebuffer* processedLayer() const { return processedTarget.get(); }
    Velmora::Framebuffer* blurLayer() const { return blurTarget.get(); }
    Velmora::Framebuffer* feedbackFirst() const { return feedbackA.get(); }
    Velmora::Framebuffer* feedbackSecond() const { return feedbackB.get(); }
    Velmora::Texture& spectrumImage() { return spectrumTexture; }

    LogoScene(const LogoScene&) = delete;
    LogoScene& operator=(const LogoScene&) = delete;

    // Spectrum bin picked by the "fftCoef" track: truncated toward zero and kept inside the
    // array (NaN picks bin 0).
    static int spectrumBin(double coefficient);

private:
    ShowInputs inputs;
    float elapsed;
    std::unique_ptr<float[]> spectrum;
    Velmora::Texture particleTexture;
    Velmora::Texture spectrumTexture;
    ParticleContainer background;
    ParticleContainer heart;
    ParticleContainer fetus;

    Velmora::SyncTrack camx;
    Velmora::SyncTrack camy;
    Velmora::SyncTrack camz;
    Velmora::SyncTrack fov;
    Velmora::SyncTrack xrot;
    Velmora::SyncTrack yrot;
    Velmora::SyncTrack zrot;
    Velmora::SyncTrack noisex;
    Velmora::SyncTrack noisey;
    Velmora::SyncTrack noisez;
    Velmora::SyncTrack bgParticleScale;
    Velmora::SyncTrack addconst;
    Velmora::SyncTrack fftCoef;
    Velmora::SyncTrack fftScale;
    Velmora::SyncTrack fftMin;
    Velmora::SyncTrack fftCHannel; // bound (its file is loaded) but read by nothing
    Velmora::SyncTrack showRiro;
    Velmora::SyncTrack sikio;
    Velmora::SyncTrack distR;
    Velmora::SyncTrack distSeed;
    Velmora::SyncTrack vhsConst;
    Velmora::SyncTrack feye;
    Velmora::SyncTrack logoConst;
    Velmora::SyncTrack sykinta;
    Velmora::SyncTrack feedbackAmount;
    Velmora::SyncTrack feedbackMultiplier;
    Velmora::SyncTrack macroblocksize;
    Velmora::SyncTrack brightness;
    Velmora::SyncTrack hue;
    Velmora::SyncTrack saturation;
    Velmora::SyncTrack feedbacktype;
    Velmora::SyncTrack additionwhite;
    Velmora::SyncTrack darken;
    Velmora::SyncTrack particlesize;
    Velmora::SyncTrack backgroundparticles;

    std::unique_ptr<Velmora::Framebuffer> sceneTarget;
    std::unique_ptr<Velmora::Framebuffer> processedTarget;
    std::unique_ptr<Velmora::Framebuffer> blurTarget;
    Velmora::FullscreenPass feedbackPass;
    std::unique_ptr<Velmora::Framebuffer> feedbackA;
    std::unique_ptr<Velmora::Framebuffer> feedbackB;
    int32_t frameCount;
    Velmora::FullscreenPass blehPass;
    Velmora::FullscreenPass dirblurPass;
    Velmora::FullscreenPass postprocPass;

    // The uniforms every frame sets, named once per program when the scene is made: a frame sets
    // them through handles (no name copied or searched); they stay valid when a program reloads.
    using Uniform = Velmora::ShaderProgram::Uniform;
    struct CloudUniforms {
        Uniform animated, fisheye, colormask, particlesize, frame;
    };
    struct BlehUniforms {
        Uniform tex, addconst, time;
    };
    struct FeedbackUniforms {
        Uniform mode, itime, bufferw, fromtex, inputtex, fa, multiplier, macroSize;
    };
    struct DirblurUniforms {
        Uniform inputtex, invx, invy, wa, wb, wc, logoConst;
    };
    struct PostprocUniforms {
        Uniform inputtex, fftChannel, fftCoef, fftScale, fftMin, whiteCoef, darken, brightness, distR,
            distSeed, vhsConst, hueshift, saturation, time;
    };
    void nameUniforms();
    CloudUniforms backgroundUniforms;
    CloudUniforms heartUniforms;
    CloudUniforms fetusUniforms;
    BlehUniforms blehUniforms;
    FeedbackUniforms feedbackUniforms;
    DirblurUniforms dirblurUniforms;
    PostprocUniforms postprocUniforms;
};

static_assert(!std::is_copy_constructible<LogoScene>::value, "LogoScene owns GL resources");

} // namespace Demo
