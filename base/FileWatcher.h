// Watches folders for files that were written, created or renamed into them (editors that save by
// writing a temporary file and renaming it over the original are seen as a change of the
// original's name), and for files removed or renamed away (whatever takes their place, a folder
// included, is then the caller's to look at). Non-blocking: the owner polls between frames. Reports raw
// events: debouncing and recognising one's own writes belong to the caller. One implementation file per
// platform.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Velmora {

class FileWatcher {
public:
    // The platform's watcher.
    static std::unique_ptr<FileWatcher> create();
    virtual ~FileWatcher() = default;

    // Starts watching the folder (not its subfolders). False with the reason when impossible.
    virtual bool watch(const std::string& folder, std::string& error) = 0;
    // Paths (folder + '/' + name, the folder as given to watch) changed since the last call, in the
    // order seen, each at most once per call. Never blocks.
    virtual std::vector<std::string> changes() = 0;
};

} // namespace Velmora
