#include "demo/ShowData.h"

#include "engine/FullscreenPass.h"
#include "sync/SyncDevice.h"

namespace Demo {

const ShowData& showData() {
    static const ShowData show = [] {
        ShowData data;
        const std::string shaders = "./data/shaders/";
        const std::string trivial = Velmora::FullscreenPass::vertexShaderPath;
        data.programs = {{shaders + "particle.fs", shaders + "particle.vs"},
                         {shaders + "feedback.fs", trivial},
                         {shaders + "bleh.fs", trivial},
                         {shaders + "dirblur.fs", trivial},
                         {shaders + "postproc.fs", trivial}};
        data.sprite = "./data/img/foo.png";
        data.binaryClouds = {"./data/raw/heart_1.bin", "./data/raw/heart_2.bin", "./data/raw/fetus_512.bin"};
        data.textClouds = {"./data/raw/jooh.txt"};
        data.soundtrack = "./data/sydaembient.mp3";
        data.trackBase = Velmora::SyncDevice::defaultBasePath;
        // The scene's 35 tracks, then the end track of the entry point.
        data.tracks = {"camx",
                       "camy",
                       "camz",
                       "fov",
                       "xrot",
                       "yrot",
                       "zrot",
                       "noisex",
                       "noisey",
                       "noisez",
                       "bgParticleScale",
                       "addconst",
                       "fftCoef",
                       "fftScale",
                       "fftMin",
                       "fftCHannel",
                       "showRiro",
                       "sikio",
                       "distR",
                       "distSeed",
                       "vhsConst",
                       "feye",
                       "logoConst",
                       "sykinta",
                       "feedbackAmount",
                       "feedbackMultiplier",
                       "Macroblocksize",
                       "brightness",
                       "hue",
                       "saturation",
                       "feedbacktype",
                       "additionwhite",
                       "darken",
                       "particlesize",
                       "backgroundparticles",
                       "e"};
        data.rowsPerSecond = 24.0;
        return data;
    }();
    return show;
}

} // namespace Demo
