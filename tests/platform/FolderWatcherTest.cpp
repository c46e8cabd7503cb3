#include "platform/FolderWatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/TempDir.h"
#include "support/TestMainLoop.h"

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
    std::unique_ptr<FolderWatcher> watch(double latency = 0.05) {
        auto watcher = std::make_unique<FolderWatcher>(
            main, folder.string(), [this] { ++calls; }, latency);
        watcher->start();
        return watcher;
    }
    // Serves the loop until the handler has run once more after change(), for 20 s at most.
    template <typename Change>
    bool reported(Change change) {
        const int before = calls;
        change();
        for (auto deadline = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < deadline;) {
            main.loop.drain();
            if (calls > before) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    test::TempDir temp;
    fs::path folder = temp / "Larder";
    CountingLoop main;
    int calls = 0;
};

TEST_F(FolderWatcherTest, ReportsChangesInNewNestedFoldersAndTheFolderItselfMoving) {
    auto watcher = watch();
    EXPECT_TRUE(reported([&] { fs::create_directories(folder / "a/b/c"); }));  // made before a or b was watched
    EXPECT_TRUE(reported([&] { test::writeFile(folder / "a/b/c/deep.txt", "x"); }));
    EXPECT_TRUE(reported([&] { fs::rename(folder, temp / "Elsewhere"); }));
    EXPECT_TRUE(reported([&] { fs::rename(temp / "Elsewhere", folder); }));
    EXPECT_TRUE(reported([&] { test::writeFile(folder / "back.txt", "x"); }));  // watched again
    EXPECT_TRUE(reported([&] { fs::remove_all(folder); }));
}

// An hour of latency: the burst after the first change waits for it.
TEST_F(FolderWatcherTest, DeliversTheFirstEventAtOnceHoldsTheRestAndStopsWhenReleased) {
    auto watcher = watch(3600);
    ASSERT_TRUE(reported([&] { test::writeFile(folder / "first.txt", "1"); }));
    for (int i = 0; i < 20; ++i) test::writeFile(folder / ("burst" + std::to_string(i)), "x");
    main.loop.drain();
    EXPECT_EQ(main.posted.load(), 1);
    watcher.reset();
    calls = 0;
    auto second = watch();
    test::writeFile(folder / "one.txt", "1");
    for (int i = 0; i < 4000 && main.posted < 2; ++i) std::this_thread::sleep_for(5ms);
    ASSERT_GE(main.posted.load(), 2);
    second.reset();  // released before the loop served the delivery: the handler never runs
    main.loop.drain();
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace brindle
