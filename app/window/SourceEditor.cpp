#include "SourceEditor.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDragEnterEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QListView>
#include <QScrollBar>
#include <QStringListModel>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QUrl>

#include <algorithm>
#include <iterator>
#include <array>
#include <set>
#include <string_view>

#include "WordIndex.h"

namespace mirtolan {

namespace {

// The words the compiler gives a meaning of its own, at top level or inside
// a definition; compared upper-cased like the compiler does.
constexpr std::array<std::string_view, 27> ForthKeywords = {
    ":", ";", "IF", "ELSE", "THEN", "BEGIN", "UNTIL", "AGAIN", "WHILE", "REPEAT",
    "DO", "LOOP", "+LOOP", "CASE", "OF", "ENDOF", "DEFAULT", "ENDCASE",
    "VARIABLE", "CONSTANT", "ALLOT", "HEX", "DECIMAL", "USEZCALL", "USERCALL",
    "(HIGH)", "(LOW)",
};

// Block state of a line that ends inside a "( ..." comment.
constexpr int InParenComment = 1;
// Block state of a line of a large source not coloured yet (Qt's own -1
// means "never looked at", which the first pass over a document replaces).
constexpr int NotColoured = 2;
// From this many lines on, a source is coloured only where it is seen.
constexpr int LazyColourLines = 20000;

// How far around the cursor the editor looks for the partners of a control
// word: a definition longer than this is rare, and looking at the whole of a
// large source on every cursor move would make typing slow.
constexpr int MatchLinesBefore = 300;
constexpr int MatchLinesAfter = 300;

// The strip at the gutter's left edge that marks a line with a message.
constexpr int MarkerWidth = 4;

// Rows the completion list shows before it scrolls.
constexpr int CompletionPopupRows = 12;
// Rows measured for the completion list's width.
constexpr int CompletionWidthRows = 200;

bool IsBlankChar(QChar ch) { return ch.unicode() <= 32; }

bool IsKeyword(const QString& word) {
    const QByteArray upper = word.toLatin1().toUpper();
    const std::string_view w(upper.constData(), static_cast<std::size_t>(upper.size()));
    for (std::string_view k : ForthKeywords)
        if (k == w) return true;
    return false;
}

bool IsNumberWord(const QString& word) {
    static const QRegularExpression number(QStringLiteral("^([+-]?[0-9]+|(\\$|0[xX]|[xX])[0-9A-Fa-f]+)$"));
    return number.match(word).hasMatch();
}

class LineNumberArea : public QWidget {
public:
    explicit LineNumberArea(SourceEditor* editor) : QWidget(editor), editor_(editor) {}
    QSize sizeHint() const override { return QSize(editor_->lineNumberAreaWidth(), 0); }

protected:
    void paintEvent(QPaintEvent* event) override { editor_->paintLineNumbers(event); }
    void mousePressEvent(QMouseEvent* event) override {
        // The gutter and the viewport share their vertical coordinates.
        const QTextBlock block = editor_->cursorForPosition(QPoint(0, event->position().toPoint().y())).block();
        if (event->button() == Qt::LeftButton && block.isValid()) emit editor_->gutterClicked(block.blockNumber() + 1);
    }

private:
    SourceEditor* editor_;
};

} // namespace

std::vector<QString> DocumentTextLines(const QTextDocument& doc) {
    std::vector<QString> lines;
    if (doc.isEmpty()) return lines;
    lines.reserve(static_cast<std::size_t>(doc.blockCount()));
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) lines.push_back(b.text());
    return lines;
}

