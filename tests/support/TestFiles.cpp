#include "tests/support/TestFiles.h"

#include "base/Files.h"
#include "base/Platform.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace VelmoraTest {

namespace {

fs::path native(const std::string& path) {
    return fs::u8path(path);
}

} // namespace

ScratchFolder::ScratchFolder(const std::string& tag) {
    static std::atomic<int> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = Velmora::temporaryFolder() + "/velmora-" + tag + "-" +
                                      std::to_string(processId()) + "-" + std::to_string(counter++);
        std::error_code error;
        if (fs::create_directory(native(candidate), error)) {
            path = candidate;
            return;
        }
        if (error) {
            throw std::runtime_error("cannot create " + candidate + ": " + error.message());
        }
    }
    throw std::runtime_error("no free name for a scratch folder");
}

ScratchFolder::~ScratchFolder() {
    removeAll(path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(native(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(native(path), std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool exists(const std::string& path) {
    return Velmora::pathExists(path);
}

std::vector<std::string> listFolder(const std::string& path) {
    std::vector<std::string> names = Velmora::listDirectory(path);
    std::sort(names.begin(), names.end());
    return names;
}

void makeFolder(const std::string& path) {
    std::string error;
    if (!Velmora::makeDirectories(path, error)) {
        throw std::runtime_error("cannot create " + path + ": " + error);
    }
}

void removeAll(const std::string& path) {
    if (path.empty()) {
        return;
    }
    std::error_code error;
    // Read-only files (Windows) would stop the removal.
    for (auto entry = fs::recursive_directory_iterator(native(path), error);
         !error && entry != fs::end(entry); entry.increment(error)) {
        if (!entry->is_symlink()) {
            fs::permissions(entry->path(), fs::perms::owner_write, fs::perm_options::add, error);
        }
    }
    fs::remove_all(native(path), error);
}

void resizeFile(const std::string& path, std::uint64_t size) {
    if (!exists(path)) {
        writeFile(path, "");
    }
    std::error_code error;
    fs::resize_file(native(path), size, error);
    if (error) {
        throw std::runtime_error("cannot resize " + path + ": " + error.message());
    }
}

void makeReadOnly(const std::string& path) {
    std::error_code error;
    fs::permissions(native(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, error);
    if (error) {
        throw std::runtime_error("cannot make " + path + " read-only: " + error.message());
    }
}

bool makeSymlink(const std::string& target, const std::string& link) {
    std::error_code error;
    fs::create_symlink(native(target), native(link), error);
    return !error;
}

void linkOrCopy(const std::string& target, const std::string& link) {
    std::error_code error;
    if (fs::is_directory(native(target))) {
        fs::create_directory_symlink(native(target), native(link), error);
    } else {
        fs::create_symlink(native(target), native(link), error);
    }
    if (!error) {
        return;
    }
    error.clear();
    fs::copy(native(target), native(link), fs::copy_options::recursive, error);
    if (error) {
        throw std::runtime_error("cannot link or copy " + target + " to " + link + ": " + error.message());
    }
}

long processId() {
    return Velmora::currentProcessId();
}

} // namespace VelmoraTest
