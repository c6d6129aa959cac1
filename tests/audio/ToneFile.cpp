#include "tests/audio/ToneFile.h"

#include <cmath>
#include <cstdint>
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

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-audio-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path = buffer.data();
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string makeToneMp3(const TempFolder& folder, const std::string& name, const ToneDesc& tone) {
    const std::string wav = folder.file(name + ".wav");
    const std::string mp3 = folder.file(name + ".mp3");
    writeWav(wav, tone);
    // The paths are ours (mkdtemp plus a fixed name), so quoting them is enough.
    const std::string rate = tone.bitrate > 0 ? " -b " + std::to_string(tone.bitrate) : "";
    const std::string tag = tone.infoTag ? "" : " -t";
    const std::string command = "lame --quiet" + rate + tag + " '" + wav + "' '" + mp3 + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("lame failed: " + command);
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
