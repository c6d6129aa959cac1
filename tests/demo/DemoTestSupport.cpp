#include "DemoTestSupport.h"

#include "sync/TrackFile.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef VELMORA_SOURCE_DIR
#error "VELMORA_SOURCE_DIR must name the source tree"
#endif

namespace DemoTest {

namespace fs = std::filesystem;

namespace {
std::unique_ptr<Velmora::Player> testPlayer;
} // namespace

void openContext(int width, int height) {
    if (testPlayer) {
        return;
    }
    Velmora::PlayerDesc desc;
    desc.width = width;
    desc.height = height;
    desc.title = "Velmora tests";
    desc.vsync = true;
    desc.hidden = true;
    testPlayer = std::make_unique<Velmora::Player>(desc);
}

Velmora::Player& player() {
    return *testPlayer;
}

Demo::ShowInputs showInputs() {
    Demo::ShowInputs inputs;
    inputs.width = testPlayer->width();
    inputs.height = testPlayer->height();
    inputs.sync = &testPlayer->sync();
    inputs.spectrum = [](float* bins) { return testPlayer->clock().spectrum(bins); };
    return inputs;
}

int runGlTests(int argc, char** argv, int width, int height) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!::testing::GTEST_FLAG(list_tests)) {
        try {
            openContext(width, height);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "No GL context: %s\n", error.what());
            return 1;
        } catch (const char* message) {
            std::fprintf(stderr, "No GL context: %s\n", message);
            return 1;
        }
    }
    const int status = RUN_ALL_TESTS();
    // The show's GL objects go while the context still exists.
    testPlayer.reset();
    return status;
}

namespace {

void appendBytes(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
}

} // namespace

std::string spritePng(int size) {
    std::vector<unsigned char> pixels(static_cast<size_t>(size * size * 4));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const float dx = (x + 0.5f) / size * 2.0f - 1.0f;
            const float dy = (y + 0.5f) / size * 2.0f - 1.0f;
            const float falloff = std::fmax(0.0f, 1.0f - std::sqrt(dx * dx + dy * dy));
            unsigned char* p = &pixels[static_cast<size_t>((y * size + x) * 4)];
            p[0] = p[1] = p[2] = 255;
            p[3] = static_cast<unsigned char>(std::lround(255.0f * falloff * falloff));
        }
    }
    std::string png;
    stbi_write_png_to_func(appendBytes, &png, size, size, 4, pixels.data(), size * 4);
    return png;
}

DataFolder::DataFolder() {
    scratch = std::make_unique<VelmoraTest::ScratchFolder>("demo");
    folder = scratch->path;
    for (const char* sub : {"data/shaders", "data/img", "data/raw", "data/science"}) {
        fs::create_directories(fs::path(folder) / sub);
    }
    const fs::path shaders = fs::path(VELMORA_SOURCE_DIR) / "data" / "shaders";
    for (const fs::directory_entry& entry : fs::directory_iterator(shaders)) {
        fs::copy_file(entry.path(), fs::path(folder) / "data/shaders" / entry.path().filename());
    }
    writeFile("data/img/foo.png", spritePng(32));
    previousDirectory = fs::current_path().string();
    fs::current_path(folder);
}

DataFolder::~DataFolder() {
    std::error_code ignored;
    fs::current_path(previousDirectory, ignored);
    fs::remove_all(folder, ignored);
}

void DataFolder::writeFile(const std::string& relativePath, const std::string& bytes) {
    std::ofstream out(fs::path(folder) / relativePath, std::ios::binary | std::ios::trunc);
    out << bytes;
}

void DataFolder::writeBinaryCloud(const std::string& name, const std::vector<glm::vec3>& points) {
    std::string bytes;
    for (const glm::vec3& p : points) {
        const float record[6] = {p.x, p.y, p.z, 0.0f, 0.0f, 1.0f};
        bytes.append(reinterpret_cast<const char*>(record), sizeof(record));
    }
    writeFile("data/raw/" + name, bytes);
}

void DataFolder::writeTrack(const std::string& name, const std::vector<Key>& keys) {
    std::vector<Velmora::TrackKey> trackKeys;
    for (const Key& key : keys) {
        Velmora::TrackKey k;
        k.row = key.row;
        k.value = key.value;
        k.interpolation = key.interpolation;
        trackKeys.push_back(k);
    }
    const std::vector<unsigned char> bytes = Velmora::TrackFile::encode(trackKeys);
    writeFile("data/science/sync_" + name + ".track", std::string(bytes.begin(), bytes.end()));
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        result.push_back(line);
    }
    return result;
}

} // namespace DemoTest
