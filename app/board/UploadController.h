// Builds a program and uploads it off the window's thread: the window calls
// start() and listens to the signals, which all arrive on its own thread.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <optional>
#include <thread>

#include "Build.h"
#include "Upload.h"
#include "UploadSettings.h"

namespace mirtolan {

struct UploadRequest {
    BuildOptions build;       // what to build (its sourceText is set from `source`)
    std::optional<LineList> source; // the editor's lines; none: build.sourceFile is read
    std::string hexFile;      // a .hex built already: upload it as it is, no build
    UploadSettings settings;  // programmer, port, baud
    std::string avrdude = "avrdude"; // the program run, looked up on PATH
};

class UploadController : public QObject {
    Q_OBJECT
public:
    explicit UploadController(QObject* parent = nullptr);
    ~UploadController() override; // stops a running upload and waits for it

    // Starts in the background; false when one is running already. Emits
    // portBusy before it returns, so a monitor on the port can let go of it.
    bool start(UploadRequest request);
    // Asks the build or avrdude to stop; finished follows.
    void stop();
    bool busy() const { return worker_.joinable(); }
    // How the last upload ended (valid after finished).
    const UploadResult& lastResult() const { return result_; }

signals:
    void stageChanged(const QString& stage);           // "Building", "Uploading to PORT"
    void progressChanged(int percent, const QString& phase); // the upload's share done, 0..100
    void message(const QString& line);                 // a build problem, an avrdude line, the outcome
    void portBusy(const QString& port);                // the upload is about to use the port
    void portFree(const QString& port);                // the port is free again
    void finished(bool ok, const QString& summary);    // uploaded and verified, or why not

private:
    void work(UploadRequest request);
    void done(bool ok, const QString& summary);

    std::thread worker_;              // the running build and upload
    std::atomic<bool> cancel_{false}; // set by stop()
    QString port_;                    // the port in use
    UploadResult result_;             // how the last upload ended
};

} // namespace mirtolan
