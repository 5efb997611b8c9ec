#pragma once

#include <QAbstractScrollArea>
#include <QTimer>
#include <map>
#include <memory>

#include "app/log/LogDocument.h"
#include "app/log/LogWorker.h"
#include "core/FileOpener.h"
#include "core/MessageBoxes.h"
#include "core/SaveDialogs.h"

class QLabel;
class QMenu;
class QTextLayout;

namespace quill::logbox {

class FindBar;

// A place in the log as shown: a line, and a character (UTF-16 unit) in it.
// A column at or past the end of the line stands for the end of the line,
// also of a line too long to be shown whole.
struct TextPos {
    qint64 line = 0;
    int column = 0;
    auto operator<=>(const TextPos&) const = default;
};

// The read-only log box. It shows a LogDocument by laying out only the
// lines in sight, so it costs the same for ten lines as for ten million.
// Lines wrap at the box's width. The box follows the end of the log while
// the user has not scrolled up, and again once they are back at the bottom.
//
// Text is selected with the mouse or the keyboard (Shift with the arrows,
// Home/End, PageUp/PageDown, Ctrl+A), also across lines out of sight, and
// copied with Ctrl+C or the context menu. Ctrl+F opens a find bar (the
// search runs on a worker thread); F8 and Shift+F8 go to the next and the
// previous marked line. The context menu also saves the whole log and
// opens the folder of the run logs.
class LogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    struct Services {
        MessageBoxes& boxes;
        FileOpener& opener;
        SaveDialogs& saveDialogs;
    };

    // Clipboard copies stop at this size; "save as" takes any size.
    static constexpr qint64 kCopyLimit = 64 * 1024 * 1024;
    // A mouse selection is offered to other programs (X11's primary
    // selection) up to this size, so that a release never waits long.
    static constexpr qint64 kPrimarySelectionLimit = 1024 * 1024;

    LogView(const Services& services, const QString& spoolFolder, QWidget* parent = nullptr);
    ~LogView() override;

    LogDocument& document() { return *document_; }
    const LogDocument& document() const { return *document_; }

    // The folder "打开运行日志所在文件夹" opens; the item is off while it does not exist.
    void setRunFolder(const QString& folder) { runFolder_ = folder; }
    // Further context menu items, after the box's own.
    void addMenuActions(const QList<QAction*>& actions);
    // A new context menu (the caller owns it).
    QMenu* createContextMenu();

    bool isFollowingEnd() const { return following_; }
    // The first and the last line at least partly in sight.
    qint64 firstVisibleLine() const;
    qint64 lastVisibleLine() const;
    // Scrolls line into sight, near the middle, and selects it.
    void goToLine(qint64 line);

    void select(TextPos anchor, TextPos caret);
    void selectAll();
    TextPos selectionStart() const { return std::min(anchor_, caret_); }
    TextPos selectionEnd() const { return std::max(anchor_, caret_); }
    bool hasSelection() const { return anchor_ != caret_; }
    // The selected text, line breaks as "\n"; null when over limit bytes.
    QString selectedText(qint64 limit = kCopyLimit) const;
    void copy();

    void openFindBar();
    FindBar* findBar() const { return findBar_; }
    // Finds text after the selection (or before it), on the worker.
    void find(const QString& text, bool backward, bool fromMatchStart = false);
    bool isSearching() const { return bool(search_); }

    void nextMark();
    void previousMark();

    void saveAs();
    void openRunFolder();

    // The notice shown over the top of the box (a failure, a finished save).
    QString notice() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // One row of the box: a line and one of the rows it wraps into.
    struct Row {
        qint64 line = 0;
        int row = 0;
        auto operator<=>(const Row&) const = default;
    };
    struct Shown {
        QString text;  // as shown, without the mark of a cut
        bool cut = false;
        std::unique_ptr<QTextLayout> layout;
        qreal height = 0;
    };
    struct Placed {
        qint64 line;
        qreal top;  // of the line's first row, in viewport coordinates
    };

    const Shown& shown(qint64 line) const;
    int rows(qint64 line) const;
    qreal rowHeight(Row row) const;
    qreal textWidth() const;
    qreal usableHeight() const;
    // The top row that puts the last row of line at the bottom of the box.
    Row topShowingEndOf(qint64 line) const;
    Row endTop() const { return topShowingEndOf(document_->lineCount() - 1); }
    Row currentTop() const { return following_ ? endTop() : top_; }
    std::vector<Placed> placeLines() const;
    Row stepRows(Row from, int count) const;
    void setTop(Row top);
    void scrollRows(int count);
    void ensureVisible(qint64 line);
    void syncScrollBar();
    void onScrollBarMoved(int value);
    void refresh();
    void onAppended();
    void onCleared();

    TextPos posAt(QPointF point) const;
    TextPos endOf(qint64 line) const;
    TextPos clamped(TextPos pos) const;
    quint64 offsetOf(TextPos pos) const;
    int columnOf(qint64 line, quint64 byteInLine) const;
    void moveCaret(TextPos to, bool extend);
    bool selectionShowsActive() const;
    void autoScroll();

    void showNotice(const QString& text, bool lasting = false);
    void placeFindBar();
    void onFound(quint64 generation, const QString& needle, std::optional<quint64> at,
                 bool wrapped);

    Services services_;
    std::unique_ptr<LogDocument> document_;

    bool following_ = true;
    Row top_;
    TextPos anchor_;
    TextPos caret_;
    bool dragging_ = false;
    QPointF dragPoint_;
    QTimer autoScroll_;
    QTimer refreshTimer_;
    bool syncing_ = false;

    // Laid out lines; the lines from lastLineSeen_ on may still grow.
    mutable std::map<qint64, Shown> shown_;
    qint64 lastLineSeen_ = 0;

    FindBar* findBar_;
    QString needle_;
    LogWorker::Cancel search_;
    QLabel* notice_;
    QTimer noticeTimer_;
    QString runFolder_;
    QList<QAction*> extraActions_;
    QAction* copyAction_;
    QAction* selectAllAction_;
    QAction* findAction_;
    QAction* saveAsAction_;
    QAction* openFolderAction_;
    QMetaObject::Connection focusWatch_;

    // Last: its jobs end before the members they report to.
    LogWorker worker_;
};

}  // namespace quill::logbox
