#include "common/Log.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

using namespace brindle;

// LARDER_LOG is read once per process; the test runner gives this whole
// program one isolated log file.
class LogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static test::TempDir folder;
        ::setenv("LARDER_LOG", (folder.path() / "Brindle.log").c_str(), 1);
    }
};

TEST_F(LogTest, FirstWriteCreatesTheFileLaterWritesAppend) {
    std::filesystem::remove(Log::url());
    Log::write("first line");
    Log::write("second line");
    std::string content = test::readFile(Log::url());
    std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d first line\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d second line\n)");
    EXPECT_TRUE(std::regex_match(content, shape)) << content;
}

TEST_F(LogTest, ConcurrentWritersNeverInterleaveLines) {
    std::filesystem::remove(Log::url());
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 50; ++i) Log::write("writer " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& writer : writers) writer.join();
    std::string content = test::readFile(Log::url());
    size_t lines = 0;
    std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d writer \d line \d+)");
    std::istringstream stream(content);
    for (std::string line; std::getline(stream, line);) {
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
        ++lines;
    }
    EXPECT_EQ(lines, 200u);
}
