#include "RunWindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QToolBar>

#include "BuildController.h"
#include "FileEncoding.h"
#include "Main.h"
#include "MessagePane.h"
#include "RunPane.h"
#include "SourceEditor.h"

namespace mirtolan {

bool WindowProgram(TForm1& w, const QString& shareDir, BuildOptions& build, LineList& lines, QString& error)
{
    try {
        build = w.WindowBuildOptions(shareDir);
        lines = w.compileLines();
    } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
        return false;
    }
    return true;
}

RunInWindow InstallRun(TForm1& w, const QString& shareDir)
{
    const QString share = shareDir.isEmpty()
                              ? QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/mirtolan")
                              : shareDir;
    auto* pane = new RunPane;
    auto* controller = new RunController(&w);
    ConnectRunPane(*controller, *pane);
    w.AddPane(pane, QObject::tr("Run"));

    const RunActions actions = MakeRunActions(*controller, &w);
    QMenu* menu = w.Menu(QObject::tr("&Run"));
    menu->addAction(actions.run);
    menu->addAction(actions.stop);
    w.Panel1->addAction(actions.run);
    w.Panel1->addAction(actions.stop);

    QObject::connect(actions.run, &QAction::triggered, &w, [&w, controller, pane, share] {
        // An untitled source is built in the window's private scratch folder.
        BuildOptions b;
        LineList lines;
        QString error;
        if (!WindowProgram(w, share, b, lines, error)) {
            pane->showError(error);
            return;
        }
        w.Panes->setCurrentWidget(pane);
        w.ErrorMemo->clearMessages(); // the build's problems take their place
        controller->buildAndRun(b, RunOptions{}, std::move(lines));
    });
    QObject::connect(controller, &RunController::stage, &w,
                     [&w](const QString& stage) { w.statusBar()->showMessage(QObject::tr("Run: ") + stage); });
    QObject::connect(controller, &RunController::finished, &w, [&w, controller] {
        for (const QString& line : DiagnosticLines(controller->build()))
            w.AppendDiagnostic(line);
        w.statusBar()->showMessage(QObject::tr("Run: ") + StopReasonName(controller->report().stopped));
    });
    QObject::connect(pane, &RunPane::gotoLine, &w, [&w](int line) {
        w.Source->goToLine(line);
        w.Source->setFocus();
    });
    return RunInWindow{controller, pane};
}

} // namespace mirtolan
