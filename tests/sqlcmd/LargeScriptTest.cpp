// quill-sqlcmd on a script far larger than its batches.
#include <filesystem>
#include <string>

#include "ClientHarness.h"
#include "ScriptGen.h"

using namespace quill::test;
namespace fs = std::filesystem;

namespace {

// A script much larger than any batch runs in little memory.
TEST_F(ClientTest, MemoryStaysFlatOnALargeScript) {
    QUILL_NEEDS_STANDIN("300 MB of script for a server that keeps no rows");
    StandinServer server;
    ASSERT_TRUE(server.isRunning());
    const std::string path = (dir_ / "large.sql").string();
    quill::test::writeLargeBatchScript(path, std::size_t{300} << 20, std::size_t{1} << 20);
    ClientRun r = run(plus(login(server), {"-i", path}), {}, 300);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(countOf(r.out, "batch "), 300);
    EXPECT_LT(r.maxRssKb, 64 * 1024) << "peak RSS " << r.maxRssKb << " KB";
    fs::remove(path);
}

}  // namespace
