#include "app/log/LogView.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <climits>

#include "app/log/FindBar.h"
#include "app/log/LogSearch.h"
#include "core/GuiThread.h"

namespace quill::logbox {

namespace {

constexpr int kMargin = 4;
// Laid-out lines kept for the next paint; far more than a box shows.
constexpr size_t kShownCacheLimit = 400;
const QString kCutMark = QStringLiteral(" …");

// ASCII letters in lower case, the rest as it is: the case rule of the search.
QString foldAscii(QString text) {
    for (QChar& c : text)
        if (c.unicode() >= 'A' && c.unicode() <= 'Z')
            c = QChar(c.unicode() - 'A' + 'a');
    return text;
}

QString megabytes(quint64 bytes) {
    return QString::number(double(bytes) / (1024 * 1024), 'f', 1);
}

}  // namespace

namespace {

// Screen readers meet the box as the read-only, multi-line text it shows,
// not as the bare scroll area it is built on.
class LogViewAccessible : public QAccessibleWidget {
public:
    explicit LogViewAccessible(QWidget* view)
        : QAccessibleWidget(view, QAccessible::EditableText) {}
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        return s;
    }
};

QAccessibleInterface* accessibleLogView(const QString& className, QObject* object) {
    if (className == QLatin1String(LogView::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new LogViewAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

}  // namespace

LogView::LogView(const Services& services, const QString& spoolFolder, QWidget* parent)
    : QAbstractScrollArea(parent),
      services_(services),
      document_(std::make_unique<LogDocument>(spoolFolder)) {
    static const bool accessible = [] {
        QAccessible::installFactory(accessibleLogView);
        return true;
    }();
    (void)accessible;
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::ClickFocus);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setRange(0, 0);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &LogView::onScrollBarMoved);

    connect(document_.get(), &LogDocument::appended, this, &LogView::onAppended);
    connect(document_.get(), &LogDocument::cleared, this, &LogView::onCleared);
    connect(document_.get(), &LogDocument::marksChanged, viewport(), qOverload<>(&QWidget::update));
    connect(document_.get(), &LogDocument::problemChanged, this, [this] {
        const QString problem = document_->problem();
        if (problem.isEmpty())
            notice_->hide();
        else
            showNotice("日志无法写入磁盘（" + problem + "），新的输出暂存在内存中。", true);
    });
    // Output may pour in: the box catches up at most every 20 ms.
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(20);
    connect(&refreshTimer_, &QTimer::timeout, this, &LogView::refresh);
    autoScroll_.setInterval(50);
    connect(&autoScroll_, &QTimer::timeout, this, &LogView::autoScroll);

    findBar_ = new FindBar(this);
    findBar_->hide();
    connect(findBar_, &FindBar::findRequested, this,
            [this](const QString& text, bool backward, bool fromMatchStart) {
                find(text, backward, fromMatchStart);
            });
    connect(findBar_, &FindBar::closed, this, [this] {
        needle_.clear();
        if (search_)
            search_->store(true);
        search_.reset();
        setViewportMargins(0, 0, 0, 0);
        setFocus(Qt::OtherFocusReason);
        viewport()->update();
    });

    notice_ = new QLabel(viewport());
    notice_->setObjectName("logNotice");
    notice_->setWordWrap(true);
    notice_->setTextFormat(Qt::PlainText);
    notice_->setAutoFillBackground(true);
    notice_->setMargin(3);
    QPalette noticeColours = notice_->palette();
    noticeColours.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xC8));
    noticeColours.setColor(QPalette::WindowText, Qt::black);
    notice_->setPalette(noticeColours);
    notice_->hide();
    noticeTimer_.setSingleShot(true);
    noticeTimer_.setInterval(5000);
    connect(&noticeTimer_, &QTimer::timeout, notice_, &QWidget::hide);

    copyAction_ = new QAction("复制", this);
    copyAction_->setShortcut(QKeySequence::Copy);
    connect(copyAction_, &QAction::triggered, this, &LogView::copy);
    selectAllAction_ = new QAction("全选", this);
    selectAllAction_->setShortcut(QKeySequence::SelectAll);
    connect(selectAllAction_, &QAction::triggered, this, &LogView::selectAll);
    findAction_ = new QAction("查找…", this);
    findAction_->setShortcut(QKeySequence::Find);
    connect(findAction_, &QAction::triggered, this, &LogView::openFindBar);
    saveAsAction_ = new QAction("另存为…", this);
    connect(saveAsAction_, &QAction::triggered, this, &LogView::saveAs);
    openFolderAction_ = new QAction("打开运行日志所在文件夹", this);
    connect(openFolderAction_, &QAction::triggered, this, &LogView::openRunFolder);
    // Shown in the menu for the user to see; the keys are handled below.
    for (QAction* a : {copyAction_, selectAllAction_, findAction_})
        a->setShortcutContext(Qt::WidgetShortcut);

    // The selection shows in the active colours also while the find bar has the focus.
    focusWatch_ =
        connect(qApp, &QApplication::focusChanged, this, [this] { viewport()->update(); });
}

