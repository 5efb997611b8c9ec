#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/Startup.h"

using namespace quill;

namespace {

// Restores an environment variable when the test ends.
class SavedVariable {
public:
    explicit SavedVariable(const char* name)
        : name_(name), was_(qEnvironmentVariableIsSet(name)), value_(qgetenv(name)) {}
    ~SavedVariable() {
        if (was_)
            qputenv(name_, value_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool was_;
    QByteArray value_;
};

}  // namespace

TEST(RuntimeDirectory, UnsetBecomesAPrivateFolderOfOurOwnButNeverALink) {
    SavedVariable runtime("XDG_RUNTIME_DIR"), tmp("TMPDIR");
    QTemporaryDir scratch, elsewhere;
    qputenv("TMPDIR", QFile::encodeName(scratch.path()));
    auto mode = [](const QString& path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0u;
    };

    qunsetenv("XDG_RUNTIME_DIR");
    ensureRuntimeDirectory();
    const QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    ASSERT_TRUE(dir.startsWith(scratch.path() + "/runtime-")) << dir.toStdString();
    EXPECT_EQ(mode(dir), S_IFDIR | 0700u);

    // One left open to others is closed again.
    ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0755), 0);
    qunsetenv("XDG_RUNTIME_DIR");
    ensureRuntimeDirectory();
    EXPECT_EQ(qEnvironmentVariable("XDG_RUNTIME_DIR"), dir);
    EXPECT_EQ(mode(dir), S_IFDIR | 0700u);

    // A variable the user set stays as it is.
    qputenv("XDG_RUNTIME_DIR", "/somewhere/else");
    ensureRuntimeDirectory();
    EXPECT_EQ(qEnvironmentVariable("XDG_RUNTIME_DIR"), "/somewhere/else");

    // A link planted in its place, pointing at someone else's folder, is refused.
    ASSERT_TRUE(QDir(dir).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere.path(), dir));
    ASSERT_EQ(::chmod(QFile::encodeName(elsewhere.path()).constData(), 0755), 0);
    qunsetenv("XDG_RUNTIME_DIR");
    ensureRuntimeDirectory();
    EXPECT_TRUE(qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"));
    EXPECT_EQ(mode(elsewhere.path()) & 0777, 0755u);
}
