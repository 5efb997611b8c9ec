#include <gtest/gtest.h>

#include "exec/RunProgress.h"
#include "exec/RunTexts.h"

using namespace quill::exec;

namespace {

// One thing learnt at a time (ms): "input 1000 10", "progress 2 200" are the
// client's records, "read 300" a read offset.
struct Step {
    qint64 ms;
    const char* what;
};

RunProgress play(qint64 scriptBytes, const std::vector<Step>& steps, qint64 scanned = -1) {
    RunProgress progress(scriptBytes);
    if (scanned >= 0)
        progress.setScriptBatches(scanned);
    for (const Step& s : steps) {
        const std::string what = s.what;
        if (what.rfind("read ", 0) == 0)
            progress.onReadOffset(std::stoll(what.substr(5)), s.ms);
        else
            progress.onRecord(*quill::console::parseStatusRecord(what), s.ms);
    }
    return progress;
}

TEST(RunProgress, FiguresFromEitherSource) {
    struct Case {
        const char* name;
        qint64 scriptBytes;
        std::vector<Step> steps;
        qint64 scanned;
        qint64 now;
        ProgressFigures expected;
    };
    const Case cases[] = {
        {"nothing known yet", 1000, {}, -1, 500, {-1, 1000, -1, -1, 500, {}, -1, -1}},
        {"the client's records, at an even pace",
         1000,
         {{100, "input 1000 10"}, {1000, "progress 1 100"}, {4000, "progress 4 400"}},
         -1,
         4000,
         {400, 1000, 4, 10, 4000, 6000, 100, 1}},
        {"the client counts the bytes itself, and wins over a read offset",
         0,
         {{0, "read 900"},
          {100, "input 2000 -1"},
          {200, "read 1900"},
          {2000, "progress 3 500"},
          {3000, "progress 5 700"}},
         -1,
         3000,
         {700, 2000, 5, -1, 3000, 6500, 200, 2}},
        {"a resumed run: the batches it skipped are not its pace",
         1000,
         {{100, "input 1000 100"}, {500, "progress 41 400"}, {2500, "progress 51 500"}},
         -1,
         2500,
         {500, 1000, 51, 100, 2500, 10000, 50, 5}},
        {"a read offset, with the batches a pre-scan counted",
         1000,
         {{1000, "read 100"}, {2500, "read 250"}},
         40,
         2500,
         {250, 1000, -1, 40, 2500, 7500, 100, -1}},
        {"no guess before the run has settled",
         1000,
         {{1000, "read 500"}},
         -1,
         1000,
         {500, 1000, -1, -1, 1000, {}, 500, -1}},
        {"rates over the last ten seconds: a client that slowed down",
         100000,
         {{0, "read 0"}, {10000, "read 50000"}, {20000, "read 55000"}},
         -1,
         20000,
         {55000, 100000, -1, -1, 20000, 90000, 500, -1}},
        {"a client that stalled: the time since counts",
         100000,
         {{0, "read 0"}, {5000, "read 50000"}},
         -1,
         25000,
         {50000, 100000, -1, -1, 25000, 25000, 2000, -1}},
    };
    for (const Case& c : cases) {
        const ProgressFigures f = play(c.scriptBytes, c.steps, c.scanned).figures(c.now);
        EXPECT_EQ(f, c.expected) << c.name << ": done " << f.bytesDone << "/" << f.bytesTotal
                                 << ", batches " << f.batchesDone << "/" << f.batchesTotal
                                 << ", remaining " << f.remainingMs.value_or(-1) << ", "
                                 << f.bytesPerSecond << " B/s, " << f.batchesPerSecond
                                 << " batches/s";
    }
}

TEST(RunProgress, StatusLeadsWithShareAndRemainingTime) {
    ProgressFigures f{1536LL * 1024 * 1024,
                      3LL * 1024 * 1024 * 1024,
                      12345,
                      50000,
                      125000,
                      3723000,
                      12.5 * 1024 * 1024,
                      98.7};
    EXPECT_EQ(progressStatus(f),
              "SQL文件正在执行中，请等待..... 50%，剩余 1 小时 02 分，已执行 12,345/50,000 批，"
              "已用 2 分 05 秒，已读 1.50 GB/3.00 GB，12.5 MB/s，99 批/s");
    // What is not known is left out.
    EXPECT_EQ(progressStatus({-1, 2048, -1, -1, 4000, {}, -1, -1}),
              "SQL文件正在执行中，请等待..... 已用 4 秒");
}

}  // namespace
