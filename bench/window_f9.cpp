// Times F9 in the real window on a large source: from the key to a window
// that takes events again, and to the new listing drawn; and the memory the
// window holds for source and listing.
//
//   window_f9 SOURCE ARCHIVE
//
// Prints one line of "key=value" figures for bench/window to put in a table.
#include <QApplication>
#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ListingView.h"
#include "Main.h"

namespace {

// Resident memory now, in MB, from the kernel's account of this process.
double ResidentMB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

double PeakMB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

double FileMB(const QString& path) { return static_cast<double>(QFileInfo(path).size()) / (1024.0 * 1024.0); }

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_f9 SOURCE ARCHIVE\n");
        return 2;
    }
    const QString source = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString archive = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    QTemporaryDir scratch; // settings go here, not beside a real program
    int problems = 0;
    mirtolan::FormEnvironment env = mirtolan::FormEnvironment::Default();
    env.message = [&problems](QWidget*, mirtolan::FormEnvironment::Box kind, const QString& text,
                              QMessageBox::StandardButtons) {
        if (kind == mirtolan::FormEnvironment::Box::Error) {
            ++problems;
            std::fprintf(stderr, "error box: %s\n", qPrintable(text));
        }
        return QMessageBox::No;
    };
    env.exeDir = scratch.path();
    env.xdgConfigHome = scratch.path();
    QFile::copy(archive, scratch.path() + "/Mirtolan.arch");
    QDir::setCurrent(scratch.path());

    TForm1 form(env);
    form.resize(1000, 700);
    form.show();
    QApplication::processEvents();
    const double emptyMB = ResidentMB();

    QElapsedTimer timer;
    timer.start();
    if (!form.OpenFile(source)) return 1;
    QApplication::processEvents();
    const double openSeconds = timer.nsecsElapsed() / 1e9;
    const double openedMB = ResidentMB();

    double f9Seconds = 0;      // from the key to the window handling events again
    double listingSeconds = 0; // from the key to the new listing drawn
    QObject::connect(&form, &TForm1::compiled, &form, [&] {
        form.repaint(); // drawn, not just scheduled
        listingSeconds = timer.nsecsElapsed() / 1e9;
        app.quit();
    });
    QTimer::singleShot(0, &form, [&] {
        timer.restart();
        form.CompileAction->trigger(); // what F9 runs
        // Queued behind everything F9 left to do: when it runs, the window
        // takes events again.
        QTimer::singleShot(0, &form, [&] {
            form.repaint();
            f9Seconds = timer.nsecsElapsed() / 1e9;
        });
    });
    app.exec();
    const double afterMB = ResidentMB();

    const QString listing = QFileInfo(source).path() + "/" + QFileInfo(source).completeBaseName() + ".asm";
    const double sourceMB = FileMB(source);
    const double listingMB = FileMB(listing);
    std::printf("source_MB=%.2f listing_MB=%.2f listing_lines=%zu open_s=%.3f f9_s=%.3f listing_s=%.3f "
                "empty_MB=%.1f opened_MB=%.1f after_MB=%.1f peak_MB=%.1f "
                "peak_per_source_listing=%.2f growth_per_source_listing=%.2f errors=%d\n",
                sourceMB, listingMB, form.AsmTxt->lineCount(), openSeconds, f9Seconds, listingSeconds, emptyMB,
                openedMB, afterMB, PeakMB(), PeakMB() / (sourceMB + listingMB),
                (PeakMB() - emptyMB) / (sourceMB + listingMB), problems);
    return problems == 0 ? 0 : 1;
}
