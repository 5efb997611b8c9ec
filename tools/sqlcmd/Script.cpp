#include "Script.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "Options.h"
#include "Printer.h"
#include "StepQueue.h"
#include "Variables.h"
#include "console/StatusChannel.h"

namespace quill::sqlcmd {

namespace {

// How far the reader may run ahead of the server: enough for the next batch
// to be ready when the current one ends, little enough to keep memory flat.
constexpr std::size_t kAheadBytes = 4 << 20;
constexpr std::size_t kAheadSteps = 1024;
// Reading ahead pays when splitting a batch takes a noticeable part of its
// round trip to the server. For small batches (a GO after every INSERT) it
// does not, and the thread's wake-ups and cross-thread frees were measured
// to cost more than it saves: below this average size a batch is read when
// it is due.
constexpr long long kReadAheadBatchBytes = 8 << 10;

// Bytes the text takes as UTF-16, which is how it travels.
std::size_t utf16Bytes(const std::string& utf8) {
    std::size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) {
            units += c >= 0xF0 ? 2 : 1;
        }
    }
    return units * 2;
}

std::string fileError(const std::string& path, int err) {
    return "Error occurred while opening or operating on file " + path +
           " (Reason: " + std::strerror(err) + ").";
}

std::string where(const BatchPlace& place) {
    return "batch " + std::to_string(place.number) + " (line " + std::to_string(place.firstLine) +
           ")";
}

}  // namespace

Script::Script(const Options& options, Variables& variables, Printer& printer,
               RunObserver* observer)
    : options_(options), variables_(variables), printer_(printer), observer_(observer) {}

Script::~Script() = default;

Script::Flow Script::fatal(std::string text) {
    printer_.error(text);
    exitCode_ = 1;
    return Flow::Stop;
}

int Script::prepare() {
    prepared_ = true;
    bool scannable = options_.inputs.empty() ? options_.exitAfterQuery : true;
    long long bytes = static_cast<long long>(options_.query.size());
    for (const auto& path : options_.inputs) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            fatal(fileError(path, errno));
            return exitCode_;
        }
        struct stat st;
        int err = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
        ::close(fd);
        if (err) {
            fatal(fileError(path, err));
            return exitCode_;
        }
        scannable = scannable && S_ISREG(st.st_mode);
        bytes += static_cast<long long>(st.st_size);
    }
    substituteFromStart_ = !options_.noSubstitution && !options_.variables.empty();
    const bool fromStartOption = options_.startBatch > 0 || options_.startLine > 0;
    if (!scannable) {
        if (fromStartOption) {
            fatal(
                "--start-batch and --start-line need regular input files, which can be read "
                "twice.");
            return exitCode_;
        }
        if (observer_) {
            observer_->scanned(-1, -1);
        }
        return 0;
    }
    long atLine = 0;  // the batch that holds --start-line
    long lastEndLine = 0;
    ScanResult scan = scanScript(
        options_, variables_,
        [&](const BatchPlace& place) {
            if (place.number == 1) {
                atLine = 0;
            }
            if (options_.startLine > 0 && atLine == 0 && place.endLine >= options_.startLine) {
                atLine = place.number;
            }
            lastEndLine = place.endLine;
            return true;
        },
        [this] { return interrupted(); });
    if (scan.stopped) {
        BatchPlace first;
        first.number = 1;
        stopBefore(first);
        return exitCode_;
    }
    if (!scan.ok) {
        fatal(scan.error);
        return exitCode_;
    }
    substituteFromStart_ = scan.substitute;
    if (options_.startBatch > scan.batches) {
        fatal("Cannot start at batch " + std::to_string(options_.startBatch) + ": the script has " +
              std::to_string(scan.batches) + " batches.");
        return exitCode_;
    }
    if (options_.startLine > 0 && atLine == 0) {
        fatal("Cannot start at line " + std::to_string(options_.startLine) +
              ": the script's last batch ends on line " + std::to_string(lastEndLine) + ".");
        return exitCode_;
    }
    startBatch_ = options_.startBatch > 0 ? options_.startBatch : atLine > 0 ? atLine : 1;
    scanned_ = true;
    readAhead_ = scan.batches > 0 && bytes / scan.batches >= kReadAheadBatchBytes;
    if (observer_) {
        observer_->scanned(bytes, scan.batches);
    }
    return 0;
}

int Script::run(Executor& executor) {
    executor_ = &executor;
    exitCode_ = 0;
    levelCode_ = 0;
    onErrorExit_ = options_.stopOnError;
    if (!prepared_ && observer_) {
        observer_->scanned(-1, -1);
    }
    ScriptReader reader(options_, variables_);
    reader.setSubstitution(substituteFromStart_);
    // UTF-8 takes at least two thirds of the UTF-16 bytes, so text beyond 1.5
    // times the limit can never be sent and need not be kept.
    reader.setBatchLimit(executor.batchLimit() / 2 * 3);
    reader.setRecordSession(startBatch_ > 1);
    if (scanned_ && readAhead_ && !options_.inputs.empty()) {
        // Files that passed the pre-scan: the next batches are read and split
        // on a thread of their own while the server runs the current one.
        StepQueue queue(kAheadBytes, kAheadSteps);
        reader.setStopCheck([&queue] { return queue.closed(); });
        std::thread producer([&] {
            reader.read([&queue](Step&& step) { return queue.push(std::move(step)); }, false);
            queue.finish();
        });
        while (std::optional<Step> step = queue.pop()) {
            if (handle(std::move(*step)) == Flow::Stop) {
                break;
            }
        }
        queue.close();
        producer.join();
    } else {
        reader.read([this](Step&& step) { return handle(std::move(step)) == Flow::Continue; },
                    true);
    }
    printer_.flush();
    if (observer_) {
        observer_->ended();
    }
    return exitCode();
}

