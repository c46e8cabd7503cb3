#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <thread>

#include "QtTestApplication.h"
#include "support/TempDir.h"
#include "ui/AutostartEntry.h"
#include "ui/QtMainLoop.h"

using namespace brindle;
using namespace brindle::ui;

namespace {

// Runs Qt's event loop until done() holds, for at most limitMs.
template <typename Check>
bool runUntil(Check done, int limitMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

class QtPartsTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtApplication(); }
};

TEST_F(QtPartsTest, TheQtLoopRunsPostsAndTimersOnItsThreadAndHonoursCancel) {
    QtMainLoop loop;
    std::vector<std::string> ran;
    bool onLoopThread = false;
    std::thread poster([&] {
        loop.post([&] {
            onLoopThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            ran.push_back("posted");
        });
    });
    poster.join();
    MainLoop::TimerId cancelled = loop.after(0.05, [&] { ran.push_back("cancelled"); });
    loop.after(0.1, [&] { ran.push_back("once"); });
    int ticks = 0;
    MainLoop::TimerId repeating = loop.every(0.02, [&] { ++ticks; });
    loop.cancel(cancelled);
    ASSERT_TRUE(runUntil([&] { return ran.size() == 2 && ticks >= 3; }));
    loop.cancel(repeating);
    int stopped = ticks;
    runUntil([] { return false; }, 150);  // several periods longer: nothing else may run
    EXPECT_EQ(ran, (std::vector<std::string>{"posted", "once"}));
    EXPECT_TRUE(onLoopThread && ticks == stopped);
}

// On and off twice leaves the home as it was, with or without other entries.
TEST_F(QtPartsTest, TheAutostartEntryStartsTheProgramAndGoesAwayWhenSwitchedOff) {
    test::IsolatedHome home;
    AutostartEntry::setEnabled(true, "/opt/my \"apps\"/brindle");
    std::string entry = test::readFile(AutostartEntry::file());
    EXPECT_NE(entry.find("Exec=\"/opt/my \\\"apps\\\"/brindle\"\n"), std::string::npos) << entry;
    EXPECT_TRUE(AutostartEntry::enabled());
    test::writeFile(AutostartEntry::file(), entry + "Hidden=true\n");  // a desktop's own switch-off
    EXPECT_FALSE(AutostartEntry::enabled());
    std::filesystem::path folder = AutostartEntry::file().parent_path();
    for (bool othersThere : {false, true}) {
        if (othersThere) test::writeFile(folder / "other.desktop", "[Desktop Entry]\n");
        for (bool on : {false, true, false}) AutostartEntry::setEnabled(on, "/usr/bin/brindle");
        EXPECT_EQ(std::filesystem::exists(folder), othersThere);
    }
    EXPECT_EQ(test::readFile(folder / "other.desktop"), "[Desktop Entry]\n");
}

}  // namespace
