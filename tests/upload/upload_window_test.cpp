// The Upload settings dialog, its keys in the settings file, and the
// controller that builds and uploads in the background.
#include <QComboBox>
#include <QSignalSpy>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <pty.h>
#include <unistd.h>

#include "UnoPrograms.h"
#include "UploadController.h"
#include "UploadDialog.h"
#include "UploadActions.h"
#include "SerialMonitor.h"

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>

#include "Main.h"
#include "MessagePane.h"
#include "SimulatedUno.h"
#include "UploadTool.h"

using namespace mirtolan;

class UploadWindowTest : public QObject {
    Q_OBJECT
private slots:
    void portsRefreshedWhenOpened();
    void settingsThroughTheDialog();
    void settingsFileKeys();
    void controllerReportsAvrdudeMissing();
    void controllerStops();
    void controllerBuildFailureUploadsNothing();
    void windowActionsRunAndStop();
    void windowUploadsToTheSimulatedUno();
};

namespace {

QStringList Items(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

} // namespace

void UploadWindowTest::portsRefreshedWhenOpened()
{
    const uploadtest::TempDir tmp;
    const std::string& dir = tmp.path();
    std::ofstream(dir + "/ttyACM0");
    UploadDialog d(nullptr, QString::fromStdString(dir));
    d.show();
    QCOMPARE(Items(d.portBox()).mid(1), QStringList{QString::fromStdString(dir + "/ttyACM0")});
    d.hide();
    std::ofstream(dir + "/ttyUSB1");
    std::filesystem::remove(dir + "/ttyACM0");
    d.show();
    QCOMPARE(Items(d.portBox()).mid(1), QStringList{QString::fromStdString(dir + "/ttyUSB1")});
}

void UploadWindowTest::settingsThroughTheDialog()
{
    struct Case {
        UploadSettings in;     // given to the dialog
        UploadSettings out;    // read back from it
    };
    const Case cases[] = {
        {{"arduino", "", 0, 9600}, {"arduino", "", 0, 9600}},
        {{"arduino", "/dev/ttyUSB3", 57600, 115200}, {"arduino", "/dev/ttyUSB3", 57600, 115200}},
        {{"stk500v2", "/dev/ttyACM1", 0, 9600}, {"stk500v2", "/dev/ttyACM1", 0, 9600}},
        // A USB programmer is found without a port.
        {{"usbasp", "/dev/ttyACM0", 0, 9600}, {"usbasp", "", 0, 9600}},
        // Any avrdude id and speed may be typed.
        {{"dragon_isp", "/dev/ttyS4", 250000, 9600}, {"dragon_isp", "/dev/ttyS4", 250000, 9600}},
    };
    UploadDialog d(nullptr, QStringLiteral("/nonexistent"));
    for (const Case& c : cases) {
        d.setSettings(c.in);
        const UploadSettings s = d.settings();
        QCOMPARE(s.programmer, c.out.programmer);
        QCOMPARE(s.port, c.out.port);
        QCOMPARE(s.baud, c.out.baud);
        QCOMPARE(s.monitorBaud, c.out.monitorBaud);
        const Programmer* p = FindProgrammer(c.in.programmer);
        QCOMPARE(d.portBox()->isEnabled(), !p || p->serialPort);
    }
}

void UploadWindowTest::settingsFileKeys()
{
    IniFile ini;
    ini.SetLines({"[Editor]", "Font=Mono", "[Upload]", "Baud=-5", "MonitorBaud=fast", "Programmer="});
    const UploadSettings damaged = ReadUploadSettings(ini);
    QCOMPARE(damaged.programmer, std::string("arduino"));
    QCOMPARE(damaged.baud, 0u);
    QCOMPARE(damaged.monitorBaud, 9600u);

    WriteUploadSettings(ini, {"usbasp", "/dev/ttyUSB0", 19200, 115200});
    const UploadSettings back = ReadUploadSettings(ini);
    QCOMPARE(back.programmer, std::string("usbasp"));
    QCOMPARE(back.port, std::string("/dev/ttyUSB0"));
    QCOMPARE(back.baud, 19200u);
    QCOMPARE(back.monitorBaud, 115200u);
    QCOMPARE(ini.ReadString("Editor", "Font", ""), std::string("Mono"));
}

void UploadWindowTest::controllerReportsAvrdudeMissing()
{
    UploadController c;
    QSignalSpy finished(&c, &UploadController::finished);
    QSignalSpy busy(&c, &UploadController::portBusy);
    QSignalSpy free(&c, &UploadController::portFree);
    QSignalSpy messages(&c, &UploadController::message);
    UploadRequest r;
    const uploadtest::TempDir tmp;
    r.hexFile = uploadtest::TinyHex(tmp.path());
    r.settings.port = "/dev/ttyACM7";
    r.avrdude = "/nonexistent/avrdude";
    QVERIFY(c.start(r));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(finished.at(0).at(1).toString().contains(QLatin1String("apt install avrdude")));
    QCOMPARE(c.lastResult().outcome, UploadOutcome::AvrdudeMissing);
    QCOMPARE(busy.size(), 1);
    QCOMPARE(free.size(), 1);
    QCOMPARE(free.at(0).at(0).toString(), QStringLiteral("/dev/ttyACM7"));
    QVERIFY(!messages.isEmpty());
    QVERIFY(!c.busy());
}

void UploadWindowTest::controllerStops()
{
    int master = -1, slave = -1;
    char name[64];
    QCOMPARE(openpty(&master, &slave, name, nullptr, nullptr), 0);
    UploadController c;
    QSignalSpy finished(&c, &UploadController::finished);
    UploadRequest r;
    const uploadtest::TempDir tmp;
    r.hexFile = uploadtest::TinyHex(tmp.path());
    r.settings.port = name;
    QVERIFY(c.start(r));
    QVERIFY(!c.start(r)); // one at a time
    QTest::qWait(300);
    QElapsedTimer t;
    t.start();
    c.stop();
    QVERIFY(finished.wait(5000));
    QVERIFY(t.elapsed() < 3000);
    QCOMPARE(c.lastResult().outcome, UploadOutcome::Stopped);
    close(master);
    close(slave);
}

void UploadWindowTest::controllerBuildFailureUploadsNothing()
{
    const uploadtest::TempDir tmp;
    const std::string& dir = tmp.path();
    std::ofstream(dir + "/bad.4th") << ": main frobnicate ;\n";
    UploadController c;
    QSignalSpy finished(&c, &UploadController::finished);
    QSignalSpy progress(&c, &UploadController::progressChanged);
    UploadRequest r;
    r.build.sourceFile = dir + "/bad.4th";
    r.settings.port = "/dev/ttyACM7";
    QVERIFY(c.start(r));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(finished.at(0).at(1).toString().contains(QLatin1String("nothing to upload")));
    QVERIFY(progress.isEmpty());
}

void UploadWindowTest::windowActionsRunAndStop()
{
    int master = -1, slave = -1;
    char name[64];
    QCOMPARE(openpty(&master, &slave, name, nullptr, nullptr), 0);
    QMainWindow w;
    bool nothing = true;
    const uploadtest::TempDir tmp;
    const std::string hex = uploadtest::TinyHex(tmp.path());
    UploadActions a(&w, [&]() -> std::optional<UploadRequest> {
        if (nothing)
            return std::nullopt;
        UploadRequest r;
        r.hexFile = hex;
        return r;
    });
    QCOMPARE(a.uploadAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+U")));
    UploadSettings s;
    s.port = name;
    s.monitorBaud = 115200;
    a.setSettings(s);
    QCOMPARE(a.monitor()->port(), QString::fromLatin1(name));
    QVERIFY(a.monitor()->open());
    QSignalSpy messages(&a, &UploadActions::message);
    QSignalSpy finished(&a, &UploadActions::uploadFinished);

    a.uploadAction()->trigger(); // nothing to upload: nothing starts
    QVERIFY(!a.controller()->busy());
    QVERIFY(a.progressWidget()->isHidden());

    nothing = false;
    a.uploadAction()->trigger();
    QVERIFY(a.controller()->busy());
    QVERIFY(!a.progressWidget()->isHidden());
    QVERIFY(!a.uploadAction()->isEnabled());
    QVERIFY(a.stopAction()->isEnabled());
    QVERIFY(a.monitor()->isPaused()); // it let go of the board's port
    QTest::qWait(300);
    a.stopAction()->trigger();
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(a.progressWidget()->isHidden());
    QVERIFY(a.uploadAction()->isEnabled());
    QVERIFY(!a.stopAction()->isEnabled());
    QVERIFY(a.monitor()->isOpen()); // and has it again
    bool said = false;
    for (const auto& m : messages)
        said = said || m.at(0).toString().contains(QLatin1String("stopped"));
    QVERIFY(said);
    a.monitor()->close();
    close(master);
    close(slave);
}

void UploadWindowTest::windowUploadsToTheSimulatedUno()
{
    const uploadtest::TempDir tmp;
    const std::string& dir = tmp.path();
    const QString qdir = QString::fromStdString(dir);
    FormEnvironment env;
    env.message = [](QWidget*, FormEnvironment::Box, const QString&, QMessageBox::StandardButtons) {
        return QMessageBox::Ok;
    };
    env.exeDir = qdir; // the settings file goes here
    env.exeName = QStringLiteral("mirtolan");
    env.xdgConfigHome = qdir + "/xdg";
    env.home = qdir + "/home";
    TForm1 form(env);
    auto* tool = new UploadTool(form);

    QAction* upload = nullptr;
    for (QAction* m : form.menuBar()->actions())
        if (m->menu() && m->text().remove('&') == QLatin1String("Board"))
            for (QAction* a : m->menu()->actions())
                if (a->shortcut() == QKeySequence(QStringLiteral("Ctrl+U")))
                    upload = a;
    QVERIFY(upload);
    QVERIFY(form.Panes->indexOf(tool->actions()->monitor()) >= 0);
    tool->monitorAction()->trigger();
    QCOMPARE(form.Panes->currentWidget(), tool->actions()->monitor());

    // The settings are kept in the window's settings file.
    UploadSettings s;
    s.port = dir + "/ttyACM0";
    emit tool->actions()->settingsChanged(s);
    IniFile ini;
    ini.Load(form.SettingsPath());
    QCOMPARE(ReadUploadSettings(ini).port, s.port);
    tool->actions()->setSettings(s);

    QSignalSpy finished(tool->actions(), &UploadActions::uploadFinished);
    upload->trigger(); // nothing opened or typed: nothing to build
    QVERIFY(form.ErrorMemo->toPlainText().contains(QLatin1String("Nothing to upload yet")));
    QVERIFY(!tool->actions()->controller()->busy());

    const std::string source = dir + "/result.4th";
    std::ofstream(source) << uploadtest::ResultProgram;
    QVERIFY(form.OpenFile(QString::fromStdString(source)));
    form.ChooseDevice(*FindDevice("atmega328p")); // the Uno's chip, and its variable start
    upload->trigger();
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.takeFirst().at(0).toBool(), false);
    QVERIFY2(form.ErrorMemo->toPlainText().contains(QLatin1String("no serial port for the board")),
             qPrintable(form.ErrorMemo->toPlainText()));

    std::string error;
    auto uno = uploadtest::SimulatedUno::Start(dir + "/uno", error);
    QVERIFY2(uno, error.c_str());
    const std::vector<std::uint8_t> zero(uploadtest::ResultBytes.size(), 0);
    uno->writeData(uploadtest::ResultAddress, zero);
    s.port = uno->port();
    tool->actions()->setSettings(s);
    upload->trigger();
    QVERIFY(!tool->actions()->progressWidget()->isHidden());
    QVERIFY(finished.wait(30000));
    QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(form.ErrorMemo->toPlainText()));
    QVERIFY(form.statusBar()->currentMessage().contains(QLatin1String("verified")));
    QTRY_VERIFY_WITH_TIMEOUT(uno->readData(uploadtest::ResultAddress, uploadtest::ResultBytes.size())
                                 == uploadtest::ResultBytes,
                             3000);
}

QTEST_MAIN(UploadWindowTest)
#include "upload_window_test.moc"
