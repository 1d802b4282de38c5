// The debugger's marks in the editor: breakpoints in the gutter, which move
// with edits as the marks of messages do, and the line the program stands
// at (in the fault's colour at a fault). A breakpoint that the session
// moved to the next line with code is shown where it stands.
#pragma once

#include <QColor>
#include <QObject>
#include <QTextCursor>

#include <cstdint>
#include <vector>

#include "DebugSession.h"
#include "SourceEditor.h"

namespace mirtolan {

// A breakpoint's dot, in the gutter and on the tool bar.
inline const QColor BreakpointColour(0xc0, 0x10, 0x30);

class EditorBreakpoints : public QObject, public LineDecorator {
    Q_OBJECT
public:
    // Draws in `editor`'s gutter and over its text until destroyed.
    explicit EditorBreakpoints(SourceEditor* editor);
    ~EditorBreakpoints() override;

    // Sets a breakpoint on 1-based `line`, or takes away the one there.
    void toggle(int line);
    void clear();
    // The lines that hold a breakpoint now, in order.
    std::vector<std::int64_t> lines() const;
    // Where the session placed the breakpoints it was given (in the order
    // of lines()): one that moved goes to its line, one with no code
    // anywhere after it is drawn hollow.
    void place(const std::vector<Breakpoint>& placed);
    // The line the program stands at (0: none), drawn as a fault or not.
    void setCurrent(int line, bool fault);
    int current() const;
    bool hollow(int line) const; // the breakpoint on `line` stands on no code
    // The whole text was replaced just now, in the events being handled.
    bool justReplaced() const { return justReplaced_; }

    void paintSign(QPainter& painter, int line, const QRect& area) const override;
    QList<QTextEdit::ExtraSelection> selections() const override;

signals:
    void changed(); // a breakpoint was set or taken away

private:
    struct Mark {
        QTextCursor at;       // the start of its line, which follows edits
        bool hollow = false;  // the session found no code for it
    };
    // The text was replaced as a whole: the marks go back to their lines' numbers.
    void restoreLines();
    void remember(); // the lines, for a replaced text
    void redraw();

    SourceEditor* editor_;
    std::vector<Mark> marks_;      // one per breakpoint
    std::vector<int> lastLines_;   // their lines (1-based) after the last edit, for a replaced text
    int lastLength_ = 0;           // the document's length then
    bool replaced_ = false;        // the whole text is being replaced (an open, a reload)
    bool justReplaced_ = false;    // it was, in the events being handled
    QTextCursor current_;          // the start of the line the program stands at
    bool hasCurrent_ = false;      // the program stands at a line
    bool fault_ = false;           // ... at a fault
};

} // namespace mirtolan
