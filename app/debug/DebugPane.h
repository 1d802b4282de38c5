// The Debug pane: where the program stands and why, the data and loop
// stacks, the variables and the I/O registers it wrote (values changed
// since the last stop marked), and the call chain, whose words lead to
// their lines.
#pragma once

#include <QWidget>

#include <map>
#include <string>

#include "DebugController.h"

class QLabel;
class QListWidget;
class QTableWidget;

namespace mirtolan {

class DebugPane : public QWidget {
    Q_OBJECT
public:
    explicit DebugPane(QWidget* parent = nullptr);

    // A new session: no values to compare with yet.
    void reset();
    void showStatus(const QString& text, bool fault = false);
    // Shows a stop: its reason, where, and the values, marking those that
    // changed since the stop before.
    void showStop(const DebugStop& stop);
    // The values the program left at its end (none when it could not be looked at).
    void showEnd(const QString& text, const DebugStop& last);

    // The parts, for tests.
    QLabel* status() const { return status_; }
    QTableWidget* stack() const { return stack_; }
    QTableWidget* variables() const { return variables_; }
    QListWidget* chain() const { return chain_; }
    // Whether the variable (or register) of that name is marked changed.
    bool markedChanged(const QString& name) const;

signals:
    void gotoLine(int line); // a word of the call chain was chosen

protected:
    // Enter on a word of the chain goes where a double-click goes.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showValues(const DebugStop& stop);

    QLabel* status_;          // why the program stands here, or what it does
    QTableWidget* stack_;     // the data stack, bottom first, then the loop stack
    QTableWidget* variables_; // the variables, then the registers written
    QListWidget* chain_;      // the call chain, innermost first
    std::map<std::string, std::string> previous_; // each value at the last stop, by name
};

// Why a program stopped, as the pane and the status bar say it.
QString StopText(const DebugStop& stop);

} // namespace mirtolan
