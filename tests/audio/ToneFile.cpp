#include "tests/audio/ToneFile.h"

#include "base/Files.h"
#include "base/Platform.h"
#include "tests/support/TestProcess.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

namespace VelmoraTest {

namespace {

void put16(std::ofstream& out, uint16_t value) {
    const char bytes[2] = {char(value & 0xff), char(value >> 8)};
    out.write(bytes, 2);
}

void put32(std::ofstream& out, uint32_t value) {
    put16(out, uint16_t(value & 0xffff));
    put16(out, uint16_t(value >> 16));
}

void writeWav(const std::string& path, const ToneDesc& tone) {
    const long frames = std::lround(tone.seconds * tone.sampleRate);
    const uint32_t dataBytes = uint32_t(frames * tone.channels * 2);
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    put32(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, uint16_t(tone.channels));
    put32(out, uint32_t(tone.sampleRate));
    put32(out, uint32_t(tone.sampleRate * tone.channels * 2));
    put16(out, uint16_t(tone.channels * 2));
    put16(out, 16);
    out.write("data", 4);
    put32(out, dataBytes);
    for (long frame = 0; frame < frames; ++frame) {
        const auto value = int16_t(std::lround(toneSample(tone, frame) * 32767.0));
        for (int channel = 0; channel < tone.channels; ++channel)
            put16(out, uint16_t(value));
    }
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace

double toneSample(const ToneDesc& tone, long frame) {
    return tone.amplitude *
           std::sin(2.0 * 3.14159265358979323846 * tone.frequency * double(frame) / tone.sampleRate);
}

TempFolder::TempFolder() : scratch(std::make_unique<ScratchFolder>("audio")), path(scratch->path) {}

TempFolder::~TempFolder() = default;

namespace {

// The cache's name for a tone: every field of its description.
std::string cacheName(const ToneDesc& tone) {
    char name[200];
    std::snprintf(name, sizeof name, "tone-%.17g-%.17g-%.17g-%d-%d-%d-%d.mp3", tone.frequency, tone.amplitude,
                  tone.seconds, tone.sampleRate, tone.channels, tone.bitrate, tone.infoTag ? 1 : 0);
    return name;
}

} // namespace

std::string makeToneMp3(const TempFolder& folder, const std::string& name, const ToneDesc& tone) {
    const std::string wav = folder.file(name + ".wav");
    const std::string mp3 = folder.file(name + ".mp3");
    const std::string cache = Velmora::environmentVariable("VELMORA_TONE_CACHE");
    const std::string cached = cache.empty() ? "" : cache + "/" + cacheName(tone);
    if (!cached.empty() && exists(cached)) {
        writeFile(mp3, readFile(cached));
        return mp3;
    }
    writeWav(wav, tone);
    static const std::string lame = findProgram("lame");
    if (lame.empty())
        throw std::runtime_error("the lame program is not on the PATH (it encodes the test tones), and "
                                 "VELMORA_TONE_CACHE holds no " +
                                 cacheName(tone));
    std::vector<std::string> arguments = {"--quiet"};
    if (tone.bitrate > 0) {
        arguments.push_back("-b");
        arguments.push_back(std::to_string(tone.bitrate));
    }
    if (!tone.infoTag)
        arguments.push_back("-t");
    arguments.push_back(wav);
    arguments.push_back(mp3);
    const RunResult run = runProgram(lame, arguments);
    if (run.status != 0)
        throw std::runtime_error("lame failed (status " + std::to_string(run.status) + "): " + run.err);
    if (!cached.empty()) {
        // Kept for test runs where no lame can run (the Windows build's, under wine): whole or not
        // at all.
        // A cache that cannot be written is only a slower next run.
        std::string error;
        if (!Velmora::writeFileReplacing(cached, readFile(mp3), error)) {
            std::fprintf(stderr, "note: the tone cache %s was not written: %s\n", cached.c_str(),
                         error.c_str());
        }
    }
    return mp3;
}

std::string makeRandomFile(const TempFolder& folder, const std::string& name, size_t size, unsigned seed) {
    const std::string path = folder.file(name);
    std::mt19937 random(seed);
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < size; ++i)
        out.put(char(random() & 0xff));
    return path;
}

} // namespace VelmoraTest
