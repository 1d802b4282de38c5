// Times what the window does under heavy use, each in milliseconds, medians
// of ROUNDS:
//   - the Run pane with a run of a million pin changes: the run's end shown
//     (the report put in the pane and the waveform drawn), zoom in, Fit, pan;
//   - completion in a 5 MB source: loading it into the editor, the longest
//     slice of the word index's reading (the longest the window waits), and
//     Ctrl+Space when the index is read, next to what reading the whole text
//     for it (the way before the index) costs;
//   - the serial monitor fed a stream without line feeds: a 4 KB piece at
//     the start, after 2 MB and after 4 MB; and, for comparison, the same
//     stream in a text view that keeps it one line, as the monitor did.
//
//   window_use SOURCE [ROUNDS]
//
// Prints one "key=value" line for bench/window_use.
#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "ForthWords.h"
#include "RunPane.h"
#include "SerialMonitor.h"
#include "SourceEditor.h"
#include "WordIndex.h"

using namespace mirtolan;

namespace {

// The changes of a run: four pins, a million changes in all, over ten seconds at 16 MHz.
constexpr int Pins = 4;
constexpr std::uint64_t ChangesPerPin = 250000;
constexpr std::uint64_t RunCycles = 160000000;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Milliseconds that `work` takes, with the paints it causes done.
double Time(const std::function<void()>& work, QWidget* shown = nullptr) {
    QElapsedTimer t;
    t.start();
    work();
    if (shown) shown->repaint();
    return double(t.nsecsElapsed()) / 1e6;
}

RunReport MillionChanges() {
    RunReport r;
    r.stopped = StopReason::Limit;
    r.device = "ATmega328P";
    r.clockHz = 16000000;
    r.cycles = RunCycles;
    r.seconds = double(RunCycles) / r.clockHz;
    for (int p = 0; p < Pins; ++p) {
        PinTrace pin{"PB" + std::to_string(p), {}, ChangesPerPin};
        // Bursts and pauses, as a PWM with a changing duty or a serial line makes them.
        std::uint64_t cycle = 0;
        for (std::uint64_t i = 0; i < ChangesPerPin; ++i) {
            cycle += (i % 1000 < 500) ? 40 + p : 1200;
            pin.changes.emplace_back(cycle, int(i % 2 == 0));
        }
        r.pins.push_back(std::move(pin));
    }
    return r;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_use SOURCE [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    // The Run pane.
    const RunReport run = MillionChanges();
    RunPane pane;
    pane.resize(1000, 300);
    pane.show();
    pane.tabs()->setCurrentIndex(0); // the pins
    QApplication::processEvents();
    WaveformView* view = pane.waveform();
    auto mouse = [view](QEvent::Type type, int x, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(x, 20), view->mapToGlobal(QPointF(x, 20)), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(view, &e);
    };
    std::vector<double> end, zoom, fit, pan, cursor;
    for (int r = 0; r < rounds; ++r) {
        end.push_back(Time([&] { pane.showReport(run); }, view));
        zoom.push_back(Time([&] { view->zoomIn(); }, view));
        fit.push_back(Time([&] { view->zoomToFit(); }, view));
        view->zoomIn();
        mouse(QEvent::MouseButtonPress, 500, Qt::LeftButton);
        pan.push_back(Time([&] { mouse(QEvent::MouseMove, 400, Qt::LeftButton); }, view));
        mouse(QEvent::MouseButtonRelease, 400, Qt::NoButton);
        cursor.push_back(Time([&] { view->setCursor(WaveformView::A, 1234.5); }, view));
    }

    // Completion in a large source.
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    const QString text = QString::fromUtf8(file.readAll());
    std::vector<double> load, slice, complete, whole;
    for (int r = 0; r < rounds; ++r) {
        SourceEditor editor;
        editor.resize(800, 600);
        load.push_back(Time([&] { editor.setPlainText(text); }));
        // The index reads in slices between events: the longest of them is
        // the longest the window waits for it.
        double longest = 0;
        while (!editor.wordIndex()->complete()) {
            QElapsedTimer t;
            t.start();
            QApplication::processEvents(QEventLoop::AllEvents);
            longest = std::max(longest, double(t.nsecsElapsed()) / 1e6);
        }
        slice.push_back(longest);
        QTextCursor end(editor.document());
        end.movePosition(QTextCursor::End);
        end.insertText("\n: w");
        editor.setTextCursor(end);
        complete.push_back(Time([&] { editor.complete(); }));
        editor.completer()->popup()->hide();
        whole.push_back(Time([&] { (void)DefinedWords(DocumentTextLines(*editor.document())); }));
    }

    // The serial monitor and a stream without line feeds.
    SerialMonitor monitor;
    monitor.resize(800, 400);
    monitor.show();
    const QByteArray piece(4096, 'x');
    std::vector<double> at[3]; // the pieces at the start, after 2 MB and after 4 MB
    for (int i = 0; i < 1024; ++i) {
        const double ms = Time([&] { monitor.appendReceived(piece); }, &monitor);
        if (i < 64) at[0].push_back(ms);
        if (i >= 448 && i < 512) at[1].push_back(ms);
        if (i >= 960) at[2].push_back(ms);
    }
    // The same stream in a text view that does not break lines, as the monitor had it before.
    QPlainTextEdit unbroken;
    unbroken.setMaximumBlockCount(MonitorMaxLines);
    unbroken.setLineWrapMode(QPlainTextEdit::NoWrap);
    unbroken.resize(800, 400);
    unbroken.show();
    std::vector<double> before;
    for (int i = 0; i < 256; ++i) { // 1 MB
        const double ms = Time([&] {
            QTextCursor c(unbroken.document());
            c.movePosition(QTextCursor::End);
            c.insertText(QString::fromLatin1(piece));
        }, &unbroken);
        if (i >= 192) before.push_back(ms);
    }

    std::printf("changes=%llu run_end_ms=%.2f zoom_ms=%.2f fit_ms=%.2f pan_ms=%.2f cursor_ms=%.2f "
                "source_MB=%.2f load_ms=%.1f index_slice_ms=%.2f complete_ms=%.2f whole_text_scan_ms=%.1f "
                "monitor_first_ms=%.3f monitor_after_2MB_ms=%.3f monitor_after_4MB_ms=%.3f "
                "unbroken_after_1MB_ms=%.3f\n",
                static_cast<unsigned long long>(Pins * ChangesPerPin), Median(end), Median(zoom), Median(fit),
                Median(pan), Median(cursor), double(file.size()) / (1024.0 * 1024.0), Median(load), Median(slice), Median(complete),
                Median(whole), Median(at[0]), Median(at[1]), Median(at[2]), Median(before));
    return 0;
}
