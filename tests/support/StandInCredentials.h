#pragma once

#include <atomic>
#include <mutex>
#include <optional>

#include "devserver/DevServer.h"
#include "devserver/DropboxService.h"
#include "dropbox/DropboxCredentials.h"

namespace brindle::test {

// Credentials straight from the stand-in's Dropbox service, counting how often
// the client dropped them.
class StandInCredentials final : public DropboxCredentials {
public:
    explicit StandInCredentials(devserver::DevServer& server) : server_(server) {}

    DropboxCredential get() override {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!cached_) cached_ = {server_.dropbox().issueToken(), server_.url(), server_.url(), "dbid:test"};
        return *cached_;
    }
    void dropCached() override {
        std::lock_guard<std::mutex> guard(mutex_);
        ++drops_;
        cached_.reset();
    }
    int drops() const { return drops_; }

private:
    devserver::DevServer& server_;
    std::mutex mutex_;
    std::optional<DropboxCredential> cached_;
    std::atomic<int> drops_{0};
};

}  // namespace brindle::test
