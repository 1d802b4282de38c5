#include "RunPane.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "Colours.h"

namespace mirtolan {

namespace {

// Line data role of list and table items: the source line to go to.
constexpr int LineRole = Qt::UserRole + 1;

QString fromBytes(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

QTableWidgetItem* cell(const QString& text, bool number = false)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    if (number)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QTableWidget* table(const QStringList& headers)
{
    auto* t = new QTableWidget(0, int(headers.size()));
    t->setHorizontalHeaderLabels(headers);
    t->verticalHeader()->hide();
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

QListWidgetItem* wordItem(const QString& text, const WordAt& w)
{
    auto* item = new QListWidgetItem(w.line > 0 ? text + "  (line " + QString::number(w.line) + ")" : text);
    item->setData(LineRole, qlonglong(w.line));
    return item;
}

} // namespace

// ---- RunPane

RunPane::RunPane(QWidget* parent) : QWidget(parent)
{
    summary_ = new QLabel(tr("Run the program (F5) to see it work."));
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setWordWrap(true);
    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    progress_->hide();
    stopButton_ = new QPushButton(tr("Stop"));
    stopButton_->hide();
    connect(stopButton_, &QPushButton::clicked, this, &RunPane::stopRequested);

    stopList_ = new QListWidget;
    stopList_->setMaximumHeight(90);
    stopList_->hide();
    connect(stopList_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (const int line = item->data(LineRole).toInt(); line > 0)
            emit gotoLine(line);
    });

    variables_ = table({tr("Name"), tr("Address"), tr("Value"), tr("Hex")});
    stack_ = new QLabel;
    stack_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    stack_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack_->setMargin(6);
    console_ = new QPlainTextEdit;
    console_->setReadOnly(true);
    console_->setFont(QFont("Monospace"));
    waveform_ = new WaveformView;
    profile_ = table({tr("Word"), tr("Self cycles"), tr("Self %"), tr("Total cycles"), tr("Calls")});
    // A word of the profile or a variable goes to its definition.
    for (QTableWidget* t : {profile_, variables_}) {
        connect(t, &QTableWidget::cellDoubleClicked, this, [this, t](int row, int) {
            if (const int line = t->item(row, 0)->data(LineRole).toInt(); line > 0)
                emit gotoLine(line);
        });
        t->installEventFilter(this);
    }
    stopList_->installEventFilter(this);

    auto* pins = new QWidget;
    auto* zoomIn = new QToolButton;
    zoomIn->setText("+");
    zoomIn->setToolTip(tr("Zoom in (or the mouse wheel)"));
    auto* zoomOut = new QToolButton;
    zoomOut->setText("−");
    zoomOut->setToolTip(tr("Zoom out"));
    auto* fit = new QToolButton;
    fit->setText(tr("Fit"));
    fit->setToolTip(tr("The whole run"));
    connect(zoomIn, &QToolButton::clicked, waveform_, &WaveformView::zoomIn);
    connect(zoomOut, &QToolButton::clicked, waveform_, &WaveformView::zoomOut);
    connect(fit, &QToolButton::clicked, waveform_, &WaveformView::zoomToFit);
    cursors_ = new QLabel(tr("Click the traces to place cursor A, Shift+click for B"));
    cursors_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(waveform_, &WaveformView::cursorsChanged, cursors_, [this](const QString& text) {
        cursors_->setText(text.isEmpty() ? tr("Click the traces to place cursor A, Shift+click for B") : text);
    });
    vcdButton_ = new QPushButton(tr("Export VCD..."));
    vcdButton_->setToolTip(tr("Write the pin changes of this run as a Value Change Dump (GTKWave, logic analysers)"));
    vcdButton_->setEnabled(false);
    connect(vcdButton_, &QPushButton::clicked, this, [this] {
        const QString path =
            QFileDialog::getSaveFileName(this, tr("Export VCD"), QString(), tr("Value Change Dump (*.vcd)"));
        if (!path.isEmpty())
            exportVcd(path);
    });
    auto* zoomRow = new QHBoxLayout;
    zoomRow->addWidget(zoomIn);
    zoomRow->addWidget(zoomOut);
    zoomRow->addWidget(fit);
    zoomRow->addWidget(cursors_, 1);
    zoomRow->addWidget(vcdButton_);
    auto* pinsLayout = new QVBoxLayout(pins);
    pinsLayout->setContentsMargins(0, 0, 0, 0);
    pinsLayout->addLayout(zoomRow);
    pinsLayout->addWidget(waveform_, 1);

    tabs_ = new QTabWidget;
    tabs_->addTab(pins, tr("Pins"));
    tabs_->addTab(variables_, tr("Variables"));
    tabs_->addTab(stack_, tr("Stack"));
    tabs_->addTab(console_, tr("Console"));
    tabs_->addTab(profile_, tr("Profile"));

    auto* top = new QHBoxLayout;
    top->addWidget(summary_, 1);
    top->addWidget(progress_);
    top->addWidget(stopButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addLayout(top);
    layout->addWidget(stopList_);
    layout->addWidget(tabs_, 1);
}

void RunPane::setRunning(bool running)
{
    progress_->setVisible(running);
    stopButton_->setVisible(running);
    if (running) {
        progress_->setValue(0);
        summary_->setText(tr("Running..."));
    }
}

void RunPane::setProgress(double fraction, quint64 cycles)
{
    progress_->setValue(int(std::clamp(fraction, 0.0, 1.0) * progress_->maximum()));
    progress_->setFormat(QString::number(cycles) + tr(" cycles"));
}

void RunPane::showError(const QString& text)
{
    setRunning(false);
    summary_->setText(text);
    stopList_->clear();
    stopList_->hide();
}

void RunPane::showReport(const RunReport& r)
{
    setRunning(false);
    if (r.stopped == StopReason::Error) {
        showError(tr("Cannot run: ") + fromBytes(r.error));
        return;
    }
    static const char* const Reasons[] = {
        QT_TR_NOOP("Halted: main returned."), QT_TR_NOOP("Limit reached."), QT_TR_NOOP("Stopped."),
        QT_TR_NOOP("Fault."), QT_TR_NOOP("Error.")};
    QString text = tr(Reasons[int(r.stopped)]);
    text += "  " + QString::number(r.cycles) + tr(" cycles, ") + TimeText(r.seconds) + tr(" at ") +
            QString::number(r.clockHz / 1e6, 'g', 6) + " MHz (" + fromBytes(r.device) + ")";
    summary_->setText(text);

    stopList_->clear();
    if (r.stopped == StopReason::Fault) {
        stopList_->addItem(wordItem(fromBytes(r.fault), r.faultWord.value_or(WordAt{})));
        stopList_->item(0)->setForeground(ColoursFor(palette()).fault);
        for (const WordAt& c : r.callers)
            stopList_->addItem(wordItem(tr("called from ") + fromBytes(c.name), c));
    }
    stopList_->setVisible(r.stopped == StopReason::Fault);

    variables_->setRowCount(int(r.variables.size()));
    for (int i = 0; i < int(r.variables.size()); ++i) {
        const VariableValue& v = r.variables[std::size_t(i)];
        QString dec, hex;
        for (const std::uint8_t b : v.bytes) {
            dec += (dec.isEmpty() ? "" : " ") + QString::number(b);
            hex += (hex.isEmpty() ? "" : " ") + QString("%1").arg(b, 2, 16, QChar('0')).toUpper();
        }
        variables_->setItem(i, 0, cell(fromBytes(v.name)));
        variables_->setItem(i, 1, cell(QString("$%1").arg(v.address, 4, 16, QChar('0')).toUpper()));
        variables_->setItem(i, 2, cell(dec, true));
        variables_->setItem(i, 3, cell(hex, true));
        variables_->item(i, 0)->setData(LineRole, qlonglong(v.line));
    }
    variables_->resizeColumnsToContents();

    QString stack;
    for (const std::uint32_t c : r.stack)
        stack += (stack.isEmpty() ? "" : "  ") + QString::number(c);
    stack_->setText(tr("Data stack (bottom first): ") + (stack.isEmpty() ? tr("empty") : stack) +
                    (r.stackUnderflow ? tr("  (%1 cells taken beyond its bottom)").arg(r.stackUnderflow) : QString()) +
                    "\n" + tr("Loop stack depth: ") + QString::number(r.loopStackDepth));
    console_->setPlainText(fromBytes(r.uart));
    report_ = std::make_shared<const RunReport>(r);
    waveform_->setReport(report_);
    vcdButton_->setEnabled(!r.pins.empty());

    profile_->setRowCount(int(r.profile.size()));
    for (int i = 0; i < int(r.profile.size()); ++i) {
        const ProfileEntry& e = r.profile[std::size_t(i)];
        profile_->setItem(i, 0, cell(fromBytes(e.word)));
        profile_->item(i, 0)->setData(LineRole, qlonglong(e.line));
        profile_->setItem(i, 1, cell(QString::number(e.self), true));
        profile_->setItem(i, 2, cell(QString::number(r.cycles ? 100.0 * e.self / r.cycles : 0, 'f', 1), true));
        profile_->setItem(i, 3, cell(QString::number(e.total), true));
        profile_->setItem(i, 4, cell(QString::number(e.calls), true));
    }
    profile_->resizeColumnsToContents();
}

bool RunPane::exportVcd(const QString& path)
{
    std::string error;
    if (!report_ || !WriteVcd(*report_, QFile::encodeName(path).toStdString(), error)) {
        summary_->setText(tr("The VCD was not written: ") +
                          (report_ ? QString::fromLocal8Bit(error.c_str()) : tr("no run to export")));
        return false;
    }
    summary_->setText(tr("Wrote %1").arg(path));
    return true;
}

bool RunPane::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            int line = 0;
            if (watched == stopList_ && stopList_->currentItem())
                line = stopList_->currentItem()->data(LineRole).toInt();
            for (QTableWidget* t : {profile_, variables_})
                if (watched == t && t->currentRow() >= 0 && t->item(t->currentRow(), 0))
                    line = t->item(t->currentRow(), 0)->data(LineRole).toInt();
            if (line > 0) {
                emit gotoLine(line);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- RunController

RunController::RunController(QObject* parent) : QObject(parent) {}

RunController::~RunController()
{
    stop_ = true;
    if (worker_)
        worker_->join();
}

void RunController::stop() { stop_ = true; }

void RunController::start(std::function<void()> work)
{
    if (worker_)
        return;
    stop_ = false;
    emit started();
    worker_ = std::make_unique<std::thread>(std::move(work));
}

void RunController::done()
{
    if (worker_)
        worker_->join();
    worker_.reset();
    emit finished();
}

void RunController::wire(RunOptions& run)
{
    run.stop = &stop_;
    if (!run.board)
        run.board = board_;
    run.progress = [this](double f, std::uint64_t c) {
        QMetaObject::invokeMethod(this, [this, f, c] { emit progress(f, c); }, Qt::QueuedConnection);
    };
}

void RunController::buildAndRun(BuildOptions build, RunOptions run, std::optional<LineList> source)
{
    build.cancel = &stop_;
    build.progress = [this](const std::string& s) {
        const QString text = QString::fromStdString(s);
        QMetaObject::invokeMethod(this, [this, text] { emit stage(text); }, Qt::QueuedConnection);
    };
    wire(run);
    start([this, build = std::move(build), run = std::move(run), source = std::move(source)]() mutable {
        if (source)
            build.sourceText = &*source;
        BuildResult b = BuildHex(build);
        RunReport r;
        if (b.status == BuildResult::Built) {
            QMetaObject::invokeMethod(this, [this] { emit stage(tr("running")); }, Qt::QueuedConnection);
            r = RunProgram(b, run);
        } else {
            r.error = b.status == BuildResult::Problems ? "the build has problems: see the messages" : b.error;
        }
        QMetaObject::invokeMethod(this, [this, b = std::move(b), r = std::move(r)]() mutable {
            build_ = std::move(b);
            report_ = std::move(r);
            done();
        }, Qt::QueuedConnection);
    });
}

void RunController::runBuilt(BuildResult program, RunOptions run)
{
    if (worker_)
        return; // the running one keeps its program
    wire(run);
    build_ = std::move(program);
    start([this, run = std::move(run)] {
        RunReport r = RunProgram(build_, run);
        QMetaObject::invokeMethod(this, [this, r = std::move(r)]() mutable {
            report_ = std::move(r);
            done();
        }, Qt::QueuedConnection);
    });
}

void ConnectRunPane(RunController& controller, RunPane& pane)
{
    QObject::connect(&controller, &RunController::started, &pane, [&pane] { pane.setRunning(true); });
    QObject::connect(&controller, &RunController::progress, &pane, &RunPane::setProgress);
    QObject::connect(&controller, &RunController::finished, &pane,
                     [&controller, &pane] { pane.showReport(controller.report()); });
    QObject::connect(&pane, &RunPane::stopRequested, &controller, &RunController::stop);
}

} // namespace mirtolan

namespace mirtolan {

RunActions MakeRunActions(RunController& controller, QObject* parent)
{
    RunActions a{new QAction(QObject::tr("&Run"), parent), new QAction(QObject::tr("S&top"), parent)};
    a.run->setShortcut(QKeySequence(Qt::Key_F5));
    a.run->setToolTip(QObject::tr("Build the program and run it in the simulator (F5)"));
    a.stop->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    a.stop->setToolTip(QObject::tr("Stop the run (Shift+F5)"));
    a.stop->setEnabled(false);
    QObject::connect(a.stop, &QAction::triggered, &controller, &RunController::stop);
    const auto busy = [a](bool running) {
        a.run->setEnabled(!running);
        a.stop->setEnabled(running);
    };
    QObject::connect(&controller, &RunController::started, a.run, [busy] { busy(true); });
    QObject::connect(&controller, &RunController::finished, a.run, [busy] { busy(false); });
    return a;
}

} // namespace mirtolan
