// The source pane: a plain-text editor with line numbers, a highlighted
// current line, Forth colouring, markers on lines with messages, matching
// control words, completion of word names, line comments and auto-indent.
#pragma once

#include <QPlainTextEdit>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CodeList.h"
#include "Colours.h"
#include "ForthWords.h"
#include "MessagePane.h"

class QCompleter;
class QMimeData;
class QStringListModel;

namespace mirtolan {

class WordIndex;

// The lines of a document as the editor holds them. An empty document has no lines.
std::vector<QString> DocumentTextLines(const QTextDocument& doc);

// Puts "\\ " before every line of `lines`, or takes it away when every
// line that is not blank already starts with it (after its indentation).
// Returns the new lines.
std::vector<QString> ToggleLineComments(const std::vector<QString>& lines);

// The first local file with the ".4th" extension among dropped URLs, or "".
QString DroppedSourceFile(const QMimeData* mime);

// Colours a source. A large one is coloured only where it is seen: the
// colours of every line of a hundred thousand would take more memory than
// the text, and seconds to work out.
class ForthHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    explicit ForthHighlighter(QTextDocument* doc);
    // Colours the blocks first..last (0-based) that are not coloured yet.
    void ensureHighlighted(int first, int last);
    // Whether a document of `blocks` lines is coloured only where seen.
    static bool ColoursLazily(int blocks);
    // The word colours, from the editor's palette; colours the text again.
    void setColours(const EditorColours& colours);

protected:
    void highlightBlock(const QString& text) override;

private:
    QTextCharFormat keyword_, comment_, number_, passThrough_;
    int seenFirst_ = 0;  // blocks in sight: a large document colours only these
    int seenLast_ = -1;
};

// What another tool shows on the editor's lines (the debugger's breakpoints
// and the line the program stands at): a sign in the gutter and selections
// over the text, drawn after the editor's own.
class LineDecorator {
public:
    virtual ~LineDecorator() = default;
    // Paints the sign of 1-based `line`, if it has one, in `area`.
    virtual void paintSign(QPainter& painter, int line, const QRect& area) const = 0;
    virtual QList<QTextEdit::ExtraSelection> selections() const = 0;
};

class SourceEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit SourceEditor(QWidget* parent = nullptr);
    ~SourceEditor() override;

    int lineNumberAreaWidth() const;
    void paintLineNumbers(QPaintEvent* event);
    // Puts the cursor at the start of 1-based `line`, clamped to the text.
    void goToLine(int line);

    // Marks the lines that messages name: a marker in the gutter, the word
    // underlined, the message as tooltip. The marks move with edits; the
    // next call replaces them, keeping (where they moved to) those of the
    // messages it gives again.
    void setLineMessages(const std::vector<MessageAt>& messages);
    // Lines that carry a mark now (1-based), in order.
    std::vector<int> markedLines() const;
    // The line (1-based) where the mark of the message on the pane's line
    // `block` stands now, after the edits since; nothing without a mark.
    std::optional<int> messageLine(int block) const;
    // The tooltip shown over `position` of the document: a message on that
    // word's line, or the stack comment of an archive word.
    QString toolTipAt(int position) const;

    // The archive's words for completion and tooltips.
    void setArchiveWords(std::vector<ArchiveWord> words);
    // Offers the words (archive and source) that begin with the word before the cursor.
    void complete();
    QCompleter* completer() const { return completer_; }
    // Comments out the selected lines (or the cursor's line), or uncomments them.
    void toggleComment();
    // Colours only what is seen, when the source is large.
    void setHighlighter(ForthHighlighter* highlighter) {
        highlighter_ = highlighter;
        highlighter_->setColours(colours_);
    }
    // The words matching the control word at the cursor, as shown now.
    const std::vector<WordSpan>& matchingWords() const { return matches_; }
    // The names the source defines, kept up to date as it is edited.
    WordIndex* wordIndex() const { return index_; }
    // The colours in use, from the palette.
    const EditorColours& colours() const { return colours_; }
    // Another tool's signs and selections (not owned; null for none); the
    // gutter makes room for a sign while there is one.
    void setDecorator(const LineDecorator* decorator);
    const LineDecorator* decorator() const { return decorator_; }
    // Draws the decorator's signs and selections again, after they changed.
    void refreshDecorations();

signals:
    // A .4th file was dropped on the pane; the window decides what to do.
    void sourceFileDropped(const QString& path);
    // Ctrl+wheel: the window zooms all panes together.
    void zoomRequested(int steps);
    // The gutter was clicked beside 1-based `line`.
    void gutterClicked(int line);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void applyColours();
    void updateLineNumberAreaWidth();
    void updateLineNumberArea(const QRect& rect, int dy);
    void highlightCurrentLine();
    void findMatchingWords();
    void insertCompletion(const QString& word);
    QString wordBeforeCursor() const;

    // A mark left by setLineMessages.
    struct LineMark {
        QTextCursor word; // the underlined word (a selection that follows edits)
        QString message;  // the message, shown as tooltip
        int block = 0;    // the message's line in the message pane
    };

    QWidget* lineNumberArea_;
    std::vector<LineMark> marks_;        // lines named by messages
    std::vector<WordSpan> matches_;      // control words matching the one at the cursor
    std::vector<ArchiveWord> archiveWords_; // for completion and stack-comment tooltips
    QStringList archiveNames_;              // their names, in completion order
    QCompleter* completer_ = nullptr;
    QStringListModel* completionModel_ = nullptr;
    ForthHighlighter* highlighter_ = nullptr;
    WordIndex* index_ = nullptr; // the names defined, for completion
    EditorColours colours_;      // from the palette
    const LineDecorator* decorator_ = nullptr; // another tool's signs and selections
};

} // namespace mirtolan
