// Everything the window needs for Upload and the serial monitor, ready to
// place: the actions (Upload Ctrl+U, Stop, Upload settings), a progress bar
// with its Stop button for the status bar, and the monitor as a pane. The
// window adds them to its menus, tool bar and panes, gives a function that
// says what to build, shows the messages and keeps the settings.
#pragma once

#include <QObject>
#include <functional>
#include <optional>

#include "UploadController.h"
#include "UploadSettings.h"

class QAction;
class QMainWindow;
class QProgressBar;
class QToolButton;
class QWidget;

namespace mirtolan {

class SerialMonitor;

class UploadActions : public QObject {
    Q_OBJECT
public:
    // What Upload builds: the window's source, file name and options (the
    // settings' programmer, port and baud are filled in here); nothing when
    // there is nothing to upload (the window then says why itself).
    using RequestSource = std::function<std::optional<UploadRequest>()>;

    UploadActions(QMainWindow* window, RequestSource request);

    QAction* uploadAction() const { return upload_; }     // Ctrl+U, for the menu and the tool bar
    QAction* stopAction() const { return stop_; }         // stops the build or avrdude
    QAction* settingsAction() const { return settings_; } // the Upload settings dialog
    QWidget* progressWidget() const { return progress_; } // for the status bar; shown while uploading
    SerialMonitor* monitor() const { return serial_; }    // the pane; the window owns it once placed
    UploadController* controller() const { return controller_; }

    UploadSettings settings() const { return current_; }
    void setSettings(const UploadSettings& s);

    void startUpload();      // what Ctrl+U does
    void editSettings();     // opens the dialog; emits settingsChanged on OK

signals:
    void message(const QString& line);                     // for the window's message pane
    void settingsChanged(const mirtolan::UploadSettings& s); // for the window to remember
    void uploadFinished(bool ok);

private:
    QMainWindow* window_;            // the window the pieces belong to
    RequestSource request_;          // asked at each Upload
    UploadSettings current_;         // programmer, port, speeds
    UploadController* controller_;   // runs the build and avrdude
    SerialMonitor* serial_;          // the monitor pane
    QAction* upload_;                // Upload, Ctrl+U
    QAction* stop_;                  // Stop
    QAction* settings_;              // Upload settings...
    QWidget* progress_;              // bar_ and the Stop button
    QProgressBar* bar_;              // avrdude's progress
};

} // namespace mirtolan
