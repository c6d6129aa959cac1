// File-system services: what a path is, bounded reads of regular files, and writes that replace a
// file only once the new content is complete and verified.
//
// Paths are plain strings with '/' separators, as the program's data paths are. Every failure comes
// back as a sentence naming the cause (the system's own text, e.g. "No space left on device");
// callers put the file's name in front. One implementation file per platform (base/posix,
// base/win32). Nothing here knows about tracks, images or videos.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace Velmora {

enum class FileType { Missing, Regular, Directory, Other };

struct FileInfo {
    FileType type = FileType::Missing;
    std::uint64_t size = 0;      // bytes, for regular files
    std::int64_t modifiedNs = 0; // last modification, nanoseconds since the epoch
    bool isLink = false;         // only from linkInfo: the path itself is a symbolic link
    std::string error;           // why the path could not be examined (Missing)
};

// What the path names, following symbolic links.
FileInfo fileInfo(const std::string& path);
// What the path itself is, not following a final symbolic link.
FileInfo linkInfo(const std::string& path);
// True when both paths name the same existing file (after links).
bool sameFile(const std::string& a, const std::string& b);
// The target of a symbolic link, made absolute against the link's folder; the path unchanged when
// it is not a link.
std::string resolveLink(const std::string& path);

bool isDirectory(const std::string& path);
// Something (even a dangling link) is at the path.
bool pathExists(const std::string& path);
// The process may create and remove entries in the folder.
bool canWriteInto(const std::string& folder);
// The process may write the existing file.
bool canWriteFile(const std::string& path);
// Creates the folder and its missing parents; true when it exists as a folder afterwards.
[[nodiscard]] bool makeDirectories(const std::string& path, std::string& error);
// Names in the folder, without "." and ".."; empty when it cannot be read.
std::vector<std::string> listDirectory(const std::string& folder);
// Removes a file (not a folder); true when nothing is left at the path.
bool removeFile(const std::string& path);
// Renames, replacing the destination.
[[nodiscard]] bool renameFile(const std::string& from, const std::string& to, std::string& error);
// Renames only when nothing is at `to` yet (not even a dangling link); otherwise false with the
// system's "File exists". Both paths must be on one file system.
[[nodiscard]] bool renameWithoutReplacing(const std::string& from, const std::string& to, std::string& error);
// Flushes the file's data to the storage device.
[[nodiscard]] bool syncFile(const std::string& path, std::string& error);
// Why the path cannot name a file here (one of its names, or the whole, is longer than the system
// allows: "File name too long"), or empty. Looks at the text only.
std::string pathNameProblem(const std::string& path);

// True for the separators of path names here: '/', and on Windows '\' as well.
bool isPathSeparator(char c);
// The folder part of a path ("." for a bare name) and the last component.
std::string parentFolder(const std::string& path);
std::string baseName(const std::string& path);

// Opens a regular file for binary reading. Refuses (null, with the reason) anything else, a FIFO
// or a device included, without blocking on it, and files larger than maxBytes.
[[nodiscard]] std::FILE* openRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& error);
// The whole content of a regular file of at most maxBytes.
[[nodiscard]] bool readRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes,
                                   std::string& error);
// Whether the file holds exactly `bytes` (read back after a write, before it replaces anything);
// false with the reason when it differs or cannot be read.
[[nodiscard]] bool fileHolds(const std::string& path, const std::string& bytes, std::string& error);
// What is wrong with a file of this type where a regular file is wanted ("is a folder, not a
// file"); empty for a regular file.
std::string notARegularFile(FileType type);

struct WriteOptions {
    // Permissions of a new file (before the umask); a replaced file keeps its own.
    int newFileMode = 0666;
    // Flush the data to the storage device before the rename (and the folder after it).
    bool sync = true;
    // Read the temporary file back and compare it before the rename.
    bool verify = true;
    // moveIntoPlace only: false puts the file only where nothing is yet ("File exists" otherwise).
    bool replace = true;
};

// Where a file that replaces `path` must go: `path` itself when it is a regular file or nothing is
// there yet, or the regular file that a symbolic link (or a chain of them) leads to. Empty, with
// the reason, for a folder, a device, a FIFO, a looping link and the like, which are never replaced.
std::string replacementTarget(const std::string& path, std::string& error);

// Puts a finished file, written beside `target` under a temporary name (see TemporaryFile), in
// target's place: it gets the replaced file's permissions (a new file: options.newFileMode less the
// umask), is flushed to the device (options.sync; the folder too, after the rename) and renamed
// over `target`, which must come from replacementTarget. On failure the temporary file is removed
// and `target` is unchanged.
[[nodiscard]] bool moveIntoPlace(const std::string& temporary, const std::string& target, std::string& error,
                                 const WriteOptions& options = WriteOptions());

// Writes `bytes` to `path` so that the path always holds either the old or the complete new file:
// through a uniquely named temporary file beside it, checked writes, a read-back comparison, and a
// rename over the old file. Only a regular file or a new path is written: a symbolic link to a
// regular file has its target replaced; folders, devices, FIFOs and the like are refused. On
// failure nothing at the path changes and no temporary file is left.
[[nodiscard]] bool writeFileReplacing(const std::string& path, const std::string& bytes, std::string& error,
                                      const WriteOptions& options = WriteOptions());

// A uniquely named file beside `near` (or in the temporary folder when `near` is empty), open for
// writing, removed on destruction unless kept. The name holds the process id so that one left
// behind by a killed process can be recognised: ".NEAR-PID-XXXXXX" + suffix beside `near` (NEAR
// shortened when the name would be too long), "velmora-PID-XXXXXX" + suffix in the temporary folder.
class TemporaryFile {
public:
    TemporaryFile(const std::string& near, const std::string& suffix);
    ~TemporaryFile();

    // False when it could not be made; `error()` says why.
    bool valid() const { return file != nullptr; }
    const std::string& error() const { return problem; }
    const std::string& path() const { return name; }
    std::FILE* stream() const { return file; }
    // Flushes, syncs to the device when asked, and closes; false (with error()) on any failure.
    [[nodiscard]] bool close(bool sync);
    // The file stays when this object goes.
    void keep() { kept = true; }

    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

private:
    std::string name;
    std::string problem;
    std::FILE* file = nullptr;
    bool kept = false;
};

// The folder for temporary files: TMPDIR or /tmp on POSIX systems; on Windows the system's (TMP,
// TEMP or the user's own).
std::string temporaryFolder();

// Removes the temporary files named as TemporaryFile(near, suffix) names them whose process no
// longer runs (killed before it could remove them). Returns how many were removed.
int removeAbandonedTemporaries(const std::string& near, const std::string& suffix);

} // namespace Velmora
