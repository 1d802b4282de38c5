#include "SourceEditor.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QUrl>

#include <array>
#include <string_view>

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

private:
    SourceEditor* editor_;
};

} // namespace

namespace {
template <class Lines>
QString joinLatin1(const Lines& lines) {
    QString text;
    bool first = true;
    for (std::string_view line : lines) {
        if (!first) text += QLatin1Char('\n');
        first = false;
        text += QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    }
    return text;
}
} // namespace

QString LinesToText(const std::vector<std::string>& lines) { return joinLatin1(lines); }

// The listing is shown straight from its compact storage, without a copy of
// every line as a string first.
QString LinesToText(const LineList& lines) { return joinLatin1(lines); }

std::vector<std::string> DocumentLines(const QTextDocument& doc) {
    std::vector<std::string> lines;
    if (doc.isEmpty()) return lines;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        const QByteArray bytes = b.text().toLatin1();
        lines.emplace_back(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    return lines;
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
    keyword_.setForeground(QColor(0x00, 0x00, 0xa0));
    keyword_.setFontWeight(QFont::Bold);
    comment_.setForeground(QColor(0x00, 0x80, 0x00));
    comment_.setFontItalic(true);
    number_.setForeground(QColor(0xa0, 0x40, 0x00));
    passThrough_.setForeground(QColor(0x80, 0x00, 0x80));
}

void ForthHighlighter::highlightBlock(const QString& text) {
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
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &SourceEditor::highlightCurrentLine);
    updateLineNumberAreaWidth();
    highlightCurrentLine();
}

int SourceEditor::lineNumberAreaWidth() const {
    int digits = 1;
    for (int max = qMax(1, blockCount()); max >= 10; max /= 10) ++digits;
    return 6 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

void SourceEditor::updateLineNumberAreaWidth() { setViewportMargins(lineNumberAreaWidth(), 0, 0, 0); }

void SourceEditor::updateLineNumberArea(const QRect& rect, int dy) {
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
    QTextEdit::ExtraSelection selection;
    selection.format.setBackground(QColor(0xff, 0xff, 0xd8));
    selection.format.setProperty(QTextFormat::FullWidthSelection, true);
    selection.cursor = textCursor();
    selection.cursor.clearSelection();
    extra.append(selection);
    setExtraSelections(extra);
}

void SourceEditor::paintLineNumbers(QPaintEvent* event) {
    QPainter painter(lineNumberArea_);
    painter.fillRect(event->rect(), QColor(0xee, 0xee, 0xee));
    painter.setPen(QColor(0x80, 0x80, 0x80));
    QTextBlock block = firstVisibleBlock();
    int number = block.blockNumber();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    int bottom = top + qRound(blockBoundingRect(block).height());
    const int height = fontMetrics().height();
    while (block.isValid() && top <= event->rect().bottom()) {
        if (block.isVisible() && bottom >= event->rect().top())
            painter.drawText(0, top, lineNumberArea_->width() - 3, height, Qt::AlignRight,
                             QString::number(number + 1));
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

void SourceEditor::dropEvent(QDropEvent* event) {
    const QString path = DroppedSourceFile(event->mimeData());
    if (path.isEmpty()) {
        QPlainTextEdit::dropEvent(event);
        return;
    }
    event->acceptProposedAction();
    emit sourceFileDropped(path);
}

} // namespace mirtolan
