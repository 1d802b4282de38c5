// The window's build runs on a worker thread: the event loop keeps turning
// while it works, a stop ends it, and the result arrives on the window's thread.
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "BuildController.h"
#include "TempDir.h"
#include "TextFile.h"

using namespace mirtolan;

namespace {

BuildOptions options(const std::string& dir)
{
    BuildOptions o;
    o.sourceFile = dir + "/prog.4th";
    o.device = FindDevice("atmega328p");
    o.archive = MIRTOLAN_SHARE_DIR "/Mirtolan.arch";
    o.runtimeDirs = {MIRTOLAN_SHARE_DIR};
    return o;
}

} // namespace

class BuildControllerTest : public QObject {
    Q_OBJECT
private slots:
    void buildsOffTheWindowThread()
    {
        const mirtolan::test::TempDir tmp;
        const std::string& dir = tmp.path();
        BuildController controller;
        QSignalSpy stages(&controller, &BuildController::stage);
        QSignalSpy done(&controller, &BuildController::finished);
        // The editor's text is built, not the file on disk.
        std::ofstream(dir + "/prog.4th") << ": main frob ;\n";
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(1);
        QVERIFY(controller.start(options(dir), SplitLineList(": main 1 DROP ;\n")));
        QVERIFY(!controller.start(options(dir), LineList{}));
        QVERIFY(done.wait(20000));
        QVERIFY(ticks > 0);
        QVERIFY(!controller.running());
        const auto result = done.takeFirst().at(0).value<BuildResult>();
        QCOMPARE(int(result.status), int(BuildResult::Built));
        QVERIFY(std::filesystem::exists(dir + "/prog.hex"));
        QVERIFY(stages.size() >= 2);
        QCOMPARE(stages.first().at(0).toString(), QString("Compiling"));
    }

    void problemsComeAsDiagnosticLines()
    {
        const mirtolan::test::TempDir tmp;
        const std::string& dir = tmp.path();
        BuildController controller;
        QSignalSpy done(&controller, &BuildController::finished);
        QVERIFY(controller.start(options(dir), SplitLineList(": main\n  frob ;\n")));
        QVERIFY(done.wait(20000));
        const auto result = done.takeFirst().at(0).value<BuildResult>();
        QCOMPARE(int(result.status), int(BuildResult::Problems));
        const QStringList lines = DiagnosticLines(result);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(QString::fromStdString(dir) + "/prog.4th:2: error: 'frob' is not defined"),
                 qPrintable(lines[0]));
    }

    void aStoppedBuildStillFinishes()
    {
        const mirtolan::test::TempDir tmp;
        const std::string& dir = tmp.path();
        BuildController controller;
        QSignalSpy done(&controller, &BuildController::finished);
        QVERIFY(controller.start(options(dir), SplitLineList(": main ;\n")));
        controller.stop();
        QVERIFY(done.wait(20000));
        const auto result = done.takeFirst().at(0).value<BuildResult>();
        // Stopped before the assembler, or too late to stop: never half a result.
        QVERIFY(result.status == BuildResult::Built ||
                (result.status == BuildResult::Abandoned && result.error == "stopped"));
    }

    void destroyingARunningControllerWaitsForIt()
    {
        const mirtolan::test::TempDir tmp;
        const std::string& dir = tmp.path();
        auto controller = std::make_unique<BuildController>();
        QVERIFY(controller->start(options(dir), SplitLineList(": main ;\n")));
        controller.reset();
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(BuildControllerTest)
#include "build_controller_test.moc"
