// The pins that changed in a run, one row each over simulated time, as a
// logic analyser shows them: zoom (wheel, +, −, Fit), pan by dragging, a time
// axis from seconds down to microseconds, and two cursors (click: A,
// Shift+click or right-click: B) that tell the time and the levels under
// them and the span between them.
//
// A run may leave millions of changes. The view draws one pixel column at a
// time, from the first and last change in it (found by binary search) and
// whether both levels occur there, so a paint costs the width of the view,
// not the number of changes.
#pragma once

#include <QWidget>

#include <memory>
#include <optional>

#include "Simulator.h"

namespace mirtolan {

// A span of time as the pane writes it: "1.5 s", "12.25 ms", "3.5 µs".
QString TimeText(double seconds);

class WaveformView : public QWidget {
    Q_OBJECT
public:
    enum Cursor { A, B };

    explicit WaveformView(QWidget* parent = nullptr);
    void setReport(const RunReport& report);
    void setReport(std::shared_ptr<const RunReport> report);
    double msPerPixel() const { return msPerPixel_; }
    double startMs() const { return startMs_; }
    QSize sizeHint() const override;

    // A cursor's time in milliseconds from reset; nothing while it is not set.
    std::optional<double> cursorMs(Cursor c) const { return cursors_[c]; }
    void setCursor(Cursor c, double ms);
    // The level of pin `pin` (a row) at `ms`.
    int levelAt(std::size_t pin, double ms) const;
    // What the cursors show: each one's time and levels, and the span between them.
    QString cursorText() const;

public slots:
    void zoomIn();
    void zoomOut();
    void zoomToFit(); // the whole run across the width

signals:
    void cursorsChanged(const QString& text);

protected:
    void paintEvent(QPaintEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void zoomAround(double factor, double atX);
    int plotLeft() const;
    int plotRight() const;
    double msAt(double x) const;
    void paintAxis(QPainter& p, int axisY);
    void paintTrace(QPainter& p, std::size_t pin, int top);
    void paintCursors(QPainter& p, int bottom);

    std::shared_ptr<const RunReport> report_; // the run drawn (its pins); shared with the pane
    double clockHz_ = 1;         // to turn cycles into time
    double endMs_ = 0;           // the run's length
    double msPerPixel_ = 1;      // the zoom
    double startMs_ = 0;         // time at the plot's left edge
    int dragX_ = 0;              // where a press began, for panning
    double dragStartMs_ = 0;     // startMs_ when it began
    bool dragged_ = false;       // the press moved: a pan, not a click that sets a cursor
    bool fitted_ = true;         // follow the width until the user zooms
    std::optional<double> cursors_[2]; // A and B, in ms
};

} // namespace mirtolan
