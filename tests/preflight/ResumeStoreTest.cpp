#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "console/StatusChannel.h"
#include "preflight/ResumeStore.h"

using namespace quill::preflight;

namespace {

class ResumeStoreTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        savedHome_ = qgetenv("HOME");
        savedState_ = qgetenv("XDG_STATE_HOME");
        qputenv("HOME", home_.path().toUtf8());
        qunsetenv("XDG_STATE_HOME");
        script_ = home_.filePath("数据 脚本.sql");
        write(std::string(3 << 20, 'x') + "\nGO\n");
    }
    void TearDown() override {
        qputenv("HOME", savedHome_);
        if (savedState_.isNull())
            qunsetenv("XDG_STATE_HOME");
        else
            qputenv("XDG_STATE_HOME", savedState_);
    }

    void write(const std::string& content) {
        QFile f(script_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content.data(), qint64(content.size()));
    }
    ScriptKey key() {
        auto k = scriptKeyOf(script_);
        EXPECT_TRUE(k);
        return k.value_or(ScriptKey{});
    }
    // What quill-sqlcmd does after each batch the server finished.
    static void clientWrites(const QString& journal, ResumePoint next) {
        QFile f(journal);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write(QByteArray::fromStdString(
            quill::console::formatJournal({next.nextBatch, next.nextLine})));
    }

    QTemporaryDir home_;
    QByteArray savedHome_, savedState_;
    QString script_;
};

TEST_F(ResumeStoreTest, LivesInTheStateFolder) {
    EXPECT_EQ(ResumeStore::defaultFolder(), home_.path() + "/.local/state/Quillstep/resume");
    qputenv("XDG_STATE_HOME", "/srv/state");
    EXPECT_EQ(ResumeStore::defaultFolder(), "/srv/state/Quillstep/resume");
    qputenv("XDG_STATE_HOME", "relative/state");  // not absolute: ignored
    EXPECT_EQ(ResumeStore::defaultFolder(), home_.path() + "/.local/state/Quillstep/resume");
}

TEST_F(ResumeStoreTest, ABrokenRunIsOfferedAfterARestartUntilItFinishes) {
    const QString journal = ResumeStore().beginRun(key(), {1, 1});
    ASSERT_FALSE(journal.isEmpty());
    EXPECT_TRUE(journal.startsWith(home_.path() + "/.local/state/Quillstep/resume/"));
    EXPECT_FALSE(ResumeStore().lookup(key()));  // nothing done yet: nothing to offer

    clientWrites(journal, {401, 1604});
    // A new program start: a new store over the same files.
    const auto point = ResumeStore().lookup(key());
    ASSERT_TRUE(point);
    EXPECT_EQ(point->nextBatch, 401);
    EXPECT_EQ(point->nextLine, 1604);

    // The resumed run is killed before its first batch ends, and the client
    // had emptied the journal: the start it was given still stands.
    const QString again = ResumeStore().beginRun(key(), *point);
    EXPECT_EQ(again, journal);
    EXPECT_EQ(ResumeStore().lookup(key())->nextBatch, 401);
    QFile(journal).resize(0);
    EXPECT_EQ(ResumeStore().lookup(key())->nextLine, 1604);

    ResumeStore().finishRun(key());
    EXPECT_FALSE(ResumeStore().lookup(key()));
    EXPECT_FALSE(QFile::exists(journal));
}

TEST_F(ResumeStoreTest, ARunWithoutAJournalLeavesNothingToOffer) {
    clientWrites(ResumeStore().beginRun(key(), {1, 1}), {401, 1604});
    // Microsoft's sqlcmd goes on from batch 401 and breaks somewhere after.
    ResumeStore().beginUntrackedRun(key());
    EXPECT_FALSE(ResumeStore().lookup(key()));
}

TEST_F(ResumeStoreTest, AChangedFileIsOfferedNothing) {
    const std::string original = std::string(3 << 20, 'x') + "\nGO\n";
    struct Change {
        const char* name;
        std::function<void()> apply;
    } changes[] = {
        {"a byte more", [&] { write(original + " "); }},
        {"touched",
         [&] {
             struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
             ::utimensat(AT_FDCWD, QFile::encodeName(script_).constData(), times, 0);
         }},
        // Same size and time, another last byte: only the digest tells.
        {"edited in place",
         [&] {
             struct stat st;
             ::stat(QFile::encodeName(script_).constData(), &st);
             std::string edited = original;
             edited[edited.size() - 2] = 'X';
             write(edited);
             struct timespec times[2] = {st.st_atim, st.st_mtim};
             ::utimensat(AT_FDCWD, QFile::encodeName(script_).constData(), times, 0);
         }},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.name);
        write(original);
        const ScriptKey before = key();
        clientWrites(ResumeStore().beginRun(before, {1, 1}), {7, 20});
        ASSERT_TRUE(ResumeStore().lookup(before));
        c.apply();
        const ScriptKey after = key();
        EXPECT_NE(after, before);
        EXPECT_FALSE(ResumeStore().lookup(after));
        // Forgotten for good, even if the old version came back.
        EXPECT_FALSE(ResumeStore().lookup(before));
    }
}

TEST_F(ResumeStoreTest, SaysWhenItCannotKeepTheJournal) {
    QFile blocker(home_.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
    QString error;
    EXPECT_TRUE(
        ResumeStore(home_.filePath("blocked/resume")).beginRun(key(), {1, 1}, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
