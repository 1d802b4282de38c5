#include "MessagePane.h"

#include <QDir>
#include <QFileInfo>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QToolTip>
#include <QRegularExpression>
#include <QTextBlock>

#include "Colours.h"
#include "FileEncoding.h"

namespace mirtolan {

void ShowTip(const QHelpEvent& event, const QString& tip, QWidget* widget) {
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event.globalPos(), tip, widget);
}

std::optional<MessageRef> ParseMessageRef(const QString& text) {
    // The file name ends at the first ":<digits>:", so a message text with
    // colons of its own does not stretch it.
    static const QRegularExpression fileForm(QStringLiteral("^(.+?):(\\d+):"));
    static const QRegularExpression compilerForm(QStringLiteral("Line\\s*(\\d+)"));
    bool ok = false;
    const QRegularExpressionMatch m = fileForm.match(text);
    if (m.hasMatch()) {
        const int line = m.captured(2).toInt(&ok);
        if (ok && line > 0) return MessageRef{m.captured(1), line};
        return std::nullopt;
    }
    QRegularExpressionMatchIterator it = compilerForm.globalMatch(text);
    QRegularExpressionMatch last;
    while (it.hasNext()) last = it.next();
    if (!last.hasMatch()) return std::nullopt;
    const int line = last.captured(1).toInt(&ok);
    if (!ok) return std::nullopt; // a number beyond int names no line
    return MessageRef{QString(), line};
}

MessagePane::MessagePane(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    // Read-only, but with a keyboard cursor, so arrows and Enter work.
    setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    // A diagnostic with its remedy runs far wider than the pane; paths have no blanks to break at.
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

void MessagePane::setCompilerMessages(const std::vector<std::string>& messages, const QString& compiledFile) {
    compiledFile_ = compiledFile;
    QString text;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (i) text += QLatin1Char('\n');
        text += DecodeShown(messages[i]);
    }
    setPlainText(text);
    setExtraSelections({});
    emit messagesChanged();
}

void MessagePane::appendDiagnostic(const QString& line) {
    appendPlainText(line);
    emit messagesChanged();
}

void MessagePane::clearMessages() {
    clear();
    setExtraSelections({});
    emit messagesChanged();
}

void MessagePane::setCurrentFile(const QString& file) {
    currentFile_ = file;
    emit messagesChanged();
}

std::optional<int> MessagePane::lineInCurrentFile(const QString& text) const {
    const std::optional<MessageRef> ref = ParseMessageRef(text);
    if (!ref || currentFile_.isEmpty()) return std::nullopt;
    if (ref->file.isEmpty()) {
        if (compiledFile_ != currentFile_) return std::nullopt;
        return ref->line;
    }
    // A relative name is taken from the source's own directory, where the tools run.
    const QFileInfo named(QDir(QFileInfo(currentFile_).absolutePath()), ref->file);
    if (QDir::cleanPath(named.absoluteFilePath()) != QDir::cleanPath(currentFile_)) return std::nullopt;
    return ref->line;
}

std::vector<MessageAt> MessagePane::currentFileMessages() const {
    std::vector<MessageAt> out;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next())
        if (const std::optional<int> line = lineInCurrentFile(b.text()))
            out.push_back({b.blockNumber(), *line, b.text()});
    return out;
}

void MessagePane::markBlock(int block) {
    QTextEdit::ExtraSelection mark;
    mark.format.setBackground(ColoursFor(palette()).match);
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    mark.cursor = QTextCursor(document()->findBlockByNumber(block));
    setExtraSelections({mark});
    setTextCursor(mark.cursor);
    ensureCursorVisible();
}

bool MessagePane::activateBlock(int block) {
    const QTextBlock b = document()->findBlockByNumber(block);
    if (!b.isValid()) return false;
    const std::optional<int> line = lineInCurrentFile(b.text());
    if (!line) return false;
    markBlock(block);
    emit lineActivated(*line, block);
    return true;
}

bool MessagePane::step(bool backward) {
    const int count = document()->blockCount();
    if (count == 0) return false;
    const int here = textCursor().blockNumber();
    // With no message marked yet, F4 starts at the first and Shift+F4 at the last.
    const bool started = !extraSelections().isEmpty();
    for (int k = started ? 1 : 0; k <= count; ++k) {
        const int start = started ? here : (backward ? count - 1 : 0);
        const int block = ((backward ? start - k : start + k) % count + count) % count;
        if (activateBlock(block)) return true;
    }
    return false;
}

void MessagePane::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        activateBlock(textCursor().blockNumber());
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void MessagePane::mouseDoubleClickEvent(QMouseEvent* event) {
    const QTextCursor at = cursorForPosition(event->position().toPoint());
    if (activateBlock(at.blockNumber())) return;
    QPlainTextEdit::mouseDoubleClickEvent(event);
}

bool MessagePane::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QPoint at = viewport()->mapFrom(this, help->pos());
        // Over a message its whole text, elsewhere what the pane is for.
        QString tip;
        const QTextBlock block = cursorForPosition(at).block();
        if (viewport()->rect().contains(at) && blockBoundingGeometry(block).translated(contentOffset()).contains(at))
            tip = block.text();
        ShowTip(*help, tip.trimmed().isEmpty() ? toolTip() : tip, this);
        return true;
    }
    return QPlainTextEdit::event(event);
}

void MessagePane::wheelEvent(QWheelEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        const int steps = event->angleDelta().y() / 120;
        if (steps != 0) emit zoomRequested(steps);
        event->accept();
        return;
    }
    QPlainTextEdit::wheelEvent(event);
}

} // namespace mirtolan
