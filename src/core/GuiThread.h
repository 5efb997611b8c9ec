#pragma once

#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <memory>
#include <type_traits>
#include <utility>

namespace quill {

// The one way work on another thread hands an update to the GUI thread:
// a queued invocation on a context object that lives there. Invocations
// posted from one thread run in the order they were posted, and never
// after the context object is gone.
//
// Qt's queue orders the poster's writes before the call, but Qt is not
// built for ThreadSanitizer, which cannot see that. The release/acquire
// pair on the hand-off says it in a form it can check, so a real race
// still shows.
template <class F>
void postToGui(QObject* context, F&& f) {
    struct Handoff {
        explicit Handoff(F&& g) : call(std::forward<F>(g)) {}
        std::decay_t<F> call;
        std::atomic<bool> posted{false};
    };
    auto handoff = std::make_shared<Handoff>(std::forward<F>(f));
    handoff->posted.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(
        context,
        [handoff] {
            (void)handoff->posted.load(std::memory_order_acquire);
            handoff->call();
        },
        Qt::QueuedConnection);
}

}  // namespace quill