std::vector<QString> ToggleLineComments(const std::vector<QString>& lines) {
    static const QString mark = QStringLiteral("\\\\ ");
    auto indentOf = [](const QString& l) {
        qsizetype i = 0;
        while (i < l.size() && (l[i] == QLatin1Char(' ') || l[i] == QLatin1Char('\t'))) ++i;
        return i;
    };
    bool allCommented = true;
    bool anyText = false;
    for (const QString& l : lines) {
        if (l.trimmed().isEmpty()) continue;
        anyText = true;
        const QStringView rest = QStringView(l).mid(indentOf(l));
        // "\\" alone at the end of a line counts as commented too.
        if (!rest.startsWith(mark) && rest != mark.trimmed()) allCommented = false;
    }
    std::vector<QString> out;
    out.reserve(lines.size());
    for (const QString& l : lines) {
        if (anyText && l.trimmed().isEmpty()) {
            out.push_back(l);
            continue;
        }
        const qsizetype indent = indentOf(l);
        if (anyText && allCommented) {
            const qsizetype cut = QStringView(l).mid(indent).startsWith(mark) ? mark.size() : mark.size() - 1;
            out.push_back(l.left(indent) + l.mid(indent + cut));
        } else {
            out.push_back(l.left(indent) + mark + l.mid(indent));
        }
    }
    return out;
}

QString DroppedSourceFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls()) return {};
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).suffix().compare(QStringLiteral("4th"), Qt::CaseInsensitive) == 0) return path;
    }
    return {};
}

ForthHighlighter::ForthHighlighter(QTextDocument* doc) : QSyntaxHighlighter(doc) {
    keyword_.setFontWeight(QFont::Bold);
    comment_.setFontItalic(true);
    setColours(ColoursFor(QPalette()));
}

void ForthHighlighter::setColours(const EditorColours& colours) {
    keyword_.setForeground(colours.keyword);
    comment_.setForeground(colours.comment);
    number_.setForeground(colours.number);
    passThrough_.setForeground(colours.passThrough);
    rehighlight();
}

bool ForthHighlighter::ColoursLazily(int blocks) { return blocks > LazyColourLines; }

void ForthHighlighter::ensureHighlighted(int first, int last) {
    seenFirst_ = first;
    seenLast_ = last;
    // Also once the source has shrunk below the limit: lines left uncoloured then get their colours here.
    for (QTextBlock b = document()->findBlockByNumber(first); b.isValid() && b.blockNumber() <= last; b = b.next())
        if (b.userState() == NotColoured) rehighlightBlock(b);
}

void ForthHighlighter::highlightBlock(const QString& text) {
    const int number = currentBlock().blockNumber();
    if (ColoursLazily(document()->blockCount()) && (number < seenFirst_ || number > seenLast_)) {
        setCurrentBlockState(NotColoured);
        return;
    }
    setCurrentBlockState(0);
    const qsizetype n = text.size();
    qsizetype pos = 0;
    if (previousBlockState() == InParenComment) {
        qsizetype close = text.indexOf(QLatin1Char(')'));
        if (close < 0) {
            setFormat(0, static_cast<int>(n), comment_);
            setCurrentBlockState(InParenComment);
            return;
        }
        setFormat(0, static_cast<int>(close + 1), comment_);
        pos = close + 1;
    } else if (text.startsWith(QLatin1Char('$'))) {
        // An assembler line copied through unchanged.
        setFormat(0, static_cast<int>(n), passThrough_);
        return;
    }
    while (pos < n) {
        while (pos < n && IsBlankChar(text[pos])) ++pos;
        const qsizetype start = pos;
        while (pos < n && !IsBlankChar(text[pos])) ++pos;
        if (pos == start) break;
        const QString word = text.mid(start, pos - start);
        if (word == QLatin1String("\\\\")) {
            setFormat(static_cast<int>(start), static_cast<int>(n - start), comment_);
            return;
        }
        if (word == QLatin1String("(")) {
            qsizetype close = text.indexOf(QLatin1Char(')'), pos);
            if (close < 0) {
                setFormat(static_cast<int>(start), static_cast<int>(n - start), comment_);
                setCurrentBlockState(InParenComment);
                return;
            }
            setFormat(static_cast<int>(start), static_cast<int>(close + 1 - start), comment_);
            pos = close + 1;
        } else if (word == QLatin1String("$")) {
            // Inside a definition a lone "$" passes the rest of its line through.
            setFormat(static_cast<int>(start), static_cast<int>(n - start), passThrough_);
            return;
        } else if (IsKeyword(word)) {
            setFormat(static_cast<int>(start), static_cast<int>(word.size()), keyword_);
        } else if (IsNumberWord(word)) {
            setFormat(static_cast<int>(start), static_cast<int>(word.size()), number_);
        }
    }
}

