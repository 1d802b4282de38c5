// Program entry: one window; a file named on the command line is opened as
// if it had been chosen in the Open dialog.
#include <QApplication>
#include <QStringList>

#include "Main.h"
#ifdef MIRTOLAN_RUN
#include "RunWindow.h"
#endif
#ifdef MIRTOLAN_DEBUGGER
#include "DebugWindow.h"
#endif
#ifdef MIRTOLAN_HAVE_UPLOAD
#include "UploadTool.h"
#endif
#ifdef MIRTOLAN_TEST
#include "TestTool.h"
#endif

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mirtolan"));
    QApplication::setApplicationVersion(QStringLiteral(MIRTOLAN_VERSION));

    TForm1 Form1;
#ifdef MIRTOLAN_RUN
    const mirtolan::RunInWindow run = mirtolan::InstallRun(Form1);
#ifdef MIRTOLAN_DEBUGGER
    mirtolan::InstallDebugger(Form1, QString(), run.controller);
#endif
#endif
#ifdef MIRTOLAN_TEST
    new mirtolan::TestTool(Form1); // the window owns it
#endif
#ifdef MIRTOLAN_HAVE_UPLOAD
    new mirtolan::UploadTool(Form1); // the window owns it
#endif
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) Form1.OpenFile(args.at(1));
    Form1.show();
    return app.exec();
}
