#include "tools/content/OutputFile.h"

#include "base/VFileException.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace Content {

namespace {
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
} // namespace

void writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ignored;
    if (!parent.empty()) {
        std::filesystem::create_directories(parent, ignored);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        throw Velmora::VFileException("Cannot write " + path);
    }
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        throw Velmora::VFileException("Cannot write " + path);
    }
}

std::vector<unsigned char> readWholeFile(const std::string& path, std::size_t maxBytes) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        throw Velmora::VFileException("Cannot read " + path);
    }
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, f.get());
        if (got == 0) {
            break;
        }
        if (bytes.size() + got > maxBytes) {
            throw Velmora::VFileException("File too large: " + path);
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    if (std::ferror(f.get())) {
        throw Velmora::VFileException("Cannot read " + path);
    }
    return bytes;
}

} // namespace Content
