#include "UploadTool.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>

#include "Main.h"
#include "MessagePane.h"
#include "SerialMonitor.h"
#include "Settings.h"
#include "SourceEditor.h"

namespace mirtolan {
namespace {

const QString BoardMenu = QStringLiteral("&Board");

// The shipped run-time beside the program, in the build tree as in an
// installed tree (bin/../share/mirtolan).
QString SharedDir() { return QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/mirtolan"); }

} // namespace

UploadTool::UploadTool(TForm1& window)
    : QObject(&window), window_(window), actions_(new UploadActions(&window, [this] { return request(); })),
      monitor_(new QAction(tr("Serial &monitor"), this))
{
    monitor_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M));
    QMenu* menu = window.Menu(BoardMenu);
    menu->addAction(actions_->uploadAction());
    menu->addAction(actions_->stopAction());
    menu->addSeparator();
    menu->addAction(actions_->settingsAction());
    menu->addAction(monitor_);
    window.Panel1->addAction(actions_->uploadAction());
    window.statusBar()->addPermanentWidget(actions_->progressWidget());
    window.AddPane(actions_->monitor(), tr("Serial monitor"));
    actions_->progressWidget()->hide();

    connect(monitor_, &QAction::triggered, this, [this] {
        window_.Panes->setCurrentWidget(actions_->monitor());
        actions_->monitor()->setFocus();
    });
    connect(actions_, &UploadActions::message, &window, &TForm1::AppendDiagnostic);
    connect(actions_, &UploadActions::settingsChanged, this, &UploadTool::saveSettings);
    connect(actions_, &UploadActions::uploadFinished, this, [this](bool ok) {
        window_.statusBar()->showMessage(ok ? tr("Uploaded and verified") : tr("Upload failed: see the messages"));
    });

    IniFile ini;
    try {
        ini.Load(window.SettingsPath());
    } catch (const std::exception&) {
        // An unreadable settings file: the window says so itself; start from the defaults.
    }
    actions_->setSettings(ReadUploadSettings(ini));
}

std::optional<UploadRequest> UploadTool::request()
{
    window_.ErrorMemo->clearMessages();
    if (window_.State().SourceFileName.empty() && window_.Source->document()->isEmpty()) {
        window_.AppendDiagnostic(tr("Nothing to upload yet: type a program, or open one (File > Open, File > Examples)."));
        return std::nullopt;
    }
    // Built as Build builds it: the device, variable start and call style
    // chosen in the window, the archive it read; an untitled source in the
    // window's private scratch folder. The editor's text as it stands, saved or not.
    UploadRequest r;
    try {
        r.build = window_.WindowBuildOptions(SharedDir());
        r.source = window_.compileLines();
    } catch (const std::exception& e) { // no scratch folder, or no memory for a copy of the text
        window_.AppendDiagnostic(QString::fromLocal8Bit(e.what()));
        return std::nullopt;
    }
    r.build.includeHeader = true; // a .hex needs the run-time
    const std::string& file = window_.State().SourceFileName;
    window_.AppendDiagnostic(tr("Building %1 for the %2 and uploading it")
                                 .arg(file.empty() ? tr("the untitled source")
                                                   : QFileInfo(QString::fromLocal8Bit(file.c_str())).fileName(),
                                      r.build.device ? QString::fromLatin1(r.build.device->title.data(),
                                                                           qsizetype(r.build.device->title.size()))
                                                     : QString()));
    return r;
}

void UploadTool::saveSettings(const UploadSettings& s)
{
    const std::string& path = window_.SettingsPath();
    if (path.empty())
        return;
    try {
        IniFile ini;
        ini.Load(path); // the window's keys and any others are written back as they were
        WriteUploadSettings(ini, s);
        ini.Save(path);
    } catch (const std::exception& e) {
        window_.AppendDiagnostic(tr("Cannot keep the upload settings: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

} // namespace mirtolan
