#pragma once

#include <chrono>
#include <functional>

namespace quill::sqlcmd {

// SIGINT for quill-sqlcmd, a stop that stops: the first SIGINT only raises a
// flag, and the run ends by itself: a batch that ends within kLetFinish is
// let finish (then the journal knows it done, and a resumed run sends it
// neither twice nor never), a longer one is cancelled on the server. If the
// run has not ended `grace` after the SIGINT, or at a second SIGINT, a
// watchdog thread runs `forceExit` and ends the process with
// kCancelledExitCode. The handler only notes the time and writes to a pipe;
// whichever thread the kernel picks passes the signal on to the main thread,
// whose waits for the server it must interrupt. One per process; a scope
// object.
class Interrupt {
public:
    Interrupt(std::function<void()> forceExit, std::chrono::milliseconds grace);
    ~Interrupt();
    Interrupt(const Interrupt&) = delete;
    Interrupt& operator=(const Interrupt&) = delete;

    static constexpr std::chrono::milliseconds kLetFinish{500};

    // Whether a SIGINT came; async-signal-safe.
    static bool requested();
    // Whether it came kLetFinish ago or more: time to cancel what runs.
    static bool overdue();
};

}  // namespace quill::sqlcmd
