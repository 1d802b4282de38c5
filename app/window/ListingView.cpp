#include "ListingView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

#include "FileEncoding.h"

namespace mirtolan {

namespace {
// Assembler text is laid out with tabs at every eighth column.
constexpr int TabColumns = 8;
// Space left of the text, so the first column does not touch the frame.
constexpr int LeftMargin = 4;

QString ExpandTabs(const QString& s) {
    QString out;
    out.reserve(s.size() + 8);
    for (QChar ch : s) {
        if (ch == QLatin1Char('\t')) {
            const qsizetype pad = TabColumns - out.size() % TabColumns;
            out.append(QString(pad, QLatin1Char(' ')));
        } else {
            out.append(ch);
        }
    }
    return out;
}

std::size_t ColumnsOf(std::string_view line) {
    std::size_t col = 0;
    for (char ch : line) {
        if (ch == '\t')
            col += TabColumns - col % TabColumns;
        else if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) // count a UTF-8 sequence once
            ++col;
    }
    return col;
}
} // namespace

ListingView::ListingView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

void ListingView::setLines(const LineList* lines) {
    lines_ = lines && !lines->empty() ? lines : nullptr;
    widestColumns_ = 0;
    if (lines_)
        for (std::string_view l : *lines_) widestColumns_ = std::max(widestColumns_, ColumnsOf(l));
    anchor_ = cursor_ = 0;
    selecting_ = false;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

QString ListingView::lineText(std::size_t i) const {
    if (!lines_ || i >= lines_->size()) return {};
    return DecodeShown((*lines_)[i]);
}

int ListingView::lineHeight() const { return qMax(1, fontMetrics().lineSpacing()); }

std::size_t ListingView::firstVisibleLine() const { return static_cast<std::size_t>(verticalScrollBar()->value()); }

std::size_t ListingView::selectionFirst() const { return selecting_ ? std::min(anchor_, cursor_) : 1; }
std::size_t ListingView::selectionLast() const { return selecting_ ? std::max(anchor_, cursor_) : 0; }

void ListingView::selectLines(std::size_t first, std::size_t last) {
    if (!lines_) return;
    anchor_ = std::min(first, lines_->size() - 1);
    cursor_ = std::min(last, lines_->size() - 1);
    selecting_ = true;
    viewport()->update();
}

QString ListingView::selectedText() const {
    QString out;
    for (std::size_t i = selectionFirst(); i <= selectionLast() && lines_ && i < lines_->size(); ++i) {
        out += lineText(i);
        out += QLatin1Char('\n');
    }
    return out;
}

void ListingView::copy() const {
    const QString text = selectedText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void ListingView::updateScrollBars() {
    const int visible = qMax(1, viewport()->height() / lineHeight());
    // The scroll bar counts lines, so a listing beyond INT_MAX lines would not
    // fit; the line list's 32-bit starts keep it far below that.
    const int count = static_cast<int>(lineCount());
    verticalScrollBar()->setRange(0, qMax(0, count - visible));
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setSingleStep(1);
    const int charWidth = qMax(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
    const int width = static_cast<int>(std::min<std::size_t>(widestColumns_, INT_MAX / charWidth - LeftMargin)) *
                          charWidth + 2 * LeftMargin;
    horizontalScrollBar()->setRange(0, qMax(0, width - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(charWidth);
}

void ListingView::scrollToLine(std::size_t line) {
    QScrollBar* bar = verticalScrollBar();
    const auto first = static_cast<std::size_t>(bar->value());
    const auto shown = static_cast<std::size_t>(qMax(1, bar->pageStep()));
    if (line < first)
        bar->setValue(static_cast<int>(line));
    else if (line >= first + shown)
        bar->setValue(static_cast<int>(line - shown + 1));
}

void ListingView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    if (!lines_) return;
    const int h = lineHeight();
    const int ascent = fontMetrics().ascent();
    const int x = LeftMargin - horizontalScrollBar()->value();
    std::size_t i = firstVisibleLine() + static_cast<std::size_t>(event->rect().top() / h);
    const QPalette& pal = palette();
    for (int y = static_cast<int>(i - firstVisibleLine()) * h; i < lines_->size() && y <= event->rect().bottom();
         ++i, y += h) {
        const bool selected = selecting_ && i >= selectionFirst() && i <= selectionLast();
        if (selected) {
            p.fillRect(0, y, viewport()->width(), h, pal.brush(QPalette::Highlight));
            p.setPen(pal.color(QPalette::HighlightedText));
        } else {
            p.setPen(pal.color(QPalette::Text));
        }
        p.drawText(x, y + ascent, ExpandTabs(lineText(i)));
    }
}

void ListingView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ListingView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateScrollBars();
        viewport()->update();
    }
}

std::size_t ListingView::lineAtY(int y) const {
    const std::size_t line = firstVisibleLine() + static_cast<std::size_t>(qMax(0, y) / lineHeight());
    return lineCount() == 0 ? 0 : std::min(line, lineCount() - 1);
}

void ListingView::moveCursorTo(std::size_t line, bool extend) {
    if (!lines_) return;
    cursor_ = std::min(line, lines_->size() - 1);
    if (!extend || !selecting_) anchor_ = cursor_;
    selecting_ = true;
    scrollToLine(cursor_);
    viewport()->update();
}

void ListingView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        if (lines_) selectLines(0, lines_->size() - 1);
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const std::size_t page = static_cast<std::size_t>(qMax(1, verticalScrollBar()->pageStep()));
    const std::size_t last = lineCount() == 0 ? 0 : lineCount() - 1;
    switch (event->key()) {
    case Qt::Key_Up:
        moveCursorTo(cursor_ == 0 ? 0 : cursor_ - 1, extend);
        return;
    case Qt::Key_Down:
        moveCursorTo(cursor_ + 1, extend);
        return;
    case Qt::Key_PageUp:
        moveCursorTo(cursor_ > page ? cursor_ - page : 0, extend);
        return;
    case Qt::Key_PageDown:
        moveCursorTo(cursor_ + page, extend);
        return;
    case Qt::Key_Home:
        if (event->modifiers() & Qt::ControlModifier) moveCursorTo(0, extend);
        horizontalScrollBar()->setValue(0);
        return;
    case Qt::Key_End:
        if (event->modifiers() & Qt::ControlModifier) moveCursorTo(last, extend);
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void ListingView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !lines_) return;
    moveCursorTo(lineAtY(event->position().toPoint().y()), event->modifiers() & Qt::ShiftModifier);
}

void ListingView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !lines_) return;
    moveCursorTo(lineAtY(event->position().toPoint().y()), true);
}

void ListingView::wheelEvent(QWheelEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        const int steps = event->angleDelta().y() / 120;
        if (steps != 0) emit zoomRequested(steps);
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

} // namespace mirtolan