LogView::~LogView() {
    // Focus moves while the widget below is torn down, when this is no longer a LogView.
    disconnect(focusWatch_);
}

// ---- laying out -----------------------------------------------------------

qreal LogView::textWidth() const {
    return std::max(20, viewport()->width() - 2 * kMargin);
}

qreal LogView::usableHeight() const {
    return std::max(1, viewport()->height() - kMargin);
}

const LogView::Shown& LogView::shown(qint64 line) const {
    if (auto it = shown_.find(line); it != shown_.end())
        return it->second;
    if (shown_.size() >= kShownCacheLimit)
        shown_.clear();
    Shown s;
    s.text = document_->line(line, LogDocument::kShownLineBytes, &s.cut);
    s.layout = std::make_unique<QTextLayout>(s.cut ? s.text + kCutMark : s.text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    s.layout->setTextOption(option);
    s.layout->setCacheEnabled(true);
    s.layout->beginLayout();
    for (QTextLine row = s.layout->createLine(); row.isValid(); row = s.layout->createLine()) {
        row.setLineWidth(textWidth());
        row.setPosition(QPointF(0, s.height));
        s.height += row.height();
    }
    s.layout->endLayout();
    return shown_.emplace(line, std::move(s)).first->second;
}

int LogView::rows(qint64 line) const {
    return std::max(1, shown(line).layout->lineCount());
}

qreal LogView::rowHeight(Row row) const {
    const QTextLayout& layout = *shown(row.line).layout;
    return row.row < layout.lineCount() ? layout.lineAt(row.row).height()
                                        : QFontMetricsF(font()).lineSpacing();
}

LogView::Row LogView::topShowingEndOf(qint64 line) const {
    Row top{line, rows(line) - 1};
    qreal used = rowHeight(top);
    for (;;) {
        Row above = top.row > 0    ? Row{top.line, top.row - 1}
                    : top.line > 0 ? Row{top.line - 1, rows(top.line - 1) - 1}
                                   : top;
        if (above == top)
            return top;
        used += rowHeight(above);
        if (used > usableHeight())
            return top;
        top = above;
    }
}

LogView::Row LogView::stepRows(Row from, int count) const {
    const qint64 last = document_->lineCount() - 1;
    for (; count > 0; --count) {
        if (from.row + 1 < rows(from.line))
            ++from.row;
        else if (from.line < last)
            from = {from.line + 1, 0};
    }
    for (; count < 0; ++count) {
        if (from.row > 0)
            --from.row;
        else if (from.line > 0)
            from = {from.line - 1, rows(from.line - 1) - 1};
    }
    return from;
}

std::vector<LogView::Placed> LogView::placeLines() const {
    std::vector<Placed> placed;
    const Row top = currentTop();
    const qint64 count = document_->lineCount();
    qreal y = kMargin - (top.row > 0 ? shown(top.line).layout->lineAt(top.row).y() : 0);
    for (qint64 line = top.line; line < count && y < viewport()->height(); ++line) {
        placed.push_back({line, y});
        y += shown(line).height;
    }
    return placed;
}

qint64 LogView::firstVisibleLine() const {
    return currentTop().line;
}

qint64 LogView::lastVisibleLine() const {
    const std::vector<Placed> placed = placeLines();
    return placed.empty() ? 0 : placed.back().line;
}

// ---- scrolling ------------------------------------------------------------

void LogView::setTop(Row top) {
    const Row end = endTop();
    following_ = top >= end;
    top_ = following_ ? end : top;
    syncScrollBar();
    viewport()->update();
}

void LogView::scrollRows(int count) {
    setTop(stepRows(currentTop(), count));
}

void LogView::ensureVisible(qint64 line) {
    const Row top = currentTop();
    if (line < top.line || (line == top.line && top.row > 0)) {
        setTop({line, 0});
        return;
    }
    const std::vector<Placed> placed = placeLines();
    for (const Placed& p : placed)
        if (p.line == line && p.top + shown(line).height <= viewport()->height())
            return;
    setTop(topShowingEndOf(line));
}

void LogView::goToLine(qint64 line) {
    line = std::clamp<qint64>(line, 0, document_->lineCount() - 1);
    // Half a box of rows above the line, so it stands near the middle.
    Row top{line, 0};
    for (qreal above = 0; top > Row{0, 0};) {
        const Row up = stepRows(top, -1);
        above += rowHeight(up);
        if (above > usableHeight() / 2)
            break;
        top = up;
    }
    select({line, 0}, endOf(line));
    setTop(top);
}

void LogView::syncScrollBar() {
    const Row end = endTop();
    const int max = int(std::min<qint64>(end.line, INT_MAX));
    syncing_ = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, max);
    bar->setPageStep(std::max<int>(1, int(placeLines().size()) - 1));
    bar->setValue(following_ ? max : int(std::min<qint64>(top_.line, INT_MAX)));
    syncing_ = false;
}

