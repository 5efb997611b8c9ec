#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "Encode.h"
#include "preflight/Preflight.h"
#include "support/Wait.h"

using namespace quill::preflight;

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const std::string& bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes.data(), qint64(bytes.size()));
    return path;
}

TEST(Preflight, ReportsOnlyTheLatestDropWithItsResumePoint) {
    QTemporaryDir dir;
    ResumeStore store(dir.filePath("state"));
    const QString big = writeFile(dir, "big.sql", std::string(64 << 20, '-') + "\nGO\n");
    const QString small = writeFile(dir, "small.sql", "SELECT 1\nGO\nSELECT 2\nGO\n");
    const auto key = scriptKeyOf(small);
    ASSERT_TRUE(key);
    QFile journal(store.beginRun(*key, {2, 3}));
    ASSERT_TRUE(journal.exists());

    std::vector<PreflightResult> results;
    Preflight preflight(store);
    // As for Microsoft's sqlcmd: the remainder is written on the worker too.
    preflight.setPrepareRemainders(true);
    QObject::connect(&preflight, &Preflight::finished,
                     [&](const PreflightResult& r) { results.push_back(r); });
    preflight.start(big);
    preflight.start(small);  // a new drop before the first scan ends
    ASSERT_TRUE(quill::test::waitUntil([&] { return !preflight.busy(); }, 10000));
    quill::test::pumpEvents(50);  // a late report of the first drop would show now
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].path, small);
    EXPECT_EQ(results[0].facts.batches, 2);
    ASSERT_TRUE(results[0].key);
    EXPECT_EQ(*results[0].key, *key);
    ASSERT_TRUE(results[0].resume);
    EXPECT_EQ(results[0].resume->nextBatch, 2);
    ASSERT_TRUE(results[0].remainder);
    EXPECT_EQ(results[0].remainder->outcome, Remainder::Outcome::Written);
    QFile remainder(store.remainderPath(*key));
    ASSERT_TRUE(remainder.open(QIODevice::ReadOnly));
    EXPECT_EQ(remainder.readAll(), "SELECT 2\nGO\n");
}

TEST(Preflight, ScansAgainWithTheCodePageTheUserChose) {
    QTemporaryDir dir;
    const QString big5 =
        writeFile(dir, "big5.sql",
                  quill::test::encodeAs("INSERT [資料表] VALUES (N'臺北')\r\nGO\r\n", "BIG5"));
    Preflight preflight(ResumeStore(dir.filePath("state")));
    std::optional<PreflightResult> last;
    QObject::connect(&preflight, &Preflight::finished, [&](const PreflightResult& r) { last = r; });
    preflight.start(big5);
    ASSERT_TRUE(quill::test::waitUntil([&] { return last.has_value(); }));
    EXPECT_TRUE(last->facts.needsCodePage);
    last.reset();
    preflight.start(big5, 950);
    ASSERT_TRUE(quill::test::waitUntil([&] { return last.has_value(); }));
    EXPECT_EQ(last->codePageAsked, 950);
    EXPECT_TRUE(last->facts.runnable());
    EXPECT_EQ(last->facts.codePage, 950);
}

TEST(Preflight, GoesAwayWhileScanning) {
    QTemporaryDir dir;
    const QString big = writeFile(dir, "big.sql", std::string(64 << 20, '-') + "\n");
    auto preflight = std::make_unique<Preflight>(ResumeStore(dir.filePath("state")));
    preflight->start(big);
    preflight.reset();  // must neither wait for the whole scan nor report afterwards
    quill::test::pumpEvents(20);
}

}  // namespace
