#include <gtest/gtest.h>

#include <QObject>
#include <thread>
#include <vector>

#include "core/GuiThread.h"
#include "core/ProgramState.h"
#include "support/Wait.h"

using namespace quill;

TEST(ProgramState, StartsDisconnectedWithNoSelection) {
    ProgramState state;
    EXPECT_EQ(state.connected(), 0);
    EXPECT_TRUE(state.selectedDatabaseName().isEmpty());
}

TEST(GuiThread, UpdatesFromAnotherThreadArriveInOrder) {
    QObject context;
    std::vector<int> seen;
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i)
            postToGui(&context, [&seen, i] { seen.push_back(i); });
    });
    worker.join();
    ASSERT_TRUE(test::waitUntil([&] { return seen.size() == 1000; }));
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(seen[i], i);
}
