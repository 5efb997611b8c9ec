#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <functional>

namespace quill {

// How a later start reaches the running instance: a local socket in the
// abstract namespace, named after the instance's mark. Holding no file, it
// vanishes with its process however that ends (a kill -9 included), and,
// like the mark, it belongs to one user's session. Connections from other
// users are dropped unanswered.
//
// The exchange is one line each way: "show" asks the instance to bring its
// window to the front; "shown" says it has.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    // Listens on the channel of the mark `name` (empty: "Quillstep");
    // onShow runs on this object's thread for every request.
    InstanceChannel(const QString& name, std::function<void()> onShow, QObject* parent = nullptr);

    // False when the channel could not be opened (its name is taken).
    bool isListening() const;

private:
    void answer(class QLocalSocket* peer);

    QLocalServer server_;
    std::function<void()> onShow_;
};

// Asks the instance holding the mark `name` to show its window. True once it
// has answered that it did; false when nobody answers within timeoutMs.
// Blocks the calling thread meanwhile; needs no event loop.
bool askRunningInstanceToShow(const QString& name, int timeoutMs = 3000);

}  // namespace quill
