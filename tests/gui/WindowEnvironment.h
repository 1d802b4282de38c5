// The surroundings of a window in the tests that build and run real
// programs: its program folder under `root` (and so its settings file),
// its questions answered No, its file dialogs cancelled.
#pragma once

#include <QDir>

#include "Main.h"

inline mirtolan::FormEnvironment TestWindowEnvironment(const QString& root) {
    QDir(root).mkpath("bin");
    mirtolan::FormEnvironment env;
    env.message = [](QWidget*, mirtolan::FormEnvironment::Box, const QString&, QMessageBox::StandardButtons) {
        return QMessageBox::No;
    };
    env.openFileName = env.saveFileName = [](QWidget*, const QString&, const QString&) { return QString(); };
    env.exeDir = root + "/bin";
    env.exeName = "mirtolan";
    env.xdgConfigHome = root + "/xdg";
    env.home = root + "/home";
    return env;
}