void LogView::onScrollBarMoved(int value) {
    if (syncing_)
        return;
    // The bar counts lines; its bottom is the end even when the end's top
    // line shows only its last rows.
    setTop(value >= verticalScrollBar()->maximum() ? endTop() : Row{value, 0});
}

void LogView::scrollContentsBy(int, int) {
    // The box draws from its own top row; nothing to move.
}

void LogView::onAppended() {
    // The line that was last may have grown; lines after it are new.
    shown_.erase(shown_.lower_bound(lastLineSeen_), shown_.end());
    lastLineSeen_ = document_->lineCount() - 1;
    if (!refreshTimer_.isActive())
        refreshTimer_.start();
}

void LogView::refresh() {
    syncScrollBar();
    viewport()->update();
}

void LogView::onCleared() {
    shown_.clear();
    lastLineSeen_ = 0;
    following_ = true;
    top_ = {};
    anchor_ = caret_ = {};
    if (search_)
        search_->store(true);
    search_.reset();
    refresh();
}

void LogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    shown_.clear();
    placeFindBar();
    notice_->setFixedWidth(viewport()->width());
    notice_->adjustSize();
    if (!following_)
        top_.row = 0;
    refresh();
}

void LogView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        shown_.clear();
        refresh();
    }
}

void LogView::wheelEvent(QWheelEvent* event) {
    const int notches = event->angleDelta().y() / 120;
    if (notches != 0)
        scrollRows(-notches * QApplication::wheelScrollLines());
    event->accept();
}

// ---- painting -------------------------------------------------------------

bool LogView::selectionShowsActive() const {
    const QWidget* focus = QApplication::focusWidget();
    return hasFocus() || (focus && findBar_->isVisible() && findBar_->isAncestorOf(focus));
}

void LogView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QRect area = viewport()->rect();
    painter.fillRect(area, palette().color(QPalette::Base));
    painter.setClipRect(area.adjusted(0, kMargin, 0, 0));
    painter.setPen(palette().color(QPalette::Text));

    const QPalette::ColorGroup group =
        selectionShowsActive() ? QPalette::Active : QPalette::Inactive;
    QTextCharFormat selected;
    selected.setBackground(palette().color(group, QPalette::Highlight));
    selected.setForeground(palette().color(group, QPalette::HighlightedText));
    QTextCharFormat match;
    match.setBackground(QColor(0xFF, 0xE8, 0x6E));
    const QColor markFill(0xFF, 0xE4, 0xE4), markBar(0xD0, 0x30, 0x30);
    const QString needle = foldAscii(needle_);
    const TextPos from = selectionStart(), to = selectionEnd();

    for (const Placed& p : placeLines()) {
        const Shown& s = shown(p.line);
        if (document_->isMarked(p.line)) {
            painter.fillRect(QRectF(0, p.top, area.width(), s.height), markFill);
            painter.fillRect(QRectF(0, p.top, 2, s.height), markBar);
        }
        QList<QTextLayout::FormatRange> formats;
        if (!needle.isEmpty()) {
            const QString folded = foldAscii(s.text);
            for (qsizetype at = folded.indexOf(needle); at >= 0;
                 at = folded.indexOf(needle, at + needle.size()))
                formats.append({int(at), int(needle.size()), match});
        }
        if (p.line >= from.line && p.line <= to.line && from != to) {
            const int start = p.line == from.line ? std::min<int>(from.column, s.text.size()) : 0;
            const int end =
                p.line == to.line ? std::min<int>(to.column, s.text.size()) : int(s.text.size());
            // A selected line break shows as one selected blank.
            const int breakShown = p.line < to.line ? 1 : 0;
            if (end + breakShown > start)
                formats.append({start, end + breakShown - start, selected});
        }
        s.layout->draw(&painter, QPointF(kMargin, p.top), formats);
        if (p.line == caret_.line && hasFocus())
            s.layout->drawCursor(&painter, QPointF(kMargin, p.top),
                                 std::min<int>(caret_.column, s.text.size()));
    }
}

