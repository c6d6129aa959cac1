// Shared by the demo's GL tests: a hidden-window GL context, and a throw-away ./data folder with
// the real shaders and small fixture files, made the working directory while it lives.
#pragma once

#include "tests/support/TestFiles.h"

#include "demo/ShowInputs.h"
#include "player/Player.h"

#include <glm/vec3.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace DemoTest {

// Starts the test process's player: a hidden window of the given size with its context current,
// GL loaded, the one vertex array bound, the sync device reading the player's clock. Throws (never
// skips) when no context can be made.
void openContext(int width, int height);
// The player made by openContext.
Velmora::Player& player();
// What a show made in a test reads: the context's size, the process's sync device and the player's
// clock (row and spectrum).
Demo::ShowInputs showInputs();

// main() for a GL test executable: lists tests without a display, otherwise opens the context
// first and fails the run when that is impossible.
int runGlTests(int argc, char** argv, int width, int height);

// One key of a fixture track: row, value, interpolation code.
struct Key {
    int row;
    float value;
    int interpolation;
};

class DataFolder {
public:
    // Makes <tmp>/data/{shaders,img,raw,science}, copies the real shaders and writes a soft-dot
    // sprite as img/foo.png. Then changes into the folder.
    DataFolder();
    // Changes back and removes the folder.
    ~DataFolder();

    const std::string& root() const { return folder; }

    void writeFile(const std::string& relativePath, const std::string& bytes);
    void writeBinaryCloud(const std::string& name, const std::vector<glm::vec3>& points);
    void writeTrack(const std::string& name, const std::vector<Key>& keys);
    // A one-key track: the value at every row.
    void writeConstantTrack(const std::string& name, float value) { writeTrack(name, {{0, value, 0}}); }

    DataFolder(const DataFolder&) = delete;
    DataFolder& operator=(const DataFolder&) = delete;

private:
    std::unique_ptr<VelmoraTest::ScratchFolder> scratch;
    std::string folder;
    std::string previousDirectory;
};

// A soft round sprite as PNG bytes (size x size, RGBA, white with a radial alpha falloff).
std::string spritePng(int size);

// The lines of a captured console text.
std::vector<std::string> lines(const std::string& text);

} // namespace DemoTest
