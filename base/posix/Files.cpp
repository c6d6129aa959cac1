#include "base/Files.h"

#include "base/Platform.h"
#include "base/TemporaryNames.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Velmora {

namespace {

std::string systemError(int code) {
    return std::strerror(code);
}

FileInfo describe(const struct stat& status) {
    FileInfo info;
    if (S_ISREG(status.st_mode)) {
        info.type = FileType::Regular;
    } else if (S_ISDIR(status.st_mode)) {
        info.type = FileType::Directory;
    } else {
        info.type = FileType::Other;
    }
    info.size = static_cast<std::uint64_t>(status.st_size);
    info.modifiedNs = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return info;
}

bool writeAll(int fd, const char* data, std::size_t size, std::string& error) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = systemError(n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Longest name of one folder entry; longest path.
constexpr std::size_t nameLimit = NAME_MAX;
constexpr std::size_t pathLimit = PATH_MAX - 1;

// Creates a uniquely named file (see TemporaryFile); the descriptor, or -1 with the reason.
int makeTemporary(const std::string& near, const std::string& suffix, std::string& name, std::string& error) {
    std::string pattern = TemporaryNames::start(near, suffix, currentProcessId()) +
                          std::string(TemporaryNames::randomLength, 'X') + suffix;
    const int fd = ::mkostemps(pattern.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        error = systemError(errno);
        return -1;
    }
    name = pattern;
    return fd;
}

} // namespace

FileInfo fileInfo(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        FileInfo missing;
        missing.error = systemError(errno);
        return missing;
    }
    return describe(status);
}

FileInfo linkInfo(const std::string& path) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) {
        FileInfo missing;
        missing.error = systemError(errno);
        return missing;
    }
    FileInfo info = describe(status);
    info.isLink = S_ISLNK(status.st_mode);
    return info;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first;
    struct stat second;
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::string resolveLink(const std::string& path) {
    std::string current = path;
    // A chain of links is followed to its end; a loop stops after a few steps (the write then
    // fails on the link itself, with the system's reason).
    for (int hops = 0; hops < 32; ++hops) {
        struct stat status;
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return current;
        }
        std::vector<char> target(PATH_MAX + 1, '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), PATH_MAX);
        if (length <= 0) {
            return current;
        }
        std::string next(target.data(), static_cast<std::size_t>(length));
        if (next[0] != '/') {
            next = parentFolder(current) + "/" + next;
        }
        current = next;
    }
    return current;
}

bool isDirectory(const std::string& path) {
    return fileInfo(path).type == FileType::Directory;
}

bool pathExists(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

bool canWriteInto(const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool canWriteFile(const std::string& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

bool makeDirectories(const std::string& path, std::string& error) {
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::string partial = path.substr(0, slash);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            error = systemError(errno);
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    if (!isDirectory(path)) {
        error = "exists and is not a folder";
        return false;
    }
    return true;
}

std::vector<std::string> listDirectory(const std::string& folder) {
    std::vector<std::string> names;
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(directory);
    return names;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool renameFile(const std::string& from, const std::string& to, std::string& error) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        error = systemError(errno);
        return false;
    }
    return true;
}

bool renameWithoutReplacing(const std::string& from, const std::string& to, std::string& error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        error = systemError(errno);
        return false;
    }
    // A file system without the flag: a hard link cannot replace anything either.
    if (::link(from.c_str(), to.c_str()) != 0) {
        error = systemError(errno);
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

bool syncFile(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = systemError(errno);
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    if (!ok) {
        error = systemError(errno);
    }
    ::close(fd);
    return ok;
}

std::string pathNameProblem(const std::string& path) {
    if (path.size() > pathLimit) {
        return systemError(ENAMETOOLONG);
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        if (slash - start > nameLimit) {
            return systemError(ENAMETOOLONG);
        }
        start = slash + 1;
    }
    return "";
}

bool isPathSeparator(char c) {
    return c == '/';
}

std::string parentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::FILE* openRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& error) {
    // Non-blocking, so that a FIFO put in a file's place is refused instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = systemError(errno);
        return nullptr;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        error = systemError(errno);
        ::close(fd);
        return nullptr;
    }
    const FileInfo info = describe(status);
    if (info.type != FileType::Regular) {
        error = notARegularFile(info.type);
        ::close(fd);
        return nullptr;
    }
    if (info.size > maxBytes) {
        error = "is larger than the limit of " + std::to_string(maxBytes) + " bytes (" +
                std::to_string(info.size) + " bytes)";
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        error = systemError(errno);
        ::close(fd);
    }
    return file;
}

std::string replacementTarget(const std::string& path, std::string& error) {
    const std::string target = resolveLink(path);
    const FileInfo existing = linkInfo(target);
    if (existing.type == FileType::Missing) {
        return target;
    }
    if (existing.type != FileType::Regular || existing.isLink) {
        error =
            existing.isLink ? "is a symbolic link that cannot be followed" : notARegularFile(existing.type);
        return "";
    }
    if (!canWriteFile(target)) {
        error = systemError(errno) + " (the file is not writable)";
        return "";
    }
    return target;
}

bool moveIntoPlace(const std::string& temporary, const std::string& target, std::string& error,
                   const WriteOptions& options) {
    mode_t mode = static_cast<mode_t>(options.newFileMode) & ~currentUmask();
    struct stat status;
    if (::stat(target.c_str(), &status) == 0) {
        mode = status.st_mode & 07777;
    }
    bool ok = ::chmod(temporary.c_str(), mode) == 0 || (error = systemError(errno), false);
    ok = ok && (!options.sync || syncFile(temporary, error));
    if (ok && !options.replace) {
        ok = renameWithoutReplacing(temporary, target, error);
    } else if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
        error = "cannot replace it: " + systemError(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (options.sync) {
        syncFolder(parentFolder(target));
    }
    return true;
}

bool writeFileReplacing(const std::string& path, const std::string& bytes, std::string& error,
                        const WriteOptions& options) {
    // A link to a regular file: its target is what gets replaced, and the link stays.
    const std::string target = replacementTarget(path, error);
    if (target.empty()) {
        return false;
    }
    std::string temporary;
    std::string reason;
    const int fd = makeTemporary(target, "", temporary, reason);
    if (fd < 0) {
        error = "cannot create a temporary file beside it: " + reason;
        return false;
    }
    bool ok = writeAll(fd, bytes.data(), bytes.size(), error);
    if (::close(fd) != 0 && ok) {
        error = systemError(errno);
        ok = false;
    }
    ok = ok && (!options.verify || fileHolds(temporary, bytes, error));
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    return moveIntoPlace(temporary, target, error, options);
}

TemporaryFile::TemporaryFile(const std::string& near, const std::string& suffix) {
    std::string pattern;
    const int fd = makeTemporary(near, suffix, pattern, problem);
    if (fd < 0) {
        return;
    }
    file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        problem = systemError(errno);
        ::close(fd);
        ::unlink(pattern.c_str());
        return;
    }
    name = pattern;
}

TemporaryFile::~TemporaryFile() {
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!kept && !name.empty()) {
        ::unlink(name.c_str());
    }
}

bool TemporaryFile::close(bool sync) {
    if (file == nullptr) {
        return problem.empty();
    }
    int code = 0;
    if (std::fflush(file) != 0) {
        code = errno;
    } else if (sync && ::fsync(fileno(file)) != 0) {
        code = errno;
    }
    if (std::fclose(file) != 0 && code == 0) {
        code = errno;
    }
    file = nullptr;
    if (code != 0) {
        problem = systemError(code);
    }
    return code == 0;
}

std::string temporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

} // namespace Velmora
