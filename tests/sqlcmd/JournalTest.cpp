#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Journal.h"
#include "console/StatusChannel.h"

using namespace quill::sqlcmd;
namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Whether the entry is stored or written, a reader sees whole entries, a
// missing file is made and a longer one keeps its length.
TEST(Journal, EachEntryReplacesTheLastInPlace) {
    const fs::path dir =
        fs::temp_directory_path() / ("quill-journal-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (bool mapped : {true, false}) {
        const fs::path fresh = dir / "fresh.journal";
        fs::remove(fresh);
        {
            Journal journal(fresh.string(), mapped);
            journal.write(5, 42);
            EXPECT_EQ(contents(fresh), quill::console::formatJournal({5, 42})) << mapped;
            journal.write(6, 1000000);
            const auto entry = quill::console::parseJournal(contents(fresh));
            ASSERT_TRUE(entry) << mapped;
            EXPECT_EQ(entry->nextBatch, 6);
            EXPECT_EQ(entry->nextLine, 1000000);
        }
        const fs::path longer = dir / "longer.journal";
        const std::string tail = std::string(20, 'x');
        std::ofstream(longer, std::ios::binary) << std::string(47, ' ') << tail;
        {
            Journal journal(longer.string(), mapped);
            journal.write(7, 8);
        }
        EXPECT_EQ(contents(longer), quill::console::formatJournal({7, 8}) + tail) << mapped;
    }
    fs::remove_all(dir);
}

}  // namespace