SourceEditor::SourceEditor(QWidget* parent) : QPlainTextEdit(parent), lineNumberArea_(new LineNumberArea(this)) {
    connect(this, &QPlainTextEdit::blockCountChanged, this, &SourceEditor::updateLineNumberAreaWidth);
    connect(this, &QPlainTextEdit::updateRequest, this, &SourceEditor::updateLineNumberArea);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        findMatchingWords();
        highlightCurrentLine();
    });
    completionModel_ = new QStringListModel(this);
    completer_ = new QCompleter(completionModel_, this);
    completer_->setWidget(this);
    completer_->setCompletionMode(QCompleter::PopupCompletion);
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setMaxVisibleItems(CompletionPopupRows);
    completer_->setModelSorting(QCompleter::CaseInsensitivelySortedModel); // found by halving, not by reading all
    // One line each: the list lays out a hundred thousand names without measuring each.
    if (auto* list = qobject_cast<QListView*>(completer_->popup())) list->setUniformItemSizes(true);
    connect(completer_, qOverload<const QString&>(&QCompleter::activated), this, &SourceEditor::insertCompletion);
    index_ = new WordIndex(document());
    colours_ = ColoursFor(palette());
    updateLineNumberAreaWidth();
    highlightCurrentLine();
}

void SourceEditor::applyColours() {
    colours_ = ColoursFor(palette());
    if (highlighter_) highlighter_->setColours(colours_);
    highlightCurrentLine();
    lineNumberArea_->update();
}

void SourceEditor::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) applyColours();
}

int SourceEditor::lineNumberAreaWidth() const {
    int digits = 1;
    for (int max = qMax(1, blockCount()); max >= 10; max /= 10) ++digits;
    const int sign = decorator_ ? fontMetrics().height() : 0;
    return 6 + MarkerWidth + sign + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

// A decorator that is a child of the editor goes after this: it must not be asked to draw meanwhile.
SourceEditor::~SourceEditor() { decorator_ = nullptr; }

void SourceEditor::setDecorator(const LineDecorator* decorator) {
    decorator_ = decorator;
    updateLineNumberAreaWidth();
    refreshDecorations();
}

void SourceEditor::refreshDecorations() {
    highlightCurrentLine();
    lineNumberArea_->update();
}

void SourceEditor::updateLineNumberAreaWidth() { setViewportMargins(lineNumberAreaWidth(), 0, 0, 0); }

void SourceEditor::updateLineNumberArea(const QRect& rect, int dy) {
    if (highlighter_) {
        const QTextBlock top = firstVisibleBlock();
        const int shown = viewport()->height() / qMax(1, fontMetrics().lineSpacing()) + 1;
        highlighter_->ensureHighlighted(top.blockNumber(), top.blockNumber() + shown);
    }
    if (dy)
        lineNumberArea_->scroll(0, dy);
    else
        lineNumberArea_->update(0, rect.y(), lineNumberArea_->width(), rect.height());
    if (rect.contains(viewport()->rect())) updateLineNumberAreaWidth();
}

void SourceEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect cr = contentsRect();
    lineNumberArea_->setGeometry(QRect(cr.left(), cr.top(), lineNumberAreaWidth(), cr.height()));
}

void SourceEditor::highlightCurrentLine() {
    QList<QTextEdit::ExtraSelection> extra;
    QTextEdit::ExtraSelection current;
    current.format.setBackground(colours_.currentLine);
    current.format.setProperty(QTextFormat::FullWidthSelection, true);
    current.cursor = textCursor();
    current.cursor.clearSelection();
    extra.append(current);
    for (const WordSpan& w : matches_) {
        QTextEdit::ExtraSelection m;
        m.format.setBackground(colours_.match);
        m.cursor = QTextCursor(document()->findBlockByNumber(w.line));
        m.cursor.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, w.column);
        m.cursor.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, w.length);
        extra.append(m);
    }
    for (const LineMark& mark : marks_) {
        QTextEdit::ExtraSelection m;
        m.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        m.format.setUnderlineColor(colours_.mark);
        m.format.setToolTip(mark.message);
        m.cursor = mark.word;
        extra.append(m);
    }
    if (decorator_) extra.append(decorator_->selections());
    setExtraSelections(extra);
}

