#pragma once

#include <QMetaObject>
#include <QObject>
#include <utility>

namespace quill {

// The one way work on another thread hands an update to the GUI thread:
// a queued invocation on a context object that lives there. Invocations
// posted from one thread run in the order they were posted, and never
// after the context object is gone.
template <class F>
void postToGui(QObject* context, F&& f) {
    QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::QueuedConnection);
}

}  // namespace quill
