#include <gtest/gtest.h>

#include "console/StatusChannel.h"

using namespace quill::console;

TEST(StatusChannelTest, RecordsReadBackAndMalformedLinesAreRefused) {
    const std::string line = formatStatusRecord("failed", {12, 3, 40, -1});
    ASSERT_EQ(line.back(), '\n');
    const auto record = parseStatusRecord(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->tag, "failed");
    EXPECT_EQ(record->numbers, (std::vector<long long>{12, 3, 40, -1}));
    EXPECT_TRUE(parseStatusRecord("unstarted"));
    for (const char* bad : {"", " 1", "exited ", "exited 1 ", "exited  1", "exited x", "exited 1x",
                            "Exited 1", "exited 99999999999999999999"})
        EXPECT_FALSE(parseStatusRecord(bad)) << bad;
}

TEST(StatusChannelTest, JournalIsFixedWidthAndReadsBack) {
    const std::string small = formatJournal({2, 9});
    const std::string large = formatJournal({123456789012LL, 987654321098LL});
    EXPECT_EQ(small.size(), large.size());
    const auto entry = parseJournal(large);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->nextBatch, 123456789012LL);
    EXPECT_EQ(entry->nextLine, 987654321098LL);
    EXPECT_FALSE(parseJournal(""));
    EXPECT_FALSE(parseJournal("next 0 1\n"));
    EXPECT_FALSE(parseJournal(small.substr(0, 10)));
}
