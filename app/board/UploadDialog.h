// The Upload settings dialog: the programmer, the board's port (chosen from
// the ports present, looked up afresh each time the dialog opens) and the
// upload speed.
#pragma once

#include <QDialog>
#include <QString>

#include "UploadSettings.h"

class QComboBox;
class QLabel;

namespace mirtolan {

class UploadDialog : public QDialog {
    Q_OBJECT
public:
    // `devDir` is where the ports are looked for (the tests give a folder
    // of their own).
    explicit UploadDialog(QWidget* parent = nullptr, const QString& devDir = QStringLiteral("/dev"));

    void setSettings(const UploadSettings& s);
    // What the dialog shows now; the monitor's speed passes through unchanged.
    UploadSettings settings() const;

    // Fills the port list from the ports present, keeping the choice.
    void refreshPorts();

    QComboBox* programmerBox() const { return programmer_; }
    QComboBox* portBox() const { return port_; }
    QComboBox* baudBox() const { return baud_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void programmerChanged();

    QString devDir_;              // where ports are looked for
    QComboBox* programmer_;       // avrdude ids with their titles; editable for any other id
    QComboBox* port_;             // "first port found" and the ports present; editable
    QComboBox* baud_;             // "programmer's default" and the usual speeds; editable
    QLabel* portNote_;            // says when the programmer needs no port
    unsigned monitorBaud_ = 9600; // carried through for settings()
};

} // namespace mirtolan
