// Upload and the serial monitor in the window: the Board menu (Upload
// Ctrl+U, Stop, Upload settings, Serial monitor Ctrl+Shift+M), the Upload
// button on the tool bar, the progress in the status bar, the monitor among
// the panes, the outcome in the message pane, and the settings in the
// window's settings file. Installed on a window by constructing it.
#pragma once

#include <QObject>
#include <optional>

#include "UploadActions.h"

class QAction;

namespace mirtolan {

class TForm1;

class UploadTool : public QObject {
    Q_OBJECT
public:
    explicit UploadTool(TForm1& window); // the window owns it
    UploadActions* actions() const { return actions_; }
    QAction* monitorAction() const { return monitor_; } // shows the monitor pane

private:
    // What Upload builds: the editor's text, saved under the file's name.
    std::optional<UploadRequest> request();
    void saveSettings(const UploadSettings& s);

    TForm1& window_;         // the window it serves
    UploadActions* actions_; // the actions, the controller and the monitor
    QAction* monitor_;       // Serial monitor, Ctrl+Shift+M
};

} // namespace mirtolan