// ---- positions and selection ---------------------------------------------

TextPos LogView::endOf(qint64 line) const {
    return {line, INT_MAX};
}

TextPos LogView::clamped(TextPos pos) const {
    pos.line = std::clamp<qint64>(pos.line, 0, document_->lineCount() - 1);
    pos.column = std::clamp<int>(pos.column, 0, int(shown(pos.line).text.size()));
    return pos;
}

TextPos LogView::posAt(QPointF point) const {
    const std::vector<Placed> placed = placeLines();
    if (placed.empty())
        return {};
    if (point.y() < placed.front().top)
        return {placed.front().line, 0};
    for (const Placed& p : placed) {
        const Shown& s = shown(p.line);
        if (point.y() >= p.top + s.height && &p != &placed.back())
            continue;
        const qreal y = std::min(point.y() - p.top, s.height - 0.5);
        for (int i = 0; i < s.layout->lineCount(); ++i) {
            const QTextLine row = s.layout->lineAt(i);
            if (y < row.y() + row.height() || i + 1 == s.layout->lineCount())
                return {p.line, std::min<int>(row.xToCursor(point.x() - kMargin), s.text.size())};
        }
        return {p.line, 0};
    }
    return {placed.back().line, 0};
}

quint64 LogView::offsetOf(TextPos pos) const {
    const qint64 line = std::clamp<qint64>(pos.line, 0, document_->lineCount() - 1);
    const Shown& s = shown(line);
    if (pos.column >= s.text.size())
        return document_->lineEnd(line);
    // The UTF-8 bytes of the characters before the column, and any CR
    // among them, which the box does not show.
    const qsizetype wanted = s.text.left(pos.column).toUtf8().size();
    const quint64 start = document_->lineStart(line);
    const QByteArray raw = document_->bytes(
        start, std::min(document_->lineEnd(line), start + LogDocument::kShownLineBytes));
    qsizetype counted = 0, at = 0;
    for (; at < raw.size() && counted < wanted; ++at)
        if (raw[at] != '\r')
            ++counted;
    return start + quint64(at);
}

int LogView::columnOf(qint64 line, quint64 byteInLine) const {
    const quint64 start = document_->lineStart(line);
    QByteArray raw = document_->bytes(
        start, start + std::min<quint64>(byteInLine, LogDocument::kShownLineBytes));
    raw.removeIf([](char c) { return c == '\r'; });
    return int(std::min<qsizetype>(QString::fromUtf8(raw).size(), shown(line).text.size()));
}

void LogView::select(TextPos anchor, TextPos caret) {
    anchor_ = anchor;
    caret_ = caret;
    viewport()->update();
}

void LogView::selectAll() {
    select({0, 0}, endOf(document_->lineCount() - 1));
}

QString LogView::selectedText(qint64 limit) const {
    const quint64 from = offsetOf(selectionStart()), to = offsetOf(selectionEnd());
    if (to - from > quint64(limit))
        return {};
    QByteArray raw = document_->bytes(from, to);
    raw.removeIf([](char c) { return c == '\r'; });
    return QString::fromUtf8(raw);
}

void LogView::copy() {
    if (!hasSelection())
        return;
    const QString text = selectedText();
    if (text.isNull()) {
        const quint64 bytes = offsetOf(selectionEnd()) - offsetOf(selectionStart());
        services_.boxes.show(
            QString("所选内容太大（%1 MB），无法放入剪贴板。请用“另存为…”保存整个日志。")
                .arg(megabytes(bytes)),
            "复制", mb::Ok | mb::IconExclamation);
        return;
    }
    QApplication::clipboard()->setText(text);
}

void LogView::moveCaret(TextPos to, bool extend) {
    caret_ = clamped(to);
    if (!extend)
        anchor_ = caret_;
    ensureVisible(caret_.line);
    viewport()->update();
}

