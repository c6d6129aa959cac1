// The file services on the wide Windows API. Paths come in as UTF-8 with '/' or '\'; files are
// opened sharing read, write and delete, so that an editor can save (rename over) a file while we
// read it, as on POSIX systems.
#include "base/Files.h"

#include "base/Platform.h"
#include "base/TemporaryNames.h"
#include "base/win32/SystemText.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace Velmora {

using Win32::errorText;
using Win32::Handle;
using Win32::isSeparator;
using Win32::lastErrorText;
using Win32::widePath;

namespace {

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// FILETIME (100 ns since 1601) to nanoseconds since 1970.
std::int64_t unixNanoseconds(const FILETIME& time) {
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (static_cast<std::int64_t>(ticks) - 116444736000000000LL) * 100;
}

std::uint64_t sizeOf(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// Windows reserves these names in every folder, with any extension and trailing spaces or dots:
// they open a device, never a file.
bool isDeviceName(const std::string& path) {
    std::string name = baseName(path);
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos) {
        name.resize(dot);
    }
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) {
        name.pop_back();
    }
    for (char& c : name) {
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL" || name == "CONIN$" ||
        name == "CONOUT$") {
        return true;
    }
    return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
           name[3] >= '1' && name[3] <= '9';
}

// What an open handle is: a file or folder on a disk, or a device, pipe or console (Other).
FileInfo describe(HANDLE handle) {
    FileInfo info;
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        info.type = FileType::Other;
        return info;
    }
    BY_HANDLE_FILE_INFORMATION data;
    if (!::GetFileInformationByHandle(handle, &data)) {
        info.error = lastErrorText();
        return info;
    }
    info.type =
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileType::Directory : FileType::Regular;
    info.size = info.type == FileType::Regular ? sizeOf(data.nFileSizeHigh, data.nFileSizeLow) : 0;
    info.modifiedNs = unixNanoseconds(data.ftLastWriteTime);
    return info;
}

// Opens the path itself or what its links lead to, only to ask about it (no read or write access,
// so files that others hold open without sharing can still be examined).
Handle openForQuery(const std::string& path, bool followLinks) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS; // folders too
    if (!followLinks) {
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    return Handle(::CreateFileW(widePath(path).c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr,
                                OPEN_EXISTING, flags, nullptr));
}

// A symbolic link or a junction (other reparse points, such as cloud placeholders or
// deduplicated files, are plain files to us).
bool isLinkAt(const std::string& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return false;
    }
    WIN32_FIND_DATAW data;
    const HANDLE found = ::FindFirstFileW(widePath(path).c_str(), &data);
    if (found == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::FindClose(found);
    return data.dwReserved0 == IO_REPARSE_TAG_SYMLINK || data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT;
}

// Renames (optionally over an existing file) and waits a little for programs that hold the
// destination open for a moment (virus scanners, indexers, a reader of ours) to let go.
bool moveFile(const std::string& from, const std::string& to, DWORD flags, std::string& error) {
    const std::wstring source = widePath(from);
    const std::wstring destination = widePath(to);
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(source.c_str(), destination.c_str(), flags)) {
            return true;
        }
        const DWORD code = ::GetLastError();
        const bool transient =
            code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
        if (!transient || attempt >= 8 || fileInfo(from).type != FileType::Regular) {
            error = errorText(code);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10 << (attempt / 2)));
    }
}

// Removes a temporary file that will not be used, read-only or not.
void discard(const std::string& temporary) {
    const std::wstring name = widePath(temporary);
    ::SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(name.c_str());
}

// Renames a finished temporary file to `target`, over an existing file when `replace`; with
// `writeThrough` the rename is on the disk when the call returns.
bool placeFile(const std::string& temporary, const std::string& target, bool replace, bool writeThrough,
               std::string& error) {
    // The replaced file's attributes (read-only, hidden, ...) go to the new one, as its mode does
    // on POSIX systems: set before the rename, so that no moment shows the file without them.
    const DWORD attributes = ::GetFileAttributesW(widePath(target).c_str());
    if (replace && attributes != INVALID_FILE_ATTRIBUTES) {
        const DWORD kept =
            attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_ARCHIVE);
        ::SetFileAttributesW(widePath(temporary).c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
    }
    if (!replace) {
        return moveFile(temporary, target, writeThrough ? MOVEFILE_WRITE_THROUGH : 0, error);
    }
    if (!moveFile(temporary, target, MOVEFILE_REPLACE_EXISTING | (writeThrough ? MOVEFILE_WRITE_THROUGH : 0),
                  error)) {
        error = "cannot replace it: " + error;
        return false;
    }
    return true;
}

