#include "tests/capture/ShowFixture.h"

#include "capture/WavWriter.h"

#include <stb_image_write.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace CaptureTest {

namespace {

struct Key {
    int32_t row;
    float value;
    int8_t interpolation;
};

void writeTrack(const std::string& root, const std::string& name, const std::vector<Key>& keys) {
    std::ofstream out(root + "/data/science/sync_" + name + ".track", std::ios::binary);
    const int32_t header[2] = {static_cast<int32_t>(keys.size()), 0};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (const Key& key : keys) {
        out.write(reinterpret_cast<const char*>(&key.row), 4);
        out.write(reinterpret_cast<const char*>(&key.value), 4);
        out.write(reinterpret_cast<const char*>(&key.interpolation), 1);
    }
}

void writeCloud(const std::string& path, int count, float turn) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < count; ++i) {
        const float angle = i * turn;
        const float record[6] = {
            0.6f * std::cos(angle), 0.4f * std::sin(angle), (i % 9) / 9.0f - 0.5f, 0.0f, 0.0f, 0.0f};
        out.write(reinterpret_cast<const char*>(record), sizeof record);
    }
}

void linkTo(const std::string& target, const std::string& link) {
    if (symlink(target.c_str(), link.c_str()) != 0) {
        throw std::runtime_error("cannot link " + link + " to " + target);
    }
}

void encodeMp3(const std::string& root, const std::vector<float>& samples) {
    const int64_t frames = static_cast<int64_t>(samples.size() / 2);
    {
        Velmora::WavWriter wav(root + "/music.wav", 44100, 2);
        wav.write(samples.data(), frames);
        wav.finish();
    }
    if (runShell("lame --silent -b 128 '" + root + "/music.wav' '" + root + "/data/sydaembient.mp3'") != 0) {
        throw std::runtime_error("lame failed to encode the fixture's soundtrack");
    }
    std::remove((root + "/music.wav").c_str());
}

} // namespace

ShowFixture::ShowFixture(Kind kind) {
    const std::string& root = folder.path;
    mkdir((root + "/data").c_str(), 0755);
    linkTo(VELMORA_SOURCE_DIR "/data/shaders", root + "/data/shaders");
    if (kind == Kind::MadeUp) {
        buildMadeUp();
    } else {
        buildGoldenFrames();
    }
}

void ShowFixture::buildGoldenFrames() {
    const std::string& root = folder.path;
    const std::string source = VELMORA_SOURCE_DIR "/data";
    const std::string golden = VELMORA_SOURCE_DIR "/tests/demo/golden";
    linkTo(source + "/img", root + "/data/img");
    linkTo(source + "/raw", root + "/data/raw");
    if (exists(golden + "/tracks.txt")) {
        // "track row value interpolation" lines; '#' starts a comment.
        mkdir((root + "/data/science").c_str(), 0755);
        std::ifstream in(golden + "/tracks.txt");
        std::map<std::string, std::vector<Key>> tracks;
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line.substr(0, line.find('#')));
            std::string name;
            int row = 0;
            float value = 0.0f;
            int interpolation = 0;
            if (fields >> name >> row >> value >> interpolation) {
                tracks[name].push_back({row, value, static_cast<int8_t>(interpolation)});
            }
        }
        for (const auto& [name, keys] : tracks) {
            writeTrack(root, name, keys);
        }
    } else {
        linkTo(source + "/science", root + "/data/science");
    }
    if (exists(source + "/sydaembient.mp3")) {
        linkTo(source + "/sydaembient.mp3", root + "/data/sydaembient.mp3");
    } else {
        encodeMp3(root, std::vector<float>(2 * 44100 * 20, 0.0f));
    }
}

void ShowFixture::buildMadeUp() {
    const std::string& root = folder.path;
    for (const char* sub : {"/data/img", "/data/raw", "/data/science"}) {
        mkdir((root + sub).c_str(), 0755);
    }

    // A soft white dot with a radial alpha falloff.
    const int size = 32;
    std::vector<uint8_t> sprite(size * size * 4);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double dx = (x + 0.5) / size * 2.0 - 1.0, dy = (y + 0.5) / size * 2.0 - 1.0;
            const double alpha = std::max(0.0, 1.0 - std::sqrt(dx * dx + dy * dy));
            uint8_t* pixel = &sprite[(y * size + x) * 4];
            pixel[0] = pixel[1] = pixel[2] = 255;
            pixel[3] = static_cast<uint8_t>(std::lround(alpha * 255.0));
        }
    }
    stbi_write_png((root + "/data/img/foo.png").c_str(), size, size, 4, sprite.data(), size * 4);

    writeCloud(root + "/data/raw/heart_1.bin", 400, 0.11f);
    writeCloud(root + "/data/raw/heart_2.bin", 400, 0.07f);
    writeCloud(root + "/data/raw/fetus_512.bin", 200, 0.23f);
    {
        std::ofstream jooh(root + "/data/raw/jooh.txt");
        for (int i = 0; i < 300; ++i) {
            jooh << std::sin(i * 1.7) << " " << std::cos(i * 2.3) << " " << std::sin(i * 0.9) << "\n";
        }
    }

    writeTrack(root, "e", {{0, 0.0f, 0}, {60, -1.0f, 0}});
    writeTrack(root, "camz", {{0, -3.0f, 1}, {72, -1.5f, 1}});
    writeTrack(root, "camy", {{0, 0.4f, 0}});
    writeTrack(root, "fov", {{0, 60.0f, 0}});
    writeTrack(root, "yrot", {{0, 0.0f, 1}, {72, 90.0f, 1}});
    writeTrack(root, "particlesize", {{0, 3.0f, 0}});
    writeTrack(root, "showRiro", {{0, 1.0f, 0}});
    writeTrack(root, "sikio", {{0, 0.0f, 0}, {24, 0.8f, 0}});
    writeTrack(root, "brightness", {{0, 1.0f, 0}});
    writeTrack(root, "saturation", {{0, 1.0f, 0}});
    writeTrack(root, "feedbackAmount", {{0, 0.5f, 0}});
    writeTrack(root, "feedbackMultiplier", {{0, 0.9f, 0}});
    writeTrack(root, "fftCoef", {{0, 20.0f, 0}});
    writeTrack(root, "fftScale", {{0, 1.0f, 0}});

    // The soundtrack: a 3 s stereo tone that rises in pitch.
    const int frames = static_cast<int>(musicSeconds * 44100);
    std::vector<float> samples(2 * static_cast<size_t>(frames));
    double phase = 0.0;
    for (int i = 0; i < frames; ++i) {
        phase += 2.0 * M_PI * (220.0 + 200.0 * i / frames) / 44100.0;
        samples[2 * i] = samples[2 * i + 1] = static_cast<float>(0.4 * std::sin(phase));
    }
    encodeMp3(root, samples);
}

} // namespace CaptureTest