// ---- keyboard and mouse ---------------------------------------------------

void LogView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    if (event == QKeySequence::Find) {
        openFindBar();
        return;
    }
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (event->key() == Qt::Key_F8) {
        shift ? previousMark() : nextMark();
        return;
    }
    if (event->key() == Qt::Key_F3 && !needle_.isEmpty()) {
        find(needle_, shift);
        return;
    }
    if (event->key() == Qt::Key_Escape && findBar_->isVisible()) {
        findBar_->hide();
        emit findBar_->closed();
        return;
    }

    const TextPos caret = clamped(caret_);
    const qint64 last = document_->lineCount() - 1;
    const int page = std::max<int>(1, int(placeLines().size()) - 1);
    const QTextLayout& layout = *shown(caret.line).layout;
    TextPos to = caret;
    switch (event->key()) {
        case Qt::Key_Left:
            if (caret.column > 0)
                to.column = layout.previousCursorPosition(
                    caret.column, ctrl ? QTextLayout::SkipWords : QTextLayout::SkipCharacters);
            else if (caret.line > 0)
                to = clamped(endOf(caret.line - 1));
            break;
        case Qt::Key_Right:
            if (caret.column < shown(caret.line).text.size())
                to.column = layout.nextCursorPosition(
                    caret.column, ctrl ? QTextLayout::SkipWords : QTextLayout::SkipCharacters);
            else if (caret.line < last)
                to = {caret.line + 1, 0};
            break;
        case Qt::Key_Up:
            to.line = caret.line - 1;
            break;
        case Qt::Key_Down:
            to.line = caret.line + 1;
            break;
        case Qt::Key_PageUp:
            to.line = caret.line - page;
            break;
        case Qt::Key_PageDown:
            to.line = caret.line + page;
            break;
        case Qt::Key_Home:
            to = ctrl ? TextPos{0, 0} : TextPos{caret.line, 0};
            break;
        case Qt::Key_End:
            to = ctrl ? endOf(last) : endOf(caret.line);
            break;
        default:
            // Read-only: typing changes nothing.
            event->ignore();
            return;
    }
    moveCaret(to, shift);
}

void LogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const TextPos at = posAt(event->position());
    caret_ = at;
    if (!(event->modifiers() & Qt::ShiftModifier))
        anchor_ = at;
    dragging_ = true;
    dragPoint_ = event->position();
    viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_)
        return;
    dragPoint_ = event->position();
    caret_ = posAt(dragPoint_);
    const bool outside = dragPoint_.y() < 0 || dragPoint_.y() > viewport()->height();
    if (outside && !autoScroll_.isActive())
        autoScroll_.start();
    else if (!outside)
        autoScroll_.stop();
    viewport()->update();
}

void LogView::autoScroll() {
    if (!dragging_) {
        autoScroll_.stop();
        return;
    }
    scrollRows(dragPoint_.y() < 0 ? -1 : 1);
    caret_ = posAt(dragPoint_);
}

void LogView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    dragging_ = false;
    autoScroll_.stop();
    QClipboard* clipboard = QApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection()) {
        const QString text = selectedText(kPrimarySelectionLimit);
        if (!text.isNull())
            clipboard->setText(text, QClipboard::Selection);
    }
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    // The word under the pointer: from the boundary at or before it to the next one.
    const TextPos at = posAt(event->position());
    const QString& text = shown(at.line).text;
    const int column = std::min<int>(at.column, text.size());
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
    words.setPosition(column);
    const qsizetype start = words.isAtBoundary() ? column : words.toPreviousBoundary();
    words.setPosition(column);
    const qsizetype end = words.toNextBoundary();
    if (start >= 0 && end > start)
        select({at.line, int(start)}, {at.line, int(end)});
}

void LogView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LogView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

// ---- menu, marks, find, save ---------------------------------------------

void LogView::addMenuActions(const QList<QAction*>& actions) {
    extraActions_ += actions;
}