bool writeAll(HANDLE handle, const char* data, std::size_t size, std::string& error) {
    std::size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 24));
        DWORD written = 0;
        if (!::WriteFile(handle, data + done, chunk, &written, nullptr)) {
            error = lastErrorText();
            return false;
        }
        if (written == 0) {
            error = errorText(ERROR_WRITE_FAULT);
            return false;
        }
        done += written;
    }
    return true;
}

// Six characters from a name-safe alphabet that is the same in every letter case (Windows names
// ignore case): digits and lower-case letters.
std::string randomPart() {
    static const char alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned char bytes[TemporaryNames::randomLength] = {};
    if (!randomBytes(bytes, sizeof bytes)) {
        // Unique enough with the retries of the caller: the clock's low bits.
        const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        for (std::size_t i = 0; i < sizeof bytes; ++i) {
            bytes[i] = static_cast<unsigned char>(ticks >> (5 * i));
        }
    }
    std::string part;
    for (unsigned char byte : bytes) {
        part += alphabet[byte % (sizeof alphabet - 1)];
    }
    return part;
}

// Creates a new, uniquely named file (see TemporaryFile) open for writing and reading back; the
// handle, or an invalid one with the reason.
Handle makeTemporary(const std::string& beside, const std::string& suffix, std::string& name,
                     std::string& error) {
    const std::string start = TemporaryNames::start(beside, suffix, currentProcessId());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = start + randomPart() + suffix;
        Handle handle(::CreateFileW(widePath(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, shareAll,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle.valid()) {
            name = candidate;
            return handle;
        }
        const DWORD code = ::GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            error = errorText(code);
            return Handle();
        }
    }
    error = errorText(ERROR_FILE_EXISTS);
    return Handle();
}

// A C stream on a handle (which it then owns); null with the reason.
std::FILE* streamOf(Handle& handle, bool write, std::string& error) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), write ? _O_WRONLY : _O_RDONLY);
    if (fd < 0) {
        error = "cannot make a stream of the file";
        return nullptr;
    }
    handle.release();
    std::FILE* file = ::_fdopen(fd, write ? "wb" : "rb");
    if (file == nullptr) {
        error = "cannot make a stream of the file";
        ::_close(fd);
    }
    return file;
}

// Length of the root of a path: "C:" 2, "C:\" 3, "\" 1, "\\server\share\" up to the share's end.
std::size_t rootLength(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') {
        return path.size() >= 3 && isSeparator(path[2]) ? 3 : 2;
    }
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        // \\server\share
        std::size_t at = 2;
        for (int part = 0; part < 2 && at < path.size(); ++part) {
            while (at < path.size() && !isSeparator(path[at])) {
                ++at;
            }
            if (part == 0 && at < path.size()) {
                ++at;
            }
        }
        return at < path.size() ? at + 1 : at;
    }
    return !path.empty() && isSeparator(path[0]) ? 1 : 0;
}

std::size_t lastSeparator(const std::string& path) {
    return path.find_last_of("/\\");
}

} // namespace

FileInfo fileInfo(const std::string& path) {
    if (isDeviceName(path)) {
        FileInfo device;
        device.type = FileType::Other;
        return device;
    }
    Handle handle = openForQuery(path, true);
    if (!handle.valid()) {
        FileInfo missing;
        missing.error = lastErrorText();
        return missing;
    }
    FileInfo info = describe(handle.get());
    if (!info.error.empty()) {
        info.type = FileType::Missing;
    }
    return info;
}

FileInfo linkInfo(const std::string& path) {
    if (isDeviceName(path)) {
        return fileInfo(path);
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD code = ::GetLastError();
        // Devices ("NUL", "CON") and pipes may have no attributes to read: ask a handle.
        Handle handle = openForQuery(path, false);
        if (handle.valid()) {
            return describe(handle.get());
        }
        FileInfo missing;
        missing.error = errorText(code);
        return missing;
    }
    if (isLinkAt(path, data.dwFileAttributes)) {
        // As lstat: the link itself is neither a file nor a folder.
        FileInfo info;
        info.type = FileType::Other;
        info.isLink = true;
        info.modifiedNs = unixNanoseconds(data.ftLastWriteTime);
        return info;
    }
    // Not a link: the handle tells a device apart from a file.
    return fileInfo(path);
}

