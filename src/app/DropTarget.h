#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace quill {

// Takes files dropped from a file manager onto one widget. Only file lists
// are taken: text and web links are refused while they hover. The drop is
// a copy, so the source never moves or deletes the file.
class DropTarget : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Makes widget the place that takes drops; a second call does nothing.
    void registerOn(QWidget* widget);

signals:
    // The dropped local paths, in the order of the list, as one text (see
    // droppedFilesText).
    void filesDropped(const QString& files);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* widget_ = nullptr;
};

}  // namespace quill