QMenu* LogView::createContextMenu() {
    auto* menu = new QMenu(this);
    copyAction_->setEnabled(hasSelection());
    menu->addAction(copyAction_);
    menu->addAction(selectAllAction_);
    menu->addAction(findAction_);
    menu->addSeparator();
    menu->addAction(saveAsAction_);
    openFolderAction_->setEnabled(!runFolder_.isEmpty() && QFileInfo(runFolder_).isDir());
    menu->addAction(openFolderAction_);
    if (!extraActions_.isEmpty()) {
        menu->addSeparator();
        menu->addActions(extraActions_);
    }
    return menu;
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void LogView::nextMark() {
    if (const auto line = document_->nextMark(caret_.line))
        goToLine(*line);
    else
        showNotice("日志中没有标记的错误行。");
}

void LogView::previousMark() {
    if (const auto line = document_->previousMark(caret_.line))
        goToLine(*line);
    else
        showNotice("日志中没有标记的错误行。");
}

void LogView::placeFindBar() {
    if (!findBar_->isVisible())
        return;
    const int height = findBar_->sizeHint().height();
    setViewportMargins(0, 0, 0, height);
    const QRect port = viewport()->geometry();
    findBar_->setGeometry(port.left(), port.bottom() + 1, port.width(), height);
}

void LogView::openFindBar() {
    findBar_->open();
    placeFindBar();
    // The selected words are what the user most likely looks for.
    if (hasSelection() && selectionStart().line == selectionEnd().line) {
        const QString words = selectedText();
        if (!words.isEmpty() && words.size() <= 200)
            findBar_->edit()->setText(words);
        findBar_->edit()->selectAll();
    }
}

void LogView::find(const QString& text, bool backward, bool fromMatchStart) {
    if (search_)
        search_->store(true);
    search_.reset();
    needle_ = text;
    viewport()->update();
    if (text.isEmpty()) {
        findBar_->setState({});
        return;
    }
    const quint64 from = backward || fromMatchStart ? offsetOf(selectionStart())
                         : hasSelection()           ? offsetOf(selectionEnd())
                                                    : offsetOf(caret_);
    findBar_->setState("查找中…");
    const quint64 generation = document_->generation();
    // The worker is stopped before the box goes, so this is alive when posted to.
    search_ = worker_.post([this, snapshot = document_->snapshot(), needle = text.toUtf8(), text,
                            from, backward, generation](const std::atomic<bool>& cancelled) {
        const std::optional<quint64> at = findInLog(snapshot, needle, from, backward, cancelled);
        if (cancelled)
            return;
        const bool wrapped = at && (backward ? *at >= from : *at < from);
        postToGui(this, [this, generation, text, at, wrapped] {
            onFound(generation, text, at, wrapped);
        });
    });
}

void LogView::onFound(quint64 generation, const QString& needle, std::optional<quint64> at,
                      bool wrapped) {
    if (generation != document_->generation() || needle != needle_)
        return;
    search_.reset();
    if (!at) {
        findBar_->setState("找不到");
        return;
    }
    const auto [line, byte] = document_->placeOf(*at);
    const int start = columnOf(line, byte);
    const int end = columnOf(line, byte + quint64(needle.toUtf8().size()));
    findBar_->setState(wrapped ? "已从另一端继续" : QString());
    anchor_ = {line, start};
    caret_ = {line, end};
    ensureVisible(line);
    viewport()->update();
}

void LogView::saveAs() {
    const QString suggested = QDir::home().filePath(
        document_->runLogPath().isEmpty()
            ? "Quillstep-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + ".log"
            : QFileInfo(document_->runLogPath()).fileName());
    const QString path = services_.saveDialogs.askSavePath("日志另存为", suggested);
    if (path.isEmpty())
        return;
    showNotice("正在保存日志…", true);
    worker_.post([this, snapshot = document_->snapshot(), path](const std::atomic<bool>& c) {
        const QString error = exportLog(snapshot, path, c);
        if (c)
            return;
        postToGui(this, [this, path, error] {
            if (error.isEmpty()) {
                showNotice("日志已保存到 " + path);
                return;
            }
            notice_->hide();
            services_.boxes.show("日志未能保存到 " + path + "：" + error, "日志另存为",
                                 mb::Ok | mb::IconError);
        });
    });
}

void LogView::openRunFolder() {
    if (runFolder_.isEmpty() || !QFileInfo(runFolder_).isDir() ||
        !services_.opener.open(runFolder_))
        showNotice("无法打开运行日志所在文件夹 " + runFolder_);
}

void LogView::showNotice(const QString& text, bool lasting) {
    notice_->setText(text);
    notice_->setFixedWidth(viewport()->width());
    notice_->adjustSize();
    notice_->move(0, 0);
    notice_->show();
    notice_->raise();
    if (lasting)
        noticeTimer_.stop();
    else
        noticeTimer_.start();
}

QString LogView::notice() const {
    return notice_->isVisible() ? notice_->text() : QString();
}

}  // namespace quill::logbox
