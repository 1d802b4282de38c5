#include "WaveformView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "Colours.h"

namespace mirtolan {

namespace {

// The waveform's geometry, in pixels.
constexpr int RowHeight = 28;      // one pin
constexpr int TraceHeight = 18;    // high level above low level within a row
constexpr int NameWidth = 48;      // the pin names at the left
constexpr int RightMargin = 4;     // right of the plot
constexpr int AxisHeight = 22;     // the time axis at the bottom
constexpr int MinTickSpacing = 70; // pixels between labelled ticks, at least
constexpr int DragThreshold = 3;   // a press that moves less is a click
// Zoom steps and the deepest zoom (a cycle at 16 MHz is 6e-5 ms).
constexpr double ZoomStep = 1.5;
constexpr double MinMsPerPixel = 1e-6;

using Change = std::pair<std::uint64_t, int>;
using Changes = std::vector<Change>;

// The first change at or after `cycle`, searching from `from` on.
Changes::const_iterator FirstFrom(Changes::const_iterator from, const Changes& changes, double cycle) {
    return std::lower_bound(from, changes.end(), cycle,
                            [](const Change& c, double at) { return double(c.first) < at; });
}

// A tick's time in the unit its spacing calls for, so that no label reads
// 0.000125 ms.
QString TickText(double ms, double tick) {
    if (tick >= 1000) return QString::number(ms / 1000, 'g', 9) + QStringLiteral(" s");
    if (tick >= 1) return QString::number(ms, 'g', 9) + QStringLiteral(" ms");
    return QString::number(ms * 1000, 'g', 9) + QStringLiteral(" µs");
}

} // namespace

QString TimeText(double seconds) {
    if (seconds >= 1) return QString::number(seconds, 'g', 6) + QStringLiteral(" s");
    if (seconds >= 1e-3) return QString::number(seconds * 1e3, 'g', 6) + QStringLiteral(" ms");
    return QString::number(seconds * 1e6, 'g', 6) + QStringLiteral(" µs");
}

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(RowHeight + AxisHeight);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setToolTip(tr("Wheel: zoom; drag: pan; click: cursor A; Shift+click or right-click: cursor B"));
}

QSize WaveformView::sizeHint() const {
    const std::size_t pins = report_ ? report_->pins.size() : 0;
    return QSize(600, int(std::max<std::size_t>(pins, 1)) * RowHeight + AxisHeight + 8);
}

void WaveformView::setReport(const RunReport& report) { setReport(std::make_shared<const RunReport>(report)); }

void WaveformView::setReport(std::shared_ptr<const RunReport> report) {
    report_ = std::move(report);
    clockHz_ = report_->clockHz ? report_->clockHz : 1;
    endMs_ = report_->seconds * 1e3;
    cursors_[A].reset();
    cursors_[B].reset();
    emit cursorsChanged(cursorText());
    fitted_ = true;
    zoomToFit();
    updateGeometry();
}

int WaveformView::plotLeft() const { return NameWidth; }
int WaveformView::plotRight() const { return width() - RightMargin; }
double WaveformView::msAt(double x) const { return startMs_ + (x - plotLeft()) * msPerPixel_; }

void WaveformView::zoomToFit() {
    const int w = std::max(1, width() - plotLeft() - 8);
    msPerPixel_ = std::max(MinMsPerPixel, (endMs_ > 0 ? endMs_ : 1) / w);
    startMs_ = 0;
    fitted_ = true;
    update();
}

void WaveformView::zoomIn() { zoomAround(1 / ZoomStep, plotLeft() + (width() - plotLeft()) / 2.0); }
void WaveformView::zoomOut() { zoomAround(ZoomStep, plotLeft() + (width() - plotLeft()) / 2.0); }

void WaveformView::zoomAround(double factor, double atX) {
    const double atMs = msAt(atX);
    msPerPixel_ = std::max(MinMsPerPixel, msPerPixel_ * factor);
    startMs_ = std::max(0.0, atMs - (atX - plotLeft()) * msPerPixel_);
    fitted_ = false;
    update();
}

void WaveformView::resizeEvent(QResizeEvent*) {
    if (fitted_) zoomToFit();
}

void WaveformView::wheelEvent(QWheelEvent* e) {
    const int steps = e->angleDelta().y() / 120;
    if (steps) zoomAround(std::pow(ZoomStep, -steps), e->position().x());
    e->accept();
}

void WaveformView::mousePressEvent(QMouseEvent* e) {
    dragX_ = int(e->position().x());
    dragStartMs_ = startMs_;
    dragged_ = false;
}

void WaveformView::mouseMoveEvent(QMouseEvent* e) {
    if (!(e->buttons() & Qt::LeftButton)) return;
    const double dx = e->position().x() - dragX_;
    if (!dragged_ && std::abs(dx) < DragThreshold) return;
    dragged_ = true;
    startMs_ = std::max(0.0, dragStartMs_ - dx * msPerPixel_);
    fitted_ = false;
    update();
}

void WaveformView::mouseReleaseEvent(QMouseEvent* e) {
    const double x = e->position().x();
    if (dragged_ || x < plotLeft() || x > plotRight()) return;
    const bool second = e->button() == Qt::RightButton || (e->modifiers() & Qt::ShiftModifier);
    setCursor(second ? B : A, msAt(x));
}

void WaveformView::setCursor(Cursor c, double ms) {
    cursors_[c] = std::clamp(ms, 0.0, std::max(0.0, endMs_));
    emit cursorsChanged(cursorText());
    update();
}

