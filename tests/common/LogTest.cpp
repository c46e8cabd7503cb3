#include "common/Log.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "support/TempDir.h"

using namespace brindle;

// LARDER_LOG is read once per process, so this program has one log file.
TEST(LogTest, LinesAreStampedAppendedAndNeverInterleaved) {
    static test::TempDir folder;
    ::setenv("LARDER_LOG", (folder / "Brindle.log").c_str(), 1);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 50; ++i) Log::write("writer " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& writer : writers) writer.join();
    std::istringstream lines(test::readFile(Log::url()));
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d writer \d line \d+)");
    size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) EXPECT_TRUE(std::regex_match(line, shape)) << line;
    EXPECT_EQ(count, 200u);
}
