// Helpers shared by the engine tests: stdout capture for log lines, scratch files, GL read-back.
#pragma once

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace TestSupport {

// Everything written to standard output while `body` runs (the logger writes there unflushed).
inline std::string captureStdout(const std::function<void()>& body) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        result.push_back(line);
    }
    return result;
}

// A path in the test scratch folder, unique to this process.
inline std::string scratchPath(const std::string& name) {
    return testing::TempDir() + "velmora-" + std::to_string(VelmoraTest::processId()) + "-" + name;
}

inline std::string writeFile(const std::string& name, const std::string& bytes) {
    const std::string path = scratchPath(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

} // namespace TestSupport
