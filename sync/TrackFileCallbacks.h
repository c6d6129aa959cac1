// The file access the sync device uses, as a table with the C library's signatures. The defaults
// are the C library's reading and closing, and an open that takes regular files only, up to
// TrackFile::maxFileBytes (a FIFO or a device in a track's place reads as a missing file instead
// of blocking or never ending); tests swap in counting or in-memory versions.
#pragma once

#include <cstddef>
#include <stdio.h>

namespace Velmora {

// Opens a track file for reading: null (errno EINVAL for anything that is not a regular file of at
// most TrackFile::maxFileBytes) when it cannot be read. `mode` is ignored.
FILE* openTrackFile(const char* path, const char* mode);

struct TrackFileCallbacks {
    FILE* (*open)(const char* path, const char* mode) = openTrackFile;
    std::size_t (*read)(void* buffer, std::size_t size, std::size_t count, FILE* file) = ::fread;
    int (*close)(FILE* file) = ::fclose;
};

} // namespace Velmora
