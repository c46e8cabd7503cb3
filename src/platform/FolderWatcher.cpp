#include "platform/FolderWatcher.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

namespace brindle {

namespace {

constexpr uint32_t kFolderEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE |
                                   IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_DONT_FOLLOW | IN_ONLYDIR;
// In the folder's parent only the folder's own name matters.
constexpr uint32_t kParentEvents = IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_ONLYDIR;

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool within(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              path[folder.size()] == '/');
}

}  // namespace

struct FolderWatcher::Shared {
    std::atomic<bool> alive{true};
    Handler handler;
};

// The thread that reads inotify, keeps one watch per folder and decides when
// a batch of events is delivered.
class FolderWatcher::Reader {
public:
    Reader(MainLoop& mainLoop, std::string root, double latency, std::shared_ptr<Shared> shared)
        : mainLoop_(mainLoop), root_(std::move(root)), latency_(latency), shared_(std::move(shared)) {}

    ~Reader() {
        if (thread_.joinable()) {
            uint64_t one = 1;
            [[maybe_unused]] auto written = ::write(stop_, &one, sizeof one);
            thread_.join();
        }
        if (inotify_ >= 0) ::close(inotify_);
        if (stop_ >= 0) ::close(stop_);
    }

    bool start() {
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (inotify_ < 0 || stop_ < 0) return false;
        std::string parent = std::filesystem::path(root_).parent_path().string();
        name_ = std::filesystem::path(root_).filename().string();
        if (!parent.empty() && !name_.empty()) parentWatch_ = ::inotify_add_watch(inotify_, parent.c_str(), kParentEvents);
        addTree(root_);
        thread_ = std::thread([this] { serve(); });
        return true;
    }

private:
    void serve() {
        while (true) {
            int timeout = -1;
            if (pending_) {
                double wait = lastDelivery_ + latency_ - steadySeconds();
                timeout = wait <= 0 ? 0 : static_cast<int>(wait * 1000) + 1;
            }
            pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
            int ready = ::poll(fds, 2, timeout);
            if (ready < 0 && errno != EINTR) return;
            if (fds[1].revents & POLLIN) return;
            if (fds[0].revents & POLLIN && readEvents()) noteChange();
            if (pending_ && steadySeconds() >= lastDelivery_ + latency_) deliver();
        }
    }

    // Reads what inotify has; true when something below the folder changed.
    bool readEvents() {
        alignas(inotify_event) char buffer[64 * 1024];
        bool changed = false;
        while (true) {
            ssize_t length = ::read(inotify_, buffer, sizeof buffer);
            if (length <= 0) break;
            for (char* at = buffer; at < buffer + length;) {
                auto* event = reinterpret_cast<inotify_event*>(at);
                changed |= handle(*event, event->len ? std::string(event->name) : std::string());
                at += sizeof(inotify_event) + event->len;
            }
        }
        return changed;
    }

    bool handle(const inotify_event& event, const std::string& name) {
        if (event.mask & IN_Q_OVERFLOW) return true;
        if (event.wd == parentWatch_) {
            if (name != name_) return false;
            if (event.mask & (IN_CREATE | IN_MOVED_TO)) addTree(root_);
            return true;
        }
        auto folder = watches_.find(event.wd);
        if (folder == watches_.end()) return false;
        if (event.mask & IN_IGNORED) {
            watches_.erase(folder);
            return false;
        }
        if (event.mask & (IN_MOVE_SELF | IN_DELETE_SELF)) {
            // The folder (or one below it) went away; its path no longer names it.
            if (folder->second == root_) removeTree(root_);
            return true;
        }
        std::string path = folder->second + "/" + name;
        if (event.mask & IN_ISDIR) {
            if (event.mask & IN_MOVED_FROM) removeTree(path);
            if (event.mask & (IN_CREATE | IN_MOVED_TO)) addTree(path);
        }
        return true;
    }

    // Watches folder and every folder below it. Folders made before the watch
    // was in place are found by the listing.
    void addTree(const std::string& folder) {
        // A Larder folder that is a symbolic link is followed; links below it are not.
        uint32_t mask = folder == root_ ? kFolderEvents & ~IN_DONT_FOLLOW : kFolderEvents;
        int wd = ::inotify_add_watch(inotify_, folder.c_str(), mask);
        if (wd < 0) return;
        watches_[wd] = folder;
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) return;
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
            addTree(folder + "/" + entry->d_name);  // a non-folder fails IN_ONLYDIR
        }
        ::closedir(dir);
    }

    void removeTree(const std::string& folder) {
        for (auto it = watches_.begin(); it != watches_.end();) {
            if (within(it->second, folder)) {
                ::inotify_rm_watch(inotify_, it->first);
                it = watches_.erase(it);
            } else {
                ++it;
            }
        }
    }

    void noteChange() {
        if (!pending_ && steadySeconds() - lastDelivery_ >= latency_) deliver();
        else pending_ = true;
    }

    void deliver() {
        pending_ = false;
        lastDelivery_ = steadySeconds();
        std::shared_ptr<Shared> shared = shared_;
        mainLoop_.post([shared] {
            if (!shared->alive) return;
            Handler handler = shared->handler;
            if (handler) handler();
        });
    }

    MainLoop& mainLoop_;
    std::string root_;
    std::string name_;
    double latency_;
    std::shared_ptr<Shared> shared_;
    int inotify_ = -1;
    int stop_ = -1;
    int parentWatch_ = -1;
    std::map<int, std::string> watches_;  // reader thread only (and start, before it runs)
    bool pending_ = false;
    double lastDelivery_ = -1e9;
    std::thread thread_;
};

FolderWatcher::FolderWatcher(MainLoop& mainLoop, std::string path, Handler handler, double latency)
    : mainLoop_(mainLoop), path_(std::move(path)), latency_(latency), shared_(std::make_shared<Shared>()) {
    shared_->handler = std::move(handler);
    // "/a/b/" and "/a/b" name the same folder; the parent watch matches by name.
    while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
}

FolderWatcher::~FolderWatcher() {
    shared_->alive = false;
    reader_.reset();
}

void FolderWatcher::start() {
    if (reader_) return;
    auto reader = std::make_unique<Reader>(mainLoop_, path_, latency_, shared_);
    if (reader->start()) reader_ = std::move(reader);
}

}  // namespace brindle
