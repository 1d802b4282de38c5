#include "Breakpoints.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>

#include "Colours.h"

namespace mirtolan {

namespace {

// The tints of the line the program stands at: mixed into the editor's
// background by these shares.
const QColor CurrentTint(0x40, 0xd0, 0x40);
const QColor FaultTint(0xff, 0x30, 0x30);
constexpr double CurrentShare = 0.30;
constexpr double FaultShare = 0.30;

QColor Tint(const QColor& base, const QColor& toward, double share)
{
    const auto mix = [share](int a, int b) { return int(a + (b - a) * share + 0.5); };
    return QColor(mix(base.red(), toward.red()), mix(base.green(), toward.green()), mix(base.blue(), toward.blue()));
}

} // namespace

EditorBreakpoints::EditorBreakpoints(SourceEditor* editor) : QObject(editor), editor_(editor)
{
    QTextDocument* doc = editor->document();
    lastLength_ = doc->characterCount();
    // Cursors follow edits, but a text replaced as a whole (an open, a
    // reload from disk) would gather them all at one end: they go back to
    // their lines' numbers instead.
    connect(doc, &QTextDocument::contentsChange, this, [this](int from, int removed, int) {
        if (from == 0 && removed > 0 && removed >= lastLength_ - 1)
            replaced_ = true;
    });
    connect(doc, &QTextDocument::contentsChanged, this, [this] {
        if (replaced_)
            restoreLines();
        lastLength_ = editor_->document()->characterCount();
        remember();
    });
    editor->setDecorator(this);
}

EditorBreakpoints::~EditorBreakpoints()
{
    // Not while the editor goes, which has let go of it already.
    if (editor_->decorator() == this)
        editor_->setDecorator(nullptr);
}

void EditorBreakpoints::remember()
{
    lastLines_.clear();
    for (const std::int64_t l : lines())
        lastLines_.push_back(int(l));
}

void EditorBreakpoints::restoreLines()
{
    replaced_ = false;
    justReplaced_ = true;
    // Until the events of this change have been handled: an open names the
    // new file in the title right after it replaces the text.
    QTimer::singleShot(0, this, [this] { justReplaced_ = false; });
    marks_.clear();
    const QTextDocument* doc = editor_->document();
    for (const int l : lastLines_)
        if (l <= doc->blockCount())
            marks_.push_back(Mark{QTextCursor(doc->findBlockByNumber(l - 1)), false});
    hasCurrent_ = false;
    redraw();
}

void EditorBreakpoints::toggle(int line)
{
    const QTextBlock block = editor_->document()->findBlockByNumber(line - 1);
    if (!block.isValid())
        return;
    const auto here = [&block](const Mark& m) { return m.at.block() == block; };
    if (std::any_of(marks_.begin(), marks_.end(), here))
        std::erase_if(marks_, here);
    else
        marks_.push_back(Mark{QTextCursor(block), false});
    remember();
    redraw();
    emit changed();
}

void EditorBreakpoints::clear()
{
    if (marks_.empty())
        return;
    marks_.clear();
    remember();
    redraw();
    emit changed();
}

std::vector<std::int64_t> EditorBreakpoints::lines() const
{
    std::vector<std::int64_t> out;
    for (const Mark& m : marks_)
        out.push_back(m.at.block().blockNumber() + 1);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

void EditorBreakpoints::place(const std::vector<Breakpoint>& placed)
{
    const QTextDocument* doc = editor_->document();
    for (const Breakpoint& b : placed) {
        const auto on = [doc](std::int64_t line) {
            return [block = doc->findBlockByNumber(int(line - 1))](const Mark& m) { return m.at.block() == block; };
        };
        const auto mark = std::find_if(marks_.begin(), marks_.end(), on(b.requested));
        if (mark == marks_.end())
            continue;
        mark->hollow = !b.verified;
        if (!b.verified || b.line == b.requested)
            continue;
        if (std::any_of(marks_.begin(), marks_.end(), on(b.line)))
            marks_.erase(mark); // it joins the breakpoint already there
        else
            mark->at = QTextCursor(doc->findBlockByNumber(int(b.line - 1)));
    }
    remember();
    redraw();
}

bool EditorBreakpoints::hollow(int line) const
{
    for (const Mark& m : marks_)
        if (m.at.block().blockNumber() + 1 == line)
            return m.hollow;
    return false;
}

void EditorBreakpoints::setCurrent(int line, bool fault)
{
    const QTextBlock block = editor_->document()->findBlockByNumber(line - 1);
    hasCurrent_ = line > 0 && block.isValid();
    fault_ = fault;
    if (hasCurrent_)
        current_ = QTextCursor(block);
    redraw();
}

int EditorBreakpoints::current() const { return hasCurrent_ ? current_.block().blockNumber() + 1 : 0; }

void EditorBreakpoints::redraw() { editor_->refreshDecorations(); }

void EditorBreakpoints::paintSign(QPainter& painter, int line, const QRect& area) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    const EditorColours& colours = editor_->colours();
    const QRectF dot = QRectF(area).adjusted(2.5, 2.5, -2.5, -2.5);
    for (const Mark& m : marks_)
        if (m.at.block().blockNumber() + 1 == line) {
            const QColor red = Legible(BreakpointColour, {colours.gutter}, MarkContrast);
            painter.setPen(QPen(red, 1.5));
            painter.setBrush(m.hollow ? Qt::NoBrush : QBrush(red));
            painter.drawEllipse(dot);
            break;
        }
    if (current() == line) {
        // An arrow pointing at the line.
        const QColor tip = fault_ ? colours.fault : Legible(CurrentTint, {colours.gutter}, MarkContrast);
        QPainterPath arrow;
        arrow.moveTo(dot.left(), dot.top() + dot.height() * 0.25);
        arrow.lineTo(dot.center().x(), dot.top() + dot.height() * 0.25);
        arrow.lineTo(dot.center().x(), dot.top());
        arrow.lineTo(dot.right(), dot.center().y());
        arrow.lineTo(dot.center().x(), dot.bottom());
        arrow.lineTo(dot.center().x(), dot.top() + dot.height() * 0.75);
        arrow.lineTo(dot.left(), dot.top() + dot.height() * 0.75);
        arrow.closeSubpath();
        painter.setPen(QPen(colours.gutterText, 1));
        painter.setBrush(tip);
        painter.drawPath(arrow);
    }
}

QList<QTextEdit::ExtraSelection> EditorBreakpoints::selections() const
{
    if (!hasCurrent_)
        return {};
    const QPalette& p = editor_->palette();
    const QColor base = p.color(QPalette::Base);
    QTextEdit::ExtraSelection line;
    line.format.setBackground(Legible(fault_ ? Tint(base, FaultTint, FaultShare) : Tint(base, CurrentTint, CurrentShare),
                                      {p.color(QPalette::Text)}, TextContrast));
    line.format.setProperty(QTextFormat::FullWidthSelection, true);
    line.cursor = current_;
    line.cursor.clearSelection();
    return {line};
}

} // namespace mirtolan
