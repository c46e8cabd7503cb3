#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "engine/SyncEngine.h"
#include "service/BrindleFailure.h"
#include "service/Keychain.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestMainLoop.h"

namespace brindle {
namespace {

using namespace std::chrono_literals;
using Kind = EngineState::Kind;

// Stands in for the pass: records when each one starts; held passes wait.
struct Passes {
    explicit Passes(test::TestMainLoop& mainLoop) : loop(mainLoop) {}
    SyncResult run() {
        std::unique_lock<std::mutex> lock(mutex);
        starts.push_back(loop.now());
        changed.wait(lock, [this] { return !held; });
        return result;
    }
    void hold(bool on) {
        std::lock_guard<std::mutex> guard(mutex);
        held = on;
        changed.notify_all();
    }
    size_t started() {
        std::lock_guard<std::mutex> guard(mutex);
        return starts.size();
    }

    test::TestMainLoop& loop;
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    std::vector<double> starts;  // read after the passes of interest started
    SyncResult result;
};

class SyncSchedulingTest : public ::testing::Test {
protected:
    void SetUp() override {
        Keychain::forgetCache();
        engine = SyncEngine::create({home.path() / "Larder", home.path() / "state", "Test Box", 5, ""}, &loop);
        engine->setPassRunner([this] { return passes.run(); });
        engine->setOnChange([this](const EngineState& state, const std::vector<std::string>& skipped) {
            published.push_back({state, skipped});
        });
    }

    template <typename Done>
    bool serveUntil(Done done) {
        for (auto deadline = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < deadline;
             std::this_thread::sleep_for(1ms))
            if (loop.drain(), done()) return true;
        return false;
    }
    size_t ended() {
        return std::count_if(published.begin(), published.end(),
                             [](auto& each) { return each.first.kind != Kind::syncing; });
    }
    void request(double after, bool force) {
        engine->requestSync(after, force);
        loop.drain();
    }
    void holdFirstPass() {
        passes.hold(true);
        request(0, true);
        loop.advance(0.02);
        ASSERT_TRUE(serveUntil([&] { return passes.started() == 1; }));
    }

    test::IsolatedHome home;
    test::ScopedEnv env{"BRINDLE_TEST_ACCOUNT", std::nullopt};
    test::TestMainLoop loop;
    Passes passes{loop};
    std::vector<std::pair<EngineState, std::vector<std::string>>> published;
    std::shared_ptr<SyncEngine> engine;
};

// One pass two seconds after the last of a burst; the next unforced one starts
// sixty seconds after it; a released engine cancels what it had pending.
TEST_F(SyncSchedulingTest, ABurstGivesOnePassTwoSecondsAfterItsLastEventAndTheNextWaitsSixtySeconds) {
    for (int i = 0; i < 10; ++i) request(2, false), loop.advance(0.1);
    std::string timers = std::to_string(loop.pendingTimers());  // the last request's, at 0.9 s
    loop.advance(1.85);
    timers += std::to_string(loop.pendingTimers());
    loop.advance(0.1);
    EXPECT_EQ(timers + std::to_string(loop.pendingTimers()), "110");
    ASSERT_TRUE(serveUntil([&] { return ended() == 1; }));
    loop.advance(10);
    request(2, false);
    loop.advance(49.9);
    EXPECT_EQ(passes.started(), 1u);
    loop.advance(0.2);
    ASSERT_TRUE(serveUntil([&] { return ended() == 2; }));
    EXPECT_NEAR(passes.starts[1] - passes.starts[0], 60, 0.25);
    request(2, false);
    engine.reset();
    loop.advance(100);
    EXPECT_EQ(passes.started(), 2u);
}

TEST_F(SyncSchedulingTest, ForcedRequestsStartAtOnceWithOnePassRunningAndOneWaiting) {
    holdFirstPass();
    loop.advance(10);
    for (int i = 0; i < 2; ++i) request(0, true), loop.advance(0.02);  // the second finds one waiting already
    EXPECT_EQ(loop.pendingTimers(), 0u);
    passes.hold(false);
    ASSERT_TRUE(serveUntil([&] { return ended() == 2; }));
    engine->syncOnceExclusive();  // anything still queued would run before this pass
    EXPECT_EQ(passes.started(), 2u);
}

TEST_F(SyncSchedulingTest, AFolderEventWhileAPassRunsIsNotLost) {
    holdFirstPass();
    request(2, false);
    passes.hold(false);
    ASSERT_TRUE(serveUntil([&] { return ended() == 1; }));
    loop.advance(61);
    ASSERT_TRUE(serveUntil([&] { return ended() == 2; }));
}

}  // namespace
}  // namespace brindle
