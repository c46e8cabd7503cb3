#pragma once

#include "common/MainLoop.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace brindle {

// Reports changes below one folder through inotify: every folder below it is
// watched (folders made later too), and moving or deleting the folder itself
// is reported, as is its reappearance. The first event after a quiet period is
// delivered at once; later ones are coalesced and delivered `latency` seconds
// after the previous delivery. The handler runs on the main loop and is never
// called once the watcher has been destroyed. Create and destroy it on the
// main loop's thread.
class FolderWatcher {
public:
    using Handler = std::function<void()>;

    FolderWatcher(MainLoop& mainLoop, std::string path, Handler handler, double latency = 1.0);
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    // Starts watching; if inotify cannot be set up the watcher silently does
    // nothing. Calling it again has no effect.
    void start();
    const std::string& path() const { return path_; }

private:
    struct Shared;
    class Reader;

    MainLoop& mainLoop_;
    std::string path_;
    double latency_;
    std::shared_ptr<Shared> shared_;  // the handler and whether it may still run
    std::unique_ptr<Reader> reader_;
};

}  // namespace brindle
