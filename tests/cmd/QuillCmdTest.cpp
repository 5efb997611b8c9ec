#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "console/ConsoleProtocol.h"
#include "support/Paths.h"
#include "support/Wait.h"

using namespace quill::console;
using quill::test::waitUntil;

namespace {

// Stands in for sqlcmd: shows its arguments, its command line as the
// process list has it, and the password it was given.
const char kClientDouble[] = R"(#!/bin/sh
printf 'args:'
for a in "$@"; do printf ' [%s]' "$a"; done
printf '\ncmdline: '
tr '\000' ' ' < /proc/$$/cmdline
printf '\npassword: [%s]\n' "${SQLCMDPASSWORD-unset}"
printf 'journal: [%s] fd: [%s]\n' "${QUILL_JOURNAL-unset}" "${QUILL_STATUS_FD-unset}"
)";

void writeExecutable(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// quill-cmd in a QProcess, fed lines and read up to its next prompt.
class Interpreter {
public:
    Interpreter(const QString& program, const QString& workingDirectory, const QString& path) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", path);
        env.remove("SQLCMDPASSWORD");
        process_.setProcessEnvironment(env);
        process_.setWorkingDirectory(workingDirectory);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(program, {});
        process_.waitForStarted();
    }
    ~Interpreter() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000))
            process_.kill();
    }

    // Everything printed until the next prompt, the prompt not included.
    QByteArray untilPrompt() {
        waitUntil([&] {
            buffer_ += process_.readAll();
            return buffer_.contains(kPrompt);
        });
        qsizetype at = buffer_.indexOf(kPrompt);
        if (at < 0)
            return "(no prompt) " + std::exchange(buffer_, {});
        QByteArray out = buffer_.left(at);
        buffer_.remove(0, at + qsizetype(sizeof kPrompt - 1));
        return out;
    }
    QByteArray run(const QByteArray& line) {
        process_.write(line + "\r\n");
        return untilPrompt();
    }
    QProcess& process() { return process_; }

private:
    QProcess process_;
    QByteArray buffer_;
};

class QuillCmd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkdir("bin");
        QDir(dir.path()).mkdir("work");
        writeExecutable(dir.filePath("bin/sqlcmd"), kClientDouble);
    }
    QString workDir() const { return dir.filePath("work"); }
    QString pathWithDouble() const { return dir.filePath("bin") + ":/usr/bin:/bin"; }

    QTemporaryDir dir;
};

TEST_F(QuillCmd, PrintsBannerAndPromptThenEchoesEachLineBeforeItsOutput) {
    Interpreter cmd(quill::test::binPath("quill-cmd"), workDir(), pathWithDouble());
    QByteArray banner = cmd.untilPrompt();
    EXPECT_TRUE(banner.contains(kBannerPhrase)) << banner.constData();
    EXPECT_TRUE(banner.endsWith("\r\n\r\n"));

    EXPECT_EQ(cmd.run("echo one  \"two  three\""),
              "echo one  \"two  three\"\r\none two  three\n\r\n");
    EXPECT_EQ(cmd.run(""), "\r\n\r\n");
    EXPECT_EQ(cmd.run("pwd"), "pwd\r\n" + QFile::encodeName(workDir()) + "\n\r\n");
}