Script::Flow Script::handle(Step&& step) {
    switch (step.kind) {
        case Step::Kind::Batch:
        case Step::Kind::ExitQuery:
            if (step.place.number < startBatch_) {
                session_.take(step.batch);
                if (observer_) {
                    observer_->skipped(step.place);
                }
                return Flow::Continue;
            }
            if (interrupted()) {
                return stopBefore(step.place);
            }
            if (!sessionRestored_ && restoreSession(step.place) == Flow::Stop) {
                return Flow::Stop;
            }
            return step.kind == Step::Kind::Batch ? runBatch(step) : runExitQuery(step);
        case Step::Kind::OnError:
            onErrorExit_ = step.text == "exit";
            return Flow::Continue;
        case Step::Kind::Print:
            // What the skipped part of a resumed script printed is not printed again.
            if (step.place.number >= startBatch_) {
                printer_.text(step.text);
            }
            return Flow::Continue;
        case Step::Kind::Warning:
            if (step.place.number >= startBatch_) {
                printer_.warning(step.text);
            }
            return Flow::Continue;
        case Step::Kind::Fatal:
            return fatal(step.text);
    }
    return Flow::Continue;
}

Script::Flow Script::runBatch(Step& step) {
    const Batch& batch = step.batch;
    // Text of n bytes takes at most 2n bytes as UTF-16: count only when that
    // could be too much.
    const std::size_t limit = executor_->batchLimit();
    if (batch.overflow || (batch.text.size() > limit / 2 && utf16Bytes(batch.text) > limit)) {
        std::size_t size = batch.overflow ? batch.overflowBytes : batch.text.size();
        printer_.error("The batch that starts at line " + std::to_string(step.place.firstLine) +
                       " is larger than the server accepts (" + std::to_string(size) +
                       " bytes of text; at most " + std::to_string(limit) +
                       " bytes as UTF-16). It was not sent.");
        ExecResult refused;
        refused.maxSeverity = 16;
        refused.errors = 1;
        return afterBatch(step.place, refused);
    }
    for (const auto& [name, line] : batch.undefined) {
        printer_.message(true, "'" + name + "' scripting variable not defined.\n");
    }
    if (!batch.undefined.empty() && onErrorExit_) {
        if (observer_) {
            observer_->finished(step.place, 1, false);
        }
        exitCode_ = 1;
        return Flow::Stop;
    }
    if (options_.echo) {
        printer_.text(batch.text);
        if (batch.text.back() != '\n') {
            printer_.text("\n");
        }
    }
    if (observer_) {
        observer_->starting(step.place);
    }
    return afterBatch(step.place, executor_->execute(batch, step.repeat));
}

Script::Flow Script::runExitQuery(Step& step) {
    if (observer_) {
        observer_->starting(step.place);
    }
    ExecResult result = executor_->executeForValue(step.batch);
    if (result.connectionLost || result.abortCode || result.cancelled) {
        return afterBatch(step.place, result);
    }
    if (observer_) {
        observer_->finished(step.place, result.errors, true);
    }
    exitCode_ = static_cast<int>(result.exitValue.value_or(-100));
    return Flow::Stop;
}

Script::Flow Script::afterBatch(const BatchPlace& place, const ExecResult& r) {
    if (r.cancelled) {
        if (observer_) {
            observer_->interrupted(place, true);
        }
        printer_.warning("Interrupted: " + where(place) +
                         " was cancelled on the server and may be partly applied; nothing after "
                         "it was sent.");
        exitCode_ = console::kCancelledExitCode;
        return Flow::Stop;
    }
    if (observer_) {
        observer_->finished(place, r.errors, !r.connectionLost);
    }
    if (r.connectionLost) {
        exitCode_ = 1;
        return Flow::Stop;
    }
    if (r.abortCode) {
        exitCode_ = static_cast<int>(*r.abortCode);
        return Flow::Stop;
    }
    if (r.maxSeverity > 10) {
        const bool counts = options_.errorLevel == 0 || r.maxSeverity >= options_.errorLevel;
        if (options_.errorLevel > 0 && counts) {
            levelCode_ = std::max(levelCode_, r.maxSeverity);
        }
        if (onErrorExit_ && counts) {
            exitCode_ = options_.errorLevel > 0 ? r.maxSeverity : 1;
            return Flow::Stop;
        }
    }
    return Flow::Continue;
}

Script::Flow Script::restoreSession(const BatchPlace& start) {
    sessionRestored_ = true;
    Batch setup;
    setup.text = session_.statements();
    if (setup.text.empty()) {
        return Flow::Continue;
    }
    // Not a batch of the script: no number, no record; but without it the
    // rest would run in the wrong database.
    setup.nonBlank = true;
    const ExecResult result = executor_->execute(setup, 1);
    if (result.cancelled) {
        return stopBefore(start);
    }
    if (result.connectionLost || result.maxSeverity > 10) {
        return fatal("The database and SET options that the batches before " + where(start) +
                     " left behind could not be set again (see above); nothing of the script "
                     "was sent.");
    }
    return Flow::Continue;
}

Script::Flow Script::stopBefore(const BatchPlace& place) {
    if (observer_) {
        observer_->interrupted(place, false);
    }
    printer_.warning("Interrupted before " + where(place) +
                     "; it and the batches after it were not sent.");
    exitCode_ = console::kCancelledExitCode;
    return Flow::Stop;
}

}  // namespace quill::sqlcmd
