// The colours of the editor's words and marks, the message pane's chosen
// line and the Run pane's traces, taken from the palette so that a dark
// theme is as legible as a light one: every colour is moved in lightness
// until it stands out from what it is drawn on by the contrast that the web
// accessibility guidelines ask (4.5:1 for text, 3:1 for marks and lines).
#pragma once

#include <QColor>
#include <initializer_list>

class QPalette;

namespace mirtolan {

inline constexpr double TextContrast = 4.5; // text on its background
inline constexpr double MarkContrast = 3.0; // marks, strips and lines on theirs

// The contrast ratio of two colours, from 1 (the same) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);
// `colour` with its hue, made lighter or darker until it has `ratio` against
// every one of `backgrounds` (or as near as black or white come).
QColor Legible(const QColor& colour, std::initializer_list<QColor> backgrounds, double ratio);

struct EditorColours {
    QColor keyword;     // control and defining words
    QColor comment;     // comments
    QColor number;      // numbers
    QColor passThrough; // assembler text copied through
    QColor currentLine; // background of the cursor's line
    QColor match;       // background of the words of the control structure at the cursor
    QColor mark;        // the strip and underline of a line with a message
    QColor gutter;      // background of the line numbers
    QColor gutterText;  // the line numbers
    QColor fault;       // a fault's text in the Run pane
    QColor trace;       // a pin's trace in the waveform
    QColor cursor;      // the waveform's time cursors
};

EditorColours ColoursFor(const QPalette& palette);

} // namespace mirtolan
