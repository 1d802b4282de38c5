#include "TestPane.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

namespace mirtolan {

namespace {

// Item data role of a test's row: the line where it failed; 0 for none.
constexpr int LineRole = Qt::UserRole + 1;

enum Column { NameColumn, ResultColumn, CyclesColumn, FailureColumn, ColumnCount };

QString fromBytes(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

QTableWidgetItem* item(const QString& text, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* i = new QTableWidgetItem(text);
    i->setFlags(i->flags() & ~Qt::ItemIsEditable);
    i->setTextAlignment(align);
    return i;
}

} // namespace

TestPane::TestPane(QWidget* parent) : QWidget(parent)
{
    summary_ = new QLabel(tr("Test (Ctrl+T) runs each word whose name begins with \"test\" on the simulated chip; "
                             "T{ ... -> ... }T inside compares results with expected values."));
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    progress_ = new QProgressBar;
    progress_->hide();
    stopButton_ = new QPushButton(tr("Stop"));
    stopButton_->hide();
    connect(stopButton_, &QPushButton::clicked, this, &TestPane::stopRequested);

    results_ = new QTableWidget(0, ColumnCount);
    results_->setHorizontalHeaderLabels({tr("Test"), tr("Result"), tr("Cycles"), tr("Failure")});
    results_->verticalHeader()->hide();
    results_->setSelectionBehavior(QAbstractItemView::SelectRows);
    results_->setSelectionMode(QAbstractItemView::SingleSelection);
    results_->horizontalHeader()->setStretchLastSection(true);
    results_->setWordWrap(false);
    connect(results_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { activate(row); });
    results_->installEventFilter(this);

    // The summary with the progress and Stop beside it, over the table.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(summary_, 0, 0);
    grid->addWidget(progress_, 0, 1);
    grid->addWidget(stopButton_, 0, 2);
    grid->addWidget(results_, 1, 0, 1, 3);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(1, 1);
}

void TestPane::begin()
{
    results_->setRowCount(0);
    summary_->setText(tr("Building..."));
    progress_->setRange(0, 0); // no count until the build is done
    progress_->show();
    stopButton_->show();
}

void TestPane::addOutcome(const TestOutcome& t, int index, int count)
{
    progress_->setRange(0, count);
    progress_->setValue(index + 1);
    summary_->setText(tr("Running the tests: %1 of %2 done").arg(index + 1).arg(count));
    const int row = results_->rowCount();
    results_->insertRow(row);
    auto* name = item(fromBytes(t.name));
    name->setData(LineRole, qlonglong(t.failLine));
    results_->setItem(row, NameColumn, name);
    QString verdict = QString::fromLatin1(VerdictName(t.verdict));
    if (!t.passed())
        verdict = verdict.toUpper(); // stands out without a colour of its own
    results_->setItem(row, ResultColumn, item(verdict));
    results_->setItem(row, CyclesColumn, item(QString::number(t.cycles), Qt::AlignRight | Qt::AlignVCenter));
    QString failure = fromBytes(t.message);
    if (t.failLine > 0)
        failure = tr("line %1: %2").arg(t.failLine).arg(failure);
    auto* why = item(failure);
    if (!t.passed())
        why->setToolTip(fromBytes(FailureDetails(t)));
    results_->setItem(row, FailureColumn, why);
    results_->resizeColumnToContents(NameColumn);
    results_->resizeColumnToContents(ResultColumn);
    results_->resizeColumnToContents(CyclesColumn);
}

void TestPane::end(const TestRun& run)
{
    progress_->hide();
    stopButton_->hide();
    switch (run.status) {
    case TestRun::BuildFailed:
        summary_->setText(tr("The source does not build: its problems are in the messages."));
        return;
    case TestRun::Abandoned:
        summary_->setText(tr("The tests could not run: %1").arg(fromBytes(run.error)));
        return;
    case TestRun::Ran:
        break;
    }
    if (run.tests.empty()) {
        summary_->setText(tr("No test words: name a colon definition test... (any letter case) to have it run."));
        return;
    }
    const auto passed = run.count(Verdict::Passed);
    QString text = tr("%1 of %2 tests passed").arg(passed).arg(run.tests.size());
    if (const auto stopped = run.count(Verdict::Stopped))
        text += tr(", %1 stopped").arg(stopped);
    text += tr(" (%1, %2-bit cells, each within %3)")
                .arg(fromBytes(run.device))
                .arg(run.cellBits)
                .arg(fromBytes(run.limit));
    if (run.longCalls)
        text += tr("; built with Zcall: with its tests the program is larger than rcall reaches");
    summary_->setText(text);
}

void TestPane::activate(int row)
{
    if (const QTableWidgetItem* name = results_->item(row, NameColumn))
        if (const int line = name->data(LineRole).toInt(); line > 0)
            emit gotoLine(line);
}

bool TestPane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == results_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && results_->currentRow() >= 0) {
            activate(results_->currentRow());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- TestController

TestController::TestController(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<mirtolan::TestOutcome>();
}

TestController::~TestController()
{
    stop_ = true;
    if (worker_)
        worker_->join();
}

void TestController::stop() { stop_ = true; }

void TestController::start(TestOptions options)
{
    if (worker_)
        return;
    stop_ = false;
    options.run.stop = &stop_;
    // The worker's news crosses to the window's thread as queued calls.
    options.progress = [this](const std::string& s) {
        QMetaObject::invokeMethod(this, [this, text = QString::fromLatin1(s.c_str())] { emit stage(text); },
                                  Qt::QueuedConnection);
    };
    options.tested = [this](const TestOutcome& t, std::size_t index, std::size_t count) {
        QMetaObject::invokeMethod(this, [this, t, i = int(index), n = int(count)] { emit tested(t, i, n); },
                                  Qt::QueuedConnection);
    };
    emit started();
    worker_ = std::make_unique<std::thread>([this, options = std::move(options)] {
        TestRun run = RunTests(options);
        QMetaObject::invokeMethod(this, [this, run = std::move(run)]() mutable {
            worker_->join();
            worker_.reset();
            run_ = std::move(run);
            emit finished();
        }, Qt::QueuedConnection);
    });
}

void ConnectTestPane(TestController& controller, TestPane& pane)
{
    QObject::connect(&controller, &TestController::started, &pane, &TestPane::begin);
    QObject::connect(&controller, &TestController::tested, &pane, &TestPane::addOutcome);
    QObject::connect(&controller, &TestController::finished, &pane, [&controller, &pane] { pane.end(controller.run()); });
    QObject::connect(&pane, &TestPane::stopRequested, &controller, &TestController::stop);
}

} // namespace mirtolan
