#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "common/SerialQueue.h"

using namespace brindle;

TEST(SerialQueue, RunsTasksInOrderOneAtATimeAndSyncRethrows) {
    std::vector<int> order, expected;
    std::atomic<int> running{0};
    bool overlapped = false;
    {
        SerialQueue queue("test.queue");
        for (int i = 0; i < 100; ++i)
            queue.async([&, i] {
                overlapped |= running.fetch_add(1) != 0;
                order.push_back(i);
                running.fetch_sub(1);
            });
        EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    }
    for (int i = 0; i < 100; ++i) expected.push_back(i);
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(order, expected);
}
