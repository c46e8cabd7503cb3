#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/FakeRemoteStore.h"
#include "support/TempDir.h"
#include "threeway/DropboxSyncer.h"

namespace brindle::test {

namespace fs = std::filesystem;

inline double realNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// A syncer over a temporary folder and a fake store, with its log lines
// collected and a clock running `ahead` seconds in front of the real one, so
// that files a test has just written are not taken for busy.
class DropboxSyncerTest : public ::testing::Test {
protected:
    IsolatedHome home;  // deletions go to its Trash
    TempDir dir;
    fs::path folder = dir / "Larder";
    fs::path stateFile = dir / "state/dropbox.json";
    std::shared_ptr<FakeRemoteStore> store = std::make_shared<FakeRemoteStore>();
    double ahead = 10;
    std::unique_ptr<DropboxSyncer> syncer;

    void SetUp() override {
        fs::create_directories(folder);
        syncer = makeSyncer(store);
    }

    std::unique_ptr<DropboxSyncer> makeSyncer(std::shared_ptr<RemoteStore> remote, const std::string& name = "Dropbox",
                                              std::optional<int64_t> maxSize = std::nullopt, int workers = 1) {
        auto made = std::make_unique<DropboxSyncer>(folder, stateFile, std::move(remote), name, maxSize, workers);
        made->setClock([this] { return now(); });
        made->setLog([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(logLock_);
            log_.push_back(line);
        });
        return made;
    }

    double now() const { return realNow() + ahead; }

    void write(const std::string& rel, const std::string& content) { writeFile(folder / rel, content); }
    std::string read(const std::string& rel) const { return readFile(folder / rel); }
    bool exists(const std::string& rel) const { return fs::exists(fs::symlink_status(folder / rel)); }

    // Runs sync() and returns its error text ("" when it succeeded).
    std::string sync() {
        try {
            syncer->sync();
            return "";
        } catch (const std::exception& error) {
            return error.what();
        }
    }

    std::vector<std::string> logLines() {
        std::lock_guard<std::mutex> guard(logLock_);
        return log_;
    }
    int logged(const std::string& part) {
        int count = 0;
        for (const auto& line : logLines()) count += line.find(part) != std::string::npos;
        return count;
    }

    // Every file under root (hidden ones too), relative, sorted.
    static std::vector<std::string> filesUnder(const fs::path& root) {
        std::vector<std::string> found;
        for (auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file()) found.push_back(fs::relative(entry.path(), root).string());
        std::sort(found.begin(), found.end());
        return found;
    }

    int eventsOf(const std::string& kind) {
        int count = 0;
        for (const auto& event : syncer->events()) count += event.kind == kind;
        return count;
    }

private:
    std::mutex logLock_;
    std::vector<std::string> log_;
};

}  // namespace brindle::test