void SourceEditor::findMatchingWords() {
    const std::vector<WordSpan> before = matches_;
    matches_.clear();
    const QTextCursor cursor = textCursor();
    const int line = cursor.blockNumber();
    const int first = qMax(0, line - MatchLinesBefore);
    const int last = qMin(blockCount() - 1, line + MatchLinesAfter);
    std::vector<QString> lines;
    lines.reserve(static_cast<std::size_t>(last - first + 1));
    for (QTextBlock b = document()->findBlockByNumber(first); b.isValid() && b.blockNumber() <= last; b = b.next())
        lines.push_back(b.text());
    for (WordSpan w : MatchingControlWords(lines, line - first, cursor.positionInBlock())) {
        w.line += first;
        matches_.push_back(w);
    }
}

void SourceEditor::paintLineNumbers(QPaintEvent* event) {
    QPainter painter(lineNumberArea_);
    painter.fillRect(event->rect(), colours_.gutter);
    painter.setPen(colours_.gutterText);
    QTextBlock block = firstVisibleBlock();
    int number = block.blockNumber();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    int bottom = top + qRound(blockBoundingRect(block).height());
    const int height = fontMetrics().height();
    std::set<int> marked;
    for (const int l : markedLines()) marked.insert(l - 1);
    while (block.isValid() && top <= event->rect().bottom()) {
        if (block.isVisible() && bottom >= event->rect().top()) {
            if (marked.count(number)) {
                painter.fillRect(0, top, MarkerWidth, height, colours_.mark);
                painter.setPen(colours_.mark);
            }
            if (decorator_) {
                painter.save();
                decorator_->paintSign(painter, number + 1, QRect(MarkerWidth, top, height, height));
                painter.restore();
            }
            painter.drawText(0, top, lineNumberArea_->width() - 3, height, Qt::AlignRight,
                             QString::number(number + 1));
            painter.setPen(colours_.gutterText);
        }
        block = block.next();
        top = bottom;
        bottom = top + qRound(blockBoundingRect(block).height());
        ++number;
    }
}

void SourceEditor::goToLine(int line) {
    const int index = qBound(0, line - 1, qMax(0, blockCount() - 1));
    QTextCursor cursor(document()->findBlockByNumber(index));
    setTextCursor(cursor);
    centerCursor();
    setFocus();
}

void SourceEditor::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedSourceFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        QPlainTextEdit::dragEnterEvent(event);
}

