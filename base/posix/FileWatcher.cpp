// inotify: one descriptor, one watch per folder, read without blocking.
#include "base/FileWatcher.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <sys/inotify.h>
#include <unistd.h>

namespace Velmora {

namespace {

class InotifyWatcher final : public FileWatcher {
public:
    InotifyWatcher() : fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~InotifyWatcher() override {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    bool watch(const std::string& folder, std::string& error) override {
        if (fd < 0) {
            error = std::strerror(errno);
            return false;
        }
        // A finished write, a rename into the folder (editors' save by rename), a new file, a file
        // removed or renamed away (something else may be put in its place); the folder's own moves
        // are not followed.
        const int id = ::inotify_add_watch(fd, folder.c_str(),
                                           IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE |
                                               IN_MOVED_FROM | IN_ONLYDIR);
        if (id < 0) {
            error = std::strerror(errno);
            return false;
        }
        folders[id] = folder;
        return true;
    }

    std::vector<std::string> changes() override {
        std::vector<std::string> paths;
        if (fd < 0) {
            return paths;
        }
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                break; // EAGAIN: nothing more for now
            }
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                const auto folder = folders.find(event->wd);
                if (folder == folders.end() || event->len == 0 || (event->mask & IN_ISDIR) != 0) {
                    continue;
                }
                const std::string path = folder->second + "/" + event->name;
                bool seen = false;
                for (const std::string& earlier : paths) {
                    seen = seen || earlier == path;
                }
                if (!seen) {
                    paths.push_back(path);
                }
            }
        }
        return paths;
    }

private:
    int fd;
    std::map<int, std::string> folders;
};

} // namespace

std::unique_ptr<FileWatcher> FileWatcher::create() {
    return std::make_unique<InotifyWatcher>();
}

} // namespace Velmora
