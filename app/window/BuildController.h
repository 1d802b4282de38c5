// Runs a build to .hex off the window's thread: the window hands over the
// options and its editor's text, stays responsive, shows the stages as they
// come and can stop the build; the result arrives on the window's thread.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

#include "Build.h"

namespace mirtolan {

class BuildController : public QObject {
    Q_OBJECT
public:
    explicit BuildController(QObject* parent = nullptr);
    ~BuildController() override; // stops a running build and waits for it

    // Starts a build of `source` (the editor's lines) with `options`; false
    // when one is already running. `options.sourceText` is set here.
    bool start(BuildOptions options, LineList source);
    // Asks the running build to stop; `finished` still follows.
    void stop();
    bool running() const { return running_; }

signals:
    void stage(const QString& name);
    void finished(const mirtolan::BuildResult& result);

private:
    void join();

    std::thread worker_;              // the running build, or none
    std::atomic<bool> cancel_{false}; // set to stop the build
    bool running_ = false;            // a build was started and has not finished
    // Shared with the worker, so a late result of a destroyed controller is dropped.
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

// Diagnostics as the message pane lists them: "FILE:LINE: error: TEXT".
QStringList DiagnosticLines(const BuildResult& result);

} // namespace mirtolan

Q_DECLARE_METATYPE(mirtolan::BuildResult)
