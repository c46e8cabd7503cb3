#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>

#include "support/Expect.h"
#include "support/FakeRemoteStore.h"
#include "support/TempDir.h"
#include "threeway/DropboxSyncer.h"

namespace brindle::test {

namespace fs = std::filesystem;
using Call = FakeRemoteStore::Call;

inline double realNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// A syncer over a temporary folder and a fake store, its log lines joined in
// `log`, its clock `ahead` seconds in front of the real one so that files a
// test has just written are not taken for busy.
class DropboxSyncerTest : public ::testing::Test {
protected:
    IsolatedHome home;  // deletions go to its Trash
    TempDir dir;
    fs::path folder = dir / "Larder", stateFile = dir / "state/dropbox.json";
    std::shared_ptr<FakeRemoteStore> store = std::make_shared<FakeRemoteStore>();
    double ahead = 10;
    std::unique_ptr<DropboxSyncer> syncer = makeSyncer();

    std::unique_ptr<DropboxSyncer> makeSyncer(std::optional<int64_t> maxSize = std::nullopt, int workers = 1) {
        fs::create_directories(folder);
        auto made = std::make_unique<DropboxSyncer>(folder, stateFile, store, "Dropbox", maxSize, workers);
        made->setClock([this] { return now(); });
        made->setLog([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(logLock_);
            log_ += line + "\n";
        });
        return made;
    }
    double now() const { return realNow() + ahead; }
    void write(const std::string& rel, const std::string& content) { writeFile(folder / rel, content); }
    std::string read(const std::string& rel) const { return readFile(folder / rel); }
    bool exists(const std::string& rel) const { return fs::exists(fs::symlink_status(folder / rel)); }
    // sync()'s error text, "" when it succeeded.
    std::string sync() {
        std::string error = failureText([&] { syncer->sync(); });
        return error == "(nothing thrown)" ? "" : error;
    }
    size_t logged(const std::string& part) {
        std::lock_guard<std::mutex> guard(logLock_);
        return occurrences(log_, part);
    }
    int eventsOf(const std::string& kind) {
        int count = 0;
        for (const auto& event : syncer->events()) count += event.kind == kind;
        return count;
    }
    std::vector<std::string> conflictCopies() {
        std::vector<std::string> copies;
        for (const auto& path : pathsIn(folder))
            if (path.find("(conflict from") != std::string::npos) copies.push_back(path);
        return copies;
    }

private:
    std::mutex logLock_;
    std::string log_;
};

}  // namespace brindle::test
