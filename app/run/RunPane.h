// The Run pane: what a run of the program showed, beside the messages.
// RunController builds and runs in a worker thread; RunPane shows the
// report: the stop reason with the faulting word and its callers, cycles
// and time, variables, the data stack, the UART console, a waveform of the
// pins that changed, and the profile.
#pragma once

#include <QObject>
#include <QWidget>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "Simulator.h"
#include "WaveformView.h"

class QAction;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace mirtolan {

class RunPane : public QWidget {
    Q_OBJECT
public:
    explicit RunPane(QWidget* parent = nullptr);

    void showReport(const RunReport& report);
    void showError(const QString& text); // the build or the run could not be done
    void setRunning(bool running);       // shows the progress bar and the Stop button
    void setProgress(double fraction, quint64 cycles);
    // Writes the shown run's pin changes as a Value Change Dump; false, with
    // the reason in the summary, when it cannot.
    bool exportVcd(const QString& path);

    // The parts, for tests and for the window's layout.
    QListWidget* stopList() const { return stopList_; }
    QTableWidget* variables() const { return variables_; }
    QLabel* stack() const { return stack_; }
    QPlainTextEdit* console() const { return console_; }
    WaveformView* waveform() const { return waveform_; }
    QTableWidget* profile() const { return profile_; }
    QTabWidget* tabs() const { return tabs_; }
    QPushButton* stopButton() const { return stopButton_; }
    QLabel* summary() const { return summary_; }
    QLabel* cursors() const { return cursors_; }
    QPushButton* vcdButton() const { return vcdButton_; }

signals:
    void gotoLine(int line);   // a word of the fault, the profile or the variables was chosen: its definition's line
    void stopRequested();      // the Stop button

protected:
    // Enter on a row of the fault, the variables or the profile goes where a double-click goes.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* summary_;          // stop reason, cycles and time
    QProgressBar* progress_;   // while running
    QPushButton* stopButton_;  // while running
    QListWidget* stopList_;    // the fault and its callers, each with its line
    QTabWidget* tabs_;         // variables, stack, console, pins, profile
    QTableWidget* variables_;  // name, address, value decimal and hex
    QLabel* stack_;            // the data stack, bottom first, and the loop stack's depth
    QPlainTextEdit* console_;  // UART0 text
    WaveformView* waveform_;   // the pins
    QTableWidget* profile_;    // word, self, %, total, calls
    QLabel* cursors_;          // the waveform cursors' times and levels
    QPushButton* vcdButton_;   // exports the shown run as VCD
    std::shared_ptr<const RunReport> report_; // the run shown
};

// Builds and runs in a worker thread, so the window stays responsive;
// reports progress, can be stopped, and delivers the report in the
// window's thread.
class RunController : public QObject {
    Q_OBJECT
public:
    explicit RunController(QObject* parent = nullptr);
    ~RunController() override;

    bool busy() const { return worker_ != nullptr; }
    // Builds the source with `build`, then runs it with `run`; with
    // `source`, the build reads those lines (the editor's) instead of the file.
    void buildAndRun(BuildOptions build, RunOptions run, std::optional<LineList> source = std::nullopt);
    // Runs a program already built.
    void runBuilt(BuildResult program, RunOptions run);
    // The board that the runs show on and take their inputs from (none: no board).
    void setBoard(std::shared_ptr<BoardLink> board) { board_ = std::move(board); }
    // The last results (valid after finished()).
    const RunReport& report() const { return report_; }
    const BuildResult& build() const { return build_; }

public slots:
    void stop();

signals:
    void started();
    void stage(const QString& text);                 // "compiling", "assembling", "running"
    void progress(double fraction, quint64 cycles);  // of the run
    void finished();                                 // report() and build() hold the results

private:
    void start(std::function<void()> work);
    void done();
    // Ties a run to this controller: its Stop, its board and its progress.
    void wire(RunOptions& run);

    std::unique_ptr<std::thread> worker_; // the running build and run
    std::atomic<bool> stop_{false};       // asks the worker to end
    RunReport report_;                    // the last run's report
    BuildResult build_;                   // the last build
    std::shared_ptr<BoardLink> board_;    // the board runs show on, if any
};

// Shows the controller's progress and results in the pane, and its Stop button stops it.
void ConnectRunPane(RunController& controller, RunPane& pane);

// The window's Run (F5) and Stop (Shift+F5) actions, for its menu and tool
// bar: Stop stops the controller, and each is enabled only when it can act.
// The window connects `run`'s triggered() to its own start of
// RunController::buildAndRun with the build options it uses for Build.
struct RunActions {
    QAction* run;  // builds and runs the program
    QAction* stop; // ends the run (or the build before it)
};
RunActions MakeRunActions(RunController& controller, QObject* parent);

} // namespace mirtolan
