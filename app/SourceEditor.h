// The source pane: a plain-text editor with line numbers, a highlighted
// current line and Forth colouring, and the helpers that move 8-bit text
// between the compiler's line lists and Qt's strings.
#pragma once

#include <QPlainTextEdit>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <string>
#include <string_view>
#include <vector>

#include "CodeList.h"

class QMimeData;

namespace mirtolan {

// 8-bit lines are shown byte for byte as Latin-1 characters.
QString LinesToText(const std::vector<std::string>& lines);
QString LinesToText(const LineList& lines);
// The lines of a document; a character outside Latin-1 (only typing can
// bring one in) becomes "?". An empty document has no lines.
std::vector<std::string> DocumentLines(const QTextDocument& doc);

// The first local file with the ".4th" extension among dropped URLs, or "".
QString DroppedSourceFile(const QMimeData* mime);

class ForthHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    explicit ForthHighlighter(QTextDocument* doc);

protected:
    void highlightBlock(const QString& text) override;

private:
    QTextCharFormat keyword_, comment_, number_, passThrough_;
};

class SourceEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit SourceEditor(QWidget* parent = nullptr);

    int lineNumberAreaWidth() const;
    void paintLineNumbers(QPaintEvent* event);
    // Puts the cursor at the start of 1-based `line`, clamped to the text.
    void goToLine(int line);

signals:
    // A .4th file was dropped on the pane; the window decides what to do.
    void sourceFileDropped(const QString& path);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void updateLineNumberAreaWidth();
    void updateLineNumberArea(const QRect& rect, int dy);
    void highlightCurrentLine();

    QWidget* lineNumberArea_;
};

} // namespace mirtolan