int WaveformView::levelAt(std::size_t pin, double ms) const {
    if (!report_ || pin >= report_->pins.size()) return 0;
    const Changes& changes = report_->pins[pin].changes;
    // The last change at or before the moment; the level before the first is 0.
    const auto after = std::upper_bound(changes.begin(), changes.end(), ms * clockHz_ / 1e3,
                                        [](double at, const Change& c) { return at < double(c.first); });
    return after == changes.begin() ? 0 : std::prev(after)->second;
}

QString WaveformView::cursorText() const {
    QStringList parts;
    for (const Cursor c : {A, B}) {
        if (!cursors_[c]) continue;
        QString part = (c == A ? QStringLiteral("A ") : QStringLiteral("B ")) + TimeText(*cursors_[c] / 1e3) + ':';
        for (std::size_t i = 0; report_ && i < report_->pins.size(); ++i)
            part += QStringLiteral(" %1=%2")
                        .arg(QString::fromLatin1(report_->pins[i].name.c_str()))
                        .arg(levelAt(i, *cursors_[c]));
        parts << part;
    }
    if (cursors_[A] && cursors_[B]) {
        const double span = std::abs(*cursors_[B] - *cursors_[A]) / 1e3;
        QString part = QStringLiteral("B\u2212A ") + TimeText(span);
        if (span > 0) part += QStringLiteral(" (%1 Hz)").arg(QString::number(1 / span, 'g', 6));
        parts << part;
    }
    return parts.join(QStringLiteral("   "));
}

void WaveformView::paintAxis(QPainter& p, int axisY) {
    const int left = plotLeft(), right = plotRight();
    p.drawLine(left, axisY, right, axisY);
    // Ticks at 1, 2 or 5 times a power of ten milliseconds.
    double tick = std::pow(10.0, std::floor(std::log10(MinTickSpacing * msPerPixel_)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (tick * m / msPerPixel_ >= MinTickSpacing) {
            tick *= m;
            break;
        }
    // Counted, not summed, so that no drift creeps into the labels.
    for (double k = std::ceil(startMs_ / tick);; ++k) {
        const double t = k * tick;
        const int x = int(left + (t - startMs_) / msPerPixel_);
        if (x > right) break;
        p.drawLine(x, axisY, x, axisY + 4);
        p.drawText(QRect(x - 45, axisY + 4, 90, AxisHeight - 4), Qt::AlignHCenter | Qt::AlignTop, TickText(t, tick));
    }
}

void WaveformView::paintTrace(QPainter& p, std::size_t pin, int top) {
    const Changes& changes = report_->pins[pin].changes;
    const int high = top, low = top + TraceHeight;
    const int left = plotLeft();
    const int end = int(std::min<double>(plotRight(), left + (endMs_ - startMs_) / msPerPixel_));
    if (end <= left) return;
    const double cyclesPerPixel = msPerPixel_ * clockHz_ / 1e3;
    const double startCycle = startMs_ * clockHz_ / 1e3;
    auto it = FirstFrom(changes.begin(), changes, startCycle);
    int level = it == changes.begin() ? 0 : std::prev(it)->second;
    auto y = [&](int l) { return l ? high : low; };
    QList<QLineF> lines;
    int runFrom = left; // the level has held since this column
    for (int x = left; x < end && it != changes.end(); ++x) {
        const auto next = FirstFrom(it, changes, startCycle + (x + 1 - left) * cyclesPerPixel);
        if (next == it) continue;
        // The changes in this column: an edge when both levels occur in it.
        bool wasLow = level == 0, wasHigh = level != 0;
        for (auto c = it; c != next && !(wasLow && wasHigh); ++c) (c->second ? wasHigh : wasLow) = true;
        if (wasLow && wasHigh) {
            lines << QLineF(runFrom, y(level), x, y(level)) << QLineF(x, high, x, low);
            runFrom = x;
        }
        level = std::prev(next)->second;
        it = next;
    }
    lines << QLineF(runFrom, y(level), end, y(level));
    p.drawLines(lines);
}

void WaveformView::paintCursors(QPainter& p, int bottom) {
    p.setPen(QPen(ColoursFor(palette()).cursor, 1, Qt::DashLine));
    for (const Cursor c : {A, B}) {
        if (!cursors_[c]) continue;
        const double x = plotLeft() + (*cursors_[c] - startMs_) / msPerPixel_;
        if (x < plotLeft() || x > plotRight()) continue;
        p.drawLine(QPointF(x, 0), QPointF(x, bottom));
        p.drawText(QPointF(x + 3, 12), c == A ? QStringLiteral("A") : QStringLiteral("B"));
    }
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    if (!report_ || report_->pins.empty()) {
        p.setPen(pal.color(QPalette::PlaceholderText));
        p.drawText(rect(), Qt::AlignCenter, tr("No pin changed."));
        return;
    }
    const std::vector<PinTrace>& pins = report_->pins;
    // The axis right under the last pin, so the eye need not travel.
    const int axisY = std::min(height() - AxisHeight, int(pins.size()) * RowHeight + 8);
    p.setPen(pal.color(QPalette::Text));
    paintAxis(p, axisY);
    const QPen trace(ColoursFor(pal).trace, 1);
    for (std::size_t i = 0; i < pins.size(); ++i) {
        const int top = int(i) * RowHeight + 4;
        p.setPen(pal.color(QPalette::Text));
        p.drawText(QRect(2, top, NameWidth - 4, TraceHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(pins[i].name.c_str()));
        p.setPen(trace);
        paintTrace(p, i, top);
    }
    paintCursors(p, axisY);
}

} // namespace mirtolan
