#include "platform/FolderWatcher.h"
#include "platform/WakeObserver.h"

#include "support/TempDir.h"
#include "support/TestMainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A test loop that also counts what the watcher's thread posts to it.
class CountingLoop final : public MainLoop {
public:
    void post(Task task) override {
        ++posted;
        loop.post(std::move(task));
    }
    TimerId after(double seconds, Task task) override { return loop.after(seconds, std::move(task)); }
    TimerId every(double seconds, Task task) override { return loop.every(seconds, std::move(task)); }
    void cancel(TimerId timer) override { loop.cancel(timer); }
    double now() const override { return loop.now(); }

    test::TestMainLoop loop;
    std::atomic<int> posted{0};
};

class FolderWatcherTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(folder); }

    std::unique_ptr<FolderWatcher> watch() {
        auto watcher = std::make_unique<FolderWatcher>(
            main, folder.string(), [this] { ++calls; }, 0.05);
        watcher->start();
        return watcher;
    }

    // Serves the loop until the handler has run `count` times in all; gives up
    // after a generous while so a missing event fails instead of hanging.
    bool waitForCalls(int count) {
        auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            main.loop.drain();
            if (calls >= count) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    bool waitForPosts(int count) {
        auto deadline = std::chrono::steady_clock::now() + 20s;
        while (main.posted < count && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
        return main.posted >= count;
    }

    test::TempDir temp;
    fs::path folder = temp / "Larder";
    CountingLoop main;
    int calls = 0;
};

TEST_F(FolderWatcherTest, ReportsFilesInFoldersMadeAfterTheWatchBegan) {
    auto watcher = watch();
    fs::create_directories(folder / "Later");
    ASSERT_TRUE(waitForCalls(1));
    int before = calls;
    test::writeFile(folder / "Later" / "note.txt", "hello");
    EXPECT_TRUE(waitForCalls(before + 1));
}

TEST_F(FolderWatcherTest, ReportsNestedFoldersMadeInOneGo) {
    // given a/b/c made at once, before the watcher could watch a or b
    auto watcher = watch();
    fs::create_directories(folder / "a" / "b" / "c");
    ASSERT_TRUE(waitForCalls(1));
    int before = calls;
    test::writeFile(folder / "a" / "b" / "c" / "deep.txt", "x");
    EXPECT_TRUE(waitForCalls(before + 1));
}

TEST_F(FolderWatcherTest, ReportsTheFolderItselfBeingMovedOrDeleted) {
    auto watcher = watch();
    fs::rename(folder, temp / "Elsewhere");
    ASSERT_TRUE(waitForCalls(1));
    int before = calls;
    // Moved back, it is watched again.
    fs::rename(temp / "Elsewhere", folder);
    ASSERT_TRUE(waitForCalls(before + 1));
    before = calls;
    test::writeFile(folder / "back.txt", "x");
    ASSERT_TRUE(waitForCalls(before + 1));
    before = calls;
    fs::remove_all(folder);
    EXPECT_TRUE(waitForCalls(before + 1));
}

TEST_F(FolderWatcherTest, ReleasingTheWatcherStopsCallbacks) {
    auto watcher = watch();
    test::writeFile(folder / "one.txt", "1");
    ASSERT_TRUE(waitForPosts(1));
    // Released before the loop served the delivery: the handler never runs.
    watcher.reset();
    test::writeFile(folder / "two.txt", "2");
    main.loop.drain();
    EXPECT_EQ(calls, 0);
}

TEST_F(FolderWatcherTest, DeliversTheFirstEventAtOnceAndHoldsTheRest) {
    // given an hour of latency: the first change still arrives at once, and
    // the burst after it waits for the hour to pass
    FolderWatcher watcher(main, folder.string(), [this] { ++calls; }, 3600);
    watcher.start();
    test::writeFile(folder / "first.txt", "1");
    ASSERT_TRUE(waitForCalls(1));
    for (int i = 0; i < 20; ++i) test::writeFile(folder / ("burst" + std::to_string(i)), "x");
    main.loop.drain();
    EXPECT_EQ(main.posted.load(), 1);
}

TEST(WakeObserverTest, CallsTheHandlerOnlyAfterTimeSpentSuspended) {
    test::TestMainLoop loop;
    double suspended = 100;
    int wakes = 0;
    WakeObserver observer(loop, [&] { ++wakes; }, 5.0, [&] { return suspended; });
    loop.advance(5);
    suspended += 0.5;  // clock noise
    loop.advance(5);
    EXPECT_EQ(wakes, 0);
    suspended += 3600;
    loop.advance(5);
    EXPECT_EQ(wakes, 1);
    loop.advance(5);
    EXPECT_EQ(wakes, 1);
}

}  // namespace
}  // namespace brindle