bool sameFile(const std::string& a, const std::string& b) {
    Handle first = openForQuery(a, true);
    Handle second = openForQuery(b, true);
    BY_HANDLE_FILE_INFORMATION one;
    BY_HANDLE_FILE_INFORMATION two;
    return first.valid() && second.valid() && ::GetFileInformationByHandle(first.get(), &one) &&
           ::GetFileInformationByHandle(second.get(), &two) &&
           one.dwVolumeSerialNumber == two.dwVolumeSerialNumber && one.nFileIndexHigh == two.nFileIndexHigh &&
           one.nFileIndexLow == two.nFileIndexLow;
}

std::string resolveLink(const std::string& path) {
    if (!linkInfo(path).isLink) {
        return path;
    }
    // The system follows the whole chain; a dangling or looping link stays as it is (a write then
    // refuses it).
    Handle handle = openForQuery(path, true);
    if (!handle.valid()) {
        return path;
    }
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetFinalPathNameByHandleW(handle.get(), name.data(), static_cast<DWORD>(name.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return path;
        }
        if (length < name.size()) {
            std::wstring target(name.data(), length);
            if (target.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
                target = L"\\\\" + target.substr(8);
            } else if (target.compare(0, 4, L"\\\\?\\") == 0) {
                target = target.substr(4);
            }
            return Win32::utf8(target);
        }
        name.resize(length + 1);
    }
}

bool isDirectory(const std::string& path) {
    return fileInfo(path).type == FileType::Directory;
}