void SourceEditor::dragMoveEvent(QDragMoveEvent* event) {
    if (!DroppedSourceFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        QPlainTextEdit::dragMoveEvent(event);
}

void SourceEditor::insertFromMimeData(const QMimeData* source) {
    // Qt 6.4 crashes on data with no text in it, which is what a paste of an
    // empty X clipboard, or of a copied image, brings.
    if (source && canInsertFromMimeData(source)) QPlainTextEdit::insertFromMimeData(source);
}

void SourceEditor::dropEvent(QDropEvent* event) {
    const QString path = DroppedSourceFile(event->mimeData());
    if (path.isEmpty()) {
        QPlainTextEdit::dropEvent(event);
        return;
    }
    event->acceptProposedAction();
    emit sourceFileDropped(path);
}

void SourceEditor::setLineMessages(const std::vector<MessageAt>& messages) {
    std::vector<LineMark> kept;
    for (const MessageAt& m : messages) {
        // A message given again keeps its mark where edits have moved it.
        const auto same = std::find_if(marks_.begin(), marks_.end(), [&m](const LineMark& mark) {
            return mark.block == m.block && mark.message == m.text;
        });
        if (same != marks_.end()) {
            kept.push_back(*same);
            continue;
        }
        const QTextBlock block = document()->findBlockByNumber(qBound(0, m.line - 1, blockCount() - 1));
        if (!block.isValid()) continue;
        // Underline the first word of the line that the message quotes,
        // else every word of it.
        const std::vector<WordSpan> words = CodeWords({block.text()});
        const QStringList quoted = m.text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        int from = 0;
        int to = static_cast<int>(block.text().size());
        if (!words.empty()) {
            from = words.front().column;
            to = words.back().column + words.back().length;
        }
        for (const WordSpan& w : words)
            if (quoted.contains(block.text().mid(w.column, w.length))) {
                from = w.column;
                to = w.column + w.length;
                break;
            }
        QTextCursor word(block);
        word.setPosition(block.position() + from);
        word.setPosition(block.position() + to, QTextCursor::KeepAnchor);
        kept.push_back({word, m.text, m.block});
    }
    marks_ = std::move(kept);
    highlightCurrentLine();
    lineNumberArea_->update();
}

std::optional<int> SourceEditor::messageLine(int block) const {
    for (const LineMark& m : marks_)
        if (m.block == block) return m.word.block().blockNumber() + 1;
    return std::nullopt;
}

std::vector<int> SourceEditor::markedLines() const {
    std::vector<int> lines;
    for (const LineMark& m : marks_) lines.push_back(m.word.block().blockNumber() + 1);
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    return lines;
}

QString SourceEditor::toolTipAt(int position) const {
    QTextCursor at(document());
    at.setPosition(qBound(0, position, document()->characterCount() - 1));
    QStringList tips;
    for (const LineMark& m : marks_)
        if (m.word.block() == at.block()) tips << m.message;
    if (!tips.isEmpty()) return tips.join(QLatin1Char('\n'));
    const QString text = at.block().text();
    qsizetype start = at.positionInBlock();
    qsizetype end = start;
    while (start > 0 && !IsBlankChar(text[start - 1])) --start;
    while (end < text.size() && !IsBlankChar(text[end])) ++end;
    const QString word = text.mid(start, end - start);
    if (word.isEmpty()) return {};
    for (const ArchiveWord& w : archiveWords_)
        if (QString::fromLatin1(w.name.c_str()).compare(word, Qt::CaseInsensitive) == 0)
            return w.stackEffect.empty() ? QString::fromLatin1(w.name.c_str())
                                         : QString::fromLatin1((w.name + " " + w.stackEffect).c_str());
    return {};
}

bool SourceEditor::event(QEvent* e) {
    // Ctrl+Tab leaves the editor, where Tab indents, for the next pane (and
    // Ctrl+Shift+Tab for the one before); seen here, before the widget's own
    // handling of Tab takes it.
    if (e->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(e);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && (key->modifiers() & Qt::ControlModifier)) {
            const bool back = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
            QWidget::focusNextPrevChild(!back); // the editor's own keeps Tab for indenting
            return true;
        }
    }
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        const QPoint inViewport = viewport()->mapFrom(this, help->pos());
        ShowTip(*help, viewport()->rect().contains(inViewport) ? toolTipAt(cursorForPosition(inViewport).position())
                                                               : QString(),
                this);
        return true;
    }
    return QPlainTextEdit::event(e);
}

void SourceEditor::setArchiveWords(std::vector<ArchiveWord> words) {
    archiveWords_ = std::move(words);
    archiveNames_.clear();
    for (const ArchiveWord& w : archiveWords_) archiveNames_ << QString::fromLatin1(w.name.c_str());
    std::sort(archiveNames_.begin(), archiveNames_.end(), CaselessOrder{});
}

QString SourceEditor::wordBeforeCursor() const {
    const QTextCursor c = textCursor();
    const QString text = c.block().text();
    qsizetype start = c.positionInBlock();
    while (start > 0 && !IsBlankChar(text[start - 1])) --start;
    return text.mid(start, c.positionInBlock() - start);
}

