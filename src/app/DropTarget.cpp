#include "app/DropTarget.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include "app/ScriptDrop.h"

namespace quill {
namespace {

bool isFileList(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return false;
    for (const QUrl& url : data->urls())
        if (!url.isLocalFile())
            return false;
    return true;
}

}  // namespace

void DropTarget::registerOn(QWidget* widget) {
    if (widget_)
        return;
    widget_ = widget;
    widget->setAcceptDrops(true);
    widget->installEventFilter(this);
}

bool DropTarget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != widget_)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (isFileList(drag->mimeData()) && (drag->possibleActions() & Qt::CopyAction)) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;  // the box's own text dropping stays out of it
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (!isFileList(drop->mimeData()) || !(drop->possibleActions() & Qt::CopyAction)) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            QStringList paths;
            for (const QUrl& url : drop->mimeData()->urls())
                paths << url.toLocalFile();
            emit filesDropped(droppedFilesText(paths));
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
    }
}

}  // namespace quill
