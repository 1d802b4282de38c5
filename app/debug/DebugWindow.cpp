#include "DebugWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>

#include "BoardView.h"
#include "BuildController.h"
#include "Breakpoints.h"
#include "DebugController.h"
#include "DebugPane.h"
#include "Main.h"
#include "MessagePane.h"
#include "RunPane.h"
#include "RunWindow.h"
#include "SourceEditor.h"

namespace mirtolan {

namespace {

constexpr QKeyCombination NoKey{};
// No icon of the style's: the action's text, or an icon drawn here.
constexpr QStyle::StandardPixmap NoIcon = QStyle::SP_CustomBase;

// One action of the Debug menu: its text, keys, icon and what it says.
struct DebugActionEntry {
    QAction* DebugActions::*field; // where the action is kept
    const char* text;              // the menu item, with its & accelerator
    QKeyCombination key;           // its key; NoKey for none
    QStyle::StandardPixmap icon;   // on the tool bar; NoIcon: not there (or drawn here)
    const char* tip;               // the tool tip
    bool separatorBefore;          // a line above it in the menu
};

// In menu order. Start and Continue share Shift+F9: only one is ever enabled.
const DebugActionEntry DebugActionTable[] = {
    {&DebugActions::start, QT_TRANSLATE_NOOP("Debug", "Start &debugging"), Qt::SHIFT | Qt::Key_F9,
     QStyle::SP_MediaPlay, QT_TRANSLATE_NOOP("Debug", "Build the program and run it under the debugger, to its breakpoints"),
     false},
    {&DebugActions::resume, QT_TRANSLATE_NOOP("Debug", "&Continue"), Qt::SHIFT | Qt::Key_F9, QStyle::SP_MediaSeekForward,
     QT_TRANSLATE_NOOP("Debug", "Run on to the next breakpoint"), false},
    {&DebugActions::pause, QT_TRANSLATE_NOOP("Debug", "&Pause"), QKeyCombination(Qt::Key_F6), QStyle::SP_MediaPause,
     QT_TRANSLATE_NOOP("Debug", "Stop the program where it is"), false},
    {&DebugActions::stop, QT_TRANSLATE_NOOP("Debug", "S&top debugging"), Qt::CTRL | Qt::Key_F2, QStyle::SP_MediaStop,
     QT_TRANSLATE_NOOP("Debug", "End the program"), false},
    {&DebugActions::stepOver, QT_TRANSLATE_NOOP("Debug", "Step &over"), QKeyCombination(Qt::Key_F10),
     QStyle::SP_ArrowRight, QT_TRANSLATE_NOOP("Debug", "Run the current word, with what it calls, and stop at the next"),
     true},
    {&DebugActions::stepIn, QT_TRANSLATE_NOOP("Debug", "Step &into"), QKeyCombination(Qt::Key_F11), QStyle::SP_ArrowDown,
     QT_TRANSLATE_NOOP("Debug", "Into the word that the current one calls"), false},
    {&DebugActions::stepOut, QT_TRANSLATE_NOOP("Debug", "Step o&ut"), Qt::SHIFT | Qt::Key_F11, QStyle::SP_ArrowUp,
     QT_TRANSLATE_NOOP("Debug", "Run to the return to the caller"), false},
    {&DebugActions::stepLine, QT_TRANSLATE_NOOP("Debug", "Step to next &line"), Qt::CTRL | Qt::Key_F10, NoIcon,
     QT_TRANSLATE_NOOP("Debug", "Run on to the next source line reached"), false},
    {&DebugActions::toggleBreakpoint, QT_TRANSLATE_NOOP("Debug", "Toggle &breakpoint"), Qt::CTRL | Qt::Key_F8, NoIcon,
     QT_TRANSLATE_NOOP("Debug", "Set or take away a breakpoint on the cursor's line (or click the gutter)"), true},
    {&DebugActions::clearBreakpoints, QT_TRANSLATE_NOOP("Debug", "&Remove all breakpoints"), NoKey, NoIcon,
     QT_TRANSLATE_NOOP("Debug", "Take away every breakpoint"), false},
};

QIcon BreakpointIcon(const QWidget& w)
{
    const int size = w.style()->pixelMetric(QStyle::PM_ToolBarIconSize);
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(BreakpointColour);
    p.drawEllipse(QRectF(size * 0.2, size * 0.2, size * 0.6, size * 0.6));
    return QIcon(pixmap);
}

// Scrolls the editor to show `line` when it is out of sight, leaving the text cursor where the user put it.
void Reveal(SourceEditor& editor, int line)
{
    const int first = editor.cursorForPosition(QPoint(0, 0)).blockNumber() + 1;
    const int last = editor.cursorForPosition(QPoint(0, editor.viewport()->height() - 1)).blockNumber() + 1;
    if (line >= first && line <= last)
        return;
    editor.verticalScrollBar()->setValue(line - 1 - (last - first) / 2);
}

} // namespace

DebuggerInWindow InstallDebugger(TForm1& w, const QString& shareDir, RunController* run)
{
    const QString share = shareDir.isEmpty()
                              ? QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/mirtolan")
                              : shareDir;
    DebuggerInWindow d;
    d.controller = new DebugController(&w);
    d.pane = new DebugPane;
    w.AddPane(d.pane, QObject::tr("Debug"));
    d.board = new BoardView;
    d.boardDock = new QDockWidget(QObject::tr("Board"), &w);
    d.boardDock->setObjectName(QStringLiteral("BoardDock"));
    d.boardDock->setWidget(d.board);
    w.addDockWidget(Qt::RightDockWidgetArea, d.boardDock);
    d.boardDock->hide();
    d.breakpoints = new EditorBreakpoints(w.Source);
    if (run)
        run->setBoard(d.board->link());

    QMenu* menu = w.Menu(QObject::tr("&Debug"));
    d.toolBar = new QToolBar(QObject::tr("Debug"), &w);
    d.toolBar->setObjectName(QStringLiteral("DebugBar"));
    d.toolBar->setMovable(false);
    // A row of its own: beside the window's tool bar it would push part of that out of sight.
    w.addToolBarBreak(Qt::TopToolBarArea);
    w.addToolBar(Qt::TopToolBarArea, d.toolBar);
    for (const DebugActionEntry& e : DebugActionTable) {
        if (e.separatorBefore)
            menu->addSeparator();
        QAction* a = menu->addAction(QCoreApplication::translate("Debug", e.text));
        if (e.key != NoKey)
            a->setShortcut(QKeySequence(e.key));
        const QString keys = a->shortcut().toString(QKeySequence::NativeText);
        a->setToolTip(QCoreApplication::translate("Debug", e.tip) + (keys.isEmpty() ? QString() : " (" + keys + ")"));
        if (e.icon != NoIcon) {
            a->setIcon(w.style()->standardIcon(e.icon));
            d.toolBar->addAction(a);
        }
        d.actions.*(e.field) = a;
    }
    d.actions.toggleBreakpoint->setIcon(BreakpointIcon(w));
    d.toolBar->addAction(d.actions.toggleBreakpoint);
    menu->addSeparator();
    QAction* showBoard = d.boardDock->toggleViewAction();
    showBoard->setText(QObject::tr("&Board"));
    showBoard->setToolTip(QObject::tr("The board: LEDs, buttons, switches, ADC sliders and the UART console"));
    menu->addAction(showBoard);

    DebugController* c = d.controller;
    DebugPane* pane = d.pane;
    BoardView* board = d.board;
    QDockWidget* dock = d.boardDock;
    EditorBreakpoints* marks = d.breakpoints;
    const DebugActions a = d.actions;

    // The actions that can act in each state.
    const auto enable = [a](DebugController::State s) {
        using S = DebugController::State;
        a.start->setEnabled(s == S::Idle);
        a.resume->setEnabled(s == S::Stopped);
        a.pause->setEnabled(s == S::Running);
        a.stop->setEnabled(s != S::Idle);
        a.stepOver->setEnabled(s == S::Idle || s == S::Stopped);
        a.stepIn->setEnabled(s == S::Idle || s == S::Stopped);
        a.stepLine->setEnabled(s == S::Idle || s == S::Stopped);
        a.stepOut->setEnabled(s == S::Stopped);
    };
    enable(c->state());
    // The source edited while the program runs is not the program: said once a session.
    auto warnedOfEdits = std::make_shared<bool>(false);
    QObject::connect(c, &DebugController::stateChanged, &w, [&w, enable, warnedOfEdits](DebugController::State s) {
        enable(s);
        if (s == DebugController::State::Building) {
            *warnedOfEdits = false;
            w.statusBar()->showMessage(QObject::tr("Debug: building..."));
        } else if (s == DebugController::State::Running) {
            w.statusBar()->showMessage(QObject::tr("Debug: running (F6 pauses, Ctrl+F2 stops)"));
        }
    });
    QObject::connect(w.Source->document(), &QTextDocument::contentsChanged, &w, [&w, c, warnedOfEdits] {
        if (c->state() == DebugController::State::Idle || *warnedOfEdits)
            return;
        *warnedOfEdits = true;
        w.statusBar()->showMessage(QObject::tr("The program under the debugger is the text as it was built: stop "
                                               "(Ctrl+F2) and start again (Shift+F9) to debug the edits"));
    });

    const auto start = [&w, c, pane, board, dock, marks, share](bool atMain) {
        if (c->state() != DebugController::State::Idle)
            return;
        BuildOptions b;
        LineList lines;
        if (QString error; !WindowProgram(w, share, b, lines, error)) {
            pane->showStatus(QObject::tr("Cannot debug: ") + error, true);
            return;
        }
        w.ErrorMemo->clearMessages(); // the build's problems take their place
        pane->reset();
        pane->showStatus(QObject::tr("Building..."));
        w.Panes->setCurrentWidget(pane);
        // The board comes with the first session; closed, it stays closed.
        if (!dock->property("offered").toBool()) {
            dock->setProperty("offered", true);
            dock->show();
        }
        RunOptions r;
        r.board = board->link();
        c->start(std::move(b), std::move(lines), std::move(r), marks->lines(), atMain);
    };
    QObject::connect(a.start, &QAction::triggered, c, [start] { start(false); });
    QObject::connect(a.resume, &QAction::triggered, c, &DebugController::resume);
    QObject::connect(a.pause, &QAction::triggered, c, &DebugController::pause);
    QObject::connect(a.stop, &QAction::triggered, c, &DebugController::stop);
    QObject::connect(a.stepOut, &QAction::triggered, c, &DebugController::stepOut);
    // From no session, a step starts one stopped at main's first word.
    const auto step = [c, start](auto command) {
        return [c, start, command] {
            if (c->state() == DebugController::State::Idle)
                start(true);
            else
                command();
        };
    };
    QObject::connect(a.stepOver, &QAction::triggered, c, step([c] { c->stepOver(false); }));
    QObject::connect(a.stepLine, &QAction::triggered, c, step([c] { c->stepOver(true); }));
    QObject::connect(a.stepIn, &QAction::triggered, c, step([c] { c->stepIn(); }));

    QObject::connect(a.toggleBreakpoint, &QAction::triggered, marks,
                     [&w, marks] { marks->toggle(w.Source->textCursor().blockNumber() + 1); });
    QObject::connect(a.clearBreakpoints, &QAction::triggered, marks, &EditorBreakpoints::clear);
    QObject::connect(w.Source, &SourceEditor::gutterClicked, marks, &EditorBreakpoints::toggle);
    QObject::connect(marks, &EditorBreakpoints::changed, c, [c, marks] { c->setBreakpoints(marks->lines()); });
    // Another file in the editor (its name comes to the title as its text
    // replaces the old) brings no breakpoints of its own.
    QObject::connect(&w, &QWidget::windowTitleChanged, marks, [marks] {
        if (marks->justReplaced())
            marks->clear();
    });

    QObject::connect(c, &DebugController::built, &w, [&w, c] {
        for (const QString& line : DiagnosticLines(c->build()))
            w.AppendDiagnostic(line);
    });
    QObject::connect(c, &DebugController::failed, &w, [&w, pane](const QString& why) {
        pane->showStatus(QObject::tr("Cannot debug: ") + why, true);
        w.statusBar()->showMessage(QObject::tr("Debug: ") + why);
    });
    QObject::connect(c, &DebugController::placed, &w, [&w, marks](const std::vector<Breakpoint>& placed) {
        marks->place(placed);
        QStringList notes;
        for (const Breakpoint& b : placed)
            if (!b.message.empty())
                notes << QString::fromLatin1(b.message.c_str());
        if (!notes.isEmpty())
            w.statusBar()->showMessage(notes.join(QStringLiteral("; ")));
    });
    QObject::connect(c, &DebugController::stopped, &w, [&w, c, pane, marks](const DebugStop& s) {
        const bool fault = s.kind == StopKind::Exception;
        pane->showStop(s);
        marks->setCurrent(int(s.line), fault);
        if (s.line > 0)
            Reveal(*w.Source, int(s.line));
        w.statusBar()->showMessage(QObject::tr("Debug: ") + StopText(s));
        if (fault && s.line > 0)
            // In the messages, where F4 finds it and the gutter marks its line.
            w.AppendDiagnostic(QStringLiteral("%1:%2: error: %3")
                                   .arg(QFile::decodeName(QByteArray::fromStdString(c->sourceFile())))
                                   .arg(s.line)
                                   .arg(QString::fromLatin1(s.text.c_str())));
    });
    QObject::connect(c, &DebugController::ended, &w,
                     [&w, pane, marks](int, const QString& why, const DebugStop& last) {
                         marks->setCurrent(0, false);
                         const QString text = QObject::tr("Ended: ") + why;
                         pane->showEnd(text, last);
                         w.statusBar()->showMessage(QObject::tr("Debug: ") + text);
                     });
    QObject::connect(pane, &DebugPane::gotoLine, &w, [&w](int line) {
        w.Source->goToLine(line);
        w.Source->setFocus();
    });
    return d;
}

} // namespace mirtolan
