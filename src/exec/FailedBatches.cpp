#include "exec/FailedBatches.h"

// The client's reader has a member named emit, which Qt's keyword would erase.
#pragma push_macro("emit")
#undef emit
#include "Options.h"
#include "ScriptReader.h"
#include "SessionState.h"
#include "Variables.h"
#pragma pop_macro("emit")
#include "console/CommandLine.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quill::exec {

namespace {

class OutFile {
public:
    explicit OutFile(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                     0600)),
          error_(fd_ < 0 ? errno : 0) {}
    ~OutFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool write(std::string_view text) {
        while (!text.empty() && error_ == 0) {
            const ssize_t n = ::write(fd_, text.data(), text.size());
            if (n < 0 && errno != EINTR)
                error_ = errno;
            else if (n > 0)
                text.remove_prefix(std::size_t(n));
        }
        return error_ == 0;
    }
    int error() const { return error_; }

private:
    int fd_;
    int error_;
};

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

FailedBatches::FailedBatches(const QString& commandLine, const QString& out)
    : out_(out), worker_([this, commandLine] { work(commandLine); }) {}

FailedBatches::~FailedBatches() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void FailedBatches::add(long long number, long long firstLine) {
    {
        std::lock_guard lock(mutex_);
        failed_.push_back({number, firstLine});
    }
    changed_.notify_all();
}

void FailedBatches::finish(std::function<void(const Result&)> done) {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        done_ = std::move(done);
    }
    changed_.notify_all();
}

QString FailedBatches::pathFor(const QString& runLogPath) {
    QString stem = runLogPath;
    if (stem.endsWith(".log"))
        stem.chop(4);
    return stem + ".failed.sql";
}

bool FailedBatches::next(Failed& failed) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return cancelled_ || finished_ || !failed_.empty(); });
    if (cancelled_ || failed_.empty())
        return false;
    failed = failed_.front();
    return true;
}

void FailedBatches::work(const QString& commandLine) {
    Result result{out_, 0, {}};
    auto fail = [&result](const QString& why) {
        if (result.error.isEmpty())
            result.error = why;
    };

    // The switches as the client took them.
    std::vector<std::string> args = console::splitCommandLine(commandLine.toStdString());
    // Variables set for the client alone come before its name.
    while (!args.empty() && console::isAssignmentWord(args.front()))
        args.erase(args.begin());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    sqlcmd::Options options;
    const sqlcmd::ParseOutcome parsed =
        sqlcmd::parseOptions(int(args.size()), argv.data(), std::getenv, options);
    sqlcmd::Variables variables;
    if (!parsed.ok || options.inputs.empty() || sqlcmd::defineVariables(options, variables))
        fail(QStringLiteral("无法从执行命令中得知脚本文件"));

    OutFile out(out_);
    if (out.error())
        fail(errnoText(out.error()));
    Failed wanted{0, 0};
    if (!result.error.isEmpty() || !next(wanted)) {
        // Nothing can be written, or nothing failed: wait for the end all the same.
        while (next(wanted)) {
            std::lock_guard lock(mutex_);
            failed_.pop_front();
        }
    } else {
        // As the client does: substitution from the first line on if the
        // script has a :setvar that needs it.
        const auto cancelled = [this] {
            std::lock_guard lock(mutex_);
            return cancelled_;
        };
        const sqlcmd::ScanResult scan = sqlcmd::scanScript(options, variables, {}, cancelled);
        if (!scan.ok)
            fail(QString::fromStdString(scan.error));
        out.write(
            "\xEF\xBB\xBF-- " +
            QFileInfo(QString::fromStdString(options.inputs.front())).fileName().toStdString() +
            " 中执行失败的批次，修正后可再次执行。\n");

        sqlcmd::ScriptReader reader(options, variables);
        reader.setSubstitution(scan.substitute);
        reader.setRecordSession(true);
        // A writer let go of stops within a step, not at the script's end.
        reader.setStopCheck(cancelled);
        sqlcmd::SessionState session;
        std::string sessionWritten;
        bool more = scan.ok;
        if (more) {
            reader.read(
                [&](sqlcmd::Step&& step) {
                    if (step.kind == sqlcmd::Step::Kind::Fatal) {
                        fail(QString::fromStdString(step.text));
                        return false;
                    }
                    if (step.kind != sqlcmd::Step::Kind::Batch &&
                        step.kind != sqlcmd::Step::Kind::ExitQuery)
                        return true;
                    const sqlcmd::BatchPlace& place = step.place;
                    if (place.number > wanted.number) {
                        fail(QStringLiteral("脚本中没有第 %1 批").arg(wanted.number));
                        return more = false;
                    }
                    if (place.number == wanted.number) {
                        if (options.inputs.size() == 1 && place.firstLine != wanted.firstLine) {
                            fail(QStringLiteral("脚本文件在执行后被修改过，第 %1 批不在原来的位置")
                                     .arg(wanted.number));
                            return more = false;
                        }
                        const std::string state = session.statements();
                        if (state != sessionWritten) {
                            out.write(state + "GO\n");
                            sessionWritten = state;
                        }
                        std::string text = step.batch.text;
                        if (!text.empty() && text.back() != '\n')
                            text += '\n';
                        text += step.repeat > 1 ? "GO " + std::to_string(step.repeat) + "\n"
                                                : std::string("GO\n");
                        if (!out.write(text)) {
                            fail(errnoText(out.error()));
                            return more = false;
                        }
                        ++result.batches;
                        {
                            std::lock_guard lock(mutex_);
                            failed_.pop_front();
                        }
                        more = next(wanted);
                        if (!more)
                            return false;
                    }
                    session.take(step.batch);
                    return true;
                },
                false);
        }
        // A failed batch the script did not yield.
        if (more && next(wanted))
            fail(QStringLiteral("脚本中没有第 %1 批").arg(wanted.number));
        while (next(wanted)) {
            std::lock_guard lock(mutex_);
            failed_.pop_front();
        }
    }

    // A file without a batch would only mislead.
    if (result.batches == 0) {
        QFile::remove(out_);
        result.path.clear();
    }
    std::function<void(const Result&)> done;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_)
            return;
        done = std::move(done_);
    }
    if (done)
        done(result);
}

}  // namespace quill::exec
