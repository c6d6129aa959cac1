// The file access the sync device uses, as a table with the C library's signatures. The defaults
// are the C library's own functions; tests swap in counting or in-memory versions.
#pragma once

#include <cstddef>
#include <stdio.h>

namespace Velmora {

struct TrackFileCallbacks {
    FILE* (*open)(const char* path, const char* mode) = ::fopen;
    std::size_t (*read)(void* buffer, std::size_t size, std::size_t count, FILE* file) = ::fread;
    int (*close)(FILE* file) = ::fclose;
};

} // namespace Velmora
