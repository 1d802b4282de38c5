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

namespace {

// What an untitled source is built as, in the temporary folder: the build
// writes its listing and .hex beside the source.
constexpr const char* UntitledName = "mirtolan-untitled.4th";

// The editor's lines as the file would hold them.
} // namespace

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
        BuildOptions b = w.WindowBuildOptions(share);
        if (b.sourceFile.empty())
            b.sourceFile = (QDir::tempPath() + "/" + UntitledName).toStdString();
        w.Panes->setCurrentWidget(pane);
        w.ErrorMemo->clearMessages(); // the build's problems take their place
        controller->buildAndRun(b, RunOptions{}, w.compileLines());
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