void SourceEditor::complete() {
    // Both lists are in completion order already: a merge, not a sort, so
    // that a source of a hundred thousand names answers at once.
    const QStringList defined = index_->words();
    QStringList words;
    words.reserve(defined.size() + archiveNames_.size());
    std::merge(defined.begin(), defined.end(), archiveNames_.begin(), archiveNames_.end(), std::back_inserter(words),
               CaselessOrder{});
    words.erase(std::unique(words.begin(), words.end()), words.end());
    completionModel_->setStringList(words);
    completer_->setCompletionPrefix(wordBeforeCursor());
    QAbstractItemView* popup = completer_->popup();
    popup->setCurrentIndex(completer_->completionModel()->index(0, 0));
    // As wide as the longest of the first names offered: measuring every one
    // of a long list would take longer than the completion itself.
    int width = 0;
    const int rows = qMin(completer_->completionModel()->rowCount(), CompletionWidthRows);
    for (int row = 0; row < rows; ++row)
        width = qMax(width, popup->sizeHintForIndex(completer_->completionModel()->index(row, 0)).width());
    QRect r = cursorRect();
    r.setWidth(width + 2 * popup->frameWidth() + popup->verticalScrollBar()->sizeHint().width());
    completer_->complete(r);
}

void SourceEditor::insertCompletion(const QString& word) {
    QTextCursor c = textCursor();
    c.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, static_cast<int>(wordBeforeCursor().size()));
    c.insertText(word);
    setTextCursor(c);
}

void SourceEditor::toggleComment() {
    QTextCursor c = textCursor();
    const QTextBlock first = document()->findBlock(c.selectionStart());
    QTextBlock last = document()->findBlock(c.selectionEnd());
    // A selection that ends at the start of a line does not take that line in.
    if (c.hasSelection() && last != first && c.selectionEnd() == last.position()) last = last.previous();
    std::vector<QString> lines;
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        lines.push_back(b.text());
        if (b == last) break;
    }
    const std::vector<QString> changed = ToggleLineComments(lines);
    QTextCursor edit(document());
    edit.beginEditBlock();
    QTextBlock b = first;
    for (const QString& l : changed) {
        if (b.text() != l) {
            edit.setPosition(b.position());
            edit.setPosition(b.position() + static_cast<int>(b.text().size()), QTextCursor::KeepAnchor);
            edit.insertText(l);
        }
        b = b.next();
    }
    edit.endEditBlock();
    // Keep the same lines selected, so a second Ctrl+/ undoes the first.
    QTextCursor sel(document());
    sel.setPosition(first.position());
    const QTextBlock end = document()->findBlockByNumber(first.blockNumber() + static_cast<int>(changed.size()) - 1);
    sel.setPosition(end.position() + static_cast<int>(end.text().size()), QTextCursor::KeepAnchor);
    setTextCursor(sel);
}

void SourceEditor::keyPressEvent(QKeyEvent* e) {
    if (completer_->popup()->isVisible()) {
        switch (e->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
        case Qt::Key_Escape:
            e->ignore(); // the popup takes these
            return;
        default:
            break;
        }
    }
    if (e->key() == Qt::Key_Space && (e->modifiers() & Qt::ControlModifier)) {
        complete();
        return;
    }
    // Shift+Enter too: it would otherwise put a line separator inside the line.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        // A new line starts with the indentation of the one it leaves.
        const QString text = textCursor().block().text();
        qsizetype i = 0;
        while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t'))) ++i;
        QTextCursor c = textCursor();
        // Breaking a line inside its indentation carries only what stood before the cursor.
        const qsizetype keep = qMin(i, static_cast<qsizetype>(c.positionInBlock()));
        c.beginEditBlock();
        c.insertBlock();
        c.insertText(text.left(keep));
        c.endEditBlock();
        setTextCursor(c);
        ensureCursorVisible();
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
    if (completer_->popup()->isVisible()) {
        const QString prefix = wordBeforeCursor();
        if (prefix.isEmpty()) {
            completer_->popup()->hide();
        } else {
            completer_->setCompletionPrefix(prefix);
            completer_->popup()->setCurrentIndex(completer_->completionModel()->index(0, 0));
        }
    }
}

void SourceEditor::wheelEvent(QWheelEvent* e) {
    if (e->modifiers() & Qt::ControlModifier) {
        const int steps = e->angleDelta().y() / 120;
        if (steps != 0) emit zoomRequested(steps);
        e->accept();
        return;
    }
    QPlainTextEdit::wheelEvent(e);
}

} // namespace mirtolan
