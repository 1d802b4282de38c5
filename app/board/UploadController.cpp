#include "UploadController.h"

#include <QMetaObject>

namespace mirtolan {
namespace {

QString Qs(const std::string& s) { return QString::fromLocal8Bit(s.c_str()); }

} // namespace

UploadController::UploadController(QObject* parent) : QObject(parent) {}

UploadController::~UploadController()
{
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
}

bool UploadController::start(UploadRequest request)
{
    if (busy())
        return false;
    cancel_ = false;
    result_ = UploadResult{};
    // The port is settled here, on the window's thread, so that a monitor
    // holding it closes it before avrdude tries to open it.
    const Programmer* p = FindProgrammer(request.settings.programmer);
    if (request.settings.port.empty() && (!p || p->serialPort)) {
        const auto ports = BoardPorts();
        if (!ports.empty()) {
            request.settings.port = ports.front();
            emit message(tr("Using %1, the first board port found").arg(Qs(ports.front())));
        }
    }
    port_ = Qs(request.settings.port);
    if (!port_.isEmpty())
        emit portBusy(port_);
    worker_ = std::thread([this, r = std::move(request)]() mutable { work(std::move(r)); });
    return true;
}

void UploadController::stop() { cancel_ = true; }

void UploadController::work(UploadRequest request)
{
    auto post = [this](bool ok, QString summary) {
        QMetaObject::invokeMethod(this, [this, ok, summary] { done(ok, summary); }, Qt::QueuedConnection);
    };
    std::string hex = request.hexFile;
    const Device* device = request.build.device;
    if (hex.empty()) {
        emit stageChanged(tr("Building"));
        BuildOptions build = request.build;
        build.sourceText = request.source ? &*request.source : nullptr;
        build.cancel = &cancel_;
        build.progress = [this](const std::string& stage) { emit stageChanged(Qs(stage)); };
        const BuildResult b = BuildHex(build);
        for (const Diagnostic& d : b.diagnostics)
            emit message(Qs(d.format()));
        if (b.status != BuildResult::Built) {
            if (!b.error.empty())
                emit message(Qs(b.error));
            post(false, cancel_ ? tr("Stopped") : tr("Build failed: nothing to upload"));
            return;
        }
        hex = b.hexFile;
        device = b.device;
    }

    UploadOptions o;
    o.hexFile = hex;
    o.device = device;
    o.programmer = request.settings.programmer;
    o.port = request.settings.port;
    o.baud = request.settings.baud;
    o.avrdude = request.avrdude;
    o.cancel = &cancel_;
    o.progress = [this](const UploadProgress& p) { emit progressChanged(p.percent, Qs(p.phase)); };
    o.output = [this](const std::string& line) {
        if (!line.empty())
            emit message(Qs(line));
    };
    emit stageChanged(o.port.empty() ? tr("Uploading") : tr("Uploading to %1").arg(Qs(o.port)));
    UploadResult r = Upload(o);
    QString summary = Qs(r.explain());
    summary[0] = summary[0].toUpper();
    const bool ok = r.ok();
    QMetaObject::invokeMethod(
        this, [this, r = std::move(r)]() mutable { result_ = std::move(r); }, Qt::QueuedConnection);
    post(ok, summary);
}

void UploadController::done(bool ok, const QString& summary)
{
    if (worker_.joinable())
        worker_.join();
    for (const QString& line : summary.split(QLatin1Char('\n')))
        emit message(line);
    if (!port_.isEmpty())
        emit portFree(port_);
    emit finished(ok, summary);
}

} // namespace mirtolan
