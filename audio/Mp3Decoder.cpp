#include "audio/Mp3Decoder.h"

#include "base/Files.h"

#include <mpg123.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Velmora {

namespace {
constexpr size_t frameBytes = 2 * sizeof(float);

// mpg123 reads a frame header and its body with separate small reads; through a buffered stdio
// stream the full scan of a 3-minute file costs a few dozen system calls instead of thousands.
constexpr size_t readBufferBytes = 64 * 1024;

mpg123_ssize_t readFile(void* file, void* buffer, size_t bytes) {
    auto* stream = static_cast<FILE*>(file);
    const size_t got = std::fread(buffer, 1, bytes, stream);
    if (got == 0 && std::ferror(stream))
        return -1;
    return static_cast<mpg123_ssize_t>(got);
}

off_t seekFile(void* file, off_t offset, int whence) {
    auto* stream = static_cast<FILE*>(file);
    if (fseeko(stream, offset, whence) != 0)
        return -1;
    return ftello(stream);
}

// Needed once per process by libmpg123 before 1.27; harmless after.
void initialiseLibrary() {
    static const int result = mpg123_init();
    (void)result;
}
} // namespace

Mp3Decoder::~Mp3Decoder() {
    close();
}

bool Mp3Decoder::fail(const char* what, std::string& error) {
    error = std::string(what) + ": " + (handle ? mpg123_strerror(handle) : "no decoder");
    close();
    return false;
}

bool Mp3Decoder::open(const char* path, std::string& error) {
    close();
    initialiseLibrary();
    int result = MPG123_OK;
    handle = mpg123_new(nullptr, &result);
    if (handle == nullptr) {
        error = std::string("mpg123_new: ") + mpg123_plain_strerror(result);
        return false;
    }
    // Quiet: reasons are reported to the caller, not printed to stderr by the library. ID3v2 tags
    // are skipped unread: nothing here needs them, and a tag's declared size (up to 256 MB) is
    // then never allocated.
    if (mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET | MPG123_SKIP_ID3V2, 0.0) !=
        MPG123_OK)
        return fail("mpg123_param", error);
    // Only one output format is allowed, so mpg123 converts every file to it.
    if (mpg123_format_none(handle) != MPG123_OK ||
        mpg123_format(handle, sampleRate, MPG123_STEREO, MPG123_ENC_FLOAT_32) != MPG123_OK)
        return fail("mpg123_format", error);
    if (path == nullptr) {
        error = "no file name";
        close();
        return false;
    }
    std::string reason;
    file = openRegularFile(path, maxFileBytes, reason);
    if (file == nullptr) {
        error = "cannot open the file: " + reason;
        close();
        return false;
    }
    std::setvbuf(file, nullptr, _IOFBF, readBufferBytes);
    if (mpg123_replace_reader_handle(handle, &readFile, &seekFile, nullptr) != MPG123_OK ||
        mpg123_open_handle(handle, file) != MPG123_OK)
        return fail("mpg123_open", error);
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK)
        return fail("mpg123_getformat", error);
    if (rate != sampleRate || channels != MPG123_STEREO || encoding != MPG123_ENC_FLOAT_32) {
        error = "mpg123_getformat: no conversion to 44100 Hz stereo float";
        close();
        return false;
    }
    // Reads every frame header so that the length (and any seek) is exact.
    if (mpg123_scan(handle) != MPG123_OK)
        return fail("mpg123_scan", error);
    const off_t length = mpg123_length(handle);
    if (length <= 0) {
        error = "mpg123_length: no audio frames in the file";
        close();
        return false;
    }
    frames = static_cast<int64_t>(length);
    finished = false;
    return true;
}

void Mp3Decoder::close() {
    if (handle != nullptr) {
        mpg123_close(handle);
        mpg123_delete(handle);
        handle = nullptr;
    }
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
    frames = 0;
    finished = false;
}

int64_t Mp3Decoder::read(float* out, int64_t count) {
    if (handle == nullptr || finished || count <= 0)
        return 0;
    auto* bytes = reinterpret_cast<unsigned char*>(out);
    const size_t wanted = static_cast<size_t>(count) * frameBytes;
    size_t filled = 0;
    while (filled < wanted) {
        size_t done = 0;
        const int result = mpg123_read(handle, bytes + filled, wanted - filled, &done);
        filled += done;
        if (result == MPG123_NEW_FORMAT || (result == MPG123_OK && done > 0))
            continue;
        // MPG123_DONE, an error, or no progress: the stream ends here.
        if (result != MPG123_OK || done == 0) {
            finished = true;
            break;
        }
    }
    // A partial frame at the end (should not happen with whole-frame buffers) is dropped.
    return static_cast<int64_t>(filled / frameBytes);
}

} // namespace Velmora