TEST_F(QuillCmd, RunsProgramsWithoutAShell) {
    Interpreter cmd(quill::test::binPath("quill-cmd"), workDir(), pathWithDouble());
    cmd.untilPrompt();
    struct Case {
        QByteArray line;
        QByteArray output;
    };
    const Case cases[] = {
        {"echo a;touch pwned", "a;touch pwned\n"},
        {"echo $(touch pwned) `touch pwned` a|touch pwned",
         "$(touch pwned) `touch pwned` a|touch pwned\n"},
        {"echo *", "*\n"},
        {"sqlcmd -i \"x;touch pwned.sql\"", "args: [-i] [x;touch pwned.sql]"},
        {"sqlcmd -i \"$(touch pwned).sql\"", "args: [-i] [$(touch pwned).sql]"},
    };
    for (const Case& c : cases) {
        QByteArray out = cmd.run(c.line);
        EXPECT_TRUE(out.startsWith(c.line + "\r\n" + c.output)) << out.constData();
    }
    EXPECT_EQ(QDir(workDir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

// Also the variables a line sets for its program alone (the journal of a
// run): the password still goes through the environment, and neither the
// line nor its words can take the interpreter's own variables.
TEST_F(QuillCmd, PassesTheSqlcmdPasswordAndTheLinesVariablesThroughTheEnvironment) {
    Interpreter cmd(quill::test::binPath("quill-cmd"), workDir(), pathWithDouble());
    cmd.untilPrompt();
    struct Case {
        QByteArray line;
        QByteArray args;
        QByteArray password;
        QByteArray journal = "[unset]";
    };
    const Case cases[] = {
        {"sqlcmd -U\"sa\" -P\"s3cret pw\" -i \"/tmp/a b.sql\"", "[-Usa] [-i] [/tmp/a b.sql]",
         "[s3cret pw]"},
        {"sqlcmd -U\"\" -P\"\" -i \"/tmp/a.sql\"", "[-U] [-i] [/tmp/a.sql]", "[]"},
        {"sqlcmd -P s3cret -i x.sql", "[-i] [x.sql]", "[s3cret]"},
        {"sqlcmd -i x.sql", "[-i] [x.sql]", "unset"},
        {"\"QUILL_JOURNAL=/tmp/my j\" sqlcmd -U\"sa\" -P\"s3cret\" -i x.sql", "[-Usa] [-i] [x.sql]",
         "[s3cret]", "[/tmp/my j]"},
        {"QUILL_JOURNAL=a QUILL_JOURNAL=\"b c\" SQLCMDPASSWORD=s3cret QUILL_STATUS_FD=0 sqlcmd "
         "-P\"pw\" x=y",
         "[x=y]", "[pw]", "[b c]"},
    };
    for (const Case& c : cases) {
        QByteArray out = cmd.run(c.line);
        EXPECT_TRUE(out.contains("args: " + c.args + "\n")) << out.constData();
        EXPECT_TRUE(out.contains("password: " + (c.password == "unset" ? "[unset]" : c.password)))
            << out.constData();
        // The interpreter here has no status channel: nothing names one.
        EXPECT_TRUE(out.contains("journal: " + c.journal + " fd: [unset]\n")) << out.constData();
        QByteArray cmdline = out.mid(out.indexOf("cmdline: "));
        cmdline = cmdline.left(cmdline.indexOf('\n'));
        EXPECT_FALSE(cmdline.contains("s3cret")) << cmdline.constData();
        EXPECT_FALSE(cmdline.contains("-P")) << cmdline.constData();
    }
}

TEST_F(QuillCmd, FallsBackToItsOwnClientBesideIt) {
    // A copy of the interpreter with a client beside it and no sqlcmd on the PATH.
    QString copy = dir.filePath("work/quill-cmd");
    ASSERT_TRUE(QFile::copy(quill::test::binPath("quill-cmd"), copy));
    writeExecutable(dir.filePath("work/quill-sqlcmd"), "#!/bin/sh\necho \"ours: $*\"\n");

    Interpreter cmd(copy, workDir(), "/usr/bin:/bin");
    cmd.untilPrompt();
    EXPECT_TRUE(cmd.run("sqlcmd -i x.sql").contains("ours: -i x.sql\n"));

    Interpreter withClient(copy, workDir(), pathWithDouble());
    withClient.untilPrompt();
    EXPECT_TRUE(withClient.run("sqlcmd -i x.sql").contains("args: [-i] [x.sql]\n"));
}

TEST_F(QuillCmd, ReportsAMissingProgramAndGoesOn) {
    Interpreter cmd(quill::test::binPath("quill-cmd"), workDir(), pathWithDouble());
    cmd.untilPrompt();
    QByteArray out = cmd.run("no-such-program-here --flag");
    EXPECT_EQ(out, "no-such-program-here --flag\r\n找不到程序：no-such-program-here\r\n\r\n");
    EXPECT_EQ(cmd.run("echo still here"), "echo still here\r\nstill here\n\r\n");
}

TEST_F(QuillCmd, ProgramsGetNoInputAndTheInterpreterEndsWithItsInput) {
    Interpreter cmd(quill::test::binPath("quill-cmd"), workDir(), pathWithDouble());
    cmd.untilPrompt();
    // cat must not eat the next line.
    cmd.process().write("cat\r\necho after\r\n");
    EXPECT_EQ(cmd.untilPrompt(), "cat\r\n\r\n");
    EXPECT_EQ(cmd.untilPrompt(), "echo after\r\nafter\n\r\n");

    cmd.process().closeWriteChannel();
    ASSERT_TRUE(cmd.process().waitForFinished(3000));
    EXPECT_EQ(cmd.process().exitCode(), 0);
}

}  // namespace
