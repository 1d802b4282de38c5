// The Tests pane: the test words of the open source, run on the simulated
// chip by TestController on a worker thread, each shown as it ends with its
// verdict, its time in cycles and why it failed; a double-click (or Enter)
// on a test that failed goes to the line where it failed.
#pragma once

#include <QObject>
#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>

#include "Testing.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace mirtolan {

class TestPane : public QWidget {
    Q_OBJECT
public:
    explicit TestPane(QWidget* parent = nullptr);

    // A run begins: the table empties, the progress bar and Stop show.
    void begin();
    // A test ended (`index` from 0 of `count`).
    void addOutcome(const TestOutcome& outcome, int index, int count);
    // The run ended: the summary, or why nothing ran.
    void end(const TestRun& run);

    // The parts, for tests and the window.
    QTableWidget* results() const { return results_; }
    QLabel* summary() const { return summary_; }
    QPushButton* stopButton() const { return stopButton_; }
    QProgressBar* progress() const { return progress_; }

signals:
    void gotoLine(int line);  // a failed test was chosen: the line where it failed
    void stopRequested();     // the Stop button

protected:
    // Enter on a row goes where a double-click goes.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void activate(int row);

    QLabel* summary_;         // counts, device and cells; or why nothing ran
    QProgressBar* progress_;  // tests done of the count, while running
    QPushButton* stopButton_; // while running
    QTableWidget* results_;   // test, result, cycles, failure
};

// Runs the tests on a worker thread, so the window stays responsive; tells
// each test as it ends and the whole run at the end, in the window's thread.
class TestController : public QObject {
    Q_OBJECT
public:
    explicit TestController(QObject* parent = nullptr);
    ~TestController() override; // stops a running run and waits for it

    bool busy() const { return worker_ != nullptr; }
    // Starts a run; nothing when one is running.
    void start(TestOptions options);
    // The last run (valid after finished()).
    const TestRun& run() const { return run_; }

public slots:
    void stop();

signals:
    void started();
    void stage(const QString& text);                                   // the build's stages, then each test
    void tested(const mirtolan::TestOutcome& outcome, int index, int count); // a test ended
    void finished();                                                   // run() holds the results

private:
    std::unique_ptr<std::thread> worker_; // the running build and tests
    std::atomic<bool> stop_{false};       // asks the worker to end
    TestRun run_;                         // the last run
};

// Shows the controller's tests in the pane, and the pane's Stop stops it.
void ConnectTestPane(TestController& controller, TestPane& pane);

} // namespace mirtolan

Q_DECLARE_METATYPE(mirtolan::TestOutcome)
