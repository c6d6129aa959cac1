// Shared by the base tests: a scratch folder per test, and the helper program they start.
#pragma once

#include "base/Files.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

class Scratch : public testing::Test {
protected:
    void SetUp() override {
        scratch = std::make_unique<VelmoraTest::ScratchFolder>("files");
        folder = scratch->path;
    }
    void TearDown() override { scratch.reset(); }

    std::string path(const std::string& name) const { return folder + "/" + name; }
    std::string write(const std::string& name, const std::string& bytes) const {
        VelmoraTest::writeFile(path(name), bytes);
        return path(name);
    }
    std::string read(const std::string& name) const {
        std::string bytes;
        std::string error;
        EXPECT_TRUE(Velmora::readRegularFile(path(name), 1 << 20, bytes, error)) << error;
        return bytes;
    }

    std::unique_ptr<VelmoraTest::ScratchFolder> scratch;
    std::string folder;
};

// velmora_test_child (ChildHelper.cpp), built beside the tests.
inline std::string childHelper() {
    return VELMORA_TEST_CHILD;
}

// Text a Windows program wrote in text mode, with "\r\n" read back as "\n".
inline std::string lines(std::string text) {
    std::string result;
    for (char c : text) {
        if (c != '\r') {
            result += c;
        }
    }
    return result;
}
