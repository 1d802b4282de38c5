// The listing pane: a read-only view over the compiler's line list that
// draws only the lines in sight. A listing of a large source has millions of
// lines; copied into a text document it would take many times its size and
// seconds to lay out, while this view costs nothing per line.
#pragma once

#include <QAbstractScrollArea>

#include "CodeList.h"

namespace mirtolan {

class ListingView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ListingView(QWidget* parent = nullptr);

    // Shows `lines`, which must stay alive and unchanged until the next
    // setLines or clear; null shows nothing.
    void setLines(const LineList* lines);
    void clear() { setLines(nullptr); }

    std::size_t lineCount() const { return lines_ ? lines_->size() : 0; }
    // Line `i` as shown (tabs kept), decoded as UTF-8 where it is valid.
    QString lineText(std::size_t i) const;
    std::size_t firstVisibleLine() const;
    // Selected lines, [first, last]; an empty selection has first > last.
    std::size_t selectionFirst() const;
    std::size_t selectionLast() const;
    void selectLines(std::size_t first, std::size_t last);
    // The selected lines joined with newlines (the whole listing when
    // nothing is selected is not copied: that could be hundreds of megabytes
    // on the clipboard by accident).
    QString selectedText() const;
    void copy() const;
    void scrollToLine(std::size_t line);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

signals:
    // Ctrl+wheel over the pane: the window zooms all panes together.
    void zoomRequested(int steps);

private:
    void updateScrollBars();
    int lineHeight() const;
    std::size_t lineAtY(int y) const;
    void moveCursorTo(std::size_t line, bool extend);

    const LineList* lines_ = nullptr;
    std::size_t widestColumns_ = 0; // columns of the longest line, tabs expanded, for the horizontal range
    std::size_t anchor_ = 0;        // where the selection started
    std::size_t cursor_ = 0;        // the line the keyboard moves; the selection runs from anchor_ to it
    bool selecting_ = false;        // some line is selected
};

} // namespace mirtolan
