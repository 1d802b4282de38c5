#include "BuildController.h"

#include <QMetaObject>
#include <QPointer>

namespace mirtolan {

BuildController::BuildController(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<mirtolan::BuildResult>();
}

BuildController::~BuildController()
{
    alive_->store(false);
    cancel_ = true;
    join();
}

void BuildController::join()
{
    if (worker_.joinable())
        worker_.join();
}

bool BuildController::start(BuildOptions options, LineList source)
{
    if (running_)
        return false;
    join();
    running_ = true;
    cancel_ = false;
    QPointer<BuildController> self(this);
    auto alive = alive_;
    worker_ = std::thread([this, self, alive, options = std::move(options), source = std::move(source)]() mutable {
        options.sourceText = &source;
        options.cancel = &cancel_;
        options.progress = [self, alive](const std::string& name) {
            if (!alive->load())
                return;
            const QString text = QString::fromStdString(name);
            QMetaObject::invokeMethod(
                self.data(), [self, text] { if (self) emit self->stage(text); }, Qt::QueuedConnection);
        };
        BuildResult result = BuildHex(options);
        if (!alive->load())
            return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, result = std::move(result)] {
                if (!self)
                    return;
                self->running_ = false;
                emit self->finished(result);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void BuildController::stop() { cancel_ = true; }

QStringList DiagnosticLines(const BuildResult& result)
{
    QStringList lines;
    for (const auto& d : result.diagnostics)
        lines << QString::fromLocal8Bit(d.format());
    return lines;
}

} // namespace mirtolan
