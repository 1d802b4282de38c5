#include "UploadActions.h"

#include <QAction>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QProgressBar>
#include <QToolButton>

#include "SerialMonitor.h"
#include "UploadDialog.h"

namespace mirtolan {

UploadActions::UploadActions(QMainWindow* window, RequestSource request)
    : QObject(window), window_(window), request_(std::move(request)), controller_(new UploadController(this)),
      serial_(new SerialMonitor(window)),
      upload_(new QAction(tr("&Upload"), this)), stop_(new QAction(tr("&Stop upload"), this)),
      settings_(new QAction(tr("Upload se&ttings..."), this)), progress_(new QWidget(window)), bar_(new QProgressBar)
{
    upload_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    upload_->setToolTip(tr("Build and upload to the board (Ctrl+U)"));
    upload_->setIcon(QIcon::fromTheme(QStringLiteral("go-up")));
    stop_->setEnabled(false);
    stop_->setIcon(QIcon::fromTheme(QStringLiteral("process-stop")));

    serial_->hide(); // until the window places it among its panes
    bar_->setRange(0, 100);
    bar_->setTextVisible(true);
    auto* stopButton = new QToolButton;
    stopButton->setDefaultAction(stop_);
    auto* row = new QHBoxLayout(progress_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(bar_);
    row->addWidget(stopButton);
    progress_->hide();

    connect(upload_, &QAction::triggered, this, &UploadActions::startUpload);
    connect(stop_, &QAction::triggered, controller_, &UploadController::stop);
    connect(settings_, &QAction::triggered, this, &UploadActions::editSettings);
    connect(controller_, &UploadController::message, this, &UploadActions::message);
    connect(controller_, &UploadController::stageChanged, this, [this](const QString& stage) {
        bar_->setFormat(stage + QStringLiteral(": %p%"));
    });
    connect(controller_, &UploadController::progressChanged, this, [this](int percent, const QString& phase) {
        bar_->setFormat(phase + QStringLiteral(": %p%"));
        bar_->setValue(percent);
    });
    connect(controller_, &UploadController::portBusy, this, [this](const QString& port) {
        if (serial_->isOpen() && serial_->port() == port)
            serial_->pause();
    });
    connect(controller_, &UploadController::portFree, serial_, &SerialMonitor::resume);
    connect(controller_, &UploadController::finished, this, [this](bool ok) {
        progress_->hide();
        upload_->setEnabled(true);
        stop_->setEnabled(false);
        emit uploadFinished(ok);
    });
    connect(serial_, &SerialMonitor::openChanged, this, [this](bool open) {
        if (open && serial_->baud() != current_.monitorBaud) {
            current_.monitorBaud = serial_->baud();
            emit settingsChanged(current_);
        }
    });
    setSettings(current_);
}

void UploadActions::setSettings(const UploadSettings& s)
{
    current_ = s;
    serial_->setBaud(s.monitorBaud);
    if (!s.port.empty() && !serial_->isOpen())
        serial_->setPort(QString::fromLocal8Bit(s.port.c_str()));
}

void UploadActions::startUpload()
{
    if (controller_->busy())
        return;
    std::optional<UploadRequest> r = request_ ? request_() : std::nullopt;
    if (!r)
        return;
    r->settings.programmer = current_.programmer;
    r->settings.port = current_.port;
    r->settings.baud = current_.baud;
    bar_->setValue(0);
    bar_->setFormat(tr("Starting"));
    progress_->show();
    upload_->setEnabled(false);
    stop_->setEnabled(true);
    if (!controller_->start(std::move(*r))) {
        progress_->hide();
        upload_->setEnabled(true);
        stop_->setEnabled(false);
    }
}

void UploadActions::editSettings()
{
    UploadDialog d(window_);
    d.setSettings(current_);
    if (d.exec() != QDialog::Accepted)
        return;
    setSettings(d.settings());
    emit settingsChanged(current_);
}

} // namespace mirtolan
