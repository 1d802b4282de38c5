#include "Colours.h"

#include <QPalette>

#include <algorithm>
#include <cmath>

namespace mirtolan {

namespace {

// Lightness steps (of 255) by which Legible moves a colour.
constexpr int LightnessStep = 3;
// The luminance from which black gives more contrast than white.
constexpr double MidLuminance = 0.179;

// Relative luminance, as the guidelines define it from sRGB.
double Luminance(const QColor& c) {
    auto channel = [](int v) {
        const double x = v / 255.0;
        return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = c.toRgb();
    return 0.2126 * channel(rgb.red()) + 0.7152 * channel(rgb.green()) + 0.0722 * channel(rgb.blue());
}

// `a` moved toward `b` by `share` (0 to 1).
QColor Mix(const QColor& a, const QColor& b, double share) {
    auto mix = [share](int x, int y) { return int(std::lround(x + (y - x) * share)); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

// The designed colours, for a light and for a dark background.
struct Scheme {
    QColor keyword, comment, number, passThrough, match, mark, fault, cursor;
};
const Scheme LightScheme{QColor(0x00, 0x00, 0xa0), QColor(0x00, 0x80, 0x00), QColor(0xa0, 0x40, 0x00),
                         QColor(0x80, 0x00, 0x80), QColor(0xb8, 0xe0, 0xff), QColor(0xd0, 0x20, 0x20),
                         QColor(0xc0, 0x00, 0x00), QColor(0xe0, 0x70, 0x00)};
const Scheme DarkScheme{QColor(0x82, 0xaa, 0xff), QColor(0x6a, 0x99, 0x55), QColor(0xce, 0x91, 0x78),
                        QColor(0xc5, 0x86, 0xc0), QColor(0x26, 0x4f, 0x78), QColor(0xf4, 0x47, 0x47),
                        QColor(0xff, 0x6b, 0x6b), QColor(0xff, 0xa0, 0x40)};
// The cursor line is the background tinted toward this, a little.
const QColor CurrentLineTint(0xff, 0xff, 0x00);
constexpr double CurrentLineShareLight = 0.15;
constexpr double CurrentLineShareDark = 0.08;
// The gutter: the background tinted toward the text; its numbers halfway between.
constexpr double GutterShare = 0.07;
constexpr double GutterTextShare = 0.45;

} // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Legible(const QColor& colour, std::initializer_list<QColor> backgrounds, double ratio) {
    auto worst = [&](const QColor& c) {
        double r = 21;
        for (const QColor& bg : backgrounds) r = std::min(r, ContrastRatio(c, bg));
        return r;
    };
    if (worst(colour) >= ratio) return colour;
    double background = 0;
    for (const QColor& bg : backgrounds) background += Luminance(bg) / double(backgrounds.size());
    // Away from the backgrounds: lighter on dark ones, darker on light ones.
    const bool lighten = background < MidLuminance;
    const QColor hsl = colour.toHsl();
    for (int l = hsl.lightness(); l >= 0 && l <= 255; l += lighten ? LightnessStep : -LightnessStep) {
        const QColor c = QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), l);
        if (worst(c) >= ratio) return c;
    }
    return lighten ? QColor(Qt::white) : QColor(Qt::black);
}

EditorColours ColoursFor(const QPalette& palette) {
    const QColor base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    const bool dark = Luminance(base) < MidLuminance;
    const Scheme& s = dark ? DarkScheme : LightScheme;
    EditorColours k;
    // Backgrounds first, each kept legible under the plain text.
    k.currentLine = Legible(Mix(base, CurrentLineTint, dark ? CurrentLineShareDark : CurrentLineShareLight), {text},
                            TextContrast);
    k.match = Legible(s.match, {text}, TextContrast);
    k.gutter = Mix(base, text, GutterShare);
    k.gutterText = Legible(Mix(text, k.gutter, GutterTextShare), {k.gutter}, TextContrast);
    // Words are drawn on the plain background and on the cursor's line; control words also on a match.
    k.keyword = Legible(s.keyword, {base, k.currentLine, k.match}, TextContrast);
    k.comment = Legible(s.comment, {base, k.currentLine}, TextContrast);
    k.number = Legible(s.number, {base, k.currentLine}, TextContrast);
    k.passThrough = Legible(s.passThrough, {base, k.currentLine}, TextContrast);
    k.mark = Legible(s.mark, {base, k.gutter, k.currentLine}, MarkContrast);
    k.fault = Legible(s.fault, {base}, TextContrast);
    k.trace = Legible(palette.color(QPalette::Highlight), {base}, MarkContrast);
    k.cursor = Legible(s.cursor, {base}, MarkContrast);
    return k;
}

} // namespace mirtolan
