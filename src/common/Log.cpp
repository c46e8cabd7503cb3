#include "common/Log.h"

#include "common/Files.h"

#include <fcntl.h>
#include <unistd.h>
#include <ctime>
#include <mutex>

namespace brindle::Log {

namespace {

std::mutex& lock() {
    static std::mutex writers;  // guards each line's two writes
    return writers;
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written <= 0) return;
        done += static_cast<size_t>(written);
    }
}

}  // namespace

const std::filesystem::path& url() {
    static const std::filesystem::path resolved = [] {
        if (auto chosen = Files::env("LARDER_LOG")) return std::filesystem::path(*chosen);
        return Files::xdgDir("XDG_STATE_HOME", ".local/state") / "brindle" / "Brindle.log";
    }();
    return resolved;
}

void prepareDefaultFolder() {
    if (Files::env("LARDER_LOG")) return;
    std::error_code ignored;
    std::filesystem::create_directories(url().parent_path(), ignored);
}

void write(const std::string& message) {
    std::string line = timestamp() + " " + message + "\n";
    std::lock_guard<std::mutex> guard(lock());
    writeAll(STDERR_FILENO, line);
    int fd = ::open(url().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    writeAll(fd, line);
    ::close(fd);
}

}  // namespace brindle::Log