bool pathExists(const std::string& path) {
    return ::GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool canWriteInto(const std::string& folder) {
    // Windows decides through access lists that only an attempt answers for sure: a hidden file
    // that goes away when closed.
    if (!isDirectory(folder)) {
        return false;
    }
    const std::string probe =
        folder + "/.velmora-probe-" + std::to_string(currentProcessId()) + "-" + randomPart();
    Handle handle(::CreateFileW(widePath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                nullptr));
    return handle.valid();
}

bool canWriteFile(const std::string& path) {
    // Opening for writing changes nothing as long as nothing is written.
    Handle handle(::CreateFileW(widePath(path).c_str(), GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle.valid();
}

bool makeDirectories(const std::string& path, std::string& error) {
    std::size_t start = rootLength(path);
    while (start <= path.size()) {
        std::size_t slash = path.find_first_of("/\\", start);
        const std::string partial = path.substr(0, slash);
        if (slash != start && !partial.empty() && !isDirectory(partial) &&
            !::CreateDirectoryW(widePath(partial).c_str(), nullptr)) {
            const DWORD code = ::GetLastError();
            if (code != ERROR_ALREADY_EXISTS) {
                error = errorText(code);
                return false;
            }
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
    WIN32_FIND_DATAW data;
    const HANDLE found = ::FindFirstFileExW(widePath(folder + "/*").c_str(), FindExInfoBasic, &data,
                                            FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (found == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::string name = Win32::utf8(data.cFileName, wcslen(data.cFileName));
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (::FindNextFileW(found, &data));
    ::FindClose(found);
    return names;
}

bool removeFile(const std::string& path) {
    if (::DeleteFileW(widePath(path).c_str())) {
        return true;
    }
    const DWORD code = ::GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool renameFile(const std::string& from, const std::string& to, std::string& error) {
    return moveFile(from, to, MOVEFILE_REPLACE_EXISTING, error);
}

bool renameWithoutReplacing(const std::string& from, const std::string& to, std::string& error) {
    // Without MOVEFILE_REPLACE_EXISTING the system refuses any name that is taken, links included.
    return moveFile(from, to, 0, error);
}

bool syncFile(const std::string& path, std::string& error) {
    // FlushFileBuffers needs a handle that may write.
    Handle handle(::CreateFileW(widePath(path).c_str(), GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid() || !::FlushFileBuffers(handle.get())) {
        error = lastErrorText();
        return false;
    }
    return true;
}

std::string pathNameProblem(const std::string& path) {
    // Names count in UTF-16 units; whole paths go through the "\\?\" form, up to 32767 units.
    if (Win32::wide(path).size() > 32767 - 8) {
        return errorText(ERROR_FILENAME_EXCED_RANGE);
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find_first_of("/\\", start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        if (slash - start > TemporaryNames::nameLimit &&
            Win32::wide(path.substr(start, slash - start)).size() > TemporaryNames::nameLimit) {
            return errorText(ERROR_FILENAME_EXCED_RANGE);
        }
        start = slash + 1;
    }
    return "";
}

bool isPathSeparator(char c) {
    return isSeparator(c);
}

std::string parentFolder(const std::string& path) {
    const std::size_t root = rootLength(path);
    const std::size_t slash = lastSeparator(path);
    if (slash == std::string::npos || slash < root) {
        // "name" or "C:name"
        return root > 0 ? path.substr(0, root) : ".";
    }
    // "/name", "C:/name", "\\server\share\name": the root with its separator.
    return slash + 1 == root ? path.substr(0, root) : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const std::size_t slash = lastSeparator(path);
    if (slash != std::string::npos) {
        return path.substr(slash + 1);
    }
    // "C:name"
    return path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
}

std::FILE* openRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& error) {
    // Folders open too (to be refused with the right words); devices and pipes open without
    // waiting, and are refused.
    if (isDeviceName(path)) {
        error = notARegularFile(FileType::Other);
        return nullptr;
    }
    Handle handle(::CreateFileW(widePath(path).c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle.valid()) {
        error = lastErrorText();
        return nullptr;
    }
    const FileInfo info = describe(handle.get());
    if (!info.error.empty()) {
        error = info.error;
        return nullptr;
    }
    if (info.type != FileType::Regular) {
        error = notARegularFile(info.type);
        return nullptr;
    }
    if (info.size > maxBytes) {
        error = "is larger than the limit of " + std::to_string(maxBytes) + " bytes (" +
                std::to_string(info.size) + " bytes)";
        return nullptr;
    }
    return streamOf(handle, false, error);
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
    Handle handle(::CreateFileW(widePath(target).c_str(), GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid()) {
        error = lastErrorText() + " (the file is not writable)";
        return "";
    }
    return target;
}

bool moveIntoPlace(const std::string& temporary, const std::string& target, std::string& error,
                   const WriteOptions& options) {
    // A new file gets the folder's inherited access list, as every new file on Windows: there are
    // no permission bits to carry over.
    const bool ok = (!options.sync || syncFile(temporary, error)) &&
                    placeFile(temporary, target, options.replace, options.sync, error);
    if (!ok) {
        discard(temporary);
    }
    return ok;
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
    Handle handle = makeTemporary(target, "", temporary, reason);
    if (!handle.valid()) {
        error = "cannot create a temporary file beside it: " + reason;
        return false;
    }
    bool ok = writeAll(handle.get(), bytes.data(), bytes.size(), error);
    if (ok && options.sync && !::FlushFileBuffers(handle.get())) {
        error = lastErrorText();
        ok = false;
    }
    handle.reset();
    ok = ok && (!options.verify || fileHolds(temporary, bytes, error)) &&
         placeFile(temporary, target, true, options.sync, error);
    if (!ok) {
        discard(temporary);
    }
    return ok;
}

TemporaryFile::TemporaryFile(const std::string& beside, const std::string& suffix) {
    std::string pattern;
    Handle handle = makeTemporary(beside, suffix, pattern, problem);
    if (!handle.valid()) {
        return;
    }
    file = streamOf(handle, true, problem);
    if (file == nullptr) {
        ::DeleteFileW(Win32::widePath(pattern).c_str());
        return;
    }
    name = pattern;
}

TemporaryFile::~TemporaryFile() {
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!kept && !name.empty()) {
        ::DeleteFileW(widePath(name).c_str());
    }
}

bool TemporaryFile::close(bool sync) {
    if (file == nullptr) {
        return problem.empty();
    }
    std::string reason;
    if (std::fflush(file) != 0) {
        reason = std::strerror(errno != 0 ? errno : EIO);
    } else if (sync) {
        const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
        if (!::FlushFileBuffers(handle)) {
            reason = lastErrorText();
        }
    }
    if (std::fclose(file) != 0 && reason.empty()) {
        reason = std::strerror(errno != 0 ? errno : EIO);
    }
    file = nullptr;
    if (!reason.empty()) {
        problem = reason;
    }
    return reason.empty();
}

std::string temporaryFolder() {
    wchar_t folder[MAX_PATH + 2];
    const DWORD length = ::GetTempPathW(MAX_PATH + 2, folder);
    if (length == 0 || length > MAX_PATH + 1) {
        return ".";
    }
    std::string path = Win32::utf8(folder, length);
    // Without the final separator, unless it is a root ("C:\").
    while (path.size() > 3 && isSeparator(path.back())) {
        path.pop_back();
    }
    return path;
}

} // namespace Velmora
