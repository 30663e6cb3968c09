// SPDX-License-Identifier: MIT
#include "app/CommandLine.h"
#include "app/SignalExit.h"
#include "session/ExitSignals.h"
#include "app/Logo.h"
#include "app/frmMain.h"
#include "sim/SimulatedLine.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OrnaSerTest"));
    QApplication::setApplicationVersion(QStringLiteral(ORNA_VERSION));
    if (const std::optional<int> end = answerCommandLine(QApplication::arguments()))
        return *end;
    QApplication::setDesktopFileName(QStringLiteral("ornasertest"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("ornasertest"), QIcon(vekLogo(64))));
    frmMain w;
    SimulatedLine simulator(w.portMap());
    installSimulatorMenu(w, simulator.host());
    ExitSignals exitSignals;
    exitOnSignals(exitSignals, w);
    w.show();
    return exitSignals.exitStatus(app.exec());
}
