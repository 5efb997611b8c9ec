#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// The probe's traced calls between its two markers.
QStringList callsBetweenMarkers(const QString& trace) {
    QFile file(trace);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList calls;
    bool inside = false;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.contains("/quill-skin-probe/begin"))
            inside = true;
        else if (line.contains("/quill-skin-probe/end"))
            inside = false;
        else if (inside)
            calls << QString::fromUtf8(line);
    }
    return calls;
}

}  // namespace

TEST(SkinLoad, WritesNoFile) {
    if (QStandardPaths::findExecutable("strace").isEmpty())
        GTEST_SKIP() << "strace is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString trace = dir.filePath("trace");
    QProcess strace;
    // LeakSanitizer cannot work under a tracer.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString asan = env.value("ASAN_OPTIONS");
    env.insert("ASAN_OPTIONS", asan.isEmpty() ? "detect_leaks=0" : asan + ":detect_leaks=0");
    strace.setProcessEnvironment(env);
    strace.start("strace",
                 {"-f", "-qq", "-o", trace, "-e",
                  "trace=open,openat,openat2,creat,memfd_create,access,faccessat,faccessat2",
                  QUILL_SKIN_PROBE});
    ASSERT_TRUE(strace.waitForFinished(60000));
    const QByteArray errors = strace.readAllStandardError();
    if (errors.contains("strace: ") && errors.contains("Operation not permitted"))
        GTEST_SKIP() << "tracing is not permitted here: " << errors.toStdString();
    ASSERT_EQ(strace.exitCode(), 0) << errors.toStdString();

    const QStringList calls = callsBetweenMarkers(trace);
    ASSERT_FALSE(calls.isEmpty());
    bool staged = false, opened = false;
    for (const QString& call : calls) {
        EXPECT_FALSE(call.contains("creat(") || call.contains("O_WRONLY") ||
                     call.contains("O_RDWR") || call.contains("O_CREAT"))
            << call.toStdString();
        staged = staged || call.contains("memfd_create(\"quillskin\"");
        opened = opened || (call.contains("\"/proc/self/fd/") && call.contains("O_RDONLY"));
    }
    EXPECT_TRUE(staged);
    EXPECT_TRUE(opened);
}
