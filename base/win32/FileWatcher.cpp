// ReadDirectoryChangesW: one overlapped read per folder, always pending, collected without waiting.
// A rename into the folder (an editor's save) comes as the new name; writes come while they happen,
// possibly several times per save (the caller waits for a file to settle).
#include "base/FileWatcher.h"

#include "base/Files.h"
#include "base/win32/SystemText.h"

#include <vector>

namespace Velmora {

using Win32::Handle;
using Win32::lastErrorText;

namespace {

constexpr DWORD interesting = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                              FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_CREATION;

struct WatchedFolder {
    std::string path; // as given to watch()
    Handle folder;
    Handle event;
    OVERLAPPED overlapped{};
    // DWORD-aligned, as the call wants; 64 KiB is the most a network folder takes.
    std::vector<DWORD> buffer = std::vector<DWORD>(16384);
    bool pending = false;

    ~WatchedFolder() {
        if (pending) {
            // The system writes into the buffer until the read is really cancelled.
            ::CancelIoEx(folder.get(), &overlapped);
            DWORD ignored = 0;
            ::GetOverlappedResult(folder.get(), &overlapped, &ignored, TRUE);
        }
    }

    bool startRead() {
        ::ResetEvent(event.get());
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event.get();
        pending = ::ReadDirectoryChangesW(folder.get(), buffer.data(),
                                          static_cast<DWORD>(buffer.size() * sizeof(DWORD)), FALSE,
                                          interesting, nullptr, &overlapped, nullptr) != FALSE;
        return pending;
    }
};

void addOnce(std::vector<std::string>& paths, const std::string& path) {
    for (const std::string& earlier : paths) {
        if (earlier == path) {
            return;
        }
    }
    paths.push_back(path);
}

class DirectoryChangesWatcher final : public FileWatcher {
public:
    bool watch(const std::string& folder, std::string& error) override {
        auto watched = std::make_unique<WatchedFolder>();
        watched->path = folder;
        watched->folder.reset(::CreateFileW(Win32::widePath(folder).c_str(), FILE_LIST_DIRECTORY,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                            nullptr));
        if (!watched->folder.valid()) {
            error = lastErrorText();
            return false;
        }
        if (!isDirectory(folder)) {
            error = Win32::errorText(ERROR_DIRECTORY);
            return false;
        }
        watched->event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!watched->event.valid() || !watched->startRead()) {
            error = lastErrorText();
            return false;
        }
        folders.push_back(std::move(watched));
        return true;
    }

    std::vector<std::string> changes() override {
        std::vector<std::string> paths;
        for (const std::unique_ptr<WatchedFolder>& watched : folders) {
            // Every read that has completed, until one is pending again.
            while (watched->pending) {
                DWORD bytes = 0;
                if (!::GetOverlappedResult(watched->folder.get(), &watched->overlapped, &bytes, FALSE)) {
                    if (::GetLastError() == ERROR_IO_INCOMPLETE) {
                        break;
                    }
                    // The folder went away or cannot be read: nothing more to come from it.
                    watched->pending = false;
                    break;
                }
                watched->pending = false;
                if (bytes == 0) {
                    // More changes than the buffer held: any file of the folder may have changed.
                    for (const std::string& name : listDirectory(watched->path)) {
                        const std::string path = watched->path + "/" + name;
                        if (fileInfo(path).type == FileType::Regular) {
                            addOnce(paths, path);
                        }
                    }
                } else {
                    collect(*watched, bytes, paths);
                }
                watched->startRead();
            }
        }
        return paths;
    }

private:
    static void collect(const WatchedFolder& watched, DWORD bytes, std::vector<std::string>& paths) {
        const auto* start = reinterpret_cast<const unsigned char*>(watched.buffer.data());
        for (DWORD at = 0; at < bytes;) {
            const auto* entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(start + at);
            const std::string name = Win32::utf8(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
            const std::string path = watched.path + "/" + name;
            if (entry->Action == FILE_ACTION_ADDED || entry->Action == FILE_ACTION_MODIFIED ||
                entry->Action == FILE_ACTION_RENAMED_NEW_NAME) {
                // Folders are not followed (as on other systems).
                if (!isDirectory(path)) {
                    addOnce(paths, path);
                }
            } else if (entry->Action == FILE_ACTION_REMOVED ||
                       entry->Action == FILE_ACTION_RENAMED_OLD_NAME) {
                // Gone, or renamed away: whatever is at the name now (nothing, a folder) is news too.
                addOnce(paths, path);
            }
            if (entry->NextEntryOffset == 0) {
                break;
            }
            at += entry->NextEntryOffset;
        }
    }

    std::vector<std::unique_ptr<WatchedFolder>> folders;
};

} // namespace

std::unique_ptr<FileWatcher> FileWatcher::create() {
    return std::make_unique<DirectoryChangesWatcher>();
}

} // namespace Velmora
